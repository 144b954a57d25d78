// Whole imports through the filter's exports, as a host runs them, on GIFs
// made by the test-support writer: the picture the companion library got,
// the calls it got them by, the host's status calls, and nothing left live.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "filter/filter_api.h"
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
using standin::Picture;
using standin::Rgb;

const std::vector<Color> kGlobal4 = {{0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {0, 0, 255}};
const std::vector<Color> kLocal2 = {{10, 20, 30}, {40, 50, 60}};

std::vector<Color> Ramp(int count) {
  std::vector<Color> colors;
  for (int i = 0; i < count; ++i) {
    const auto v = static_cast<uint8_t>(i * 7);
    colors.push_back({v, static_cast<uint8_t>(255 - v), static_cast<uint8_t>(i)});
  }
  return colors;
}

std::vector<Rgb> AsRgb(const std::vector<Color>& colors) {
  std::vector<Rgb> out;
  for (const Color& c : colors) out.push_back(Rgb{c.r, c.g, c.b});
  return out;
}

// The first entries of a palette in force: a shorter table set over a longer
// one replaces only the entries it has.
std::vector<Rgb> Head(const std::vector<Rgb>& palette, size_t count) {
  return std::vector<Rgb>(palette.begin(), palette.begin() + std::min(count, palette.size()));
}

// An image whose pixel (x, y) is (x + 2y) mod `colors`.
Image Patterned(uint16_t left, uint16_t top, uint16_t width, uint16_t height, int colors,
                const std::vector<Color>& local = {}, bool interlaced = false) {
  Image image;
  image.left = left;
  image.top = top;
  image.width = width;
  image.height = height;
  image.localColors = local;
  image.interlaced = interlaced;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) image.pixels.push_back(static_cast<uint8_t>((x + 2 * y) % colors));
  return image;
}

// The first mismatching pixel of a bitmap against the pattern, or "".
std::string PatternMismatch(const standin::Bitmap& bitmap, int colors) {
  for (int y = 0; y < bitmap.height; ++y)
    for (int x = 0; x < bitmap.width; ++x)
      if (bitmap.PixelIndex(x, y) != (x + 2 * y) % colors)
        return "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
               std::to_string(bitmap.PixelIndex(x, y));
  return "";
}

// Everything a host would see of a picture, as text, for whole comparisons.
std::string Describe(const Picture& p) {
  std::string out = "frame " + std::to_string(p.frame[2]) + "x" + std::to_string(p.frame[3]);
  auto rgb = [](const Rgb& c) {
    return "(" + std::to_string(c.red) + "," + std::to_string(c.green) + "," +
           std::to_string(c.blue) + ")";
  };
  out += " bg " + (p.hasBackground ? rgb(p.background) : std::string("none"));
  for (const standin::Bitmap& b : p.bitmaps) {
    out += " | bitmap " + std::to_string(b.left) + "," + std::to_string(b.top) + " " +
           std::to_string(b.width) + "x" + std::to_string(b.height) + " d" +
           std::to_string(b.depth) + (b.transparent ? " t" : " o") +
           std::to_string(b.backColorIndex) + (b.ended ? " ended" : " open") + " palette";
    for (const Rgb& c : b.palette) out += rgb(c);
    out += " pixels ";
    for (int y = 0; y < b.height; ++y)
      for (int x = 0; x < b.width; ++x) out += std::to_string(b.PixelIndex(x, y)) + ".";
  }
  for (const standin::TextLine& t : p.texts)
    out += " | text " + std::to_string(t.x) + "," + std::to_string(t.y) + " '" + t.text + "'";
  out += p.finished ? " finished" : " unfinished";
  out += p.closed ? " closed" : " open";
  return out;
}

// Log entries with the reads, seeks and error queries left out.
std::vector<std::string> PictureOps(const ImportRun& run) {
  static const std::set<std::string> kSkipped = {"QvStreamRead", "QvStreamReadChars",
                                                 "QvStreamReadShorts", "QvStreamReadFormat",
                                                 "QvStreamSeek", "QvGetError"};
  std::vector<std::string> ops;
  for (const std::string& op : run.Ops())
    if (!kSkipped.count(op)) ops.push_back(op);
  return ops;
}

std::vector<std::string> EntriesOf(const ImportRun& run, const std::string& op) {
  std::vector<std::string> out;
  for (const std::string& entry : run.log)
    if (e2e::LogField(entry, "op") == "\"" + op + "\"") out.push_back(entry);
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
  EXPECT_EQ(run.live, "");

  const std::vector<std::string> expected = {
      "QvStreamOpen", "QvDocCreate", "QvDocSetNames", "QvDocOpen", "QvDocStart", "QvSetFontTable",
      "QvPictureBegin", "QvSetFrame", "QvSetScale", "QvSetWindow", "QvPictureHeaderEnd",
      "QvSetPalette", "QvSetBackgroundColor",                                   // global
      "QvSetBackMode", "QvSetBackColorIndex",                                   // control
      "QvSetPalette", "QvBitmapBegin", "QvBitmapBand", "QvBitmapEnd", "QvSetPalette",  // image 1
      "QvBitmapBegin", "QvBitmapBand", "QvBitmapEnd",                           // image 2
      "QvPictureEnd", "QvDocFinish", "QvDocClose", "QvDocDestroy", "QvStreamClose"};
  EXPECT_EQ(PictureOps(run), expected);

  // The header is read and the input measured before the document exists,
  // the position put back behind the 13 header bytes.
  const std::vector<std::string> ops = run.Ops();
  ASSERT_GE(ops.size(), 6u);
  EXPECT_EQ(e2e::LogField(run.log[1], "format"), "\"6c2s3c\"");
  for (int i = 2; i <= 4; ++i) EXPECT_EQ(ops[i], "QvStreamSeek") << run.log[i];
  EXPECT_EQ(e2e::LogField(run.log[4], "offset"), "13");
  EXPECT_EQ(ops[5], "QvDocCreate");
  // The last status check comes after the trailer, before the picture ends.
  size_t pictureEnd = 0;
  while (ops[pictureEnd] != "QvPictureEnd") ++pictureEnd;
  EXPECT_EQ(ops[pictureEnd - 1], "QvGetError");
  EXPECT_EQ(ops[pictureEnd - 2], "QvStreamRead");

  // Arguments that hosts rely on.
  ASSERT_TRUE(run.picture);
  const Picture& p = *run.picture;
  EXPECT_EQ(p.pictureName, "PICTURE 1");
  EXPECT_EQ(p.fontTable, std::vector<std::string>{"SWISS:HELVETICA"});
  EXPECT_EQ(std::vector<int16_t>(p.frame, p.frame + 4), (std::vector<int16_t>{0, 0, 8, 6}));
  EXPECT_EQ(std::vector<int16_t>(p.window, p.window + 4), (std::vector<int16_t>{0, 0, 8, 6}));
  uint64_t scaleBits = 0;
  std::memcpy(&scaleBits, &p.scale, sizeof scaleBits);
  EXPECT_EQ(scaleBits, 0x3FD0EEEEEEEEEEEEull);
  EXPECT_EQ(p.scaleMode, 1);
  const std::vector<std::string> palettes = EntriesOf(run, "QvSetPalette");
  ASSERT_EQ(palettes.size(), 3u);
  EXPECT_EQ(e2e::LogField(palettes[0], "count"), "4");
  EXPECT_EQ(e2e::LogField(palettes[1], "count"), "2");
  EXPECT_EQ(palettes[2], palettes[0]);
  const std::vector<std::string> begins = EntriesOf(run, "QvBitmapBegin");
  ASSERT_EQ(begins.size(), 2u);
  EXPECT_EQ(e2e::LogField(begins[0], "negDepth"), "-1");
  EXPECT_EQ(e2e::LogField(begins[1], "negDepth"), "-4");
  for (const std::string& begin : begins) {
    EXPECT_EQ(e2e::LogField(begin, "reserved"), "[0,1,3]");
    EXPECT_EQ(e2e::LogField(begin, "transparent"), "1");
  }

  // The host hears the range first and 100 last, and nothing went wrong.
  ASSERT_FALSE(run.calls.empty());
  EXPECT_EQ(run.calls.front().kind, kStatusProgress);
  EXPECT_EQ(run.calls.front().code, -1);
  EXPECT_EQ(run.calls.front().value2, 100);
  EXPECT_EQ(run.calls.back().code, 0);
  EXPECT_EQ(run.calls.back().value1, 100);
  EXPECT_TRUE(run.Errors().empty());
}

// ---- The kinds of GIF a host meets -----------------------------------------

struct FileCase {
  const char* name;
  std::function<void(GifBuilder&)> build;
  std::vector<Color> global;
  std::function<void(const Picture&)> check;
};

TEST_F(ImportTest, EveryKindOfBlockReachesThePicture) {
  const std::vector<FileCase> cases = {
      {"local palette of 2: depth 1, global palette again after it",
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 3, 2, kLocal2)); },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_EQ(p.bitmaps[0].depth, 1);
         EXPECT_EQ(Head(p.bitmaps[0].palette, 2), AsRgb(kLocal2));
         EXPECT_EQ(PatternMismatch(p.bitmaps[0], 2), "");
         EXPECT_EQ(p.palette, AsRgb(kGlobal4));
       }},
      {"local palette of 8: depth 4",
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 3, 8, Ramp(8))); },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_EQ(p.bitmaps[0].depth, 4);
         EXPECT_EQ(PatternMismatch(p.bitmaps[0], 8), "");
       }},
      {"global size field 4 (32 colours): depth 8",
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 3, 32)); },
       Ramp(32),
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_EQ(p.bitmaps[0].depth, 8);
         EXPECT_EQ(PatternMismatch(p.bitmaps[0], 32), "");
       }},
      {"no global table, header size field 7: depth 8",
       [](GifBuilder& g) { g.SetHeaderSizeField(7).AddImage(Patterned(0, 0, 5, 3, 4)); },
       {},
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_EQ(p.bitmaps[0].depth, 8);
         EXPECT_FALSE(p.hasBackground);
       }},
      {"interlaced",
       [](GifBuilder& g) { g.AddImage(Patterned(0, 0, 5, 9, 4, {}, true)); },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_EQ(PatternMismatch(p.bitmaps[0], 4), "");
       }},
      {"transparency holds until a control block clears it",
       [](GifBuilder& g) {
         g.GraphicControl(true, 2)
             .AddImage(Patterned(0, 0, 2, 2, 4))
             .AddImage(Patterned(2, 0, 2, 2, 4))
             .GraphicControl(false, 0)
             .AddImage(Patterned(4, 0, 2, 2, 4));
       },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 3u);
         EXPECT_TRUE(p.bitmaps[0].transparent);
         EXPECT_EQ(p.bitmaps[0].backColorIndex, 2);
         EXPECT_TRUE(p.bitmaps[1].transparent);
         EXPECT_EQ(p.bitmaps[1].backColorIndex, 2);
         EXPECT_FALSE(p.bitmaps[2].transparent);
       }},
      {"a control block of size 5 is skipped whole",
       [](GifBuilder& g) {
         g.GraphicControl(true, 2)
             .Raw({0x21, 0xF9, 0x05, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00})
             .AddImage(Patterned(0, 0, 2, 2, 4));
       },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_TRUE(p.bitmaps[0].transparent);
         EXPECT_EQ(p.bitmaps[0].backColorIndex, 2);
       }},
      {"several images at their places",
       [](GifBuilder& g) {
         g.AddImage(Patterned(0, 0, 3, 2, 4))
             .AddImage(Patterned(4, 1, 2, 3, 4, kLocal2))
             .AddImage(Patterned(1, 4, 5, 1, 4));
       },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 3u);
         const int16_t expected[3][4] = {{0, 6, 3, 4}, {4, 5, 6, 2}, {1, 2, 6, 1}};
         for (int i = 0; i < 3; ++i) {
           const standin::Bitmap& b = p.bitmaps[i];
           EXPECT_EQ(std::vector<int16_t>({b.left, b.top, b.right, b.bottom}),
                     std::vector<int16_t>(expected[i], expected[i] + 4))
               << "image " << i;
           EXPECT_TRUE(b.ended);
         }
         EXPECT_EQ(p.bitmaps[2].palette, AsRgb(kGlobal4));
       }},
      {"plain text",
       [](GifBuilder& g) { g.PlainText(1, 1, 5, 4, 1, 2, 1, 0, {"Hi there"}); },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_FALSE(p.texts.empty());
         std::string all;
         for (const standin::TextLine& t : p.texts) all += t.text;
         EXPECT_EQ(all, "Hi there");
         EXPECT_EQ(p.texts[0].colorIndex, 1);
         EXPECT_EQ(p.texts[0].color, (Rgb{255, 255, 255}));
       }},
      {"comment and application blocks are skipped; junk between blocks too",
       [](GifBuilder& g) {
         g.Comment(std::string(300, 'c'))
             .Raw({0x00, 0x42, 0x99})
             .Application("NETSCAPE2.0", {1, 0, 0})
             .AddImage(Patterned(0, 0, 3, 2, 4))
             .Raw({0x07});
       },
       kGlobal4,
       [](const Picture& p) {
         ASSERT_EQ(p.bitmaps.size(), 1u);
         EXPECT_EQ(PatternMismatch(p.bitmaps[0], 4), "");
         EXPECT_TRUE(p.texts.empty());
       }},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.name);
    GifBuilder gif(6, 6, c.global);
    c.build(gif);
    gif.Trailer();
    const ImportRun run = Import(gif.bytes());
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.Errors().empty());
    EXPECT_EQ(run.live, "");
    ASSERT_TRUE(run.picture);
    EXPECT_TRUE(run.picture->finished);
    c.check(*run.picture);
  }
}

TEST_F(ImportTest, InterlacedImagesOfEveryPassLayout) {
  for (uint16_t height = 1; height <= 9; ++height) {
    SCOPED_TRACE("height " + std::to_string(height));
    GifBuilder gif(3, height, kGlobal4);
    gif.AddImage(Patterned(0, 0, 3, height, 4, {}, true)).Trailer();
    const ImportRun run = Import(gif.bytes());
    ASSERT_EQ(run.result, 0);
    ASSERT_TRUE(run.picture);
    ASSERT_EQ(run.picture->bitmaps.size(), 1u);
    EXPECT_EQ(PatternMismatch(run.picture->bitmaps[0], 4), "");
  }
}

TEST_F(ImportTest, BackgroundComesFromTheGlobalTableAndIsBlackPastItsEnd) {
  const struct {
    uint8_t index;
    Rgb expected;
  } cases[] = {{2, Rgb{14, 241, 2}}, {15, Rgb{105, 150, 15}}, {200, Rgb{0, 0, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.index));
    GifBuilder gif(4, 4, Ramp(16), "89a", c.index);
    gif.Trailer();
    const ImportRun run = Import(gif.bytes());
    ASSERT_EQ(run.result, 0);
    ASSERT_TRUE(run.picture && run.picture->hasBackground);
    EXPECT_EQ(run.picture->background, c.expected);
  }
}

TEST_F(ImportTest, CornersOfAnImageInPictureSpace) {
  GifBuilder gif(40, 100, kGlobal4);
  gif.AddImage(Patterned(5, 7, 10, 20, 4)).Trailer();
  const ImportRun run = Import(gif.bytes());
  ASSERT_EQ(run.result, 0);
  const std::vector<std::string> begins = EntriesOf(run, "QvBitmapBegin");
  ASSERT_EQ(begins.size(), 1u);
  EXPECT_EQ(e2e::LogField(begins[0], "corners"), "[[5,93],[15,73],[15,93]]");
  EXPECT_EQ(e2e::LogField(begins[0], "size"), "[10,20]");
  // The decoder was given the top 93: the bands sit where the bitmap does.
  ASSERT_TRUE(run.picture);
  const standin::Bitmap& b = run.picture->bitmaps.at(0);
  EXPECT_EQ(b.bands.front().top, 93);
  EXPECT_EQ(b.bands.front().left, 5);
  EXPECT_EQ(PatternMismatch(b, 4), "");
}

// ---- Input that is not right -----------------------------------------------

TEST_F(ImportTest, BadInputGetsItsNumberAndLeavesNothingLive) {
  auto withImage = [](GifBuilder g) {
    return g.AddImage(Patterned(0, 0, 2, 2, 4)).Trailer().bytes();
  };
  Bytes badSignature = withImage(GifBuilder(4, 4, kGlobal4));
  badSignature[2] = 'X';
  const struct {
    const char* name;
    Bytes gif;
    int32_t result;
  } cases[] = {
      {"extension label 0x2C",
       GifBuilder(4, 4, kGlobal4).Raw({0x21, 0x2C, 0x00}).Trailer().bytes(), 21},
      {"unknown extension label", GifBuilder(4, 4, kGlobal4).Raw({0x21, 0x02, 0x00}).bytes(), 21},
      {"not a GIF", badSignature, -23},
      {"version above 89", withImage(GifBuilder(4, 4, kGlobal4, "90a")), -24},
      {"empty input", {}, 21},
      {"trailer missing after a complete image", GifBuilder(4, 4, kGlobal4)
                                                     .AddImage(Patterned(0, 0, 4, 4, 4))
                                                     .bytes(),
       0},
  };
  for (const auto& c : cases) {
    for (Road road : {Road::kFile, Road::kMemory, Road::kStream}) {
      SCOPED_TRACE(std::string(c.name) + " by " + e2e::RoadName(road));
      ImportOptions options;
      options.road = road;
      const ImportRun run = Import(c.gif, options);
      EXPECT_EQ(run.result, c.result);
      EXPECT_EQ(run.Errors(), c.result ? std::vector<int32_t>{c.result} : std::vector<int32_t>{});
      EXPECT_EQ(run.live, "");
    }
  }
}

TEST_F(ImportTest, TruncationAtEveryOffset) {
  GifBuilder gif(6, 5, kGlobal4);
  gif.GraphicControl(true, 3)
      .Comment("hi")
      .PlainText(0, 0, 6, 4, 1, 2, 1, 0, {"ab cd"})
      .AddImage(Patterned(1, 1, 4, 3, 2, kLocal2))
      .AddImage(Patterned(0, 0, 6, 5, 4, {}, true))
      .Trailer();
  const Bytes& whole = gif.bytes();
  // Cuts where a block begins, behind the header and the global table, end
  // the picture like the trailer; every other cut is a short read.
  std::set<size_t> complete(gif.blockOffsets().begin() + 2, gif.blockOffsets().end());
  complete.insert(whole.size());
  for (size_t cut = 0; cut <= whole.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    const ImportRun run = Import(Bytes(whole.begin(), whole.begin() + cut));
    const int32_t expected = complete.count(cut) ? 0 : 21;
    EXPECT_EQ(run.result, expected);
    EXPECT_EQ(run.Errors(), expected ? std::vector<int32_t>{21} : std::vector<int32_t>{});
    EXPECT_EQ(run.live, "");
  }
}

TEST_F(ImportTest, HostMemoryThatCannotBeLockedIsAnInputThatCannotBeOpened) {
  ImportOptions options;
  options.road = Road::kMemory;
  options.unlockableMemory = true;
  const ImportRun run = Import(GifBuilder(4, 4, kGlobal4).Trailer().bytes(), options);
  EXPECT_EQ(run.result, 7);
  EXPECT_EQ(run.Errors(), std::vector<int32_t>{7});
  EXPECT_TRUE(run.log.empty()) << run.log.front();
  EXPECT_EQ(run.live, "");
}

// ---- Setup, profile colours, host records ----------------------------------

TEST_F(ImportTest, ProfileColoursReplaceOnlyTheGlobalTablesFirstEntries) {
  const std::vector<Color> profile = Ramp(10);
  const struct {
    int32_t overrideCount;
    size_t replaced;
  } cases[] = {{10, 4}, {2, 2}, {0, 0}, {-3, 0}, {300, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE("override " + std::to_string(c.overrideCount));
    GifBuilder gif(6, 4, kGlobal4);
    gif.AddImage(Patterned(0, 0, 2, 2, 2, kLocal2)).AddImage(Patterned(2, 0, 2, 2, 4)).Trailer();
    ImportOptions options;
    options.adjustSetup = [&](FilterSetup* setup) {
      setup->overrideColorCount = c.overrideCount;
      setup->colorCount = static_cast<int32_t>(profile.size());
      for (size_t i = 0; i < profile.size(); ++i)
        setup->colors[i] = RgbTriple{profile[i].r, profile[i].g, profile[i].b};
    };
    const ImportRun run = Import(gif.bytes(), options);
    ASSERT_EQ(run.result, 0);
    std::vector<Rgb> expected = AsRgb(kGlobal4);
    for (size_t i = 0; i < c.replaced; ++i) expected[i] = AsRgb(profile)[i];
    ASSERT_TRUE(run.picture);
    const Picture& p = *run.picture;
    ASSERT_EQ(p.bitmaps.size(), 2u);
    EXPECT_EQ(Head(p.bitmaps[0].palette, 2), AsRgb(kLocal2));  // a local table keeps its colours
    EXPECT_EQ(p.bitmaps[1].palette, expected);        // the global one is restored with them
    EXPECT_EQ(p.background, expected[0]);
  }
}

TEST_F(ImportTest, SetupThatCannotBeLockedIsRefusedUntouched) {
  const Bytes gif = GifBuilder(4, 4, kGlobal4).Trailer().bytes();
  const std::string path = e2e::WriteScratchFile("refused.gif", gif);
  HGLOBAL discarded = GlobalAlloc(GMEM_MOVEABLE, 0);  // a live handle that locks to null
  HGLOBAL small = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 64);
  HGLOBAL options = QvOptionsCreate(0, 0, 0, 0);
  HGLOBAL freed = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, kSetupBlockBytes);
  GlobalFree(freed);
  for (HGLOBAL handle : {HGLOBAL{nullptr}, discarded, small, options, freed}) {
    testhost::RecordingHost host;
    HostContext context = {};
    host.Attach(&context);
    ImportRequest request = {};
    request.setupHandle = handle;
    request.hostContext = &context;
    StandInClearLog();
    EXPECT_NE(ImportFile(0, "", "", path.c_str(), &request), 0);
    EXPECT_TRUE(host.calls().empty());
    EXPECT_EQ(StandInLogSize(), 0);
  }
  GlobalFree(discarded);
  GlobalFree(small);
  GlobalFree(options);
}

TEST_F(ImportTest, StringsThatDoNotFitAreRefusedWithoutOverflow) {
  const Bytes gif = GifBuilder(4, 4, kGlobal4).AddImage(Patterned(0, 0, 4, 4, 4)).Trailer().bytes();
  const std::string path = e2e::WriteScratchFile("names.gif", gif);
  const std::string fits(259, 'n');
  const std::string tooLong(260, 'n');
  // A path of 259 characters fits its field but names no file.
  std::string longPath = "/" + std::string(258, 'p');
  struct Case {
    const char* name;
    std::string open, start, input, docName;
    bool imported;
  };
  const Case cases[] = {
      {"all fit", fits, fits, path, fits, true},
      {"open name too long", tooLong, "", path, "", false},
      {"start name too long", "", tooLong, path, "", false},
      {"document name too long", "", "", path, tooLong, false},
      {"input path too long", "", "", "/" + tooLong, "", false},
      {"input path of 259 characters", "", "", longPath, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HGLOBAL setup = e2e::NewSetup();
    ASSERT_NE(setup, nullptr);
    testhost::RecordingHost host;
    HostContext context = {};
    host.Attach(&context);
    ImportRequest request = {};
    request.setupHandle = setup;
    request.hostContext = &context;
    request.docNames[1] = c.docName.c_str();
    StandInForgetPictures();
    const int32_t result = ImportFile(0, c.open.c_str(), c.start.c_str(), c.input.c_str(), &request);
    EXPECT_EQ(result == 0, c.imported) << result;
    if (c.imported) {
      ASSERT_NE(StandInLastPicture(), nullptr);
      EXPECT_EQ(StandInLastPicture()->openName, c.open);
      EXPECT_EQ(StandInLastPicture()->startName, c.start);
      EXPECT_EQ(StandInLastPicture()->names[1], c.docName);
    } else {
      EXPECT_EQ(host.Codes(kStatusError), std::vector<int32_t>{result});
    }
    EXPECT_EQ(DestroySetup(setup), 0);
  }
}

TEST_F(ImportTest, WithoutACallbackTheImportRunsTheSameAndSaysNothing) {
  const Bytes good = GifBuilder(5, 5, kGlobal4).AddImage(Patterned(0, 0, 5, 5, 4)).Trailer().bytes();
  const Bytes bad = GifBuilder(5, 5, kGlobal4).Raw({0x21, 0x2C}).bytes();
  for (const Bytes* gif : {&good, &bad}) {
    const ImportRun heard = Import(*gif);
    for (bool withContext : {true, false}) {
      SCOPED_TRACE(withContext ? "no callback" : "no host context");
      ImportOptions silent;
      silent.callback = false;
      silent.context = withContext;
      const ImportRun unheard = Import(*gif, silent);
      EXPECT_EQ(unheard.result, heard.result);
      EXPECT_TRUE(unheard.calls.empty());
      EXPECT_EQ(unheard.Ops(), heard.Ops());
      EXPECT_EQ(unheard.live, "");
    }
  }
}

// ---- Cancellation ------------------------------------------------------------

TEST_F(ImportTest, CancellationThroughTheStatusCallback) {
  GifBuilder gif(8, 8, kGlobal4);
  gif.AddImage(Patterned(0, 0, 8, 8, 4)).Trailer();
  const ImportRun reference = Import(gif.bytes());
  ASSERT_EQ(reference.result, 0);
  const int progressCalls = static_cast<int>(reference.OfKind(kStatusProgress).size()) - 1;
  ASSERT_GE(progressCalls, 2);

  const struct {
    const char* name;
    int at;
    int32_t followUp;
    int32_t result;
  } cases[] = {
      {"stop confirmed at the final progress call", progressCalls, 1, 61},
      {"stop withdrawn at the final progress call", progressCalls, 0, 0},
      {"stop confirmed while decoding", 1, 1, 61},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ImportOptions options;
    options.cancelAtProgress = c.at;
    options.followUpAnswer = c.followUp;
    const ImportRun run = Import(gif.bytes(), options);
    EXPECT_EQ(run.result, c.result);
    EXPECT_TRUE(run.Errors().empty());
    const auto followUps = run.OfKind(kStatusCancelFollowUp);
    ASSERT_EQ(followUps.size(), 1u);
    EXPECT_EQ(followUps[0].code, 61);
    EXPECT_TRUE(followUps[0].hasExtra);
    EXPECT_EQ(followUps[0].extra, (std::array<int32_t, 10>{}));
    EXPECT_EQ(run.live, "");
    // A stop during decoding leaves the bitmap unended; the document is
    // still finished and closed.
    ASSERT_TRUE(run.picture);
    EXPECT_EQ(run.picture->bitmaps.at(0).ended, c.at == progressCalls);
    EXPECT_TRUE(run.picture->closed);
  }
}

// ---- The three input roads ---------------------------------------------------

TEST_F(ImportTest, FileMemoryAndStreamGiveTheSameCalls) {
  GifBuilder gif(9, 7, kGlobal4);
  gif.GraphicControl(true, 0)
      .AddImage(Patterned(0, 0, 9, 7, 4, {}, true))
      .PlainText(0, 0, 9, 6, 1, 2, 1, 0, {"one two three"})
      .AddImage(Patterned(2, 2, 3, 3, 2, kLocal2))
      .Trailer();
  auto withoutOpen = [](const ImportRun& run) {
    std::vector<std::string> log;
    for (const std::string& entry : run.log)
      if (e2e::LogField(entry, "op") != "\"QvStreamOpen\"") log.push_back(entry);
    return log;
  };
  const ImportRun file = Import(gif.bytes());
  ASSERT_EQ(file.result, 0);
  const struct {
    Road road;
    bool alsoPath;
    const char* kind;  // what the library was asked to open
  } cases[] = {{Road::kFile, false, "\"file\""},
               {Road::kMemory, false, "\"memory\""},
               {Road::kMemory, true, "\"file\""},  // a path wins over a memory block
               {Road::kStream, false, "\"host\""},
               {Road::kStream, true, "\"host\""}};  // a stream wins over a path
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(e2e::RoadName(c.road)) + (c.alsoPath ? " with a path" : ""));
    ImportOptions options;
    options.road = c.road;
    options.alsoPath = c.alsoPath;
    const ImportRun run = Import(gif.bytes(), options);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(withoutOpen(run), withoutOpen(file));
    EXPECT_EQ(run.calls.size(), file.calls.size());
    ASSERT_FALSE(run.log.empty());
    EXPECT_EQ(e2e::LogField(run.log[0], "kind"), c.kind) << run.log[0];
    EXPECT_EQ(run.live, "");
  }
}

// ---- The rendered picture ----------------------------------------------------

TEST_F(ImportTest, RenderedPictureMatchesPixelByPixel) {
  // Screen 4 x 3 on a blue background (index 3). Image 1: 2 x 2 at (1, 0)
  // with a local palette, transparent index 0. Image 2: 4 x 1 at (0, 2) in
  // the global palette, opaque again.
  GifBuilder gif(4, 3, kGlobal4, "89a", 3);
  Image first;
  first.left = 1;
  first.width = 2;
  first.height = 2;
  first.localColors = {{9, 9, 9}, {0, 200, 0}};
  first.pixels = {1, 0, 0, 1};
  Image second;
  second.top = 2;
  second.width = 4;
  second.height = 1;
  second.pixels = {0, 1, 2, 3};
  gif.GraphicControl(true, 0).AddImage(first).GraphicControl(false, 0).AddImage(second).Trailer();
  const ImportRun run = Import(gif.bytes());
  ASSERT_EQ(run.result, 0);
  ASSERT_TRUE(run.picture);

  std::vector<uint8_t> rgba;
  int width = 0, height = 0;
  ASSERT_EQ(StandInRenderRgba(*run.picture, &rgba, &width, &height), 0);
  ASSERT_EQ(width, 4);
  ASSERT_EQ(height, 3);
  const Rgb B{0, 0, 255}, G{0, 200, 0}, K{0, 0, 0}, W{255, 255, 255}, R{255, 0, 0};
  const Rgb expected[3][4] = {{B, G, B, B}, {B, B, G, B}, {K, W, R, B}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      const uint8_t* px = &rgba[(static_cast<size_t>(y) * 4 + x) * 4];
      EXPECT_EQ((Rgb{px[0], px[1], px[2]}), expected[y][x]) << "pixel " << x << ", " << y;
      EXPECT_EQ(px[3], 255);
    }
}

// ---- Memory that runs out ----------------------------------------------------

TEST_F(ImportTest, EveryAllocationFailingInTurn) {
  GifBuilder gif(12, 10, kGlobal4);
  gif.GraphicControl(true, 1)
      .PlainText(0, 0, 12, 6, 1, 2, 1, 0, {"text here"})
      .AddImage(Patterned(0, 0, 12, 10, 4, {}, true))
      .AddImage(Patterned(3, 3, 4, 4, 2, kLocal2))
      .Trailer();
  long allocations = 0;
  ImportOptions counting;
  counting.beforeImport = [&] { allocations = PlatformAllocationCount(); };
  const ImportRun reference = Import(gif.bytes(), counting);
  ASSERT_EQ(reference.result, 0);
  ASSERT_TRUE(reference.picture);
  allocations = PlatformAllocationCount() - allocations;
  ASSERT_GT(allocations, 5);

  for (long n = 1; n <= allocations; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(allocations));
    ImportOptions options;
    options.beforeImport = [n] { PlatformFailAllocationAt(n); };
    const ImportRun run = Import(gif.bytes(), options);
    EXPECT_EQ(run.live, "");
    if (run.result == 0) {
      ASSERT_TRUE(run.picture);
      EXPECT_EQ(Describe(*run.picture), Describe(*reference.picture));
    } else {
      EXPECT_EQ(run.result, 27);
      EXPECT_EQ(run.Errors(), std::vector<int32_t>{27});
    }
  }
}

}  // namespace
