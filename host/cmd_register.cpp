// gifimport register and gifimport prefs: the filter's registration entries
// as a host calls them. register shows the options block GetFilterInfo makes,
// the interface version and the module's own strings; prefs opens the
// companion library's preferences dialog through GetFilterPref.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "gifimport/setup_block.h"
#include "host/commands.h"
#include "host/filter_module.h"
#include "resources/string_ids.h"

#if !defined(_WIN32)
#include <dlfcn.h>

#include "platform/linux/module_registry.h"
#endif

namespace host {
namespace {

using GetFilterInfoProc = int16_t(WINAPI*)(uint32_t, uint32_t, HGLOBAL*, uint32_t);
using GetFilterPrefProc = void(WINAPI*)(uint32_t, uint32_t, uintptr_t, uint32_t);
using FilterVersionProc = uint32_t(WINAPI*)(void);

constexpr const char* kVersionKeys[] = {"FileDescription", "FileVersion", "ProductVersion",
                                        "FilterDefinitions"};

// ---- The module's instance and version values: the system's business.
#if defined(_WIN32)
HINSTANCE InstanceContaining(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}
// From the module file's version resource, in its first language; valid
// until the next call.
const char* VersionValue(HINSTANCE instance, const char* key) {
  static std::vector<char> info;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return nullptr;
  info.assign(size, '\0');
  if (!GetFileVersionInfoA(path, 0, size, info.data())) return nullptr;
  const WORD* language = nullptr;
  UINT bytes = 0;
  if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                      reinterpret_cast<void**>(const_cast<WORD**>(&language)), &bytes) ||
      bytes < 4) {
    return nullptr;
  }
  char query[96];
  std::snprintf(query, sizeof query, "\\StringFileInfo\\%04X%04X\\%s", language[0], language[1],
                key);
  char* value = nullptr;
  if (!VerQueryValueA(info.data(), query, reinterpret_cast<void**>(&value), &bytes)) return nullptr;
  return value;
}
#else
// An instance is the module's load address, as the platform stand-in keeps it.
HINSTANCE InstanceContaining(const void* address) {
  Dl_info info;
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
}
const char* VersionValue(HINSTANCE instance, const char* key) {
  return StandInVersionValue(instance, key);
}
#endif

bool LoadFilter(const std::string& filterPath, FilterModule* filter) {
  std::string error;
  if (!filter->Load(filterPath.empty() ? FilterModule::DefaultPath() : filterPath, &error)) {
    PrintError(error);
    return false;
  }
  return true;
}

// --filter PATH and --help, and the numeric options a command names.
struct CommonArgs {
  std::string filterPath;
  bool helpShown = false;
};

bool ParseNumber(const std::string& text, unsigned long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtoul(text.c_str(), &end, 0);
  return *end == 0 && text[0] != '-';
}

// ---- register -----------------------------------------------------------------

void PrintRegisterHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s register [--filter PATH]\n\n"
               "Registers the filter as a host does: GetFilterInfo makes an options block,\n"
               "whose options 3 and 0x28 and persistent bytes are printed; then the\n"
               "interface version (QVRGetFilterVersion) and the module's title and\n"
               "version strings.\n\n"
               "Exit status: 0 when GetFilterInfo made a block, 1 when it did not, 2 for\n"
               "bad arguments or a filter that cannot be loaded.\n",
               kProgramName);
}

void PrintOptionsBlock(HGLOBAL block) {
  uint16_t option3 = 0;
  if (QvOptionsControl(block, kQvOptionFilterBlockMark, sizeof option3, nullptr, &option3, 0) ==
      0) {
    std::printf("  option 3:    %u\n", static_cast<unsigned>(option3));
  } else {
    std::printf("  option 3:    (cannot be read)\n");
  }
  uint8_t option28 = 0;
  if (QvOptionsControl(block, kQvOptionRegisterMark, sizeof option28, nullptr, &option28, 0) == 0) {
    std::printf("  option 0x28: 0x%02X\n", static_cast<unsigned>(option28));
  } else {
    std::printf("  option 0x28: (cannot be read)\n");
  }
  std::vector<uint8_t> persistent(sizeof(PersistentOptions));
  const auto size = static_cast<int32_t>(persistent.size());
  if (QvOptionsControl(block, kQvOptionFetchPersistent, size, nullptr, persistent.data(), 0) == 0) {
    std::printf("  persistent bytes (%d):", static_cast<int>(size));
    for (uint8_t value : persistent) std::printf(" %02X", static_cast<unsigned>(value));
    std::printf("\n");
  } else {
    std::printf("  persistent bytes: (cannot be read)\n");
  }
}

int RunRegister(int argc, char** argv) {
  CommonArgs args;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintRegisterHelp(stdout);
      return kExitOk;
    }
    if (arg == "--filter" && i + 1 < argc) {
      args.filterPath = argv[++i];
    } else {
      PrintError("register: unexpected '" + arg + "' (try 'register --help')");
      return kExitUsage;
    }
  }
  FilterModule filter;
  if (!LoadFilter(args.filterPath, &filter)) return kExitUsage;
  auto getFilterInfo = filter.Resolve<GetFilterInfoProc>("GetFilterInfo");
  auto filterVersion = filter.Resolve<FilterVersionProc>("QVRGetFilterVersion");
  if (!getFilterInfo || !filterVersion) {
    PrintError(filter.path() + " lacks the registration entries: not a GIF import filter");
    return kExitUsage;
  }

  HGLOBAL block = nullptr;
  const int16_t info = getFilterInfo(0, 0, &block, 0);
  std::printf("GetFilterInfo: %d (%s)\n", static_cast<int>(info),
              block != nullptr ? "an options block was made" : "no options block");
  if (block != nullptr) {
    PrintOptionsBlock(block);
    GlobalFree(block);
  }
  std::printf("interface version: 0x%08X\n", static_cast<unsigned>(filterVersion()));

  HINSTANCE instance = InstanceContaining(reinterpret_cast<const void*>(getFilterInfo));
  char title[kSetupBlockTextBytes] = "";  // the size the filter loads it into
  if (instance == nullptr || LoadStringA(instance, kIdsTitle, title, sizeof title) <= 0) {
    std::printf("title: (not in the module's string table)\n");
  } else {
    std::printf("title: %s\n", title);
  }
  for (const char* key : kVersionKeys) {
    const char* value = instance != nullptr ? VersionValue(instance, key) : nullptr;
    std::printf("%s: %s\n", key, value != nullptr ? value : "(not read)");
  }
  std::fflush(stdout);
  return block != nullptr ? kExitOk : kExitFailed;
}

// ---- prefs --------------------------------------------------------------------

void PrintPrefsHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s prefs [--owner N] [--host-value N] [--filter PATH]\n\n"
               "Shows the filter's preferences through GetFilterPref: the companion\n"
               "library's dialog prints what it was given and calls the filter's edit\n"
               "operation.\n\n"
               "  --owner N       the owner value handed to the dialog (default 1; 0\n"
               "                  asks for no dialog)\n"
               "  --host-value N  the host value handed on to it (default 0)\n\n"
               "Exit status: 0 when the dialog was shown, 1 when it was not, 2 for bad\n"
               "arguments or a filter that cannot be loaded.\n",
               kProgramName);
}

bool DialogWasShown() {
  for (int i = 0; i < StandInLogSize(); ++i) {
    if (std::strstr(StandInLogEntry(i), "\"QvPreferencesDialog\"") != nullptr) return true;
  }
  return false;
}

int RunPrefs(int argc, char** argv) {
  CommonArgs args;
  unsigned long owner = 1, hostValue = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintPrefsHelp(stdout);
      return kExitOk;
    }
    const bool hasValue = i + 1 < argc;
    if (arg == "--filter" && hasValue) {
      args.filterPath = argv[++i];
    } else if ((arg == "--owner" || arg == "--host-value") && hasValue) {
      if (!ParseNumber(argv[++i], arg == "--owner" ? &owner : &hostValue) ||
          (arg == "--host-value" && hostValue > UINT32_MAX)) {
        PrintError("prefs: " + arg + " takes a number, not '" + argv[i] + "'");
        return kExitUsage;
      }
    } else {
      PrintError("prefs: unexpected '" + arg + "' (try 'prefs --help')");
      return kExitUsage;
    }
  }
  FilterModule filter;
  if (!LoadFilter(args.filterPath, &filter)) return kExitUsage;
  auto getFilterPref = filter.Resolve<GetFilterPrefProc>("GetFilterPref");
  if (!getFilterPref) {
    PrintError(filter.path() + " has no GetFilterPref: not a GIF import filter");
    return kExitUsage;
  }
  StandInSetLogging(1);  // the log is how the host sees the dialog shown
  StandInClearLog();
  getFilterPref(0, static_cast<uint32_t>(hostValue), static_cast<uintptr_t>(owner), 0);
  if (!DialogWasShown()) {
    PrintError(owner == 0 ? "prefs: no dialog for owner 0"
                          : "prefs: no dialog was shown (no setup could be made)");
    return kExitFailed;
  }
  return kExitOk;
}

const CommandRegistration kRegister{{"register", "register [--filter PATH]",
                                     "registers the filter and shows its options block",
                                     RunRegister}};
const CommandRegistration kPrefs{{"prefs", "prefs [--owner N] [--host-value N] [--filter PATH]",
                                  "shows the filter's preferences dialog", RunPrefs}};

}  // namespace
}  // namespace host
