#include "common/batch.h"

#include <algorithm>
#include <chrono>

#include "common/batch_workers.h"
#include "common/command_line.h"
#include "common/csv.h"
#include "common/html_report.h"
#include "common/json.h"
#include "common/junit.h"
#include "common/markup.h"
#include "common/platform.h"

namespace cli {

FileResult failed_file(const BatchJob& job, const std::string& path, const std::string& message,
                       int status) {
  FileResult r;
  r.status = status;
  r.out = job.error_output(path, message, status);
  r.err = std::string(job.program) + ": " + message + "\n";
  r.junit = junit_testcase(job.program, path, status, message, {});
  r.html_cells =
      "<td colspan=\"" + std::to_string(job.html_columns) + "\">" + xml_text(message) + "</td>";
  return r;
}

bool measure_file(const BatchJob& job, const std::string& path, FileResult& r) {
  try {
    r = job.measure(path);
  } catch (...) {
    std::string message;
    const int status = current_error(message);
    try {
      if (message.find(path) == std::string::npos) {
        message = path + ": " + message;  // "out of memory" names no file
      }
      r = failed_file(job, path, message, status);
    } catch (...) {
      return false;
    }
  }
  return true;
}

void show_progress(std::FILE* to, const char* program, std::size_t done, std::size_t total,
                   std::chrono::steady_clock::time_point start) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(to, "\r%s: %zu of %zu files", program, done, total);
  if (done > 0 && seconds > 0.0) {
    const double rate = static_cast<double>(done) / seconds;
    const double left = static_cast<double>(total - done) / rate;
    std::fprintf(to, ", %.2f files/s, about %.0f s left", rate, left);
  }
  std::fputs("\033[K", to);  // the rest of an earlier, longer line
  std::fflush(to);
}

BatchFormat batch_format(const CommandLine& line, std::size_t files) {
  const int chosen =
      (line.has("--json") ? 1 : 0) + (line.has("--jsonl") ? 1 : 0) + (line.has("--csv") ? 1 : 0);
  if (chosen > 1) {
    throw UsageError("--json, --jsonl and --csv exclude each other");
  }
  if (line.has("--json") && files > 1) {
    throw UsageError("--json prints one file's document (" + std::to_string(files) +
                     " files given); --jsonl prints one per line");
  }
  return line.has("--jsonl") ? BatchFormat::kJsonl
         : line.has("--csv") ? BatchFormat::kCsv
                             : BatchFormat::kTable;
}

int worst_status(const std::vector<FileResult>& results) {
  int worst = kExitTrusted;
  for (const FileResult& r : results) {
    if (status_weight(r.status) > status_weight(worst)) {
      worst = r.status;
    }
  }
  return worst;
}

std::string jsonl_error(const std::string& path, const std::string& message, int status) {
  Json j;
  j.begin_object();
  j.key("path").value(path);
  j.key("error").value(message);
  j.key("exit_status").value(status);
  j.end_object();
  return compact(j.str());
}

std::string summary_row(const BatchLayout& layout, const std::string& status,
                        const std::string& verdict, const std::array<std::string, 3>& figures,
                        const std::string& rest) {
  char row[160];
  std::snprintf(row, sizeof(row), "%6s  %-18s  %*s  %*s  %*s  ", status.c_str(), verdict.c_str(),
                layout.widths[0], figures[0].c_str(), layout.widths[1], figures[1].c_str(),
                layout.widths[2], figures[2].c_str());
  return row + rest;
}

ReportFiles open_report_files(const CommandLine& line, const std::vector<std::string>& others) {
  ReportFiles reports;
  std::vector<std::string> taken = line.operands;
  taken.insert(taken.end(), others.begin(), others.end());
  for (const char* option : {"--junit", "--report"}) {
    const auto it = line.values.find(option);
    if (it == line.values.end()) {
      continue;
    }
    if (it->second.empty()) {
      throw UsageError(std::string(option) + " needs a file name");
    }
    if (std::find(taken.begin(), taken.end(), it->second) != taken.end()) {
      throw UsageError(std::string(option) + " " + it->second + " is another input or output");
    }
    check_output_path(option, it->second, taken);
    taken.push_back(it->second);
    (option == std::string("--junit") ? reports.junit : reports.html) =
        std::make_unique<OutputFile>(it->second);
  }
  return reports;
}

void write_report_files(ReportFiles& reports, const BatchLayout& layout, const std::string& first,
                        const std::string& head, const std::vector<std::string>& files,
                        const std::vector<FileResult>& results) {
  if (reports.junit) {
    reports.junit->write_and_close(junit_document(layout, first, results));
  }
  if (reports.html) {
    reports.html->write_and_close(html_page(layout, head, files, results));
  }
}

int run_and_report_batch(const BatchLayout& layout, BatchFormat format, const std::string& head,
                         const std::vector<std::string>& operands, int jobs,
                         const std::function<FileResult(const std::string& path)>& measure,
                         ReportFiles& reports, std::FILE* out, std::FILE* err) {
  const std::vector<std::string> files(operands.begin() + 1, operands.end());
  BatchJob job;
  job.program = layout.program;
  job.files = files;
  job.html_columns = static_cast<int>(layout.html_columns.size());
  job.jobs = jobs;
  job.measure = measure;
  job.error_output = [&layout, format](const std::string& path, const std::string& message,
                                       int status) {
    switch (format) {
      case BatchFormat::kJsonl:
        return jsonl_error(path, message, status);
      case BatchFormat::kCsv: {
        std::vector<std::string> fields(layout.csv_header.size());
        fields[0] = path;
        fields[1] = std::to_string(status);
        fields[2] = "error";
        // Columns added later follow "error": it is not always the last.
        const auto error = std::find(layout.csv_header.begin(), layout.csv_header.end(), "error");
        fields[static_cast<std::size_t>(error - layout.csv_header.begin()) % fields.size()] =
            message;
        return csv_row(fields);
      }
      case BatchFormat::kTable:
        break;
    }
    return summary_row(layout, std::to_string(status), "error", {"-", "-", "-"}, message) + "\n";
  };
  job.progress = progress_terminal(err) ? err : nullptr;
  const std::vector<FileResult> results = run_batch(job);

  if (format == BatchFormat::kCsv) {
    std::fputs(csv_row(layout.csv_header).c_str(), out);
  } else if (format == BatchFormat::kTable) {
    std::fprintf(
        out, "%s\n\n%s\n", head.c_str(),
        summary_row(layout, "status", "verdict",
                    {layout.titles[0], layout.titles[1], layout.titles[2]}, layout.file_title)
            .c_str());
  }
  const auto shared = std::find_if(results.begin(), results.end(),
                                   [](const FileResult& r) { return !r.shared_err.empty(); });
  if (shared != results.end()) {
    std::fputs(shared->shared_err.c_str(), err);
  }
  for (const FileResult& r : results) {
    std::fputs(r.out.c_str(), out);
    std::fputs(r.err.c_str(), err);
  }
  write_report_files(reports, layout, operands[0], head, files, results);
  const int worst = worst_status(results);
  if (format == BatchFormat::kTable) {
    std::fprintf(out, "\n%zu %s; exit status %d, the worst of theirs\n", results.size(),
                 layout.files, worst);
  }
  return worst;
}

}  // namespace cli
