#include "cli/options.h"

#include <stdio.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "cli/audio_file.h"

namespace cli {

namespace {

// Output held in memory until the body has finished: nothing reaches stdout
// when it fails, and the one write at the end meets a failing stdout with
// an errno that tells why.
class HeldOutput {
 public:
  HeldOutput() : file_(open_memstream(&data_, &size_)) {}
  ~HeldOutput() {
    if (file_ != nullptr) {
      std::fclose(file_);
    }
    std::free(data_);
  }
  HeldOutput(const HeldOutput&) = delete;
  HeldOutput& operator=(const HeldOutput&) = delete;

  std::FILE* file() const { return file_; }

  // Writes what was held to out and flushes it; errno on failure, else 0.
  int pass_to(std::FILE* out) {
    const bool held = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!held) {
      throw std::bad_alloc();
    }
    errno = 0;
    if (std::fwrite(data_, 1, size_, out) != size_ || std::fflush(out) != 0) {
      return errno != 0 ? errno : EIO;
    }
    return 0;
  }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* file_;
};

}  // namespace

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
  } catch (const UsageError& e) {
    std::fprintf(err, "%s: %s (see %s --help)\n", program, e.what(), program);
    return kExitUsage;
  } catch (const InputError& e) {
    std::fprintf(err, "%s: %s\n", program, e.what());
    return kExitInput;
  } catch (const OutputError& e) {
    std::fprintf(err, "%s: %s\n", program, e.what());
    return kExitOutput;
  } catch (const OutOfMemory& e) {
    std::fprintf(err, "%s: %s\n", program, e.what());
    return kExitInternal;
  } catch (const std::bad_alloc&) {
    std::fprintf(err, "%s: out of memory\n", program);
    return kExitInternal;
  } catch (const std::exception& e) {
    std::fprintf(err, "%s: %s\n", program, e.what());
    return kExitInternal;
  }
}

CommandLine parse(const std::vector<std::string>& args, const std::set<std::string>& with_value,
                  const std::set<std::string>& flags) {
  CommandLine line;
  bool options = true;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options || a == "-" || a.empty() || a[0] != '-') {
      line.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options = false;
      continue;
    }
    std::string name = a;
    std::string value;
    bool inline_value = false;
    if (const std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inline_value = true;
    }
    if (name == "-h") {
      name = "--help";
    }
    if (line.has(name)) {
      throw UsageError(name + " is given twice");
    }
    if (with_value.count(name) != 0) {
      if (!inline_value) {
        if (i + 1 == args.size()) {
          throw UsageError(name + " needs a value");
        }
        value = args[++i];
      }
      line.values[name] = value;
    } else if (flags.count(name) != 0 && !inline_value) {
      line.flags.insert(name);
    } else if (flags.count(name) != 0) {
      throw UsageError(name + " takes no value");
    } else {
      throw UsageError("unknown option " + name);
    }
  }
  return line;
}

int channel_option(const CommandLine& line) {
  const auto it = line.values.find("--channel");
  if (it == line.values.end()) {
    return 0;
  }
  const std::string& v = it->second;
  const bool digits =
      !v.empty() && v.size() <= 6 && v.find_first_not_of("0123456789") == std::string::npos;
  const int n = digits ? std::stoi(v) : 0;
  if (n < 1) {
    throw UsageError("--channel takes a channel number from 1 up, not '" + v + "'");
  }
  return n;
}

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

void warn_if_truncated(std::FILE* err, const char* program, const AudioInfo& file) {
  if (file.truncated) {
    std::fprintf(err,
                 "%s: warning: %s is shorter than its header announces (cut short?); measuring "
                 "the %lld samples it holds\n",
                 program, file.path.c_str(), static_cast<long long>(file.frames));
  }
}

}  // namespace cli
