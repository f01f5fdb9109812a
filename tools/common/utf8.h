// UTF-8 as the tools' text outputs need it: a path is bytes, which need not
// be UTF-8, while JSON, CSV and SVG documents are read as UTF-8. Every
// output decides which bytes are UTF-8 by one rule, utf8_length, and
// replaces the others by U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cli {

// The length of the UTF-8 sequence that starts s[i] (1 to 4), or 0 when
// none does there: a stray continuation byte, a cut sequence, an overlong
// form, a surrogate or a value above U+10FFFF. i < s.size().
std::size_t utf8_length(std::string_view s, std::size_t i);

// s with each byte that starts no UTF-8 sequence replaced by U+FFFD (the
// bytes EF BF BD); valid UTF-8 comes back unchanged.
std::string valid_utf8(std::string_view s);

}  // namespace cli
