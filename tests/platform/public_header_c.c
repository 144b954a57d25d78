/* The public header must stay valid C: this program includes it as C11 and
 * checks at run time the layouts that the header documents for both
 * pointer sizes (the header itself asserts only the 32-bit ones). */
#include <stdio.h>

#include "filter/filter_api.h"

static int failures = 0;

static void Check(const char* what, size_t actual, size_t expected) {
  if (actual == expected) return;
  fprintf(stderr, "%s: %zu, expected %zu\n", what, actual, expected);
  ++failures;
}

#define CHECK_AT(type, field, at32, at64) \
  Check(#type "." #field, offsetof(type, field), sizeof(void*) == 4 ? (at32) : (at64))
#define CHECK_SIZE(type, size32, size64) \
  Check("sizeof " #type, sizeof(type), sizeof(void*) == 4 ? (size32) : (size64))

int main(void) {
  CHECK_AT(FileInfoRecord, width, 16, 16);
  CHECK_AT(FileInfoRecord, itemFlags, 56, 56);

  CHECK_SIZE(HostContext, 60, 72);
  CHECK_AT(HostContext, hostValue, 20, 24);
  CHECK_AT(HostContext, inputMemory, 24, 32);
  CHECK_AT(HostContext, reserved14, 56, 68);

  CHECK_SIZE(ImportRequest, 36, 64);
  CHECK_AT(ImportRequest, hostContext, 24, 48);
  CHECK_AT(ImportRequest, streamUserValue, 28, 56);

  CHECK_SIZE(SourceDescriptor, 272, 280);
  CHECK_AT(SourceDescriptor, path, 12, 16);
  CHECK_SIZE(ImportResult, 24, 32);

  CHECK_SIZE(StreamOpenDescriptor, 24, 40);
  CHECK_AT(StreamOpenDescriptor, streamFunction, 16, 24);
  return failures == 0 ? 0 : 1;
}
