// Picture builder steps: small wrappers around the companion document and
// picture operations on job->picture. Each returns 0 or the FilterError it
// has already reported (see each step).
#ifndef GIFIMPORT_OUTPUT_BUILDER_STEPS_H
#define GIFIMPORT_OUTPUT_BUILDER_STEPS_H

#include <cstdint>

#include "core/filter_setup.h"
#include "core/status.h"
#include "gifimport/companion.h"

namespace gifin {

constexpr int kMaxFontTableEntries = 32;

// Announces the progress range, opens and starts the document. Library code
// 76 from QvDocOpen ends the step with 0 without starting; a failed start
// closes the document again.
FilterError BeginDocument(FilterSetup* job);
// Maps up to 32 requested names through the profile fonts (names, then faces,
// without regard to case; first match wins). count 0 takes all profile faces;
// a negative count gives an empty table. Null names are skipped.
FilterError SetFontTable(FilterSetup* job, int32_t count, const char* const* names);
FilterError BeginPicture(FilterSetup* job, const char* name);
// flag 0: 16-bit rectangle form. A scale mode other than
// kQvScaleMillimetres sets scale 1.0.
void SetPictureWindow(FilterSetup* job, int32_t flag, const PictureRect* rect, int16_t scaleMode);
FilterError EndPictureHeader(FilterSetup* job);
// `count` RGB triples as PaletteEntry values; kErrMemory (reported) without memory,
// and for a count outside 0..256 or no triples, which no palette holds.
FilterError SetColorTable(FilterSetup* job, int16_t firstIndex, int32_t count, const uint8_t* rgb);
// One RGB triple; the library reports nothing for it.
void SetBackground(FilterSetup* job, const uint8_t* rgb);
FilterError EndPicture(FilterSetup* job);
// QvDocFinish and QvDocClose. A library error of the finish check is
// reported, its stop (901) too: the picture is complete by then and was not
// given up, so a report is all that tells a metafile capture not to keep
// it. A failed close replaces the earlier code, while a close that
// translates to 0 (library code 76) keeps it.
FilterError FinishDocument(FilterSetup* job);

}  // namespace gifin

#endif
