#include "output/builder_steps.h"

#include <cctype>
#include <cstring>

namespace gifin {

namespace {

constexpr int kMaxPaletteEntries = 256;

// Library error pending after the calls of a step, reported once.
FilterError CheckAndReport(FilterSetup* job) {
  LibraryErrorPair pair{};
  if (FilterError code = FetchLibraryError(job, &pair)) return Fail(job, code);
  return kErrNone;
}

// Equal without regard to case, reading no byte past the profile field.
bool SameNameNoCase(const char* requested, const char (&field)[kFontNameBytes]) {
  for (size_t i = 0; i < kFontNameBytes; ++i) {
    const int a = std::tolower(static_cast<unsigned char>(requested[i]));
    const int b = std::tolower(static_cast<unsigned char>(field[i]));
    if (a != b) return false;
    if (a == 0) return true;
  }
  return false;  // an unterminated field matches nothing
}

PaletteEntry EntryFromTriple(const uint8_t* rgb) {
  PaletteEntry entry{};
  entry.red = rgb[0];
  entry.green = rgb[1];
  entry.blue = rgb[2];
  return entry;
}

}  // namespace

FilterError BeginDocument(FilterSetup* job) {
  if (const HostContext* context = job->hostContext) {
    CallHostStatus(context->statusCallback, context->userValue, kStatusProgress, kStatusCodeRange,
                   job->progressBase, job->progressSpan, 0, nullptr);
  }

  const int16_t opened = QvDocOpen(job->picture, job->startName, job->openName, 0,
                                   job->optionsHandle, job->hostContext);
  if (opened != 0) {
    // 76 translates to 0: the library has nothing to do, so there is no
    // document to start and no error either.
    if (FilterError code = TranslateLibraryError(opened, kQvOpDocOpen)) return Fail(job, code);
    return kErrNone;
  }
  if (FilterError err = CheckAndReport(job)) return err;

  QvDocStart(job->picture, job->startName);
  LibraryErrorPair pair{};
  if (FilterError code = FetchLibraryError(job, &pair)) {
    QvDocClose(job->picture);  // its own result adds nothing to the first error
    return Fail(job, code);
  }
  return kErrNone;
}

FilterError SetFontTable(FilterSetup* job, int32_t count, const char* const* names) {
  const char* table[kMaxFontTableEntries];
  int entries = 0;
  int profileFonts = job->fontCount;
  if (profileFonts < 0) profileFonts = 0;
  if (profileFonts > kMaxProfileFonts) profileFonts = kMaxProfileFonts;

  if (count == 0) {
    for (int k = 0; k < profileFonts && entries < kMaxFontTableEntries; ++k)
      table[entries++] = job->fontFaces[k];
  } else if (count > 0 && names != nullptr) {
    const int requested = count < kMaxFontTableEntries ? count : kMaxFontTableEntries;
    for (int i = 0; i < requested; ++i) {
      const char* name = names[i];
      if (name == nullptr) continue;  // nothing to look up or to hand on
      const char* face = name;
      for (int k = 0; k < profileFonts; ++k) {
        if (SameNameNoCase(name, job->fontNames[k]) || SameNameNoCase(name, job->fontFaces[k])) {
          face = job->fontFaces[k];
          break;
        }
      }
      table[entries++] = face;
    }
  }

  if (entries > 0) QvSetFontTable(job->picture, entries, table);
  // Checked also without a table: an error left by earlier calls is found
  // here, as the driver expects.
  return CheckAndReport(job);
}

FilterError BeginPicture(FilterSetup* job, const char* name) {
  QvPictureBegin(job->picture, name);
  return CheckAndReport(job);
}

void SetPictureWindow(FilterSetup* job, int32_t flag, const PictureRect* rect, int16_t scaleMode) {
  if (rect == nullptr) return;
  PictureRect window{};
  if (flag == 0) {
    // Only the 16-bit values travel; whatever the caller left in the rest of
    // its slots does not reach the library.
    window.x1.value = rect->x1.value;
    window.y1.value = rect->y1.value;
    window.x2.value = rect->x2.value;
    window.y2.value = rect->y2.value;
  } else {
    std::memcpy(&window, rect, sizeof window);
  }
  if (scaleMode != kQvScaleMillimetres) QvSetScale(job->picture, scaleMode, 1.0);
  QvSetWindow(job->picture, &window);
}

FilterError EndPictureHeader(FilterSetup* job) {
  QvPictureHeaderEnd(job->picture);
  return CheckAndReport(job);
}

FilterError SetColorTable(FilterSetup* job, int16_t firstIndex, int32_t count, const uint8_t* rgb) {
  // A palette holds at most 256 colours; any other count (or no triples to
  // read) gets no buffer, as an allocation of that size could never succeed.
  if (count < 0 || count > kMaxPaletteEntries || (count > 0 && rgb == nullptr))
    return Fail(job, kErrMemory);

  auto* entries = static_cast<PaletteEntry*>(AllocWorkBlock(size_t(count) * sizeof(PaletteEntry)));
  if (entries == nullptr) return Fail(job, kErrMemory);
  for (int32_t i = 0; i < count; ++i) entries[i] = EntryFromTriple(rgb + 3 * i);
  QvSetPalette(job->picture, firstIndex, count, entries);
  FreeWorkBlock(&entries);
  return kErrNone;
}

void SetBackground(FilterSetup* job, const uint8_t* rgb) {
  const PaletteEntry color = EntryFromTriple(rgb);
  QvSetBackgroundColor(job->picture, &color);
}

FilterError EndPicture(FilterSetup* job) {
  QvPictureEnd(job->picture);
  return kErrNone;
}

FilterError FinishDocument(FilterSetup* job) {
  QvDocFinish(job->picture);
  LibraryErrorPair pair{};
  FilterError code = FetchLibraryError(job, &pair);
  if (code != kErrNone) Fail(job, code);

  const int16_t closed = QvDocClose(job->picture);
  if (closed != 0) {
    // A close that translates to 0 (76, nothing to do) keeps the earlier
    // error: it was reported, so the result must not claim success.
    if (FilterError closeCode = TranslateLibraryError(closed, kQvOpDocClose)) {
      code = Fail(job, closeCode);
    }
  }
  return code;
}

}  // namespace gifin
