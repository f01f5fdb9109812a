#include "common/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace cli {

std::size_t utf8_length(std::string_view s, std::size_t i) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const auto cont = [&](std::size_t k) { return i + k < s.size() && (b(k) & 0xC0) == 0x80; };
  const unsigned char c = b(0);
  if (c < 0x80) {
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF) {
    return cont(1) ? 2 : 0;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) {
      return 0;
    }
    if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) > 0x9F)) {
      return 0;
    }
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) {
      return 0;
    }
    if ((c == 0xF0 && b(1) < 0x90) || (c == 0xF4 && b(1) > 0x8F)) {
      return 0;
    }
    return 4;
  }
  return 0;
}

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
