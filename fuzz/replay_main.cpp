// Runs saved inputs through a fuzz entry point without libFuzzer, so that any
// compiler replays the seeds and the findings: fuzz_NAME_replay DIR|FILE...
// A finding aborts with the file's name printed just before it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tests/support/table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code notDirectory;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) files.push_back(argv[i]);
    for (const auto& entry : fs::recursive_directory_iterator(argv[i], notDirectory))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::fprintf(stderr, "replaying %s\n", file.string().c_str());
    const std::string bytes = testtable::ReadBytes(file.string());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs replayed\n", files.size());
  return files.empty() ? 1 : 0;
}
