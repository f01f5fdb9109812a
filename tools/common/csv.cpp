#include "common/csv.h"

#include "common/utf8.h"

namespace cli {

std::string csv_row(const std::vector<std::string>& fields) {
  std::string row;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    // Readers decode CSV as UTF-8: a path's other bytes become U+FFFD.
    const std::string f = valid_utf8(fields[k]);
    const bool quote = f.find_first_of(",\"\r\n") != std::string::npos ||
                       (!f.empty() && (f.front() == ' ' || f.back() == ' '));
    row += k == 0 ? "" : ",";
    if (!quote) {
      row += f;
      continue;
    }
    row += '"';
    for (const char c : f) {
      row += c;
      if (c == '"') {
        row += '"';
      }
    }
    row += '"';
  }
  row += '\n';
  return row;
}

}  // namespace cli
