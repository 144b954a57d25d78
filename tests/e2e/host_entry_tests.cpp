// The registration entries, and the metafile entries with the host's options
// block, on the rows of host_entries.txt. (Which input each metafile entry
// reads, and how its captures end, is in the cases of import_tests.)
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/locked_global.h"
#include "platform/platform_test.h"
#include "tests/e2e/import_host.h"
#include "tests/support/row_tests.h"

using namespace gifin;

namespace {

using Strings = std::vector<std::string>;
using testtable::Row;

// For each logged call of `op`, its fields `keys`, each followed by a space.
Strings Logged(const std::string& op, const Strings& keys = {}) {
  Strings out;
  for (int i = 0; i < StandInLogSize(); ++i) {
    const std::string entry = StandInLogEntry(i);
    if (e2e::LogField(entry, "op") != "\"" + op + "\"") continue;
    out.emplace_back();
    for (const std::string& key : keys) out.back() += e2e::LogField(entry, key) + " ";
  }
  return out;
}

// The metafile entries: options blocks, refusals, bad records and the
// persistent bytes kept.
class ImportEntry : public testtable::RowTest<> {};

TEST_P(ImportEntry, AsTheRowSays) {
  const Row& r = row.fields;
  const e2e::Bytes gif = e2e::ReadWholeFile(GIFIMPORT_CASES "/solid-600x400.gif"),
                   small = e2e::ReadWholeFile(GIFIMPORT_CASES "/solid-9x4.gif");
  SourceDescriptor file{}, longName{}, memory{}, junk{};
  std::snprintf(file.path, sizeof file.path, "%s", e2e::WriteScratchFile("solid.gif", gif).c_str());
  std::memset(longName.path, 'a', sizeof longName.path);
  memory.memory = e2e::MemoryBlockOf(gif);
  junk.memory = e2e::MemoryBlockOf(e2e::Bytes(64, 'x'));
  std::map<std::string, const SourceDescriptor*> sources = {{"none", nullptr}, {"long", &longName}};
  sources["memory"] = &memory, sources["file"] = sources["stream"] = &file;
  sources["junk"] = &junk;
  HGLOBAL block = nullptr;
  std::vector<uint8_t> before;
  if (r[1] == "foreign") {
    block = GlobalAlloc(GMEM_MOVEABLE, 64);  // filled with 0xFF: no options block's bytes
    const LockedGlobal locked(block);
    std::memset(locked.As<void>(), 0xFF, 64);
  } else if (r[1] != "none") {
    EXPECT_EQ(GetFilterInfo(0, 0, &block, 0), kFilterInfoMade);
    before.assign(kPersistentOptionsBytes, 0);
    for (size_t i = sizeof(HostStreamProc); i < before.size(); ++i) before[i] = uint8_t(i);
    QvOptionsControl(block, kQvOptionStorePersistent, static_cast<int32_t>(before.size()),
                     before.data(), nullptr, 0);
    const uint16_t refuse = r[1] == "refusing";
    QvOptionsControl(block, 4, 2, &refuse, nullptr, 0);
    const HostStreamProc function = r[1] == "carrying" ? &e2e::UserZeroStreamProc : nullptr;
    EscapeSetup(block, kEscapeStreamFunction, kEscapeValueBytes, reinterpret_cast<void*>(function),
                nullptr, 0);
    std::memcpy(before.data(), &function, sizeof function);
  }
  const SourceDescriptor* source = sources.at(r[2]);
  ImportResult result{};
  ImportResult* out = r[3] == "yes" ? &result : nullptr;
  const uint32_t user = e2e::userZeroStream = e2e::OpenByteStream(small);
  StandInClearLog();
  if (r[4] != "-") StandInSetPendingErrorAfter("*", std::stoi(r[4]), kQvErrStop, 0);
  const long allocations = PlatformAllocationCount();
  const HostStreamProc proc = r[2] == "stream" ? e2e::ByteStreamProc : nullptr;
  const int32_t ended = r[0] == "ImportGR"   ? ImportGR(0, source, out, block)
                        : r[0] == "ImportCB" ? ImportCB(0, source, out, block, user, proc)
                                             : ImportEmbeddedGR(0, source, out, block, 0, "Start");
  StandInResetFaults();
  e2e::CloseByteStream(user);
  EXPECT_EQ(ended, r[5] == "captured" ? e2e::CaptureSuccess() : std::stoi(r[5]));
  EXPECT_EQ(r[6] == "-" ? 0 : std::stoi(r[6]), result.right) << "the stream, else the file";
  const bool metafile = GetObjectType(result.metafile) == OBJ_ENHMETAFILE &&
                        DeleteEnhMetaFile(static_cast<HENHMETAFILE>(result.metafile));
  EXPECT_TRUE(metafile || result.metafile == nullptr) << "no metafile, and nothing else";
  if (r[1] == "none" && ended == e2e::CaptureSuccess()) {
    EXPECT_EQ(Logged("QvOptionsCreate", {"a", "b", "c", "d"}), Strings{"0 0 0 0 "});
    EXPECT_EQ(Logged("QvOptionsControl", {"code", "stored", "extra"}).at(0), "3 0 null ")
        << "marked as its own";
  } else if (r[5].rfind("53", 0) == 0) {  // refused before any capture
    EXPECT_EQ(PlatformAllocationCount(), allocations) << "no block and no setup made";
    EXPECT_TRUE(Logged("QvMetafileBegin").empty());
  }
  const HostStreamProc kept = &e2e::ByteStreamProc;
  if (r[2] == "stream") std::memcpy(before.data(), &kept, sizeof kept);
  if (r[1] != "foreign") {
    EXPECT_EQ(block ? e2e::PersistentBytes(block) : before, before);
  }
  GlobalFree(block);
  GlobalFree(memory.memory);
  GlobalFree(junk.memory);
  EXPECT_EQ(testhost::DescribeLive(), "");
}
TESTTABLE_ROWS(ImportEntry, GIFIMPORT_HOST_ENTRIES, "Import", 17, -1);

// GetFilterInfo and GetFilterPref with a profile, broken or not, and
// allocations failing.
class InfoEntry : public testtable::RowTest<> {};

TEST_P(InfoEntry, AsTheRowSays) {
  const Row& r = row.fields;
  const std::string windir = getenv("WINDIR") ? getenv("WINDIR") : "";
  const std::string text = "[ir_gif]\n~Mode=Missing\n";
  const std::string profile =
      e2e::WriteScratchFile("gifin.INI", e2e::Bytes(text.begin(), text.end()));
  setenv("WINDIR",
         r[1] == "broken" ? profile.substr(0, profile.rfind('/')).c_str() : windir.c_str(), 1);
  PlatformFailAllocationAt(std::stoi(r[2]));
  HGLOBAL block = reinterpret_cast<HGLOBAL>(0x1234);
  StandInClearLog();
  EXPECT_EQ(GetFilterInfo(0, 0, &block, 0), std::stoi(r[3]));
  EXPECT_EQ(Logged("QvOptionsCreate", {"a", "b", "c", "d"}), Strings{"0 0 0 0 "});
  EXPECT_EQ(block != nullptr, r[4] != "none");
  if (block != nullptr) {
    uint8_t options[3] = {9, 9, 9};  // the two marks: two bytes and one
    QvOptionsControl(block, kQvOptionFilterBlockMark, 2, nullptr, options, 0);
    QvOptionsControl(block, kQvOptionRegisterMark, 1, nullptr, options + 2, 0);
    EXPECT_EQ(std::vector<int>(options, options + 3),
              std::vector<int>({0, 0, std::stoi(r[4], 0, 0)}));
    EXPECT_EQ(e2e::PersistentBytes(block), std::vector<uint8_t>(kPersistentOptionsBytes, 0));
    GlobalFree(block);
  }
  StandInClearLog();
  PlatformFailAllocationAt(r[2] != "0" ? 1 : 0);  // the setup's block
  testing::internal::CaptureStdout();             // the stand-in's dialog prints itself
  GetFilterPref(0, 42, 5, 0);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(Logged("QvPreferencesDialog", {"hostValue", "flag", "editResult"}),
            r[5] == "yes" ? Strings{"42 1 0 "} : Strings{});
  setenv("WINDIR", windir.c_str(), 1);
  PlatformFailAllocationAt(0);
}
TESTTABLE_ROWS(InfoEntry, GIFIMPORT_HOST_ENTRIES, "info", 4, -1, true);

// No place for the block's handle makes no block; no setup handle, or one
// freed already, is left alone, and so is the dialog without an owner.
TEST(HostEntries, RegistrationAndSetupEntries) {
  const long allocations = PlatformAllocationCount();
  EXPECT_EQ(GetFilterInfo(0, 0, nullptr, 0), 0);
  EXPECT_EQ(PlatformAllocationCount(), allocations);
  HGLOBAL freed = CreateSetup(nullptr, nullptr, nullptr, 0);
  EXPECT_EQ(DestroySetup(freed), 0);
  uint32_t second = 1;
  StandInClearLog();
  // No handle, or one freed already: 0 for every code, and no library call.
  for (const int32_t code : {0x51, 0x52, 3, 4, 0x1A, 0x28, 0x2A, 0x2B, 0x99}) {
    EXPECT_EQ(EscapeSetup(nullptr, code, 4, &second, nullptr, 0), 0) << code;
    EXPECT_EQ(EscapeSetup(freed, code, 4, &second, nullptr, 0), 0) << code;
  }
  GetFilterPref(0, 42, 0, 0);  // no owner, no dialog
  EXPECT_EQ(StandInLogSize(), 0);
  EXPECT_EQ(testhost::DescribeLive(), "");
}

// Every text a host hands in, as 260 bytes with no end (AddressSanitizer
// sees a read of the 261st): refused, and nothing made or left live. Each
// road of GetFileInfo carries the path; ImportFile refuses names with 27.
TEST(HostEntries, TextsThatDoNotEndWithinTheirFieldAreReadNoFurther) {
  const std::unique_ptr<char[]> text(new char[kTextFieldBytes]);
  std::memset(text.get(), 'a', kTextFieldBytes);
  const char* const t = text.get();
  EXPECT_EQ(CreateSetup(nullptr, t, nullptr, 0), nullptr);
  const std::string profile = e2e::WriteScratchFile("t.INI", {'[', 'M', ']', '\n'});
  EXPECT_EQ(CreateSetup(nullptr, profile.c_str(), t, 0), nullptr) << "a mode name it reads";

  const e2e::Bytes gif = e2e::ReadWholeFile(GIFIMPORT_CASES "/solid-9x4.gif");
  HGLOBAL memory = e2e::MemoryBlockOf(gif);
  const uint32_t user = e2e::OpenByteStream(gif);
  FileInfoRecord record{};
  for (int road = 0; road < 3; ++road) {
    record.recordSize = 60, record.width = 1;
    const uintptr_t source = road == 0 ? 0 : road == 1 ? uintptr_t(memory) : user;
    EXPECT_EQ(GetFileInfo(t, &record, source, road == 2 ? e2e::ByteStreamProc : nullptr),
              kErrStreamOpen);
    EXPECT_EQ(record.width, 0) << "cleared as after any failure";
  }

  HGLOBAL setup = CreateSetup(nullptr, nullptr, nullptr, 0);
  HostContext context{};
  ImportRequest request{};
  request.setupHandle = setup, request.hostContext = &context;
  const char* docName = "";
  request.docNames[0] = docName;
  EXPECT_EQ(ImportFile(0, t, "", "x.gif", &request), kErrMemory);
  EXPECT_EQ(ImportFile(0, "", t, "x.gif", &request), kErrMemory);
  EXPECT_EQ(ImportFile(0, "", "", t, &request), kErrStreamOpen);
  request.docNames[0] = t;
  EXPECT_EQ(ImportFile(0, "", "", "x.gif", &request), kErrMemory);
  DestroySetup(setup);

  SourceDescriptor file{};
  std::snprintf(file.path, sizeof file.path, "%s", e2e::WriteScratchFile("t.gif", gif).c_str());
  ImportResult result{};
  HGLOBAL block = nullptr;
  GetFilterInfo(0, 0, &block, 0);
  EXPECT_EQ(ImportEmbeddedGR(0, &file, &result, block, 0, t), kErrMemory) << "the capture's";
  EXPECT_EQ(result.metafile, nullptr);
  GlobalFree(block);
  GlobalFree(memory);
  e2e::CloseByteStream(user);
  EXPECT_EQ(testhost::DescribeLive(), "");
}

}  // namespace
