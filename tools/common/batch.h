// Batches: many files measured against one reference (or gate), each in a
// worker of its own, at most N at once, and the results gathered in the
// order the files were given. On Linux the workers are forked processes, so
// they share what the parent prepared (a gain reference, a gate held in
// memory) without copying it, and a worker that dies takes only its own
// file with it; on Windows, which cannot fork, they are threads
// (batch_windows.cpp).
#pragma once

#include <array>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/output_file.h"

namespace cli {

struct CommandLine;

// How a batch prints its results on stdout.
enum class BatchFormat {
  kTable,  // a summary row per file
  kJsonl,  // the file's --json document on one line
  kCsv,    // a header, then a row per file
};

// The output chosen with --jsonl or --csv, else kTable (the table, or
// --json's document for one file). Throws UsageError when more than one of
// --json, --jsonl and --csv is given, and for --json with several files.
BatchFormat batch_format(const CommandLine& line, std::size_t files);

// One file's result: its exit status (cli::Exit) as if it had been measured
// alone, what goes on stdout for it (a row or a line, in the batch's
// format), and its lines for stderr (warnings, its error). Warnings about
// the reference (or gate) that only a measurement finds are the same for
// every file: they go in `shared_err`, which the batch prints once.
struct FileResult {
  int status = 0;
  std::string out;
  std::string err;
  std::string shared_err;
  // The file's parts of the report files (--junit, --report), when they are
  // asked for: its JUnit <testcase> element, the cells of its row in the
  // HTML page (after the status and the file) and the body of its section
  // there ("" for none).
  std::string junit;
  std::string html_cells;
  std::string html_section;
};

struct BatchJob {
  const char* program;
  std::vector<std::string> files;
  int jobs = 1;  // workers at once, from 1
  // Measures one file; runs in a worker process, or on Windows in one of
  // several threads at once. What it throws becomes the file's error, with
  // the status run_guarded would give it.
  std::function<FileResult(const std::string& path)> measure;
  // The stdout part of a file that could not be measured: `message` names
  // the file and the trouble, `status` is its exit status.
  std::function<std::string(const std::string& path, const std::string& message, int status)>
      error_output;
  // The HTML page's columns after the status and the file, which the row of
  // a file that could not be measured spans with its error.
  int html_columns = 1;
  // Where progress goes ("3 of 10 files, 0.8 files/s, about 9 s left"),
  // rewritten in place as files finish; null for none.
  std::FILE* progress = nullptr;
};

// Measures every file of the job, each in a worker (a forked process on
// Linux, a thread on Windows), and returns the results in the order of
// job.files. A worker that dies (killed by a signal, out of memory) or
// cannot be started gives its file an error with status 5 (kExitInternal);
// the other files are measured all the same.
std::vector<FileResult> run_batch(const BatchJob& job);

// The processors this process may run on, at least 1: the default of
// --jobs, before it is limited to the number of files.
int processors();

// A batch's exit status: the worst of its files' by status_weight (0 < 6 <
// 1 < 3 < 4 < 5).
int worst_status(const std::vector<FileResult>& results);

// The object {"path", "error", "exit_status"} on one line, ending with a
// newline: a file of a JSON Lines batch that could not be measured.
std::string jsonl_error(const std::string& path, const std::string& message, int status);

// How a program's batch reads: its CSV header, the table's summary rows,
// which give the status, the verdict, three figures of the program's and
// the file, and the columns of the HTML page's rows.
struct BatchLayout {
  const char* program;
  // "path", "exit_status", "verdict", ..., "error", then columns added later
  std::vector<std::string> csv_header;
  std::array<const char*, 3> titles;  // of the figures' columns
  std::array<int, 3> widths;
  const char* file_title;                 // the last column's title: "recording"
  const char* files;                      // the files in the last line: "recordings"
  const char* first_title;                // the first operand's part: "reference", "gate"
  std::vector<std::string> html_columns;  // the titles of FileResult::html_cells
};

// The report files of a run (--junit FILE, --report FILE.html), created
// before anything is measured, so that one that cannot be written stops the
// run early, as --plot does.
struct ReportFiles {
  std::unique_ptr<OutputFile> junit;
  std::unique_ptr<OutputFile> html;
  bool any() const { return junit || html; }
};

// Checks --junit and --report as check_output_path does (against the inputs
// and `others`, the run's other outputs) and creates them.
ReportFiles open_report_files(const CommandLine& line, const std::vector<std::string>& others);

// Writes the report files from the results (in the order of `files`, after
// `first`, the reference or gate): the JUnit document of their test cases
// and the HTML page of their rows and sections. `head` describes the first
// file.
void write_report_files(ReportFiles& reports, const BatchLayout& layout, const std::string& first,
                        const std::string& head, const std::vector<std::string>& files,
                        const std::vector<FileResult>& results);

// A row of the summary table (without its newline): the status, the
// verdict and the figures in their columns, then `rest` (the file, or an
// error message).
std::string summary_row(const BatchLayout& layout, const std::string& status,
                        const std::string& verdict, const std::array<std::string, 3>& figures,
                        const std::string& rest);

// Runs the batch (the progress on err when it is a terminal), then prints
// its results in `format`: the CSV header, or the table's `head` (the
// reference's or gate's line) and column titles; the first file's
// shared_err on err; each file's output in the order given, its stderr
// lines on err; the table's closing line with the batch's status. A file
// that could not be measured has its row or line with the error. `operands`
// are the first file (reference or gate) and the files measured; the report
// files, when there are any, are written last. Returns the batch's status:
// the worst of its files'.
int run_and_report_batch(const BatchLayout& layout, BatchFormat format, const std::string& head,
                         const std::vector<std::string>& operands, int jobs,
                         const std::function<FileResult(const std::string& path)>& measure,
                         ReportFiles& reports, std::FILE* out, std::FILE* err);

}  // namespace cli
