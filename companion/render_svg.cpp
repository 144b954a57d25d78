// SVG output: the background as a rectangle when asked for, every bitmap as
// an embedded palette PNG at its place, every text line as a text element in
// its face and colour, all written as made. It is meant to look like the
// PNG output in a browser.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "companion/render_internal.h"

namespace standin {
namespace render {

namespace {

// Base64 of a PNG, written to the file as the encoder makes it, so that no
// embedded image is ever held whole in memory.
class Base64Writer {
 public:
  explicit Base64Writer(std::FILE* out) : out_(out) {}
  static bool Write(void* user, const uint8_t* data, size_t size) {
    auto* self = static_cast<Base64Writer*>(user);
    for (size_t i = 0; i < size; ++i) {
      self->group_[self->held_++] = data[i];
      if (self->held_ == 3) self->EmitGroup(3);
    }
    return self->Drain(false);
  }
  bool Finish() {
    if (held_ > 0) EmitGroup(held_);
    return Drain(true);
  }

 private:
  void EmitGroup(int count) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const uint32_t v =
        (group_[0] << 16) | (count > 1 ? group_[1] << 8 : 0) | (count > 2 ? group_[2] : 0);
    text_ += kDigits[v >> 18];
    text_ += kDigits[(v >> 12) & 63];
    text_ += count > 1 ? kDigits[(v >> 6) & 63] : '=';
    text_ += count > 2 ? kDigits[v & 63] : '=';
    held_ = 0;
  }
  bool Drain(bool all) {
    if (!all && text_.size() < 65536) return true;
    const bool written = std::fwrite(text_.data(), 1, text_.size(), out_) == text_.size();
    text_.clear();
    return written;
  }
  std::FILE* out_;
  uint8_t group_[3] = {};
  int held_ = 0;
  std::string text_;
};

// Text bytes are 8-bit; those above 0x7F are taken as Latin-1. Control
// bytes cannot appear in XML at all, not even as references: they become
// the replacement character.
std::string EscapeXml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (byte < 0x20) {
          out += "&#xFFFD;";
        } else if (byte >= 0x7F) {
          char reference[16];
          std::snprintf(reference, sizeof reference, "&#x%02X;", byte);
          out += reference;
        } else {
          out += c;
        }
    }
  }
  return out;
}

// A font table face such as "SWISS:HELVETICA" names a family after its
// colon, with the generic family of its kind behind it. Characters that
// could break out of the CSS value are dropped.
std::string FontFamily(const std::string& face) {
  const size_t colon = face.find(':');
  const std::string name = colon == std::string::npos ? face : face.substr(colon + 1);
  std::string family;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == ' ' || c == '-' || c == '_') family += c;
  }
  while (!family.empty() && family.back() == ' ') family.pop_back();
  while (!family.empty() && family.front() == ' ') family.erase(0, 1);
  const FaceKind kind = KindOfFace(face);
  const std::string generic = kind == FaceKind::kFixed   ? "monospace"
                              : kind == FaceKind::kSerif ? "serif"
                                                         : "sans-serif";
  return family.empty() ? generic : "'" + family + "', " + generic;
}

std::string ColorText(const Rgb& color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", color.red, color.green, color.blue);
  return text;
}

void AppendText(const Picture& picture, const TextLine& line, std::string* svg) {
  const int x = line.x - picture.frame[0];
  const int y = picture.frame[3] - line.y;
  *svg += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\" font-family=\"" +
          FontFamily(line.face) + "\" font-size=\"" + std::to_string(EffectiveTextHeight(line)) +
          "\" fill=\"" + ColorText(line.color) +
          "\" xml:space=\"preserve\" style=\"white-space:pre\">" + EscapeXml(line.text) +
          "</text>\n";
}

// One bitmap alone, clipped to the image, as a palette PNG (RGBA when it
// leaves pixels out and no palette entry is free for them), see-through
// where left out.
bool WriteBitmap(const Picture& picture, const Bitmap& bitmap, int imageWidth, int imageHeight,
                 const RenderOptions& options, int doneRows, int totalRows, std::FILE* out,
                 std::string* error) {
  int left = 0, top = 0, width = 0, height = 0;
  if (!BitmapBounds(picture, bitmap, imageWidth, imageHeight, &left, &top, &width, &height)) {
    return true;  // nothing of it inside the frame
  }
  const BitmapRows rows(picture, bitmap, imageHeight);
  PngPlan plan;
  plan.width = width;
  plan.height = height;
  std::vector<int16_t> line(static_cast<size_t>(width));
  const bool palette =
      PlanPalette({&bitmap}, nullptr, CoversArea({&rows}, left, top, width, height), &plan);
  auto fill = [&](int y, uint8_t* row) {
    std::fill(line.begin(), line.end(), -1);
    rows.Gather(top + y, left, width, line.data());
    for (int x = 0; x < width; ++x) {
      const int index = line[static_cast<size_t>(x)];
      if (palette) {
        row[x] = static_cast<uint8_t>(index < 0 ? plan.emptyIndex : index);
        continue;
      }
      uint8_t* pixel = row + static_cast<size_t>(x) * 4;
      const Rgb color = index >= 0 && static_cast<size_t>(index) < bitmap.palette.size()
                            ? bitmap.palette[index]
                            : Rgb{};
      pixel[0] = color.red;
      pixel[1] = color.green;
      pixel[2] = color.blue;
      pixel[3] = index < 0 ? 0 : 0xFF;
    }
  };
  std::fprintf(out,
               "<image x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" preserveAspectRatio=\"none\" "
               "style=\"image-rendering:pixelated\" href=\"data:image/png;base64,",
               left, top, width, height);
  Base64Writer base64(out);
  if (!WritePng(plan, fill, ByteSink{Base64Writer::Write, &base64}, options, doneRows, totalRows,
                error)) {
    return false;
  }
  base64.Finish();
  std::fputs("\"/>\n", out);
  return true;
}

bool WriteSvg(const Picture& picture, std::FILE* out, const RenderOptions& options,
              std::string* error) {
  int width = 0, height = 0;
  if (!ImageSize(picture, &width, &height, error)) return false;
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 "
               "%d %d\">\n",
               width, height, width, height);
  if (options.background) {
    const Rgb background = picture.hasBackground ? picture.background : Rgb{};
    std::fprintf(out,
                 "<rect x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" fill=\"%s\" "
                 "shape-rendering=\"crispEdges\"/>\n",
                 width, height, ColorText(background).c_str());
  }
  // Progress counts the rows of every embedded bitmap.
  int totalRows = 0, doneRows = 0;
  for (const Bitmap& bitmap : picture.bitmaps) {
    int l = 0, t = 0, w = 0, h = 0;
    if (BitmapBounds(picture, bitmap, width, height, &l, &t, &w, &h)) totalRows += h;
  }
  for (const Picture::Item& item : picture.order) {
    if (item.kind == Picture::Item::kBitmap && item.index < picture.bitmaps.size()) {
      const Bitmap& bitmap = picture.bitmaps[item.index];
      if (bitmap.depth != 1 && bitmap.depth != 4 && bitmap.depth != 8) continue;  // draws nothing
      if (!WriteBitmap(picture, bitmap, width, height, options, doneRows, totalRows, out, error))
        return false;
      int l = 0, t = 0, w = 0, h = 0;
      if (BitmapBounds(picture, bitmap, width, height, &l, &t, &w, &h)) doneRows += h;
    } else if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) {
      std::string text;
      AppendText(picture, picture.texts[item.index], &text);
      std::fputs(text.c_str(), out);
    }
  }
  std::fputs("</svg>\n", out);
  if (std::ferror(out)) {
    *error = std::string("cannot write the SVG: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

bool WriteImageSvg(const uint8_t* rgba, int width, int height, std::FILE* out,
                   const RenderOptions& options, std::string* error) {
  std::fprintf(out,
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 "
               "%d %d\">\n"
               "<image x=\"0\" y=\"0\" width=\"%d\" height=\"%d\" preserveAspectRatio=\"none\" "
               "style=\"image-rendering:pixelated\" href=\"data:image/png;base64,",
               width, height, width, height, width, height);
  Base64Writer base64(out);
  PngPlan plan;
  plan.width = width;
  plan.height = height;
  const size_t rowBytes = static_cast<size_t>(std::max(width, 0)) * 4;
  if (!WritePng(
          plan,
          [&](int y, uint8_t* row) {
            std::memcpy(row, rgba + rowBytes * static_cast<size_t>(y), rowBytes);
          },
          ByteSink{Base64Writer::Write, &base64}, options, 0, height, error)) {
    return false;
  }
  base64.Finish();
  std::fputs("\"/>\n</svg>\n", out);
  if (std::ferror(out)) {
    *error = std::string("cannot write the SVG: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace render
}  // namespace standin

int StandInWriteSvg(const standin::Picture& picture, std::FILE* out,
                    const standin::RenderOptions& options, std::string* error) {
  std::string message;
  bool done = false;
  try {
    done = out != nullptr && standin::render::WriteSvg(picture, out, options, &message);
    if (out == nullptr) message = "no output file";
  } catch (const std::bad_alloc&) {
    message = "not enough memory to write the SVG";
  }
  if (done) return 0;
  if (error) *error = message;
  return 1;
}

int StandInRenderSvg(const standin::Picture& picture, const char* path, std::string* error) {
  return standin::render::WriteToPath(picture, path, standin::render::FilledBackground(), error,
                                      StandInWriteSvg);
}
