// Runs saved inputs through a fuzz entry point without libFuzzer, so that any
// compiler replays the seeds and the findings: fuzz_NAME_replay DIR|FILE...
// A finding aborts with the file's name printed just before it. Each input
// must replay within a second of CPU time (GIFIMPORT_REPLAY_SECONDS sets
// another bound), and one that does not end within ten times that is named
// and the run stopped, so that a stall names its file.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "tests/support/table.h"

namespace {

// The watchdog's whole line, made before each input: a signal handler may
// only write.
char stalled[4200];
size_t stalledLength = 0;

void OnStall(int) {
  const bool told = write(2, stalled, stalledLength) > 0;
  _exit(told ? 3 : 4);
}

}  // namespace

int main(int argc, char** argv) {
  replaying = true;
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code notDirectory;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) files.push_back(argv[i]);
    for (const auto& entry : fs::recursive_directory_iterator(argv[i], notDirectory))
      if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  const char* bound = std::getenv("GIFIMPORT_REPLAY_SECONDS");
  const double seconds = bound != nullptr && std::atof(bound) > 0 ? std::atof(bound) : 1.0;
  signal(SIGALRM, OnStall);
  int slow = 0;
  for (const fs::path& file : files) {
    std::fprintf(stderr, "replaying %s\n", file.string().c_str());
    const int length = std::snprintf(
        stalled, sizeof stalled, "replay: no end in sight, stopped: %s\n", file.string().c_str());
    stalledLength = std::min(sizeof stalled - 1, static_cast<size_t>(std::max(length, 0)));
    const std::string bytes = testtable::ReadBytes(file.string());
    alarm(static_cast<unsigned>(10 * seconds) + 1);
    const std::clock_t start = std::clock();
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const double took = double(std::clock() - start) / CLOCKS_PER_SEC;
    alarm(0);
    if (took > seconds) {
      std::fprintf(stderr, "replay: %s took %.2f s of CPU, more than %.2f s\n",
                   file.string().c_str(), took, seconds);
      ++slow;
    }
  }
  std::printf("%zu inputs replayed, %d too slow\n", files.size(), slow);
  return files.empty() || slow != 0 ? 1 : 0;
}
