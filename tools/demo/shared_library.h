// A measurement library loaded the way a host loads it: by file name, at run
// time, found through the program's run path (Linux) or beside the program
// (Windows).
#pragma once

#include <string>

class SharedLibrary {
 public:
  explicit SharedLibrary(const char* file_name);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr; }
  const std::string& error() const { return error_; }  // why loading or a look-up failed

  // The exported function `name` as a pointer of type F, or nullptr.
  template <typename F>
  F function(const char* name) {
    return reinterpret_cast<F>(address(name));
  }

 private:
  void* address(const char* name);

  void* handle_ = nullptr;
  std::string error_;
};
