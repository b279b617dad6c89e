#include "core/buffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <type_traits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tessary {
namespace {

#if defined(__linux__) && defined(MAP_ANONYMOUS)
// A private anonymous mapping of `bytes` (a multiple of kHugePageBytes) at a
// kHugePageBytes boundary, so that every 2 MiB of it can be one huge page:
// the kernel only backs aligned 2 MiB ranges that way. The mapping is asked
// one huge page longer and trimmed at both ends.
void* map_aligned(std::uint64_t bytes) noexcept {
  const std::uint64_t asked = bytes + kHugePageBytes;
  void* raw = mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  const std::uintptr_t aligned = (start + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
  const std::uint64_t head = aligned - start;
  const std::uint64_t tail = asked - head - bytes;
  if (head > 0) munmap(raw, head);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + bytes), tail);
  void* block = reinterpret_cast<void*>(aligned);
#if defined(MADV_HUGEPAGE)
  // Advice only: where huge pages are off or scarce the range keeps small pages.
  madvise(block, bytes, MADV_HUGEPAGE);
#endif
  return block;
}
#define TESSARY_HAS_HUGE_MAPPINGS 1

// Recently released mappings, kept for the next large buffers. A loop of
// calls on signals of one size then reuses the same huge pages instead of
// having the kernel clear new ones (and map and unmap them) on every call,
// as glibc's heap does for smaller blocks. Bounded in count and bytes; what
// does not fit is unmapped at once. Inside a MappingReuseScope the bound is
// kScopedCachedBytes and up to kScopedMappings mappings.
constexpr std::size_t kCachedMappings = 8;
constexpr std::uint64_t kCachedBytes = std::uint64_t{32} << 20;
constexpr std::size_t kScopedMappings = 32;

struct MappingCache {
  std::mutex lock;
  RawBlock blocks[kScopedMappings];
  std::uint64_t bytes = 0;
  std::uint64_t scopes = 0;
};

// Built before any code runs and never torn down (nothing to destroy), so
// buffers released during static destruction still find it.
constinit MappingCache g_mapping_cache;
static_assert(std::is_trivially_destructible_v<MappingCache>);

MappingCache& mapping_cache() { return g_mapping_cache; }

// The smallest kept mapping of at least `bytes`, or an empty block. A
// mapping more than twice as long (and more than kCachedBytes longer) is left
// for a larger buffer: a small one would keep all its pages alive.
RawBlock take_cached(std::uint64_t bytes) noexcept {
  MappingCache& cache = mapping_cache();
  const std::lock_guard<std::mutex> guard(cache.lock);
  RawBlock* best = nullptr;
  for (RawBlock& b : cache.blocks) {
    if (b.data != nullptr && b.mapped_bytes >= bytes &&
        b.mapped_bytes - bytes <= std::max(kCachedBytes, bytes) &&
        (best == nullptr || b.mapped_bytes < best->mapped_bytes)) {
      best = &b;
    }
  }
  if (best == nullptr) return RawBlock{};
  const RawBlock taken = *best;
  *best = RawBlock{};
  cache.bytes -= taken.mapped_bytes;
  return taken;
}

bool keep_cached(const RawBlock& block) noexcept {
  MappingCache& cache = mapping_cache();
  const std::lock_guard<std::mutex> guard(cache.lock);
  const bool scoped = cache.scopes > 0;
  if (cache.bytes + block.mapped_bytes > (scoped ? kScopedCachedBytes : kCachedBytes)) {
    return false;
  }
  std::size_t free_slots = 0;
  for (RawBlock& b : cache.blocks) free_slots += b.data == nullptr ? 1 : 0;
  // Outside a scope only kCachedMappings slots are used.
  if (!scoped && kScopedMappings - free_slots >= kCachedMappings) return false;
  for (RawBlock& b : cache.blocks) {
    if (b.data == nullptr) {
      b = block;
      b.zeroed = false;  // it has been written
      cache.bytes += block.mapped_bytes;
      return true;
    }
  }
  return false;
}

// Ends a scope. When it was the last, the kept mappings are cut back to
// kCachedMappings and kCachedBytes, the largest unmapped first (outside the
// lock).
void end_scope() noexcept {
  RawBlock dropped[kScopedMappings];
  std::size_t count = 0;
  {
    MappingCache& cache = mapping_cache();
    const std::lock_guard<std::mutex> guard(cache.lock);
    if (--cache.scopes > 0) return;
    while (true) {
      std::size_t kept = 0;
      RawBlock* largest = nullptr;
      for (RawBlock& b : cache.blocks) {
        if (b.data == nullptr) continue;
        ++kept;
        if (largest == nullptr || b.mapped_bytes > largest->mapped_bytes) largest = &b;
      }
      if (largest == nullptr || (kept <= kCachedMappings && cache.bytes <= kCachedBytes)) break;
      cache.bytes -= largest->mapped_bytes;
      dropped[count++] = *largest;
      *largest = RawBlock{};
    }
  }
  for (std::size_t i = 0; i < count; ++i) munmap(dropped[i].data, dropped[i].mapped_bytes);
}
#endif

}  // namespace

MappingReuseScope::MappingReuseScope() noexcept {
#if defined(TESSARY_HAS_HUGE_MAPPINGS)
  MappingCache& cache = mapping_cache();
  const std::lock_guard<std::mutex> guard(cache.lock);
  ++cache.scopes;
#endif
}

MappingReuseScope::~MappingReuseScope() {
#if defined(TESSARY_HAS_HUGE_MAPPINGS)
  end_scope();
#endif
}

std::uint64_t cached_mapping_bytes() noexcept {
#if defined(TESSARY_HAS_HUGE_MAPPINGS)
  MappingCache& cache = mapping_cache();
  const std::lock_guard<std::mutex> guard(cache.lock);
  return cache.bytes;
#else
  return 0;
#endif
}

RawBlock allocate_block(std::uint64_t bytes, bool zeroed) noexcept {
  RawBlock block;
  if (bytes == 0) bytes = 1;
#if defined(TESSARY_HAS_HUGE_MAPPINGS)
  // The sum below cannot wrap: no address space comes near 2^64 bytes.
  if (bytes >= kLargeBufferBytes && bytes <= (std::uint64_t{1} << 62)) {
    const std::uint64_t rounded = (bytes + kHugePageBytes - 1) & ~(kHugePageBytes - 1);
    if (RawBlock kept = take_cached(rounded); kept.data != nullptr) {
      // Only the bytes asked for are cleared; the block stays marked as
      // written, so its Buffer clears the rest before handing it out.
      if (zeroed) std::memset(kept.data, 0, static_cast<std::size_t>(bytes));
      return kept;
    }
    if (void* p = map_aligned(rounded)) {
      // Fresh anonymous pages read as zero.
      return RawBlock{p, rounded, rounded, true};
    }
    return block;
  }
#endif
  if (bytes > std::numeric_limits<std::size_t>::max()) return block;
  void* p = zeroed ? std::calloc(1, static_cast<std::size_t>(bytes))
                   : std::malloc(static_cast<std::size_t>(bytes));
  if (p == nullptr) return block;
  return RawBlock{p, bytes, 0, zeroed};
}

void release_block(const RawBlock& block) noexcept {
  if (block.data == nullptr) return;
#if defined(TESSARY_HAS_HUGE_MAPPINGS)
  if (block.mapped_bytes > 0) {
    if (!keep_cached(block)) munmap(block.data, block.mapped_bytes);
    return;
  }
#endif
  std::free(block.data);
}

}  // namespace tessary
