// A fuzz harness without libFuzzer, for the test suite: each file named on
// the command line, and each file of each folder named, goes to
// LLVMFuzzerTestOneInput once, in name order, as libFuzzer replays a corpus.
// A failed check aborts the program, as under libFuzzer. Finding no file
// fails as well: a corpus that went missing must not pass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const fs::directory_entry& entry : fs::directory_iterator(argv[i])) {
        if (entry.is_regular_file()) {
          files.push_back(entry.path());
        }
      }
    } else {
      files.emplace_back(argv[i]);
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes(fs::file_size(file));
    if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
      std::fprintf(stderr, "%s: cannot read\n", file.string().c_str());
      return 1;
    }
    std::printf("%s: %zu bytes\n", file.string().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;
}
