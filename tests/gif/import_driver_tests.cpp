// The import driver against library errors left pending by any companion
// call: whatever the import goes on past, the number the host heard first is
// the import's result, never a success.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "companion/standin.h"
#include "gif/import_driver.h"
#include "tests/support/gif_writer.h"
#include "tests/support/recording_host.h"

namespace {

using gifwrite::GifBuilder;
using gifwrite::Image;

// Global palette, a local one, plain text and two images: every kind of
// picture call the driver makes.
gifwrite::Bytes RichGif() {
  Image plain;
  plain.width = 6;
  plain.height = 4;
  plain.pixels.assign(24, 1);
  Image local = plain;
  local.left = 2;
  local.localColors = {{1, 2, 3}, {4, 5, 6}};
  return GifBuilder(10, 8, {{0, 0, 0}, {255, 255, 255}, {9, 9, 9}, {7, 7, 7}})
      .AddImage(plain)
      .PlainText(0, 0, 10, 8, 4, 4, 1, 0, {"ab cd"})
      .AddImage(local)
      .Trailer()
      .bytes();
}

struct DriverRun {
  int32_t result = 0;
  std::vector<int32_t> reported;
  std::string live;
};

DriverRun ImportFromMemory(const gifwrite::Bytes& gif, const char* operation, int nth, int16_t code) {
  DriverRun run;
  {
    testhost::ScopedJob job;
    testhost::RecordingHost host;
    host.Attach(job.context());
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, gif.size());
    std::memcpy(GlobalLock(block), gif.data(), gif.size());
    GlobalUnlock(block);
    job.context()->inputMemory = block;

    StandInSetPendingErrorAfter(operation, nth, code, 1);
    run.result = RunImport(job.job());
    StandInResetFaults();
    run.reported = host.Codes(kStatusError);
    GlobalFree(block);
  }
  run.live = testhost::DescribeLive();
  return run;
}

TEST(ImportDriverTest, PictureHeaderErrorsAreTheResultWhileThePictureGoesOn) {
  struct Case {
    const char* operation;
    int16_t code;
    int32_t expected;  // the filter's number for the library's code
  } cases[] = {
      {"QvSetFrame", 21, 12},
      {"QvSetScale", 303, 15},
      {"QvSetWindow", 168, 25},
      {"QvPictureHeaderEnd", 20, 65},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    StandInForgetPictures();
    const DriverRun run = ImportFromMemory(RichGif(), c.operation, 1, c.code);
    EXPECT_EQ(run.result, c.expected);
    EXPECT_EQ(run.reported, std::vector<int32_t>{c.expected});
    EXPECT_EQ(run.live, "");
    // The host still gets what could be drawn.
    ASSERT_NE(StandInLastPicture(), nullptr);
    EXPECT_EQ(StandInLastPicture()->bitmaps.size(), 2u);
  }
}

TEST(ImportDriverTest, NoLibraryErrorEndsAsASuccess) {
  static const char* const kOperations[] = {
      "QvDocSetNames", "QvDocStart",        "QvSetFontTable", "QvPictureBegin", "QvSetFrame",
      "QvSetScale",    "QvSetWindow",       "QvPictureHeaderEnd", "QvSetPalette",
      "QvSetBackgroundColor", "QvSetTextHeight", "QvSetTextColorIndex", "QvSetBackColorIndex",
      "QvDrawText",    "QvBitmapBegin",     "QvBitmapBand",   "QvBitmapEnd",    "QvPictureEnd",
      "QvDocFinish"};
  for (const char* operation : kOperations) {
    for (int nth = 1; nth <= 2; ++nth) {
      SCOPED_TRACE(std::string(operation) + " call " + std::to_string(nth));
      const DriverRun run = ImportFromMemory(RichGif(), operation, nth, 304);
      EXPECT_EQ(run.live, "");
      if (run.reported.empty()) {
        // The operation was not called that often.
        EXPECT_EQ(run.result, 0);
      } else {
        EXPECT_EQ(run.result, run.reported.front());
        EXPECT_NE(run.result, 0);
      }
    }
  }
}

}  // namespace
