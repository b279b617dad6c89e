#include "arans.h"

#include <algorithm>
#include <array>

#include "err.h"

namespace corvane::arans {
namespace {

constexpr std::array<std::string_view, 2> kMessages = {
    "Stream truncated",
    "Inconsistent or oversized length in stream",
};

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
inline std::uint32_t mask_of(std::uint32_t bit) { return 0u - bit; }

// The frequency of the coded bit: p for a 0, 4096 - p for a 1; its start is
// 0 or p. (p + (4096 - 2p) = 4096 - p; modular arithmetic is fine.)
inline std::uint32_t frequency_of(std::uint32_t p, std::uint32_t mask) {
  return p + (mask & (kProbabilityScale - 2 * p));
}
inline std::uint32_t start_of(std::uint32_t p, std::uint32_t mask) { return p & mask; }

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

inline std::uint16_t adapt(std::uint32_t p, std::uint32_t mask) {
  const std::uint32_t a = after_zero(p);
  const std::uint32_t b = after_one(p);
  return static_cast<std::uint16_t>(a ^ (mask & (a ^ b)));
}

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

}  // namespace

std::string_view render(AransError error) { return kMessages[static_cast<std::size_t>(error)]; }

std::uint32_t divide_by_frequency(std::uint32_t x, std::uint32_t frequency) {
  return quotient(x, frequency);
}

void append_leb128(std::vector<std::uint8_t>& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<std::uint8_t>(value | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<std::uint8_t>(value));
}

AResult<std::uint64_t> rv(std::span<const std::uint8_t> buffer, std::size_t& cursor) {
  constexpr unsigned kMaxBytes = 10;
  std::uint64_t value = 0;
  for (unsigned i = 0; i < kMaxBytes; ++i) {
    if (cursor >= buffer.size()) return AransError::Truncated;
    const std::uint8_t byte = buffer[cursor++];
    if (i == kMaxBytes - 1) {
      // 9 * 7 = 63 bits are taken; the tenth byte can only supply bit 63.
      if (byte & 0x80) return AransError::InconsistentLength;
      return value | std::uint64_t{byte & 1u} << 63;
    }
    value |= std::uint64_t{byte & 0x7Fu} << (7 * i);
    if (!(byte & 0x80)) return value;
  }
  return value;  // not reached: the tenth byte returns above
}

std::vector<std::uint8_t> encode_plane(std::span<const std::uint8_t> plane,
                                       std::uint8_t context_bits) {
  if (plane.empty()) return {};
  context_bits = std::min(context_bits, kMaxContextBits);
  const unsigned shift = context_shift(context_bits);
  std::vector<std::uint16_t> table(std::size_t{256} << context_bits, kInitialProbability);

  // Forward pass: every decision as p | bit << 12, eight per byte, in coding
  // order. p (1..4095) and the bit determine the pair: a 0 is (p, 0), a 1 is
  // (4096 - p, p).
  const std::size_t decision_count = plane.size() * 8;
  std::vector<std::uint16_t> decisions(decision_count);
  std::uint16_t* d = decisions.data();
  std::uint8_t previous = 0;
  for (const std::uint8_t byte : plane) {
    std::uint16_t* const probabilities = table.data() + (std::size_t{previous} >> shift) * 256;
    std::uint32_t node = 1;
    for (int k = 7; k >= 0; --k) {
      const std::uint32_t bit = (byte >> k) & 1u;
      const std::uint32_t p = probabilities[node];
      *d++ = static_cast<std::uint16_t>(p | bit << kProbabilityBits);
      probabilities[node] = adapt(p, mask_of(bit));
      node = 2 * node + bit;
    }
    previous = byte;
  }

  // Reverse pass. rANS is last-in first-out, so the decisions are coded from
  // the last to the first and the decoder reads the words back in the order
  // of increasing decision index. The words go into the decision list itself,
  // filled from its end: when decision i is coded (after reading it) at most
  // decision_count - i words exist, so the next one lands in slot
  // decision_count - 1 - emitted >= i, a slot already consumed. At most one
  // word per decision: after one 16-bit shift x < 2^16 <= freq << 20.
  std::uint32_t x = kStateLow;
  std::size_t emitted = 0;
  std::uint16_t* const words_end = decisions.data() + decision_count;
  for (std::size_t i = decision_count; i-- > 0;) {
    const std::uint32_t entry = decisions[i];
    const std::uint32_t p = entry & kProbabilityMask;
    const std::uint32_t mask = mask_of(entry >> kProbabilityBits);
    const std::uint32_t frequency = frequency_of(p, mask);
    const std::uint32_t start = start_of(p, mask);
    if (x >= frequency << kEncodeShift) {
      *(words_end - 1 - emitted) = static_cast<std::uint16_t>(x);
      ++emitted;
      x >>= 16;
    }
    // x / freq * 4096 + x % freq + start, with q = x / freq:
    // q * 4096 + (x - q * freq) = x + q * (4096 - freq).
    const std::uint32_t q = quotient(x, frequency);
    x = x + q * (kProbabilityScale - frequency) + start;
  }

  std::vector<std::uint8_t> code(4 + 2 * emitted);
  store_le32(code.data(), x);
  const std::uint16_t* const words = words_end - emitted;
  for (std::size_t j = 0; j < emitted; ++j) {
    code[4 + 2 * j] = static_cast<std::uint8_t>(words[j]);
    code[5 + 2 * j] = static_cast<std::uint8_t>(words[j] >> 8);
  }
  return code;
}

AResult<std::vector<std::uint8_t>> decode_plane(std::span<const std::uint8_t> code,
                                                std::uint64_t byte_count,
                                                std::uint8_t context_bits) {
  if (byte_count == 0) return std::vector<std::uint8_t>{};
  if (context_bits > kMaxContextBits) return AransError::InconsistentLength;
  if (code.size() < 4) return AransError::Truncated;

  std::uint32_t x = load_le32(code.data());
  const std::uint8_t* in = code.data() + 4;
  const std::uint8_t* const in_end = code.data() + code.size();

  std::vector<std::uint16_t> table;
  if (!tessary::try_resize(table, std::size_t{256} << context_bits)) {
    return AransError::InconsistentLength;
  }
  std::fill(table.begin(), table.end(), kInitialProbability);
  const unsigned shift = context_shift(context_bits);

  std::vector<std::uint8_t> out;
  std::uint64_t capacity = std::min(byte_count, kInitialOutputBytes);
  if (!tessary::try_resize(out, capacity)) return AransError::InconsistentLength;

  std::uint8_t previous = 0;
  for (std::uint64_t i = 0; i < byte_count; ++i) {
    if (i == capacity) {
      capacity = std::min(byte_count, 2 * capacity);
      if (!tessary::try_resize(out, capacity)) return AransError::InconsistentLength;
    }
    std::uint16_t* const probabilities = table.data() + (std::size_t{previous} >> shift) * 256;
    std::uint32_t node = 1;
    for (int k = 0; k < 8; ++k) {
      const std::uint32_t p = probabilities[node];
      const std::uint32_t s = x & kProbabilityMask;
      const std::uint32_t bit = s >= p;
      const std::uint32_t mask = mask_of(bit);
      const std::uint32_t frequency = frequency_of(p, mask);
      const std::uint32_t start = start_of(p, mask);
      // frequency * (x >> 12) + s - start <= 4095 * 2^20 - 1: no overflow.
      x = frequency * (x >> kProbabilityBits) + s - start;
      // One word suffices for any state that was normalised, but a forged
      // start state below 2^16 may need several.
      while (x < kStateLow) {
        if (in_end - in < 2) return AransError::Truncated;
        x = x << 16 | std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8;
        in += 2;
      }
      probabilities[node] = adapt(p, mask);
      node = 2 * node + bit;
    }
    previous = static_cast<std::uint8_t>(node);
    out[i] = previous;
  }
  return out;
}

std::vector<std::uint8_t> encode_stream(std::span<const std::uint8_t> input) {
  const std::size_t n = input.size();
  if (n <= kMaxShortFormBytes) return {input.begin(), input.end()};

  const std::size_t pairs = n / 2;
  std::vector<std::uint8_t> even(pairs);
  std::vector<std::uint8_t> odd(pairs);
  for (std::size_t i = 0; i < pairs; ++i) {
    even[i] = input[2 * i];
    odd[i] = input[2 * i + 1];
  }
  const std::uint8_t context_bits = context_bits_for(n);
  const std::vector<std::uint8_t> code0 = encode_plane(even, context_bits);
  const std::vector<std::uint8_t> code1 = encode_plane(odd, context_bits);

  std::vector<std::uint8_t> out;
  out.reserve(code0.size() + code1.size() + 16);
  out.push_back(static_cast<std::uint8_t>(n & 1));
  out.push_back(context_bits);
  append_leb128(out, pairs);
  append_leb128(out, code0.size());
  out.insert(out.end(), code0.begin(), code0.end());
  out.insert(out.end(), code1.begin(), code1.end());
  if (n & 1) out.push_back(input[n - 1]);
  return out;
}

AResult<std::vector<std::uint8_t>> decode_stream(std::span<const std::uint8_t> stream) {
  if (stream.size() <= kMaxShortFormBytes) {
    return std::vector<std::uint8_t>(stream.begin(), stream.end());
  }
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
  auto plane0 = decode_plane(stream.subspan(cursor, end0 - cursor), p, context_bits);
  if (!plane0) return plane0.error();
  auto plane1 = decode_plane(stream.subspan(end0, stream.size() - odd - end0), p, context_bits);
  if (!plane1) return plane1.error();

  std::vector<std::uint8_t> out;
  if (!tessary::try_resize(out, 2 * p + odd)) return AransError::InconsistentLength;
  const std::uint8_t* const a = plane0.value().data();
  const std::uint8_t* const b = plane1.value().data();
  for (std::uint64_t i = 0; i < p; ++i) {
    out[2 * i] = a[i];
    out[2 * i + 1] = b[i];
  }
  if (odd) out.back() = stream.back();
  return out;
}

}  // namespace corvane::arans
