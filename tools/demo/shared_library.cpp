#include "shared_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifdef _WIN32

SharedLibrary::SharedLibrary(const char* file_name) {
  handle_ = reinterpret_cast<void*>(LoadLibraryA(file_name));
  if (handle_ == nullptr) {
    error_ =
        std::string("cannot load ") + file_name + " (error " + std::to_string(GetLastError()) + ")";
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) {
    FreeLibrary(reinterpret_cast<HMODULE>(handle_));
  }
}

void* SharedLibrary::address(const char* name) {
  void* p = handle_ == nullptr
                ? nullptr
                : reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
  if (p == nullptr) {
    error_ = std::string("no exported function ") + name;
  }
  return p;
}

#else

SharedLibrary::SharedLibrary(const char* file_name) {
  handle_ = dlopen(file_name, RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error_ = why != nullptr ? why : std::string("cannot load ") + file_name;
  }
}

SharedLibrary::~SharedLibrary() {
  if (handle_ != nullptr) {
    dlclose(handle_);
  }
}

void* SharedLibrary::address(const char* name) {
  void* p = handle_ == nullptr ? nullptr : dlsym(handle_, name);
  if (p == nullptr) {
    error_ = std::string("no exported function ") + name;
  }
  return p;
}

#endif
