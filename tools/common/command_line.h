// What both tools share at their command lines: the exit statuses and the
// errors that lead to them (the library's refusals among them), the parser
// of options, and the guard that turns a tool's run into one exit status.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// Exit statuses of both tools.
enum Exit : int {
  kExitTrusted = 0,     // measured; the result can be trusted (lumetra) or is finite (quenbar)
  kExitNotTrusted = 1,  // measured, but the verdict is not the good one: retest
  kExitUsage = 2,       // the command line is wrong
  kExitInput = 3,       // an input file cannot be measured (unreadable, wrong rate, too short...)
  kExitOutput = 4,      // an output file cannot be written
  kExitInternal = 5,    // out of memory, or an error the tools do not foresee
  kExitReject = 6,      // measured and usable, but outside the device's limits (--limits)
};

// How much a status weighs in a batch, from 0 up: pass 0 < reject 6 <
// retest 1 < the errors 2, 3, 4, 5 in their order. A batch is only as
// final as its least usable file: a reject is a usable answer about the
// device, a retest is none, and a file that could not be measured says
// that the bench itself needs attention.
int status_weight(int status);

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A file the tools cannot measure, or cannot measure as asked: the message
// is one line that names the file and what is wrong.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output file that cannot be written.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Memory ran out while reading or measuring a file: the message names it.
class OutOfMemory : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A status of the library (AM_OK or AM_ERR_*) as the tools' error, named
// after `subject` (a file) with the library's text: nothing for AM_OK;
// OutOfMemory; InputError for what the input is to blame for (too short,
// a rate or length out of range); any other refusal is the tools' own
// mistake, exit 5.
void check_status(int status, const std::string& subject);

// Runs a tool's body and turns what it throws into one line on err and the
// matching exit status. What the body prints is held back and written to
// `out` when it has finished, so a refusal leaves `out` empty; output that
// cannot be written or flushed (a full disk, a closed stdout) is exit 4,
// with one line on err.
int run_guarded(const char* program,
                int (*body)(const std::vector<std::string>&, std::FILE*, std::FILE*),
                const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

// The exit status and the one-line message for the exception being handled
// (call it inside a catch block): UsageError 2, InputError 3, OutputError 4,
// out of memory and anything else 5.
int current_error(std::string& message);

// A parsed command line: options with values, flags, and the operands.
struct CommandLine {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> operands;

  bool has(const std::string& name) const { return flags.count(name) != 0 || values.count(name); }
};

// One option of a tool: "--channel" (with a value: "--channel 2" or
// "--channel=2") or a flag; "--help" is also "-h". `choices`, when not
// empty, are the only values the option accepts.
struct OptionDecl {
  std::string name;
  bool takes_value = false;
  std::vector<std::string> choices;
};

// Reads args (without the program name) with CLI11; "--" ends the options,
// and "-" is an operand (standard input). Throws UsageError, with one line
// that names the option, on an unknown option, a missing value, a value
// not among the choices, a flag given a value, and an option given twice.
CommandLine parse(const std::vector<std::string>& args, const std::vector<OptionDecl>& options);

// The same, with the options named by kind.
CommandLine parse(const std::vector<std::string>& args, const std::set<std::string>& with_value,
                  const std::set<std::string>& flags);

// --channel N: a whole number from 1 up; 0 when absent. Throws UsageError.
int channel_option(const CommandLine& line);

// --jobs N: a whole number from 1 up; `fallback` when absent. Throws
// UsageError.
int jobs_option(const CommandLine& line, int fallback);

// What a tool does instead of measuring, in this order: --help prints
// `help`, --version prints "PROGRAM VERSION", --make-demo DIR (which takes
// no other option or operand) writes the demonstration files with
// `write_demo` and prints the lines it returns. True when one of them was
// done; false, with nothing done, when the files are to be measured.
bool answered_without_measuring(
    const CommandLine& line, const char* program, const char* help,
    const std::function<std::vector<std::string>(const std::string&)>& write_demo, std::FILE* out);

// How many files are measured against the first operand (the reference or
// the gate): at least one. Throws UsageError "needs <needs> (files given:
// N)" otherwise, and when "-" (standard input) is among them more than once.
std::size_t measured_files(const CommandLine& line, const std::string& needs);

}  // namespace cli
