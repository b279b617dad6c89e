#include "coders/arans.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/buffer.h"
#include "core/memory.h"
#include "bytes.h"

namespace corvane::arans {
namespace {

constexpr std::array<std::string_view, 2> kMessages = {
    "Stream truncated",
    "Inconsistent or oversized length in stream",
};

// An allocation that failed: the coder ran out of memory.
AransError out_of_memory(const tessary::TessaryError& allocation) {
  return AransError::out_of_memory(allocation.first);
}

// A normalised state lies in [kStateLow, 2^32); renormalisation moves 16 bits.
constexpr std::uint32_t kStateLow = 1u << 16;
constexpr std::uint32_t kProbabilityMask = kProbabilityScale - 1;
// Coding (freq, start) into x gives about x / freq * 4096, which stays below
// 2^32 only for x < freq << 20; the encoder shifts a word out before that.
constexpr std::uint32_t kEncodeShift = 32 - kProbabilityBits;

// Reciprocals for division by a frequency d in [1, 4095]:
//   m(d) = floor(2^44 / d) + 1 = 2^44 / d + e, with 0 < e <= 1.
// For x < d * 2^20:
//   x * m / 2^44 = x / d + x * e / 2^44, and x * e / 2^44 < d / 2^24 < 1 / d
// because d^2 < 2^24. The fraction of x / d is at most (d - 1) / d, so adding
// less than 1 / d never reaches the next integer: (x * m) >> 44 = floor(x / d).
// The product fits 64 bits: x * m <= (d * 2^20 - 1) * (2^44 / d + 1)
// = 2^64 + d * 2^20 - 2^44 / d - 1 < 2^64, again because d^2 < 2^24.
constexpr unsigned kReciprocalShift = 44;
constexpr auto kReciprocals = [] {
  std::array<std::uint64_t, kProbabilityScale> r{};
  for (std::uint64_t d = 1; d < kProbabilityScale; ++d) {
    r[d] = (std::uint64_t{1} << kReciprocalShift) / d + 1;
  }
  return r;
}();

inline std::uint32_t quotient(std::uint32_t x, std::uint32_t frequency) {
  return static_cast<std::uint32_t>((std::uint64_t{x} * kReciprocals[frequency]) >>
                                    kReciprocalShift);
}

// The bits are data: a branch on one mispredicts about as often as the data
// is unpredictable, so the helpers below select with a mask (all ones for a 1
// bit, zero for a 0 bit) instead.
constexpr std::uint32_t mask_of(std::uint32_t bit) { return 0u - bit; }

// The frequency of the coded bit: p for a 0, 4096 - p for a 1; its start is
// 0 or p. (p + (4096 - 2p) = 4096 - p; modular arithmetic is fine.)
constexpr std::uint32_t frequency_of(std::uint32_t p, std::uint32_t mask) {
  return p + (mask & (kProbabilityScale - 2 * p));
}
constexpr std::uint32_t start_of(std::uint32_t p, std::uint32_t mask) { return p & mask; }

// The probability of a 0 after coding a bit with p:
//   after a 0: p + ((4096 - p) >> 4),  after a 1: p - (p >> 4).
// The rule clamps the result to [1, 4095], but for any p in [1, 4095] both
// results already lie there (checked below for every p), and every table
// entry starts at 2048, so the clamp never changes a value and is left out.
// (From 2048 the entries in fact stay within [15, 4081].)
constexpr std::uint32_t after_zero(std::uint32_t p) {
  return p + ((kProbabilityScale - p) >> kAdaptationShift);
}
constexpr std::uint32_t after_one(std::uint32_t p) { return p - (p >> kAdaptationShift); }
static_assert([] {
  for (std::uint32_t p = 1; p < kProbabilityScale; ++p) {
    if (after_zero(p) < 1 || after_zero(p) > 4095 || after_one(p) < 1 || after_one(p) > 4095) {
      return false;
    }
  }
  return true;
}());

// The probability after coding `bit` with p, for every (bit, p), indexed by
// p | bit << 12 (the encoder's decision entry): one load instead of two
// updates and a selection.
constexpr auto kAdapted = [] {
  std::array<std::uint16_t, 2 * kProbabilityScale> a{};
  for (std::uint32_t p = 0; p < kProbabilityScale; ++p) {
    a[p] = static_cast<std::uint16_t>(after_zero(p));
    a[kProbabilityScale + p] = static_cast<std::uint16_t>(after_one(p));
  }
  return a;
}();

// Shift from a previous byte to its context for the given context bits; with
// 0 bits the shift is 8 and every byte maps to context 0.
inline unsigned context_shift(std::uint8_t context_bits) { return 8u - context_bits; }

std::uint8_t context_bits_for(std::uint64_t input_bytes) {
  return input_bytes < kLargeInputBytes ? 3 : 8;
}

// First output size of the decoder. A stream's claimed byte count is not
// trusted for one big allocation: a dozen bytes may claim 2^28 pairs. The
// output starts at this size (or the claim, if smaller) and doubles as bytes
// are actually produced, so memory stays within twice what decoding reached
// before the plane ran out. The code length is no bound to start from: with
// skewed probabilities a plane yields many bytes per code byte.
constexpr std::uint64_t kInitialOutputBytes = std::uint64_t{1} << 16;

}  // namespace

std::string render(const AransError& error) {
  if (error.kind == AransErrorKind::OutOfMemory) {
    return "Out of memory, can't allocate additional " + std::to_string(error.bytes);
  }
  return std::string(kMessages[static_cast<std::size_t>(error.kind)]);
}

std::uint32_t divide_by_frequency(std::uint32_t x, std::uint32_t frequency) {
  return quotient(x, frequency);
}

AResult<std::uint64_t> rv(std::span<const std::uint8_t> buffer, std::size_t& cursor) {
  auto read = read_leb128(buffer, cursor);
  if (read) return read.value();
  return read.error() == Leb128Error::Truncated ? AransError::Truncated
                                                : AransError::InconsistentLength;
}

namespace {

// ------------------------------------------------------------------ encoder
//
// rANS codes last-in first-out, so the decisions are coded from the last to
// the first, but the model that gives their probabilities runs forwards. The
// planes are cut into chunks: a first model pass keeps a copy of the tables
// at the start of every chunk; the chunks are then taken from the last to the
// first, each replaying the model from its copy into a decision list that
// stays in cache and coding that list backwards. This costs one more model
// pass (over all chunks but the last, none at all for inputs of one chunk)
// instead of a decision list of 16 bytes per plane byte.
//
// Both planes go through every loop together: each plane is one chain of
// dependent state updates, and two independent chains keep the processor
// twice as busy as one.

// Plane bytes per chunk. At least kMinChunkBytes, and no more than
// kFewChunks chunks while that keeps a chunk within kCachedChunkBytes, so
// that the table copies stay small next to the input. Past that the chunk
// stays at kCachedChunkBytes (an 8 MiB decision list for two planes, 16 bytes
// per plane byte) until that would take more than kMostChunks table copies.
// The working memory is then about a byte per input pair up to 2^28 pairs,
// as with kFewChunks alone, but past that it grows a thirtieth as fast: at
// 2^31 samples the list and the copies (256 KiB each with 8 context bits)
// take 320 MiB, where 32 chunks would need a 2 GiB list. How the planes are
// cut does not change the code.
constexpr std::size_t kMinChunkBytes = std::size_t{1} << 16;
constexpr std::size_t kCachedChunkBytes = std::size_t{1} << 18;
constexpr std::size_t kFewChunks = 32;
constexpr std::size_t kMostChunks = 1024;

std::size_t chunk_bytes(std::size_t count) {
  const auto share = [count](std::size_t parts) { return (count + parts - 1) / parts; };
  return std::max(kMinChunkBytes,
                  std::min(share(kFewChunks), std::max(kCachedChunkBytes, share(kMostChunks))));
}

// The planes of an input: byte i of plane j is base[kPlanes * i + j].
template <std::size_t kPlanes>
struct PlaneBytes {
  const std::uint8_t* base;
  std::size_t count;  // bytes per plane
  std::uint8_t at(std::size_t i, std::size_t j) const { return base[kPlanes * i + j]; }
};

// For every byte and bit k (most significant first): the node that codes
// the bit in the low 8 bits, the bit itself at bit 12. The node is the
// byte's top k bits below a leading 1, so all eight are known up front and
// the table loads of a byte do not wait on each other.
constexpr auto kBytePaths = [] {
  std::array<std::array<std::uint16_t, 8>, 256> t{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    const std::uint32_t path = 0x100u | byte;
    for (std::uint32_t k = 0; k < 8; ++k) {
      t[byte][k] = static_cast<std::uint16_t>(path >> (8 - k) | ((path >> (7 - k)) & 1u) << 12);
    }
  }
  return t;
}();

// The bit model over one byte. With kRecord the decision entries
// p | bit << 12 go to d[0, 8).
template <bool kRecord>
inline void model_byte(std::uint16_t* probabilities, std::uint32_t byte, std::uint16_t* d) {
  const std::uint16_t* const steps = kBytePaths[byte].data();
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const std::uint32_t step = steps[k];
    const std::uint32_t node = step & 0xFFu;
    const std::uint32_t entry = probabilities[node] | (step & ~0xFFu);
    if constexpr (kRecord) d[k] = static_cast<std::uint16_t>(entry);
    probabilities[node] = kAdapted[entry];
  }
}

// Runs the bit model over bytes [begin, end) of every plane, updating its
// table; with kRecord the decisions of plane j, eight per byte, go to
// decisions[j][0, 8 * (end - begin)).
template <std::size_t kPlanes, bool kRecord>
void run_model(const PlaneBytes<kPlanes>& planes, std::size_t begin, std::size_t end,
               std::uint16_t* const* tables, unsigned shift, std::uint16_t* const* decisions) {
  std::uint32_t previous[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) previous[j] = begin == 0 ? 0 : planes.at(begin - 1, j);
  for (std::size_t i = begin; i < end; ++i) {
#pragma GCC unroll 2
    for (std::size_t j = 0; j < kPlanes; ++j) {
      const std::uint32_t byte = planes.at(i, j);
      std::uint16_t* const d = kRecord ? decisions[j] + 8 * (i - begin) : nullptr;
      model_byte<kRecord>(tables[j] + (previous[j] >> shift) * 256, byte, d);
      previous[j] = byte;
    }
  }
}

// What coding a decision entry p | bit << 12 needs: the reciprocal of its
// frequency (see kReciprocals), the state from which a word must be shifted
// out first (freq << 20), 4096 - freq and the start. Two tables of 8-byte
// entries, so that the entry indexes both directly.
struct EntryCoding {
  std::uint32_t bound;
  std::uint16_t complement;
  std::uint16_t start;
};

constexpr auto kEntryCodings = [] {
  std::array<EntryCoding, 2 * kProbabilityScale> t{};
  for (std::uint32_t bit = 0; bit < 2; ++bit) {
    for (std::uint32_t p = 1; p < kProbabilityScale; ++p) {
      const std::uint32_t frequency = frequency_of(p, mask_of(bit));
      t[bit << kProbabilityBits | p] = EntryCoding{
          frequency << kEncodeShift, static_cast<std::uint16_t>(kProbabilityScale - frequency),
          static_cast<std::uint16_t>(start_of(p, mask_of(bit)))};
    }
  }
  return t;
}();

constexpr auto kEntryReciprocals = [] {
  std::array<std::uint64_t, 2 * kProbabilityScale> t{};
  for (std::uint32_t bit = 0; bit < 2; ++bit) {
    for (std::uint32_t p = 1; p < kProbabilityScale; ++p) {
      t[bit << kProbabilityBits | p] = kReciprocals[frequency_of(p, mask_of(bit))];
    }
  }
  return t;
}();

// One plane's encoder state during code_backwards.
struct EncodeLane {
  std::uint32_t x;
  std::uint16_t* word;  // where the next word goes; moves down
};

inline void code_entry(EncodeLane& l, std::uint32_t entry) {
  const EntryCoding& c = kEntryCodings[entry];
  // Renormalising: the low word is always stored and kept only when it is
  // shifted out. Compilers make a branch of `emit`, which is well predicted
  // and keeps the comparison off the state's dependency chain.
  const bool emit = l.x >= c.bound;
  *l.word = static_cast<std::uint16_t>(l.x);
  l.word -= emit ? 1 : 0;
  const std::uint32_t x = emit ? l.x >> 16 : l.x;
  // x / freq * 4096 + x % freq + start, with q = x / freq:
  // q * 4096 + (x - q * freq) = x + q * (4096 - freq).
  const auto q =
      static_cast<std::uint32_t>((std::uint64_t{x} * kEntryReciprocals[entry]) >> kReciprocalShift);
  l.x = x + q * c.complement + c.start;
}

// Codes decisions[j][0, count) of every plane from the last to the first
// into state[j]. The emitted words go into the decision list itself, filled
// from its end: when decision i is coded (after it was read) at most
// count - 1 - i words exist, so the next lands in slot count - 1 - emitted
// >= i, one already consumed. At most one word per decision: after one
// 16-bit shift x < 2^16 <= freq << 20. emitted[j] counts the words, which
// end up at decisions[j][count - emitted[j], count) in the order the decoder
// reads them.
template <std::size_t kPlanes>
void code_backwards(std::uint16_t* const* decisions, std::size_t count, std::uint32_t* state,
                    std::size_t* emitted);

template <>
void code_backwards<1>(std::uint16_t* const* decisions, std::size_t count, std::uint32_t* state,
                       std::size_t* emitted) {
  EncodeLane a{state[0], decisions[0] + count - 1};
  for (std::size_t i = count; i-- > 0;) code_entry(a, decisions[0][i]);
  state[0] = a.x;
  emitted[0] = static_cast<std::size_t>(decisions[0] + count - 1 - a.word);
}

template <>
void code_backwards<2>(std::uint16_t* const* decisions, std::size_t count, std::uint32_t* state,
                       std::size_t* emitted) {
  EncodeLane a{state[0], decisions[0] + count - 1};
  EncodeLane b{state[1], decisions[1] + count - 1};
  const std::uint16_t* const list0 = decisions[0];
  const std::uint16_t* const list1 = decisions[1];
  for (std::size_t i = count; i-- > 0;) {
    const std::uint32_t e0 = list0[i];
    const std::uint32_t e1 = list1[i];
    code_entry(a, e0);
    code_entry(b, e1);
  }
  state[0] = a.x;
  state[1] = b.x;
  emitted[0] = static_cast<std::size_t>(decisions[0] + count - 1 - a.word);
  emitted[1] = static_cast<std::size_t>(decisions[1] + count - 1 - b.word);
}

// The codes of kPlanes planes before they are written out: the final state
// of each and its words, chunk by chunk from the last chunk to the first
// (each chunk's words already in the decoder's order).
template <std::size_t kPlanes>
struct PlaneCodes {
  std::uint32_t state[kPlanes];
  std::vector<std::uint16_t> words[kPlanes];
  std::vector<std::size_t> chunk_starts[kPlanes];  // into words, in coding order

  std::size_t code_bytes(std::size_t j) const { return 4 + 2 * words[j].size(); }

  // Plane j's code: the state little-endian, then the words of the first
  // chunk, the second, and so on, each little-endian.
  std::uint8_t* write(std::size_t j, std::uint8_t* out) const {
    store_le32(out, state[j]);
    out += 4;
    std::size_t end = words[j].size();
    for (std::size_t c = chunk_starts[j].size(); c-- > 0;) {
      for (std::size_t w = chunk_starts[j][c]; w < end; ++w) {
        store_le16(out, words[j][w]);
        out += 2;
      }
      end = chunk_starts[j][c];
    }
    return out;
  }
};

template <std::size_t kPlanes>
AResult<PlaneCodes<kPlanes>> code_planes(const PlaneBytes<kPlanes>& planes,
                                         std::uint8_t context_bits, std::size_t chunk) {
  const unsigned shift = context_shift(context_bits);
  const std::size_t table_entries = std::size_t{256} << context_bits;
  auto made_tables = tessary::Buffer<std::uint16_t>::for_overwrite(kPlanes * table_entries);
  if (!made_tables) return out_of_memory(made_tables.error());
  tessary::Buffer<std::uint16_t>& tables = made_tables.value();
  std::fill(tables.begin(), tables.end(), kInitialProbability);
  std::uint16_t* table_of[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) table_of[j] = tables.data() + j * table_entries;

  const std::size_t count = planes.count;
  const std::size_t chunks = (count + chunk - 1) / chunk;

  // The tables at the start of chunks 1, 2, ...; the model then stands at
  // the start of the last chunk.
  auto made_snapshots =
      tessary::Buffer<std::uint16_t>::for_overwrite(chunks > 1 ? (chunks - 1) * tables.size() : 0);
  if (!made_snapshots) return out_of_memory(made_snapshots.error());
  tessary::Buffer<std::uint16_t>& snapshots = made_snapshots.value();
  for (std::size_t c = 0; c + 1 < chunks; ++c) {
    run_model<kPlanes, false>(planes, c * chunk, (c + 1) * chunk, table_of, shift, nullptr);
    std::copy(tables.begin(), tables.end(), snapshots.data() + c * tables.size());
  }

  PlaneCodes<kPlanes> codes;
  const std::size_t list_length = 8 * std::min(chunk, count);
  // Each chunk writes its decisions before coding reads them: not cleared.
  auto lists = tessary::Buffer<std::uint16_t>::for_overwrite(kPlanes * list_length);
  if (!lists) return out_of_memory(lists.error());
  std::uint16_t* list_of[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) {
    list_of[j] = lists.value().data() + j * list_length;
    codes.state[j] = kStateLow;
    if (auto s = tessary::try_reserve(codes.chunk_starts[j], chunks); !s) {
      return out_of_memory(s.error());
    }
  }
  for (std::size_t c = chunks; c-- > 0;) {
    if (c + 1 < chunks) {
      if (c == 0) {
        std::fill(tables.begin(), tables.end(), kInitialProbability);
      } else {
        const std::uint16_t* const from = snapshots.data() + (c - 1) * tables.size();
        std::copy(from, from + tables.size(), tables.begin());
      }
    }
    const std::size_t begin = c * chunk;
    const std::size_t end = std::min(count, begin + chunk);
    run_model<kPlanes, true>(planes, begin, end, table_of, shift, list_of);
    const std::size_t decisions = 8 * (end - begin);
    std::size_t emitted[kPlanes];
    code_backwards<kPlanes>(list_of, decisions, codes.state, emitted);
    for (std::size_t j = 0; j < kPlanes; ++j) {
      std::vector<std::uint16_t>& words = codes.words[j];
      // Grown ahead, doubling, so that the insertion never allocates.
      if (words.size() + emitted[j] > words.capacity()) {
        const std::size_t want = std::max(words.size() + emitted[j], 2 * words.capacity());
        if (auto s = tessary::try_reserve(words, want); !s) return out_of_memory(s.error());
      }
      codes.chunk_starts[j].push_back(words.size());
      const std::uint16_t* const words_end = list_of[j] + decisions;
      words.insert(words.end(), words_end - emitted[j], words_end);
    }
  }
  return codes;
}

// ------------------------------------------------------------------ decoder

// One plane's decoder: its state, its unread code and its model.
struct PlaneDecoder {
  std::uint32_t x;
  const std::uint8_t* in;
  const std::uint8_t* end;
  std::uint16_t* table;
  std::uint8_t previous;
};

// One byte exactly as the format defines it, every read checked. False when
// the code runs out (Truncated).
bool decode_byte_checked(PlaneDecoder& s, unsigned shift, std::uint8_t& byte) {
  std::uint16_t* const probabilities = s.table + (std::size_t{s.previous} >> shift) * 256;
  std::uint32_t x = s.x;
  std::uint32_t node = 1;
  for (int k = 0; k < 8; ++k) {
    const std::uint32_t p = probabilities[node];
    const std::uint32_t low = x & kProbabilityMask;
    const std::uint32_t bit = low >= p;
    const std::uint32_t mask = mask_of(bit);
    // frequency * (x >> 12) + low - start <= 4095 * 2^20 - 1: no overflow.
    x = frequency_of(p, mask) * (x >> kProbabilityBits) + low - start_of(p, mask);
    // One word suffices for any state that was normalised, but a forged
    // start state below 2^16 may need several.
    while (x < kStateLow) {
      if (s.end - s.in < 2) return false;
      x = x << 16 | load_le16(s.in);
      s.in += 2;
    }
    probabilities[node] = kAdapted[bit << kProbabilityBits | p];
    node = 2 * node + bit;
  }
  s.x = x;
  byte = static_cast<std::uint8_t>(node);
  s.previous = byte;
  return true;
}

// A state at or above 2^16 stays there after every decision with one word
// at most (x' >= freq * (x >> 12) >= 16, so one shift reaches 2^20). A byte
// therefore reads at most 8 words, 16 code bytes, per plane, and a plane
// with that much code left per byte of a block decodes the whole block
// without a bounds test.
constexpr std::ptrdiff_t kFastCodeBytes = 16;

// The probability after a decision on p, indexed by 2p + bit: the index is
// one address computation from the bit.
constexpr auto kAdaptedByBit = [] {
  std::array<std::uint16_t, 2 * kProbabilityScale> a{};
  for (std::uint32_t p = 0; p < kProbabilityScale; ++p) {
    a[2 * p] = kAdapted[p];
    a[2 * p + 1] = kAdapted[kProbabilityScale + p];
  }
  return a;
}();

// What a decision chooses by its bit: the state and the next node's
// probability, each given for a 0 and for a 1.
struct BitChoice {
  std::uint32_t state;
  std::uint32_t next;
};

// The bit of a decision, b = (low >= p), is as unpredictable as the data,
// so everything chosen by it must be a conditional move fed straight by the
// comparison, not a branch (which compilers make of some of these choices
// otherwise). Returns b; when b is 1, `chosen` takes the values of `if_one`.
inline std::size_t choose_by_bit(std::uint32_t low, std::uint32_t p, BitChoice& chosen,
                                 const BitChoice& if_one) {
#if defined(__x86_64__)
  std::size_t bit;
  asm("xor %k[bit], %k[bit]\n\t"
      "cmp %[p], %[low]\n\t"
      "cmovae %[state1], %[state]\n\t"
      "cmovae %[next1], %[next]\n\t"
      "setae %b[bit]"
      : [state] "+r"(chosen.state), [next] "+r"(chosen.next), [bit] "=&r"(bit)
      : [state1] "r"(if_one.state), [next1] "r"(if_one.next), [low] "r"(low), [p] "r"(p)
      : "cc");
  return bit;
#else
  const std::size_t bit = low >= p;
  if (bit) chosen = if_one;
  return bit;
#endif
}

// a when bit is 1, b when it is 0, as a conditional move (see choose_by_bit).
template <class T>
inline T pick_by_bit(std::size_t bit, T a, T b) {
#if defined(__x86_64__)
  asm("test %[bit], %[bit]\n\tcmovnz %[a], %[b]" : [b] "+r"(b) : [a] "r"(a), [bit] "r"(bit) : "cc");
  return b;
#else
  return bit ? a : b;
#endif
}

// What a plane's decoder keeps in registers between decisions of a block.
struct FastLane {
  std::uint32_t x;
  std::size_t p;       // the node's probability, already loaded
  std::size_t node;    // 1 to 255, the node within the byte's tree
  std::uint16_t* row;  // the 256 entries of the byte's context
  const std::uint8_t* in;
};

// One decision, bounds unchecked, with the node's adaptation; the next
// node's probability is next0 or next1 by the bit, which is returned. With
// t = p * (x >> 12):
//   bit 0: p * (x >> 12) + low                = t + low,
//   bit 1: (4096 - p) * (x >> 12) + low - p   = x - t - p,
// both computed before the bit is known, so that the state's chain is a
// shift, a multiply, an add and a select. A refill is rare (a word per 16
// bits of information) and so a branch.
inline std::size_t decide_fast(FastLane& l, std::uint32_t next0, std::uint32_t next1) {
  const std::uint32_t x = l.x;
  const auto p = static_cast<std::uint32_t>(l.p);
  const std::uint32_t low = x & kProbabilityMask;
  const std::uint32_t t = p * (x >> kProbabilityBits);
  BitChoice chosen{t + low, next0};
  const std::size_t bit = choose_by_bit(low, p, chosen, BitChoice{x - p - t, next1});
  std::uint32_t v = chosen.state;
  if (v < kStateLow) [[unlikely]] {
    v = v << 16 | load_le16(l.in);
    l.in += 2;
  }
  l.x = v;
  l.row[l.node] = kAdaptedByBit[2 * l.p + bit];
  l.p = chosen.next;
  return bit;
}

// A decision inside the byte: both children's probabilities are loaded
// before the bit picks one, so no load waits on the bit.
inline void decide_inner_fast(FastLane& l) {
  const std::size_t bit = decide_fast(l, l.row[2 * l.node], l.row[2 * l.node + 1]);
  l.node = 2 * l.node + bit;
}

// The eighth decision of a byte. Its children are the roots (node 1) of the
// next byte's two possible contexts, loaded before the bit picks one; a
// root was last written at this byte's first decision or earlier, so the
// loads see its current value. Returns the decoded byte.
// Where the row of each previous byte starts in a table, for each number of
// context bits: (byte >> (8 - bits)) * 256. A constant, so that the last
// decision of a byte finds both candidate rows with a load each, and no
// decoder has a table of rows to fill first.
constexpr auto kRowOffsets = [] {
  std::array<std::array<std::uint32_t, 256>, kMaxContextBits + 1> t{};
  for (std::uint32_t bits = 0; bits <= kMaxContextBits; ++bits) {
    for (std::uint32_t byte = 0; byte < 256; ++byte) t[bits][byte] = (byte >> (8 - bits)) * 256;
  }
  return t;
}();

inline std::uint8_t decide_last_fast(FastLane& l, std::uint16_t* table,
                                     const std::uint32_t* row_offsets) {
  // node is 128 to 255: the byte's top 7 bits below a leading 1.
  std::uint16_t* const row0 = table + row_offsets[(2 * l.node) & 0xFFu];
  std::uint16_t* const row1 = table + row_offsets[(2 * l.node + 1) & 0xFFu];
  const std::size_t bit = decide_fast(l, row0[1], row1[1]);
  const auto byte = static_cast<std::uint8_t>(2 * l.node + bit);
  l.row = pick_by_bit(bit, row1, row0);
  l.node = 1;
  return byte;
}

// Decodes bytes [0, count) of every plane into out[kPlanes * i + j] with no
// bounds test: the caller has checked that every plane's state is at least
// 2^16 and that it has kFastCodeBytes of code per byte.
template <std::size_t kPlanes>
void decode_block_fast(PlaneDecoder* s, const std::uint32_t* row_offsets, std::uint64_t count,
                       std::uint8_t* out) {
  FastLane l[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) {
    std::uint16_t* const row = s[j].table + row_offsets[s[j].previous];
    l[j] = FastLane{s[j].x, row[1], 1, row, s[j].in};
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    // Decision by decision across the planes, so that their chains overlap.
#pragma GCC unroll 7
    for (int k = 0; k < 7; ++k) {
#pragma GCC unroll 2
      for (std::size_t j = 0; j < kPlanes; ++j) decide_inner_fast(l[j]);
    }
#pragma GCC unroll 2
    for (std::size_t j = 0; j < kPlanes; ++j) out[kPlanes * i + j] = decide_last_fast(l[j], s[j].table, row_offsets);
  }
  for (std::size_t j = 0; j < kPlanes; ++j) {
    s[j].x = l[j].x;
    s[j].in = l[j].in;
    if (count > 0) s[j].previous = out[kPlanes * (count - 1) + j];
  }
}

// A stream's planes decoded a run of bytes at a time: each call to next
// goes on where the previous one stopped, so that a caller can keep the
// bytes, hand them on in pieces or drop them. The first plane that runs out
// ends decoding with Truncated.
template <std::size_t kPlanes>
class PlanesDecoder {
 public:
  // Fresh models over `codes`, each of which holds at least its 4-byte
  // start state.
  static AResult<PlanesDecoder> make(const std::span<const std::uint8_t>* codes,
                                     std::uint8_t context_bits) {
    PlanesDecoder d;
    const std::size_t table_entries = std::size_t{256} << context_bits;
    auto made_tables = tessary::Buffer<std::uint16_t>::for_overwrite(kPlanes * table_entries);
    if (!made_tables) return out_of_memory(made_tables.error());
    d.tables_ = std::move(made_tables).value();
    std::fill(d.tables_.begin(), d.tables_.end(), kInitialProbability);
    d.shift_ = context_shift(context_bits);
    d.context_bits_ = context_bits;
    for (std::size_t j = 0; j < kPlanes; ++j) {
      d.planes_[j] = PlaneDecoder{load_le32(codes[j].data()), codes[j].data() + 4,
                                  codes[j].data() + codes[j].size(),
                                  d.tables_.data() + j * table_entries, 0};
    }
    return d;
  }

  // The next `count` bytes of every plane into out[kPlanes * i + j].
  AResult<> next(std::uint64_t count, std::uint8_t* out) {
    std::uint64_t i = 0;
    while (i < count) {
      // The bytes that every plane's remaining code covers at the worst rate.
      std::uint64_t block = count - i;
      for (std::size_t j = 0; j < kPlanes; ++j) {
        const auto left = static_cast<std::uint64_t>(planes_[j].end - planes_[j].in);
        block = planes_[j].x < kStateLow ? 0 : std::min(block, left / kFastCodeBytes);
      }
      if (block > 0) {
        decode_block_fast<kPlanes>(planes_, kRowOffsets[context_bits_].data(), block,
                                  out + kPlanes * i);
        i += block;
        continue;
      }
      // A plane near the end of its code, or with a state below 2^16.
      for (std::size_t j = 0; j < kPlanes; ++j) {
        if (!decode_byte_checked(planes_[j], shift_, out[kPlanes * i + j])) {
          return AransError::Truncated;
        }
      }
      ++i;
    }
    return {};
  }

 private:
  PlanesDecoder() = default;

  // The models' tables; planes_ point into them (the block stays where it
  // is when the decoder moves).
  tessary::Buffer<std::uint16_t> tables_;
  PlaneDecoder planes_[kPlanes];
  unsigned shift_ = 0;
  std::uint8_t context_bits_ = 0;
};

// Decodes `count` bytes of every plane into out[kPlanes * i + j], growing
// `out` as bytes arrive (see kInitialOutputBytes); `out` ends up holding
// kPlanes * count + tail bytes, the tail left for the caller.
template <std::size_t kPlanes, class Bytes>
AResult<Bytes> decode_planes(const std::span<const std::uint8_t>* codes, std::uint64_t count,
                             std::uint8_t context_bits, std::size_t tail) {
  auto made_decoder = PlanesDecoder<kPlanes>::make(codes, context_bits);
  if (!made_decoder) return made_decoder.error();
  PlanesDecoder<kPlanes>& decoder = made_decoder.value();
  // The output grows only with bytes decoded, so a failure to grow is
  // memory running out, never a length the stream made up.
  Bytes out;
  std::uint64_t done = 0;
  while (done < count) {
    const std::uint64_t capacity = std::min(count, std::max(2 * done, kInitialOutputBytes));
    if (auto grown = tessary::try_resize(out, kPlanes * capacity + (capacity == count ? tail : 0));
        !grown) {
      return out_of_memory(grown.error());
    }
    if (auto s = decoder.next(capacity - done, out.data() + kPlanes * done); !s) return s.error();
    done = capacity;
  }
  return out;
}

// A stream as the decoder reads it: `pairs` bytes coded in each of `codes`,
// which come first in the output, followed by `tail` as it stands (the last
// byte of an odd input, or the whole of a short form, which has no planes).
struct StreamParts {
  std::uint64_t pairs = 0;
  std::uint8_t context_bits = 0;
  std::span<const std::uint8_t> codes[2];
  std::span<const std::uint8_t> tail;
};

// The parts of any byte string, or the error its layout shows before any
// plane is decoded.
AResult<StreamParts> read_parts(std::span<const std::uint8_t> stream) {
  StreamParts parts;
  if (stream.size() <= kMaxShortFormBytes) {
    parts.tail = stream;
    return parts;
  }
  const std::size_t odd = stream[0] & 1u;
  parts.context_bits = stream[1];
  if (parts.context_bits > kMaxContextBits) return AransError::InconsistentLength;

  std::size_t cursor = 2;
  auto pairs = rv(stream, cursor);
  if (!pairs) return pairs.error();
  if (pairs.value() > kMaxPairs) return AransError::InconsistentLength;
  auto length0 = rv(stream, cursor);
  if (!length0) return length0.error();
  // cursor <= stream.size(), so only a huge L0 can overflow the sum.
  if (length0.value() > UINT64_MAX - cursor) return AransError::InconsistentLength;
  const std::uint64_t end0 = cursor + length0.value();
  if (stream.size() - odd < end0) return AransError::Truncated;

  parts.tail = stream.last(odd);
  parts.pairs = pairs.value();
  if (parts.pairs == 0) return parts;
  parts.codes[0] = stream.subspan(cursor, end0 - cursor);
  parts.codes[1] = stream.subspan(end0, stream.size() - odd - end0);
  // Each plane's code needs its 4-byte state.
  if (parts.codes[0].size() < 4 || parts.codes[1].size() < 4) return AransError::Truncated;
  return parts;
}

// Pairs the coder decodes at a time for the codec: 64 KiB of coefficient
// string, which the sink dequantises while it is still in cache.
constexpr std::uint64_t kPiecePairs = std::uint64_t{1} << 15;

}  // namespace

AResult<> append_stream(std::span<const std::uint8_t> input, tessary::Buffer<std::uint8_t>& out) {
  const std::size_t n = input.size();
  const std::size_t start = out.size();
  if (n <= kMaxShortFormBytes) {
    if (auto s = out.resize_for_overwrite(start + n); !s) return out_of_memory(s.error());
    if (n > 0) std::memcpy(out.data() + start, input.data(), n);
    return {};
  }

  const std::size_t pairs = n / 2;
  const std::uint8_t context_bits = context_bits_for(n);
  auto coded =
      code_planes<2>(PlaneBytes<2>{input.data(), pairs}, context_bits, chunk_bytes(pairs));
  if (!coded) return coded.error();
  const PlaneCodes<2>& codes = coded.value();

  std::uint8_t head[2 + 2 * kMaxLeb128Bytes];
  head[0] = static_cast<std::uint8_t>(n & 1);
  head[1] = context_bits;
  std::size_t head_bytes = 2;
  head_bytes += put_leb128(head + head_bytes, pairs);
  head_bytes += put_leb128(head + head_bytes, codes.code_bytes(0));
  const std::size_t code_bytes = codes.code_bytes(0) + codes.code_bytes(1);
  if (auto s = out.resize_for_overwrite(start + head_bytes + code_bytes + (n & 1)); !s) {
    return out_of_memory(s.error());
  }
  std::memcpy(out.data() + start, head, head_bytes);
  std::uint8_t* at = codes.write(0, out.data() + start + head_bytes);
  at = codes.write(1, at);
  if (n & 1) *at = input[n - 1];
  return {};
}

AResult<tessary::Buffer<std::uint8_t>> decode_stream(std::span<const std::uint8_t> stream) {
  using Bytes = tessary::Buffer<std::uint8_t>;
  auto read = read_parts(stream);
  if (!read) return read.error();
  const StreamParts& parts = read.value();
  if (parts.pairs == 0) {
    auto out = Bytes::for_overwrite(parts.tail.size());
    if (!out) return out_of_memory(out.error());
    if (!parts.tail.empty()) std::memcpy(out.value().data(), parts.tail.data(), parts.tail.size());
    return std::move(out).value();
  }
  auto out = decode_planes<2, Bytes>(parts.codes, parts.pairs, parts.context_bits,
                                     parts.tail.size());
  if (!out) return out;
  if (!parts.tail.empty()) out.value().back() = parts.tail.back();
  return out;
}

AResult<tessary::Buffer<std::uint8_t>> encode_stream(std::span<const std::uint8_t> input) {
  tessary::Buffer<std::uint8_t> out;
  if (auto s = append_stream(input, out); !s) return s.error();
  return out;
}

AResult<std::vector<std::uint8_t>> encode_plane(std::span<const std::uint8_t> plane,
                                                std::uint8_t context_bits) {
  return encode_plane_in_chunks(plane, context_bits, chunk_bytes(plane.size()));
}

AResult<std::vector<std::uint8_t>> encode_plane_in_chunks(std::span<const std::uint8_t> plane,
                                                          std::uint8_t context_bits,
                                                          std::size_t chunk) {
  std::vector<std::uint8_t> code;
  if (plane.empty()) return code;
  auto coded =
      code_planes<1>(PlaneBytes<1>{plane.data(), plane.size()},
                     std::min(context_bits, kMaxContextBits), std::max<std::size_t>(chunk, 1));
  if (!coded) return coded.error();
  if (auto s = tessary::try_resize(code, coded.value().code_bytes(0)); !s) {
    return out_of_memory(s.error());
  }
  coded.value().write(0, code.data());
  return code;
}

AResult<std::vector<std::uint8_t>> decode_plane(std::span<const std::uint8_t> code,
                                                std::uint64_t byte_count,
                                                std::uint8_t context_bits) {
  if (byte_count == 0) return std::vector<std::uint8_t>{};
  if (context_bits > kMaxContextBits) return AransError::InconsistentLength;
  if (code.size() < 4) return AransError::Truncated;
  const std::span<const std::uint8_t> codes[1] = {code};
  return decode_planes<1, std::vector<std::uint8_t>>(codes, byte_count, context_bits, 0);
}

CorvaneError to_codec_error(const AransError& error) {
  if (error.kind == AransErrorKind::OutOfMemory) return CorvaneError::out_of_memory(error.bytes);
  return CorvaneError::decompression_failed(render(error));
}

CResult<> encode(std::span<const std::uint8_t> coefficient_string,
                 tessary::Buffer<std::uint8_t>& container) {
  if (auto s = append_stream(coefficient_string, container); !s) return to_codec_error(s.error());
  return {};
}

// The stream is decoded a piece at a time into the sink, which keeps only
// what the bands need: the coefficients after them are decoded (a damaged
// stream is still reported) but never stored.
CResult<> decode(std::span<const std::uint8_t> payload, coders::CoefficientSink& sink) {
  auto read = read_parts(payload);
  if (!read) return to_codec_error(read.error());
  const StreamParts& parts = read.value();
  if (parts.pairs > 0) {
    if (auto s = sink.reserve_for_payload(payload.size()); !s) return s;
    auto made_decoder = PlanesDecoder<2>::make(parts.codes, parts.context_bits);
    if (!made_decoder) return to_codec_error(made_decoder.error());
    auto made_piece =
        tessary::Buffer<std::uint8_t>::for_overwrite(2 * std::min(parts.pairs, kPiecePairs));
    if (!made_piece) return CorvaneError::out_of_memory(made_piece.error());
    std::uint8_t* const piece = made_piece.value().data();
    for (std::uint64_t done = 0; done < parts.pairs;) {
      const std::uint64_t count = std::min(parts.pairs - done, kPiecePairs);
      if (auto s = made_decoder.value().next(count, piece); !s) return to_codec_error(s.error());
      if (auto s = sink.take({piece, 2 * count}); !s) return s;
      done += count;
    }
  }
  return sink.take(parts.tail);
}

}  // namespace corvane::arans
