// gifimport metafile: one GIF through the filter's metafile entries
// (ImportGR, ImportCB with a host stream, ImportEmbeddedGR), as a host that
// wants a finished Windows metafile calls them, and the Enhanced Metafile it
// gets written to a file.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "gifimport/companion.h"
#include "gifimport/filter_api.h"
#include "host/commands.h"
#include "host/errors.h"
#include "host/filter_module.h"
#include "host/host_input.h"

namespace host {
namespace {

using GetFilterInfoProc = int16_t(WINAPI*)(uint32_t, uint32_t, HGLOBAL*, uint32_t);
using ImportGRProc = int32_t(WINAPI*)(uint32_t, const SourceDescriptor*, ImportResult*, HGLOBAL);
using ImportCBProc = int32_t(WINAPI*)(uint32_t, const SourceDescriptor*, ImportResult*, HGLOBAL,
                                      uint32_t, HostStreamProc);
using ImportEmbeddedGRProc = int16_t(WINAPI*)(uint32_t, const SourceDescriptor*, ImportResult*,
                                              HGLOBAL, int32_t, const char*);

enum class Entry { kGR, kMemory, kStream, kEmbedded };

struct MetafileArgs {
  std::string file;
  std::string output;
  Entry entry = Entry::kGR;
  bool hasStartText = false;
  std::string startText;
  bool noOptions = false;
  std::string filterPath;
};

void PrintMetafileHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s metafile FILE [-o OUT.emf] [--memory | --stream | --embedded]\n"
               "                          [--start-text TEXT] [--no-options] [--filter PATH]\n\n"
               "Imports FILE through the filter's metafile entry ImportGR, as a host that\n"
               "wants a finished metafile does, and prints the metafile's frame (left, top,\n"
               "right, bottom) and units per inch.\n\n"
               "  -o OUT.emf          write the Enhanced Metafile the filter returned\n"
               "  --memory            ImportGR with the file in a global memory block\n"
               "                      (the source's path empty)\n"
               "  --stream            ImportCB with a host stream function over the file\n"
               "  --embedded          ImportEmbeddedGR\n"
               "  --start-text TEXT   with --embedded: the start text it is given\n"
               "  --no-options        pass no options block (else one from GetFilterInfo)\n"
               "  --filter PATH       load this filter module instead of gifin.so beside %s\n\n"
               "Exit status: 0 when the entry returned 0 (and the metafile was written),\n"
               "1 when it returned a number (said in words) or the output failed, 2 for\n"
               "bad arguments or a filter that cannot be loaded.\n",
               kProgramName, kProgramName);
}

int ParseMetafileArgs(int argc, char** argv, MetafileArgs* args, bool* helpShown) {
  auto value = [&](int* i, std::string* out) {
    if (*i + 1 >= argc) {
      PrintError("metafile: " + std::string(argv[*i]) + " needs a value");
      return false;
    }
    *out = argv[++*i];
    return true;
  };
  bool entryChosen = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintMetafileHelp(stdout);
      *helpShown = true;
      return kExitOk;
    }
    if (arg == "-o" || arg == "--output") {
      if (!value(&i, &args->output)) return kExitUsage;
    } else if (arg == "--memory" || arg == "--stream" || arg == "--embedded") {
      const Entry chosen = arg == "--memory"   ? Entry::kMemory
                           : arg == "--stream" ? Entry::kStream
                                               : Entry::kEmbedded;
      if (entryChosen && args->entry != chosen) {
        PrintError("metafile: --memory, --stream and --embedded exclude each other");
        return kExitUsage;
      }
      args->entry = chosen;
      entryChosen = true;
    } else if (arg == "--start-text") {
      if (!value(&i, &args->startText)) return kExitUsage;
      args->hasStartText = true;
    } else if (arg == "--no-options") {
      args->noOptions = true;
    } else if (arg == "--filter") {
      if (!value(&i, &args->filterPath)) return kExitUsage;
    } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
      PrintError("metafile: unknown option '" + arg + "' (try 'metafile --help')");
      return kExitUsage;
    } else if (args->file.empty()) {
      args->file = arg;
    } else {
      PrintError("metafile: one FILE only (try 'metafile --help')");
      return kExitUsage;
    }
  }
  if (args->file.empty()) {
    PrintError("metafile: no file given (try 'metafile --help')");
    return kExitUsage;
  }
  if (!args->output.empty()) {
    std::string extension =
        args->output.size() >= 4 ? args->output.substr(args->output.size() - 4) : "";
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".emf") {
      PrintError("metafile: writes an Enhanced Metafile: name the output .emf, not '" +
                 args->output + "'");
      return kExitUsage;
    }
  }
  if (args->hasStartText && args->entry != Entry::kEmbedded) {
    PrintError("metafile: --start-text goes with --embedded");
    return kExitUsage;
  }
  return kExitOk;
}

// The entry's number in words: the filter's own numbers, and those of the
// capture that the filter hands on.
std::string DescribeEntryResult(int32_t result) {
  switch (result) {
    case kHostBadRecord:
      return "the source or result record is missing or its path has no end (error 5300)";
    case kQvCaptureNotOpen:
      return "the metafile capture was not open (error -1)";
    case kQvCaptureNoMetafile:
      return "the picture could not be written as a metafile (error -2)";
    default:
      return DescribeFilterError(result);
  }
}

bool WriteMetafile(HANDLE metafile, const std::string& path, std::string* error) {
  auto handle = static_cast<HENHMETAFILE>(metafile);
  const UINT size = GetEnhMetaFileBits(handle, 0, nullptr);
  if (size == 0) {
    *error = "the filter's metafile handle holds no enhanced metafile";
    return false;
  }
  std::vector<BYTE> bytes(size);
  if (GetEnhMetaFileBits(handle, size, bytes.data()) != size) {
    *error = "the metafile's bytes cannot be had";
    return false;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  out.close();
  if (!out) {
    *error = "cannot write " + path;
    return false;
  }
  return true;
}

// The host's half of one call: the source record and what the chosen entry
// needs beside it, released on every way out. The input is opened once, by
// the host; what is not a regular file goes in a memory block.
class Source {
 public:
  Source() { std::memset(&record_, 0, sizeof record_); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  bool Prepare(const MetafileArgs& args, std::string* error) {
    const InputKind kind = args.entry == Entry::kMemory   ? InputKind::kMemory
                           : args.entry == Entry::kStream ? InputKind::kHostStream
                                                          : InputKind::kFile;
    if (!ReadHostInput(args.file, kind, &input_, error)) return false;  // names the input itself
    if (!handed_.Prepare(input_, kind, error)) {
      *error = args.file + ": " + *error;
      return false;
    }
    record_.memory = handed_.memory();
    if (handed_.kind() == InputKind::kMemory) return true;  // the path stays empty: memory input
    if (args.file.size() >= sizeof record_.path) {
      *error = args.file + ": the path is longer than the 259 characters a source record holds";
      return false;
    }
    std::memcpy(record_.path, args.file.c_str(), args.file.size() + 1);
    return true;
  }
  const SourceDescriptor* record() const { return &record_; }
  uint32_t streamValue() const { return handed_.streamValue(); }

 private:
  SourceDescriptor record_;
  HostInput input_;
  FilterInput handed_;
};

int RunMetafile(int argc, char** argv) {
  MetafileArgs args;
  bool helpShown = false;
  if (int status = ParseMetafileArgs(argc, argv, &args, &helpShown)) return status;
  if (helpShown) return kExitOk;

  FilterModule filter;
  std::string error;
  if (!filter.Load(args.filterPath.empty() ? FilterModule::DefaultPath() : args.filterPath,
                   &error)) {
    PrintError(error);
    return kExitUsage;
  }
  auto getFilterInfo = filter.Resolve<GetFilterInfoProc>("GetFilterInfo");
  auto importGR = filter.Resolve<ImportGRProc>("ImportGR");
  auto importCB = filter.Resolve<ImportCBProc>("ImportCB");
  auto importEmbedded = filter.Resolve<ImportEmbeddedGRProc>("ImportEmbeddedGR");
  if (!getFilterInfo || !importGR || !importCB || !importEmbedded) {
    PrintError(filter.path() + " lacks the metafile entries: not a GIF import filter");
    return kExitUsage;
  }

  Source source;
  if (!source.Prepare(args, &error)) {
    PrintError(error);
    return kExitFailed;
  }
  // A host gets its options block by registering the filter.
  HGLOBAL options = nullptr;
  if (!args.noOptions && getFilterInfo(0, 0, &options, 0) == 0) {
    PrintError("GetFilterInfo made no options block");
    return kExitFailed;
  }

  ImportResult result;
  std::memset(&result, 0, sizeof result);
  const uint32_t hostValue = 0;
  int32_t status = 0;
  switch (args.entry) {
    case Entry::kGR:
    case Entry::kMemory:
      status = importGR(hostValue, source.record(), &result, options);
      break;
    case Entry::kStream:
      status = importCB(hostValue, source.record(), &result, options, source.streamValue(),
                        FilterInput::streamFunction());
      break;
    case Entry::kEmbedded:
      status = importEmbedded(hostValue, source.record(), &result, options, 0,
                              args.hasStartText ? args.startText.c_str() : nullptr);
      break;
  }
  if (options != nullptr) GlobalFree(options);

  if (status != 0) {
    PrintError(args.file + ": " + DescribeEntryResult(status));
    return kExitFailed;
  }
  if (result.metafile == nullptr) {
    PrintError(args.file + ": the filter reported success but returned no metafile");
    return kExitFailed;
  }
  bool written = args.output.empty() || WriteMetafile(result.metafile, args.output, &error);
  // The metafile is the host's now, of whichever kind the filter handed over.
  if (GetObjectType(result.metafile) == OBJ_ENHMETAFILE) {
    DeleteEnhMetaFile(static_cast<HENHMETAFILE>(result.metafile));
  } else {
    DeleteMetaFile(static_cast<HMETAFILE>(result.metafile));
  }
  if (!written) {
    PrintError(args.file + ": " + error);
    return kExitFailed;
  }
  std::printf("%s: frame (%d, %d, %d, %d), %d units per inch\n", args.file.c_str(),
              static_cast<int>(result.left), static_cast<int>(result.top),
              static_cast<int>(result.right), static_cast<int>(result.bottom),
              static_cast<int>(result.unitsPerInch));
  if (!args.output.empty()) std::printf("wrote %s\n", args.output.c_str());
  std::fflush(stdout);
  return kExitOk;
}

const CommandRegistration kMetafile{
    {"metafile",
     "metafile FILE [-o OUT.emf] [--memory | --stream | --embedded [--start-text TEXT]]",
     "imports a GIF into an Enhanced Metafile through ImportGR", RunMetafile}};

}  // namespace
}  // namespace host
