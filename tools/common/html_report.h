// The batch report (--report FILE.html): one self-contained page (inline
// CSS, inline SVG; no script, font or link that would reach the network)
// with a summary of the files' outcomes, a row per file with its verdict,
// its limits' outcome and key figures, and a section per file with what
// the program draws of it (lumetra-measure: the reasons and the step chart).
#pragma once

#include <string>
#include <vector>

#include "common/batch.h"

namespace cli {

// How a file's status reads on the page and in its summary: "pass" (0),
// "fail" (6: outside its limits), "retest" (1: measured, not usable),
// "error" (it could not be measured).
const char* outcome_word(int status);

// The page: `head` (the reference's or gate's line) under the title, the
// counts of each outcome, the table of `files` with their results' cells
// (the status and the file first, linked to the file's section when it has
// one), then the sections.
std::string html_page(const BatchLayout& layout, const std::string& head,
                      const std::vector<std::string>& files,
                      const std::vector<FileResult>& results);

// A cell of a row: <td>text</td>, escaped; `numeric` ones align right.
std::string html_cell(const std::string& text, bool numeric = false);

}  // namespace cli
