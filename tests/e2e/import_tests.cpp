// Whole imports through the filter's exports, as a host runs them, on GIFs
// made by the test-support writer: the picture the companion library got,
// the calls it got them by, the host's status calls, and nothing left live.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "gifimport/filter_api.h"
#include "gifimport/standin_picture.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

using e2e::Import;
using e2e::ImportOptions;
using e2e::ImportRun;
using e2e::Road;
using gifwrite::Bytes;
using gifwrite::Color;
using gifwrite::GifBuilder;
using gifwrite::Image;
using standin::Rgb;
using Strings = std::vector<std::string>;
using Codes = std::vector<int32_t>;

const std::vector<Color> kGlobal4 = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
const std::vector<Color> kLocal2 = {{10, 20, 30}, {40, 50, 60}};

std::vector<Color> Ramp(int count) {
  std::vector<Color> colors;
  for (int i = 0; i < count; ++i)
    colors.push_back(
        {static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i * 7), static_cast<uint8_t>(i)});
  return colors;
}

std::vector<Rgb> AsRgb(const std::vector<Color>& colors) {
  std::vector<Rgb> out;
  for (const Color& c : colors) out.push_back(Rgb{c.r, c.g, c.b});
  return out;
}

// The error reports a host hears for a result: one, or none for success.
Codes Reported(int32_t result) { return result ? Codes{result} : Codes{}; }

// An image whose pixel (x, y) is (x + 2y) mod `colors`.
Image Patterned(uint16_t left, uint16_t top, uint16_t width, uint16_t height, int colors,
                const std::vector<Color>& local = {}, bool interlaced = false) {
  Image image{left, top, width, height, interlaced, local, {}, 0, {}, {}};
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      image.pixels.push_back(static_cast<uint8_t>((x + 2 * y) % colors));
  return image;
}

// Every kind of block: control, comment, plain text, a local and an
// interlaced image.
GifBuilder RichGif() {
  GifBuilder gif(6, 5, kGlobal4);
  gif.GraphicControl(true, 3).Comment("hi").PlainText(0, 0, 6, 4, 1, 2, 1, 0, {"ab cd"});
  gif.AddImage(Patterned(1, 1, 4, 3, 2, kLocal2))
      .AddImage(Patterned(0, 0, 6, 5, 4, {}, true))
      .Trailer();
  return gif;
}

// Each bitmap as "d<depth> t<back index>|o", with "pattern" when its pixels
// follow Patterned's; "text" when any was drawn.
std::string Summary(const standin::Picture& p, int colors) {
  std::string out = p.hasBackground ? "" : "no background; ";
  for (const standin::Bitmap& b : p.bitmaps) {
    bool pattern = true;
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x)
        pattern = pattern && b.PixelIndex(x, y) == (x + 2 * y) % colors;
    out += "d" + std::to_string(b.depth) +
           (b.transparent ? " t" + std::to_string(b.backColorIndex) : " o") +
           (pattern ? " pattern; " : " other pixels; ");
  }
  return out + (p.texts.empty() ? "" : "text");
}

// The value of `key` in every log entry of `op`, in order.
Strings Fields(const ImportRun& run, const std::string& op, const std::string& key) {
  Strings out;
  for (const std::string& entry : run.log)
    if (e2e::LogField(entry, "op") == "\"" + op + "\"") out.push_back(e2e::LogField(entry, key));
  return out;
}

class ImportTest : public ::testing::Test {
 protected:
  void TearDown() override {
    PlatformFailAllocationAt(0);
    StandInResetFaults();
    EXPECT_EQ(testhost::DescribeLive(), "");
  }
};

// ---- A complete run, checked once against the order the design gives ------

TEST_F(ImportTest, CompleteRunCallsTheLibraryInTheDesignOrder) {
  GifBuilder gif(8, 6, kGlobal4);
  gif.GraphicControl(true, 1)
      .Comment("made by a test")
      .AddImage(Patterned(1, 1, 3, 2, 2, kLocal2))
      .Application("NETSCAPE2.0", {1, 0, 0})
      .AddImage(Patterned(0, 3, 8, 3, 4))
      .Trailer();
  const ImportRun run = Import(gif.bytes());
  ASSERT_EQ(run.result, 0);
  const Strings ops = run.Ops();
  Strings drawing;  // without the reads, seeks and error queries
  for (const std::string& op : ops)
    if (op.rfind("QvStreamRead", 0) != 0 && op != "QvStreamSeek" && op != "QvGetError")
      drawing.push_back(op);
  EXPECT_EQ(drawing, (Strings{"QvStreamOpen",         "QvDocCreate",
                              "QvDocSetNames",        "QvDocOpen",
                              "QvDocStart",           "QvSetFontTable",
                              "QvPictureBegin",       "QvSetFrame",
                              "QvSetScale",           "QvSetWindow",
                              "QvPictureHeaderEnd",   "QvSetPalette",
                              "QvSetBackgroundColor",                         // global
                              "QvSetBackMode",        "QvSetBackColorIndex",  // control
                              "QvSetPalette",         "QvBitmapBegin",
                              "QvBitmapBand",         "QvBitmapEnd",  // image 1
                              "QvSetPalette",         "QvBitmapBegin",
                              "QvBitmapBand",         "QvBitmapEnd",  // image 2
                              "QvPictureEnd",         "QvDocFinish",
                              "QvDocClose",           "QvDocDestroy",
                              "QvStreamClose"}));

  // The header is read and the input measured before the document exists,
  // the position put back behind the 13 header bytes; the last status check
  // comes after the trailer, before the picture ends.
  ASSERT_GE(ops.size(), 6u);
  EXPECT_EQ(Strings(ops.begin() + 1, ops.begin() + 6),
            (Strings{"QvStreamReadFormat", "QvStreamSeek", "QvStreamSeek", "QvStreamSeek",
                     "QvDocCreate"}));
  EXPECT_EQ(e2e::LogField(run.log[1], "format"), "\"6c2s3c\"");
  EXPECT_EQ(e2e::LogField(run.log[4], "offset"), "13");
  const auto pictureEnd = std::find(ops.begin(), ops.end(), "QvPictureEnd");
  EXPECT_EQ(Strings(pictureEnd - 2, pictureEnd), (Strings{"QvStreamRead", "QvGetError"}));

  // Arguments that hosts rely on; the scale is compared to the last digit.
  EXPECT_EQ(Fields(run, "QvPictureBegin", "name"), Strings{"\"PICTURE 1\""});
  EXPECT_EQ(Fields(run, "QvSetFontTable", "faces"), Strings{"[\"SWISS:HELVETICA\"]"});
  EXPECT_EQ(Fields(run, "QvSetFrame", "rect"), Strings{"[0,0,8,6]"});
  EXPECT_EQ(Fields(run, "QvSetWindow", "rect"), Strings{"[0,0,8,6]"});
  EXPECT_EQ(Fields(run, "QvSetScale", "mode"), Strings{"1"});
  EXPECT_EQ(Fields(run, "QvSetScale", "factor"), Strings{"0.26458333333333328"});
  EXPECT_EQ(Fields(run, "QvSetPalette", "count"), (Strings{"4", "2", "4"}));
  const Strings palettes = Fields(run, "QvSetPalette", "entries");
  EXPECT_EQ(palettes[2], palettes[0]);
  // Picture space points up: y is the screen height less the GIF's.
  EXPECT_EQ(Fields(run, "QvBitmapBegin", "corners"),
            (Strings{"[[1,5],[4,3],[4,5]]", "[[0,3],[8,0],[8,3]]"}));
  EXPECT_EQ(Fields(run, "QvBitmapBand", "corners"), Fields(run, "QvBitmapBegin", "corners"));
  EXPECT_EQ(Fields(run, "QvBitmapBegin", "size"), (Strings{"[3,2]", "[8,3]"}));
  EXPECT_EQ(Fields(run, "QvBitmapBegin", "negDepth"), (Strings{"-1", "-4"}));
  EXPECT_EQ(Fields(run, "QvBitmapBegin", "reserved"), (Strings{"[0,1,3]", "[0,1,3]"}));
  EXPECT_EQ(Fields(run, "QvBitmapBegin", "transparent"), (Strings{"1", "1"}));

  // The host hears the range first and 100 last, and nothing went wrong.
  ASSERT_FALSE(run.calls.empty());
  const testhost::StatusCall& first = run.calls.front();
  EXPECT_EQ(
      Codes({first.kind, first.code, first.value2, run.calls.back().code, run.calls.back().value1}),
      Codes({kStatusProgress, -1, 100, 0, 100}));
  EXPECT_TRUE(run.Errors().empty());
}

// ---- The kinds of GIF a host meets -----------------------------------------

TEST_F(ImportTest, EveryKindOfBlockReachesThePicture) {
  const struct {
    const char* name;
    std::vector<Color> global;
    int colors;  // of every image's pattern
    std::function<void(GifBuilder&)> build;
    const char* summary;
  } cases[] = {
      {"local palette of 2: depth 1", kGlobal4, 2,
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 3, 2, kLocal2)); }, "d1 o pattern; "},
      {"local palette of 8: depth 4", kGlobal4, 8,
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 3, 8, Ramp(8))); }, "d4 o pattern; "},
      {"global size field 4 (32 colours): depth 8", Ramp(32), 32,
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 3, 32)); }, "d8 o pattern; "},
      {"no global table, header size field 7: depth 8",
       {},
       4,
       [](GifBuilder& g) { g.SetHeaderSizeField(7).AddImage(Patterned(0, 0, 5, 3, 4)); },
       "no background; d8 o pattern; "},
      {"interlaced, all four passes", kGlobal4, 4,
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 9, 4, {}, true)); }, "d4 o pattern; "},
      {"transparency holds until a control block clears it", kGlobal4, 4,
       [](GifBuilder& g) {
         g.GraphicControl(true, 2)
             .AddImage(Patterned(0, 0, 2, 2, 4))
             .AddImage(Patterned(2, 0, 2, 2, 4));
         g.GraphicControl(false, 0).AddImage(Patterned(4, 0, 2, 2, 4));
       },
       "d4 t2 pattern; d4 t2 pattern; d4 o pattern; "},
      {"a control block of size 5 is skipped whole", kGlobal4, 4,
       [](GifBuilder& g) {
         g.GraphicControl(true, 2).Raw({0x21, 0xF9, 0x05, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00});
         g.AddImage(Patterned(0, 0, 2, 2, 4));
       },
       "d4 t2 pattern; "},
      {"comment and application blocks are skipped; junk between blocks too", kGlobal4, 4,
       [](GifBuilder& g) {
         g.Comment(std::string(300, 'c'))
             .Raw({0x00, 0x42, 0x99})
             .Application("NETSCAPE2.0", {1, 0, 0});
         g.AddImage(Patterned(0, 0, 3, 2, 4)).Raw({0x07});
       },
       "d4 o pattern; "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GifBuilder gif(6, 9, c.global);
    c.build(gif);
    const ImportRun run = Import(gif.Trailer().bytes());
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.Errors().empty());
    ASSERT_TRUE(run.picture);
    EXPECT_TRUE(run.picture->finished);
    EXPECT_EQ(Summary(*run.picture, c.colors), c.summary);
  }
}

// The picture as a host reads it through the stand-in's C API agrees with
// the calls that drew it: each band's rows, packed again from the pixels read
// back, have the log's checksum; each text line is the one drawn.
TEST_F(ImportTest, PictureReadBackThroughTheCApiMatchesTheCalls) {
  GifBuilder gif(300, 120, Ramp(256));
  gif.PlainText(0, 0, 48, 32, 8, 16, 1, 0, {"hello there, host"}).GraphicControl(true, 1);
  // Rows that fill their 4 bytes (the padding's bytes are not the picture's);
  // the 8-bit rows come in more than one band.
  gif.AddImage(Patterned(1, 1, 32, 3, 2, kLocal2))
      .AddImage(Patterned(2, 2, 8, 7, 16, Ramp(16), true));
  gif.AddImage(Patterned(0, 0, 300, 120, 256)).Trailer();
  struct Read {
    StandInBitmapInfo info;
    std::vector<uint8_t> pixels;
  };
  std::vector<Read> bitmaps;
  Strings texts;  // "text@x,y extent ex,ey colour index"
  ImportOptions options;
  options.afterImport = [&] {
    const StandInPicture* picture = StandInPictureLast();
    StandInPictureInfo info;
    ASSERT_EQ(StandInPictureGetInfo(picture, &info), 0);
    EXPECT_EQ(info.complete, 1);
    EXPECT_EQ(StandInPicturePalette(picture, nullptr, 0), 256);
    for (int i = 0; i < info.bitmapCount; ++i) {
      Read b;
      ASSERT_EQ(StandInPictureGetBitmap(picture, i, &b.info), 0);
      b.pixels.resize(static_cast<size_t>(b.info.width) * b.info.height);
      EXPECT_EQ(StandInPictureBitmapPixels(picture, i, b.pixels.data(), b.pixels.size()), 0);
      EXPECT_EQ(StandInPictureBitmapPixels(picture, i, b.pixels.data(), b.pixels.size() - 1), -1);
      bitmaps.push_back(b);
    }
    StandInColor local[2];
    EXPECT_EQ(StandInPictureBitmapPalette(picture, 0, local, 2), 256);
    EXPECT_EQ(local[1].blue, kLocal2[1].b);
    for (StandInTextInfo t;
         StandInPictureGetText(picture, static_cast<int>(texts.size()), &t) == 0;) {
      texts.push_back(std::string(t.text) + "@" + std::to_string(t.x) + "," + std::to_string(t.y) +
                      " extent " + std::to_string(t.extentX) + "," + std::to_string(t.extentY) +
                      " colour " + std::to_string(t.colorIndex) +
                      (t.color.red == Ramp(256)[t.colorIndex].r ? "" : " wrong"));
    }
    EXPECT_EQ(StandInPictureGetBitmap(picture, info.bitmapCount, nullptr), -1);
  };
  const ImportRun run = Import(gif.bytes(), options);
  ASSERT_EQ(run.result, 0);

  int bitmap = -1, bands = 0;
  Strings drawn;
  for (const std::string& entry : run.log) {
    const std::string op = e2e::LogField(entry, "op");
    if (op == "\"QvBitmapBegin\"") ++bitmap;
    if (op == "\"QvDrawText\"") {
      int ex, ey, x, y, color = 0;
      std::sscanf(e2e::LogField(entry, "extent").c_str(), "[%d,%d]", &ex, &ey);
      std::sscanf(e2e::LogField(entry, "origin").c_str(), "[%d,%d]", &x, &y);
      for (const std::string& e : run.log)  // the colour index in force: the last set before it
        if (&e < &entry && e2e::LogField(e, "op") == "\"QvSetTextColorIndex\"")
          color = std::stoi(e2e::LogField(e, "index"));
      const std::string text = e2e::LogField(entry, "text");
      drawn.push_back(text.substr(1, text.size() - 2) + "@" + std::to_string(x) + "," +
                      std::to_string(y) + " extent " + std::to_string(ex) + "," +
                      std::to_string(ey) + " colour " + std::to_string(color));
    }
    if (op != "\"QvBitmapBand\"") continue;
    ASSERT_GE(bitmap, 0);
    ASSERT_LT(static_cast<size_t>(bitmap), bitmaps.size());
    const Read& b = bitmaps[static_cast<size_t>(bitmap)];
    int left, top, width, rows;
    std::sscanf(e2e::LogField(entry, "corners").c_str(), "[[%d,%d]", &left, &top);
    std::sscanf(e2e::LogField(entry, "size").c_str(), "[%d,%d]", &width, &rows);
    const size_t rowBytes = ((static_cast<size_t>(width) * b.info.depth + 7) / 8 + 3) / 4 * 4;
    std::vector<uint8_t> packed(rowBytes * rows);
    for (int r = 0; r < rows; ++r) {
      for (int x = 0; x < width; ++x) {
        const int bit = x * b.info.depth;
        const uint8_t pixel = b.pixels[static_cast<size_t>(b.info.top - top + r) * b.info.width +
                                       (left - b.info.left) + x];
        packed[r * rowBytes + bit / 8] |=
            static_cast<uint8_t>(pixel << (8 - b.info.depth - bit % 8));
      }
    }
    uint32_t hash = 2166136261u;  // the log's FNV-1a
    for (uint8_t byte : packed) hash = (hash ^ byte) * 16777619u;
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "\"%08x\"", hash);
    EXPECT_EQ(e2e::LogField(entry, "checksum"), checksum)
        << "bitmap " << bitmap << " band at row " << top;
    ++bands;
  }
  EXPECT_EQ(bitmap + 1, 3);
  EXPECT_GT(bands, 3);
  EXPECT_EQ(texts, drawn);
  EXPECT_FALSE(texts.empty());
}

// ---- Input that is not right -----------------------------------------------

TEST_F(ImportTest, TruncationAtEveryOffset) {
  const GifBuilder gif = RichGif();
  const Bytes& whole = gif.bytes();
  // Cuts where a block begins, behind the header and the global table, end
  // the picture like the trailer; every other cut is a short read.
  std::set<size_t> complete(gif.blockOffsets().begin() + 2, gif.blockOffsets().end());
  complete.insert(whole.size());
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    const ImportRun run = Import(Bytes(whole.begin(), whole.begin() + cut));
    EXPECT_EQ(run.result, complete.count(cut) ? 0 : 21);
    EXPECT_EQ(run.Errors(), Reported(run.result));
    ASSERT_EQ(run.live, "");
  }
}

// GetFileInfo's result for `gif` by file, memory block and host stream.
Codes InfoByEveryRoad(const Bytes& gif) {
  FileInfoRecord record = {};
  record.recordSize = 60;
  const std::string path = e2e::WriteScratchFile("info.gif", gif);
  HGLOBAL memory = e2e::MemoryBlockOf(gif);
  const uint32_t stream = e2e::OpenByteStream(gif);
  Codes results = {GetFileInfo(path.c_str(), &record, 0, nullptr),
                   GetFileInfo("", &record, reinterpret_cast<uintptr_t>(memory), nullptr),
                   GetFileInfo("", &record, stream, e2e::ByteStreamProc)};
  e2e::CloseByteStream(stream);
  GlobalFree(memory);
  return results;
}

// Each input by every road, with and without a host to hear it: the same
// result, the same calls of the library after the open, and the input that
// wins opened; GetFileInfo gives one answer by every road too.
TEST_F(ImportTest, EveryRoadAndHostGiveTheSameImport) {
  const auto withImage = [](GifBuilder g) {
    return g.AddImage(Patterned(0, 0, 2, 2, 4)).Trailer().bytes();
  };
  Bytes badSignature = withImage(GifBuilder(4, 4, kGlobal4));
  badSignature[2] = 'X';
  const Bytes header = GifBuilder(4, 4, kGlobal4).bytes();
  const struct {
    const char* name;
    Bytes gif;
    int32_t result, info;
  } inputs[] = {
      {"every kind of block", RichGif().bytes(), 0, 0},
      {"extension label 0x2C, as no extension has",
       GifBuilder(4, 4, kGlobal4).Raw({0x21, 0x2C, 0x00}).Trailer().bytes(), 21, 0},
      {"not a GIF", badSignature, -23, -23},
      {"version above 89", withImage(GifBuilder(4, 4, kGlobal4, "90a")), -24, -24},
      {"empty input", {}, 21, 21},
      {"1 byte", {'G'}, 21, 21},
      {"12 bytes", Bytes(header.begin(), header.begin() + 12), 21, 21},
      {"the header without its global table", Bytes(header.begin(), header.begin() + 13), 21, 0},
      {"the header and its global table", header, 0, 0},
      {"a header without a table", GifBuilder(4, 4).bytes(), 0, 0},
  };
  const struct {
    Road road;
    bool alsoPath, callback, context;
    const char* opened;
  } ways[] = {{Road::kMemory, false, true, true, "\"memory\""},
              {Road::kMemory, true, true, true, "\"file\""},  // a path wins over a memory block
              {Road::kStream, false, true, true, "\"host\""},
              {Road::kStream, true, true, true, "\"host\""},   // a stream wins over a path
              {Road::kFile, false, false, true, "\"file\""},   // no status callback
              {Road::kFile, false, true, false, "\"file\""}};  // no host context
  const auto afterOpen = [](const ImportRun& run) {
    return Strings(run.log.begin() + 1, run.log.end());
  };
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.name);
    EXPECT_EQ(InfoByEveryRoad(input.gif), Codes(3, input.info));
    const ImportRun byFile = Import(input.gif);
    EXPECT_EQ(byFile.result, input.result);
    EXPECT_EQ(byFile.Errors(), Reported(input.result));
    for (const auto& way : ways) {
      SCOPED_TRACE(std::string(e2e::RoadName(way.road)) + (way.alsoPath ? " with a path" : "") +
                   (way.callback ? "" : ", no callback") + (way.context ? "" : ", no context"));
      ImportOptions options;
      options.road = way.road;
      options.alsoPath = way.alsoPath;
      options.callback = way.callback;
      options.context = way.context;
      const ImportRun run = Import(input.gif, options);
      EXPECT_EQ(run.result, input.result);
      EXPECT_EQ(run.calls.size(), way.callback && way.context ? byFile.calls.size() : 0u);
      ASSERT_FALSE(run.log.empty());
      EXPECT_EQ(e2e::LogField(run.log[0], "kind"), way.opened) << run.log[0];
      // Without a context the document is opened without one; nothing else differs.
      EXPECT_EQ(way.context ? afterOpen(run) : run.Ops(),
                way.context ? afterOpen(byFile) : byFile.Ops());
    }
  }
}

// Coordinates go to the library as signed 16-bit values and rows in bands of
// at most 32767 bytes: a screen or an image beyond either is refused with 28
// before anything of it is sent (no document, or no palette and no bitmap
// of that image); one just inside imports.
TEST_F(ImportTest, SizesBeyondThePicturesCoordinatesAreRefused) {
  const struct {
    const char* name;
    uint16_t screenWidth, screenHeight, left, top, width, height;
    int localColors;
    int32_t result;
  } cases[] = {
      {"screen width 40000", 40000, 10, 0, 0, 1, 1, 0, 28},
      {"screen height 32768", 10, 32768, 0, 0, 1, 1, 0, 28},
      {"screen 32767 wide, an image as wide", 32767, 10, 0, 0, 32767, 1, 2, 0},
      {"right edge at 32768", 100, 10, 32000, 0, 768, 1, 0, 28},
      {"bottom at -32768", 100, 10, 0, 0, 1, 32778, 0, 0},
      {"bottom at -32769", 100, 10, 0, 1, 1, 32778, 0, 28},
      {"a row of 32764 bytes at depth 8", 100, 10, 0, 0, 32764, 1, 256, 0},
      {"a row of 32768 bytes at depth 8", 100, 10, 0, 0, 32767, 1, 256, 28},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    GifBuilder gif(c.screenWidth, c.screenHeight, kGlobal4);
    gif.AddImage(Patterned(0, 0, 1, 1, 4));
    gif.AddImage(
        Image{c.left, c.top, c.width, c.height, false, Ramp(c.localColors), {}, 0, {}, {}});
    const ImportRun run = Import(gif.Trailer().bytes());
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.Errors(), Reported(c.result));
    const bool screenRefused = c.screenWidth > 32767 || c.screenHeight > 32767;
    EXPECT_EQ(Fields(run, "QvDocCreate", "result").size(), screenRefused ? 0u : 1u);
    if (screenRefused) continue;
    EXPECT_EQ(Fields(run, "QvBitmapBegin", "size").size(), c.result ? 1u : 2u);
    EXPECT_EQ(Fields(run, "QvSetPalette", "count").size(), c.result || !c.localColors ? 1u : 3u);
  }
}

// ---- Setup, profile colours, host records ----------------------------------

// The replacement is bounded by the GIF's table too: a background index past
// it stays black however many colours the profile has.
TEST_F(ImportTest, ProfileColoursReplaceOnlyTheGlobalTablesFirstEntries) {
  const std::vector<Rgb> profile = AsRgb(Ramp(10));
  const struct {
    int32_t overrideCount;
    size_t replaced;
    uint8_t background;
  } cases[] = {{10, 4, 5}, {10, 4, 3}, {2, 2, 1}, {0, 0, 0}, {-3, 0, 200}, {300, 4, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE("override " + std::to_string(c.overrideCount) + ", background " +
                 std::to_string(c.background));
    GifBuilder gif(6, 4, kGlobal4, "89a", c.background);
    gif.AddImage(Patterned(0, 0, 2, 2, 2, kLocal2)).AddImage(Patterned(2, 0, 2, 2, 4)).Trailer();
    ImportOptions options;
    options.adjustSetup = [&](FilterSetup* setup) {
      setup->overrideColorCount = c.overrideCount;
      setup->colorCount = static_cast<int32_t>(profile.size());
      for (size_t i = 0; i < profile.size(); ++i)
        setup->colors[i] = RgbTriple{profile[i].red, profile[i].green, profile[i].blue};
    };
    const ImportRun run = Import(gif.bytes(), options);
    ASSERT_EQ(run.result, 0);
    std::vector<Rgb> expected = AsRgb(kGlobal4);
    std::copy(profile.begin(), profile.begin() + c.replaced, expected.begin());
    const std::vector<standin::Bitmap>& bitmaps = run.picture->bitmaps;
    ASSERT_EQ(bitmaps.size(), 2u);
    // A local table keeps its colours; the global one is restored with them.
    EXPECT_EQ(std::vector<Rgb>(bitmaps[0].palette.begin(), bitmaps[0].palette.begin() + 2),
              AsRgb(kLocal2));
    EXPECT_EQ(bitmaps[1].palette, expected);
    EXPECT_EQ(run.picture->background, c.background < 4 ? expected[c.background] : Rgb{});
  }
}

// A handle that is no live setup large enough, and names that do not fit
// their 260-byte fields: refused, never written past.
TEST_F(ImportTest, RequestsThatCannotBeServedAreRefused) {
  const Bytes gif = RichGif().bytes();
  HGLOBAL discarded = GlobalAlloc(GMEM_MOVEABLE, 0);             // a live handle that locks to null
  HGLOBAL small = e2e::MemoryBlockOf({0xCC, 0xDD, 0xEE, 0xFF});  // starts like a setup
  HGLOBAL options = QvOptionsCreate(0, 0, 0, 0);
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE, kSetupBlockBytes);
  GlobalFree(freed);
  for (HGLOBAL handle : {HGLOBAL{nullptr}, discarded, small, options, freed}) {
    ImportOptions refused;
    refused.adjustRequest = [handle](ImportRequest* request) { request->setupHandle = handle; };
    const ImportRun run = Import(gif, refused);
    EXPECT_NE(run.result, 0);
    EXPECT_TRUE(run.calls.empty() && run.log.empty()) << "nothing to report through";
  }
  for (HGLOBAL handle : {discarded, small, options}) GlobalFree(handle);

  // A path of 259 characters names a file; one more must open neither the
  // file that its first 259 name nor the one a setup used before still holds.
  const std::string dir = e2e::WriteScratchFile("d", {});
  const std::string path = e2e::WriteScratchFile(std::string(260 - dir.size(), 'p'), gif);
  const std::string fits(259, 'n'), tooLong(260, 'n');
  const struct {
    const char* name;
    std::string open, start, input, docName;
    int32_t result;
  } cases[] = {
      {"all fit", fits, fits, path, fits, 0},
      {"open name too long", tooLong, "", path, "", 27},
      {"start name too long", "", tooLong, path, "", 27},
      {"document name too long", "", "", path, tooLong, 27},
      {"input path too long", "", "", path + "x", "", 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImportOptions names;
    names.openName = c.open;
    names.startName = c.start;
    names.inputPath = c.input;
    names.adjustSetup = [&path](FilterSetup* setup) {
      std::snprintf(setup->inputPath, kTextFieldBytes, "%s", path.c_str());
    };
    names.adjustRequest = [&c](ImportRequest* request) {
      request->docNames[1] = c.docName.c_str();
    };
    const ImportRun run = Import({}, names);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.Errors(), Reported(c.result));
    if (c.result == 0) {
      EXPECT_EQ(Strings({run.picture->openName, run.picture->startName, run.picture->names[1]}),
                Strings({c.open, c.start, c.docName}));
    }
  }
}

// A status callback that comes back into the filter on the setup being
// imported, at every kind of call: each entry refuses the busy setup and
// changes nothing, and the import ends as it would have.
struct Reentry {
  ImportRequest* request = nullptr;
  std::set<int32_t> results;
} reentry;

int32_t WINAPI ReenteringCallback(uint32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t*) {
  HGLOBAL setup = reentry.request->setupHandle;
  uint32_t second = 1;
  for (int32_t r : {DestroySetup(setup), ImportFile(0, "", "", "", reentry.request),
                    EscapeSetup(setup, 0x51, 4, nullptr, nullptr, 0),
                    EscapeSetup(setup, 0x52, 4, &second, nullptr, 0)})
    reentry.results.insert(r);
  return 0;
}

TEST_F(ImportTest, AStatusCallbackCannotFreeOrReuseTheSetupInUse) {
  for (Road road : {Road::kFile, Road::kStream}) {
    for (bool fails : {false, true}) {
      SCOPED_TRACE(std::string(e2e::RoadName(road)) + (fails ? ", failing" : ""));
      reentry = {};
      ImportOptions options;
      options.road = road;
      options.adjustRequest = [](ImportRequest* request) {
        reentry.request = request;
        request->hostContext->statusCallback = ReenteringCallback;
      };
      if (fails)
        options.beforeImport = [] { StandInSetPendingErrorAfter("QvBitmapBand", 1, 300, 0); };
      const ImportRun run = Import(RichGif().bytes(), options);
      EXPECT_EQ(run.result, fails ? 27 : 0);
      EXPECT_EQ(reentry.results, std::set<int32_t>{kSetupBusy});
      EXPECT_EQ(run.live, "") << "the setup was freed after the import, nothing else stayed";
    }
  }
}

// ---- Cancellation and memory that runs out -----------------------------------

TEST_F(ImportTest, CancellationThroughTheStatusCallback) {
  const Bytes gif = GifBuilder(8, 8, kGlobal4).AddImage(Patterned(0, 0, 8, 8, 4)).Trailer().bytes();
  const int last = static_cast<int>(Import(gif).OfKind(kStatusProgress).size()) - 1;
  ASSERT_GE(last, 2);
  const struct {
    const char* name;
    int at;
    int32_t followUp, result;
  } cases[] = {
      {"stop confirmed at the final progress call", last, 1, 61},
      {"stop withdrawn at the final progress call", last, 0, 0},
      {"stop confirmed while decoding", 1, 1, 61},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImportOptions options;
    options.cancelAtProgress = c.at;
    options.followUpAnswer = c.followUp;
    const ImportRun run = Import(gif, options);
    EXPECT_EQ(run.result, c.result);
    EXPECT_TRUE(run.Errors().empty());
    EXPECT_EQ(run.OfKind(kStatusCancelFollowUp).size(), 1u);
    // A stop during decoding leaves the bitmap unended; the document is
    // still finished and closed.
    EXPECT_EQ(run.picture->bitmaps.at(0).ended, c.at == last);
    EXPECT_TRUE(run.picture->closed);
  }
}

// The filter's blocks and the picture the library holds share one memory
// budget: past it the import ends with 27, reported once, and everything is
// given back; the output writers keep within it too.
TEST_F(ImportTest, OneMemoryBudgetForTheImportAndItsOutput) {
  const Bytes gif = GifBuilder(1000, 1000, Ramp(256))
                        .AddImage(Patterned(0, 0, 1000, 1000, 256))
                        .Trailer()
                        .bytes();
  const unsigned long long inUse = PlatformMemoryInUse();
  const struct {
    const char* name;
    unsigned long long budget;
    int32_t result;
  } cases[] = {{"no budget", 0, 0},
               {"room for all", 4 << 20, 0},
               {"no room for the pixels", 512 << 10, 27},
               {"no room for all the bands", 1536 << 10, 27}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImportOptions options;
    options.beforeImport = [&c] { PlatformSetMemoryBudget(c.budget); };
    const ImportRun run = Import(gif, options);
    PlatformSetMemoryBudget(1 << 20);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.Errors(), Reported(c.result));
    EXPECT_EQ(run.live, "");
    EXPECT_EQ(PlatformMemoryInUse(), inUse) << "the picture's charge went with it";
    if (c.result == 0) {
      // 4 MB of pixels, and a metafile of the 1 MB of bands: past 1 MB.
      std::vector<uint8_t> bytes;
      int width = 0, height = 0;
      std::string error;
      EXPECT_NE(StandInRenderRgba(*run.picture, &bytes, &width, &height), 0);
      EXPECT_NE(StandInWriteEmf(*run.picture, &bytes, &error), 0);
      EXPECT_EQ(PlatformMemoryInUse(), inUse);
    }
    PlatformSetMemoryBudget(kPlatformDefaultBudget);
  }
}

}  // namespace
