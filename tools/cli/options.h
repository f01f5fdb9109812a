// Command lines of the tools: exit statuses, and the options both share.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

struct AudioInfo;

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

// Runs a tool's body and turns what it throws into one line on err and the
// matching exit status: UsageError, InputError, OutputError, out of memory,
// anything else. What the body prints is held back and written to `out` when
// it has finished, so a refusal leaves `out` empty; output that cannot be
// written or flushed (a full disk, a closed stdout) is an output error:
// exit 4, one line on err.
int run_guarded(const char* program,
                int (*body)(const std::vector<std::string>&, std::FILE*, std::FILE*),
                const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

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

// "--make-demo DIR", which takes no other option or operand: writes the
// demonstration files into DIR with `write` and prints the lines it returns
// on out. False, with nothing done, when the option is absent. Throws
// UsageError when anything else was given with it.
bool make_demo(const CommandLine& line,
               const std::function<std::vector<std::string>(const std::string&)>& write,
               std::FILE* out);

// A warning line on err for a file that is shorter than its header
// announces: it is measured as far as it goes.
void warn_if_truncated(std::FILE* err, const char* program, const AudioInfo& file);

}  // namespace cli
