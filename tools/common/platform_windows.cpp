// The tools' system calls on Windows (common/platform.h): names are UTF-8
// in the tools and UTF-16 at every call that takes one, so that any file
// name works whatever the system's ANSI code page.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// windows.h first: shellapi.h needs its types.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/command_line.h"
#include "common/platform.h"
#include "common/sample_source.h"

namespace cli {
namespace {

std::wstring wide(const std::string& utf8) {
  if (utf8.empty()) {
    return {};
  }
  const int n =
      ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

std::string narrow(const std::wstring& w) {
  if (w.empty()) {
    return {};
  }
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), utf8.data(), n, nullptr,
                        nullptr);
  return utf8;
}

// The errno nearest to the system's last error, for the tools' messages.
int last_errno() {
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

// A handle opened only to look at what it names (no data access), so that
// folders and files in use can be looked at too.
HANDLE open_to_look(const std::string& path) {
  return ::CreateFileW(wide(path).c_str(), 0,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Bytes of a file handle, each read at its own offset (the handle's file
// pointer is not relied on), so that several threads may read at once.
class HandleReader final : public ByteReader {
 public:
  HandleReader(HANDLE handle, bool owned) : handle_(handle), owned_(owned) {}
  ~HandleReader() override {
    if (owned_) {
      ::CloseHandle(handle_);
    }
  }
  HandleReader(const HandleReader&) = delete;
  HandleReader& operator=(const HandleReader&) = delete;

  std::int64_t read_at(void* to, std::size_t n, std::int64_t offset) const override {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
    at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n, 1u << 30));
    if (!::ReadFile(handle_, to, want, &got, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) {
        return 0;
      }
      errno = last_errno();
      return -1;
    }
    return got;
  }

 private:
  HANDLE handle_;
  bool owned_;
};

// Bytes held in memory.
class MemoryReader final : public ByteReader {
 public:
  explicit MemoryReader(std::vector<char> bytes) : bytes_(std::move(bytes)) {}
  std::int64_t read_at(void* to, std::size_t n, std::int64_t offset) const override {
    const auto size = static_cast<std::int64_t>(bytes_.size());
    const std::size_t got =
        offset >= size ? 0 : std::min(n, static_cast<std::size_t>(size - offset));
    std::memcpy(to, bytes_.data() + offset, got);
    return static_cast<std::int64_t>(got);
  }

 private:
  std::vector<char> bytes_;
};

std::string mebibytes(std::size_t bytes) {
  char b[32];
  std::snprintf(b, sizeof(b), "%.0f", static_cast<double>(bytes) / 1048576.0);
  return b;
}

// Standard input in binary mode (text mode would turn CR LF into LF inside
// the audio): a file (a redirection) read in place from its offset on;
// anything else (a pipe, the console) read whole into memory, its encoded
// bytes.
HeldInput hold_standard_input() {
  ::_setmode(::_fileno(stdin), _O_BINARY);
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  LARGE_INTEGER size{};
  LARGE_INTEGER at{};
  if (in != nullptr && in != INVALID_HANDLE_VALUE && ::GetFileType(in) == FILE_TYPE_DISK &&
      ::GetFileSizeEx(in, &size) && ::SetFilePointerEx(in, LARGE_INTEGER{}, &at, FILE_CURRENT)) {
    static const HandleReader file(in, false);
    const std::int64_t base = at.QuadPart > 0 && at.QuadPart <= size.QuadPart ? at.QuadPart : 0;
    return {&file, base, size.QuadPart - base};
  }
  std::vector<char> bytes;
  try {
    std::vector<char> buffer(kChunk * 16);
    for (;;) {
      const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), stdin);
      bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(n));
      if (n < buffer.size()) {
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    throw OutOfMemory("-: out of memory holding standard input (" + mebibytes(bytes.size()) +
                      " MiB read)");
  }
  if (std::ferror(stdin)) {
    throw InputError(std::string("-: cannot read standard input: ") + std::strerror(errno));
  }
  const auto length = static_cast<std::int64_t>(bytes.size());
  static const MemoryReader held(std::move(bytes));
  return {&held, 0, length};
}

// cmd and PowerShell pass wildcards on to a program as they are, where a
// Linux shell expands them: an operand with * or ? in its last part that
// names files is replaced by them, in the order of their names, as a shell
// would; one that names none stays as it is (and is then a missing file).
// Folders are left out: the tools read files.
std::vector<std::string> expanded(const std::wstring& arg) {
  const std::size_t last = arg.find_last_of(L"\\/:");
  const std::wstring folder = last == std::wstring::npos ? L"" : arg.substr(0, last + 1);
  if (arg.empty() || arg[0] == L'-' ||
      arg.find_first_of(L"*?", folder.size()) == std::wstring::npos ||
      folder.find_first_of(L"*?") != std::wstring::npos) {
    return {narrow(arg)};
  }
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const HANDLE h = ::FindFirstFileW(arg.c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        names.push_back(folder + found.cFileName);
      }
    } while (::FindNextFileW(h, &found));
    ::FindClose(h);
  }
  if (names.empty()) {
    return {narrow(arg)};
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> files;
  for (const std::wstring& name : names) {
    files.push_back(narrow(name));
  }
  return files;
}

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
  // Every output is written as bytes, as on Linux: text mode would add a
  // carriage return before each newline of the JSON, CSV and tables.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  int n = 0;
  LPWSTR* w = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (w == nullptr) {
    return {argv + 1, argv + argc};
  }
  std::vector<std::string> args;
  for (int k = 1; k < n; ++k) {
    for (std::string& a : expanded(w[k])) {
      args.push_back(std::move(a));
    }
  }
  ::LocalFree(w);
  return args;
}

std::FILE* open_file(const std::string& path, const char* mode) {
  return ::_wfopen(wide(path).c_str(), wide(mode).c_str());
}

SNDFILE* open_sound_file(const std::string& path, int mode, SF_INFO* info) {
  return sf_wchar_open(wide(path).c_str(), mode, info);
}

std::filesystem::path filesystem_path(const std::string& path) {
  return std::filesystem::path(wide(path));
}

std::string utf8_path(const std::filesystem::path& path) {
  return narrow(path.wstring());
}

PathKind path_kind(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return PathKind::kAbsent;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return PathKind::kFolder;
  }
  const HANDLE h = open_to_look(path);
  if (h == INVALID_HANDLE_VALUE) {
    return PathKind::kAbsent;  // libsndfile names the reason
  }
  const DWORD type = ::GetFileType(h);
  ::CloseHandle(h);
  return type == FILE_TYPE_DISK ? PathKind::kRegular : PathKind::kOther;
}

bool same_file(const std::string& input, const std::string& output) {
  // A file is known by its volume's serial number and its index there.
  const auto identity = [](HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
    return h != nullptr && h != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(h, &info);
  };
  BY_HANDLE_FILE_INFORMATION in{};
  BY_HANDLE_FILE_INFORMATION out{};
  bool known = false;
  if (input == "-") {
    known = identity(::GetStdHandle(STD_INPUT_HANDLE), in);
  } else {
    const HANDLE h = open_to_look(input);
    known = identity(h, in);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
    }
  }
  const HANDLE h = open_to_look(output);
  known = identity(h, out) && known;
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
  }
  return known && in.dwVolumeSerialNumber == out.dwVolumeSerialNumber &&
         in.nFileIndexHigh == out.nFileIndexHigh && in.nFileIndexLow == out.nFileIndexLow;
}

std::unique_ptr<ByteReader> open_bytes(const std::string& path, std::int64_t& length) {
  const HANDLE h =
      ::CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = last_errno();
    return nullptr;
  }
  auto reader = std::make_unique<HandleReader>(h, true);
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size)) {
    errno = last_errno();
    return nullptr;
  }
  length = size.QuadPart;
  return reader;
}

const HeldInput& standard_input() {
  static const HeldInput held = hold_standard_input();
  return held;
}

std::string create_temporary_beside(const std::filesystem::path& target) {
  // ".NAME.XXXXXX" in the target's folder, as on Linux, the six characters
  // from the process, the clock and a count, until one is free.
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::uint64_t seed = (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^
                       static_cast<std::uint64_t>(::GetTickCount64());
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::wstring suffix;
    for (std::uint64_t x = seed + static_cast<std::uint64_t>(attempt) * 7919; suffix.size() < 6;
         x /= 36) {
      suffix += static_cast<wchar_t>(kDigits[x % 36]);
    }
    const std::filesystem::path candidate =
        target.parent_path() / (L"." + target.filename().wstring() + L"." + suffix);
    const int fd = ::_wopen(candidate.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
      ::_close(fd);
      return utf8_path(candidate);
    }
    if (errno != EEXIST) {
      return "";
    }
  }
  return "";
}

bool replace_file(const std::string& from, const std::string& to) {
  if (::MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0) {
    return true;
  }
  errno = last_errno();
  return false;
}

void remove_file(const std::string& path) {
  ::_wunlink(wide(path).c_str());
}

// Output held in a temporary file that Windows removes when it is closed
// ("D"), since the C library has no stream in memory.
struct HeldOutput::State {
  std::FILE* file = nullptr;
};

HeldOutput::HeldOutput() : state_(std::make_unique<State>()) {
  wchar_t folder[MAX_PATH + 1];
  wchar_t name[MAX_PATH + 1];
  const DWORD n = ::GetTempPathW(MAX_PATH + 1, folder);
  if (n > 0 && n <= MAX_PATH && ::GetTempFileNameW(folder, L"am", 0, name) != 0) {
    state_->file = ::_wfopen(name, L"w+bTD");
    if (state_->file == nullptr) {
      ::DeleteFileW(name);
    }
  }
}

HeldOutput::~HeldOutput() {
  if (state_->file != nullptr) {
    std::fclose(state_->file);
  }
}

std::FILE* HeldOutput::file() const {
  return state_->file;
}

int HeldOutput::pass_to(std::FILE* out) {
  std::FILE* held = state_->file;
  if (std::fflush(held) != 0 || std::fseek(held, 0, SEEK_SET) != 0) {
    throw std::bad_alloc();
  }
  errno = 0;
  std::vector<char> buffer(65536);
  for (;;) {
    const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), held);
    if (n > 0 && std::fwrite(buffer.data(), 1, n, out) != n) {
      return errno != 0 ? errno : EIO;
    }
    if (n < buffer.size()) {
      break;
    }
  }
  if (std::ferror(held)) {
    throw std::bad_alloc();
  }
  if (std::fflush(out) != 0) {
    return errno != 0 ? errno : EIO;
  }
  return 0;
}

bool progress_terminal(std::FILE* stream) {
  // A console that takes the erase sequence: Windows 10 and later, once
  // asked. Elsewhere (a pipe, a file, an older console) no progress.
  const HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) {
    return false;
  }
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace cli
