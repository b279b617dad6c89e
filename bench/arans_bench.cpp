// The rANS coder side by side with its earlier loops (bench/reference_arans)
// and with raw DEFLATE at level 6 (the codec's other coder), on the same
// coefficient strings, in one run:
//   ECG    1,000,000 samples of data/scipy_ecg.npy extended by circularly
//          shifted copies (as bench/peers.py does), default options;
//   noisy  the same ECG with white Gaussian noise of 2 % of its range added,
//          so that far fewer detail coefficients are cut to zero;
//   file   the string in the file named by CORVANE_BENCH_COEFFICIENTS, if set.
// The repetitions of all rows run in turn (every coder and direction of every
// string once per round), so a slow spell of a shared machine falls on them
// alike; medians are printed with the ratios. Before timing, the library's
// streams are checked byte for byte against the reference's, and every
// decoder's output against the string.
//   corvane_coder_bench [--repeat N] [--json]
// MB/s are of the uncoded string in both directions; ns/decision counts the
// eight binary decisions of every byte.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "coders/arans.h"
#include "compressor.h"
#include "header.h"
#include "reference_arans.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSamples = 1'000'000;
// The shift between the circularly shifted copies of the ECG (bench/codec.py).
constexpr std::size_t kCopyShift = 7919;

// The float64 samples of a little-endian .npy file holding one 1-D '<f8' array.
std::vector<double> load_npy_f64(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.size() < 10 || std::memcmp(file.data(), "\x93NUMPY", 6) != 0) return {};
  const bool wide_header = file[6] >= 2;
  const std::size_t header_bytes =
      wide_header ? file[8] | file[9] << 8 | std::size_t{file[10]} << 16 | std::size_t{file[11]} << 24
                  : file[8] | std::size_t{file[9]} << 8;
  const std::size_t data_at = (wide_header ? 12 : 10) + header_bytes;
  const std::string header(file.begin() + (wide_header ? 12 : 10), file.begin() + data_at);
  if (header.find("'<f8'") == std::string::npos || data_at > file.size()) return {};
  std::vector<double> values((file.size() - data_at) / sizeof(double));
  std::memcpy(values.data(), file.data() + data_at, values.size() * sizeof(double));
  return values;
}

// The ECG extended to n samples by concatenating copies rolled by 0, 7919,
// 2 * 7919, ... (NumPy's roll: copy[i] = ecg[(i - shift) mod length]).
std::vector<float> ecg_signal(std::size_t n) {
  const std::vector<double> ecg = load_npy_f64(CORVANE_SOURCE_DIR "/data/scipy_ecg.npy");
  std::vector<float> x;
  if (ecg.empty()) return x;
  x.reserve(n);
  const std::size_t length = ecg.size();
  for (std::size_t shift = 0; x.size() < n; shift += kCopyShift) {
    for (std::size_t i = 0; i < length && x.size() < n; ++i) {
      x.push_back(static_cast<float>(ecg[(i + length - shift % length) % length]));
    }
  }
  return x;
}

std::vector<float> with_noise(std::vector<float> x, double fraction_of_range) {
  const auto [lo, hi] = std::minmax_element(x.begin(), x.end());
  std::mt19937 rng(2024);
  std::normal_distribution<double> noise(0.0, fraction_of_range * (*hi - *lo));
  for (float& v : x) v = static_cast<float>(v + noise(rng));
  return x;
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

Bytes inflate_raw(const std::uint8_t* input, std::size_t input_bytes, std::size_t size) {
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out(size);
  z.next_in = const_cast<Bytef*>(input);
  z.avail_in = static_cast<uInt>(input_bytes);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return out;
}

// The coefficient string the codec codes for `samples` under the default
// options: the DEFLATE container's payload inflated.
Bytes coefficient_string(const std::vector<float>& samples) {
  const auto options = corvane::CompressionOptions::create(
      corvane::CompressionMethod::Cdf97, 11, corvane::CutoffLevel::Low,
      corvane::EntropyCoder::Deflate);
  auto container = corvane::compress(samples, options.value());
  if (!container) return {};
  const auto& c = container.value();
  // At most a few coefficients per sample beyond the padded transform.
  return inflate_raw(c.data() + corvane::kHeaderLen, c.size() - corvane::kHeaderLen,
                     4 * samples.size() + 4096);
}

std::string cpu_model() {
  std::ifstream in("/proc/cpuinfo");
  std::string line, name = "unknown CPU", family, model;
  const auto value = [&line] { return line.substr(line.find(':') + 2); };
  while (std::getline(in, line)) {
    if (line.rfind("model name", 0) == 0) name = value();
    else if (line.rfind("cpu family", 0) == 0) family = value();
    else if (line.rfind("model\t", 0) == 0) model = value();
    if (line.empty() && !model.empty()) break;
  }
  return name + " (family " + family + ", model " + model + ")";
}

struct Row {
  const char* name;
  std::function<void()> run;
  std::vector<double> seconds;
};

// Keeps a result the optimiser would otherwise be free to drop.
template <class Array>
void keep(const Array& bytes) { asm volatile("" : : "r"(bytes.data()) : "memory"); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

struct Subject {
  std::string name;
  Bytes input;
  Bytes stream;      // the library's, identical to the reference's
  Bytes compressed;  // raw DEFLATE
  std::vector<Row> rows;
};

// Builds the six rows of one string after checking the coders against each
// other and against the string; false (with the reason printed) on a mismatch.
bool prepare(Subject& s) {
  auto encoded = corvane::arans::encode_stream(s.input);
  if (!encoded) {
    std::printf("%s: out of memory\n", s.name.c_str());
    return false;
  }
  s.stream.assign(encoded.value().begin(), encoded.value().end());
  if (bench_reference::encode_stream(s.input) != s.stream) {
    std::printf("%s: the library's stream differs from the reference's\n", s.name.c_str());
    return false;
  }
  auto decoded = corvane::arans::decode_stream(s.stream);
  auto reference = bench_reference::decode_stream(s.stream);
  s.compressed = deflate_raw(s.input);
  if (!decoded || !(decoded.value() == std::span<const std::uint8_t>(s.input)) || !reference || reference.value() != s.input ||
      inflate_raw(s.compressed.data(), s.compressed.size(), s.input.size()) != s.input) {
    std::printf("%s: a decoder does not restore the string\n", s.name.c_str());
    return false;
  }
  const Bytes& in = s.input;
  const Bytes& stream = s.stream;
  const Bytes& compressed = s.compressed;
  s.rows = {
      {"encode new", [&] { keep(corvane::arans::encode_stream(in).value()); }, {}},
      {"encode reference", [&] { keep(bench_reference::encode_stream(in)); }, {}},
      {"encode zlib-6", [&] { keep(deflate_raw(in)); }, {}},
      {"decode new", [&] { keep(corvane::arans::decode_stream(stream).value()); }, {}},
      {"decode reference", [&] { keep(bench_reference::decode_stream(stream).value()); }, {}},
      {"decode zlib-6",
       [&] { keep(inflate_raw(compressed.data(), compressed.size(), in.size())); }, {}},
  };
  return true;
}

// Seconds per call of one batch long enough to time (at least 20 ms).
double time_batch(const std::function<void()>& run) {
  using Clock = std::chrono::steady_clock;
  int calls = 1;
  for (;;) {
    const auto start = Clock::now();
    for (int k = 0; k < calls; ++k) run();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (elapsed >= 0.02 || calls >= 1 << 20) return elapsed / calls;
    calls *= 2;
  }
}

}  // namespace

int main(int argc, char** argv) {
  int repeat = 15;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) repeat = std::atoi(argv[++i]);
    else if (std::strcmp(argv[i], "--json") == 0) json = true;
  }

  std::vector<Subject> subjects;
  const std::vector<float> ecg = ecg_signal(kSamples);
  if (!ecg.empty()) {
    subjects.push_back({"ECG", coefficient_string(ecg), {}, {}, {}});
    subjects.push_back({"noisy", coefficient_string(with_noise(ecg, 0.02)), {}, {}, {}});
  }
  if (const char* path = std::getenv("CORVANE_BENCH_COEFFICIENTS")) {
    std::ifstream in(path, std::ios::binary);
    subjects.push_back({"file", Bytes((std::istreambuf_iterator<char>(in)),
                                      std::istreambuf_iterator<char>()), {}, {}, {}});
  }
  for (Subject& s : subjects) {
    if (s.input.empty() || !prepare(s)) return 1;
  }

  for (int round = 0; round < repeat; ++round) {
    for (Subject& s : subjects) {
      for (Row& row : s.rows) row.seconds.push_back(time_batch(row.run));
    }
  }

  if (json) {
    std::printf("{\"cpu\": \"%s\", \"strings\": {", cpu_model().c_str());
    for (std::size_t i = 0; i < subjects.size(); ++i) {
      const Subject& s = subjects[i];
      std::printf("%s\"%s\": {\"bytes\": %zu, \"arans_bytes\": %zu, \"zlib_bytes\": %zu",
                  i ? ", " : "", s.name.c_str(), s.input.size(), s.stream.size(),
                  s.compressed.size());
      for (const Row& row : s.rows) std::printf(", \"%s\": %.6g", row.name, median(row.seconds));
      std::printf("}");
    }
    std::printf("}}\n");
    return 0;
  }

  std::printf("CPU: %s; zlib %s; medians of %d interleaved rounds\n", cpu_model().c_str(),
              zlibVersion(), repeat);
  for (const Subject& s : subjects) {
    std::printf("\n%s coefficient string: %zu bytes; arans %zu bytes (ratio %.2f), zlib-6 %zu "
                "bytes (ratio %.2f); library and reference streams identical\n",
                s.name.c_str(), s.input.size(), s.stream.size(),
                double(s.input.size()) / double(s.stream.size()), s.compressed.size(),
                double(s.input.size()) / double(s.compressed.size()));
    std::printf("  %-18s %10s %10s %14s\n", "", "ms", "MB/s", "ns/decision");
    double t[6];
    for (std::size_t r = 0; r < s.rows.size(); ++r) {
      t[r] = median(s.rows[r].seconds);
      std::printf("  %-18s %10.2f %10.1f %14.2f\n", s.rows[r].name, t[r] * 1e3,
                  double(s.input.size()) / t[r] / 1e6, t[r] * 1e9 / (8.0 * double(s.input.size())));
    }
    std::printf("  encode: new / reference %.2fx, new / zlib-6 %.2fx (speed ratios)\n", t[1] / t[0],
                t[2] / t[0]);
    std::printf("  decode: new / reference %.2fx, new / zlib-6 %.2fx (speed ratios)\n", t[4] / t[3],
                t[5] / t[3]);
  }
  return 0;
}
