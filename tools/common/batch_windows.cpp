// A batch's workers on Windows, which has no fork: threads in the one
// process, each taking the next file until none is left. What makes that
// sound: the measurements are libaudiomeasure's, which may run on several
// threads at once; each file has its own reader and converter; what the
// files share (the prepared reference, a gate in memory, the settings) is
// only read. A file's error (out of memory included) stays in its own
// result, as in a worker process, and the batch goes on; only a crash,
// which a worker process would have kept to its file, ends the whole run.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <mutex>
#include <thread>

#include "common/batch_workers.h"
#include "common/command_line.h"

namespace cli {

int processors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) && process != 0) {
    return std::popcount(static_cast<std::uint64_t>(process));
  }
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

std::vector<FileResult> run_batch(const BatchJob& job) {
  const std::size_t total = job.files.size();
  std::vector<FileResult> results(total);
  std::vector<char> reported(total, 0);  // one byte per file: threads write distinct ones
  std::atomic<std::size_t> next{0};
  std::mutex finishing;  // the results, the count and the progress line
  std::size_t done = 0;
  const auto start = std::chrono::steady_clock::now();
  if (job.progress != nullptr) {
    show_progress(job.progress, job.program, 0, total, start);
  }
  const auto work = [&] {
    for (std::size_t file = next++; file < total; file = next++) {
      FileResult r;
      const bool measured = measure_file(job, job.files[file], r);
      const std::lock_guard<std::mutex> lock(finishing);
      if (measured) {
        results[file] = std::move(r);
        reported[file] = 1;
      }
      ++done;
      if (job.progress != nullptr) {
        show_progress(job.progress, job.program, done, total, start);
      }
    }
  };
  const auto count = std::min(static_cast<std::size_t>(std::max(job.jobs, 1)), total);
  std::vector<std::thread> threads;
  try {
    threads.reserve(count);
    while (threads.size() < count) {
      threads.emplace_back(work);
    }
  } catch (const std::exception&) {
    // A thread that cannot be started leaves its files to the others.
  }
  if (threads.empty()) {
    work();
  }
  for (std::thread& t : threads) {
    t.join();
  }
  // Files whose error could not even be written down (memory ran out
  // twice): named now, with the memory of the measurements freed.
  for (std::size_t file = 0; file < total; ++file) {
    if (reported[file] == 0) {
      const std::string& path = job.files[file];
      results[file] = failed_file(job, path, path + ": out of memory", kExitInternal);
    }
  }
  if (job.progress != nullptr) {
    std::fputs("\r\033[K", job.progress);  // the progress line gives way to the results
    std::fflush(job.progress);
  }
  return results;
}

}  // namespace cli
