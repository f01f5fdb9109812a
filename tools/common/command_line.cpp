#include "common/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "audiomeasure.h"
#include "common/platform.h"

namespace cli {

int status_weight(int status) {
  switch (status) {
    case kExitTrusted:
      return 0;
    case kExitReject:
      return 1;
    case kExitNotTrusted:
      return 2;
    default:
      return status + 1;
  }
}

int current_error(std::string& message) {
  try {
    throw;
  } catch (const UsageError& e) {
    message = e.what();
    return kExitUsage;
  } catch (const InputError& e) {
    message = e.what();
    return kExitInput;
  } catch (const OutputError& e) {
    message = e.what();
    return kExitOutput;
  } catch (const OutOfMemory& e) {
    message = e.what();
    return kExitInternal;
  } catch (const std::bad_alloc&) {
    message = "out of memory";
    return kExitInternal;
  } catch (const std::exception& e) {
    message = e.what();
    return kExitInternal;
  }
}

void check_status(int status, const std::string& subject) {
  if (status == AM_OK) {
    return;
  }
  const std::string message = subject + ": " + am_status_text(status);
  switch (status) {
    case AM_ERR_OUT_OF_MEMORY:
      throw OutOfMemory(message);
    case AM_ERR_SHORT_REFERENCE:
    case AM_ERR_SHORT_RECORDING:
    case AM_ERR_SHORT_GATE:
    case AM_ERR_SHORT_MEASURED:
    case AM_ERR_NO_SHARED_FRAME:
    case AM_ERR_RATE:
    case AM_ERR_LENGTH:
      throw InputError(message);
    default:
      throw std::logic_error(message);
  }
}

int run_guarded(const char* program,
                int (*body)(const std::vector<std::string>&, std::FILE*, std::FILE*),
                const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  try {
    HeldOutput held;
    if (held.file() == nullptr) {
      throw std::bad_alloc();
    }
    const int status = body(args, held.file(), err);
    if (const int e = held.pass_to(out); e != 0) {
      std::fprintf(err, "%s: cannot write the output to stdout: %s\n", program, std::strerror(e));
      return kExitOutput;
    }
    return status;
  } catch (...) {
    std::string message;
    const int status = current_error(message);
    if (status == kExitUsage) {
      std::fprintf(err, "%s: %s (see %s --help)\n", program, message.c_str(), program);
    } else {
      std::fprintf(err, "%s: %s\n", program, message.c_str());
    }
    return status;
  }
}

namespace {

// "a, b or c".
std::string alternatives(const std::vector<std::string>& choices) {
  std::string text;
  for (std::size_t k = 0; k < choices.size(); ++k) {
    text += k == 0 ? "" : k + 1 == choices.size() ? " or " : ", ";
    text += choices[k];
  }
  return text;
}

// CLI11's message as one line of ours. Its messages start with the option's
// name ("--plot: 1 required TEXT missing"; "json was given a disallowed flag
// override"); a validator's message is ours already, after that name.
std::string usage_message(const CLI::ParseError& e) {
  const std::string what = e.what();
  const std::size_t colon = what.find(": ");
  const std::string name = what.substr(0, what.find_first_of(": "));
  if (dynamic_cast<const CLI::ValidationError*>(&e) != nullptr && colon != std::string::npos) {
    return what.substr(colon + 2);
  }
  if (what.find("required") != std::string::npos && name.rfind("--", 0) == 0) {
    return name + " needs a value";
  }
  if (what.find("flag override") != std::string::npos) {
    return "--" + name + " takes no value";
  }
  return what;
}

}  // namespace

CommandLine parse(const std::vector<std::string>& args, const std::vector<OptionDecl>& options) {
  CLI::App app;
  app.set_help_flag();
  // Unknown options are left over, to be named in our words below.
  app.allow_extras(true);
  std::map<std::string, std::vector<std::string>> given;
  std::map<std::string, CLI::Option*> flags;
  for (const OptionDecl& decl : options) {
    if (!decl.takes_value) {
      flags[decl.name] =
          app.add_flag(decl.name == "--help" ? "-h,--help" : decl.name)->disable_flag_override();
      continue;
    }
    // Every value is kept, so that one given twice is seen and refused.
    CLI::Option* option = app.add_option(decl.name, given[decl.name])
                              ->expected(1)
                              ->allow_extra_args(false)
                              ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    if (!decl.choices.empty()) {
      option->check(CLI::Validator(
          [decl](std::string& v) {
            const bool known =
                std::find(decl.choices.begin(), decl.choices.end(), v) != decl.choices.end();
            return known ? std::string()
                         : decl.name + " is " + alternatives(decl.choices) + ", not '" + v + "'";
          },
          ""));
    }
  }
  CommandLine line;
  app.add_option("operands", line.operands);
  // CLI11 takes the arguments last first.
  std::vector<std::string> reversed(args.rbegin(), args.rend());
  try {
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    throw UsageError(usage_message(e));
  }
  for (const std::string& extra : app.remaining()) {
    if (extra != "--") {
      throw UsageError("unknown option " + extra.substr(0, extra.find('=')));
    }
  }
  for (const auto& [name, values] : given) {
    if (values.size() > 1) {
      throw UsageError(name + " is given twice");
    }
    if (values.size() == 1) {
      line.values[name] = values[0];
    }
  }
  for (const auto& [name, option] : flags) {
    if (option->count() > 1) {
      throw UsageError(name + " is given twice");
    }
    if (option->count() == 1) {
      line.flags.insert(name);
    }
  }
  return line;
}

CommandLine parse(const std::vector<std::string>& args, const std::set<std::string>& with_value,
                  const std::set<std::string>& flags) {
  std::vector<OptionDecl> options;
  for (const std::string& name : with_value) {
    options.push_back({name, true, {}});
  }
  for (const std::string& name : flags) {
    options.push_back({name, false, {}});
  }
  return parse(args, options);
}

namespace {

// A whole number from 1 up, with at most 6 digits; 0 for anything else.
int whole_number(const std::string& v) {
  const bool digits =
      !v.empty() && v.size() <= 6 && v.find_first_not_of("0123456789") == std::string::npos;
  return digits ? std::stoi(v) : 0;
}

}  // namespace

int channel_option(const CommandLine& line) {
  const auto it = line.values.find("--channel");
  if (it == line.values.end()) {
    return 0;
  }
  const int n = whole_number(it->second);
  if (n < 1) {
    throw UsageError("--channel takes a channel number from 1 up, not '" + it->second + "'");
  }
  return n;
}

int jobs_option(const CommandLine& line, int fallback) {
  const auto it = line.values.find("--jobs");
  if (it == line.values.end()) {
    return fallback;
  }
  const int n = whole_number(it->second);
  if (n < 1) {
    throw UsageError("--jobs takes a number of worker processes from 1 up, not '" + it->second +
                     "'");
  }
  return n;
}

namespace {

// --make-demo DIR, alone on the command line.
bool make_demo(const CommandLine& line,
               const std::function<std::vector<std::string>(const std::string&)>& write,
               std::FILE* out) {
  if (!line.has("--make-demo")) {
    return false;
  }
  if (line.values.size() + line.flags.size() != 1 || !line.operands.empty()) {
    throw UsageError("--make-demo DIR takes nothing else");
  }
  for (const std::string& l : write(line.values.at("--make-demo"))) {
    std::fprintf(out, "%s\n", l.c_str());
  }
  return true;
}

}  // namespace

bool answered_without_measuring(
    const CommandLine& line, const char* program, const char* help,
    const std::function<std::vector<std::string>(const std::string&)>& write_demo, std::FILE* out) {
  if (line.has("--help")) {
    std::fputs(help, out);
    return true;
  }
  if (line.has("--version")) {
    std::fprintf(out, "%s %s\n", program, am_version());
    return true;
  }
  return make_demo(line, write_demo, out);
}

std::size_t measured_files(const CommandLine& line, const std::string& needs) {
  if (line.operands.size() < 2) {
    throw UsageError("needs " + needs + " (files given: " + std::to_string(line.operands.size()) +
                     ")");
  }
  // Standard input holds one file: a second "-" would find it read already
  // (or, in a batch, race the first for it).
  if (std::count(line.operands.begin(), line.operands.end(), "-") > 1) {
    throw UsageError("- (standard input) is given more than once; it holds one file");
  }
  return line.operands.size() - 1;
}

}  // namespace cli
