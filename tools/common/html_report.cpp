#include "common/html_report.h"

#include "common/command_line.h"
#include "common/markup.h"

namespace cli {
namespace {

// Readable on screen and on paper, in the fonts the SVG charts use.
constexpr const char* kStyle = R"(
body { font-family: "DejaVu Sans", Arial, Helvetica, sans-serif; color: #222; background: #fff;
       margin: 24px 32px; max-width: 1200px; }
h1 { font-size: 22px; margin: 0 0 6px; }
h2 { font-size: 16px; margin: 0 0 8px; overflow-wrap: anywhere; }
p.head { color: #444; font-size: 13px; margin: 0 0 18px; overflow-wrap: anywhere; }
.summary { display: flex; gap: 12px; margin: 0 0 22px; }
.count { border-radius: 6px; padding: 8px 16px; font-size: 13px; min-width: 90px; }
.count b { display: block; font-size: 22px; }
.count small { display: block; font-size: 11px; opacity: 0.85; }
.pass { background: #e3f3e7; color: #1c6230; }
.fail { background: #fbe2e2; color: #9f1c1c; }
.retest { background: #fdf0d5; color: #875100; }
.error { background: #ececec; color: #444; }
table { border-collapse: collapse; font-size: 13px; width: 100%; }
th, td { border-bottom: 1px solid #e2e2e2; padding: 6px 8px; text-align: left;
         vertical-align: top; }
th { background: #f4f4f4; font-weight: 600; white-space: nowrap; }
td.num { text-align: right; font-variant-numeric: tabular-nums; white-space: nowrap; }
td.file { min-width: 10em; overflow-wrap: anywhere; }
td.file a { color: #1f4f8f; }
span.badge { border-radius: 4px; padding: 1px 7px; font-weight: 600; white-space: nowrap; }
section { margin-top: 30px; border-top: 2px solid #e6e6e6; padding-top: 14px; }
section ul { font-size: 13px; color: #333; margin: 0 0 10px; padding-left: 20px; }
section svg { display: block; max-width: 100%; height: auto; border: 1px solid #eee; }
)";

// The outcomes of the summary, with what each means for the device.
struct Outcome {
  int status;
  const char* meaning;
};
constexpr Outcome kOutcomes[] = {
    {kExitTrusted, "usable, inside its limits"},
    {kExitReject, "usable, outside its limits"},
    {kExitNotTrusted, "measured, not usable"},
    {kExitInternal, "could not be measured"},
};

std::string badge(int status) {
  const std::string word = outcome_word(status);
  return "<span class=\"badge " + word + "\">" + word + "</span>";
}

}  // namespace

const char* outcome_word(int status) {
  switch (status) {
    case kExitTrusted:
      return "pass";
    case kExitReject:
      return "fail";
    case kExitNotTrusted:
      return "retest";
    default:
      return "error";
  }
}

std::string html_cell(const std::string& text, bool numeric) {
  return std::string(numeric ? "<td class=\"num\">" : "<td>") + xml_text(text) + "</td>";
}

std::string html_page(const BatchLayout& layout, const std::string& head,
                      const std::vector<std::string>& files,
                      const std::vector<FileResult>& results) {
  const std::string program = xml_text(layout.program);
  std::string h = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
                  program + ": " + std::to_string(results.size()) + " " + layout.files +
                  "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + program +
                  ": " + std::to_string(results.size()) + " " + layout.files + "</h1>\n" +
                  "<p class=\"head\">" + xml_text(head) + "</p>\n";

  h += "<div class=\"summary\">\n";
  for (const Outcome& outcome : kOutcomes) {
    const std::string word = outcome_word(outcome.status);
    std::size_t n = 0;
    for (const FileResult& r : results) {
      n += word == outcome_word(r.status) ? 1 : 0;
    }
    h += "<div class=\"count " + word + "\" id=\"count-" + word + "\"><b>" + std::to_string(n) +
         "</b>" + word + "<small>" + outcome.meaning + "</small></div>\n";
  }
  h += "</div>\n";

  h += "<table class=\"files\">\n<thead><tr><th>#</th><th>outcome</th><th>" +
       xml_text(layout.file_title) + "</th>";
  for (const std::string& title : layout.html_columns) {
    h += "<th>" + xml_text(title) + "</th>";
  }
  h += "</tr></thead>\n<tbody>\n";
  std::string sections;
  for (std::size_t k = 0; k < results.size() && k < files.size(); ++k) {
    const FileResult& r = results[k];
    const std::string n = std::to_string(k + 1);
    const std::string file = xml_text(files[k]);
    h += "<tr id=\"row-" + n + "\"><td class=\"num\">" + n + "</td><td>" + badge(r.status) +
         "</td><td class=\"file\">" +
         (r.html_section.empty() ? file : "<a href=\"#file-" + n + "\">" + file + "</a>") +
         "</td>" + r.html_cells + "</tr>\n";
    if (!r.html_section.empty()) {
      sections += "<section id=\"file-" + n + "\">\n<h2>" + n + ". " + file + " " +
                  badge(r.status) + "</h2>\n" + r.html_section + "</section>\n";
    }
  }
  return h + "</tbody>\n</table>\n" + sections + "</body>\n</html>\n";
}

}  // namespace cli
