// Plain-text extensions drawn as lines: breaks, positions, attributes and
// the ways an extension can be cut short.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/plain_text.h"
#include "platform/platform_test.h"
#include "tests/support/recording_host.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Grid {
  uint16_t left = 4, top = 10, width = 200, height = 48;
  uint8_t cellWidth = 8, cellHeight = 12;
  uint8_t foreground = 3, background = 9;
};

// The extension after its label: the 12-byte first block, the text
// sub-blocks and the terminator.
Bytes Extension(const Grid& g, const std::vector<std::string>& texts, uint8_t firstSize = 12) {
  Bytes b = {firstSize};
  for (uint16_t v : {g.left, g.top, g.width, g.height}) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
  for (uint8_t v : {g.cellWidth, g.cellHeight, g.foreground, g.background}) b.push_back(v);
  for (const std::string& text : texts) {
    b.push_back(static_cast<uint8_t>(text.size()));
    b.insert(b.end(), text.begin(), text.end());
  }
  b.push_back(0);
  return b;
}

struct Line {
  std::string text;
  int x, y;
  bool operator==(const Line& o) const { return text == o.text && x == o.x && y == o.y; }
};

std::ostream& operator<<(std::ostream& os, const Line& line) {
  return os << "\"" << line.text << "\" at (" << line.x << ", " << line.y << ")";
}

struct Rendered {
  FilterError result = -1;
  std::vector<Line> lines;
  std::vector<std::pair<int, int>> extents;
  int textHeight = -1, foreground = -1, background = -1;
  bool attributesSet = false;
  int32_t streamPosition = -1;
  std::vector<int32_t> errors;
  std::string live;
};

Rendered Render(const Bytes& bytes, uint16_t screenHeight = 100, long failAllocation = 0) {
  testhost::RecordingHost host;
  Rendered out;
  {
    testhost::ScopedJob job;
    host.Attach(job.context());
    job->picture = QvDocCreate(0);
    const uint8_t* address = bytes.data();
    StreamOpenDescriptor descriptor = {};
    descriptor.source = reinterpret_cast<uintptr_t>(&address);
    descriptor.size = static_cast<uint32_t>(bytes.size());
    QvStream stream = QvStreamOpen(nullptr, &descriptor, 0);
    GifHeader header = {};
    header.height = screenHeight;
    header.width = 320;
    StandInClearLog();
    PlatformFailAllocationAt(failAllocation);
    out.result = RenderPlainText(job.job(), stream, &header);
    PlatformFailAllocationAt(0);
    for (int i = 0; i < StandInLogSize(); ++i) {
      if (std::string(StandInLogEntry(i)).find("QvSetTextHeight") != std::string::npos) {
        out.attributesSet = true;
      }
    }
    out.streamPosition = QvStreamSeek(stream, 0, 1);
    QvStreamClose(stream);
    QvDocDestroy(job->picture);
  }
  out.live = testhost::DescribeLive();
  out.errors = host.Codes(3);
  const standin::Picture* picture = StandInLastPicture();
  out.textHeight = picture->textHeight;
  out.foreground = picture->textColorIndex;
  out.background = picture->backColorIndex;
  for (const standin::TextLine& line : picture->texts) {
    out.lines.push_back({line.text, line.x, line.y});
    out.extents.emplace_back(line.extentX, line.extentY);
  }
  return out;
}

std::vector<std::string> Texts(const std::vector<Line>& lines) {
  std::vector<std::string> texts;
  for (const Line& line : lines) texts.push_back(line.text);
  return texts;
}

TEST(PlainTextTest, LinesBreakAfterTheWordThatTheProposedLengthFallsIn) {
  struct Case {
    const char* name;
    uint16_t gridHeight;
    uint8_t cellHeight;
    std::string text;
    std::vector<std::string> lines;
  };
  const std::string words = "wxyz abcd efgh ijkl";  // 19 bytes
  const std::vector<Case> cases = {
      // N = 36 / 12 - 1 = 2: L = 9 falls on the second space.
      {"two lines", 36, 12, words, {"wxyz abcd ", "efgh ijkl"}},
      // N = 4, L = 4; the second line is proposed as long as the first.
      {"four lines", 60, 12, words, {"wxyz ", "abcd efgh ", "ijkl"}},
      {"three lines", 48, 12, words, {"wxyz abcd ", "efgh ijkl"}},
      {"one row of cells is one line", 12, 12, words, {words}},
      {"grid lower than a cell is one line", 5, 12, words, {words}},
      // Bytes outside 0x20..0x7F are drawn as "2", which starts a word.
      {"control byte as a digit", 60, 12, std::string("wx \x0A" "b cd"), {"wx ", "2b cd"}},
      {"high byte as a digit", 36, 12, std::string("ab \xE9\x7F"), {"ab ", "2\x7F"}},
      {"no spaces at all", 60, 12, "abcdefghijklmnop", {"abcdefghijklmnop"}},
      // No letter or digit ever ends the scan past the proposed length.
      {"spaces only", 36, 12, "      ", {"      "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Grid grid;
    grid.height = c.gridHeight;
    grid.cellHeight = c.cellHeight;
    const Rendered r = Render(Extension(grid, {c.text}));
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(Texts(r.lines), c.lines);
    EXPECT_EQ(r.live, "");
  }
}

TEST(PlainTextTest, LinesGoDownByTheCellHeightAcrossSubBlocks) {
  Grid grid;  // left 4, top 10, cell height 12, N = 3
  const Rendered r = Render(Extension(grid, {"aaa bbb ccc", "ddd eee"}), 100);
  ASSERT_EQ(r.result, 0);
  // The second sub-block starts again from its own size / N = 2.
  const std::vector<Line> expected = {
      {"aaa ", 4, 77}, {"bbb ccc", 4, 65}, {"ddd ", 4, 53}, {"eee", 4, 41}};
  EXPECT_EQ(r.lines, expected);
  for (const auto& extent : r.extents) EXPECT_EQ(extent, std::make_pair(200, 48));
  EXPECT_EQ(r.streamPosition, static_cast<int32_t>(Extension(grid, {"aaa bbb ccc", "ddd eee"}).size()));
}

TEST(PlainTextTest, TextHeightAndColoursComeFromTheCells) {
  struct Case {
    uint8_t cellHeight;
    int textHeight;
  };
  for (const Case& c : std::vector<Case>{{16, 10}, {3, 1}, {12, 7}, {255, 169}, {1, 0}}) {
    SCOPED_TRACE(static_cast<int>(c.cellHeight));
    Grid grid;
    grid.cellHeight = c.cellHeight;
    grid.foreground = 200;
    grid.background = 17;
    const Rendered r = Render(Extension(grid, {"hi"}));
    ASSERT_EQ(r.result, 0);
    EXPECT_EQ(r.textHeight, c.textHeight);
    EXPECT_EQ(r.foreground, 200);
    EXPECT_EQ(r.background, 17);
  }
}

TEST(PlainTextTest, CellHeightZeroDrawsEveryLineOnTheFirstRow) {
  Grid grid;
  grid.cellHeight = 0;
  const Rendered r = Render(Extension(grid, {"one two", "three"}), 100);
  ASSERT_EQ(r.result, 0);
  const std::vector<Line> expected = {{"one two", 4, 89}, {"three", 4, 89}};
  EXPECT_EQ(r.lines, expected);
  EXPECT_EQ(r.textHeight, 0);
}

TEST(PlainTextTest, EveryByteIsDrawnOnceWhateverTheLineCount) {
  std::mt19937 random(5);
  const char alphabet[] = "ab c1 \x01\xF0  Zz";
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    std::string text(1 + random() % 255, ' ');
    for (char& ch : text) ch = alphabet[random() % (sizeof alphabet - 1)];
    Grid grid;
    grid.cellHeight = static_cast<uint8_t>(1 + random() % 20);
    grid.height = static_cast<uint16_t>(random() % 400);
    const Rendered r = Render(Extension(grid, {text}));
    ASSERT_EQ(r.result, 0);
    std::string joined;
    for (const Line& line : r.lines) {
      EXPECT_FALSE(line.text.empty());
      joined += line.text;
    }
    std::string drawn = text;
    for (char& ch : drawn) {
      const auto byte = static_cast<uint8_t>(ch);
      if (byte < 0x20 || byte > 0x7F) ch = '2';
    }
    EXPECT_EQ(joined, drawn);
  }
}

TEST(PlainTextTest, AnotherFirstBlockSizeAbandonsTheExtension) {
  for (uint8_t size : {0, 11, 13}) {
    SCOPED_TRACE(static_cast<int>(size));
    const Rendered r = Render(Extension(Grid(), {"text"}, size));
    EXPECT_EQ(r.result, 0);
    EXPECT_TRUE(r.lines.empty());
    EXPECT_FALSE(r.attributesSet);
    EXPECT_EQ(r.streamPosition, 1);  // the block loop reads on from here
  }
}

TEST(PlainTextTest, CutShortAnywhereGives21UnreportedAndKeepsWhatWasDrawn) {
  const Bytes full = Extension(Grid(), {"first block", "second"});
  for (size_t keep = 0; keep < full.size(); ++keep) {
    SCOPED_TRACE(keep);
    const Rendered r = Render(Bytes(full.begin(), full.begin() + static_cast<long>(keep)));
    EXPECT_EQ(r.result, kErrRead);
    EXPECT_TRUE(r.errors.empty());  // the driver reports it
    EXPECT_EQ(r.live, "");
    if (keep >= 1 + 12 + 1 + 11) {
      EXPECT_FALSE(r.lines.empty());
    }
  }
}

TEST(PlainTextTest, NoTextBufferGives27UnreportedAfterTheAttributes) {
  const Rendered r = Render(Extension(Grid(), {"text"}), 100, 1);
  EXPECT_EQ(r.result, kErrMemory);
  EXPECT_TRUE(r.errors.empty());
  EXPECT_TRUE(r.attributesSet);
  EXPECT_TRUE(r.lines.empty());
  EXPECT_EQ(r.live, "");
}

}  // namespace
