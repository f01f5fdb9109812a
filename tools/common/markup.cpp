#include "common/markup.h"

#include "common/json.h"
#include "common/utf8.h"

namespace cli {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// s escaped; `attribute` keeps line breaks and tabs as references.
std::string escaped(std::string_view s, bool attribute) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const std::size_t n = utf8_length(s, i);
    if (n != 1) {
      out += n == 0 ? kReplacement : s.substr(i, n);
      i += n == 0 ? 1 : n;
      continue;
    }
    const char c = s[i++];
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
      case '\r':
      case '\t':
        out += attribute ? "&#" + std::to_string(static_cast<int>(c)) + ";" : std::string(1, c);
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
          out += kReplacement;
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace

std::string xml_text(std::string_view s) {
  return escaped(s, false);
}

std::string xml_attribute(std::string_view s) {
  return escaped(s, true);
}

std::string inline_svg(std::string_view svg) {
  if (svg.rfind("<?xml", 0) == 0) {
    const std::size_t end = svg.find("?>");
    svg.remove_prefix(end == std::string_view::npos ? svg.size() : end + 2);
    while (!svg.empty() && (svg.front() == '\n' || svg.front() == '\r')) {
      svg.remove_prefix(1);
    }
  }
  return valid_utf8(svg);
}

}  // namespace cli
