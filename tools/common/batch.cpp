#include "common/batch.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/command_line.h"
#include "common/csv.h"
#include "common/html_report.h"
#include "common/json.h"
#include "common/junit.h"
#include "common/markup.h"

namespace cli {
namespace {

// The text parts of a result, in the order a worker reports them.
constexpr std::string FileResult::*kParts[] = {&FileResult::out,        &FileResult::err,
                                               &FileResult::shared_err, &FileResult::junit,
                                               &FileResult::html_cells, &FileResult::html_section};

// A worker's report on its pipe: "STATUS BYTES BYTES ...\n" (the lengths of
// the parts), then the parts' bytes. A report cut short means the worker
// died.
std::string encode(const FileResult& r) {
  std::string head = std::to_string(r.status);
  std::string body;
  for (std::string FileResult::*part : kParts) {
    head += ' ';
    head += std::to_string((r.*part).size());
    body += r.*part;
  }
  return head + "\n" + body;
}

bool decode(const std::string& report, FileResult& r) {
  const std::size_t end = report.find('\n');
  if (end == std::string::npos) {
    return false;
  }
  const std::string head = report.substr(0, end);
  char* at = nullptr;
  r.status = static_cast<int>(std::strtol(head.c_str(), &at, 10));
  std::size_t from = end + 1;
  for (std::string FileResult::*part : kParts) {
    char* after = nullptr;
    const unsigned long long n = std::strtoull(at, &after, 10);
    if (after == at || n > report.size() - from) {
      return false;
    }
    at = after;
    r.*part = report.substr(from, n);
    from += n;
  }
  return from == report.size() && *at == '\0';
}

void write_all(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return;  // the parent is gone or the pipe broke: it reports the file
    }
    done += static_cast<std::size_t>(n);
  }
}

FileResult failure(const BatchJob& job, const std::string& path, const std::string& message,
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

// The body of a worker process: measures one file, reports on `fd`, and
// ends without running the parent's exit handlers or flushing its streams.
[[noreturn]] void work(const BatchJob& job, const std::string& path, int fd) {
  ::signal(SIGPIPE, SIG_IGN);
  FileResult r;
  try {
    r = job.measure(path);
  } catch (...) {
    std::string message;
    const int status = current_error(message);
    try {
      if (message.find(path) == std::string::npos) {
        message = path + ": " + message;  // "out of memory" names no file
      }
      r = failure(job, path, message, status);
    } catch (...) {
      ::_exit(kExitInternal);  // no report: the parent names the file
    }
  }
  write_all(fd, encode(r));
  ::_exit(0);
}

// Why a worker gave no whole report, from its wait status.
std::string death(const std::string& path, int wait_status) {
  std::string how;
  if (WIFSIGNALED(wait_status)) {
    const int sig = WTERMSIG(wait_status);
    const char* name = ::strsignal(sig);
    how = "killed by signal " + std::to_string(sig) + " (" + (name != nullptr ? name : "?") + ")";
  } else if (WIFEXITED(wait_status)) {
    how = "ended with status " + std::to_string(WEXITSTATUS(wait_status)) + " and no result";
  } else {
    how = "ended with no result";
  }
  return path + ": the worker process measuring it " + how +
         (WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGKILL
              ? " (out of memory, or stopped from outside)"
              : "");
}

struct Worker {
  std::size_t file;  // index into job.files
  pid_t pid;
  int fd;  // read end of its pipe
  std::string report;
};

// "3 of 10 files, 0.80 files/s, about 9 s left", over the previous line.
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

}  // namespace

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

int processors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) == 0 && CPU_COUNT(&set) > 0) {
    return CPU_COUNT(&set);
  }
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

std::vector<FileResult> run_batch(const BatchJob& job) {
  const std::size_t total = job.files.size();
  std::vector<FileResult> results(total);
  std::vector<Worker> running;
  std::size_t next = 0;
  std::size_t done = 0;
  const auto start = std::chrono::steady_clock::now();
  if (job.progress != nullptr) {
    show_progress(job.progress, job.program, 0, total, start);
  }
  // Nothing buffered in a stream may be written twice, by a worker too.
  std::fflush(nullptr);
  while (done < total) {
    // Start workers up to the limit.
    while (next < total && running.size() < static_cast<std::size_t>(std::max(job.jobs, 1))) {
      const std::size_t file = next++;
      int ends[2];
      pid_t pid = -1;
      if (::pipe(ends) == 0) {
        pid = ::fork();
        if (pid == 0) {
          ::close(ends[0]);
          for (const Worker& w : running) {
            ::close(w.fd);
          }
          work(job, job.files[file], ends[1]);
        }
        ::close(ends[1]);
        if (pid < 0) {
          ::close(ends[0]);
        }
      }
      if (pid < 0) {
        results[file] = failure(
            job, job.files[file],
            job.files[file] + ": cannot start a worker process for it: " + std::strerror(errno),
            kExitInternal);
        ++done;
        continue;
      }
      running.push_back({file, pid, ends[0], {}});
    }
    if (running.empty()) {
      continue;
    }
    // Read what the workers report; a closed pipe means its worker is done.
    std::vector<pollfd> fds;
    for (const Worker& w : running) {
      fds.push_back({w.fd, POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      continue;  // EINTR
    }
    for (std::size_t k = fds.size(); k-- > 0;) {
      if (fds[k].revents == 0) {
        continue;
      }
      Worker& w = running[k];
      char buffer[65536];
      const ssize_t n = ::read(w.fd, buffer, sizeof(buffer));
      if (n > 0) {
        w.report.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      ::close(w.fd);
      int wait_status = 0;
      while (::waitpid(w.pid, &wait_status, 0) < 0 && errno == EINTR) {
      }
      FileResult r;
      const bool whole = WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0;
      if (whole && decode(w.report, r)) {
        results[w.file] = std::move(r);
      } else {
        const std::string& path = job.files[w.file];
        results[w.file] = failure(job, path, death(path, wait_status), kExitInternal);
      }
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
      ++done;
      if (job.progress != nullptr) {
        show_progress(job.progress, job.program, done, total, start);
      }
    }
  }
  if (job.progress != nullptr) {
    std::fputs("\r\033[K", job.progress);  // the progress line gives way to the results
    std::fflush(job.progress);
  }
  return results;
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
  job.progress = ::isatty(::fileno(err)) ? err : nullptr;
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
