// gifimport: a command-line host for the GIF import filter.
#include <cstdio>
#include <cstring>
#include <string>

#include "host/commands.h"

namespace {

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s COMMAND [OPTIONS] [FILE...]\n"
               "       %s --help | --version\n\n"
               "Loads the GIF import filter (gifin.so beside this program, or the\n"
               "module named with --filter PATH) and calls it.\n\nCommands:\n",
               host::kProgramName, host::kProgramName);
  for (const host::HostCommand& command : host::RegisteredCommands()) {
    std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
  }
  std::fprintf(out, "\n\"%s COMMAND --help\" shows the options of a command.\n",
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
  return command->run(argc - 1, argv + 1);
}
