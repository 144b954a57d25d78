// gifimport's subcommands. Each lives in its own file (cmd_NAME.cpp) and
// registers itself with a file-scope CommandRegistration, so a new command
// needs no change anywhere else:
//
//   namespace {
//   int RunFrob(int argc, char** argv) { ... return kExitOk; }
//   const CommandRegistration kFrob{{"frob", "frob [--filter PATH] FILE...",
//                                    "does something to each FILE", RunFrob}};
//   }
#ifndef GIFIMPORT_HOST_COMMANDS_H
#define GIFIMPORT_HOST_COMMANDS_H

#include <string>
#include <vector>

namespace host {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // some input failed
constexpr int kExitUsage = 2;   // bad arguments, or the filter cannot be loaded

constexpr const char* kProgramName = "gifimport";

struct HostCommand {
  const char* name;
  const char* usage;    // arguments after "gifimport", one line
  const char* summary;  // one line for "gifimport --help"
  // argv[0] is the command's name; returns the exit status.
  int (*run)(int argc, char** argv);
};

struct CommandRegistration {
  // noexcept: a registration runs before main, where a failed allocation
  // could only end the program.
  explicit CommandRegistration(const HostCommand& command) noexcept;
};

// Every registered command, sorted by name.
std::vector<HostCommand> RegisteredCommands();
const HostCommand* FindCommand(const std::string& name);

// "1.0.0": the version of this build, from the module's version values.
const char* ProgramVersion();

// Prints "gifimport: MESSAGE" to stderr.
void PrintError(const std::string& message);

}  // namespace host

#endif
