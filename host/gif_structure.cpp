#include "host/gif_structure.h"

#include <cstdio>

#include "gifimport/gif_format.h"

namespace host {
namespace {

// The input's bytes as the reader indexes them.
class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t size() const { return size_; }
  const uint8_t* begin() const { return data_; }
  const uint8_t& operator[](size_t i) const { return data_[i]; }

 private:
  const uint8_t* data_;
  size_t size_;
};

class Reader {
 public:
  explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
  int64_t position() const { return position_; }
  bool Has(int64_t n) const { return position_ + n <= static_cast<int64_t>(bytes_.size()); }
  int Byte() { return bytes_[static_cast<size_t>(position_++)]; }
  int Short() {
    const int low = Byte();
    return low | (Byte() << 8);
  }
  void Skip(int64_t n) { position_ += n; }
  std::string Text(int64_t n) {
    std::string text(bytes_.begin() + position_, bytes_.begin() + position_ + n);
    position_ += n;
    return text;
  }
  // Walks sub-blocks up to the terminator, handing each to `take`; false
  // when the file ends first.
  template <typename F>
  bool SubBlocks(F take) {
    while (Has(1)) {
      const int size = Byte();
      if (size == 0) return true;
      if (!Has(size)) return false;
      take(position_, size);
      Skip(size);
    }
    return false;
  }
  // As SubBlocks, the first block to `first` and every later one to `rest`.
  template <typename F, typename R>
  bool FirstAndRest(F first, R rest) {
    bool isFirst = true;
    return SubBlocks([&](int64_t at, int size) {
      if (isFirst) {
        first(at, size);
      } else {
        rest(at, size);
      }
      isFirst = false;
    });
  }

 private:
  const Bytes& bytes_;
  int64_t position_ = 0;
};

void Stop(GifStructure* gif, int64_t offset, const std::string& problem) {
  gif->problem = problem;
  gif->problemOffset = offset;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto code = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (code < 0x20 || code >= 0x7F) {
      char escaped[8];
      // Bytes above 0x7F are Latin-1, as the text renderers take them.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", code);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

GifStructure ReadGifStructure(const uint8_t* data, size_t length) {
  const Bytes bytes(data, length);
  GifStructure gif;
  gif.size = static_cast<int64_t>(bytes.size());
  Reader in(bytes);
  if (!in.Has(13)) return Stop(&gif, 0, "the file ends inside the header"), gif;
  if (in.Text(3) != "GIF") return Stop(&gif, 0, "the file does not start with \"GIF\""), gif;
  gif.version = in.Text(3);
  gif.width = in.Short();
  gif.height = in.Short();
  const int flags = in.Byte();
  gif.backgroundIndex = in.Byte();
  gif.aspect = in.Byte();
  gif.colorResolution = ((flags >> kColorResolutionShift) & 7) + 1;
  const int globalBits = (flags & kSizeFieldMask) + 1;
  if (flags & kColorTableFlag) {
    gif.globalColors = 1 << globalBits;
    if (!in.Has(3 * gif.globalColors))
      return Stop(&gif, 13, "the file ends inside the global colour table"), gif;
    in.Skip(3 * gif.globalColors);
  }

  // What the import keeps from block to block, never reset by an image: the
  // latest control record, and the back colour index (set by a transparent
  // record or a plain text) with the plain text that set it.
  bool hasControl = false;
  GifControl control;
  int backIndex = 0, backIndexPlainText = 0;
  while (in.Has(1)) {
    const int64_t start = in.position();
    const int introducer = in.Byte();
    if (introducer == kTrailer) {
      gif.trailer = true;
      gif.bytesAfterTrailer = gif.size - in.position();
      return gif;
    }
    if (introducer == kImageSeparator) {
      const int number = static_cast<int>(gif.images.size()) + 1;
      const std::string name = "image " + std::to_string(number);
      GifImageInfo image;
      image.offset = start;
      image.hasControl = hasControl;
      image.control = control;
      image.transparent = hasControl && control.transparent;
      image.transparentIndex = backIndex;
      image.indexFromPlainText = backIndexPlainText;
      if (!in.Has(9))
        return Stop(&gif, start, "the file ends inside the descriptor of " + name), gif;
      image.left = in.Short();
      image.top = in.Short();
      image.width = in.Short();
      image.height = in.Short();
      const int imageFlags = in.Byte();
      image.interlaced = (imageFlags & kInterlaceFlag) != 0;
      image.depth = gif.globalColors ? globalBits : 0;
      if (imageFlags & kColorTableFlag) {
        image.depth = (imageFlags & kSizeFieldMask) + 1;
        image.localColors = 1 << image.depth;
        if (!in.Has(3 * image.localColors)) {
          gif.images.push_back(image);
          return Stop(&gif, start, "the file ends inside the colour table of " + name), gif;
        }
        in.Skip(3 * image.localColors);
      }
      const bool complete = in.Has(1) && (in.Skip(1), in.SubBlocks([](int64_t, int) {}));
      image.dataEnd = complete ? in.position() : gif.size;
      gif.images.push_back(image);
      if (!complete) return Stop(&gif, start, "the file ends inside the data of " + name), gif;
      continue;
    }
    if (introducer != kExtensionIntroducer) {
      ++gif.strayBytes;
      continue;
    }
    if (!in.Has(1)) return Stop(&gif, start, "the file ends inside an extension"), gif;
    const int label = in.Byte();
    bool complete = true;
    switch (label) {
      case kLabelGraphicControl: {
        // As the import reads it: every block of 4 bytes is a record and the
        // last wins; blocks of another size change nothing.
        complete = in.SubBlocks([&](int64_t at, int size) {
          if (size != kGraphicControlBlockSize) return;
          const uint8_t* b = &bytes[static_cast<size_t>(at)];
          hasControl = true;
          control.disposal = (b[0] >> kDisposalShift) & kDisposalMask;
          control.transparent = (b[0] & kTransparentFlag) != 0;
          control.delay = b[1] | (b[2] << 8);
          control.transparentIndex = b[3];
          control.beforeImage = static_cast<int>(gif.images.size()) + 1;
          if (control.transparent) {
            backIndex = control.transparentIndex;
            backIndexPlainText = 0;
          }
        });
        break;
      }
      case kLabelComment: {
        std::string text;
        complete = in.SubBlocks([&](int64_t at, int size) {
          text.append(bytes.begin() + at, bytes.begin() + at + size);
        });
        gif.comments.push_back(text);
        break;
      }
      case kLabelPlainText: {
        GifPlainText plain;
        plain.offset = start;
        complete = in.Has(1);
        if (complete) plain.firstBlockSize = in.Byte();
        // Any other first block ends the extension at its size byte: the
        // import reads on from the next byte, and so must this reader.
        if (complete && plain.firstBlockSize == kPlainTextBlockSize) {
          complete = in.Has(kPlainTextBlockSize);
          if (complete) {
            const uint8_t* b = &bytes[static_cast<size_t>(in.position())];
            plain.left = b[0] | (b[1] << 8);
            plain.top = b[2] | (b[3] << 8);
            plain.width = b[4] | (b[5] << 8);
            plain.height = b[6] | (b[7] << 8);
            plain.cellWidth = b[8];
            plain.cellHeight = b[9];
            plain.foreground = b[10];
            plain.background = b[11];
            in.Skip(kPlainTextBlockSize);
            backIndex = plain.background;
            backIndexPlainText = static_cast<int>(gif.plainTexts.size()) + 1;
            complete = in.SubBlocks([&](int64_t at, int size) {
              const uint8_t* text = &bytes[static_cast<size_t>(at)];
              plain.text.append(text, text + size);
            });
          }
        }
        gif.plainTexts.push_back(plain);
        break;
      }
      case kLabelApplication: {
        GifApplication application;
        application.offset = start;
        complete = in.FirstAndRest(
            [&](int64_t at, int size) {
              const uint8_t* b = &bytes[static_cast<size_t>(at)];
              application.identifier.assign(b, b + size);
            },
            [&](int64_t at, int size) {
              const uint8_t* b = &bytes[static_cast<size_t>(at)];
              application.dataBytes += size;
              // The looping extension: sub-block id 1, then the count.
              if (application.identifier == "NETSCAPE2.0" && size >= 3 && b[0] == 1) {
                application.loopCount = b[1] | (b[2] << 8);
              }
            });
        gif.applications.push_back(application);
        break;
      }
      default: {
        char text[80];
        std::snprintf(text, sizeof text, "an extension of unknown label 0x%02X at byte %lld", label,
                      static_cast<long long>(start));
        return Stop(&gif, start, text), gif;
      }
    }
    if (!complete) return Stop(&gif, start, "the file ends inside an extension"), gif;
  }
  Stop(&gif, gif.size, "the file ends without a trailer");
  gif.trailerMissing = true;
  return gif;
}

std::string DescribeStopPosition(const GifStructure& gif, int64_t position) {
  if (position < 0) return "";
  std::string text =
      "reading stopped at byte " + std::to_string(position) + " of " + std::to_string(gif.size);
  size_t begun = 0;
  while (begun < gif.images.size() && gif.images[begun].offset < position) ++begun;
  const std::string count = " of " + std::to_string(gif.images.size());
  if (begun == 0) {
    text += gif.images.empty() ? ", no image read" : ", before image 1" + count;
  } else if (position <= gif.images[begun - 1].dataEnd) {
    text += ", in image " + std::to_string(begun) + count;
  } else {
    text += ", after image " + std::to_string(begun) + count;
  }
  // What the host's reader found there names the cause.
  if (!gif.problem.empty() && gif.problemOffset <= position) text += " (" + gif.problem + ")";
  return text;
}

std::string GifStructureJson(const std::string& file, const GifStructure& gif, int fileInfoWidth,
                             int fileInfoHeight, int fileInfoDepth) {
  auto n = [](int64_t v) { return std::to_string(v); };
  std::string json = "{\"file\":" + Quote(file) + ",\"bytes\":" + n(gif.size) +
                     ",\"version\":" + Quote(gif.version) + ",\"width\":" + n(fileInfoWidth) +
                     ",\"height\":" + n(fileInfoHeight) + ",\"bitsPerPixel\":" + n(fileInfoDepth) +
                     ",\"screen\":{\"width\":" + n(gif.width) + ",\"height\":" + n(gif.height) +
                     ",\"colorResolution\":" + n(gif.colorResolution) +
                     ",\"aspect\":" + n(gif.aspect) + "},\"globalColors\":" + n(gif.globalColors) +
                     ",\"backgroundIndex\":" + n(gif.backgroundIndex) + ",\"images\":[";
  for (size_t i = 0; i < gif.images.size(); ++i) {
    const GifImageInfo& m = gif.images[i];
    json += std::string(i ? "," : "") + "{\"offset\":" + n(m.offset) + ",\"left\":" + n(m.left) +
            ",\"top\":" + n(m.top) + ",\"width\":" + n(m.width) + ",\"height\":" + n(m.height) +
            ",\"depth\":" + n(m.depth) + ",\"interlaced\":" + (m.interlaced ? "true" : "false") +
            ",\"localColors\":" + n(m.localColors) +
            ",\"transparent\":" + (m.transparent ? "true" : "false");
    if (m.transparent) json += ",\"transparentIndex\":" + n(m.transparentIndex);
    const bool carried = m.hasControl && m.control.beforeImage != static_cast<int>(i) + 1;
    const int plainText = m.transparent ? m.indexFromPlainText : 0;
    if (carried || plainText) {
      json += ",\"transparencyFrom\":{\"controlBeforeImage\":" + n(m.control.beforeImage);
      if (plainText) json += ",\"plainText\":" + n(plainText);
      json += "}";
    }
    if (m.hasControl) {
      const GifControl& c = m.control;
      json += ",\"control\":{\"transparent\":" + std::string(c.transparent ? "true" : "false") +
              ",\"transparentIndex\":" + n(c.transparentIndex) + ",\"delay\":" + n(c.delay) +
              ",\"disposal\":" + n(c.disposal) + "}";
    }
    json += "}";
  }
  json += "],\"comments\":[";
  for (size_t i = 0; i < gif.comments.size(); ++i) json += (i ? "," : "") + Quote(gif.comments[i]);
  json += "],\"plainTexts\":[";
  for (size_t i = 0; i < gif.plainTexts.size(); ++i) {
    const GifPlainText& t = gif.plainTexts[i];
    if (t.firstBlockSize != kPlainTextBlockSize) {
      json += std::string(i ? "," : "") + "{\"firstBlockSize\":" + n(t.firstBlockSize) + "}";
      continue;
    }
    json += std::string(i ? "," : "") + "{\"left\":" + n(t.left) + ",\"top\":" + n(t.top) +
            ",\"width\":" + n(t.width) + ",\"height\":" + n(t.height) +
            ",\"cellWidth\":" + n(t.cellWidth) + ",\"cellHeight\":" + n(t.cellHeight) +
            ",\"foreground\":" + n(t.foreground) + ",\"background\":" + n(t.background) +
            ",\"text\":" + Quote(t.text) + "}";
  }
  json += "],\"applications\":[";
  for (size_t i = 0; i < gif.applications.size(); ++i) {
    const GifApplication& a = gif.applications[i];
    json += std::string(i ? "," : "") + "{\"identifier\":" + Quote(a.identifier) +
            ",\"dataBytes\":" + n(a.dataBytes);
    if (a.loopCount >= 0) json += ",\"loopCount\":" + n(a.loopCount);
    json += "}";
  }
  json += "],\"trailer\":" + std::string(gif.trailer ? "true" : "false") +
          ",\"bytesAfterTrailer\":" + n(gif.bytesAfterTrailer) +
          ",\"strayBytes\":" + n(gif.strayBytes);
  if (!gif.problem.empty())
    json += ",\"problem\":" + Quote(gif.problem) + ",\"problemOffset\":" + n(gif.problemOffset);
  return json + "}";
}

}  // namespace host
