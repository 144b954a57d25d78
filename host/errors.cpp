#include "host/errors.h"

namespace host {
namespace {

struct ErrorText {
  int32_t code;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {7, "the input cannot be opened"},
    {9, "the graphics library could not set up the font table"},
    {12, "the graphics library failed (library errors 21 to 26)"},
    {13, "the graphics library failed (library errors 161 to 166)"},
    {14, "the graphics library failed (library error 302)"},
    {15, "the graphics library failed (library error 303)"},
    {19, "the graphics library failed (library error 304 or 305)"},
    {21, "the GIF cannot be read: it ends early, or holds a block the filter does not know"},
    {23, "the graphics library failed (library error 301)"},
    {25, "the graphics library failed (library error 168)"},
    {26, "the graphics library reported an unknown error"},
    {27, "out of memory, or the picture cannot be created"},
    {28, "the GIF is larger than the picture's coordinates or bands can hold"},
    {61, "the import was cancelled"},
    {65, "the graphics library failed (library error 20)"},
    {-23, "not a GIF file, or its screen size cannot be worked out"},
    {-24, "unsupported GIF version (above 89)"},
    {-7, "the handle is not a live setup"},
    {-8, "the setup is in use by an import"},
    {-9, "a size no option has"},
    {0x4601, "the information record is too short for an item, or the item is unknown"},
    {0x4602, "a size or depth of 0 in the file, or a record too short to hold it"},
    {0x4603, "the information record's size is not between 1 and 64 bytes"},
    {5315, "there is no options block or no setup"},
    {5355, "the host's options refuse the import"},
};

}  // namespace

const char* FilterErrorMessage(int32_t code) {
  if (code == 0) return "no error";
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "unknown error";
}

std::string DescribeFilterError(int32_t code) {
  return std::string(FilterErrorMessage(code)) + " (error " + std::to_string(code) + ")";
}

}  // namespace host
