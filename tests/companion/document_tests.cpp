// Documents of the companion stand-in: what the picture model keeps of the
// filter's calls beyond what the imports check, how it bounds what it reads,
// and the faults tests inject.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "companion/standin.h"

namespace {

using standin::Rgb;

// The slot's other bytes are not the filter's: garbage there must not count.
CoordSlot Slot(int value) { return {static_cast<int16_t>(value), {0x7777, 0x7777, 0x7777}}; }

PaletteEntry Entry(uint8_t r, uint8_t g, uint8_t b) {
  PaletteEntry e = {};
  e.red = r, e.green = g, e.blue = b;
  return e;
}

struct Band {
  BitmapCorners corners;
  BitmapSize size;
};

Band MakeBand(int left, int top, uint16_t width, uint16_t rows) {
  const int right = left + width, bottom = top - rows;
  return {{Slot(left), Slot(top), Slot(right), Slot(bottom), Slot(right), Slot(top)},
          {{width, 0x5555}, {rows, 0x5555}}};
}

class Documents : public ::testing::Test {
 protected:
  void SetUp() override {
    StandInResetFaults();
    StandInForgetPictures();
  }
  void TearDown() override {
    StandInResetFaults();
    EXPECT_EQ(StandInLiveDocuments(), 0);
  }
  // Destroys the document and hands back what it recorded.
  const standin::Picture& Finish(QvPicture doc) {
    QvDocDestroy(doc);
    static const standin::Picture kEmpty;
    EXPECT_NE(StandInLastPicture(), nullptr);
    return StandInLastPicture() ? *StandInLastPicture() : kEmpty;
  }
};

TEST_F(Documents, ModelKeepsCopiesPalettesInForceBandsAndCallOrder) {
  QvPicture doc = QvDocCreate(0);
  ASSERT_NE(doc, nullptr);
  char name[16] = "first";
  QvDocSetNames(doc, name, "", nullptr);
  std::strcpy(name, "changed");  // the model holds copies, not the caller's texts
  const char* faces[] = {"Helvetica", "Courier"};
  QvSetFontTable(doc, 2, faces);
  PaletteEntry colors[] = {Entry(0, 0, 0), Entry(255, 0, 0), Entry(0, 0, 255)};
  QvSetPalette(doc, 0, 3, colors);
  const uint16_t back = 2, fore = 1;
  QvSetBackColorIndex(doc, &back);
  Band bitmap = MakeBand(10, 190, 5, 3), top = MakeBand(10, 190, 5, 2),
       rest = MakeBand(10, 188, 5, 1);
  QvBitmapBegin(doc, &bitmap.corners, &bitmap.size, -8, 0, 1, 3, 1);
  const PaletteEntry white = Entry(255, 255, 255);
  QvSetPalette(doc, 1, 1, &white);  // after the begin: the text's colour, not the bitmap's
  std::vector<uint8_t> rows(3 * 8);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i);
  QvBitmapBand(doc, &top.corners, &top.size, -8, 1, rows.data());
  QvBitmapBand(doc, &rest.corners, &rest.size, -8, 1, rows.data() + 16);
  QvBitmapEnd(doc);
  QvSetTextHeight(doc, Slot(10));
  QvSetTextColorIndex(doc, &fore);
  PicturePoint extent = {Slot(100), Slot(20)}, origin = {Slot(4), Slot(77)};
  QvDrawText(doc, &extent, &origin, 1, "hello");

  const standin::Picture& p = Finish(doc);
  EXPECT_EQ(p.names[0], "first");
  ASSERT_EQ(p.bitmaps.size(), 1u);
  const standin::Bitmap& b = p.bitmaps[0];
  EXPECT_EQ(std::vector<int>({b.left, b.top, b.right, b.bottom, b.width, b.height, b.depth,
                              b.transparent, b.ended, b.backColorIndex}),
            std::vector<int>({10, 190, 15, 187, 5, 3, 8, 1, 1, 2}));
  EXPECT_EQ(b.palette, (std::vector<Rgb>{{0, 0, 0}, {255, 0, 0}, {0, 0, 255}}));
  ASSERT_EQ(b.bands.size(), 2u);
  EXPECT_EQ(std::vector<int>({b.bands[0].rows, b.bands[1].top}), std::vector<int>({2, 188}));
  EXPECT_EQ(b.bands[0].data, std::vector<uint8_t>(rows.begin(), rows.begin() + 16));
  EXPECT_EQ(b.bands[1].data, std::vector<uint8_t>(rows.begin() + 16, rows.end()));
  ASSERT_EQ(p.texts.size(), 1u);
  EXPECT_EQ(p.texts[0].color, (Rgb{255, 255, 255}));
  EXPECT_EQ(p.texts[0].face, "Helvetica");
  ASSERT_EQ(p.order.size(), 2u);
  EXPECT_EQ(p.order[1].kind, standin::Picture::Item::kText);
}

// Palettes and bands come with counts the stand-in cannot check against the
// caller's memory; it must stay inside what a palette or a band can be.
TEST_F(Documents, PaletteAndBandsStayInBounds) {
  const struct {
    int16_t first;
    int32_t count;
    size_t expectedSize;
  } cases[] = {{0, 2, 2}, {250, 10, 256}, {-1, 4, 0}, {256, 1, 0}, {0, 100000, 256}, {3, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.first) + "+" + std::to_string(c.count));
    // Exactly as many entries as fit from `first`: ASan catches a read past.
    std::unique_ptr<PaletteEntry[]> entries(
        new PaletteEntry[c.first >= 0 && c.first < 256 ? 256 - c.first : 1]());
    entries[0] = Entry(9, 9, 9);
    QvPicture doc = QvDocCreate(0);
    QvSetPalette(doc, c.first, c.count, entries.get());
    const standin::Picture& p = Finish(doc);
    EXPECT_EQ(p.palette.size(), c.expectedSize);
    EXPECT_TRUE(c.expectedSize == 0 || p.palette[c.first] == (Rgb{9, 9, 9}));
  }

  QvPicture doc = QvDocCreate(0);
  Band whole = MakeBand(0, 100, 8000, 5);  // 40000 bytes: more than a band may carry
  Band one = MakeBand(0, 100, 13, 1);      // depth 1: 2 bytes padded to 4
  std::unique_ptr<uint8_t[]> row(new uint8_t[4]{0xAB, 0xCD, 0, 0});
  QvBitmapBegin(doc, &whole.corners, &whole.size, -1, 0, 1, 3, 0);
  QvBitmapBand(doc, &whole.corners, &whole.size, -8, 1, row.get());
  QvBitmapBand(doc, &one.corners, &one.size, -1, 1, row.get());
  QvBitmapBand(doc, &one.corners, &one.size, INT32_MIN, 1, row.get());
  QvBitmapEnd(doc);
  QvBitmapBand(doc, &one.corners, &one.size, -1, 1, row.get());  // no bitmap open
  const standin::Picture& p = Finish(doc);
  ASSERT_EQ(p.bitmaps.size(), 1u);
  ASSERT_EQ(p.bitmaps[0].bands.size(), 3u);
  EXPECT_TRUE(p.bitmaps[0].bands[0].data.empty());
  EXPECT_TRUE(p.bitmaps[0].bands[2].data.empty()) << "no depth, no row bytes";
  EXPECT_EQ(p.bitmaps[0].bands[1].data, (std::vector<uint8_t>{0xAB, 0xCD, 0, 0}));
}

TEST_F(Documents, PendingErrorAfterTheNthCallUntilItsDocumentGoes) {
  const struct {
    const char* operation;
    int nth;
  } cases[] = {{"QvSetFontTable", 1}, {"QvSetFontTable", 2}, {"QvDocStart", 1}, {"QvDocCreate", 1}};
  const char* face = "SWISS:HELVETICA";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.operation) + " #" + std::to_string(c.nth));
    StandInSetPendingErrorAfter(c.operation, c.nth, 302, 269);
    QvPicture doc = QvDocCreate(0);
    int32_t flag = 0;
    LibraryErrorPair pair = {0, 0};
    // The error must show right after the nth call and not before.
    int callsBefore = 0;
    for (; QvGetError(doc, 1, &flag, &pair), !flag && callsBefore < 3; ++callsBefore) {
      if (std::strcmp(c.operation, "QvSetFontTable") == 0) QvSetFontTable(doc, 1, &face);
      if (std::strcmp(c.operation, "QvDocStart") == 0) QvDocStart(doc, "s");
    }
    EXPECT_EQ(callsBefore, std::strcmp(c.operation, "QvDocCreate") == 0 ? 0 : c.nth);
    EXPECT_EQ(std::vector<int>({flag, pair.code, pair.operation}), std::vector<int>({1, 302, 269}));
    QvDocDestroy(doc);
  }

  // An error nobody fetched goes with its document.
  StandInSetPendingErrorAfter("QvPictureBegin", 1, 301, 5);
  QvPicture doc = QvDocCreate(0);
  QvPictureBegin(doc, "p");
  QvDocDestroy(doc);
  doc = QvDocCreate(0);
  int32_t flag = 7;
  QvGetError(doc, 1, &flag, nullptr);
  EXPECT_EQ(flag, 0);
  QvDocDestroy(doc);
}

// The open and close results are checked through the filter's document steps.
TEST_F(Documents, FailedCreateAndReset) {
  StandInFailDocCreate(1);
  EXPECT_EQ(QvDocCreate(0), nullptr);
  EXPECT_EQ(StandInLiveDocuments(), 0);
  StandInSetDocOpenResult(76);
  StandInSetDocCloseResult(302);
  StandInSetPendingErrorAfter("QvDocOpen", 1, 20, 0);
  StandInSetVersion(0x02000005);
  StandInResetFaults();
  EXPECT_EQ(QvGetVersion(), 0x02000006);
  QvPicture doc = QvDocCreate(0);
  ASSERT_NE(doc, nullptr);
  EXPECT_EQ(QvDocOpen(doc, "", "", 0, nullptr, nullptr), 0);
  EXPECT_EQ(QvDocClose(doc), 0);
  int32_t flag = 0;
  QvGetError(doc, 1, &flag, nullptr);
  EXPECT_EQ(flag, 0);
  QvDocDestroy(doc);
}

TEST_F(Documents, NullAndStaleHandlesDoNothing) {
  PictureRect rect = {};
  PaletteEntry color = Entry(1, 2, 3);
  uint16_t index = 1;
  int32_t flag = 5;
  QvPicture doc = QvDocCreate(0);
  QvDocDestroy(doc);
  const standin::Picture* last = StandInLastPicture();
  for (QvPicture handle : {static_cast<QvPicture>(nullptr), doc}) {
    QvDocSetNames(handle, "a", "b", "c");
    EXPECT_EQ(QvDocOpen(handle, "", "", 0, nullptr, nullptr), 0);
    QvSetFrame(handle, &rect);
    QvSetPalette(handle, 0, 1, &color);
    QvSetBackColorIndex(handle, &index);
    QvBitmapEnd(handle);
    QvGetError(handle, 1, &flag, nullptr);
    EXPECT_EQ(flag, 0);
    QvAbort(handle);
    QvDocDestroy(handle);  // twice for the stale one: no double free
  }
  EXPECT_EQ(StandInLastPicture(), last);
  EXPECT_TRUE(last->palette.empty());
  StandInForgetPictures();
  EXPECT_EQ(StandInLastPicture(), nullptr);
}

}  // namespace
