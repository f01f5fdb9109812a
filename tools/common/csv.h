// CSV rows of the tools' batches (RFC 4180).
#pragma once

#include <string>
#include <vector>

namespace cli {

// One CSV row ending with a newline: a field holding a comma, a quote, a
// line break or a space at an end is quoted, its quotes doubled; bytes that
// are not UTF-8 become U+FFFD.
std::string csv_row(const std::vector<std::string>& fields);

}  // namespace cli
