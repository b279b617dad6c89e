#include "error.h"

#include <algorithm>
#include <cstdio>

namespace corvane {
namespace {

constexpr std::array<std::string_view, 4> kMethodNames = {"cdf53", "cdf97", "db4", "sym4"};
constexpr std::array<std::string_view, 3> kCutoffNames = {"low", "medium", "high"};

// Byte payloads that are not UTF-8 show as question marks, one per byte.
std::string bytes_as_text(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  return std::string(bytes.size(), '?');
}

// Decodes one UTF-8 sequence at `i`; returns its length, 0 when malformed.
std::size_t utf8_sequence(std::string_view s, std::size_t i, std::uint32_t& code_point) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  std::size_t length = 0;
  std::uint32_t cp = 0;
  std::uint32_t minimum = 0;
  if (b0 < 0x80) {
    code_point = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    length = 2, cp = b0 & 0x1F, minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3, cp = b0 & 0x0F, minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4, cp = b0 & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  // Overlong forms, UTF-16 surrogates and values past U+10FFFF are not UTF-8.
  if (cp < minimum || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  code_point = cp;
  return length;
}

}  // namespace

std::optional<CompressionMethod> method_from_tag(std::array<std::uint8_t, 4> tag) {
  for (std::size_t i = 0; i < kMethodTags.size(); ++i) {
    if (std::equal(tag.begin(), tag.end(), kMethodTags[i].begin(),
                   [](std::uint8_t a, char b) { return a == static_cast<unsigned char>(b); })) {
      return static_cast<CompressionMethod>(i);
    }
  }
  return std::nullopt;
}

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::uint32_t cp = 0;
    const std::size_t n = utf8_sequence(bytes, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string debug_quote(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    std::uint32_t cp = 0;
    std::size_t n = utf8_sequence(text, i, cp);
    if (n == 0) {  // not UTF-8: show the byte itself escaped
      cp = static_cast<unsigned char>(text[i]);
      n = 1;
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(cp));
      out += buf;
      i += n;
      continue;
    }
    switch (cp) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\0': out += "\\0"; break;
      default:
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
          char buf[16];
          std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
          out += buf;
        } else {
          out.append(text.substr(i, n));
        }
    }
    i += n;
  }
  out += '"';
  return out;
}

CorvaneError CorvaneError::invalid_compression_method(std::array<std::uint8_t, 4> tag) {
  CorvaneError e(CorvaneErrorKind::InvalidCompressionMethod);
  e.bytes_ = tag;
  e.byte_count_ = 4;
  return e;
}

CorvaneError CorvaneError::invalid_magic(std::array<std::uint8_t, 4> magic) {
  CorvaneError e(CorvaneErrorKind::InvalidMagic);
  e.bytes_ = magic;
  e.byte_count_ = 4;
  return e;
}

CorvaneError CorvaneError::invalid_compression_kind(std::array<std::uint8_t, 2> kind) {
  CorvaneError e(CorvaneErrorKind::InvalidCompressionKind);
  e.bytes_ = {kind[0], kind[1], 0, 0};
  e.byte_count_ = 2;
  return e;
}

CorvaneError CorvaneError::invalid_header_version(std::array<std::uint8_t, 2> version) {
  CorvaneError e(CorvaneErrorKind::InvalidHeaderVersion);
  e.bytes_ = {version[0], version[1], 0, 0};
  e.byte_count_ = 2;
  return e;
}

CorvaneError CorvaneError::transform(std::string text) {
  CorvaneError e(CorvaneErrorKind::Transform);
  e.text_ = std::move(text);
  return e;
}

CorvaneError CorvaneError::io(std::string text) {
  CorvaneError e(CorvaneErrorKind::Io);
  e.text_ = std::move(text);
  return e;
}

CorvaneError CorvaneError::out_of_memory(std::uint64_t elements) {
  CorvaneError e(CorvaneErrorKind::OutOfMemory);
  e.number_ = elements;
  return e;
}

CorvaneError CorvaneError::invalid_header() {
  return CorvaneError(CorvaneErrorKind::InvalidHeader);
}

CorvaneError CorvaneError::unsupported_configuration(std::string text) {
  CorvaneError e(CorvaneErrorKind::UnsupportedConfiguration);
  e.text_ = std::move(text);
  return e;
}

CorvaneError CorvaneError::decompression_failed(std::string text) {
  CorvaneError e(CorvaneErrorKind::DecompressionFailed);
  e.text_ = std::move(text);
  return e;
}

CorvaneError CorvaneError::unsupported_scale(std::uint8_t scale) {
  CorvaneError e(CorvaneErrorKind::UnsupportedScale);
  e.number_ = scale;
  return e;
}

CorvaneError CorvaneError::unknown_entropy_coder(std::uint8_t coder) {
  CorvaneError e(CorvaneErrorKind::UnknownEntropyCoder);
  e.number_ = coder;
  return e;
}

std::string CorvaneError::render() const {
  switch (kind_) {
    case CorvaneErrorKind::InvalidCompressionMethod:
    case CorvaneErrorKind::InvalidCompressionKind:
      return "Invalid compression method '" + bytes_as_text(bytes()) + "'";
    case CorvaneErrorKind::InvalidMagic:
      return "Magic should be 'CRVN' but it was '" + bytes_as_text(bytes()) + "'";
    case CorvaneErrorKind::InvalidHeaderVersion:
      return "Invalid header version '" + bytes_as_text(bytes()) + "'";
    case CorvaneErrorKind::Transform:
    case CorvaneErrorKind::Io:
      return text_;
    case CorvaneErrorKind::OutOfMemory:
      return "Out of memory, can't allocate additional " + std::to_string(number_);
    case CorvaneErrorKind::InvalidHeader:
      return "Header is invalid";
    case CorvaneErrorKind::UnsupportedConfiguration:
      return "Unsupported compression configuration '" + text_ + "'";
    case CorvaneErrorKind::DecompressionFailed:
      return "Can't decompress data, reason: " + text_;
    case CorvaneErrorKind::UnsupportedScale:
      return "Only scaled 6..12 is supported, but it was " + std::to_string(number_);
    case CorvaneErrorKind::UnknownEntropyCoder:
      return "Unknown entropy coder " + std::to_string(number_);
  }
  return "Unknown codec error";
}

CResult<CompressionOptions> CompressionOptions::create(CompressionMethod method,
                                                       std::uint8_t scale, CutoffLevel cutoff,
                                                       EntropyCoder coder) {
  if (static_cast<std::uint8_t>(method) > 3 || static_cast<std::uint8_t>(cutoff) > 2 ||
      static_cast<std::uint8_t>(coder) > 2) {
    return CorvaneError::unsupported_configuration("Unknown option code");
  }
  if (scale < kMinScale || scale > kMaxScale) return CorvaneError::unsupported_scale(scale);
  return CompressionOptions(method, scale, cutoff, coder);
}

Result<CompressionOptions, std::string> CompressionOptions::from_names(
    std::string_view method, std::uint8_t scale, std::string_view cutoff,
    std::optional<std::string_view> coder) {
  std::optional<CompressionMethod> m;
  for (std::size_t i = 0; i < kMethodNames.size(); ++i) {
    if (method == kMethodNames[i]) m = static_cast<CompressionMethod>(i);
  }
  if (!m) {
    return fail("Unknown method " + debug_quote(method) +
                ", expected 'cdf97' or 'cdf53' or 'db4' or 'sym4'");
  }
  std::optional<CutoffLevel> c;
  for (std::size_t i = 0; i < kCutoffNames.size(); ++i) {
    if (cutoff == kCutoffNames[i]) c = static_cast<CutoffLevel>(i);
  }
  if (!c) {
    return fail("Unknown cutoff level " + debug_quote(cutoff) +
                ", expected 'low' or 'medium' or 'high'");
  }
  if (scale < kMinScale || scale > kMaxScale) {
    return fail(CorvaneError::unsupported_scale(scale).render());
  }
  EntropyCoder e = EntropyCoder::Auto;
  if (coder) {
    if (*coder == "auto") {
      e = EntropyCoder::Auto;
    } else if (*coder == "deflate") {
      e = EntropyCoder::Deflate;
    } else if (*coder == "arans") {
      e = EntropyCoder::Arans;
    } else {
      return fail("Unknown coder " + debug_quote(*coder) +
                  ", expected 'auto', 'deflate', 'arans'");
    }
  }
  return CompressionOptions(*m, scale, *c, e);
}

}  // namespace corvane
