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

// Where a failure sends the import: which of the closing steps still run.
enum class Resume { kEndPicture, kFinishDocument, kDestroyDocument };

struct ImportRun {
  FilterSetup* job;
  QvStream stream = nullptr;
  GifHeader header{};
  int32_t globalColorCount = 0;
  int32_t colorBits = 0;
  uint8_t* globalTable = nullptr;
  uint8_t* localTable = nullptr;
  int32_t outputDepth = 8;
  uint8_t graphicFlags = 0;
  // A step the picture goes on past (a palette that could not be set, a
  // picture header the library refused) has reported its number; the import
  // must not then end as a success: the first such number is kept for the
  // result.
  FilterError keptFailure = kErrNone;
};

void KeepFailure(ImportRun& run, FilterError err) {
  if (run.keptFailure == kErrNone) run.keptFailure = err;
}

void SetPalette(ImportRun& run, int32_t count, const uint8_t* table) {
  KeepFailure(run, SetColorTable(run.job, 0, count, table));
}

// `count` colour entries into a zero-filled 768-byte block of RGB triples.
FilterError ReadColorTable(ImportRun& run, int32_t count, uint8_t** table) {
  *table = static_cast<uint8_t*>(AllocWorkBlock(kColorTableBytes));
  if (!*table) return Fail(run.job, kErrMemory);
  if (QvStreamReadFormat(run.stream, kColorEntryFormat, *table, count) != count) {
    return Fail(run.job, kErrRead);
  }
  return kErrNone;
}

// Every sub-block of the size of the control record is read as one (the
// last wins); blocks of another size (a malformed or future extension) are
// skipped whole and leave transparency as it was.
FilterError ReadGraphicControl(ImportRun& run) {
  long budget = kMaxSubBlocks;
  const bool read = WalkSubBlocks(run.stream, &budget, [&run](uint8_t size, bool* consumed) {
    if (size != kGraphicControlBlockSize) return true;
    *consumed = true;
    GraphicControl control{};
    if (QvStreamReadFormat(run.stream, kGraphicControlFormat, &control, 1) != 1) return false;
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
  if (QvStreamRead(run.stream, &label, 1) != 1) return Fail(run.job, kErrRead);
  switch (label) {
    case kLabelPlainText:
      return RenderPlainText(run.job, run.stream, &run.header);
    case kLabelGraphicControl:
      return ReadGraphicControl(run);
    case kLabelComment:
    case kLabelApplication: {
      long budget = kMaxSubBlocks;
      return SkipSubBlocks(run.stream, &budget) ? kErrNone : Fail(run.job, kErrRead);
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

// One image: local palette, bitmap begin, decode and bands, bitmap end, and
// the global palette again after a local one.
FilterError ReadImage(ImportRun& run, Resume* resume) {
  FilterSetup* job = run.job;
  ImageDescriptor image{};
  if (QvStreamReadFormat(run.stream, kImageDescriptorFormat, &image, 1) != 1) {
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
    FilterError err = ReadColorTable(run, localCount, &run.localTable);
    if (!err) SetPalette(run, localCount, run.localTable);
    FreeWorkBlock(&run.localTable);
    if (err) return err;
  }

  // Picture space points up; sums and differences wrap in 16 bits as the
  // library's coordinates do.
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
  QvBitmapBegin(job->picture, &corners, &size, static_cast<int16_t>(-depth), kQvBitmapReserved0,
                kQvBitmapReserved1, kQvBitmapReserved3, run.graphicFlags & kTransparentFlag);

  const int32_t topY = static_cast<int32_t>(screenHeight) - static_cast<int32_t>(image.top);
  if (FilterError err = DecodeImage(job, image.packed & kInterlaceFlag, depth, image.width,
                                    image.left, topY, image.height, run.stream)) {
    // The decoder has reported it; the picture is not ended, the document is.
    *resume = Resume::kFinishDocument;
    return err;
  }
  QvBitmapEnd(job->picture);

  run.outputDepth = DepthForSizeField(run.colorBits - 1);
  if (localCount != 0 && run.globalColorCount != 0) {
    SetPalette(run, run.globalColorCount, run.globalTable);
  }
  return kErrNone;
}

// The block loop. 0 at the trailer or the end of the data.
FilterError ReadBlocks(ImportRun& run, Resume* resume) {
  for (;;) {
    uint8_t introducer = 0;
    // The end of the data between blocks ends the picture like the trailer:
    // a file cut after its last image still imports.
    if (QvStreamRead(run.stream, &introducer, 1) != 1 || introducer == kTrailer) {
      return kErrNone;
    }
    FilterError err = kErrNone;
    if (introducer == kExtensionIntroducer) {
      err = ReadExtension(run);
    } else if (introducer == kImageSeparator) {
      err = ReadImage(run, resume);
    }
    // Any other byte between blocks is junk that writers are known to leave;
    // it is skipped one byte at a time.
    if (err) return err;
  }
}

// From the palettes to the final status check. Failures leave through
// *resume.
FilterError BuildPicture(ImportRun& run, Resume* resume) {
  FilterSetup* job = run.job;
  *resume = Resume::kEndPicture;

  PictureRect frame{};
  frame.x2.value = static_cast<int16_t>(run.header.width);
  frame.y2.value = static_cast<int16_t>(run.header.height);
  QvSetFrame(job->picture, &frame);
  QvSetScale(job->picture, kQvScaleMillimetres, ScaleFactor());
  SetPictureWindow(job, 0, &frame, kQvScaleMillimetres);
  KeepFailure(run, EndPictureHeader(job));

  run.outputDepth = DepthForSizeField(run.colorBits - 1);
  if (run.globalColorCount != 0) {
    if (FilterError err = ReadColorTable(run, run.globalColorCount, &run.globalTable)) return err;
    int32_t overrideCount = job->overrideColorCount;
    if (overrideCount > run.globalColorCount) overrideCount = run.globalColorCount;
    for (int32_t i = 0; i < overrideCount; ++i) {
      run.globalTable[3 * i] = job->colors[i].red;
      run.globalTable[3 * i + 1] = job->colors[i].green;
      run.globalTable[3 * i + 2] = job->colors[i].blue;
    }
    SetPalette(run, run.globalColorCount, run.globalTable);
    // An index past the table reads a zero entry of the 768-byte block: black.
    SetBackground(job, run.globalTable + 3 * run.header.backgroundIndex);
  }
  run.graphicFlags = 0;

  if (FilterError err = ReadBlocks(run, resume)) return err;

  job->percentDone = 100;
  return CheckImportStatus(job);
}

}  // namespace

FilterError RunImport(FilterSetup* job) {
  job->picture = nullptr;
  ImportRun run{job};

  InputSource source;
  source.path = job->inputPath;
  source.memory = job->hostContext ? job->hostContext->inputMemory : nullptr;
  source.streamUserValue = job->request ? job->request->streamUserValue : 0;
  source.streamFunction = job->persistentOptions.streamFunction;
  OpenedInput input;
  if (OpenInput(source, &input) != kErrNone) return Fail(job, kErrStreamOpen);
  run.stream = input.stream;

  FilterError result =
      ReadGifHeader(run.stream, &run.header, &run.globalColorCount, &run.colorBits);
  // A screen the picture's frame cannot hold is refused before a document
  // exists; GetFileInfo still tells its size.
  if (result == kErrNone &&
      (run.header.width > kMaxCoordinate || run.header.height > kMaxCoordinate)) {
    result = kErrTooLarge;
  }
  if (result != kErrNone) {
    Fail(job, result);
    CloseInput(&input);
    return result;
  }
  RecordInputSize(run.stream, job);

  job->picture = QvDocCreate(0);
  if (!job->picture) {
    CloseInput(&input);
    return Fail(job, kErrMemory);
  }
  QvDocSetNames(job->picture, job->docNames[0], job->docNames[1], job->docNames[2]);

  Resume resume = Resume::kEndPicture;
  if ((result = BeginDocument(job))) {
    resume = Resume::kDestroyDocument;
  } else if ((result = SetFontTable(job, 1, kFontRequest)) ||
             (result = BeginPicture(job, kPictureName))) {
    resume = Resume::kFinishDocument;
  } else {
    result = BuildPicture(run, &resume);
    // A failure the picture went on past precedes whatever stopped it later.
    if (run.keptFailure != kErrNone) result = run.keptFailure;
  }

  if (resume == Resume::kEndPicture) EndPicture(job);
  // Released here whichever way the import ends, also when decoding failed
  // and the picture was never ended.
  FreeWorkBlock(&run.globalTable);
  FreeWorkBlock(&run.localTable);
  if (resume != Resume::kDestroyDocument) {
    FilterError finish = FinishDocument(job);
    if (finish != kErrNone && result == kErrNone) result = finish;
  }
  QvDocDestroy(job->picture);
  job->picture = nullptr;
  CloseInput(&input);
  return result;
}
