#include "host/commands.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace host {
namespace {

// Built on first use: registrations run during static initialisation, in
// no fixed order across files.
std::vector<HostCommand>& Registry() {
  static std::vector<HostCommand> commands;
  return commands;
}

struct VersionValue {
  const char* key;
  const char* value;
};
#define GIFIN_VERSION_STRING(key, value) {#key, value},
constexpr VersionValue kVersionValues[] = {
#include "resources/version.inc"
};
#undef GIFIN_VERSION_STRING

}  // namespace

CommandRegistration::CommandRegistration(const HostCommand& command) noexcept {
  Registry().push_back(command);
}

std::vector<HostCommand> RegisteredCommands() {
  std::vector<HostCommand> commands = Registry();
  std::sort(commands.begin(), commands.end(), [](const HostCommand& a, const HostCommand& b) {
    return std::strcmp(a.name, b.name) < 0;
  });
  return commands;
}

const HostCommand* FindCommand(const std::string& name) {
  for (const HostCommand& command : Registry()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

const char* ProgramVersion() {
  for (const VersionValue& v : kVersionValues) {
    if (std::strcmp(v.key, "ProductVersion") == 0) return v.value;
  }
  return "unknown";
}

void PrintError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\n", kProgramName, message.c_str());
}

}  // namespace host
