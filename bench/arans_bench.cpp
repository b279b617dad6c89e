// The rANS coder against raw DEFLATE (zlib level 6, the codec's other coder)
// on the same coefficient string, in the same run. MB/s are of the
// uncoded bytes in both directions; each coder reports its coded size.
// The string is read from the file named by CORVANE_BENCH_COEFFICIENTS when
// set (bench/peers.py passes the coefficient string of a real signal), and
// synthesised otherwise.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "coders/arans.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// 2 MiB of little-endian int16 values shaped like a quantised multi-level
// wavelet decomposition: a short, large-valued approximation band (a random
// walk), then detail bands whose Laplacian scale halves from the deepest to
// the finest and most of whose values are cut to zero.
Bytes synthetic_coefficient_string() {
  constexpr std::size_t kCount = std::size_t{1} << 20;
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<std::int16_t> values;
  values.reserve(kCount);
  double walk = 0.0;
  for (std::size_t i = 0; i < kCount / 256; ++i) {
    walk = std::clamp(walk + 40.0 * (unit(rng) - 0.5), -3000.0, 3000.0);
    values.push_back(static_cast<std::int16_t>(walk));
  }
  double scale = 64.0;
  for (std::size_t band = kCount / 256; values.size() < kCount; band *= 2, scale /= 2) {
    for (std::size_t i = 0; i < band && values.size() < kCount; ++i) {
      const double magnitude = -scale * std::log(1.0 - unit(rng));
      const bool cut = magnitude < 1.5 || unit(rng) < 0.3;
      const double v = unit(rng) < 0.5 ? -magnitude : magnitude;
      values.push_back(cut ? 0 : static_cast<std::int16_t>(v));
    }
  }
  Bytes out;
  out.reserve(2 * kCount);
  for (const std::int16_t v : values) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8));
  }
  return out;
}

const Bytes& coefficient_string() {
  static const Bytes data = [] {
    if (const char* path = std::getenv("CORVANE_BENCH_COEFFICIENTS")) {
      std::ifstream in(path, std::ios::binary);
      return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    return synthetic_coefficient_string();
  }();
  return data;
}

Bytes deflate_raw(const Bytes& input) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, static_cast<uLong>(input.size())));
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes inflate_raw(const Bytes& input, std::size_t size) {
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out(size);
  z.next_in = const_cast<Bytef*>(input.data());
  z.avail_in = static_cast<uInt>(input.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return out;
}

// Throughput of uncoded bytes, the coded size, the compression ratio and the
// coded size relative to raw DEFLATE's on the same bytes.
void report(benchmark::State& state, std::size_t coded_bytes) {
  const auto& input = coefficient_string();
  static const std::size_t deflate_bytes = deflate_raw(input).size();
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
  state.counters["coded_bytes"] = static_cast<double>(coded_bytes);
  state.counters["ratio"] = static_cast<double>(input.size()) / static_cast<double>(coded_bytes);
  state.counters["size_vs_deflate"] =
      static_cast<double>(coded_bytes) / static_cast<double>(deflate_bytes);
}

void BM_AransEncode(benchmark::State& state) {
  const auto& input = coefficient_string();
  std::size_t coded = 0;
  for (auto _ : state) {
    auto stream = corvane::arans::encode_stream(input);
    if (!stream) return state.SkipWithError("out of memory");
    coded = stream.value().size();
    benchmark::DoNotOptimize(stream.value().data());
  }
  report(state, coded);
}

void BM_AransDecode(benchmark::State& state) {
  const auto& input = coefficient_string();
  auto encoded = corvane::arans::encode_stream(input);
  if (!encoded) return state.SkipWithError("out of memory");
  const auto& stream = encoded.value();
  auto back = corvane::arans::decode_stream(stream);
  if (!back || !(back.value() == input)) {
    state.SkipWithError("round trip failed");
    return;
  }
  for (auto _ : state) {
    auto out = corvane::arans::decode_stream(stream);
    benchmark::DoNotOptimize(out.value().data());
  }
  report(state, stream.size());
}

void BM_DeflateCompress(benchmark::State& state) {
  const auto& input = coefficient_string();
  std::size_t coded = 0;
  for (auto _ : state) {
    Bytes out = deflate_raw(input);
    coded = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  report(state, coded);
}

void BM_DeflateInflate(benchmark::State& state) {
  const auto& input = coefficient_string();
  const Bytes compressed = deflate_raw(input);
  if (inflate_raw(compressed, input.size()) != input) {
    state.SkipWithError("round trip failed");
    return;
  }
  for (auto _ : state) {
    Bytes out = inflate_raw(compressed, input.size());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, compressed.size());
}

BENCHMARK(BM_AransEncode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateCompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AransDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateInflate)->Unit(benchmark::kMillisecond);

}  // namespace
