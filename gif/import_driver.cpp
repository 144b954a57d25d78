#include "gif/import_driver.h"

#include <cstring>

#include "core/input_source.h"
#include "gif/gif_format.h"
#include "gif/gif_header.h"
#include "gif/lzw_decoder.h"
#include "gif/plain_text.h"
#include "gif/raster.h"
#include "output/builder_steps.h"
#include "gifimport/companion.h"

namespace gifin {

namespace {

constexpr size_t kColorTableBytes = 768;
// The picture's coordinates are signed 16-bit values.
constexpr int32_t kMaxCoordinate = 32767;
constexpr int32_t kMinCoordinate = -32768;

const char* const kFontRequest[] = {"SWISS:HELVETICA"};
constexpr const char* kPictureName = "PICTURE 1";

// One unit in the last place below the double nearest 25.4 / 96; hosts
// compare the factor bit for bit.
constexpr uint64_t kScaleFactorBits = 0x3FD0EEEEEEEEEEEEull;

double ScaleFactor() {
  double factor;
  std::memcpy(&factor, &kScaleFactorBits, sizeof factor);
  return factor;
}

// Image descriptor after the ',' ("4s1c").
struct ImageDescriptor {
  uint16_t left, top, width, height;
  uint8_t packed;
};

// Graphic control extension data ("1c1s1c"): the 16-bit delay lands at the
// even offset 2.
struct GraphicControl {
  uint8_t packed;
  uint8_t pad;
  uint16_t delay;
  uint8_t transparentIndex;
};

// What the import has open. Each part is marked where it opens and cleared
// where it closes; CloseImport closes whatever is still marked, last opened
// first. The picture is open from BeginPicture to EndPicture, a bitmap in it
// from QvBitmapBegin to QvBitmapEnd.
enum class PictureState { kNone, kOpen, kBitmap };

struct OpenParts {
  OpenedInput input;           // open while input.stream is set
  bool document = false;       // job->picture made by QvDocCreate
  bool documentBegun = false;  // BeginDocument done: FinishDocument is owed
  PictureState picture = PictureState::kNone;
  uint8_t* globalTable = nullptr;  // work blocks
  uint8_t* localTable = nullptr;
};

struct ImportRun {
  FilterSetup* job = nullptr;
  OpenParts open;
  // The import's result: its first failure, reported where it was met. A
  // step the picture goes on past (a palette that could not be set, a
  // picture header the library refused) leaves its number here too, so the
  // import does not end as a success.
  FilterError result = kErrNone;
  GifHeader header{};
  int32_t globalColorCount = 0;
  int32_t colorBits = 0;
  int32_t outputDepth = 8;
  uint8_t graphicFlags = 0;
};

// Keeps `err` (already reported) as the result unless an earlier failure
// holds it; true when `err` is a failure.
bool Failed(ImportRun& run, FilterError err) {
  if (err != kErrNone && run.result == kErrNone) run.result = err;
  return err != kErrNone;
}

void SetPalette(ImportRun& run, int32_t count, const uint8_t* table) {
  Failed(run, SetColorTable(run.job, 0, count, table));
}

// `count` colour entries into a zero-filled 768-byte block of RGB triples,
// held in `*table` (one of the run's work blocks) until it is released.
FilterError ReadColorTable(ImportRun& run, int32_t count, uint8_t** table) {
  *table = static_cast<uint8_t*>(AllocWorkBlock(kColorTableBytes));
  if (!*table) return Fail(run.job, kErrMemory);
  if (QvStreamReadFormat(run.open.input.stream, kColorEntryFormat, *table, count) != count) {
    return Fail(run.job, kErrRead);
  }
  return kErrNone;
}

// Every sub-block of the size of the control record is read as one (the
// last wins); blocks of another size (a malformed or future extension) are
// skipped whole and leave transparency as it was.
FilterError ReadGraphicControl(ImportRun& run) {
  long budget = kMaxSubBlocks;
  const bool read =
      WalkSubBlocks(run.open.input.stream, &budget, [&run](uint8_t size, bool* consumed) {
        if (size != kGraphicControlBlockSize) return true;
        *consumed = true;
        GraphicControl control{};
        if (QvStreamReadFormat(run.open.input.stream, kGraphicControlFormat, &control, 1) != 1)
          return false;
        QvSetBackMode(run.job->picture, control.packed & kTransparentFlag);
        if (control.packed & kTransparentFlag) {
          const uint16_t index = control.transparentIndex;
          QvSetBackColorIndex(run.job->picture, &index);
        }
        run.graphicFlags = control.packed;
        return true;
      });
  return read ? kErrNone : Fail(run.job, kErrRead);
}

FilterError ReadExtension(ImportRun& run) {
  uint8_t label = 0;
  if (QvStreamRead(run.open.input.stream, &label, 1) != 1) return Fail(run.job, kErrRead);
  switch (label) {
    case kLabelPlainText:
      return RenderPlainText(run.job, run.open.input.stream, &run.header);
    case kLabelGraphicControl:
      return ReadGraphicControl(run);
    case kLabelComment:
    case kLabelApplication: {
      long budget = kMaxSubBlocks;
      return SkipSubBlocks(run.open.input.stream, &budget) ? kErrNone : Fail(run.job, kErrRead);
    }
    default:
      return Fail(run.job, kErrRead);
  }
}

// Every corner of the image in picture space fits the library's signed
// 16-bit coordinates, and one padded row fits a band. A GIF beyond that
// would wrap to other coordinates or send no band, and the host would get a
// picture that is not the GIF.
bool FitsPicture(uint16_t screenHeight, const ImageDescriptor& image, int32_t depth) {
  const int32_t right = int32_t{image.left} + image.width;
  const int32_t bottom = int32_t{screenHeight} - image.top - image.height;
  return right <= kMaxCoordinate && bottom >= kMinCoordinate &&
         RowLength(depth, image.width) <= kMaxBandBytes;
}

// QvBitmapBegin for `image` at `depth`: its corners in picture space, which
// points up; sums and differences wrap in 16 bits as the library's
// coordinates do.
void BeginBitmap(const ImportRun& run, const ImageDescriptor& image, int32_t depth) {
  const uint16_t screenHeight = run.header.height;
  const int16_t left = static_cast<int16_t>(image.left);
  const int16_t right = static_cast<int16_t>(image.left + image.width);
  const int16_t top = static_cast<int16_t>(screenHeight - image.top);
  const int16_t bottom = static_cast<int16_t>(screenHeight - image.top - image.height);
  BitmapCorners corners{};
  corners.xLeft.value = left;
  corners.yTop.value = top;
  corners.xRight.value = right;
  corners.yBottom.value = bottom;
  corners.xRight2.value = right;
  corners.yTop2.value = top;
  BitmapSize size{};
  size.width.value = image.width;
  size.rows.value = image.height;
  QvBitmapBegin(run.job->picture, &corners, &size, static_cast<int16_t>(-depth), kQvBitmapReserved0,
                kQvBitmapReserved1, kQvBitmapReserved3, run.graphicFlags & kTransparentFlag);
}

// One image: local palette, bitmap begin, decode and bands, bitmap end, and
// the global palette again after a local one.
FilterError ReadImage(ImportRun& run) {
  FilterSetup* job = run.job;
  QvStream stream = run.open.input.stream;
  ImageDescriptor image{};
  if (QvStreamReadFormat(stream, kImageDescriptorFormat, &image, 1) != 1) {
    return Fail(job, kErrRead);
  }

  int32_t localCount = 0;
  int32_t depth = run.outputDepth;
  if (image.packed & kColorTableFlag) {
    localCount = ColorTableEntries(image.packed);
    depth = DepthForSizeField(image.packed & kSizeFieldMask);
  }
  if (!FitsPicture(run.header.height, image, depth)) return Fail(job, kErrTooLarge);
  if (localCount != 0) {
    if (FilterError err = ReadColorTable(run, localCount, &run.open.localTable)) return err;
    SetPalette(run, localCount, run.open.localTable);
    FreeWorkBlock(&run.open.localTable);
  }

  BeginBitmap(run, image, depth);
  run.open.picture = PictureState::kBitmap;

  const int32_t topY = int32_t{run.header.height} - int32_t{image.top};
  if (FilterError err = DecodeImage(job, image.packed & kInterlaceFlag, depth, image.width,
                                    image.left, topY, image.height, stream)) {
    return err;
  }
  QvBitmapEnd(job->picture);
  run.open.picture = PictureState::kOpen;

  run.outputDepth = DepthForSizeField(run.colorBits - 1);
  if (localCount != 0 && run.globalColorCount != 0) {
    SetPalette(run, run.globalColorCount, run.open.globalTable);
  }
  return kErrNone;
}

// The block loop. 0 at the trailer or the end of the data.
FilterError ReadBlocks(ImportRun& run) {
  for (;;) {
    uint8_t introducer = 0;
    // The end of the data between blocks ends the picture like the trailer:
    // a file cut after its last image still imports.
    if (QvStreamRead(run.open.input.stream, &introducer, 1) != 1 || introducer == kTrailer) {
      return kErrNone;
    }
    FilterError err = kErrNone;
    if (introducer == kExtensionIntroducer) {
      err = ReadExtension(run);
    } else if (introducer == kImageSeparator) {
      err = ReadImage(run);
    }
    // Any other byte between blocks is junk that writers are known to leave;
    // it is skipped one byte at a time.
    if (err) return err;
  }
}

// From the picture's header to the final status check, in a begun
// document.
FilterError BuildPicture(ImportRun& run) {
  FilterSetup* job = run.job;
  if (FilterError err = BeginPicture(job, kPictureName)) return err;
  run.open.picture = PictureState::kOpen;

  PictureRect frame{};
  frame.x2.value = static_cast<int16_t>(run.header.width);
  frame.y2.value = static_cast<int16_t>(run.header.height);
  QvSetFrame(job->picture, &frame);
  QvSetScale(job->picture, kQvScaleMillimetres, ScaleFactor());
  SetPictureWindow(job, 0, &frame, kQvScaleMillimetres);
  Failed(run, EndPictureHeader(job));

  run.outputDepth = DepthForSizeField(run.colorBits - 1);
  if (run.globalColorCount != 0) {
    uint8_t*& table = run.open.globalTable;
    if (FilterError err = ReadColorTable(run, run.globalColorCount, &table)) return err;
    int32_t overrideCount = job->overrideColorCount;
    if (overrideCount > run.globalColorCount) overrideCount = run.globalColorCount;
    for (int32_t i = 0; i < overrideCount; ++i) {
      table[3 * i] = job->colors[i].red;
      table[3 * i + 1] = job->colors[i].green;
      table[3 * i + 2] = job->colors[i].blue;
    }
    SetPalette(run, run.globalColorCount, table);
    // An index past the table reads a zero entry of the 768-byte block: black.
    SetBackground(job, table + 3 * run.header.backgroundIndex);
  }
  run.graphicFlags = 0;

  if (FilterError err = ReadBlocks(run)) return err;

  job->percentDone = 100;
  return CheckImportStatus(job);
}

// Opens the input, reads the header and builds the document and its
// picture; every failure is reported where it is met and kept in the run,
// and what it leaves open is closed by CloseImport.
FilterError OpenAndBuild(ImportRun& run) {
  FilterSetup* job = run.job;
  OpenParts& open = run.open;

  InputSource source;
  source.path = job->inputPath;
  source.memory = job->hostContext ? job->hostContext->inputMemory : nullptr;
  source.streamUserValue = job->request ? job->request->streamUserValue : 0;
  source.streamFunction = job->persistentOptions.streamFunction;
  if (Unreported err = OpenInput(source, &open.input)) return Fail(job, err.code);

  if (Unreported err =
          ReadGifHeader(open.input.stream, &run.header, &run.globalColorCount, &run.colorBits)) {
    return Fail(job, err.code);
  }
  // A screen the picture's frame cannot hold is refused before a document
  // exists; GetFileInfo still tells its size.
  if (run.header.width > kMaxCoordinate || run.header.height > kMaxCoordinate) {
    return Fail(job, kErrTooLarge);
  }
  RecordInputSize(open.input.stream, job);

  job->picture = QvDocCreate(0);
  if (!job->picture) return Fail(job, kErrMemory);
  open.document = true;
  QvDocSetNames(job->picture, job->docNames[0], job->docNames[1], job->docNames[2]);

  if (FilterError err = BeginDocument(job)) return err;
  open.documentBegun = true;
  if (FilterError err = SetFontTable(job, 1, kFontRequest)) return err;
  return BuildPicture(run);
}

// Closes what the run has open, in the order the picture is built
// backwards. A bitmap a failed decode cut off is not ended, nor the picture
// it is in: both go with the document. A failing finish is the result only
// when nothing failed before.
void CloseImport(ImportRun& run) {
  FilterSetup* job = run.job;
  OpenParts& open = run.open;
  if (open.picture == PictureState::kOpen) Failed(run, EndPicture(job));
  open.picture = PictureState::kNone;
  FreeWorkBlock(&open.globalTable);
  FreeWorkBlock(&open.localTable);
  if (open.documentBegun) Failed(run, FinishDocument(job));
  open.documentBegun = false;
  if (open.document) QvDocDestroy(job->picture);
  open.document = false;
  job->picture = nullptr;
  CloseInput(&open.input);
}

}  // namespace

FilterError RunImport(FilterSetup* job) {
  job->picture = nullptr;
  ImportRun run;
  run.job = job;
  Failed(run, OpenAndBuild(run));
  CloseImport(run);
  return run.result;
}

}  // namespace gifin
