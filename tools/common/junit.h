// JUnit XML (--junit FILE): the files of a run as the test cases of one
// suite, in the form CI servers read (Jenkins, GitLab, GitHub's test
// reporters): a file measured and usable inside its limits passes, one
// outside its limits is a <failure>, and one whose measurement cannot be
// used, or that could not be measured, is an <error>.
#pragma once

#include <string>
#include <vector>

#include "common/batch.h"

namespace cli {

// A file's <testcase> element (classname the program, name the file), by its
// exit status: passed (0), <failure> (6, reject) or <error> (any other),
// whose message is `message` and whose text is `details`, a line each.
std::string junit_testcase(const std::string& program, const std::string& path, int status,
                           const std::string& message, const std::vector<std::string>& details);

// The document: <testsuites> holding one <testsuite> named after the
// program, with the counts of tests, failures and errors from the results'
// statuses, the first file (reference or gate) as a property, and the
// results' test cases in order.
std::string junit_document(const BatchLayout& layout, const std::string& first,
                           const std::vector<FileResult>& results);

}  // namespace cli
