// gifimport info: width, height and bits per pixel of GIFs, through the
// filter's GetFileInfo, from a file, a memory block or a host stream.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "filter/filter_api.h"
#include "host/commands.h"
#include "host/errors.h"
#include "host/filter_module.h"
#include "host/host_input.h"
#include "host/setup_options.h"

namespace host {
namespace {

using GetFileInfoProc = int32_t(WINAPI*)(const char*, FileInfoRecord*, uintptr_t, HostStreamProc);

// The whole record as the layout gives it; sizeof may pad it.
constexpr int32_t kInfoRecordBytes = 60;

enum class InputWay { kFile, kMemory, kStream };

constexpr int32_t kReadFailed = 21;

// Whether one byte of the file can be read; else the system's reason.
bool CanReadFile(const std::string& path, std::string* why) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *why = std::strerror(errno);
    return false;
  }
  errno = 0;
  char byte = 0;
  bool ok = std::fread(&byte, 1, 1, file) == 1 || !std::ferror(file);
  if (!ok) *why = std::strerror(errno);
  std::fclose(file);
  return ok;
}

void PrintInfoHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s info [--memory | --stream] [--profile FILE] [--mode NAME]\n"
               "                 [--filter PATH] FILE...\n\n"
               "Prints, for each FILE, what the filter reads from its header:\n"
               "  NAME: WIDTHxHEIGHT, N bits per pixel\n\n"
               "  --memory       hand each file to the filter in a global memory block\n"
               "  --stream       hand each file to the filter through a host stream\n"
               "  --profile FILE, --mode NAME\n"
               "                 first make a setup with them, as a host importing the\n"
               "                 files would, and stop when none can be made (see\n"
               "                 'setup --help'); the header itself reads no profile\n"
               "  --filter PATH  load this filter module instead of gifin.so beside %s\n\n"
               "Exit status: 0 when every file was read, 1 when one or more failed,\n"
               "2 for bad arguments or a filter that cannot be loaded.\n",
               kProgramName, kProgramName);
}

// One file; false when it failed (the reason printed).
bool ShowInfo(GetFileInfoProc getFileInfo, InputWay way, const std::string& name) {
  FileInfoRecord record;
  std::memset(&record, 0, sizeof record);
  record.recordSize = kInfoRecordBytes;

  std::string error;
  int32_t result = 0;
  switch (way) {
    case InputWay::kFile:
      result = getFileInfo(name.c_str(), &record, 0, nullptr);
      break;
    case InputWay::kMemory: {
      HGLOBAL block = ReadFileToGlobal(name, &error);
      if (!block) {
        PrintError(name + ": " + error);
        return false;
      }
      result = getFileInfo("", &record, reinterpret_cast<uintptr_t>(block), nullptr);
      GlobalFree(block);
      break;
    }
    case InputWay::kStream: {
      FileHostStream stream;
      if (!stream.Open(name, &error)) {
        PrintError(name + ": " + error);
        return false;
      }
      result = getFileInfo(name.c_str(), &record, stream.userValue(), FileHostStream::function());
      break;
    }
  }
  if (result != 0) {
    std::string why;
    // The filter says only 21 for a file it cannot open; the host can say why.
    if (result == kReadFailed && way != InputWay::kMemory && !CanReadFile(name, &why)) {
      PrintError(name + ": cannot read the file: " + why + " (error " + std::to_string(result) +
                 ")");
    } else {
      PrintError(name + ": " + DescribeFilterError(result));
    }
    return false;
  }
  std::printf("%s: %dx%d, %d bits per pixel\n", name.c_str(), static_cast<int>(record.width),
              static_cast<int>(record.height), static_cast<int>(record.bitsPerPixel));
  return true;
}

int RunInfo(int argc, char** argv) {
  InputWay way = InputWay::kFile;
  std::string filterPath;
  SetupNames setupNames;
  std::vector<std::string> files;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
      files.push_back(arg);
    } else if (arg == "--") {
      optionsDone = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintInfoHelp(stdout);
      return kExitOk;
    } else if (arg == "--memory" || arg == "--stream") {
      InputWay chosen = arg == "--memory" ? InputWay::kMemory : InputWay::kStream;
      if (way != InputWay::kFile && way != chosen) {
        PrintError("info: --memory and --stream exclude each other");
        return kExitUsage;
      }
      way = chosen;
    } else if (int taken = setupNames.Take("info", argc, argv, &i)) {
      if (taken < 0) return kExitUsage;
    } else if (arg == "--filter") {
      if (i + 1 >= argc) {
        PrintError("info: --filter needs a path");
        return kExitUsage;
      }
      filterPath = argv[++i];
    } else {
      PrintError("info: unknown option '" + arg + "' (try 'info --help')");
      return kExitUsage;
    }
  }
  if (files.empty()) {
    PrintError("info: no file given (try 'info --help')");
    return kExitUsage;
  }

  FilterModule filter;
  std::string error;
  if (!filter.Load(filterPath.empty() ? FilterModule::DefaultPath() : filterPath, &error)) {
    PrintError(error);
    return kExitUsage;
  }
  auto getFileInfo = filter.Resolve<GetFileInfoProc>("GetFileInfo");
  if (!getFileInfo) {
    PrintError(filter.path() + " has no GetFileInfo: not a GIF import filter");
    return kExitUsage;
  }
  if (!setupNames.profile.empty() || !setupNames.mode.empty()) {
    auto createSetup = filter.Resolve<CreateSetupProc>("CreateSetup");
    auto destroySetup = filter.Resolve<int32_t(WINAPI*)(HGLOBAL)>("DestroySetup");
    HGLOBAL setup = createSetup && destroySetup ? setupNames.Create(createSetup) : nullptr;
    if (setup == nullptr) {
      PrintError("info: no setup could be made: " + setupNames.WhyNoSetup(filter));
      return kExitFailed;
    }
    destroySetup(setup);
  }

  bool allRead = true;
  for (const std::string& name : files) {
    allRead = ShowInfo(getFileInfo, way, name) && allRead;
  }
  std::fflush(stdout);
  return allRead ? kExitOk : kExitFailed;
}

const CommandRegistration kInfo{{"info",
                                 "info [--memory | --stream] [--profile FILE] [--mode NAME] "
                                 "[--filter PATH] FILE...",
                                 "prints the size and depth of GIF files", RunInfo}};

}  // namespace
}  // namespace host
