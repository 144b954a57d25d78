// SVG output: the background as a rectangle, every bitmap as an embedded PNG
// at its place, every text line as a text element in its face and colour.
// It is meant to look like the PNG output in a browser.
#include <cctype>
#include <cstdio>
#include <new>

#include "companion/render_internal.h"

namespace standin {
namespace render {

namespace {

std::string Base64(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += kDigits[(v >> 6) & 63];
    out += kDigits[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = (bytes[i] << 16) | (two ? bytes[i + 1] << 8 : 0);
    out += kDigits[v >> 18];
    out += kDigits[(v >> 12) & 63];
    out += two ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// Text bytes are 8-bit; those above 0x7F are taken as Latin-1. Control
// bytes cannot appear in XML at all, not even as references: they become
// the replacement character.
std::string EscapeXml(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
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
// colon; whatever it names, sans-serif stands behind it. Characters that
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
  return family.empty() ? "sans-serif" : "'" + family + "', sans-serif";
}

std::string ColorText(const Rgb& color) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", color.red, color.green, color.blue);
  return text;
}

// One bitmap alone, clipped to the image, with its left-out pixels
// see-through; false with a message only when the PNG cannot be made.
bool AppendBitmap(const Picture& picture, const Bitmap& bitmap, int imageWidth, int imageHeight,
                  std::string* svg, std::string* error) {
  Canvas canvas;
  if (!BitmapBounds(picture, bitmap, imageWidth, imageHeight, &canvas.left, &canvas.top,
                    &canvas.width, &canvas.height)) {
    return true;  // nothing of it inside the frame
  }
  canvas.rgba.assign(static_cast<size_t>(canvas.width) * static_cast<size_t>(canvas.height) * 4, 0);
  DrawBitmap(picture, bitmap, &canvas);
  std::vector<uint8_t> png;
  if (!EncodePng(canvas.rgba.data(), canvas.width, canvas.height, &png, error)) return false;
  *svg += "<image x=\"" + std::to_string(canvas.left) + "\" y=\"" + std::to_string(canvas.top) +
          "\" width=\"" + std::to_string(canvas.width) + "\" height=\"" +
          std::to_string(canvas.height) +
          "\" preserveAspectRatio=\"none\" style=\"image-rendering:pixelated\" "
          "href=\"data:image/png;base64," +
          Base64(png) + "\"/>\n";
  return true;
}

void AppendText(const Picture& picture, const TextLine& line, std::string* svg) {
  const int x = line.x - picture.frame[0];
  const int y = picture.frame[3] - line.y;
  *svg += "<text x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) +
          "\" font-family=\"" + FontFamily(line.face) + "\" font-size=\"" +
          std::to_string(EffectiveTextHeight(line)) + "\" fill=\"" + ColorText(line.color) +
          "\" xml:space=\"preserve\" style=\"white-space:pre\">" + EscapeXml(line.text) +
          "</text>\n";
}

bool BuildSvg(const Picture& picture, std::string* svg, std::string* error) {
  int width = 0, height = 0;
  if (!ImageSize(picture, &width, &height, error)) return false;
  const std::string w = std::to_string(width), h = std::to_string(height);
  *svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
         "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
  const Rgb background = picture.hasBackground ? picture.background : Rgb{};
  *svg += "<rect x=\"0\" y=\"0\" width=\"" + w + "\" height=\"" + h + "\" fill=\"" +
          ColorText(background) + "\" shape-rendering=\"crispEdges\"/>\n";
  for (const Picture::Item& item : picture.order) {
    if (item.kind == Picture::Item::kBitmap && item.index < picture.bitmaps.size()) {
      if (!AppendBitmap(picture, picture.bitmaps[item.index], width, height, svg, error)) {
        return false;
      }
    } else if (item.kind == Picture::Item::kText && item.index < picture.texts.size()) {
      AppendText(picture, picture.texts[item.index], svg);
    }
  }
  *svg += "</svg>\n";
  return true;
}

}  // namespace

}  // namespace render
}  // namespace standin

int StandInRenderSvg(const standin::Picture& picture, const char* path, std::string* error) {
  std::string svg, message;
  bool done = false;
  try {
    done = standin::render::BuildSvg(picture, &svg, &message) &&
           standin::render::WriteBytes(path, svg.data(), svg.size(), &message);
  } catch (const std::bad_alloc&) {
    message = "not enough memory to build the SVG";
  }
  if (done) return 0;
  if (error) *error = message;
  return 1;
}
