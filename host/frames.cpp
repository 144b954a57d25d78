#include "host/frames.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/platform_test.h"

namespace host {

std::string DisposalName(int disposal) {
  switch (disposal) {
    case kDisposeNone:
      return "none";
    case kDisposeKeep:
      return "keep";
    case kDisposeBackground:
      return "background";
    case kDisposePrevious:
      return "previous";
    default:
      return "reserved-" + std::to_string(disposal);
  }
}

std::vector<FrameInfo> ListFrames(const StandInPicture* picture, const GifStructure& gif) {
  std::vector<FrameInfo> frames;
  StandInPictureInfo info;
  if (StandInPictureGetInfo(picture, &info) != 0) return frames;
  const int items = StandInPictureItemCount(picture);
  for (int n = 0; n < items; ++n) {
    int32_t kind = 0, index = 0;
    if (StandInPictureGetItem(picture, n, &kind, &index) != 0 || kind != kStandInItemBitmap)
      continue;
    StandInBitmapInfo b;
    if (StandInPictureGetBitmap(picture, index, &b) != 0) continue;
    FrameInfo frame;
    frame.bitmap = index;
    // Text lines drawn before the first bitmap belong to the first frame.
    frame.firstItem = frames.empty() ? 0 : n;
    if (!frames.empty()) frames.back().endItem = n;
    // Back to GIF coordinates, as --dump-bitmaps gives them.
    frame.left = static_cast<uint16_t>(b.left - info.frame[0]);
    frame.top = static_cast<uint16_t>(info.frame[3] - b.top);
    frame.width = b.width;
    frame.height = b.height;
    const size_t image = frames.size();
    if (image < gif.images.size() && gif.images[image].hasControl) {
      frame.delay = gif.images[image].control.delay;
      frame.disposal = gif.images[image].control.disposal;
    }
    frames.push_back(frame);
  }
  if (!frames.empty()) frames.back().endItem = items;
  return frames;
}

namespace {

// Memory held for the canvas, against the budget the stand-ins share.
bool Charge(unsigned long long bytes, unsigned long long* held) {
  if (PlatformChargeMemory(bytes) == 0) return false;
  *held += bytes;
  return true;
}

void Release(unsigned long long* held) {
  PlatformReleaseMemory(*held);
  *held = 0;
}

}  // namespace

FrameComposer::FrameComposer(const StandInPicture* picture, std::vector<FrameInfo> frames,
                             bool background)
    : picture_(picture), frames_(std::move(frames)), background_(background) {}

FrameComposer::~FrameComposer() {
  Release(&canvasCharge_);
  Release(&savedCharge_);
}

bool FrameComposer::Start(std::string* error) {
  StandInPictureInfo info{};
  StandInPictureGetInfo(picture_, &info);
  width_ = info.frame[2] - info.frame[0];
  height_ = info.frame[3] - info.frame[1];
  if (width_ <= 0 || height_ <= 0) {
    *error = "the picture's frame is empty (" + std::to_string(width_) + " x " +
             std::to_string(height_) + ")";
    return false;
  }
  const size_t bytes = static_cast<size_t>(width_) * static_cast<size_t>(height_) * 4;
  if (!Charge(bytes, &canvasCharge_)) {
    *error = "a canvas of " + std::to_string(width_) + " x " + std::to_string(height_) +
             " pixels would pass the memory budget";
    return false;
  }
  // No background colour set means black, as the picture's own rendering has it.
  if (background_) {
    const StandInColor c = info.hasBackground ? info.background : StandInColor{0, 0, 0};
    const uint8_t filled[4] = {c.red, c.green, c.blue, 0xFF};
    std::memcpy(backgroundRgba_, filled, 4);
  }
  try {
    canvas_.resize(bytes);
  } catch (const std::bad_alloc&) {
    *error = "not enough memory for a canvas of " + std::to_string(width_) + " x " +
             std::to_string(height_) + " pixels";
    return false;
  }
  for (size_t i = 0; i < bytes; i += 4) std::memcpy(&canvas_[i], backgroundRgba_, 4);
  return true;
}

bool FrameComposer::Rectangle(const FrameInfo& frame, int* x, int* y, int* w, int* h) const {
  // The GIF's rectangle, as the bitmap was begun, clipped to the screen.
  const int left = std::max(0, frame.left), top = std::max(0, frame.top);
  const int right = std::min(width_, frame.left + frame.width);
  const int bottom = std::min(height_, frame.top + frame.height);
  if (left >= right || top >= bottom) return false;
  *x = left;
  *y = top;
  *w = right - left;
  *h = bottom - top;
  return true;
}

uint8_t* FrameComposer::CanvasAt(int x, int y) {
  return &canvas_[(static_cast<size_t>(y) * static_cast<size_t>(width_) + static_cast<size_t>(x)) *
                  4];
}

void FrameComposer::DisposeOf(const FrameInfo& frame) {
  int x = 0, y = 0, w = 0, h = 0;
  if (frame.disposal != kDisposeBackground && frame.disposal != kDisposePrevious) return;
  if (!Rectangle(frame, &x, &y, &w, &h)) return;
  const size_t rowBytes = static_cast<size_t>(w) * 4;
  for (int row = 0; row < h; ++row) {
    uint8_t* to = CanvasAt(x, y + row);
    if (frame.disposal == kDisposePrevious) {
      std::memcpy(to, &saved_[rowBytes * static_cast<size_t>(row)], rowBytes);
    } else {
      for (size_t i = 0; i < rowBytes; i += 4) std::memcpy(to + i, backgroundRgba_, 4);
    }
  }
  saved_.clear();
  saved_.shrink_to_fit();
  Release(&savedCharge_);
}

bool FrameComposer::Draw(const FrameInfo& frame, std::string* error) {
  int x = 0, y = 0, w = 0, h = 0;
  if (frame.disposal == kDisposePrevious && Rectangle(frame, &x, &y, &w, &h)) {
    // What is under the frame now comes back when it goes.
    const size_t rowBytes = static_cast<size_t>(w) * 4;
    const size_t bytes = rowBytes * static_cast<size_t>(h);
    if (!Charge(bytes, &savedCharge_)) {
      *error = "keeping " + std::to_string(w) + " x " + std::to_string(h) +
               " pixels under a frame would pass the memory budget";
      return false;
    }
    try {
      saved_.resize(bytes);
    } catch (const std::bad_alloc&) {
      *error = "not enough memory to keep the pixels under a frame";
      return false;
    }
    for (int row = 0; row < h; ++row) {
      std::memcpy(&saved_[rowBytes * static_cast<size_t>(row)], CanvasAt(x, y + row), rowBytes);
    }
  }
  for (int n = frame.firstItem; n < frame.endItem; ++n) {
    if (StandInPictureDrawItem(picture_, n, canvas_.data(), canvas_.size()) != 0) {
      *error = "the picture's item " + std::to_string(n + 1) + " cannot be drawn";
      return false;
    }
  }
  return true;
}

bool FrameComposer::ShowFrame(int number, std::string* error) {
  if (number < 1 || static_cast<size_t>(number) > frames_.size() || number < shown_) {
    *error = "there is no frame " + std::to_string(number) + " to show";
    return false;
  }
  if (shown_ == 0 && !Start(error)) return false;
  for (; shown_ < number; ++shown_) {
    if (shown_ > 0) DisposeOf(frames_[static_cast<size_t>(shown_ - 1)]);
    if (!Draw(frames_[static_cast<size_t>(shown_)], error)) return false;
  }
  return true;
}

}  // namespace host
