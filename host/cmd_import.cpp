// gifimport import: one GIF through the filter's ImportFile exactly as a host
// application runs it (setup, request, context, status callback), then the
// picture the filter built, written as PNG or SVG by the companion stand-in.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "companion/standin.h"
#include "filter/filter_api.h"
#include "host/commands.h"
#include "host/errors.h"
#include "host/filter_module.h"
#include "host/host_input.h"
#include "host/interrupt.h"
#include "host/setup_options.h"

namespace host {
namespace {

using CreateSetupProc = HGLOBAL(WINAPI*)(HINSTANCE, const char*, const char*, uint32_t);
using DestroySetupProc = int32_t(WINAPI*)(HGLOBAL);
using EscapeSetupProc = int32_t(WINAPI*)(HGLOBAL, int32_t, int32_t, void*, void*, uintptr_t);
using ImportFileProc = int32_t(WINAPI*)(uint32_t, const char*, const char*, const char*,
                                        ImportRequest*);

constexpr int kExitCancelled = 130;  // as a shell reports an interrupted command
constexpr int32_t kCancelled = 61;
constexpr int32_t kEscapeStreamFunction = 0x51;
constexpr int kProgressBarWidth = 40;

enum class InputWay { kFile, kMemory, kStream };
enum class OutputKind { kNone, kPng, kSvg };

struct ImportArgs {
  std::string file;
  std::string output;
  OutputKind outputKind = OutputKind::kNone;
  InputWay way = InputWay::kFile;
  std::string tracePath;
  std::string dumpDirectory;
  std::string filterPath;
  SetupNames setupNames;
  bool quiet = false;
};

void PrintImportHelp(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: %s import FILE [-o OUT.png|OUT.svg] [--memory | --stream]\n"
      "                        [--trace OUT.jsonl] [--dump-bitmaps DIR] [--quiet]\n"
      "                        [--profile FILE] [--mode NAME] [--filter PATH]\n\n"
      "Imports FILE through the filter as a host application does and writes the\n"
      "picture the filter built.\n\n"
      "  -o OUT.png|OUT.svg  write the picture as PNG or SVG (by the extension)\n"
      "  --memory            hand the file to the filter in a global memory block\n"
      "  --stream            hand the file to the filter through a host stream\n"
      "  --trace OUT.jsonl   write every graphics library call, one JSON object a line\n"
      "  --dump-bitmaps DIR  write each bitmap as DIR/bitmap-NNN.pgm (one palette index\n"
      "                      per pixel) and a line per bitmap to DIR/bitmaps.tsv:\n"
      "                      number, left, top, width, height, depth, transparent,\n"
      "                      back colour index\n"
      "  --quiet             no progress bar and no summary line\n"
      "%s"
      "  --filter PATH       load this filter module instead of gifin.so beside %s\n\n"
      "A progress bar shows while stderr is a terminal. Ctrl-C asks the filter to\n"
      "stop; a second one ends the program at once.\n\n"
      "Exit status: 0 when the filter imported the file (and every output was\n"
      "written), 1 when it did not, 2 for bad arguments or a filter that cannot be\n"
      "loaded, 130 when the import was cancelled.\n",
      kProgramName, kSetupOptionsHelp, kProgramName);
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// 0 when parsed; else the exit status to return (help printed: kExitOk).
int ParseImportArgs(int argc, char** argv, ImportArgs* args, bool* done) {
  *done = false;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* into) {
      if (i + 1 >= argc) {
        PrintError("import: " + arg + " needs a value");
        return false;
      }
      *into = argv[++i];
      return true;
    };
    if (optionsDone || arg.empty() || arg[0] != '-' || arg == "-") {
      if (!args->file.empty()) {
        PrintError("import: one FILE at a time (try 'import --help')");
        return kExitUsage;
      }
      args->file = arg;
    } else if (arg == "--") {
      optionsDone = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintImportHelp(stdout);
      *done = true;
      return kExitOk;
    } else if (arg == "--memory" || arg == "--stream") {
      const InputWay chosen = arg == "--memory" ? InputWay::kMemory : InputWay::kStream;
      if (args->way != InputWay::kFile && args->way != chosen) {
        PrintError("import: --memory and --stream exclude each other");
        return kExitUsage;
      }
      args->way = chosen;
    } else if (arg == "--quiet" || arg == "-q") {
      args->quiet = true;
    } else if (arg == "-o" || arg == "--output") {
      if (!value(&args->output)) return kExitUsage;
    } else if (arg == "--trace") {
      if (!value(&args->tracePath)) return kExitUsage;
    } else if (arg == "--dump-bitmaps") {
      if (!value(&args->dumpDirectory)) return kExitUsage;
    } else if (int taken = args->setupNames.Take("import", argc, argv, &i)) {
      if (taken < 0) return kExitUsage;
    } else if (arg == "--filter") {
      if (!value(&args->filterPath)) return kExitUsage;
    } else {
      PrintError("import: unknown option '" + arg + "' (try 'import --help')");
      return kExitUsage;
    }
  }
  if (args->file.empty()) {
    PrintError("import: no file given (try 'import --help')");
    return kExitUsage;
  }
  if (!args->output.empty()) {
    const std::string extension = Lowercase(std::filesystem::path(args->output).extension().string());
    if (extension == ".png") {
      args->outputKind = OutputKind::kPng;
    } else if (extension == ".svg") {
      args->outputKind = OutputKind::kSvg;
    } else {
      PrintError("import: -o takes a file ending in .png or .svg, not '" + args->output + "'");
      return kExitUsage;
    }
  }
  return kExitOk;
}

// ---- The host's side of the status callback --------------------------------

// What the callback needs; found through the context's userValue.
struct ImportSession {
  const char* file = "";
  bool showProgress = false;
  bool barShown = false;
  bool stopAsked = false;  // a stop was answered to a progress call
  int lastPercent = -1;

  void ClearBar() {
    if (!barShown) return;
    std::fprintf(stderr, "\r%*s\r", kProgressBarWidth + 16, "");
    barShown = false;
  }
  void DrawBar(int percent) {
    if (!showProgress || percent == lastPercent) return;
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    lastPercent = percent;
    const int filled = percent * kProgressBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kProgressBarWidth - filled), '.');
    std::fprintf(stderr, "\rimporting [%s] %3d%%", bar.c_str(), percent);
    std::fflush(stderr);
    barShown = true;
  }
};

// The callback's userValue is 32 bits on every target: it names the one
// session of this process rather than carrying a pointer.
constexpr uint32_t kSessionValue = 1;
ImportSession* currentSession = nullptr;

int32_t WINAPI HostStatus(uint32_t userValue, int32_t kind, int32_t code, int32_t value1,
                          int32_t /*value2*/, int32_t severity, int32_t* /*extra*/) {
  ImportSession* session = userValue == kSessionValue ? currentSession : nullptr;
  if (session == nullptr) return 0;
  switch (kind) {
    case kStatusProgress:
      if (code != 0) return 0;  // the range announcement: always 0 to 100
      session->DrawBar(value1);
      if (InterruptRequested() && !session->stopAsked) {
        session->stopAsked = true;
        return 1;
      }
      return 0;
    case kStatusCancelFollowUp:
      // Confirms the stop asked for; the filter asks nothing else here.
      return InterruptRequested() ? 1 : 0;
    case kStatusError:
      session->ClearBar();
      std::fprintf(stderr, "%s: warning: %s: %s, severity %d\n", kProgramName, session->file,
                   DescribeFilterError(code).c_str(), static_cast<int>(severity));
      return 0;
    default:
      return 0;
  }
}

// ---- Outputs ---------------------------------------------------------------

// One palette index per byte, top row first; pixels no band delivered are 0.
bool WritePgm(const standin::Bitmap& bitmap, const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "P5\n" << bitmap.width << " " << bitmap.height << "\n255\n";
  std::string row(bitmap.width, '\0');
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      const int index = bitmap.PixelIndex(x, y);
      row[static_cast<size_t>(x)] = static_cast<char>(index < 0 ? 0 : index);
    }
    out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }
  out.close();
  return static_cast<bool>(out);
}

bool DumpBitmaps(const standin::Picture& picture, const std::string& directory,
                 std::string* error) {
  namespace fs = std::filesystem;
  std::error_code code;
  fs::create_directories(directory, code);
  if (code) {
    *error = "cannot make " + directory + ": " + code.message();
    return false;
  }
  const std::string tablePath = (fs::path(directory) / "bitmaps.tsv").string();
  std::ofstream table(tablePath, std::ios::binary | std::ios::trunc);  // the same bytes everywhere
  // Back to GIF coordinates: the picture's y axis points up from the
  // screen's bottom edge, and GIF positions are unsigned 16-bit values.
  const int screenHeight = picture.frame[3];
  for (size_t i = 0; i < picture.bitmaps.size(); ++i) {
    const standin::Bitmap& b = picture.bitmaps[i];
    char name[32];
    std::snprintf(name, sizeof name, "bitmap-%03zu.pgm", i + 1);
    if (!WritePgm(b, (fs::path(directory) / name).string())) {
      *error = "cannot write " + (fs::path(directory) / name).string();
      return false;
    }
    const auto left = static_cast<uint16_t>(b.left);
    const auto top = static_cast<uint16_t>(screenHeight - b.top);
    table << (i + 1) << '\t' << left << '\t' << top << '\t' << b.width << '\t' << b.height << '\t'
          << b.depth << '\t' << (b.transparent ? 1 : 0) << '\t' << b.backColorIndex << '\n';
  }
  table.close();
  if (!table) {
    *error = "cannot write " + tablePath;
    return false;
  }
  return true;
}

// ---- The command -----------------------------------------------------------

struct FilterExports {
  CreateSetupProc createSetup = nullptr;
  DestroySetupProc destroySetup = nullptr;
  EscapeSetupProc escapeSetup = nullptr;
  ImportFileProc importFile = nullptr;
  const FilterModule* module = nullptr;
};

// Runs the import the way the arguments ask; *result is ImportFile's.
// false when the host could not even start it (the reason printed).
bool RunOneImport(const FilterExports& filter, const ImportArgs& args, ImportSession* session,
                  int32_t* result) {
  HGLOBAL setup = args.setupNames.Create(filter.createSetup);
  if (setup == nullptr) {
    PrintError("import: the filter made no setup: " + args.setupNames.WhyNoSetup(*filter.module));
    return false;
  }

  HostContext context = {};
  context.userValue = kSessionValue;
  context.statusCallback = HostStatus;
  ImportRequest request = {};
  request.setupHandle = setup;
  request.hostContext = &context;

  std::string error;
  std::string path = args.file;
  HGLOBAL memory = nullptr;
  FileHostStream stream;
  bool ready = true;
  if (args.way == InputWay::kMemory) {
    memory = ReadFileToGlobal(args.file, &error);
    context.inputMemory = memory;
    path.clear();  // an empty path is what selects the memory block
    ready = memory != nullptr;
  } else if (args.way == InputWay::kStream) {
    ready = stream.Open(args.file, &error);
    if (ready) {
      request.streamUserValue = stream.userValue();
      filter.escapeSetup(setup, kEscapeStreamFunction, 4,
                         reinterpret_cast<void*>(FileHostStream::function()), nullptr, 0);
    }
  }

  if (ready) {
    currentSession = session;
    {
      InterruptScope interrupts;
      *result = filter.importFile(0, "", "", path.c_str(), &request);
    }
    currentSession = nullptr;
    session->ClearBar();
  } else {
    PrintError(error);
  }

  if (memory != nullptr) GlobalFree(memory);
  filter.destroySetup(setup);
  return ready;
}

int RunImportCommand(int argc, char** argv) {
  ImportArgs args;
  bool done = false;
  if (int status = ParseImportArgs(argc, argv, &args, &done); status != kExitOk || done) {
    return status;
  }

  FilterModule module;
  std::string error;
  if (!module.Load(args.filterPath.empty() ? FilterModule::DefaultPath() : args.filterPath,
                   &error)) {
    PrintError(error);
    return kExitUsage;
  }
  FilterExports filter;
  filter.createSetup = module.Resolve<CreateSetupProc>("CreateSetup");
  filter.destroySetup = module.Resolve<DestroySetupProc>("DestroySetup");
  filter.escapeSetup = module.Resolve<EscapeSetupProc>("EscapeSetup");
  filter.importFile = module.Resolve<ImportFileProc>("ImportFile");
  filter.module = &module;
  if (!filter.createSetup || !filter.destroySetup || !filter.escapeSetup || !filter.importFile) {
    PrintError(module.path() + " has no ImportFile: not a GIF import filter");
    return kExitUsage;
  }

  ImportSession session;
  session.file = args.file.c_str();
  session.showProgress = !args.quiet && ErrorOutputIsTerminal();
  StandInForgetPictures();
  StandInClearLog();  // the trace holds this import's calls only
  // Without a trace to write, no log is kept: making it would cost more
  // than the import itself.
  StandInSetLogging(args.tracePath.empty() ? 0 : 1);

  int32_t result = -1;
  const bool started = RunOneImport(filter, args, &session, &result);
  bool outputsWritten = true;

  // The trace and the bitmaps tell what happened also when the import failed.
  if (!args.tracePath.empty() && StandInWriteLog(args.tracePath.c_str()) != 0) {
    PrintError("import: cannot write the trace " + args.tracePath);
    outputsWritten = false;
  }
  const standin::Picture* picture = StandInLastPicture();
  if (!args.dumpDirectory.empty() && picture != nullptr &&
      !DumpBitmaps(*picture, args.dumpDirectory, &error)) {
    PrintError("import: " + error);
    outputsWritten = false;
  }
  if (!started) return kExitFailed;

  if (result == kCancelled && InterruptRequested()) {
    PrintError(args.file + ": the import was cancelled");
    return kExitCancelled;
  }
  if (result != 0) {
    PrintError(args.file + ": " + DescribeFilterError(result));
    return kExitFailed;
  }
  if (picture == nullptr) {
    PrintError(args.file + ": the filter reported success but left no picture");
    return kExitFailed;
  }

  if (args.outputKind != OutputKind::kNone) {
    const int written = args.outputKind == OutputKind::kPng
                            ? StandInRenderPng(*picture, args.output.c_str(), &error)
                            : StandInRenderSvg(*picture, args.output.c_str(), &error);
    if (written != 0) {
      PrintError("import: " + (error.empty() ? "cannot write " + args.output : error));
      outputsWritten = false;
    }
  }
  if (!args.quiet && outputsWritten) {
    std::printf("%s: %dx%d picture, %zu bitmap%s, %zu text line%s%s%s\n", args.file.c_str(),
                picture->frame[2] - picture->frame[0], picture->frame[3] - picture->frame[1],
                picture->bitmaps.size(), picture->bitmaps.size() == 1 ? "" : "s",
                picture->texts.size(), picture->texts.size() == 1 ? "" : "s",
                args.output.empty() ? "" : " -> ", args.output.c_str());
    std::fflush(stdout);
  }
  return outputsWritten ? kExitOk : kExitFailed;
}

const CommandRegistration kImport{
    {"import",
     "import FILE [-o OUT.png|OUT.svg] [--memory|--stream] [--trace OUT.jsonl] "
     "[--dump-bitmaps DIR] [--quiet] [--profile FILE] [--mode NAME] [--filter PATH]",
     "imports a GIF through the filter and writes the picture", RunImportCommand}};

}  // namespace
}  // namespace host
