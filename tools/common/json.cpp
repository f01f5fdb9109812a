#include "common/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/utf8.h"

namespace cli {

std::string shortest(double v) {
  if (std::isnan(v)) {
    return "NaN";
  }
  if (std::isinf(v)) {
    return v > 0.0 ? "Infinity" : "-Infinity";
  }
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof(buffer), v);
  return std::string(buffer, ec == std::errc() ? end : buffer);
}

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = utf8_length(s, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out.append(s.substr(i, n));
    }
    i += n;
  }
  out += '"';
  return out;
}

void Json::newline() {
  out_ += '\n';
  out_.append(2 * filled_.size(), ' ');
}

void Json::separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!filled_.empty()) {
    if (filled_.back()) {
      out_ += ',';
    }
    filled_.back() = true;
    newline();
  }
}

Json& Json::begin_object() {
  separate();
  out_ += '{';
  filled_.push_back(false);
  return *this;
}

Json& Json::close(char bracket) {
  const bool filled = filled_.back();
  filled_.pop_back();
  if (filled) {
    newline();
  }
  out_ += bracket;
  return *this;
}

Json& Json::end_object() {
  return close('}');
}

Json& Json::begin_array() {
  separate();
  out_ += '[';
  filled_.push_back(false);
  return *this;
}

Json& Json::end_array() {
  return close(']');
}

Json& Json::key(std::string_view k) {
  separate();
  out_ += quoted(k);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

Json& Json::value(double v) {
  separate();
  out_ += std::isfinite(v) ? shortest(v) : quoted(shortest(v));
  return *this;
}

Json& Json::value(std::int64_t v) {
  separate();
  out_ += std::to_string(v);
  return *this;
}

Json& Json::value(bool v) {
  separate();
  out_ += v ? "true" : "false";
  return *this;
}

Json& Json::value(std::string_view s) {
  separate();
  out_ += quoted(s);
  return *this;
}

Json& Json::null() {
  separate();
  out_ += "null";
  return *this;
}

std::string compact(std::string_view document) {
  std::string line;
  bool in_string = false;
  bool escaped = false;
  for (const char c : document) {
    if (in_string) {
      in_string = escaped || c != '"';
      escaped = !escaped && c == '\\';
    } else if (c == ' ' || c == '\n') {
      continue;  // outside strings only layout is white space
    } else {
      in_string = c == '"';
    }
    line += c;
  }
  line += '\n';
  return line;
}

}  // namespace cli
