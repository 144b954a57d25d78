// Documents and options blocks of the companion stand-in where a faulty
// caller could hurt it: counts it cannot check against the caller's memory,
// sizes, null and stale handles.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "companion/standin.h"

namespace {

CoordSlot Slot(int value) { return {int16_t(value), {0x7777, 0x7777, 0x7777}}; }

TEST(Documents, PalettesAndBandsStayInsideWhatTheyCanBe) {
  const struct {
    int16_t first;
    int32_t count;
    size_t size;  // of the palette kept
  } cases[] = {{0, 2, 2}, {250, 10, 256}, {-1, 4, 0}, {256, 1, 0}, {0, 100000, 256}, {3, 0, 0}};
  for (const auto& c : cases) {
    // Exactly as many entries as fit from `first`: ASan catches a read past.
    std::unique_ptr<PaletteEntry[]> entries(
        new PaletteEntry[c.first >= 0 && c.first < 256 ? 256 - c.first : 1]());
    entries[0].red = 9;
    QvPicture doc = QvDocCreate(0);
    QvSetPalette(doc, c.first, c.count, entries.get());
    QvDocDestroy(doc);
    const standin::Picture& p = *StandInLastPicture();
    EXPECT_EQ(p.palette.size(), c.size) << c.first << "+" << c.count;
    EXPECT_TRUE(c.size == 0 || p.palette[c.first] == (standin::Rgb{9, 0, 0}));
  }
  // 8000 x 5 bytes is more than a band may carry; a depth-1 row of 13 is 4.
  const auto corners = [](uint16_t width) {
    return BitmapCorners{Slot(0), Slot(100), Slot(width), Slot(99), Slot(width), Slot(100)};
  };
  const BitmapCorners whole = corners(8000), one = corners(13);
  const BitmapSize wholeSize = {{8000, 0x5555}, {5, 0x5555}}, oneSize = {{13, 0}, {1, 0}};
  std::unique_ptr<uint8_t[]> row(new uint8_t[4]{0xAB, 0xCD, 0, 0});
  QvPicture doc = QvDocCreate(0);
  QvBitmapBegin(doc, &whole, &wholeSize, -1, 0, 1, 3, 0);
  QvBitmapBand(doc, &whole, &wholeSize, -8, 1, row.get());
  QvBitmapBand(doc, &one, &oneSize, -1, 1, row.get());
  QvBitmapBand(doc, &one, &oneSize, INT32_MIN, 1, row.get());
  QvBitmapEnd(doc);
  QvBitmapBand(doc, &one, &oneSize, -1, 1, row.get());  // no bitmap open
  QvDocDestroy(doc);
  const standin::Picture& p = *StandInLastPicture();
  ASSERT_EQ(p.bitmaps.size(), 1u);
  ASSERT_EQ(p.bitmaps[0].bands.size(), 3u);
  EXPECT_EQ(p.bitmaps[0].bands[0].data.size() + p.bitmaps[0].bands[2].data.size(), 0u);
  EXPECT_EQ(p.bitmaps[0].bands[1].data, (std::vector<uint8_t>{0xAB, 0xCD, 0, 0}));
  EXPECT_EQ(StandInLiveDocuments(), 0);
}

TEST(Documents, NullAndStaleHandlesDoNothingAndAnErrorGoesWithItsDocument) {
  StandInSetPendingErrorAfter("QvPictureBegin", 1, 301, 5);
  QvPicture doc = QvDocCreate(0);
  QvPictureBegin(doc, "p");
  QvDocDestroy(doc);
  const standin::Picture* last = StandInLastPicture();
  PictureRect rect = {};
  PaletteEntry color = {};
  uint16_t index = 1;
  for (QvPicture handle : {static_cast<QvPicture>(nullptr), doc}) {
    QvDocSetNames(handle, "a", "b", "c");
    EXPECT_EQ(QvDocOpen(handle, "", "", 0, nullptr, nullptr), 0);
    QvSetFrame(handle, &rect);
    QvSetPalette(handle, 0, 1, &color);
    QvSetBackColorIndex(handle, &index);
    QvBitmapEnd(handle);
    int32_t flag = 5;
    QvGetError(handle, 1, &flag, nullptr);
    EXPECT_EQ(flag, 0);
    QvAbort(handle);
    QvDocDestroy(handle);  // twice for the stale one: no double free
  }
  EXPECT_TRUE(StandInLastPicture() == last && last->palette.empty());
  doc = QvDocCreate(0);
  int32_t flag = 7;
  QvGetError(doc, 1, &flag, nullptr);
  EXPECT_EQ(flag, 0) << "the error nobody fetched went with its document";
  QvDocDestroy(doc);
  StandInResetFaults();
  EXPECT_EQ(StandInLiveDocuments(), 0);
}

TEST(Options, EachCodeHasItsSizeAndAFreedBlockIsRefused) {
  HGLOBAL block = QvOptionsCreate(0, 0, 0, 0);
  const uint8_t in[65] = {0x11, 0x22, 0x33, 0x44, 0x55};
  uint8_t out[65];
  for (const auto& [code, size] : {std::pair{3, 2}, {0x1A, 4}, {0x28, 1}}) {
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(QvOptionsControl(block, code, size, in, nullptr, 0), 0);
    EXPECT_EQ(QvOptionsControl(block, code, size, nullptr, out, 0), 0);
    EXPECT_TRUE(std::memcmp(out, in, size) == 0 && out[size] == 0xEE) << code;
    for (int32_t wrong : {size + 1, size - 1, 0})  // refused, the caller's memory left alone
      EXPECT_EQ(QvOptionsControl(block, code, wrong, nullptr, out + 1, 0), kQvOptionsBadSize);
    EXPECT_EQ(out[size], 0xEE);
  }
  // The persistent bytes: the caller's size, up to 64.
  EXPECT_EQ(std::vector<int>({QvOptionsControl(block, 0x2A, 65, in, nullptr, 0),
                              QvOptionsControl(block, 0x2A, 64, in, nullptr, 0),
                              QvOptionsControl(block, 0x2B, 64, nullptr, out, 0)}),
            std::vector<int>({kQvOptionsBadSize, 0, 0}));
  EXPECT_EQ(std::memcmp(out, in, 64), 0);
  GlobalFree(block);
  EXPECT_EQ(StandInLiveOptionsBlocks(), 0);
  EXPECT_EQ(QvOptionsControl(block, 3, 2, in, nullptr, 0), kQvOptionsBadBlock);
}

// What a host or a person reads back: a module's folder (the first error a
// capture was told: every import case by the metafile entries), names in
// the call log as JSON.
TEST(Services, PathsAndTheLog) {
  for (const auto& [path, directory] : {std::pair{"/opt/filters/gifin.so", "/opt/filters/"},
                                        {"gifin.so", ""},
                                        {"D:\\Filters\\gifin.dll", "D:\\Filters\\"}}) {
    char out[64];
    QvPathDirectory(out, path);
    EXPECT_STREQ(out, directory);
  }
  StandInClearLog();
  QvPicture doc = QvDocCreate(0);
  QvDocSetNames(doc, "quote\"back\\slash", "tab\t", "\xe9");
  QvDocDestroy(doc);
  ASSERT_EQ(StandInLogSize(), 3);
  EXPECT_NE(
      std::string(StandInLogEntry(1)).find(R"("names":["quote\"back\\slash","tab\t","\u00e9"])"),
      std::string::npos)
      << StandInLogEntry(1);
}

}  // namespace
