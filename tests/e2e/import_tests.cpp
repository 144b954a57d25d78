// Whole imports through the filter's exports, as a host runs them: every
// case of tests/e2e/cases by every way in, and every GIF kept by every input
// kind against giflib and pixel_oracle.txt (DEVELOPERS.md says more).
// GIFIMPORT_WRITE_GOLDEN=1 writes the expected runs anew: review the diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"
#include "tests/support/row_tests.h"
#ifdef GIFIMPORT_HAVE_GIFLIB
#include "tests/support/giflib_oracle.h"
#endif

using namespace gifin;

namespace {

namespace fs = std::filesystem;
using e2e::Bytes, e2e::ImportOptions, e2e::ImportRun;
using Strings = std::vector<std::string>;

const fs::path kRoot = GIFIMPORT_SOURCE_ROOT;
const bool kWrite = std::getenv("GIFIMPORT_WRITE_GOLDEN") != nullptr;

// The companion calls after the stream's open, which names the input kind.
Strings AfterOpen(const ImportRun& run) {
  return run.log.empty() ? Strings{} : Strings(run.log.begin() + 1, run.log.end());
}

std::string Lines(const Strings& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

struct Case {
  std::string header, expected, gifName;    // the lines the driver keeps, the rest; the GIF
  std::map<std::string, std::string> with;  // "with cancel=3 error=OP:N:CODE reenter ..."
  long Get(const char* key, long otherwise = -1) const {
    return with.count(key) ? std::atol(with.at(key).c_str()) : otherwise;
  }
};

Case ReadCase(const fs::path& path) {
  Case c;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string key, word;
    words >> key;
    if (key == "gif") words >> c.gifName;
    while (key == "with" && words >> word) {
      const size_t eq = word.find('=');
      c.with[word.substr(0, eq)] = eq == std::string::npos ? "1" : word.substr(eq + 1);
    }
    (key == "#" || key == "gif" || key == "with" ? c.header : c.expected) += line + "\n";
  }
  return c;
}

// with reenter: a status callback that comes back into the filter on the
// setup being imported, at every call; each entry must refuse the busy setup.
ImportRequest* reentered = nullptr;
std::set<int32_t> reentries;
int32_t WINAPI ReenteringCallback(uint32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t*) {
  HGLOBAL setup = reentered->setupHandle;
  uint32_t second = 1;
  reentries.insert(
      {DestroySetup(setup), ImportFile(0, "", "", "", reentered),
       EscapeSetup(setup, kEscapeStreamFunction, kEscapeValueBytes, nullptr, nullptr, 0),
       EscapeSetup(setup, kEscapeCarriedWord, kEscapeValueBytes, &second, nullptr, 0)});
  return 0;
}

ImportOptions OptionsFor(const Case& c) {
  ImportOptions options;
  options.cancelAtProgress = static_cast<int>(c.Get("cancel", 0));
  options.followUpAnswer = c.Get("followup", 1);
  if (c.Get("colors") >= 0) {
    options.adjustSetup = [c](FilterSetup* setup) {
      setup->overrideColorCount = static_cast<int32_t>(c.Get("override"));
      setup->colorCount = static_cast<int32_t>(c.Get("colors"));
      for (int i = 0; i < setup->colorCount; ++i)
        setup->colors[i] = RgbTriple{uint8_t(i * 7), uint8_t(255 - i * 7), uint8_t(i)};
    };
  }
  if (c.with.count("reenter")) {
    options.adjustRequest = [](ImportRequest* request) {
      reentered = request->hostContext ? request : nullptr;
      if (reentered) request->hostContext->statusCallback = ReenteringCallback;
    };
  }
  options.beforeImport = [c] {
    for (const auto& [key, value] : c.with) {
      const long n = std::atol(value.c_str());
      if (key == "budget") PlatformSetMemoryBudget(static_cast<unsigned long long>(n));  // 0: none
      if (key == "stop-capture") StandInStopCaptureAtProgress(static_cast<int>(n));
      if (key == "close") StandInSetDocCloseResult(static_cast<int16_t>(n));
      if (key == "upi") StandInSetCaptureUnitsPerInch(static_cast<int32_t>(n));
      int nth = 0, code = 0;
      char op[64] = "";
      if (key == "error" && std::sscanf(value.c_str(), "%63[^:]:%d:%d", op, &nth, &code) == 3)
        StandInSetPendingErrorAfter(op, nth, static_cast<int16_t>(code), 0);
    }
  };
  return options;
}

// Runs `gif` the way `options` says, with the checks every run gets.
ImportRun Checked(const Bytes& gif, const ImportOptions& options) {
  const unsigned long long inUse = PlatformMemoryInUse();
  reentered = nullptr, reentries.clear();
  ImportRun run = e2e::Import(gif, options);
  EXPECT_EQ(reentries, reentered ? std::set<int32_t>{kSetupBusy} : reentries);
  EXPECT_EQ(run.live + (run.recordsKept ? "" : " the host's records changed"), "");
  EXPECT_EQ(PlatformMemoryInUse(), inUse) << "a charge stayed behind";
  return run;
}

// GetFileInfo by file, memory block and host stream: one answer, printed.
// Then the metafile entries, each by the input it is given: "captured" (0,
// or no metafile where the stand-in cannot write one) with the frame and
// units per inch, else the number; and the calls that say which input was
// opened and how the capture began.
Strings ByEntries(const Bytes& gif, const std::function<void()>& arm) {
  const std::string scratch = e2e::WriteScratchFile("", {});  // the directory the calls name
  Strings out;
  const char* const kWays[] = {"ImportGR path",  "ImportGR block",        "ImportCB stream",
                               "ImportCB block", "ImportEmbeddedGR path", "ImportEmbeddedGR block"};
  for (int way = -3; way < 6; ++way) {
    const e2e::EntryRun run =
        e2e::CallEntry(e2e::Entry(way < 0 ? int(e2e::Entry::kInfoStream) + 1 + way
                                          : way + (way >= 2)),  // not kGRBlockStream
                       gif, way < 0 ? nullptr : arm);
    const ImportResult& r = run.frame;
    const FileInfoRecord& i = run.record;
    char text[160];
    if (way < 0) {
      std::snprintf(text, sizeof text, "info %d: %g %d %g %d %d %d %d %d %d %x", int(run.result),
                    i.item1, int(i.width), i.item2, int(i.height), int(i.item5), int(i.item6),
                    int(i.bitsPerPixel), int(i.item8), int(i.item9), unsigned(i.itemFlags));
      if (way == -3) out.push_back(text);
      EXPECT_EQ(text + run.wrong, out[0]) << "the input kinds disagree";
      continue;
    }
    std::snprintf(text, sizeof text, "captured [%d,%d,%d,%d] %d", int(r.left), int(r.top),
                  int(r.right), int(r.bottom), int(r.unitsPerInch));
    out.push_back(kWays[way] + std::string(": ") +
                  (run.result == e2e::CaptureSuccess() ? text : std::to_string(run.result)));
    EXPECT_EQ(run.wrong, "") << out.back();
    for (std::string entry : run.log) {
      const std::string op = e2e::LogField(entry, "op");
      for (size_t at; (at = entry.find(scratch)) != std::string::npos;)
        entry.erase(at, scratch.size());
      const size_t user = entry.find("\"userValue\":");  // a new one each run
      if (user != std::string::npos) entry.erase(user, entry.find(',', user) + 1 - user);
      if (op == "\"QvStreamOpen\"" || op == "\"QvMetafileBegin\"" || op == "\"QvDocOpen\"")
        out.push_back("  " + entry);
    }
  }
  return out;
}

// The cases, each its name at its file.
std::vector<testtable::TableRow> Cases() {
  std::vector<testtable::TableRow> rows;
  for (const auto& entry : fs::directory_iterator(kRoot / "tests/e2e/cases"))
    if (entry.path().extension() == ".txt")
      rows.push_back({{entry.path().stem().string()}, entry.path().string(), 1});
  return rows;
}

class ImportCase : public testtable::RowTest<> {};

TEST_P(ImportCase, ByEveryWayGivesItsGoldenRun) {
  const fs::path path = row.file;
  const Case c = ReadCase(path);
  Bytes gif = e2e::ReadWholeFile((kRoot / "tests/e2e/cases" / c.gifName).string());
  if (c.with.count("patch")) gif.at(static_cast<size_t>(c.Get("patch"))) = uint8_t(c.Get("to"));
  const ImportOptions options = OptionsFor(c);
  const ImportRun byFile = Checked(gif, options);
  const Strings entries = ByEntries(gif, options.beforeImport);
  Strings got = {"result " + std::to_string(byFile.result), entries[0]};
  for (const testhost::StatusCall& s : byFile.calls) {
    char text[80];
    std::snprintf(text, sizeof text, "status %d %d %d %d %d", int(s.kind), int(s.code),
                  int(s.value1), int(s.value2), int(s.severity));
    got.push_back(text);
  }
  const Strings calls = AfterOpen(byFile);  // the open names the scratch file
  got.insert(got.end(), calls.begin(), calls.end());
  got.insert(got.end(), entries.begin() + 1, entries.end());
  // Cut at every offset: the result and the text lines drawn ("tN"), how
  // many cuts in a row give them.
  for (size_t cut = 0; c.with.count("cuts") && cut <= gif.size(); ++cut) {
    const ImportRun run = Checked(Bytes(gif.begin(), gif.begin() + cut), options);
    EXPECT_EQ(run.Errors(), std::vector<int32_t>(run.result != 0, run.result)) << "cut " << cut;
    const std::string result = "cut " + std::to_string(run.result) + " t" +
                               std::to_string(run.picture ? run.picture->texts.size() : 0) + " x";
    if (got.back().rfind(result, 0) != 0) got.push_back(result + "0");
    got.back() = result + std::to_string(std::stoi(got.back().substr(result.size())) + 1);
  }
  if (kWrite) std::ofstream(path) << c.header << Lines(got);
#ifndef _WIN32  // the golden text is the Linux build's: paths and handles read otherwise there
  EXPECT_EQ(Lines(got), c.expected);
#endif

  // Every other way in gives the same import, the input that wins opened.
  const struct {
    InputKind input;
    bool alsoPath, callback, context;
    const char* opened;
  } ways[] = {{InputKind::kMemory, false, true, true, "\"memory\""},
              {InputKind::kMemory, true, true, true, "\"file\""},  // a path wins over memory
              {InputKind::kHostStream, false, true, true, "\"host\""},
              {InputKind::kHostStream, true, true, true, "\"host\""},  // a stream wins over a path
              {InputKind::kFile, false, false, true, "\"file\""},      // no status callback
              {InputKind::kFile, false, true, false, "\"file\""}};     // no host context
  for (const auto& [input, alsoPath, callback, context, opened] : ways) {
    if (options.cancelAtProgress && !(callback && context)) continue;
    SCOPED_TRACE(testing::Message() << "input " << int(input) << alsoPath << callback << context);
    ImportOptions o = options;
    o.input = input, o.alsoPath = alsoPath, o.callback = callback, o.context = context;
    const ImportRun run = Checked(gif, o);
    EXPECT_EQ(run.result, byFile.result);
    EXPECT_EQ(run.calls.size(), callback && context ? byFile.calls.size() : 0u);
    EXPECT_EQ(e2e::LogField(run.log.at(0), "kind"), opened);
    // Without a context the document is opened without one; nothing else differs.
    EXPECT_EQ(context ? AfterOpen(run) : run.Ops(), context ? AfterOpen(byFile) : byFile.Ops());
  }
}
INSTANTIATE_TEST_SUITE_P(Rows, ImportCase, testing::ValuesIn(Cases()), testtable::NameBy(0));
TEST(ImportCase_Table, Rows) { EXPECT_GT(Cases().size(), 40u); }

const fs::path kGolden = kRoot / "tests/e2e/pixel_oracle.txt";
using Golden = std::map<std::string, std::string>;

// The golden lines by the file each names, the file first made of `write`.
Golden GoldenLines(const Golden* write = nullptr) {
  if (write) {
    std::ofstream out(kGolden);
    out << "# file, ImportFile's result, bitmaps, FNV-1a of their sizes and bands\n";
    for (const auto& entry : *write) out << entry.second << "\n";
  }
  Golden lines;
  for (const testtable::TableRow& row : testtable::LoadRows(kGolden.string()))
    lines[row[0].substr(0, row[0].find(' '))] = row[0];
  return lines;
}

// Every GIF kept (crashers whatever they hold), each its tree path, at its
// golden line. Fuzz seeds carry their control bytes in front of the GIF.
std::vector<testtable::TableRow> KeptGifs() {
  std::set<std::string> names;
  for (const char* dir : {"examples", "tests/crashers", "tests/e2e/cases", "fuzz/seeds/import",
                          "fuzz/seeds/import_gr", "fuzz/seeds/file_info"})
    for (const auto& entry : fs::directory_iterator(kRoot / dir))
      if (entry.is_regular_file() && entry.path().extension() != ".txt")
        names.insert(dir + ("/" + entry.path().filename().string()));
  std::vector<testtable::TableRow> rows;
  for (const std::string& name : names) {
    char head[8] = "";
    std::ifstream(kRoot / name, std::ios::binary).read(head, 7);
    const bool crasher =
        name.rfind("tests/crashers/", 0) == 0 && fs::path(name).extension() == ".gif";
    if (crasher || std::memcmp(head + (name.rfind("fuzz/", 0) == 0 ? 4 : 0), "GIF", 3) == 0)
      rows.push_back({{name}, kGolden.string(), int(rows.size()) + 2});
  }
  return rows;
}

// The golden file has a line for each GIF kept and no other
// (GIFIMPORT_WRITE_GOLDEN drops the others).
TEST(KeptGif_Table, Rows) {
  Golden lines = GoldenLines(), kept;
  for (const testtable::TableRow& row : KeptGifs())
    kept[row[0]] = lines.count(row[0]) ? lines[row[0]] : row[0] + " (no line)";
  if (kWrite) GoldenLines(&kept);
  EXPECT_EQ(kept, lines);
}

class KeptGif : public testtable::RowTest<> {};

// By every input kind: one result and call log, and the bitmaps the golden
// line's; against giflib too where both read the file whole.
TEST_P(KeptGif, ByEveryInputKind) {
  const std::string& name = row[0];
  Bytes gif = e2e::ReadWholeFile((kRoot / name).string());
  if (name.rfind("fuzz/", 0) == 0)
    gif.erase(gif.begin(), gif.begin() + std::min<size_t>(4, gif.size()));
  const ImportRun run = Checked(gif, {});  // by file
  for (InputKind input : {InputKind::kMemory, InputKind::kHostStream}) {
    ImportOptions options;
    options.input = input;
    const ImportRun other = Checked(gif, options);
    EXPECT_TRUE(other.result == run.result && AfterOpen(other) == AfterOpen(run))
        << "input kinds differ";
  }
  uint64_t hash = 0xCBF29CE484222325ull;  // FNV-1a, numbers as 4 bytes little-endian
  const auto mix = [&hash](uint32_t v, std::vector<uint8_t> bytes) {  // v, then the bytes
    bytes.insert(bytes.begin(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    for (uint8_t byte : bytes) hash = (hash ^ byte) * 0x100000001B3ull;
  };
  const std::vector<standin::Bitmap> none, &bitmaps = run.picture ? run.picture->bitmaps : none;
  for (const standin::Bitmap& bitmap : bitmaps) {
    for (uint32_t v : {uint32_t(bitmap.width), uint32_t(bitmap.height), uint32_t(bitmap.depth)})
      mix(v, {});
    for (const standin::Bitmap::Band& band : bitmap.bands) mix(band.rows, band.data);
  }
  char line[64];
  std::snprintf(line, sizeof line, " %d %zu %016llx", int(run.result), bitmaps.size(),
                static_cast<unsigned long long>(hash));
  Golden lines = GoldenLines();
  if (kWrite) lines[name] = name + line, GoldenLines(&lines);
  EXPECT_EQ(name + line, lines[name]);
#ifdef GIFIMPORT_HAVE_GIFLIB
  // Only a file both decoders read whole: each keeps its own tolerances.
  std::vector<oracle::GifImage> images;
  if (run.result != 0 || !oracle::SlurpGiflib(gif.data(), gif.size(), &images)) return;
  ASSERT_EQ(images.size(), bitmaps.size());
  for (size_t i = 0; i < images.size(); ++i)
    EXPECT_EQ(oracle::CompareBitmap(bitmaps[i], images[i]), "") << "image " << i + 1;
#endif
}
INSTANTIATE_TEST_SUITE_P(Rows, KeptGif, testing::ValuesIn(KeptGifs()), testtable::NameBy(0));

// A handle that is no live setup large enough, and names that do not fit
// their 260-byte fields: refused, never written past.
TEST(ImportTest, RequestsThatCannotBeServedAreRefused) {
  const Bytes gif = e2e::ReadWholeFile((kRoot / "tests/e2e/cases/rich.gif").string());
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, kSetupBlockBytes);
  GlobalFree(freed);
  // A live handle that locks to null, a block that starts like a setup, an options block.
  const HGLOBAL kept[] = {GlobalAlloc(GMEM_MOVEABLE, 0),
                          e2e::MemoryBlockOf({0xCC, 0xDD, 0xEE, 0xFF}),
                          QvOptionsCreate(0, 0, 0, 0)};
  for (HGLOBAL handle : {HGLOBAL{nullptr}, freed, kept[0], kept[1], kept[2]}) {
    ImportOptions refused;
    refused.adjustRequest = [handle](ImportRequest* request) { request->setupHandle = handle; };
    const ImportRun run = e2e::Import(gif, refused);
    EXPECT_NE(run.result, 0);
    EXPECT_TRUE(run.calls.empty() && run.log.empty()) << "nothing to report through";
  }
  for (HGLOBAL handle : kept) GlobalFree(handle);
  EXPECT_EQ(testhost::DescribeLive(), "");

  // A path of 259 characters names a file; one more must open neither the
  // file that its first 259 name nor the one a setup used before still holds.
  const std::string dir = e2e::WriteScratchFile("d", {});
  const std::string path = e2e::WriteScratchFile(std::string(260 - dir.size(), 'p'), gif);
  const std::string fits(259, 'n'), tooLong(260, 'n');
  const struct {
    Strings names;  // ImportFile's open and start names, the request's second document name
    std::string input;
    int32_t result;
  } cases[] = {{{fits, fits, fits}, path, 0},
               {{tooLong, "", ""}, path, 27},
               {{"", tooLong, ""}, path, 27},
               {{"", "", tooLong}, path, 27},
               {{"", "", ""}, path + "x", 7}};
  for (const auto& c : cases) {
    ImportOptions options;
    options.openName = c.names[0], options.startName = c.names[1], options.inputPath = c.input;
    options.adjustSetup = [&path](FilterSetup* setup) {
      std::snprintf(setup->inputPath, kTextFieldBytes, "%s", path.c_str());
    };
    options.adjustRequest = [&c](ImportRequest* r) { r->docNames[1] = c.names[2].c_str(); };
    const ImportRun run = Checked({}, options);
    EXPECT_EQ(run.result, c.result) << "case " << &c - cases;
    EXPECT_EQ(run.Errors(), std::vector<int32_t>(c.result != 0, c.result));  // one report
    const standin::Picture* p = c.result ? nullptr : &run.picture.value();   // the names it got
    EXPECT_EQ(p ? Strings({p->openName, p->startName, p->names[1]}) : c.names, c.names);
  }
}

// A setup is busy only while it imports: after an import that worked and
// one that failed, the same setup imports again.
TEST(ImportTest, ASetupImportsAgainAfterEachImport) {
  const Bytes gif = e2e::ReadWholeFile((kRoot / "tests/e2e/cases/rich.gif").string());
  const std::string path = e2e::WriteScratchFile("again.gif", gif);
  std::vector<int32_t> before;
  ImportRequest* request = nullptr;
  ImportOptions options;
  options.inputPath = path;
  options.adjustRequest = [&request](ImportRequest* r) { request = r; };
  options.beforeImport = [&] {
    before.push_back(ImportFile(0, "", "", path.c_str(), request));
    before.push_back(ImportFile(0, "", "", (path + "x").c_str(), request));
  };
  const ImportRun run = Checked({}, options);
  EXPECT_EQ(before, (std::vector<int32_t>{0, kErrStreamOpen}));
  EXPECT_EQ(run.result, 0);
}

}  // namespace
