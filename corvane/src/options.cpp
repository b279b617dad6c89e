#include "options.h"

#include <algorithm>

#include "text.h"

namespace corvane {
namespace {

// "'a' or 'b' or 'c'": the names of a table as the option messages list them.
template <class Rows>
std::string quoted_names(const Rows& rows, std::string_view separator) {
  std::string out;
  for (const auto& row : rows) {
    if (!out.empty()) out += separator;
    out += '\'';
    out += row.name;
    out += '\'';
  }
  return out;
}

template <class Rows>
auto value_named(const Rows& rows, std::string_view name)
    -> std::optional<decltype(rows[0].value)> {
  for (const auto& row : rows) {
    if (row.name == name) return row.value;
  }
  return std::nullopt;
}

template <class Rows>
bool has_code(const Rows& rows, std::uint8_t code) {
  return std::any_of(rows.begin(), rows.end(),
                     [&](const auto& row) { return static_cast<std::uint8_t>(row.value) == code; });
}

}  // namespace

std::optional<CompressionMethod> method_from_tag(std::array<std::uint8_t, 4> tag) {
  const std::string_view text(reinterpret_cast<const char*>(tag.data()), tag.size());
  for (const MethodRow& row : kMethodRows) {
    if (row.tag == text) return row.value;
  }
  return std::nullopt;
}

CResult<CompressionOptions> CompressionOptions::create(CompressionMethod method,
                                                       std::uint8_t scale, CutoffLevel cutoff,
                                                       EntropyCoder coder) {
  if (!has_code(kMethodRows, static_cast<std::uint8_t>(method)) ||
      !has_code(kCutoffRows, static_cast<std::uint8_t>(cutoff)) ||
      !has_code(kCoderRows, static_cast<std::uint8_t>(coder))) {
    return CorvaneError::unsupported_configuration("Unknown option code");
  }
  if (scale < kMinScale || scale > kMaxScale) return CorvaneError::unsupported_scale(scale);
  return CompressionOptions(method, scale, cutoff, coder);
}

Result<CompressionOptions, std::string> CompressionOptions::from_names(
    std::string_view method, std::uint8_t scale, std::string_view cutoff,
    std::optional<std::string_view> coder) {
  const auto m = value_named(kMethodRows, method);
  if (!m) {
    return fail("Unknown method " + debug_quote(method) + ", expected " +
                quoted_names(kMethodRows, " or "));
  }
  const auto c = value_named(kCutoffRows, cutoff);
  if (!c) {
    return fail("Unknown cutoff level " + debug_quote(cutoff) + ", expected " +
                quoted_names(kCutoffRows, " or "));
  }
  if (scale < kMinScale || scale > kMaxScale) {
    return fail(CorvaneError::unsupported_scale(scale).render());
  }
  EntropyCoder e = kDefaultCoder;
  if (coder) {
    const auto named = value_named(kCoderRows, *coder);
    if (!named) {
      return fail("Unknown coder " + debug_quote(*coder) + ", expected " +
                  quoted_names(kCoderRows, ", "));
    }
    e = *named;
  }
  return CompressionOptions(*m, scale, *c, e);
}

}  // namespace corvane
