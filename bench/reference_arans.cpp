// The rANS coder's loops as they stood before the encoder's forward and
// backward passes and the decoder's block-checked loop: the baseline that
// the coder benchmark measures the library's coder against, and checks it
// byte for byte. Built into the benchmarks only, never into the library.
#include "reference_arans.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace bench_reference {
namespace {

using namespace corvane::arans;

// The library's fallible growth, for the byte vectors this copy works on.
template <class T>
bool try_resize(std::vector<T>& v, std::uint64_t count) {
  try {
    v.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
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

void store_le32(std::uint8_t* out, std::uint32_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
  out[2] = static_cast<std::uint8_t>(v >> 16);
  out[3] = static_cast<std::uint8_t>(v >> 24);
}

std::uint32_t load_le32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
         std::uint32_t{in[3]} << 24;
}

// First output size of the decoder. A stream's claimed byte count is not
// trusted for one big allocation: a dozen bytes may claim 2^28 pairs. The
// output starts at this size (or the claim, if smaller) and doubles as bytes
// are actually produced, so memory stays within twice what decoding reached
// before the plane ran out. The code length is no bound to start from: with
// skewed probabilities a plane yields many bytes per code byte.
constexpr std::uint64_t kInitialOutputBytes = std::uint64_t{1} << 16;


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
// 2^31 samples the list alone took 2 GiB; now the list and the copies (256
// KiB each with 8 context bits) take 320 MiB. How the planes are cut does not
// change the code.
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
  // shifted out. (A branch on `emit`, which compilers make of this, measured
  // faster than a select: it is well predicted and keeps the comparison off
  // the state's dependency chain.)
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
        out[0] = static_cast<std::uint8_t>(words[j][w]);
        out[1] = static_cast<std::uint8_t>(words[j][w] >> 8);
        out += 2;
      }
      end = chunk_starts[j][c];
    }
    return out;
  }
};

template <std::size_t kPlanes>
PlaneCodes<kPlanes> code_planes(const PlaneBytes<kPlanes>& planes, std::uint8_t context_bits,
                                 std::size_t chunk) {
  const unsigned shift = context_shift(context_bits);
  const std::size_t table_entries = std::size_t{256} << context_bits;
  std::vector<std::uint16_t> tables(kPlanes * table_entries, kInitialProbability);
  std::uint16_t* table_of[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) table_of[j] = tables.data() + j * table_entries;

  const std::size_t count = planes.count;
  const std::size_t chunks = (count + chunk - 1) / chunk;

  // The tables at the start of chunks 1, 2, ...; the model then stands at
  // the start of the last chunk.
  std::vector<std::uint16_t> snapshots;
  snapshots.reserve(chunks > 1 ? (chunks - 1) * tables.size() : 0);
  for (std::size_t c = 0; c + 1 < chunks; ++c) {
    run_model<kPlanes, false>(planes, c * chunk, (c + 1) * chunk, table_of, shift, nullptr);
    snapshots.insert(snapshots.end(), tables.begin(), tables.end());
  }

  PlaneCodes<kPlanes> codes;
  const std::size_t list_length = 8 * std::min(chunk, count);
  // Each chunk writes its decisions before coding reads them: not cleared.
  const std::unique_ptr<std::uint16_t[]> lists(new std::uint16_t[kPlanes * list_length]);
  std::uint16_t* list_of[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) {
    list_of[j] = lists.get() + j * list_length;
    codes.state[j] = kStateLow;
    codes.chunk_starts[j].reserve(chunks);
  }
  for (std::size_t c = chunks; c-- > 0;) {
    if (c + 1 < chunks) {
      if (c == 0) {
        std::fill(tables.begin(), tables.end(), kInitialProbability);
      } else {
        const auto from = snapshots.begin() + static_cast<std::ptrdiff_t>((c - 1) * tables.size());
        std::copy(from, from + static_cast<std::ptrdiff_t>(tables.size()), tables.begin());
      }
    }
    const std::size_t begin = c * chunk;
    const std::size_t end = std::min(count, begin + chunk);
    run_model<kPlanes, true>(planes, begin, end, table_of, shift, list_of);
    const std::size_t decisions = 8 * (end - begin);
    std::size_t emitted[kPlanes];
    code_backwards<kPlanes>(list_of, decisions, codes.state, emitted);
    for (std::size_t j = 0; j < kPlanes; ++j) {
      codes.chunk_starts[j].push_back(codes.words[j].size());
      const std::uint16_t* const words_end = list_of[j] + decisions;
      codes.words[j].insert(codes.words[j].end(), words_end - emitted[j], words_end);
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

inline std::uint32_t load_le16(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8;
}

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
// at most (x' >= freq * (x >> 12) >= 16, so one shift reaches 2^20), so with
// 16 code bytes left a whole byte needs no check.
constexpr std::ptrdiff_t kFastCodeBytes = 16;

inline bool fast_ready(const PlaneDecoder& s) {
  return s.x >= kStateLow && s.end - s.in >= kFastCodeBytes;
}

// What a plane's decoder keeps in registers during a fast byte.
struct DecodeLane {
  std::uint32_t x;
  const std::uint8_t* in;
  std::uint16_t* probabilities;  // the 256 nodes of the byte's context
  std::uint32_t node;
  std::uint32_t p;  // probability of the node
};

inline DecodeLane lane_of(const PlaneDecoder& s, unsigned shift) {
  std::uint16_t* const probabilities = s.table + (std::size_t{s.previous} >> shift) * 256;
  return DecodeLane{s.x, s.in, probabilities, 1, probabilities[1]};
}

inline std::uint8_t finish_lane(PlaneDecoder& s, const DecodeLane& l) {
  s.x = l.x;
  s.in = l.in;
  s.previous = static_cast<std::uint8_t>(l.node);
  return s.previous;
}

// One decision without bounds checks. With t = p * (x >> 12):
//   bit 0: p * (x >> 12) + low                = t + low,
//   bit 1: (4096 - p) * (x >> 12) + low - p   = x - t - p,
// both computed before the bit is known. The word is always loaded and kept
// only when needed; the probabilities of both children are loaded before
// the bit picks one, so no table load waits on this decision.
template <bool kLastBit>
inline void decide(DecodeLane& l) {
  const std::uint32_t p = l.p;
  const std::uint32_t low = l.x & kProbabilityMask;
  const std::uint32_t t = p * (l.x >> kProbabilityBits);
  const std::uint32_t bit = low >= p;
  std::uint32_t child0 = 0;
  std::uint32_t child1 = 0;
  // The last node's children lie outside this context's 256 entries.
  if constexpr (!kLastBit) {
    child0 = l.probabilities[2 * l.node];
    child1 = l.probabilities[2 * l.node + 1];
  }
  std::uint32_t v = bit ? l.x - t - p : t + low;
  const std::uint32_t word = load_le16(l.in);
  const bool refill = v < kStateLow;
  v = refill ? (v << 16 | word) : v;
  l.in += refill ? 2 : 0;
  l.x = v;
  l.probabilities[l.node] = kAdapted[bit << kProbabilityBits | p];
  l.node = 2 * l.node + bit;
  if constexpr (!kLastBit) l.p = bit ? child1 : child0;
}

template <std::size_t kPlanes>
void decode_bytes_fast(PlaneDecoder* s, unsigned shift, std::uint8_t* bytes);

// Both planes decision by decision, so that their independent chains overlap.
template <>
void decode_bytes_fast<2>(PlaneDecoder* s, unsigned shift, std::uint8_t* bytes) {
  DecodeLane a = lane_of(s[0], shift);
  DecodeLane b = lane_of(s[1], shift);
#pragma GCC unroll 7
  for (int k = 0; k < 7; ++k) {
    decide<false>(a);
    decide<false>(b);
  }
  decide<true>(a);
  decide<true>(b);
  bytes[0] = finish_lane(s[0], a);
  bytes[1] = finish_lane(s[1], b);
}

// Decodes `count` bytes of every plane into out[kPlanes * i + j], growing
// `out` as bytes arrive (see kInitialOutputBytes); `out` ends up holding
// kPlanes * count + tail bytes, the tail left for the caller. The first plane
// that runs out ends the call with Truncated.
template <std::size_t kPlanes, class Bytes>
AResult<Bytes> decode_planes(const std::span<const std::uint8_t>* codes, std::uint64_t count,
                             std::uint8_t context_bits, std::size_t tail) {
  std::vector<std::uint16_t> tables;
  const std::size_t table_entries = std::size_t{256} << context_bits;
  if (!try_resize(tables, kPlanes * table_entries)) {
    return AransError::InconsistentLength;
  }
  std::fill(tables.begin(), tables.end(), kInitialProbability);
  const unsigned shift = context_shift(context_bits);

  PlaneDecoder s[kPlanes];
  for (std::size_t j = 0; j < kPlanes; ++j) {
    s[j] = PlaneDecoder{load_le32(codes[j].data()), codes[j].data() + 4,
                        codes[j].data() + codes[j].size(), tables.data() + j * table_entries, 0};
  }

  // Capacity in bytes per plane; see kInitialOutputBytes.
  std::uint64_t capacity = std::min(count, kInitialOutputBytes);
  Bytes out;
  const auto grow_to = [&](std::uint64_t per_plane) {
    const std::uint64_t bytes = kPlanes * per_plane + (per_plane == count ? tail : 0);
    return static_cast<bool>(try_resize(out, bytes));
  };
  if (!grow_to(capacity)) return AransError::InconsistentLength;

  std::uint64_t i = 0;
  while (i < count) {
    if (i == capacity) {
      capacity = std::min(count, 2 * capacity);
      if (!grow_to(capacity)) return AransError::InconsistentLength;
    }
    bool ready = true;
    while (i < capacity) {
      for (std::size_t j = 0; j < kPlanes; ++j) ready = ready && fast_ready(s[j]);
      if (!ready) break;
      decode_bytes_fast<kPlanes>(s, shift, out.data() + kPlanes * i);
      ++i;
    }
    // A plane near the end of its code, or with a state below 2^16.
    if (!ready) {
      for (std::size_t j = 0; j < kPlanes; ++j) {
        if (!decode_byte_checked(s[j], shift, out[kPlanes * i + j])) {
          return AransError::Truncated;
        }
      }
      ++i;
    }
  }
  return out;
}

// The shortest unsigned LEB128 form of `value` at `out`; returns its length.
std::size_t put_leb128(std::uint8_t* out, std::uint64_t value) {
  std::size_t length = 0;
  while (value >= 0x80) {
    out[length++] = static_cast<std::uint8_t>(value | 0x80);
    value >>= 7;
  }
  out[length++] = static_cast<std::uint8_t>(value);
  return length;
}

// The stream of `input` appended to `out` (a byte vector or a Buffer); false
// when `out` cannot grow.
template <class Bytes>
bool append_stream_to(std::span<const std::uint8_t> input, Bytes& out) {
  const std::size_t n = input.size();
  const std::size_t start = out.size();
  if (n <= kMaxShortFormBytes) {
    if (!try_resize(out, start + n)) return false;
    if (n > 0) std::memcpy(out.data() + start, input.data(), n);
    return true;
  }

  const std::size_t pairs = n / 2;
  const std::uint8_t context_bits = context_bits_for(n);
  const PlaneCodes<2> codes =
      code_planes<2>(PlaneBytes<2>{input.data(), pairs}, context_bits, chunk_bytes(pairs));

  std::uint8_t head[2 + 2 * 10];
  head[0] = static_cast<std::uint8_t>(n & 1);
  head[1] = context_bits;
  std::size_t head_bytes = 2;
  head_bytes += put_leb128(head + head_bytes, pairs);
  head_bytes += put_leb128(head + head_bytes, codes.code_bytes(0));
  const std::size_t code_bytes = codes.code_bytes(0) + codes.code_bytes(1);
  if (!try_resize(out, start + head_bytes + code_bytes + (n & 1))) return false;
  std::memcpy(out.data() + start, head, head_bytes);
  std::uint8_t* at = codes.write(0, out.data() + start + head_bytes);
  at = codes.write(1, at);
  if (n & 1) *at = input[n - 1];
  return true;
}

// The bytes of a stream as `Bytes` (a byte vector or a Buffer).
template <class Bytes>
AResult<Bytes> decode_stream_as(std::span<const std::uint8_t> stream) {
  const auto copied = [](std::span<const std::uint8_t> bytes) -> AResult<Bytes> {
    Bytes out;
    if (!try_resize(out, bytes.size())) return AransError::InconsistentLength;
    if (!bytes.empty()) std::memcpy(out.data(), bytes.data(), bytes.size());
    return out;
  };
  if (stream.size() <= kMaxShortFormBytes) return copied(stream);
  const std::size_t odd = stream[0] & 1u;
  const std::uint8_t context_bits = stream[1];
  if (context_bits > kMaxContextBits) return AransError::InconsistentLength;

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

  const std::uint64_t p = pairs.value();
  if (p == 0) return copied(stream.last(odd));
  const std::span<const std::uint8_t> codes[2] = {
      stream.subspan(cursor, end0 - cursor), stream.subspan(end0, stream.size() - odd - end0)};
  // Each plane's code needs its 4-byte state.
  if (codes[0].size() < 4 || codes[1].size() < 4) return AransError::Truncated;
  auto out = decode_planes<2, Bytes>(codes, p, context_bits, odd);
  if (!out) return out;
  if (odd) out.value().back() = stream.back();
  return out;
}

}  // namespace

std::vector<std::uint8_t> encode_stream(std::span<const std::uint8_t> input) {
  std::vector<std::uint8_t> out;
  if (!append_stream_to(input, out)) throw std::bad_alloc();
  return out;
}

corvane::arans::AResult<std::vector<std::uint8_t>> decode_stream(
    std::span<const std::uint8_t> stream) {
  return decode_stream_as<std::vector<std::uint8_t>>(stream);
}

}  // namespace bench_reference
