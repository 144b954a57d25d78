// Replays inputs that once broke something (tests/crashers/NAME-OF-FAULT.gif)
// through ImportFile by all three input roads, one line each. Each must end,
// without a crash, within the time limit, and leave nothing live.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/import_host.h"

namespace {

// The file being replayed, for the message of a replay that overran.
char currentFile[4096];

void OnAlarm(int) {
  static const char kPrefix[] = "crasher_replay: time limit exceeded: ";
  ssize_t ignored = write(STDERR_FILENO, kPrefix, sizeof kPrefix - 1);
  ignored = write(STDERR_FILENO, currentFile, std::strlen(currentFile));
  ignored = write(STDERR_FILENO, "\n", 1);
  (void)ignored;
  _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  unsigned limit = 20;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--limit") == 0 && i + 1 < argc) {
      limit = static_cast<unsigned>(std::atoi(argv[++i]));
    } else if (std::filesystem::is_directory(argv[i])) {
      for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
        if (entry.path().extension() == ".gif") files.push_back(entry.path().string());
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty()) {  // no input at all is a mistake in the call, not a pass
    std::fprintf(stderr, "usage: crasher_replay [--limit SECONDS] DIR|FILE...\n");
    return 2;
  }
  std::sort(files.begin(), files.end());
  signal(SIGALRM, OnAlarm);

  int failed = 0;
  for (const std::string& file : files) {
    std::snprintf(currentFile, sizeof currentFile, "%s", file.c_str());
    const e2e::Bytes bytes = e2e::ReadWholeFile(file);
    for (e2e::Road road : {e2e::Road::kFile, e2e::Road::kMemory, e2e::Road::kStream}) {
      e2e::ImportOptions options;
      options.road = road;
      options.keepPicture = false;
      // Named before the import, so that a crash report follows its file.
      std::printf("%s (%s): ", file.c_str(), e2e::RoadName(road));
      std::fflush(stdout);
      alarm(limit);
      const e2e::ImportRun run = e2e::Import(bytes, options);
      alarm(0);
      std::printf("result %d, %s%s\n", static_cast<int>(run.result),
                  run.live.empty() ? "ok" : "FAIL, live: ", run.live.c_str());
      failed += run.live.empty() ? 0 : 1;
    }
  }
  std::printf("%zu files replayed, %d failures\n", files.size(), failed);
  return failed == 0 ? 0 : 1;
}
