// Fixed cases run through the shipped shared libraries, loaded at run time by
// name, so that the same inputs can be compared between builds (Linux and
// Windows) and between floating-point environments of the calling program.
//
// Inputs are made with integer arithmetic and exactly rounded double
// operations only, so they are bit-identical on every platform. Entry points
// that a library does not export (yet) are left out and reported, so that a
// case starts to run as soon as its entry point appears in the export list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emx_runtime.h"

namespace cases {

// How an output may differ between the Linux and the Windows build.
enum class Kind : std::uint8_t {
  kExact = 0,    // no sin, cos or log10 on its way: bit-identical everywhere
  kLibm = 1,     // a value of the C library's sin, cos or log10 itself
  kDerived = 2,  // computed from such values
};

const char* kind_name(Kind kind);

struct Output {
  std::string name;
  Kind kind;
  std::vector<double> values;
};

// A shared library opened by file name (beside the program on Windows) or
// path; closed on destruction.
class Library {
 public:
  explicit Library(const std::string& path);
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  const std::string& path() const { return path_; }
  // Address of an exported function or variable, or nullptr.
  void* symbol(const char* name) const;

  template <class F>
  F function(const char* name) const {
    return reinterpret_cast<F>(symbol(name));
  }

 private:
  std::string path_;
  void* handle_;
};

// Where the build put the two libraries: a file name beside the program on
// Windows, the full path elsewhere.
std::string lumetra_library();
std::string quenbar_library();

// A one-dimensional record over a vector, built by hand as a host may (the
// vector keeps the storage; the libraries only read it).
struct Wrapped {
  explicit Wrapped(const std::vector<double>& v)
      : size{static_cast<std::int32_t>(v.size())},
        record{const_cast<double*>(v.data()), size, size[0], 1, 0} {}
  Wrapped(const Wrapped&) = delete;
  Wrapped& operator=(const Wrapped&) = delete;
  std::int32_t size[1];
  emxArray_real_T record;
};

struct Run {
  std::vector<Output> outputs;
  std::vector<std::string> skipped;  // cases left out: entry point not exported
};

// Run around every call into a library: enter() right before it, leave()
// right after, with the entry point's name. A test sets the calling thread's
// floating-point state there, so that the calls, and only they, run in it
// (the cases make their inputs and keep their outputs in the default state).
class CallHooks {
 public:
  virtual ~CallHooks() = default;
  virtual void enter() = 0;
  virtual void leave(const char* entry_point) = 0;
};

// Runs every case whose entry points the libraries export, in a fixed order.
Run run_all(const Library& lumetra, const Library& quenbar, CallHooks* hooks = nullptr);

}  // namespace cases
