// Plain-text extension: drawn as word-wrapped lines in its text grid.
#ifndef GIFIMPORT_GIF_PLAIN_TEXT_H
#define GIFIMPORT_GIF_PLAIN_TEXT_H

#include "core/filter_setup.h"
#include "core/status.h"
#include "gif/gif_header.h"

namespace gifin {

// The stream stands after the label 0x01. Returns 0 (the block loop goes on
// from the next byte), or kErrRead or kErrMemory, reported.
FilterError RenderPlainText(FilterSetup* job, QvStream stream, const GifHeader* header);

}  // namespace gifin

#endif
