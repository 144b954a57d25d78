/* A minimal host of the GIF import filter, in C.
 *
 *   host FILE.gif [OUT.png | OUT.svg]
 *
 * Loads the filter module at run time (the one named by $GIFIN_MODULE, else
 * the one it was built against), makes a setup, imports FILE.gif with a
 * status callback that prints the progress, prints the bitmaps of the
 * picture the companion library stand-in recorded, and saves the picture.
 *
 * Built against an installed gifimport, through pkg-config:
 *   cc host.c -o host $(pkg-config --cflags --libs gifimport) \
 *      -Wl,-rpath,$(pkg-config --variable=libdir gifimport) \
 *      -DGIFIN_MODULE="\"$(pkg-config --variable=module gifimport)\""
 * or through CMake: examples/CMakeLists.txt (find_package(gifimport)).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gifimport/filter_api.h"
#include "gifimport/standin_picture.h"

/* Loading a module and finding its exports: the one thing that differs
 * between Windows and elsewhere. */
#if defined(_WIN32)
typedef HMODULE Module;
#define OpenModule(path) LoadLibraryA(path)
#define CloseModule(module) FreeLibrary(module)
#define FindExport(module, pointer, name)              \
  do {                                                 \
    FARPROC found_ = GetProcAddress((module), (name)); \
    memcpy(&(pointer), &found_, sizeof(pointer));      \
  } while (0)
#ifndef GIFIN_MODULE
#define GIFIN_MODULE "gifin.dll" /* beside the program, or on the DLL search path */
#endif
#else
#include <dlfcn.h>
typedef void* Module;
#define OpenModule(path) dlopen((path), RTLD_NOW | RTLD_LOCAL)
#define CloseModule(module) dlclose(module)
/* dlsym's object pointer copied into a function pointer, as POSIX allows. */
#define FindExport(module, pointer, name)         \
  do {                                            \
    void* found_ = dlsym((module), (name));       \
    memcpy(&(pointer), &found_, sizeof(pointer)); \
  } while (0)
#ifndef GIFIN_MODULE
#define GIFIN_MODULE "./gifin.so"
#endif
#endif

/* The exports this host calls (every export is WINAPI: stdcall on 32-bit
 * Windows). */
typedef HGLOBAL(WINAPI* CreateSetupProc)(HINSTANCE, const char*, const char*, uint32_t);
typedef int32_t(WINAPI* DestroySetupProc)(HGLOBAL);
typedef int32_t(WINAPI* ImportFileProc)(uint32_t, const char*, const char*, const char*,
                                        ImportRequest*);

/* Every progress, range and error report of the import comes here. The
 * answer 0 lets the import go on; a non-zero answer to a progress report
 * asks it to stop (the filter then asks again, kind 2, code 61). */
static int32_t WINAPI OnStatus(uint32_t userValue, int32_t kind, int32_t code, int32_t value1,
                               int32_t value2, int32_t severity, int32_t* extra) {
  (void)userValue; /* ImportFile's context.userValue, given back to every call */
  (void)value2;
  (void)extra;
  if (kind == kStatusProgress && code == kStatusCodeProgress) {
    printf("progress %3d%%\n", value1);
  } else if (kind == kStatusError) {
    printf("error %d reported (severity %d)\n", code, severity);
  }
  return 0;
}

/* One bitmap: where it stands, what it is, and its pixels as palette
 * indices (the first 16 rows and 32 columns, in hexadecimal). */
static void PrintBitmap(const StandInPicture* picture, int index) {
  static uint8_t pixels[1 << 20];
  StandInBitmapInfo bitmap;
  int x, y;
  StandInPictureGetBitmap(picture, index, &bitmap);
  printf("bitmap %d: %d x %d at left %d, top %d (picture space, y up), depth %d, %s", index + 1,
         bitmap.width, bitmap.height, bitmap.left, bitmap.top, bitmap.depth,
         bitmap.transparent ? "transparent index " : "opaque");
  if (bitmap.transparent) printf("%d", bitmap.backColorIndex);
  printf(", %d palette entries\n", bitmap.paletteCount);
  if (StandInPictureBitmapPixels(picture, index, pixels, sizeof pixels) < 0) {
    printf("  (too large to print)\n");
    return;
  }
  for (y = 0; y < bitmap.height && y < 16; ++y) {
    printf("  ");
    for (x = 0; x < bitmap.width && x < 32; ++x) printf("%02x", pixels[y * bitmap.width + x]);
    printf("%s\n", bitmap.width > 32 ? " ..." : "");
  }
  if (bitmap.height > 16) printf("  ...\n");
}

int main(int argc, char** argv) {
  const char* modulePath = getenv("GIFIN_MODULE") ? getenv("GIFIN_MODULE") : GIFIN_MODULE;
  Module module;
  CreateSetupProc createSetup;
  DestroySetupProc destroySetup;
  ImportFileProc importFile;
  HGLOBAL setup;
  HostContext context;
  ImportRequest request;
  int32_t result;
  const StandInPicture* picture;
  StandInPictureInfo info;
  char error[256];
  int i;

  if (argc < 2 || argc > 3) {
    fprintf(stderr, "usage: %s FILE.gif [OUT.png | OUT.svg]\n", argv[0]);
    return 2;
  }
  module = OpenModule(modulePath);
  if (!module) {
    fprintf(stderr, "cannot load %s\n", modulePath);
    return 2;
  }
  FindExport(module, createSetup, "CreateSetup");
  FindExport(module, destroySetup, "DestroySetup");
  FindExport(module, importFile, "ImportFile");
  if (!createSetup || !destroySetup || !importFile) {
    fprintf(stderr, "%s is not the GIF import filter\n", modulePath);
    CloseModule(module);
    return 2;
  }

  /* A setup from the profile beside the module or in the Windows directory,
   * else the defaults: no module handle, no profile name, no mode name. */
  setup = createSetup(NULL, NULL, NULL, 0);
  if (!setup) {
    fprintf(stderr, "the filter made no setup\n");
    CloseModule(module);
    return 1;
  }

  /* The records of one import: all 0 but what this host uses. */
  memset(&context, 0, sizeof context);
  context.statusCallback = OnStatus;
  context.userValue = 1;
  memset(&request, 0, sizeof request);
  request.setupHandle = setup;
  request.hostContext = &context;

  /* openName and startName (both "") go to the companion library's document
   * as it is opened and started; the path names the GIF. */
  result = importFile(0, "", "", argv[1], &request);
  printf("ImportFile: %d\n", result);

  /* The stand-in keeps the picture the import built, also after a failure
   * that came once the document was made. */
  picture = StandInPictureLast();
  if (picture && StandInPictureGetInfo(picture, &info) == 0) {
    printf("picture: frame %d, %d, %d, %d; %d bitmap(s), %d text line(s)\n", info.frame[0],
           info.frame[1], info.frame[2], info.frame[3], info.bitmapCount, info.textCount);
    for (i = 0; i < info.bitmapCount; ++i) PrintBitmap(picture, i);
    if (result == 0 && argc > 2) {
      const char* dot = strrchr(argv[2], '.');
      const int format = dot && strcmp(dot, ".svg") == 0 ? kStandInSvg : kStandInPng;
      if (StandInPictureSave(picture, argv[2], format, NULL, error, sizeof error) == 0) {
        printf("saved %s\n", argv[2]);
      } else {
        printf("not saved: %s\n", error);
        result = 1;
      }
    }
  }

  destroySetup(setup);
  CloseModule(module);
  return result == 0 ? 0 : 1;
}
