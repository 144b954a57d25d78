#include "host/errors.h"

#include "gifimport/filter_api.h"

namespace host {
namespace {

struct ErrorText {
  int32_t code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {kErrStreamOpen, "the input cannot be opened"},
    {kErrLibFontTable, "the graphics library could not set up the font table"},
    {kErrLibGroup21, "the graphics library failed (library errors 21 to 26)"},
    {kErrLibGroup161, "the graphics library failed (library errors 161 to 166)"},
    {kErrLib302, "the graphics library failed (library error 302)"},
    {kErrLib303, "the graphics library failed (library error 303)"},
    {kErrLibGroup304, "the graphics library failed (library error 304 or 305)"},
    {kErrRead, "the GIF cannot be read: it ends early, or holds a block the filter does not know"},
    {kErrLib301, "the graphics library failed (library error 301)"},
    {kErrLib168, "the graphics library failed (library error 168)"},
    {kErrLibUnknown, "the graphics library reported an unknown error"},
    {kErrMemory, "out of memory, or the picture cannot be created"},
    {kErrTooLarge, "the GIF is larger than the picture's coordinates or bands can hold"},
    {kErrCancelled, "the import was cancelled"},
    {kErrLib20, "the graphics library failed (library error 20)"},
    {kErrNotGif, "not a GIF file, or its screen size cannot be worked out"},
    {kErrVersion, "unsupported GIF version (above 89)"},
    {kSetupNotLive, "the handle is not a live setup"},
    {kSetupBusy, "the setup is in use by an import"},
    {kSetupBadSize, "a size no option has"},
    {kFileInfoBadItem, "the information record is too short for an item, or the item is unknown"},
    {kFileInfoBadValue, "a size or depth of 0 in the file, or a record too short to hold it"},
    {kFileInfoBadRecord, "the information record's size is not between 1 and 64 bytes"},
    {kHostNoOptionsOrSetup, "there is no options block or no setup"},
    {kHostRefused, "the host's options refuse the import"},
};

}  // namespace

const char* FilterErrorMessage(int32_t code) {
  if (code == kErrNone) return "no error";
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "unknown error";
}

std::string DescribeFilterError(int32_t code) {
  return std::string(FilterErrorMessage(code)) + " (error " + std::to_string(code) + ")";
}

}  // namespace host
