// gifimport setup: makes a setup as a host does (CreateSetup) and prints what
// it took from the profile, or why none could be made.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "gifimport/filter_api.h"
#include "gifimport/setup_block.h"
#include "host/commands.h"
#include "host/filter_module.h"
#include "host/setup_options.h"
#include "platform/locked_global.h"

namespace host {
namespace {

using DestroySetupProc = int32_t(WINAPI*)(HGLOBAL);
using FilterVersionProc = uint32_t(WINAPI*)(void);

}  // namespace

const char kSetupOptionsHelp[] =
    "  --profile FILE      the profile to use: a path, or a file name looked for\n"
    "                      beside the filter module and in the Windows directory\n"
    "                      ($WINDIR); without it, the one named after the module\n"
    "  --mode NAME         the mode section to read instead of ~Mode of [ir_gif]\n";

int SetupNames::Take(const char* command, int argc, char** argv, int* i) {
  std::string arg = argv[*i];
  const size_t equals = arg.find('=');
  const std::string name = arg.substr(0, equals);
  std::string* value = name == "--profile" ? &profile : name == "--mode" ? &mode : nullptr;
  if (value == nullptr) return 0;
  if (equals != std::string::npos) {
    *value = arg.substr(equals + 1);
    return 1;
  }
  if (*i + 1 >= argc) {
    PrintError(std::string(command) + ": " + arg + " needs a value");
    return -1;
  }
  *value = argv[++*i];
  return 1;
}

HGLOBAL SetupNames::Create(CreateSetupProc createSetup) const {
  return createSetup(nullptr, profile.empty() ? nullptr : profile.c_str(),
                     mode.empty() ? nullptr : mode.c_str(), 0);
}

// CreateSetup gives no reason; these are the ones a host can tell apart.
std::string SetupNames::WhyNoSetup(const FilterModule& filter) const {
  auto filterVersion = filter.Resolve<FilterVersionProc>("QVRGetFilterVersion");
  const auto wanted =
      static_cast<int32_t>(filterVersion ? filterVersion() : kFilterInterfaceVersion);
  if (QvGetVersion() < wanted) return "the companion library is older than the filter needs";
  if (profile.size() >= kSetupBlockTextBytes)
    return "the profile name is longer than 259 characters";
  if (mode.size() >= kSetupBlockTextBytes) return "the mode name is longer than 259 characters";
  return "the profile's mode section " + (mode.empty() ? "(~Mode of [ir_gif])" : "[" + mode + "]") +
         " has no Driver value, or memory ran out";
}

bool SetupNames::CheckFound(HGLOBAL setup, bool verbose) const {
  std::string found, section;
  {
    const LockedGlobal locked(setup);
    const auto* fields = locked.As<const FilterSetup>();
    if (fields == nullptr) return true;  // nothing to tell; the import will say
    found = fields->profilePath;
    section = fields->modeSection;
  }
  if (!profile.empty() && found.empty()) {
    std::string why = "not found beside the filter module or in the Windows directory";
    struct stat info;
    if (profile.find_first_of("/\\") != std::string::npos) {
      why = stat(profile.c_str(), &info) != 0 ? std::strerror(errno) : "it cannot be read";
    }
    PrintError("cannot read the profile " + profile + ": " + why);
    return false;
  }
  if (verbose) {
    PrintError(found.empty() ? "no profile found: the defaults are in force"
                             : "profile " + found + ", mode section [" + section + "]");
  }
  return true;
}

namespace {

void PrintSetupHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s setup [--profile FILE] [--mode NAME] [--filter PATH]\n\n"
               "Makes a setup as a host does and prints what it read: the profile, the\n"
               "mode section, the driver, the colour table source, the colours with\n"
               "their names and the fonts with their faces.\n\n%s"
               "  --filter PATH       load this filter module instead of gifin.so beside %s\n\n"
               "Exit status: 0 when a setup was made, 1 when none could be, 2 for bad\n"
               "arguments or a filter that cannot be loaded.\n",
               kProgramName, kSetupOptionsHelp, kProgramName);
}

// The setup block is opaque to a real host; this tool reads it to show what
// the filter took from the profile.
void PrintSetup(const FilterSetup& setup) {
  if (setup.profilePath[0] == 0) {
    std::printf("profile: none found, defaults in force\n");
  } else {
    std::printf("profile: %s\n", setup.profilePath);
  }
  std::printf("mode: %s\n", setup.modeSection[0] ? setup.modeSection : "(none)");
  std::printf("driver: %s\n", setup.driverName);
  std::printf("color table source: %s (%s)\n", setup.colorTableSource,
              setup.overrideColorCount > 0 ? "profile colours replace the GIF's first colours"
                                           : "the GIF's own colours");
  std::printf("colors: %d\n", static_cast<int>(setup.colorCount));
  for (int i = 0; i < setup.colorCount && i < kSetupBlockMaxColors; ++i) {
    const RgbTriple& c = setup.colors[i];
    std::printf("  [%03d] (%d, %d, %d)", i, c.red, c.green, c.blue);
    if (setup.colorNames[i][0]) std::printf(" \"%s\"", setup.colorNames[i]);
    std::printf("\n");
  }
  std::printf("fonts: %d\n", static_cast<int>(setup.fontCount));
  for (int i = 0; i < setup.fontCount && i < kSetupBlockMaxFonts; ++i) {
    std::printf("  [%03d] \"%s\" -> \"%s\"\n", i + 1, setup.fontNames[i], setup.fontFaces[i]);
  }
}

int RunSetup(int argc, char** argv) {
  std::string filterPath;
  SetupNames names;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintSetupHelp(stdout);
      return kExitOk;
    }
    const int taken = names.Take("setup", argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken > 0) continue;
    if (arg != "--filter") {
      PrintError("setup: unknown argument '" + arg + "' (try 'setup --help')");
      return kExitUsage;
    }
    if (i + 1 >= argc) {
      PrintError("setup: --filter needs a value");
      return kExitUsage;
    }
    filterPath = argv[++i];
  }

  FilterModule filter;
  std::string error;
  if (!filter.Load(filterPath.empty() ? FilterModule::DefaultPath() : filterPath, &error)) {
    PrintError(error);
    return kExitUsage;
  }
  auto createSetup = filter.Resolve<CreateSetupProc>("CreateSetup");
  auto destroySetup = filter.Resolve<DestroySetupProc>("DestroySetup");
  if (!createSetup || !destroySetup) {
    PrintError(filter.path() + " has no CreateSetup: not a GIF import filter");
    return kExitUsage;
  }

  HGLOBAL setup = names.Create(createSetup);
  if (setup == nullptr) {
    PrintError("setup: no setup could be made: " + names.WhyNoSetup(filter));
    return kExitFailed;
  }
  if (!names.CheckFound(setup, false)) {
    destroySetup(setup);
    return kExitFailed;
  }
  bool printed = false;
  {
    const LockedGlobal locked(setup);
    if (const auto* fields = locked.As<const FilterSetup>()) {
      PrintSetup(*fields);
      printed = true;
    }
  }
  destroySetup(setup);
  std::fflush(stdout);
  return printed ? kExitOk : kExitFailed;
}

const CommandRegistration kSetup{{"setup", "setup [--profile FILE] [--mode NAME] [--filter PATH]",
                                  "prints what a setup reads from the profile", RunSetup}};

}  // namespace
}  // namespace host
