// Test-only command-line probe of the wavelet engine, so that Python tests can
// compare it with other libraries without widening the module's surface.
//
//   tessary_probe forward FAMILY MEMBER MODE LEVELS IN OUT
//       IN holds raw float32 samples; OUT receives the bands in pyramid order
//       (deepest approximation, deepest details, ..., finest details) and
//       stdout their lengths, space-separated, in the same order.
//   tessary_probe inverse FAMILY MEMBER MODE IN OUT LENGTH...
//       IN holds bands in pyramid order with the given lengths; OUT receives
//       the reconstruction.
//
// FAMILY is db or sym, MEMBER the number of vanishing moments (db4, sym4 are
// 4), MODE one of clamp, wrap, reflect, reflect101, zeros. "-" reads stdin or
// writes stdout. Exit status 1 with a message on stderr for any failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "core/border_mode.h"
#include "tessary.h"

namespace {

using tessary::BorderMode;

std::optional<BorderMode> parse_mode(const std::string& text) {
  if (text == "clamp") return BorderMode::Clamp;
  if (text == "wrap") return BorderMode::Wrap;
  if (text == "reflect") return BorderMode::Reflect;
  if (text == "reflect101") return BorderMode::Reflect101;
  if (text == "zeros") return BorderMode::Zeros;
  return std::nullopt;
}

tessary::DwtExecutorHandle<float> make(const std::string& family, long member, BorderMode mode) {
  if (family == "db" && member >= 1 && member <= 24) {
    return tessary::Tessary::make_daubechies_f32(
        static_cast<tessary::DaubechiesFamily>(member - 1), mode);
  }
  if (family == "sym" && member >= 2 && member <= 20) {
    return tessary::Tessary::make_symlet_f32(static_cast<tessary::SymletFamily>(member - 2), mode);
  }
  return nullptr;
}

bool read_floats(const std::string& path, std::vector<float>& out) {
  std::FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  float buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, sizeof(float), 4096, f)) > 0) out.insert(out.end(), buffer, buffer + got);
  if (f != stdin) std::fclose(f);
  return true;
}

bool write_floats(const std::string& path, const std::vector<float>& data) {
  std::FILE* f = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data.data(), sizeof(float), data.size(), f) == data.size();
  if (f != stdout) return std::fclose(f) == 0 && ok;
  return std::fflush(f) == 0 && ok;
}

int usage() {
  std::cerr << "usage: tessary_probe forward FAMILY MEMBER MODE LEVELS IN OUT\n"
               "       tessary_probe inverse FAMILY MEMBER MODE IN OUT LENGTH...\n";
  return 1;
}

int forward(const tessary::DwtExecutor<float>& e, unsigned long levels, const std::string& in,
            const std::string& out) {
  std::vector<float> x;
  if (!read_floats(in, x)) return std::cerr << "cannot read " << in << "\n", 1;
  auto m = e.multi_dwt(x, levels);
  if (!m.ok()) return std::cerr << tessary::render(m.error()) << "\n", 1;
  const auto& bands = m.value().levels;
  std::vector<float> data(bands.back().approximations.begin(),
                          bands.back().approximations.end());
  std::vector<std::size_t> lengths = {bands.back().approximations.size()};
  for (auto level = bands.rbegin(); level != bands.rend(); ++level) {
    data.insert(data.end(), level->details.begin(), level->details.end());
    lengths.push_back(level->details.size());
  }
  if (!write_floats(out, data)) return std::cerr << "cannot write " << out << "\n", 1;
  for (std::size_t k = 0; k < lengths.size(); ++k) std::cout << (k ? " " : "") << lengths[k];
  std::cout << "\n";
  return 0;
}

int inverse(const tessary::DwtExecutor<float>& e, const std::string& in, const std::string& out,
            const std::vector<std::size_t>& lengths) {
  std::vector<float> data;
  if (!read_floats(in, data)) return std::cerr << "cannot read " << in << "\n", 1;
  std::size_t total = 0;
  for (std::size_t l : lengths) total += l;
  if (lengths.size() < 2 || total != data.size()) {
    return std::cerr << "band lengths do not add up to the input\n", 1;
  }
  tessary::MultiDwtRef<float> r;
  r.approximation = std::span<const float>(data.data(), lengths[0]);
  // Pyramid order is deepest first; the engine wants the finest first.
  std::size_t offset = total;
  for (std::size_t k = lengths.size() - 1; k >= 1; --k) {
    offset -= lengths[k];
    r.details.emplace_back(data.data() + offset, lengths[k]);
  }
  auto y = e.multi_idwt(r);
  if (!y.ok()) return std::cerr << tessary::render(y.error()) << "\n", 1;
  if (!write_floats(out, std::vector<float>(y.value().begin(), y.value().end()))) return std::cerr << "cannot write " << out << "\n", 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) return usage();
  const std::string op = argv[1];
  const auto mode = parse_mode(argv[4]);
  if (!mode) return usage();
  const auto executor = make(argv[2], std::strtol(argv[3], nullptr, 10), *mode);
  if (executor == nullptr) return std::cerr << "unknown wavelet\n", 1;
  if (op == "forward" && argc == 8) {
    return forward(*executor, std::strtoul(argv[5], nullptr, 10), argv[6], argv[7]);
  }
  if (op == "inverse" && argc >= 8) {
    std::vector<std::size_t> lengths;
    for (int i = 7; i < argc; ++i) lengths.push_back(std::strtoull(argv[i], nullptr, 10));
    return inverse(*executor, argv[5], argv[6], lengths);
  }
  return usage();
}
