// A batch's workers on Linux: a forked process per file (common/batch.h).
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

#include "common/batch_workers.h"
#include "common/command_line.h"

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

// The body of a worker process: measures one file, reports on `fd`, and
// ends without running the parent's exit handlers or flushing its streams.
[[noreturn]] void work(const BatchJob& job, const std::string& path, int fd) {
  ::signal(SIGPIPE, SIG_IGN);
  FileResult r;
  if (!measure_file(job, path, r)) {
    ::_exit(kExitInternal);  // no report: the parent names the file
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

}  // namespace

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
        results[file] = failed_file(
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
        results[w.file] = failed_file(job, path, death(path, wait_status), kExitInternal);
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

}  // namespace cli
