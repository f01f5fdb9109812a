// Batches: many files measured against one reference, each in a worker
// process of its own (the libraries' cores keep their state in static
// buffers, so one process measures one file at a time), at most N at once,
// and the results gathered in the order the files were given.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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
// format), and its lines for stderr (warnings, its error).
struct FileResult {
  int status = 0;
  std::string out;
  std::string err;
};

struct BatchJob {
  const char* program;
  std::vector<std::string> files;
  int jobs = 1;  // worker processes at once, from 1
  // Measures one file; runs in a worker process. What it throws becomes
  // the file's error, with the status run_guarded would give it.
  std::function<FileResult(const std::string& path)> measure;
  // The stdout part of a file that could not be measured: `message` names
  // the file and the trouble, `status` is its exit status.
  std::function<std::string(const std::string& path, const std::string& message, int status)>
      error_output;
  // Where progress goes ("3 of 10 files, 0.8 files/s, about 9 s left"),
  // rewritten in place as files finish; null for none.
  std::FILE* progress = nullptr;
};

// Measures every file of the job, each in a forked worker process, and
// returns the results in the order of job.files. A worker that dies (killed
// by a signal, out of memory) or cannot be started gives its file an error
// with status 5 (kExitInternal); the other files are measured all the same.
std::vector<FileResult> run_batch(const BatchJob& job);

// The processors this process may run on, at least 1: the default of
// --jobs, before it is limited to the number of files.
int processors();

// A batch's exit status: the highest of its files' (0 < 1 < 3 < 4 < 5).
int worst_status(const std::vector<FileResult>& results);

// One CSV row (RFC 4180 quoting) ending with a newline: a field holding a
// comma, a quote, a line break or a space at an end is quoted, its quotes
// doubled.
std::string csv_row(const std::vector<std::string>& fields);

// The object {"path", "error", "exit_status"} on one line, ending with a
// newline: a file of a JSON Lines batch that could not be measured.
std::string jsonl_error(const std::string& path, const std::string& message, int status);

}  // namespace cli
