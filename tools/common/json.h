// A small writer of indented JSON documents for the tools' --json output.
//
// Numbers are written in the shortest form that reads back as the same
// double (std::to_chars), so every finite value round-trips exactly.
// JSON has no NaN or infinity: they are written as the strings "NaN",
// "Infinity" and "-Infinity".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

class Json {
 public:
  Json& begin_object();
  Json& end_object();
  Json& begin_array();
  Json& end_array();
  // The key of the next value inside an object.
  Json& key(std::string_view k);
  Json& value(double v);
  Json& value(std::int64_t v);
  Json& value(int v) { return value(static_cast<std::int64_t>(v)); }
  Json& value(bool v);
  Json& value(std::string_view s);
  Json& value(const char* s) { return value(std::string_view(s)); }
  Json& null();

  // The document, ending with a newline.
  std::string str() const { return out_ + "\n"; }

 private:
  void separate();
  void newline();
  Json& close(char bracket);

  std::string out_;
  // One entry per open container: whether it holds a value yet.
  std::vector<bool> filled_;
  bool after_key_ = false;
};

// The shortest decimal form that reads back as v; "NaN", "Infinity",
// "-Infinity" for the non-finite values.
std::string shortest(double v);

// A document of Json::str() on one line (the whitespace between its tokens
// taken out), ending with a newline: a line of a JSON Lines stream.
std::string compact(std::string_view document);

// s as a JSON string literal, quotes included: ", \ and control characters
// escaped, and bytes that are not UTF-8 replaced by U+FFFD.
std::string quoted(std::string_view s);

// Length of the UTF-8 sequence that starts s[i], or 0 when it is not one
// (overlong forms, surrogates and values above U+10FFFF included).
std::size_t utf8_length(std::string_view s, std::size_t i);

}  // namespace cli
