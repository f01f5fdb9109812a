#include "common/junit.h"

#include "common/command_line.h"
#include "common/markup.h"

namespace cli {
namespace {

// The element a status gives its test case, and its type attribute.
const char* element(int status) {
  return status == kExitReject ? "failure" : "error";
}
std::string type(int status) {
  switch (status) {
    case kExitReject:
      return "reject";
    case kExitNotTrusted:
      return "retest";
    default:
      return "exit status " + std::to_string(status);
  }
}

}  // namespace

std::string junit_testcase(const std::string& program, const std::string& path, int status,
                           const std::string& message, const std::vector<std::string>& details) {
  std::string x = "    <testcase classname=\"" + xml_attribute(program) + "\" name=\"" +
                  xml_attribute(path) + "\"";
  if (status == kExitTrusted) {
    return x + "/>\n";
  }
  x += ">\n      <" + std::string(element(status)) + " type=\"" + type(status) + "\" message=\"" +
       xml_attribute(message) + "\">";
  for (std::size_t k = 0; k < details.size(); ++k) {
    if (k > 0) {
      x += '\n';
    }
    x += xml_text(details[k]);
  }
  return x + "</" + element(status) + ">\n    </testcase>\n";
}

std::string junit_document(const BatchLayout& layout, const std::string& first,
                           const std::vector<FileResult>& results) {
  std::size_t failures = 0;
  std::size_t errors = 0;
  std::string cases;
  for (const FileResult& r : results) {
    failures += r.status == kExitReject ? 1 : 0;
    errors += r.status != kExitReject && r.status != kExitTrusted ? 1 : 0;
    cases += r.junit;
  }
  const std::string counts = "tests=\"" + std::to_string(results.size()) + "\" failures=\"" +
                             std::to_string(failures) + "\" errors=\"" + std::to_string(errors) +
                             "\"";
  const std::string name = xml_attribute(layout.program);
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" + name + "\" " + counts +
         ">\n  <testsuite name=\"" + name + "\" " + counts +
         " skipped=\"0\">\n    <properties>\n      <property name=\"" + layout.first_title +
         "\" value=\"" + xml_attribute(first) + "\"/>\n    </properties>\n" + cases +
         "  </testsuite>\n</testsuites>\n";
}

}  // namespace cli
