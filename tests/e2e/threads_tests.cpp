// Imports on different setups share nothing but the module and its constant
// data: four threads import at once, each on a setup of its own that differs
// from the others' (profile colours, a host that stops, faults armed), and
// every run must equal the same run made alone first.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"
#include "tests/e2e/run_digest.h"
#ifndef _WIN32
#include <thread>  // mingw-w64's win32 thread model has no std::thread
#endif

using namespace gifin;

namespace {

namespace fs = std::filesystem;
using e2e::Bytes, e2e::ImportOptions, e2e::ImportRun;

constexpr int kThreads = 4;
constexpr int kPasses = 3;
constexpr InputKind kRoads[] = {InputKind::kFile, InputKind::kMemory, InputKind::kHostStream};

const fs::path kRoot = GIFIMPORT_SOURCE_ROOT;

struct Input {
  std::string name, path;  // path: a copy holding the GIF alone
  Bytes gif;
};

// The samples and every crasher; a fuzzer's crasher without its four
// control bytes.
std::vector<Input> Inputs() {
  std::vector<Input> inputs;
  for (const char* dir : {"examples", "tests/crashers", "tests/crashers/import"}) {
    for (const auto& entry : fs::directory_iterator(kRoot / dir)) {
      const bool fuzzInput = fs::path(dir).filename() == "import";
      if (!entry.is_regular_file() || (!fuzzInput && entry.path().extension() != ".gif")) continue;
      Input input{dir + ("/" + entry.path().filename().string()), "",
                  e2e::ReadWholeFile(entry.path().string())};
      if (fuzzInput)
        input.gif.erase(input.gif.begin(),
                        input.gif.begin() + std::min<size_t>(4, input.gif.size()));
      input.path =
          e2e::WriteScratchFile("thread-input-" + std::to_string(inputs.size()), input.gif);
      inputs.push_back(std::move(input));
    }
  }
  return inputs;
}

// Setup `setup` (one per thread): what its host and its faults do.
ImportOptions OptionsFor(int setup, InputKind road, const Input& input) {
  ImportOptions options;
  options.input = road;
  options.inputPath = road == InputKind::kFile ? input.path : "";
  if (setup == 1) {
    options.adjustSetup = [](FilterSetup* s) {
      s->overrideColorCount = 1;
      s->colorCount = 6;
      for (int i = 0; i < s->colorCount; ++i) s->colors[i] = RgbTriple{uint8_t(40 * i), 9, 200};
    };
  }
  if (setup == 2) {
    options.cancelAtProgress = 2;
    options.beforeImport = [] { StandInSetPendingErrorAfter("*", 12, kQvErrOutOfMemory, 0); };
  }
  if (setup == 3) {  // allocation faults are the Linux stand-in's only
    options.beforeImport = [] { StandInFailStreamReadAt(4), PlatformFailAllocationAt(6); };
  }
  return options;
}

// Everything a run gave that another thread could disturb: the result, the
// status calls and the picture with its pixels, and the call log. The host's
// user values are left out: each thread numbers its own hosts.
uint64_t DigestOf(const ImportRun& run) {
  e2e::Digest d;
  d.Add(e2e::RunDigest(run));
  for (std::string entry : run.log) {
    const std::string user = e2e::LogField(entry, "userValue");
    if (!user.empty()) entry.replace(entry.find("\"userValue\":" + user), 12 + user.size(), "");
    d.Add(entry);
  }
  return d.value();
}

#ifdef _WIN32
struct Start {
  const std::function<void(int)>* body;
  int index;
};

DWORD WINAPI RunStart(void* start) {
  const auto* s = static_cast<const Start*>(start);
  (*s->body)(s->index);
  return 0;
}
#endif

// body(0) ... body(n - 1), each on a thread of its own, all at once.
void OnThreads(int n, const std::function<void(int)>& body) {
#ifdef _WIN32
  std::vector<Start> starts(n);
  std::vector<HANDLE> threads;
  for (int i = 0; i < n; ++i) {
    starts[i] = {&body, i};
    threads.push_back(CreateThread(nullptr, 0, RunStart, &starts[i], 0, nullptr));
  }
  WaitForMultipleObjects(static_cast<DWORD>(n), threads.data(), TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);
#else
  std::vector<std::thread> threads;
  for (int i = 0; i < n; ++i) threads.emplace_back(body, i);
  for (std::thread& thread : threads) thread.join();
#endif
}

TEST(Threads, ImportsOnFourSetupsAtOnceEqualEachAlone) {
  const std::vector<Input> inputs = Inputs();
  ASSERT_GE(inputs.size(), 10u);
  const unsigned long long inUse = PlatformMemoryInUse();
  // expected[setup][input][road], each run alone on this thread.
  std::vector<std::vector<std::vector<uint64_t>>> expected(kThreads);
  for (int setup = 0; setup < kThreads; ++setup) {
    for (const Input& input : inputs) {
      expected[setup].emplace_back();
      for (InputKind road : kRoads) {
        const ImportRun run = e2e::Import(input.gif, OptionsFor(setup, road, input));
        EXPECT_EQ(run.live, "") << input.name;
        expected[setup].back().push_back(DigestOf(run));
      }
    }
  }
  // Each setup leaves its mark on a whole GIF, so that one thread's faults
  // or colours reaching another would show.
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (inputs[i].name != "examples/sample.gif") continue;
    for (size_t road = 0; road < std::size(kRoads); ++road) {
      std::set<uint64_t> distinct;
      for (int setup = 0; setup < kThreads; ++setup) distinct.insert(expected[setup][i][road]);
      EXPECT_EQ(distinct.size(), size_t{kThreads}) << "road " << road;
    }
  }
  // Failures are gathered per thread and reported here, on the test's own.
  std::vector<std::string> wrong(kThreads);
  std::vector<int> imports(kThreads, 0);
  OnThreads(kThreads, [&](int setup) {
    for (int pass = 0; pass < kPasses; ++pass) {
      for (size_t i = 0; i < inputs.size(); ++i) {
        for (size_t road = 0; road < std::size(kRoads); ++road) {
          const ImportRun run =
              e2e::Import(inputs[i].gif, OptionsFor(setup, kRoads[road], inputs[i]));
          ++imports[setup];
          if (DigestOf(run) != expected[setup][i][road] ||
              run.live.find("handle faults") != std::string::npos) {
            wrong[setup] += " " + inputs[i].name + " road " + std::to_string(road) + " pass " +
                            std::to_string(pass) + (run.live.empty() ? "" : ": " + run.live);
          }
        }
      }
    }
  });
  for (int setup = 0; setup < kThreads; ++setup) {
    EXPECT_EQ(wrong[setup], "") << "setup " << setup << " differs from its run alone";
    EXPECT_EQ(imports[setup], kPasses * int(inputs.size() * std::size(kRoads)));
  }
  std::printf("%d imports on %d threads at once\n", kThreads * imports[0], kThreads);
  EXPECT_EQ(testhost::DescribeLive(), "");
  EXPECT_EQ(PlatformMemoryInUse(), inUse) << "a charge stayed behind";
}

}  // namespace
