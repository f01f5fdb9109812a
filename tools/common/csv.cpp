#include "common/csv.h"

namespace cli {

std::string csv_row(const std::vector<std::string>& fields) {
  std::string row;
  for (std::size_t k = 0; k < fields.size(); ++k) {
    const std::string& f = fields[k];
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
