// gifimport import: GIFs through the filter's ImportFile exactly as a host
// application runs it (setup, request, context, status callback), then the
// picture the filter built, written as PNG or SVG by the companion stand-in.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gifimport/filter_api.h"
#include "gifimport/standin_picture.h"
#include "host/cli.h"
#include "host/commands.h"
#include "host/errors.h"
#include "host/filter_module.h"
#include "host/frames.h"
#include "host/gif_structure.h"
#include "host/host_input.h"
#include "host/interrupt.h"
#include "host/setup_options.h"

namespace host {
namespace {

using DestroySetupProc = int32_t(WINAPI*)(HGLOBAL);
using EscapeSetupProc = int32_t(WINAPI*)(HGLOBAL, int32_t, int32_t, void*, void*, uintptr_t);
using ImportFileProc = int32_t(WINAPI*)(uint32_t, const char*, const char*, const char*,
                                        ImportRequest*);

constexpr int kExitCancelled = 130;  // as a shell reports an interrupted command
// Of a file's share of the progress line, importing takes this much and
// writing the picture the rest.
constexpr int kImportPermille = 500;

enum class OutputKind { kNone, kPng, kSvg };

constexpr int kLastFrame = -1, kAllFrames = -2;

struct ImportArgs {
  std::vector<std::string> files;
  std::string output;     // -o: one file, or "-"
  std::string outputDir;  // --output-dir: one output per input
  OutputKind kind = OutputKind::kNone;
  InputKind inputKind = InputKind::kFile;
  std::string tracePath;
  std::string dumpDirectory;
  std::string filterPath;
  SetupNames setupNames;
  StandInSaveOptions render = {0, 1, nullptr, nullptr};
  // --frame N (kLastFrame: --frame last) or --frames (kAllFrames); 0: the
  // whole picture.
  int frame = 0;
  bool quiet = false;
  bool verbose = false;
};

void PrintImportHelp(std::FILE* out) {
  std::fprintf(
      out,
      "Usage: %s import FILE... [-o OUT | -d DIR] [options]\n\n"
      "Imports each FILE (- for standard input) through the filter as a host\n"
      "application does and writes the picture the filter built.\n\n"
      "  -o, --output OUT        write the picture to OUT (- for standard output)\n"
      "  -d, --output-dir DIR    write one picture per FILE into DIR, named after it\n"
      "  -f, --format png|svg    the picture's format (else from OUT's extension; png)\n"
      "  -b, --background        fill where nothing is drawn with the picture's\n"
      "                          background colour (else it stays transparent)\n"
      "  -c, --compression 0-9   deflate level of PNG data (default 1: fast)\n"
      "      --frame N|last      write the picture as a viewer shows it while frame N\n"
      "                          (from 1) is on screen, earlier frames disposed of\n"
      "      --frames            write every frame so into DIR (-d) as NAME-001.png ...,\n"
      "                          and a line per frame to DIR/frames.tsv: number,\n"
      "                          delay in ms, disposal, left, top, width, height\n"
      "  -m, --memory            hand each file to the filter in a global memory block\n"
      "  -s, --stream            hand each file to the filter through a host stream\n"
      "      --trace OUT.jsonl   write every graphics library call, one JSON object a line\n"
      "      --dump-bitmaps DIR  write each bitmap as DIR/bitmap-NNN.pgm (one palette index\n"
      "                          per pixel) and a line per bitmap to DIR/bitmaps.tsv:\n"
      "                          number, left, top, width, height, depth, transparent,\n"
      "                          back colour index\n"
      "  -q, --quiet             no progress line and no summary line\n"
      "  -v, --verbose           say the filter module loaded and the profile found\n"
      "%s"
      "      --filter PATH       load this filter module instead of gifin.so beside %s\n\n"
      "Options take their value as --opt VALUE or --opt=VALUE. Standard input and\n"
      "anything but a regular file (a FIFO, a device) is read once, at most 1 GiB,\n"
      "and handed to the filter from memory. A picture is written under a temporary\n"
      "name beside its target and renamed when complete: a failed or interrupted\n"
      "import leaves the target as it was. A progress line shows while stderr is a\n"
      "terminal. Ctrl-C asks the filter to stop; a second one ends the program.\n\n"
      "Exit status: 0 when every file was imported (and every output written), 1\n"
      "when any failed (each failure is said), 2 for bad arguments or a filter that\n"
      "cannot be loaded, 130 when the import was cancelled.\n",
      kProgramName, kSetupOptionsHelp, kProgramName);
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

OutputKind KindOfName(const std::string& name) {
  const std::string lower = Lowercase(name);
  return lower == "png" ? OutputKind::kPng : lower == "svg" ? OutputKind::kSvg : OutputKind::kNone;
}

const char* ExtensionOf(OutputKind kind) { return kind == OutputKind::kSvg ? ".svg" : ".png"; }

// 0 when parsed; else the exit status to return (help printed: kExitOk).
int ParseImportArgs(int argc, char** argv, ImportArgs* args, bool* done) {
  *done = false;
  ArgParser p("import", argc, argv);
  std::string format, compression, profile, mode, frame;
  bool allFrames = false;
  while (p.Next()) {
    if (p.IsOperand()) {
      args->files.push_back(p.arg());
    } else if (p.Flag("help", 'h')) {
      PrintImportHelp(stdout);
      *done = true;
      return kExitOk;
    } else if (p.Flag("memory", 'm') || p.Flag("stream", 's')) {
      const InputKind chosen =
          p.arg()[1] == 'm' || p.arg() == "--memory" ? InputKind::kMemory : InputKind::kHostStream;
      if (args->inputKind != InputKind::kFile && args->inputKind != chosen)
        p.Fail("--memory and --stream exclude each other");
      args->inputKind = chosen;
    } else if (p.Flag("quiet", 'q')) {
      args->quiet = true;
    } else if (p.Flag("verbose", 'v')) {
      args->verbose = true;
    } else if (p.Flag("background", 'b')) {
      args->render.background = 1;
    } else if (p.Flag("frames", 0)) {
      allFrames = true;
    } else if (p.Value("output", 'o', &args->output) ||
               p.Value("output-dir", 'd', &args->outputDir) || p.Value("format", 'f', &format) ||
               p.Value("compression", 'c', &compression) || p.Value("trace", 0, &args->tracePath) ||
               p.Value("dump-bitmaps", 0, &args->dumpDirectory) ||
               p.Value("profile", 0, &args->setupNames.profile) ||
               p.Value("mode", 0, &args->setupNames.mode) ||
               p.Value("filter", 0, &args->filterPath) || p.Value("frame", 0, &frame)) {
    } else {
      p.Unknown();
    }
  }
  if (!p.ok()) return kExitUsage;

  // Everything that can be refused is refused here, before any work.
  if (args->files.empty()) p.Fail("no file given (try 'import --help')");
  if (!compression.empty()) {
    if (compression.size() != 1 || compression[0] < '0' || compression[0] > '9') {
      p.Fail("--compression takes a level from 0 to 9, not '" + compression + "'");
    }
    args->render.compression = compression[0] - '0';
  }
  if (!format.empty() && (args->kind = KindOfName(format)) == OutputKind::kNone) {
    p.Fail("--format takes png or svg, not '" + format + "'");
  }
  if (!args->output.empty() && !args->outputDir.empty())
    p.Fail("-o and --output-dir exclude each other");
  if (!args->output.empty() && args->files.size() > 1) {
    p.Fail("-o names one output; with several files, use --output-dir DIR");
  }
  if (!args->output.empty() && args->output != "-") {
    std::string extension = std::filesystem::path(args->output).extension().string();
    const OutputKind byName = KindOfName(extension.empty() ? "" : extension.substr(1));
    if (args->kind == OutputKind::kNone) args->kind = byName;
    if (args->kind == OutputKind::kNone) {
      p.Fail("cannot tell the format of '" + args->output +
             "': name it .png or .svg, or give --format");
    } else if (byName != OutputKind::kNone && byName != args->kind) {
      p.Fail("'" + args->output + "' does not end in " + ExtensionOf(args->kind) +
             " as --format asks");
    }
  }
  if ((args->output == "-" || !args->outputDir.empty()) && args->kind == OutputKind::kNone) {
    args->kind = OutputKind::kPng;
  }
  if (args->output.empty() && args->outputDir.empty() && !format.empty()) {
    p.Fail("--format needs -o or --output-dir");
  }
  if (args->output == "-" && OutputIsTerminal())
    p.Fail("standard output is a terminal: not writing a picture to it");
  int stdinCount = 0;
  for (const std::string& file : args->files) stdinCount += file == "-";
  if (stdinCount > 1) p.Fail("standard input (-) can be read only once");
  if (args->files.size() > 1 && (!args->tracePath.empty() || !args->dumpDirectory.empty())) {
    p.Fail("--trace and --dump-bitmaps take one file");
  }
  if (!frame.empty()) {
    const bool digits =
        frame.size() <= 5 && frame.find_first_not_of("0123456789") == std::string::npos;
    // At most five digits: nothing atoi could fail to report.
    // NOLINTNEXTLINE(cert-err34-c)
    args->frame = frame == "last" ? kLastFrame : digits ? std::atoi(frame.c_str()) : 0;
    if (args->frame == 0)
      p.Fail("--frame takes a frame number from 1, or last, not '" + frame + "'");
    if (allFrames) p.Fail("--frame and --frames exclude each other");
    if (args->output.empty() && args->outputDir.empty()) p.Fail("--frame needs -o or --output-dir");
  }
  if (allFrames) {
    args->frame = kAllFrames;
    if (args->outputDir.empty()) p.Fail("--frames writes a file a frame: give --output-dir DIR");
  }
  if (args->frame != 0 && args->files.size() > 1) p.Fail("--frame and --frames take one file");
  return p.ok() ? kExitOk : kExitUsage;
}

// ---- The host's side of the status callback --------------------------------

// What the callback needs; found through the context's userValue.
struct ImportSession {
  ProgressLine* progress = nullptr;
  std::string label;
  int basePermille = 0, spanPermille = 1000;  // this file's share of the line
  bool stopAsked = false;                     // a stop was answered to a progress call
  std::vector<int32_t> reports;
  // Of the writing's share: what the output being written takes (one
  // frame's of several), and its label.
  int writeBase = 0, writeSpan = 1000;
  std::string writing = "writing";

  // Called for every sub-block of image data: nothing is built for a line
  // that is not shown.
  void Show(const char* what, int permille) {
    if (progress != nullptr && progress->enabled())
      progress->Show(label + what, basePermille + spanPermille * permille / 1000);
  }
};

// The callback's userValue is 32 bits on every target: it names the one
// session of this process rather than carrying a pointer.
constexpr uint32_t kSessionValue = 1;
ImportSession* currentSession = nullptr;

int32_t WINAPI HostStatus(uint32_t userValue, int32_t kind, int32_t code, int32_t value1,
                          int32_t /*value2*/, int32_t /*severity*/, int32_t* /*extra*/) {
  ImportSession* session = userValue == kSessionValue ? currentSession : nullptr;
  if (session == nullptr) return 0;
  switch (kind) {
    case kStatusProgress:
      if (code != kStatusCodeProgress) return 0;  // the range announcement: always 0 to 100
      session->Show("importing", value1 * kImportPermille / 100);
      if (InterruptRequested() && !session->stopAsked) {
        session->stopAsked = true;
        return 1;
      }
      return 0;
    case kStatusCancelFollowUp:
      // Confirms the stop asked for; the filter asks nothing else here.
      return InterruptRequested() ? 1 : 0;
    case kStatusError:
      // Said once the import is over: as its failure, or as a warning.
      session->reports.push_back(code);
      return 0;
    default:
      return 0;
  }
}

int WriterProgress(void* user, int permille) {
  auto* session = static_cast<ImportSession*>(user);
  const int written = session->writeBase + session->writeSpan * permille / 1000;
  session->Show(session->writing.c_str(),
                kImportPermille + (1000 - kImportPermille) * written / 1000);
  return InterruptRequested() ? 1 : 0;
}

// ---- Outputs ---------------------------------------------------------------

// One palette index per byte, top row first; pixels no band delivered are 0.
bool WritePgm(const StandInPicture* picture, int index, const StandInBitmapInfo& bitmap,
              const std::string& path) {
  std::vector<uint8_t> pixels(static_cast<size_t>(bitmap.width) *
                              static_cast<size_t>(bitmap.height));
  if (StandInPictureBitmapPixels(picture, index, pixels.data(), pixels.size()) < 0) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "P5\n" << bitmap.width << " " << bitmap.height << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels.data()),
            static_cast<std::streamsize>(pixels.size()));
  out.close();
  return static_cast<bool>(out);
}

bool DumpBitmaps(const StandInPicture* picture, const std::string& directory, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code code;
  fs::create_directories(directory, code);
  if (code) {
    *error = "cannot make " + directory + ": " + code.message();
    return false;
  }
  const std::string tablePath = (fs::path(directory) / "bitmaps.tsv").string();
  std::ofstream table(tablePath,
                      std::ios::binary | std::ios::trunc);  // the same bytes on every system
  StandInPictureInfo info;
  StandInPictureGetInfo(picture, &info);
  // Back to GIF coordinates: the picture's y axis points up from the
  // screen's bottom edge, and GIF positions are unsigned 16-bit values.
  const int screenHeight = info.frame[3];
  for (int i = 0; i < info.bitmapCount; ++i) {
    StandInBitmapInfo b;
    StandInPictureGetBitmap(picture, i, &b);
    char name[32];
    std::snprintf(name, sizeof name, "bitmap-%03d.pgm", i + 1);
    if (!WritePgm(picture, i, b, (fs::path(directory) / name).string())) {
      *error = "cannot write " + (fs::path(directory) / name).string();
      return false;
    }
    const auto left = static_cast<uint16_t>(b.left);
    const auto top = static_cast<uint16_t>(screenHeight - b.top);
    table << (i + 1) << '\t' << left << '\t' << top << '\t' << b.width << '\t' << b.height << '\t'
          << b.depth << '\t' << b.transparent << '\t' << b.backColorIndex << '\n';
  }
  table.close();
  if (!table) {
    *error = "cannot write " + tablePath;
    return false;
  }
  return true;
}

// Writes to `target` (or standard output for "-") what `write` writes: into
// a new file beside it, renamed over it only when complete.
template <typename Write>
bool WriteWhole(const std::string& target, Write write, std::string* error) {
  if (target == "-") {
    UseBinaryMode(stdout);
    const bool written = write(stdout) && std::fflush(stdout) == 0;
    if (!written && error->empty()) *error = "cannot write to standard output: " + SystemReason();
    return written;
  }
  // A new name beside the target, so that the rename stays on one file
  // system and replaces the target in one step.
  const std::filesystem::path path(target);
  std::random_device random;
  std::string temporary;
  std::error_code code;
  for (int attempt = 0; attempt < 100 && temporary.empty(); ++attempt) {
    const std::filesystem::path candidate =
        path.parent_path() /
        ("." + path.filename().string() + "." + std::to_string(random()) + ".part");
    if (!std::filesystem::exists(candidate, code)) temporary = candidate.string();
  }
  std::FILE* out = temporary.empty() ? nullptr : std::fopen(temporary.c_str(), "wb");
  if (!out) {
    *error = "cannot write " + target + ": " + SystemReason();
    return false;
  }
  bool written = write(out);
  const bool closed = std::fclose(out) == 0;
  if (written && !closed) *error = "cannot write " + target + ": " + SystemReason();
  written = written && closed;
  if (written) {
    std::filesystem::rename(temporary, target, code);
    if (code) {
      *error = "cannot write " + target + ": " + code.message();
      written = false;
    }
  }
  if (!written) std::remove(temporary.c_str());
  return written;
}

StandInSaveOptions SaveOptions(const ImportArgs& args, ImportSession* session) {
  StandInSaveOptions options = args.render;
  options.progress = WriterProgress;
  options.progressUser = session;
  return options;
}

int FormatOf(const ImportArgs& args) {
  return args.kind == OutputKind::kSvg ? kStandInSvg : kStandInPng;
}

// What a stand-in writer (0: written; else its message in the buffer)
// writes to `target`, as WriteWhole writes it.
template <typename Writer>
bool WriteOutput(const ImportArgs& args, const std::string& target, ImportSession* session,
                 std::string* error, Writer writer) {
  const StandInSaveOptions options = SaveOptions(args, session);
  return WriteWhole(
      target,
      [&](std::FILE* out) {
        char message[512] = "";
        const bool written = writer(out, FormatOf(args), &options, message, sizeof message) == 0;
        *error = message;
        return written;
      },
      error);
}

// The whole picture to `target`.
bool WritePicture(const StandInPicture* picture, const ImportArgs& args, const std::string& target,
                  ImportSession* session, std::string* error) {
  return WriteOutput(args, target, session, error,
                     [&](std::FILE* out, int format, const StandInSaveOptions* options,
                         char* message, size_t size) {
                       return StandInPictureWrite(picture, out, format, options, message, size);
                     });
}

// The canvas as it is now to `target`.
bool WriteFrame(const FrameComposer& composer, const ImportArgs& args, const std::string& target,
                ImportSession* session, std::string* error) {
  return WriteOutput(args, target, session, error,
                     [&](std::FILE* out, int format, const StandInSaveOptions* options,
                         char* message, size_t size) {
                       return StandInImageWrite(composer.rgba(), composer.width(),
                                                composer.height(), out, format, options, message,
                                                size);
                     });
}

// ---- The command -----------------------------------------------------------

struct FilterExports {
  CreateSetupProc createSetup = nullptr;
  DestroySetupProc destroySetup = nullptr;
  EscapeSetupProc escapeSetup = nullptr;
  ImportFileProc importFile = nullptr;
};

// One ImportFile on the setup; the input as prepared.
int32_t RunImportFile(const FilterExports& filter, HGLOBAL setup, const FilterInput& input,
                      ImportSession* session) {
  HostContext context = {};
  context.userValue = kSessionValue;
  context.statusCallback = HostStatus;
  context.inputMemory = input.memory();  // with an empty path it selects the block
  ImportRequest request = {};
  request.setupHandle = setup;
  request.hostContext = &context;
  if (input.kind() == InputKind::kHostStream) {
    request.streamUserValue = input.streamValue();
    filter.escapeSetup(setup, kEscapeStreamFunction, kEscapeValueBytes,
                       reinterpret_cast<void*>(FilterInput::streamFunction()), nullptr, 0);
  }
  currentSession = session;
  const int32_t result = filter.importFile(0, "", "", input.path().c_str(), &request);
  currentSession = nullptr;
  return result;
}

// "NAME: WORDS (error N); reading stopped at ..." for a failed import. A
// file the filter read by its path is read here, now that it is needed.
std::string DescribeFailure(HostInput* input, int32_t result) {
  std::string message = input->DisplayName() + ": " + DescribeFilterError(result);
  std::string unread;
  if (input->ReadKept(&unread) && input->haveBytes()) {
    const std::string where = DescribeStopPosition(ReadGifStructure(input->data(), input->size()),
                                                   StandInLastStreamPosition());
    if (!where.empty()) message += "; " + where;
  }
  return message;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code code;
  return std::filesystem::equivalent(a, b, code) && !code;
}

std::string StemOf(const std::string& file) {
  return file == "-" ? "stdin" : std::filesystem::path(file).stem().string();
}

// DIR/STEM-003.png: numbers at least three digits wide, all alike.
std::string FrameTarget(const ImportArgs& args, const std::string& file, int number, int count) {
  const int width = std::max<int>(3, static_cast<int>(std::to_string(count).size()));
  std::string digits = std::to_string(number);
  digits.insert(0, static_cast<size_t>(std::max<int>(0, width - static_cast<int>(digits.size()))),
                '0');
  return (std::filesystem::path(args.outputDir) /
          (StemOf(file) + "-" + digits + ExtensionOf(args.kind)))
      .string();
}

std::string TargetFor(const ImportArgs& args, const std::string& file) {
  if (!args.output.empty()) return args.output;
  if (args.outputDir.empty()) return "";
  return (std::filesystem::path(args.outputDir) / (StemOf(file) + ExtensionOf(args.kind))).string();
}

// How many frames the host's reader finds, or -1 when it cannot tell (the
// input not read whole, or nothing read of it but a problem): the import
// then says what is wrong.
int FramesFound(const HostInput& input) {
  if (!input.haveBytes()) return -1;
  const GifStructure gif = ReadGifStructure(input.data(), input.size());
  if (gif.images.empty() && !gif.problem.empty() && !gif.trailerMissing) return -1;
  return static_cast<int>(gif.images.size());
}

// The frames asked for, composed and written: 0, kExitFailed or
// kExitCancelled; `shown` is what the summary line says after the name.
int WriteFrames(const StandInPicture* picture, const HostInput& input, const ImportArgs& args,
                const std::string& target, ImportSession* session, ProgressLine* progress,
                std::string* shown) {
  const std::string name = input.DisplayName();
  const std::vector<FrameInfo> frames = ListFrames(
      picture, input.haveBytes() ? ReadGifStructure(input.data(), input.size()) : GifStructure());
  const int count = static_cast<int>(frames.size());
  const int last = args.frame == kLastFrame || args.frame == kAllFrames ? count : args.frame;
  const int first = args.frame == kAllFrames ? 1 : last;
  if (count == 0 || last > count) {
    PrintError(name + ": the picture holds " + std::to_string(count) + " frame" +
               (count == 1 ? "" : "s") + ": no frame " + std::to_string(std::max(last, 1)));
    return kExitFailed;
  }
  FrameComposer composer(picture, frames, args.render.background != 0);
  std::string table, error;
  int written = 0, status = kExitOk;
  for (int number = first; number <= last && status == kExitOk; ++number) {
    // Between frames, a Ctrl-C stops with every file written whole.
    if (InterruptRequested()) {
      status = kExitCancelled;
      break;
    }
    const FrameInfo& frame = frames[static_cast<size_t>(number - 1)];
    const std::string file = args.frame == kAllFrames || args.output.empty()
                                 ? FrameTarget(args, input.name, number, count)
                                 : target;
    session->writing = "writing frame " + std::to_string(number) + " of " + std::to_string(count);
    session->writeBase = 1000 * (number - first) / (last - first + 1);
    session->writeSpan = 1000 / (last - first + 1);
    session->Show(session->writing.c_str(),
                  kImportPermille + (1000 - kImportPermille) * session->writeBase / 1000);
    error.clear();
    if (!composer.ShowFrame(number, &error) || !WriteFrame(composer, args, file, session, &error)) {
      status = InterruptRequested() ? kExitCancelled : kExitFailed;
      if (status == kExitFailed)
        PrintError(name + ": " + (error.empty() ? "cannot write " + file : error));
      break;
    }
    ++written;
    table += std::to_string(number) + '\t' + std::to_string(frame.delay * 10) + '\t' +
             DisposalName(frame.disposal) + '\t' + std::to_string(frame.left) + '\t' +
             std::to_string(frame.top) + '\t' + std::to_string(frame.width) + '\t' +
             std::to_string(frame.height) + '\n';
  }
  progress->Clear();
  // The table lists the frames written, also when the writing stopped early.
  if (args.frame == kAllFrames && written > 0) {
    const std::string tablePath = (std::filesystem::path(args.outputDir) / "frames.tsv").string();
    error.clear();
    if (!WriteWhole(
            tablePath,
            [&](std::FILE* out) {
              return std::fwrite(table.data(), 1, table.size(), out) == table.size();
            },
            &error)) {
      PrintError(name + ": " + (error.empty() ? "cannot write " + tablePath : error));
      if (status == kExitOk) status = kExitFailed;
    }
  }
  if (status == kExitCancelled) {
    PrintError(name + ": writing the frames was cancelled after " + std::to_string(written) +
               " of " + std::to_string(last - first + 1));
  }
  if (args.frame == kAllFrames) {
    *shown =
        std::to_string(written) + " frame" + (written == 1 ? "" : "s") + " -> " + args.outputDir;
  } else {
    *shown = "frame " + std::to_string(last) + " of " + std::to_string(count) + " -> " +
             (target == "-"         ? "standard output"
              : args.output.empty() ? FrameTarget(args, input.name, last, count)
                                    : target);
  }
  return status;
}

// 0, kExitFailed or kExitCancelled for one file.
// `given`: the input, read already (null: read here).
int ImportOne(const FilterExports& filter, HGLOBAL setup, const ImportArgs& args, size_t index,
              ProgressLine* progress, HostInput* given) {
  const std::string& file = args.files[index];
  const std::string target = TargetFor(args, file);
  if (!target.empty() && target != "-" && file != "-" && SameFile(file, target)) {
    PrintError(file + ": the output " + target + " is the input itself: not overwriting it");
    return kExitFailed;
  }
  HostInput input;
  FilterInput handed;
  std::string error;
  if (given != nullptr) input = std::move(*given);
  // The frames are told apart by the file's bytes: a file the filter reads
  // by its path is read by the host as well, once.
  const bool ready = (given != nullptr || ReadHostInput(file, args.inputKind, &input, &error)) &&
                     (args.frame == 0 || input.ReadKept(&error)) &&
                     handed.Prepare(input, args.inputKind, &error);
  // Ctrl-C while waiting on a pipe ends the read with EINTR or short.
  if (InterruptRequested()) {
    PrintError((file == "-" ? "standard input" : file) + ": the import was cancelled");
    return kExitCancelled;
  }
  if (!ready) {
    PrintError(error);
    return kExitFailed;
  }

  ImportSession session;
  session.progress = progress;
  session.label = (args.files.size() > 1 ? "[" + std::to_string(index + 1) + "/" +
                                               std::to_string(args.files.size()) + "] "
                                         : std::string()) +
                  std::filesystem::path(input.DisplayName()).filename().string() + ": ";
  session.basePermille = static_cast<int>(1000 * index / args.files.size());
  session.spanPermille = static_cast<int>(1000 / args.files.size());
  if (target.empty()) session.spanPermille = session.spanPermille * 1000 / kImportPermille;
  session.Show("importing", 0);

  StandInPictureForget();
  StandInClearLog();  // the trace holds this import's calls only
  // Without a trace to write, no log is kept: making it would cost more
  // than the import itself.
  StandInSetLogging(args.tracePath.empty() ? 0 : 1);
  const int32_t result = RunImportFile(filter, setup, handed, &session);
  progress->Clear();

  int status = kExitOk;
  // The trace and the bitmaps tell what happened also when the import failed.
  if (!args.tracePath.empty() && StandInWriteLog(args.tracePath.c_str()) != 0) {
    PrintError("cannot write the trace " + args.tracePath + ": " + SystemReason());
    status = kExitFailed;
  }
  const StandInPicture* picture = StandInPictureLast();
  if (!args.dumpDirectory.empty() && picture != nullptr &&
      !DumpBitmaps(picture, args.dumpDirectory, &error)) {
    PrintError(error);
    status = kExitFailed;
  }
  // Reports that did not end the import are warnings; the one that did is
  // said once, with what the host knows besides.
  std::set<int32_t> warned;
  for (const int32_t code : session.reports) {
    if (code != result && warned.insert(code).second) {
      PrintError(input.DisplayName() + ": warning: " + DescribeFilterError(code));
    }
  }
  if (result == kErrCancelled && InterruptRequested()) {
    PrintError(input.DisplayName() + ": the import was cancelled");
    return kExitCancelled;
  }
  if (result != 0) {
    PrintError(DescribeFailure(&input, result));
    return kExitFailed;
  }
  if (picture == nullptr) {
    PrintError(input.DisplayName() + ": the filter reported success but left no picture");
    return kExitFailed;
  }
  std::string shown;
  if (args.frame != 0) {
    const int framed = WriteFrames(picture, input, args, target, &session, progress, &shown);
    if (framed != kExitOk) return framed;
  } else if (!target.empty()) {
    error.clear();
    const bool written = WritePicture(picture, args, target, &session, &error);
    progress->Clear();
    if (!written) {
      if (InterruptRequested()) {
        PrintError(input.DisplayName() + ": writing " + target + " was cancelled");
        return kExitCancelled;
      }
      PrintError(input.DisplayName() + ": " + (error.empty() ? "cannot write " + target : error));
      return kExitFailed;
    }
  }
  if (!args.quiet && status == kExitOk && args.frame != 0) {
    std::FILE* out = target == "-" ? stderr : stdout;
    std::fprintf(out, "%s: %s\n", input.DisplayName().c_str(), shown.c_str());
    std::fflush(out);
  } else if (!args.quiet && status == kExitOk) {
    std::FILE* out = target == "-" ? stderr : stdout;
    StandInPictureInfo info;
    StandInPictureGetInfo(picture, &info);
    std::fprintf(out, "%s: %dx%d picture, %d bitmap%s, %d text line%s%s%s\n",
                 input.DisplayName().c_str(), info.frame[2] - info.frame[0],
                 info.frame[3] - info.frame[1], info.bitmapCount, info.bitmapCount == 1 ? "" : "s",
                 info.textCount, info.textCount == 1 ? "" : "s", target.empty() ? "" : " -> ",
                 target == "-" ? "standard output" : target.c_str());
    std::fflush(out);
  }
  return status;
}

int RunImportCommand(int argc, char** argv) {
  ImportArgs args;
  bool done = false;
  if (int status = ParseImportArgs(argc, argv, &args, &done); status != kExitOk || done) {
    return status;
  }
  InterruptScope interrupts;
  // A frame past the last is refused before anything is made.
  HostInput framed;
  HostInput* given = nullptr;
  if (args.frame > 0) {
    std::string error;
    // The frames are counted from the file's bytes, read here also when
    // the filter reads the file by its path.
    if (!ReadHostInput(args.files[0], args.inputKind, &framed, &error) ||
        !framed.ReadKept(&error)) {
      PrintError(InterruptRequested() ? framed.DisplayName() + ": the import was cancelled"
                                      : error);
      return InterruptRequested() ? kExitCancelled : kExitFailed;
    }
    given = &framed;
    const int found = FramesFound(framed);
    if (found >= 0 && args.frame > found) {
      PrintError("import: " + framed.DisplayName() + " holds " + std::to_string(found) + " frame" +
                 (found == 1 ? "" : "s") + ": there is no frame " + std::to_string(args.frame));
      return kExitUsage;
    }
  }
  if (!args.outputDir.empty()) {
    std::error_code code;
    std::filesystem::create_directories(args.outputDir, code);
    if (code) {
      PrintError("cannot make " + args.outputDir + ": " + code.message());
      return kExitFailed;
    }
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
  if (!filter.createSetup || !filter.destroySetup || !filter.escapeSetup || !filter.importFile) {
    PrintError(module.path() + " has no ImportFile: not a GIF import filter");
    return kExitUsage;
  }
  if (args.verbose) PrintError("filter module " + module.path());

  HGLOBAL setup = args.setupNames.Create(filter.createSetup);
  if (setup == nullptr) {
    PrintError("import: the filter made no setup: " + args.setupNames.WhyNoSetup(module));
    return kExitFailed;
  }
  if (!args.setupNames.CheckFound(setup, args.verbose)) {
    filter.destroySetup(setup);
    return kExitFailed;
  }

  ProgressLine progress(!args.quiet);
  int status = kExitOk;
  for (size_t i = 0; i < args.files.size() && status != kExitCancelled; ++i) {
    const int one = ImportOne(filter, setup, args, i, &progress, i == 0 ? given : nullptr);
    if (one != kExitOk) status = one;
  }
  progress.Clear();
  filter.destroySetup(setup);
  return status;
}

const CommandRegistration kImport{
    {"import",
     "import FILE... [-o OUT | -d DIR] [-f png|svg] [-b] [-c 0-9] [--frame N|last | --frames] "
     "[-m|-s] [options]",
     "imports GIFs through the filter and writes the pictures", RunImportCommand}};

}  // namespace
}  // namespace host
