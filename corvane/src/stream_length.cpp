#include "stream_length.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "bytes.h"
#include "coders/arans.h"
#include "core/buffer.h"

namespace corvane {
namespace {

// How the coder's encoder works, which the bounds below rely on: it codes a
// plane's decisions from the last to the first. Its state y lies in
// [2^16, 2^32). Before a decision coded with frequency f (and start s), if
// y >= f * 2^20 it emits 16 bits, x = floor(y / 2^16), else x = y; then
//   y' = floor(x / f) * M + (x mod f) + s,   M = 4096.
// It starts at 2^16, and a plane's code is the final state (4 bytes) and the
// W words emitted: 4 + 2W bytes.
//
// (a) x >= 16 f always (after an emission floor(y / 2^16) >= 16 f), and
//     x >= 2^16 unless a word was just emitted (y' >= floor(x / f) M >= 16 M).
// (b) With r = x mod f, y' = (M / f) x (1 + eta), where
//       for a 0 (s = 0, f = p):      eta = -r (M - f) / (M x),
//       for a 1 (s = p, f = M - p):  eta = p (f - r) / (M x),
//     so |eta| <= f (M - f) / (M x), and just after an emission (x >= 16 f)
//     |eta| <= A = (M - f_min) / (16 M) < 1/16, f_min being the smallest
//     frequency the model gives.
// (c) An emission divides y by 2^16 and by 1 / (1 - eps), where
//     1 - eps > x / (x + 1) >= 16 f_min / (16 f_min + 1) =: 2^-E.
// (d) Between emissions the eta add up to little, because the state grows:
//     with u = f / M and t = M / x <= 1/16 (x >= 2^16), the next state
//     y' >= x / u - M (1 - u) gives
//       M / x - M / y' >= t (1 - u) (1 - t u),
//     while |eta| <= t u (1 - u) by (b), which is therefore at most
//     u / (1 - t u) <= 16/15 times the fall of M / x. Over a run of
//     decisions without an emission (at most W + 1 runs, each starting from
//     x >= 2^16) that fall is at most M / 2^16, so |eta| adds up to at most
//     R = 16/15 M / 2^16 = 1/15 per run.
// Following log2 of the state from 2^16 to the final y_F in [2^16, 2^32), with
// I = sum log2(M / f) the ideal code length in bits:
//   16 W = I + sum log2(1 + eta) + sum over emissions log2(1 - eps) + 16 - log2 y_F.
// Upper bound: log2(1 + eta) <= eta / ln 2, and the last two terms are <= 0:
//   16 W <= I + (W A + (W + 1) R) / ln 2.
// Lower bound: log2(1 + eta) >= 16/15 eta / ln 2 for eta in (-1/16, 0], and
// 16 - log2 y_F > -16:
//   16 W > I - 16/15 (W A + (W + 1) R) / ln 2 - W E - 16.
// Per 16-bit word that allows about 0.19 bits either way, 1.2 %. It is the
// worst case, a state at the bottom of its range after every emission with
// every rounding one way; the sign of eta follows x mod f, which varies from
// decision to decision, and real codes come within a few bytes of I / 8.
constexpr std::uint32_t kScale = arans::kProbabilityScale;
constexpr double kWordBits = 16.0;  // bits per emitted word

constexpr std::uint32_t after_zero(std::uint32_t p) {
  return p + ((kScale - p) >> arans::kAdaptationShift);
}
constexpr std::uint32_t after_one(std::uint32_t p) { return p - (p >> arans::kAdaptationShift); }

// The probabilities the model reaches from its initial one: each update
// moves p toward its end of the range and stops short of it, at the fixed
// points of the two updates.
constexpr std::uint32_t fixed_point(std::uint32_t (*update)(std::uint32_t)) {
  std::uint32_t p = arans::kInitialProbability;
  while (update(p) != p) p = update(p);
  return p;
}
constexpr std::uint32_t kLowestP = fixed_point(after_one);
constexpr std::uint32_t kHighestP = fixed_point(after_zero);
static_assert([] {
  for (std::uint32_t p = kLowestP; p <= kHighestP; ++p) {
    if (after_zero(p) > kHighestP || after_one(p) < kLowestP) return false;
  }
  return kLowestP <= arans::kInitialProbability && arans::kInitialProbability <= kHighestP;
}());
// The smallest frequency of a coded bit: p for a 0, M - p for a 1.
constexpr std::uint32_t kLowestFrequency = std::min(kLowestP, kScale - kHighestP);

// How many times in a row a node must see the same bit before its
// probability sits at that bit's fixed point, whatever it was before. Both
// updates keep the order of probabilities (checked below), so no start
// takes longer than the one at the other end of the range.
constexpr std::uint32_t steps_to_settle(std::uint32_t (*update)(std::uint32_t),
                                        std::uint32_t from, std::uint32_t fixed) {
  std::uint32_t steps = 0;
  for (std::uint32_t q = from; q != fixed; q = update(q)) ++steps;
  return steps;
}
static_assert([] {
  for (std::uint32_t p = kLowestP; p < kHighestP; ++p) {
    if (after_zero(p) > after_zero(p + 1) || after_one(p) > after_one(p + 1)) return false;
  }
  return true;
}());
constexpr std::uint64_t kSettleSteps =
    std::max(steps_to_settle(after_zero, kLowestP, kHighestP),
             steps_to_settle(after_one, kHighestP, kLowestP));

// Units of the cost table per bit, and how far above log2(M / f) an entry
// may be: the ceiling, plus a unit for the rounding of std::log2.
constexpr double kCostUnit = 16777216.0;  // 2^24
constexpr std::uint64_t kCostSlack = 2;

// What the model does with each decision entry p | bit << 12 (p the
// probability of a 0, out of M): the cost, ceil(log2(M / f) * 2^24) + 1, and
// the probability after the update. And the cost of each byte once every
// node on its path has settled at its bit's fixed point.
struct DecisionTable {
  std::uint32_t cost[2 * kScale];
  std::uint16_t adapted[2 * kScale];
  std::uint64_t settled_cost[256];

  DecisionTable() : cost{}, adapted{}, settled_cost{} {
    for (std::uint32_t bit = 0; bit < 2; ++bit) {
      for (std::uint32_t p = 1; p < kScale; ++p) {
        const double f = bit == 0 ? p : kScale - p;
        cost[bit * kScale + p] =
            static_cast<std::uint32_t>(std::ceil(std::log2(kScale / f) * kCostUnit)) + 1;
        adapted[bit * kScale + p] = static_cast<std::uint16_t>(bit ? after_one(p) : after_zero(p));
      }
    }
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
      for (std::uint32_t k = 0; k < 8; ++k) {
        const std::uint32_t bit = (byte >> k) & 1u;
        settled_cost[byte] += cost[bit * kScale + (bit ? kLowestP : kHighestP)];
      }
    }
  }
};

const DecisionTable& decision_table() {
  static const DecisionTable table;
  return table;
}

// The model over one byte of a plane: its cost, with `row` updated. The
// node of the k-th bit (most significant first) is the byte's top k bits
// below a leading 1, so the eight steps are known before any probability is
// read and the loads do not wait on each other.
inline std::uint64_t byte_cost(std::uint16_t* row, std::uint32_t byte, const DecisionTable& table) {
  const std::uint32_t path = 0x100u | byte;
  std::uint64_t cost = 0;
#pragma GCC unroll 8
  for (int k = 0; k < 8; ++k) {
    const std::uint32_t node = path >> (8 - k);
    const std::uint32_t entry = row[node] | ((path >> (7 - k)) & 1u) << arans::kProbabilityBits;
    cost += table.cost[entry];
    row[node] = table.adapted[entry];
  }
  return cost;
}

std::uint64_t leb128_bytes(std::uint64_t value) {
  std::uint8_t scratch[kMaxLeb128Bytes];
  return put_leb128(scratch, value);
}

}  // namespace

CResult<std::array<PlaneTally, 2>> tally_planes(std::span<const std::uint8_t> input,
                                                std::uint64_t pairs, std::uint8_t context_bits) {
  const std::uint8_t bits = std::min(context_bits, arans::kMaxContextBits);
  const std::size_t rows = std::size_t{256} << bits;
  auto made = tessary::Buffer<std::uint16_t>::for_overwrite(2 * rows);
  if (!made) return CorvaneError::out_of_memory(made.error());
  tessary::Buffer<std::uint16_t>& tables = made.value();
  std::fill(tables.begin(), tables.end(), arans::kInitialProbability);
  const unsigned shift = 8u - bits;
  const DecisionTable& table = decision_table();

  // Both planes in one loop: each is a chain of dependent table updates, and
  // two chains keep the processor busier than one.
  std::uint16_t* const plane0 = tables.data();
  std::uint16_t* const plane1 = tables.data() + rows;
  std::uint64_t cost0 = 0, cost1 = 0;
  std::uint32_t previous0 = 0, previous1 = 0;
  const std::uint8_t* in = input.data();
  std::uint64_t repeats = 0;  // pairs in a row equal to the pair before them
  for (std::uint64_t i = 0; i < pairs; ++i) {
    const std::uint32_t byte0 = in[2 * i];
    const std::uint32_t byte1 = in[2 * i + 1];
    repeats = i > 0 && byte0 == previous0 && byte1 == previous1 ? repeats + 1 : 0;
    if (repeats > kSettleSteps) {
      // The pairs before this one coded the same bytes in the same contexts
      // kSettleSteps times, so every node on both paths sits at its fixed
      // point: the rest of the run costs the same per pair and changes no
      // probability. (Long runs of zeros fill the detail bands that a
      // cutoff thins out.)
      std::uint64_t end = i + 1;
      while (end < pairs && in[2 * end] == byte0 && in[2 * end + 1] == byte1) ++end;
      cost0 += (end - i) * table.settled_cost[byte0];
      cost1 += (end - i) * table.settled_cost[byte1];
      i = end - 1;
      continue;
    }
    cost0 += byte_cost(plane0 + (previous0 >> shift) * 256, byte0, table);
    cost1 += byte_cost(plane1 + (previous1 >> shift) * 256, byte1, table);
    previous0 = byte0;
    previous1 = byte1;
  }
  return std::array<PlaneTally, 2>{PlaneTally{8 * pairs, cost0}, PlaneTally{8 * pairs, cost1}};
}

LengthRange plane_code_length(const PlaneTally& tally) {
  const double ln2 = std::log(2.0);
  const double ideal_high = static_cast<double>(tally.cost) / kCostUnit;
  const double ideal_low =
      static_cast<double>(tally.cost - std::min(tally.cost, kCostSlack * tally.decisions)) /
      kCostUnit;
  const double scale = kScale;
  const double a = (scale - kLowestFrequency) / (16.0 * scale);
  const double e = std::log2(1.0 + 1.0 / (16.0 * kLowestFrequency));
  const double r = 16.0 / 15.0 * scale / 65536.0;
  const double words_high = (ideal_high + r / ln2) / (kWordBits - (a + r) / ln2);
  const double k = 16.0 / 15.0 / ln2;
  const double words_low = (ideal_low - k * r - kWordBits) / (kWordBits + k * (a + r) + e);
  // A word of slack on each side covers the rounding of the arithmetic
  // above; the coder emits at most one word per decision.
  const double most = std::min(std::floor(words_high) + 1.0, static_cast<double>(tally.decisions));
  const double least = std::max(std::ceil(words_low) - 1.0, 0.0);
  return {4 + 2 * static_cast<std::uint64_t>(least), 4 + 2 * static_cast<std::uint64_t>(most)};
}

CResult<LengthRange> arans_stream_length(std::span<const std::uint8_t> input) {
  const std::uint64_t n = input.size();
  if (n <= arans::kMaxShortFormBytes) return LengthRange{n, n};
  const std::uint64_t pairs = n / 2;
  // The coder's choice of context bits.
  const std::uint8_t context_bits = n < arans::kLargeInputBytes ? 3 : arans::kMaxContextBits;
  auto tallies = tally_planes(input, pairs, context_bits);
  if (!tallies) return std::move(tallies).error();
  const LengthRange plane0 = plane_code_length(tallies.value()[0]);
  const LengthRange plane1 = plane_code_length(tallies.value()[1]);
  // Odd flag, context bits, LEB128 pair count and plane-0 length, the two
  // codes and the odd input's last byte.
  const std::uint64_t fixed = 2 + leb128_bytes(pairs) + (n & 1);
  return LengthRange{fixed + leb128_bytes(plane0.lowest) + plane0.lowest + plane1.lowest,
                     fixed + leb128_bytes(plane0.highest) + plane0.highest + plane1.highest};
}

}  // namespace corvane
