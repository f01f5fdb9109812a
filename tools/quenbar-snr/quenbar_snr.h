// The quenbar-snr program, callable in-process (tests) and from main.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Runs quenbar-snr with `args` (the program name not included), writing the
// report to `out` and error messages to `err`; returns the exit status
// (cli::Exit). Throws nothing.
int quenbar_snr(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

}  // namespace cli
