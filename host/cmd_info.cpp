// gifimport info: width, height and bits per pixel of GIFs, through the
// filter's GetFileInfo, from a file, a memory block or a host stream; then
// the file's structure, read by the host itself.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gifimport/gif_format.h"
#include "gifimport/filter_api.h"
#include "host/cli.h"
#include "host/commands.h"
#include "host/errors.h"
#include "host/filter_module.h"
#include "host/frames.h"
#include "host/gif_structure.h"
#include "host/host_input.h"
#include "host/setup_options.h"

namespace host {
namespace {

using GetFileInfoProc = int32_t(WINAPI*)(const char*, FileInfoRecord*, uintptr_t, HostStreamProc);

// The whole record as the layout gives it; sizeof may pad it.
constexpr int32_t kInfoRecordBytes = 60;

void PrintInfoHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: %s info [--json] [-m | -s] [--profile FILE] [--mode NAME]\n"
               "                 [--filter PATH] FILE...\n\n"
               "Prints, for each FILE (- for standard input), the size and depth the filter\n"
               "reads from its header, then what the file holds: version, screen, global\n"
               "palette, background index, each image (position, size, depth, interlace,\n"
               "local palette, transparency, delay and disposal), comments, plain-text and\n"
               "application extensions (loop count), and bytes after the trailer.\n\n"
               "Transparency, delay and disposal are those the import used: the last\n"
               "4-byte block of the latest control extension that had one, kept for\n"
               "later images until another comes; a plain text read since sets the\n"
               "transparent index to its background. Where that is not the image's own\n"
               "control block, the line says so: \"(from the control block before image\n"
               "1; index from the background of plain text 1)\". In JSON each image has\n"
               "\"transparent\" and, when true, \"transparentIndex\"; \"control\" is the\n"
               "record in force, and \"transparencyFrom\" ({\"controlBeforeImage\": N,\n"
               "\"plainText\": N}, plain texts counted from 1) says what the line does. A\n"
               "plain text whose first block is not 12 bytes is not read: reading goes\n"
               "on after its size byte, as the import's does.\n\n"
               "  -j, --json     one JSON object per file, one a line\n"
               "  -m, --memory   hand each file to the filter in a global memory block\n"
               "  -s, --stream   hand each file to the filter through a host stream\n"
               "  --profile FILE, --mode NAME\n"
               "                 first make a setup with them, as a host importing the\n"
               "                 files would, and stop when none can be made (see\n"
               "                 'setup --help'); the header itself reads no profile\n"
               "  --filter PATH  load this filter module instead of gifin.so beside %s\n\n"
               "Exit status: 0 when every file was read, 1 when one or more failed (as\n"
               "an import would: the filter's number, and what the host found), 2 for\n"
               "bad arguments or a filter that cannot be loaded.\n",
               kProgramName, kProgramName);
}

std::string Printable(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    out += code >= 0x20 && code < 0x7F ? c : '.';
  }
  return out;
}

void PrintStructure(const GifStructure& gif) {
  std::printf("  GIF%s, screen %dx%d, colour resolution %d bits, ", gif.version.c_str(), gif.width,
              gif.height, gif.colorResolution);
  if (gif.globalColors) {
    std::printf("global palette of %d colours, background index %d\n", gif.globalColors,
                gif.backgroundIndex);
  } else {
    std::printf("no global palette\n");
  }
  std::printf("  %zu image%s\n", gif.images.size(), gif.images.size() == 1 ? "" : "s");
  for (size_t i = 0; i < gif.images.size(); ++i) {
    const GifImageInfo& m = gif.images[i];
    std::printf("  image %zu: %dx%d at (%d, %d), %d bits per pixel%s", i + 1, m.width, m.height,
                m.left, m.top, m.depth, m.interlaced ? ", interlaced" : "");
    if (m.localColors) std::printf(", local palette of %d colours", m.localColors);
    if (m.transparent) std::printf(", transparent index %d", m.transparentIndex);
    if (m.hasControl) {
      std::printf(", delay %d.%02d s, disposal %s", m.control.delay / 100, m.control.delay % 100,
                  DisposalName(m.control.disposal).c_str());
    }
    // Where the import's transparency came from, when not this image's own
    // control block alone.
    std::string from;
    if (m.hasControl && m.control.beforeImage != static_cast<int>(i) + 1)
      from = "from the control block before image " + std::to_string(m.control.beforeImage);
    if (m.transparent && m.indexFromPlainText) {
      from += (from.empty() ? "" : "; ") + std::string("index from the background of plain text ") +
              std::to_string(m.indexFromPlainText);
    }
    if (!from.empty()) std::printf(" (%s)", from.c_str());
    std::printf("\n");
  }
  for (const std::string& comment : gif.comments)
    std::printf("  comment: \"%s\"\n", Printable(comment).c_str());
  for (const GifPlainText& t : gif.plainTexts) {
    if (t.firstBlockSize != kPlainTextBlockSize) {
      std::printf("  plain text: first block of %d bytes, not %d: not read\n", t.firstBlockSize,
                  kPlainTextBlockSize);
      continue;
    }
    std::printf("  plain text: %dx%d at (%d, %d), cell %dx%d, colour %d on %d: \"%s\"\n", t.width,
                t.height, t.left, t.top, t.cellWidth, t.cellHeight, t.foreground, t.background,
                Printable(t.text).c_str());
  }
  for (const GifApplication& a : gif.applications) {
    std::printf("  application %s, %lld data bytes", Printable(a.identifier).c_str(),
                static_cast<long long>(a.dataBytes));
    if (a.loopCount == 0) std::printf(", loops for ever");
    if (a.loopCount > 0) std::printf(", loops %d times", a.loopCount);
    std::printf("\n");
  }
  if (gif.trailer)
    std::printf("  %lld bytes after the trailer\n", static_cast<long long>(gif.bytesAfterTrailer));
  if (gif.trailerMissing) std::printf("  problem: %s\n", gif.problem.c_str());
}

// One file; false when it failed (the reason printed).
bool ShowInfo(GetFileInfoProc getFileInfo, InputKind kind, bool json, const std::string& name) {
  HostInput input;
  FilterInput handed;
  std::string error;
  // The structure is read from the bytes: a file the filter reads by its
  // path is read here too, once, at its size.
  if (!ReadHostInput(name, kind, &input, &error) || !input.ReadKept(&error) ||
      !handed.Prepare(input, kind, &error)) {
    PrintError(error);
    return false;
  }
  FileInfoRecord record;
  std::memset(&record, 0, sizeof record);
  record.recordSize = kInfoRecordBytes;
  int32_t result = 0;
  switch (handed.kind()) {
    case InputKind::kFile:
      result = getFileInfo(handed.path().c_str(), &record, 0, nullptr);
      break;
    case InputKind::kMemory:
      result = getFileInfo("", &record, reinterpret_cast<uintptr_t>(handed.memory()), nullptr);
      break;
    case InputKind::kHostStream:
      result =
          getFileInfo(name.c_str(), &record, handed.streamValue(), FilterInput::streamFunction());
      break;
  }
  if (result != 0) {
    PrintError(input.DisplayName() + ": " + DescribeFilterError(result));
    return false;
  }
  const GifStructure gif =
      input.haveBytes() ? ReadGifStructure(input.data(), input.size()) : GifStructure();
  if (json) {
    std::printf("%s\n", GifStructureJson(input.DisplayName(), gif, static_cast<int>(record.width),
                                         static_cast<int>(record.height),
                                         static_cast<int>(record.bitsPerPixel))
                            .c_str());
  } else {
    std::printf("%s: %dx%d, %d bits per pixel\n", input.DisplayName().c_str(),
                static_cast<int>(record.width), static_cast<int>(record.height),
                static_cast<int>(record.bitsPerPixel));
    if (input.haveBytes()) PrintStructure(gif);
  }
  // The header alone reads well; what stops an import fails here alike.
  if (gif.problem.empty() || gif.trailerMissing) return true;
  std::fflush(stdout);
  PrintError(input.DisplayName() + ": " + DescribeFilterError(kErrRead) + "; " + gif.problem);
  return false;
}

int RunInfo(int argc, char** argv) {
  InputKind kind = InputKind::kFile;
  std::string filterPath;
  SetupNames setupNames;
  std::vector<std::string> files;
  bool json = false;
  ArgParser p("info", argc, argv);
  while (p.Next()) {
    if (p.IsOperand()) {
      files.push_back(p.arg());
    } else if (p.Flag("help", 'h')) {
      PrintInfoHelp(stdout);
      return kExitOk;
    } else if (p.Flag("json", 'j')) {
      json = true;
    } else if (p.Flag("memory", 'm') || p.Flag("stream", 's')) {
      const InputKind chosen =
          p.arg() == "--memory" || p.arg() == "-m" ? InputKind::kMemory : InputKind::kHostStream;
      if (kind != InputKind::kFile && kind != chosen)
        p.Fail("--memory and --stream exclude each other");
      kind = chosen;
    } else if (p.Value("profile", 0, &setupNames.profile) || p.Value("mode", 0, &setupNames.mode) ||
               p.Value("filter", 0, &filterPath)) {
    } else {
      p.Unknown();
    }
  }
  if (p.ok() && files.empty()) p.Fail("no file given (try 'info --help')");
  if (!p.ok()) return kExitUsage;

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
    const bool found = setupNames.CheckFound(setup, false);
    destroySetup(setup);
    if (!found) return kExitFailed;
  }

  bool allRead = true;
  for (const std::string& name : files) {
    allRead = ShowInfo(getFileInfo, kind, json, name) && allRead;
    std::fflush(stdout);
  }
  return allRead ? kExitOk : kExitFailed;
}

const CommandRegistration kInfo{{"info",
                                 "info [--json] [-m|-s] [--profile FILE] [--mode NAME] "
                                 "[--filter PATH] FILE...",
                                 "prints the size, depth and structure of GIF files", RunInfo}};

}  // namespace
}  // namespace host
