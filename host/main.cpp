// gifimport: a command-line host for the GIF import filter.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vector>

#include "host/commands.h"
#include "platform/platform_test.h"

namespace {

// "--max-memory SIZE" with SIZE in bytes or with K, M or G (binary units);
// 0 for no budget. false for a size that is not one.
bool ParseMemorySize(const std::string& text, unsigned long long* bytes) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  int shift = 0;
  if (*end == 'K' || *end == 'k') shift = 10;
  if (*end == 'M' || *end == 'm') shift = 20;
  if (*end == 'G' || *end == 'g') shift = 30;
  if (shift != 0) ++end;
  if (*end != 0 || value > (~0ull >> shift)) return false;
  *bytes = value << shift;
  return true;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s COMMAND [OPTIONS] [FILE...]\n"
               "       %s --help | --version\n\n"
               "Loads the GIF import filter (gifin.so beside this program or, when\n"
               "installed, in its library folder; or the module named with --filter\n"
               "PATH) and calls it.\n\nCommands:\n",
               host::kProgramName, host::kProgramName);
  for (const host::HostCommand& command : host::RegisteredCommands()) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out,
               "\nEvery command takes --max-memory SIZE (bytes, or with K, M or G): the\n"
               "memory budget of an import and of writing its output, 512M unless\n"
               "given; 0 for none.\n"
               "\n\"%s COMMAND --help\" shows the options of a command.\n",
               host::kProgramName);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return host::kExitUsage;
  }
  std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    PrintUsage(stdout);
    return host::kExitOk;
  }
  if (first == "--version") {
    std::printf("%s %s\n", host::kProgramName, host::ProgramVersion());
    return host::kExitOk;
  }
  const host::HostCommand* command = host::FindCommand(first);
  if (!command) {
    host::PrintError("unknown command '" + first + "' (try --help)");
    return host::kExitUsage;
  }
  // The budget is the stand-ins', shared by every command: taken out here.
  std::vector<char*> args(argv + 1, argv + argc);
  for (size_t i = 1; i < args.size(); ++i) {
    if (std::strcmp(args[i], "--max-memory") != 0) continue;
    unsigned long long bytes = 0;
    if (i + 1 >= args.size() || !ParseMemorySize(args[i + 1], &bytes)) {
      host::PrintError("--max-memory wants a size: bytes, or a number with K, M or G");
      return host::kExitUsage;
    }
    PlatformSetMemoryBudget(bytes);
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    --i;
  }
  args.push_back(nullptr);
  return command->run(static_cast<int>(args.size()) - 1, args.data());
}
