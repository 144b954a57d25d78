// The import driver against library errors left pending by any companion
// call: whatever the import goes on past, the number the host heard first is
// the import's result, never a success.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

// Imports a GIF with a global palette, a local one, plain text and two images
// (every kind of picture call the driver makes), with a library error left
// pending after the nth call of `operation`.
e2e::ImportRun ImportWithPendingError(const char* operation, int nth) {
  gifwrite::Image plain;
  plain.width = 6;
  plain.height = 4;
  plain.pixels.assign(24, 1);
  gifwrite::Image local = plain;
  local.left = 2;
  local.localColors = {{1, 2, 3}, {4, 5, 6}};
  const gifwrite::Bytes gif =
      gifwrite::GifBuilder(10, 8, {{0, 0, 0}, {255, 255, 255}, {9, 9, 9}, {7, 7, 7}})
          .AddImage(plain)
          .PlainText(0, 0, 10, 8, 4, 4, 1, 0, {"ab cd"})
          .AddImage(local)
          .Trailer()
          .bytes();
  e2e::ImportOptions options;
  options.beforeImport = [=] { StandInSetPendingErrorAfter(operation, nth, 304, 1); };
  e2e::ImportRun run = e2e::Import(gif, options);
  StandInResetFaults();
  return run;
}

TEST(ImportDriverTest, NoLibraryErrorEndsAsASuccess) {
  static const char* const kOperations[] = {
      "QvDocSetNames",       "QvDocStart",           "QvSetFontTable",  "QvPictureBegin",
      "QvSetFrame",          "QvSetScale",           "QvSetWindow",     "QvPictureHeaderEnd",
      "QvSetPalette",        "QvSetBackgroundColor", "QvSetTextHeight", "QvSetTextColorIndex",
      "QvSetBackColorIndex", "QvDrawText",           "QvBitmapBegin",   "QvBitmapBand",
      "QvBitmapEnd",         "QvPictureEnd",         "QvDocFinish"};
  const std::set<std::string> pictureHeader = {"QvSetFrame", "QvSetScale", "QvSetWindow",
                                               "QvPictureHeaderEnd"};
  for (const char* operation : kOperations) {
    for (int nth = 1; nth <= 2; ++nth) {
      SCOPED_TRACE(std::string(operation) + " call " + std::to_string(nth));
      const e2e::ImportRun run = ImportWithPendingError(operation, nth);
      EXPECT_EQ(run.live, "");
      // No report: the operation was not called that often.
      EXPECT_EQ(run.result, run.Errors().empty() ? 0 : run.Errors().front());
      EXPECT_TRUE(run.Errors().empty() || run.result != 0);
      // A picture header the library refused still gets every image drawn.
      if (nth == 1 && pictureHeader.count(operation)) {
        EXPECT_EQ(run.picture.value().bitmaps.size(), 2u);
      }
    }
  }
}

}  // namespace
