// The frames of an animation as a viewer shows them, composed from the
// bitmaps the filter sent (read through the stand-in's picture API) with
// each image's disposal method, which the host's own reader finds.
#ifndef GIFIMPORT_HOST_FRAMES_H
#define GIFIMPORT_HOST_FRAMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "gifimport/standin_picture.h"
#include "host/gif_structure.h"

namespace host {

// Disposal methods as a control block's 3 bits give them; 4 to 7 are not
// defined and, as viewers do, leave the frame in place like kKeep.
enum Disposal { kDisposeNone = 0, kDisposeKeep = 1, kDisposeBackground = 2, kDisposePrevious = 3 };

// "none", "keep", "background", "previous", or "reserved-N".
std::string DisposalName(int disposal);

struct FrameInfo {
  int bitmap = 0;     // its bitmap in the picture (0-based)
  int delay = 0;      // hundredths of a second
  int disposal = 0;   // as the control block gives it
  int firstItem = 0;  // its items in the picture's call order: [firstItem, endItem)
  int endItem = 0;    // (its bitmap, and the text lines drawn up to the next one)
  int left = 0, top = 0, width = 0, height = 0;  // GIF coordinates, as the image gave them
};

// A frame a bitmap; delay and disposal from the control record in force at
// its image, as `info` shows it: the filter keeps a record's transparency
// for later images, and ImageMagick its delay and disposal too. (Browsers
// give an image without a control block of its own none of them.)
std::vector<FrameInfo> ListFrames(const StandInPicture* picture, const GifStructure& gif);

// The canvas a viewer draws the frames on: one image of the screen's size,
// and one saved rectangle for a frame to be put back, both charged to the
// memory budget.
class FrameComposer {
 public:
  FrameComposer(const StandInPicture* picture, std::vector<FrameInfo> frames, bool background);
  ~FrameComposer();
  FrameComposer(const FrameComposer&) = delete;
  FrameComposer& operator=(const FrameComposer&) = delete;

  // The canvas as frame `number` (1-based, one after the last shown, or
  // later) is on screen: the frames since disposed of as their methods say
  // and drawn. False, with *error set, when memory runs short.
  bool ShowFrame(int number, std::string* error);
  const uint8_t* rgba() const { return canvas_.data(); }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool Start(std::string* error);
  void DisposeOf(const FrameInfo& frame);
  uint8_t* CanvasAt(int x, int y);  // the canvas's pixel (x, y), within it
  bool Draw(const FrameInfo& frame, std::string* error);
  // A frame's rectangle on the canvas, clipped; false when none of it is.
  bool Rectangle(const FrameInfo& frame, int* x, int* y, int* w, int* h) const;

  const StandInPicture* picture_;
  std::vector<FrameInfo> frames_;
  bool background_;
  uint8_t backgroundRgba_[4] = {0, 0, 0, 0};
  int width_ = 0, height_ = 0, shown_ = 0;
  std::vector<uint8_t> canvas_, saved_;
  unsigned long long canvasCharge_ = 0, savedCharge_ = 0;
};

}  // namespace host

#endif
