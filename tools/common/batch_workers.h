// What the two ways of running a batch's workers share: forked worker
// processes on Linux (batch_posix.cpp), threads on Windows
// (batch_windows.cpp), where there is no fork. Both give each file the
// result it would have alone, in the order given.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "common/batch.h"

namespace cli {

// The result of a file that could not be measured: `message` names the
// file and the trouble, `status` is its exit status.
FileResult failed_file(const BatchJob& job, const std::string& path, const std::string& message,
                       int status);

// Measures one file with job.measure into `r`; what it throws becomes the
// file's error, with the status run_guarded would give it. False, with `r`
// unset, only when not even that error could be made (memory ran out
// again): the caller names the file later.
bool measure_file(const BatchJob& job, const std::string& path, FileResult& r);

// "3 of 10 files, 0.80 files/s, about 9 s left", over the previous line.
void show_progress(std::FILE* to, const char* program, std::size_t done, std::size_t total,
                   std::chrono::steady_clock::time_point start);

}  // namespace cli
