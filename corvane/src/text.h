// UTF-8 as the codec's messages show it: whether bytes are well-formed, and
// the debug quoting of a rejected option name.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// Text in double quotes, with backslash escapes for '"', '\\' and control
// characters (\t \r \n \0 by name, others as \u{hex}) and \xhh for each byte
// that is not UTF-8.
std::string debug_quote(std::string_view text);

}  // namespace corvane
