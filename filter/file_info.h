// File information query: width, height and bits per pixel of a GIF into the
// host's size-prefixed FileInfoRecord (layout in filter_api.h). The export
// is GetFileInfo; these are its two steps. Nothing goes to a status callback.
//
// The record is any prefix of the 60-byte layout: recordSize says how many
// bytes the host owns, and the filter writes only inside them. A field is
// stored only when it lies wholly inside the record; itemFlags (+56) likewise.
#ifndef GIFIMPORT_FILTER_FILE_INFO_H
#define GIFIMPORT_FILTER_FILE_INFO_H

#include <cstdint>

#include "gifimport/filter_api.h"
#include "core/status.h"
#include "gifimport/companion.h"
#include "gifimport/input_stream.h"

namespace gifin {

constexpr int32_t kFileInfoMaxRecordBytes = 64;  // larger records are refused

// Item ids of what this filter fills.
constexpr int32_t kFileInfoItemWidth = 3;
constexpr int32_t kFileInfoItemHeight = 4;
constexpr int32_t kFileInfoItemBitsPerPixel = 7;

// Reads the GIF header from `stream` (null when the open failed, which reads
// as 21) and stores width, height and bits per pixel, in that order, stopping
// at the first store that fails. Results: 0; 0x4603 for a recordSize of 0 or
// less or above 64 (nothing read); 21, -23, -24 from the header; 0x4602 when
// an item was not stored. The record is expected cleared by the caller.
FilterError ReadFileInfo(QvStream stream, FileInfoRecord* record);

// Stores one item: ids 1 and 2 take a double > 0.0, ids 3 to 9 a signed
// 32-bit value > 0 (id 8: 0 or 1), read from `value`. Sets the item's bit in
// itemFlags when the record holds itemFlags. Results: 0; 0x4601 for an id
// outside 1..9 or a field that does not fit the record; 0x4602 for a refused
// value (tested before the record's size).
FilterError SetFileInfoItem(FileInfoRecord* record, int32_t itemId, const void* value);

}  // namespace gifin

#endif
