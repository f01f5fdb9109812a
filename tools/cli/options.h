// Command lines of the tools: exit statuses, and the options both share.
#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// Exit statuses of both tools.
enum Exit : int {
  kExitTrusted = 0,     // measured; the result can be trusted (lumetra) or is finite (quenbar)
  kExitNotTrusted = 1,  // measured, but failed is set (lumetra) or the SNR is NaN or infinite
  kExitUsage = 2,       // the command line is wrong
  kExitInput = 3,       // an input file cannot be measured (unreadable, wrong rate, too short...)
  kExitOutput = 4,      // an output file cannot be written
  kExitInternal = 5,    // out of memory, or an error the tools do not foresee
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A parsed command line: options with values, flags, and the operands.
struct CommandLine {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> operands;

  bool has(const std::string& name) const { return flags.count(name) != 0 || values.count(name); }
};

// Reads args (without the program name). `with_value` names the options
// that take a value ("--channel 2" or "--channel=2"), `flags` those that do
// not; "--" ends the options. Throws UsageError on anything else and on an
// option given twice.
CommandLine parse(const std::vector<std::string>& args, const std::set<std::string>& with_value,
                  const std::set<std::string>& flags);

// --channel N: a whole number from 1 up; 0 when absent. Throws UsageError.
int channel_option(const CommandLine& line);

// Writes text to a file, all of it or an OutputError.
void write_text_file(const std::string& path, const std::string& text);

}  // namespace cli
