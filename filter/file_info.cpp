#include "filter/file_info.h"

#include <cstddef>
#include <cstring>

#include "core/input_source.h"
#include "gif/gif_header.h"

namespace gifin {

namespace {

constexpr int32_t kItemFlagsOffset = offsetof(FileInfoRecord, itemFlags);
constexpr int32_t kFieldBytes = sizeof FileInfoRecord::itemFlags;
constexpr int32_t kFirstClearedByte = sizeof FileInfoRecord::recordSize;  // all after it

struct ItemSlot {
  int32_t offset;
  int32_t bytes;
  enum Kind { kPositiveDouble, kPositiveInt, kZeroOrOne } kind;
};

// Items 1 to 9 in id order.
#define GIFIN_ITEM(field, kind) \
  { offsetof(FileInfoRecord, field), sizeof FileInfoRecord::field, ItemSlot::kind }
constexpr ItemSlot kItems[] = {
    GIFIN_ITEM(item1, kPositiveDouble),     GIFIN_ITEM(item2, kPositiveDouble),
    GIFIN_ITEM(width, kPositiveInt),        GIFIN_ITEM(height, kPositiveInt),
    GIFIN_ITEM(item5, kPositiveInt),        GIFIN_ITEM(item6, kPositiveInt),
    GIFIN_ITEM(bitsPerPixel, kPositiveInt), GIFIN_ITEM(item8, kZeroOrOne),
    GIFIN_ITEM(item9, kPositiveInt),
};
#undef GIFIN_ITEM
constexpr int32_t kItemCount = sizeof kItems / sizeof kItems[0];

// The record is handled as bytes: a host may hand in a short record, or one
// that is not aligned for its doubles.
unsigned char* RecordBytes(FileInfoRecord* record) {
  return reinterpret_cast<unsigned char*>(record);
}

int32_t RecordSize(const FileInfoRecord* record) {
  int32_t size = 0;
  std::memcpy(&size, record, sizeof size);
  return size;
}

// Wholly inside, in 64 bits so that no size can wrap the sum.
bool FitsRecord(int32_t recordSize, int32_t offset, int32_t bytes) {
  return static_cast<int64_t>(recordSize) >= static_cast<int64_t>(offset) + bytes;
}

bool Accepts(const ItemSlot& slot, const void* value) {
  if (slot.kind == ItemSlot::kPositiveDouble) {
    double v = 0.0;
    std::memcpy(&v, value, sizeof v);
    return v > 0.0;  // a NaN is refused too
  }
  int32_t v = 0;
  std::memcpy(&v, value, sizeof v);
  return slot.kind == ItemSlot::kZeroOrOne ? (v == 0 || v == 1) : v > 0;
}

}  // namespace

FilterError SetFileInfoItem(FileInfoRecord* record, int32_t itemId, const void* value) {
  if (itemId < 1 || itemId > kItemCount || !record) return kFileInfoBadItem;
  const ItemSlot& slot = kItems[itemId - 1];
  if (!value || !Accepts(slot, value)) return kFileInfoBadValue;
  const int32_t recordSize = RecordSize(record);
  if (!FitsRecord(recordSize, slot.offset, slot.bytes)) return kFileInfoBadItem;

  unsigned char* bytes = RecordBytes(record);
  std::memcpy(bytes + slot.offset, value, static_cast<size_t>(slot.bytes));
  if (FitsRecord(recordSize, kItemFlagsOffset, kFieldBytes)) {
    uint32_t flags = 0;
    std::memcpy(&flags, bytes + kItemFlagsOffset, sizeof flags);
    flags |= 1u << (itemId - 1);
    std::memcpy(bytes + kItemFlagsOffset, &flags, sizeof flags);
  }
  return kErrNone;
}

FilterError ReadFileInfo(QvStream stream, FileInfoRecord* record) {
  if (!record) return kFileInfoBadRecord;
  const int32_t recordSize = RecordSize(record);
  if (recordSize <= 0 || recordSize > kFileInfoMaxRecordBytes) return kFileInfoBadRecord;

  GifHeader header = {};
  int32_t globalColorCount = 0;
  int32_t colorBits = 0;
  if (Unreported err = ReadGifHeader(stream, &header, &globalColorCount, &colorBits)) {
    return err.code;
  }

  const int32_t width = header.width;
  const int32_t height = header.height;
  if (SetFileInfoItem(record, kFileInfoItemWidth, &width) != 0 ||
      SetFileInfoItem(record, kFileInfoItemHeight, &height) != 0 ||
      SetFileInfoItem(record, kFileInfoItemBitsPerPixel, &colorBits) != 0) {
    return kFileInfoBadValue;
  }
  return kErrNone;
}

}  // namespace gifin

using namespace gifin;

int32_t WINAPI GetFileInfo(const char* path, FileInfoRecord* record, uintptr_t source,
                           HostStreamProc streamFunction) {
  // Without a record there is nothing to fill and nothing to read into; a
  // size out of range is refused before a byte is written, since a host
  // that got it wrong may own far fewer bytes than it says.
  if (!record) return kFileInfoBadRecord;
  const int32_t recordSize = RecordSize(record);
  if (recordSize <= 0 || recordSize > kFileInfoMaxRecordBytes) return kFileInfoBadRecord;

  InputSource from;
  from.path = path;
  from.streamFunction = streamFunction;
  if (streamFunction) {
    from.streamUserValue = source;
  } else {
    from.memory = reinterpret_cast<HGLOBAL>(source);
  }
  // A path is read no further than its 260 bytes, on every road; one that
  // does not end there opens nothing and ends as ImportFile ends for it.
  const bool pathFits = FitsTextField(path);
  OpenedInput input;
  // A failed open is not an error of its own here: the header read on the
  // null stream gives kErrRead, as hosts have always seen it.
  if (pathFits) static_cast<void>(OpenInput(from, &input));

  // Everything after the size field; a record of under 4 bytes has nothing.
  if (recordSize > kFirstClearedByte) {
    std::memset(RecordBytes(record) + kFirstClearedByte, 0,
                static_cast<size_t>(recordSize - kFirstClearedByte));
  }

  const FilterError result = pathFits ? ReadFileInfo(input.stream, record) : kErrStreamOpen;
  CloseInput(&input);
  return result;
}
