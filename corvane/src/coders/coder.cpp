#include "coders/coder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "coders/arans.h"
#include "coders/deflate.h"

namespace corvane::coders {
namespace {

static_assert(std::endian::native == std::endian::little,
              "coefficients are read as the host's int16 from the little-endian string");

constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

constexpr std::array<Coder, 2> kCoders = {{
    {EntropyCoder::Deflate, 0, kNoLimit, &deflate::encode, &deflate::decode},
    {EntropyCoder::Arans, 1, arans::kMaxPairs, &arans::encode, &arans::decode},
}};

// Coefficient bytes per payload byte up to which a payload is taken at its
// word: a sink is given room for every coefficient the bands need before
// decoding starts. A payload that would have to expand more than this (a
// very flat signal, or a header's forged count) fills a sink that grows as
// coefficients actually arrive, so that memory follows the payload rather
// than the claim.
constexpr std::uint64_t kTrustedRatio = 64;
// The first block of a sink that is not given all its room at once.
constexpr std::uint64_t kFirstBlockCoefficients = std::uint64_t{1} << 15;

// q * step for `count` little-endian int16 values; one pass that vectorises.
void dequantise(const std::uint8_t* bytes, std::uint64_t count, float step, float* out) {
  for (std::uint64_t i = 0; i < count; ++i) {
    std::int16_t q;
    std::memcpy(&q, bytes + 2 * i, 2);
    out[i] = static_cast<float>(q) * step;
  }
}

}  // namespace

CResult<> CoefficientSink::reserve(std::uint64_t count) {
  return make_room(std::min(count, needed_));
}

CResult<> CoefficientSink::reserve_for_payload(std::uint64_t payload_bytes) {
  const std::uint64_t trusted = payload_bytes * kTrustedRatio / 2;
  return reserve(needed_ <= trusted ? needed_ : kFirstBlockCoefficients);
}

CResult<> CoefficientSink::make_room(std::uint64_t count) {
  if (count <= coefficients_.size()) return {};
  // Every kept coefficient is written before it is read, so neither the
  // first block nor a larger one needs clearing.
  auto larger = tessary::Buffer<float>::for_overwrite(count);
  if (!larger) return CorvaneError::out_of_memory(larger.error());
  if (kept_ > 0) std::memcpy(larger.value().data(), coefficients_.data(), kept_ * sizeof(float));
  coefficients_ = std::move(larger).value();
  return {};
}

CResult<> CoefficientSink::take(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return {};
  const std::uint64_t with_odd_byte = bytes.size() + (has_odd_byte_ ? 1 : 0);
  const std::uint64_t count = std::min(with_odd_byte / 2, needed_ - kept_);
  if (count > 0) {
    if (kept_ + count > coefficients_.size()) {
      const std::uint64_t room =
          std::min(needed_, std::max(2 * coefficients_.size(), kept_ + count));
      if (auto s = make_room(room); !s) return s;
    }
    std::uint64_t done = 0;
    if (has_odd_byte_) {
      const std::uint8_t pair[2] = {odd_byte_, bytes[0]};
      dequantise(pair, 1, step_, coefficients_.data() + kept_);
      done = 1;
    }
    dequantise(bytes.data() + done, count - done, step_, coefficients_.data() + kept_ + done);
    kept_ += count;
  }
  has_odd_byte_ = with_odd_byte % 2 == 1;
  odd_byte_ = bytes.back();
  return {};
}

tessary::Buffer<float> CoefficientSink::release() {
  // Shrinking keeps the block where it is and cannot fail.
  if (coefficients_.size() > kept_) static_cast<void>(coefficients_.resize(kept_));
  kept_ = 0;
  return std::move(coefficients_);
}

const Coder& coder_for(EntropyCoder coder) {
  const EntropyCoder runs = coder == EntropyCoder::Auto ? kAutoCoder : coder;
  for (const Coder& c : kCoders) {
    if (c.value == runs) return c;
  }
  return kCoders[0];  // not reached for valid options
}

const Coder* coder_for_header_byte(std::uint8_t header_byte) {
  for (const Coder& c : kCoders) {
    if (c.header_byte == header_byte) return &c;
  }
  return nullptr;
}

CResult<> check_capacity(const Coder& coder, std::uint64_t coefficient_count) {
  if (coefficient_count <= coder.max_coefficients) return {};
  const Coder& unlimited =
      *std::find_if(kCoders.begin(), kCoders.end(),
                    [](const Coder& c) { return c.max_coefficients == kNoLimit; });
  return CorvaneError::unsupported_configuration(
      "Too many coefficients for the " + std::string(name_of(coder.value)) + " coder (" +
      std::to_string(coefficient_count) + ", at most " + std::to_string(coder.max_coefficients) +
      "); use the \"" + std::string(name_of(unlimited.value)) + "\" coder");
}

}  // namespace corvane::coders
