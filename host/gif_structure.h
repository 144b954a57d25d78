// The host's own small GIF reader: the structure of a file (blocks, their
// places and fields), without decoding pixels. `info` shows it, and failure
// messages use it to say where in the file the filter stopped reading.
#ifndef GIFIMPORT_HOST_GIF_STRUCTURE_H
#define GIFIMPORT_HOST_GIF_STRUCTURE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace host {

// One graphic control record: a control extension's sub-block of 4 bytes.
struct GifControl {
  bool transparent = false;
  int transparentIndex = 0, delay = 0, disposal = 0;
  int beforeImage = 0;  // the image it was read before (1 = the first)
};

struct GifImageInfo {
  int64_t offset = 0, dataEnd = 0;  // the descriptor's first byte; past the data's terminator
  int left = 0, top = 0, width = 0, height = 0;
  int depth = 0;  // bits per pixel of the colour table in force
  bool interlaced = false;
  int localColors = 0;  // 0: none
  // The control record in force, as the filter keeps it: the last 4-byte
  // block of the latest control extension that had one, before this image
  // or an earlier one.
  bool hasControl = false;
  GifControl control;
  // As the import drew the image: the record's flag, and the back colour
  // index then in force, the record's or the background of a plain text
  // read after it (indexFromPlainText, 1 = the first; 0: the record's).
  bool transparent = false;
  int transparentIndex = 0, indexFromPlainText = 0;
};

struct GifPlainText {
  int64_t offset = 0;
  // The filter reads a plain text only when its first block is 12 bytes;
  // else it goes on from the byte after this size, and so does the reader.
  int firstBlockSize = 0;
  int left = 0, top = 0, width = 0, height = 0, cellWidth = 0, cellHeight = 0;
  int foreground = 0, background = 0;
  std::string text;
};

struct GifApplication {
  int64_t offset = 0;
  std::string identifier;  // 8 bytes of name and 3 of authentication code
  int loopCount = -1;      // the looping extension's count (0: for ever), else -1
  int64_t dataBytes = 0;
};

struct GifStructure {
  int64_t size = 0;
  std::string version;  // "87a", "89a"
  int width = 0, height = 0, colorResolution = 0, backgroundIndex = 0, aspect = 0;
  int globalColors = 0;  // 0: no global table
  std::vector<GifImageInfo> images;
  std::vector<std::string> comments;
  std::vector<GifPlainText> plainTexts;
  std::vector<GifApplication> applications;
  int64_t strayBytes = 0;  // bytes between blocks that start none (readers skip them)
  bool trailer = false;
  int64_t bytesAfterTrailer = 0;
  // The first thing the reader could not read, and where; empty when none.
  std::string problem;
  int64_t problemOffset = -1;
  bool trailerMissing = false;  // the one problem the filter's import reads past
};

GifStructure ReadGifStructure(const uint8_t* data, size_t length);

// "reading stopped at byte P of S, in image 2 of 3 (the file ends inside
// image 2)": where `position` lies in the structure.
std::string DescribeStopPosition(const GifStructure& gif, int64_t position);

// The structure as one JSON object (with "file" first).
std::string GifStructureJson(const std::string& file, const GifStructure& gif, int fileInfoWidth,
                             int fileInfoHeight, int fileInfoDepth);

}  // namespace host

#endif
