// One number for a run, to compare imports of the same input: a second
// import, or one made on another thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "tests/e2e/import_host.h"

namespace e2e {

// 64-bit FNV-1a over anything compared between two runs (within one
// process: the library's hash may differ between builds).
class Digest {
 public:
  Digest& Add(const void* data, size_t size) {
    // Bands are large: their bytes go through the C++ library's string hash,
    // which has no coverage instrumentation to slow each byte down.
    if (size > 16)
      return Add(std::hash<std::string_view>{}({static_cast<const char*>(data), size}));
    const auto* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) value_ = (value_ ^ bytes[i]) * 0x100000001B3ull;
    return *this;
  }
  template <typename T>
  Digest& Add(const T& value) {
    static_assert(std::is_arithmetic_v<T> || std::is_enum_v<T>, "a number, not a record");
    return Add(&value, sizeof value);
  }
  Digest& Add(const std::string& text) { return Add(text.size()).Add(text.data(), text.size()); }
  Digest& Add(const standin::Rgb& c) { return Add(c.red).Add(c.green).Add(c.blue); }
  template <typename T>
  Digest& Add(const std::vector<T>& items) {
    Add(items.size());
    for (const T& item : items) Add(item);
    return *this;
  }
  uint64_t value() const { return value_; }

 private:
  uint64_t value_ = 0xCBF29CE484222325ull;
};

// Everything a document recorded, as one number.
inline uint64_t PictureDigest(const standin::Picture& p) {
  Digest d;
  for (const std::string& name : p.names) d.Add(name);
  d.Add(p.startName).Add(p.openName).Add(p.pictureName).Add(p.openReserved);
  for (int i = 0; i < 4; ++i) d.Add(p.frame[i]).Add(p.window[i]);
  d.Add(p.scaleMode).Add(p.scale).Add(p.fontTable).Add(p.palette).Add(p.background);
  d.Add(p.hasBackground).Add(p.backMode).Add(p.backColorIndex).Add(p.textColorIndex);
  d.Add(p.textHeight).Add(p.started).Add(p.finished).Add(p.closed).Add(p.aborted);
  for (const standin::Picture::Item& item : p.order) d.Add(item.kind).Add(item.index);
  for (const standin::Bitmap& b : p.bitmaps) {
    d.Add(b.left).Add(b.top).Add(b.right).Add(b.bottom).Add(b.width).Add(b.height).Add(b.depth);
    d.Add(b.transparent).Add(b.backColorIndex).Add(b.palette).Add(b.ended).Add(b.bands.size());
    for (const standin::Bitmap::Band& band : b.bands) {
      d.Add(band.left).Add(band.top).Add(band.right).Add(band.bottom).Add(band.width);
      d.Add(band.rows).Add(band.data);
    }
  }
  for (const standin::TextLine& t : p.texts) {
    d.Add(t.x).Add(t.y).Add(t.extentX).Add(t.extentY).Add(t.height).Add(t.colorIndex);
    d.Add(t.backColorIndex).Add(t.color).Add(t.face).Add(t.text);
  }
  return d.value();
}

// What another import of the same input on the same setup must repeat: the
// result, the host's status calls and the picture. The host's user values
// are left out: each import numbers its own.
inline uint64_t RunDigest(const e2e::ImportRun& run) {
  Digest d;
  d.Add(run.result).Add(run.recordsKept).Add(run.calls.size());
  for (const testhost::StatusCall& c : run.calls) {
    d.Add(c.kind).Add(c.code).Add(c.value1).Add(c.value2).Add(c.severity).Add(c.hasExtra);
    for (int32_t value : c.extra) d.Add(value);
  }
  return d.Add(run.picture.has_value()).Add(run.picture ? PictureDigest(*run.picture) : 0).value();
}

}  // namespace e2e
