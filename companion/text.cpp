// Text helpers of the companion stand-in.
#include <cstring>

#include "companion/standin.h"
#include "companion/standin_internal.h"

using standin::internal::Entry;

extern "C" {

QV_API void WINAPI QvStringCopy(char* destination, const char* source) {
  Entry("QvStringCopy").Text("source", source).Log();
  if (destination == nullptr) return;
  if (source == nullptr) {
    destination[0] = '\0';
    return;
  }
  // The filter appends by copying onto its own text's terminator; move, not
  // copy, keeps that sound should the two ever overlap.
  std::memmove(destination, source, std::strlen(source) + 1);
}

QV_API void WINAPI QvPathDirectory(char* destination, const char* source) {
  Entry("QvPathDirectory").Text("source", source).Log();
  if (destination == nullptr) return;
  size_t keep = 0;
  if (source != nullptr) {
    // Either separator ends the directory: paths from a Windows host use
    // backslashes, ours use slashes.
    for (size_t i = 0; source[i] != '\0'; ++i) {
      if (source[i] == '/' || source[i] == '\\') keep = i + 1;
    }
    std::memmove(destination, source, keep);
  }
  destination[keep] = '\0';
}

}  // extern "C"
