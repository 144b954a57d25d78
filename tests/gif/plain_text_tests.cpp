// A plain-text extension cut short at every byte: 21, reported once, and the
// lines drawn before the cut stay. (Line breaks, positions and attributes
// are cases in tests/e2e/cases.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/status.h"
#include "tests/e2e/import_host.h"
#include "tests/support/gif_writer.h"

namespace {

TEST(PlainTextTest, CutShortGives21AndKeepsWhatWasDrawn) {
  gifwrite::Image image;
  image.width = image.height = 1;
  image.pixels = {0};
  gifwrite::GifBuilder gif(320, 100);
  gif.PlainText(0x3B, 10, 200, 48, 8, 12, 3, 9, {"first block", "second"})
      .AddImage(image)
      .Trailer();
  const size_t start = gif.blockOffsets()[1], end = gif.blockOffsets()[2];
  const size_t firstDrawn = start + 3 + 12 + 1 + 11;  // "!", label, sizes, record, text
  for (size_t keep = start + 1; keep < end; ++keep) {
    SCOPED_TRACE(keep);
    const e2e::ImportRun run =
        e2e::Import(gifwrite::Bytes(gif.bytes().begin(), gif.bytes().begin() + keep));
    EXPECT_EQ(run.result, kErrRead);
    EXPECT_EQ(run.Errors(), std::vector<int32_t>{kErrRead});
    EXPECT_EQ(run.live, "");
    std::vector<std::string> drawn;
    if (keep >= firstDrawn) drawn = {"first ", "block"};
    if (keep == end - 1) drawn.push_back("second");  // only the terminator is missing
    std::vector<std::string> lines;
    for (const standin::TextLine& t : run.picture.value().texts) lines.push_back(t.text);
    EXPECT_EQ(lines, drawn);
  }
}

}  // namespace
