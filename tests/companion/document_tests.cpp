// Documents of the companion stand-in: null and stale handles, a pending
// error's lifetime, and what a host or a person reads back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companion/standin.h"

namespace {

TEST(Documents, NullAndStaleHandlesDoNothingAndAnErrorGoesWithItsDocument) {
  StandInSetPendingErrorAfter("QvPictureBegin", 1, 301, 5);
  QvPicture doc = QvDocCreate(0);
  QvPictureBegin(doc, "p");
  QvDocDestroy(doc);
  const standin::Picture* last = StandInLastPicture();
  PaletteEntry color = {};
  const auto pendingFlag = [](QvPicture handle) {
    int32_t flag = 7;
    return QvGetError(handle, 1, &flag, nullptr), flag;
  };
  for (QvPicture handle : {static_cast<QvPicture>(nullptr), doc}) {
    EXPECT_EQ(QvDocOpen(handle, "", "", 0, nullptr, nullptr), 0);
    QvSetPalette(handle, 0, 1, &color);
    EXPECT_EQ(pendingFlag(handle), 0);
    QvDocDestroy(handle);  // twice for the stale one: no double free
  }
  EXPECT_TRUE(StandInLastPicture() == last && last->palette.empty());
  doc = QvDocCreate(0);
  EXPECT_EQ(pendingFlag(doc), 0) << "the error nobody fetched went with its document";
  QvDocDestroy(doc);
  StandInResetFaults();
  EXPECT_EQ(StandInLiveDocuments(), 0);
}

// What a host or a person reads back: a module's folder, and names in the
// call log as JSON.
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
  const std::string entry = StandInLogEntry(1);
  EXPECT_NE(entry.find(R"("names":["quote\"back\\slash","tab\t","\u00e9"])"), std::string::npos)
      << entry;
}

}  // namespace
