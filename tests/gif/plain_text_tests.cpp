// Plain-text extensions of whole imports, drawn as lines: breaks, positions,
// attributes, and extensions that are abandoned or cut short.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/status.h"
#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

using Texts = std::vector<std::string>;

// On a screen 100 high, the extension (grid left ';' = 0x3B, top 10, width
// 200, cells 8 wide, foreground 3, background 9), an image and the trailer.
// A grid left of ';' ends the import if the block loop ever reads the first
// block's bytes as introducers. The first block's size byte is at 15.
gifwrite::GifBuilder TextGif(uint16_t gridHeight, uint8_t cellHeight, const Texts& texts) {
  gifwrite::Image image;
  image.width = image.height = 1;
  image.pixels = {0};
  gifwrite::GifBuilder gif(320, 100);
  gif.PlainText(0x3B, 10, 200, gridHeight, 8, cellHeight, 3, 9, texts).AddImage(image).Trailer();
  return gif;
}

// The lines drawn, each with " @y" behind it when asked.
Texts Lines(const e2e::ImportRun& run, bool withY = false) {
  Texts lines;
  for (const standin::TextLine& t : run.picture.value().texts)
    lines.push_back(withY ? t.text + " @" + std::to_string(t.y) : t.text);
  return lines;
}

TEST(PlainTextTest, LinesBreakAfterAWordAndGoDownACellEach) {
  // y starts at 100 - 10 - 1 and goes down a cell before each line, also from
  // one sub-block to the next. N lines a sub-block; the text height is two
  // thirds of the cell, truncated.
  const std::string words = "wxyz abcd efgh ijkl";  // 19 bytes
  const struct {
    uint16_t gridHeight;
    uint8_t cellHeight;
    int textHeight;
    Texts texts, lines;
  } cases[] = {
      // N = 36 / 12 - 1 = 2: L = 9 falls on the second space.
      {36, 12, 7, {words}, {"wxyz abcd  @77", "efgh ijkl @65"}},
      // N = 4, L = 4; the second line is proposed as long as the first.
      {60, 12, 7, {words}, {"wxyz  @77", "abcd efgh  @65", "ijkl @53"}},
      {12, 12, 7, {words}, {words + " @77"}},  // one row of cells is one line
      {5, 12, 7, {words}, {words + " @77"}},   // so is a grid lower than a cell
      // Bytes outside 0x20..0x7F are drawn as "2", which starts a word.
      {60,
       12,
       7,
       {"wx \x0A"
        "b cd"},
       {"wx  @77", "2b cd @65"}},
      {36, 12, 7, {"ab \xE9\x7F"}, {"ab  @77", "2\x7F @65"}},
      {60, 12, 7, {"abcdefghijklmnop"}, {"abcdefghijklmnop @77"}},
      // No letter or digit ever ends the scan past the proposed length.
      {36, 12, 7, {"      "}, {"       @77"}},
      // N = 3; the second sub-block starts again from its own size / N = 2.
      {48, 12, 7, {"aaa bbb ccc", "ddd eee"}, {"aaa  @77", "bbb ccc @65", "ddd  @53", "eee @41"}},
      // No rows to count: every line stays on the first.
      {48, 0, 0, {"one two", "three"}, {"one two @89", "three @89"}},
      {48, 16, 10, {"hi"}, {"hi @73"}},
      {48, 3, 1, {"hi"}, {"hi @86"}},
      {48, 255, 169, {"hi"}, {"hi @-166"}},
      {48, 1, 0, {"hi"}, {"hi @88"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    const e2e::ImportRun run = e2e::Import(TextGif(c.gridHeight, c.cellHeight, c.texts).bytes());
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.live, "");
    EXPECT_EQ(Lines(run, true), c.lines);
    for (const standin::TextLine& t : run.picture.value().texts) {
      EXPECT_EQ(
          std::vector<int>({t.x, t.extentX, t.extentY, t.height, t.colorIndex, t.backColorIndex}),
          std::vector<int>({0x3B, 200, c.gridHeight, c.textHeight, 3, 9}));
    }
  }
}

TEST(PlainTextTest, EveryByteIsDrawnOnceWhateverTheLineCount) {
  std::mt19937 random(5);
  const char alphabet[] = "ab c1 \x01\xF0  Zz";
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::string text(1 + random() % 255, ' ');
    for (char& ch : text) ch = alphabet[random() % (sizeof alphabet - 1)];
    const auto cellHeight = static_cast<uint8_t>(1 + random() % 20);
    const e2e::ImportRun run =
        e2e::Import(TextGif(static_cast<uint16_t>(random() % 400), cellHeight, {text}).bytes());
    ASSERT_EQ(run.result, 0);
    std::string joined;
    for (const std::string& line : Lines(run)) {
      EXPECT_FALSE(line.empty());
      joined += line;
    }
    for (char& ch : text) {
      if (static_cast<uint8_t>(ch) < 0x20 || static_cast<uint8_t>(ch) > 0x7F) ch = '2';
    }
    EXPECT_EQ(joined, text);
  }
}

TEST(PlainTextTest, AbandonedOrCutShort) {
  // Another first block size abandons the extension: the block loop reads on
  // from the grid left, a ';': no text, no attributes, no image.
  for (uint8_t size : {0, 11, 13}) {
    gifwrite::Bytes gif = TextGif(48, 12, {"text"}).bytes();
    gif[15] = size;
    const e2e::ImportRun run = e2e::Import(gif);
    EXPECT_EQ(run.result, 0);
    EXPECT_TRUE(run.picture.value().texts.empty());
    EXPECT_TRUE(run.picture.value().bitmaps.empty());
    const Texts ops = run.Ops();
    EXPECT_EQ(std::count(ops.begin(), ops.end(), "QvSetTextHeight"), 0);
  }
  // Cut short: 21, once, and what was drawn stays.
  const gifwrite::GifBuilder gif = TextGif(48, 12, {"first block", "second"});
  const size_t start = gif.blockOffsets()[1], end = gif.blockOffsets()[2];
  const size_t firstDrawn = start + 3 + 12 + 1 + 11;  // "!", label, sizes, record, text
  for (size_t keep = start + 1; keep < end; ++keep) {
    SCOPED_TRACE(keep);
    const e2e::ImportRun run =
        e2e::Import(gifwrite::Bytes(gif.bytes().begin(), gif.bytes().begin() + keep));
    EXPECT_EQ(run.result, kErrRead);
    EXPECT_EQ(run.Errors(), std::vector<int32_t>{kErrRead});
    EXPECT_EQ(run.live, "");
    Texts drawn;
    if (keep >= firstDrawn) drawn = {"first ", "block"};
    if (keep == end - 1) drawn.push_back("second");  // only the terminator is missing
    EXPECT_EQ(Lines(run), drawn);
  }
}

}  // namespace
