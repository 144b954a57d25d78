/* A host that wants a finished Windows metafile, in C.
 *
 *   metafile_host FILE.gif OUT.emf
 *
 * Loads the filter module at run time (the one named by $GIFIN_MODULE, else
 * the one it was built against) and calls ImportGR: the filter makes its own
 * setup and options, captures the picture it builds as an Enhanced Metafile
 * and hands back its handle with the frame and units per inch. The host
 * writes the metafile's bytes and deletes it. For that it links the Windows
 * calls: gdi32 on Windows, libWinPlatform elsewhere (pkg-config gifimport,
 * or the CMake target gifimport::WinPlatform).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gifimport/filter_api.h"

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
#define GIFIN_MODULE "gifin.dll"
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

typedef int32_t(WINAPI* ImportGRProc)(uint32_t, const SourceDescriptor*, ImportResult*, HGLOBAL);

/* The metafile's bytes into a new file; 0 on success. */
static int WriteMetafile(HENHMETAFILE metafile, const char* path) {
  const UINT size = GetEnhMetaFileBits(metafile, 0, NULL);
  BYTE* bytes = size ? (BYTE*)malloc(size) : NULL;
  FILE* out;
  int failed = 1;
  if (bytes && GetEnhMetaFileBits(metafile, size, bytes) == size && (out = fopen(path, "wb"))) {
    failed = fwrite(bytes, 1, size, out) != size;
    failed |= fclose(out) != 0;
  }
  free(bytes);
  return failed;
}

int main(int argc, char** argv) {
  const char* modulePath = getenv("GIFIN_MODULE") ? getenv("GIFIN_MODULE") : GIFIN_MODULE;
  Module module;
  ImportGRProc importGR;
  SourceDescriptor source;
  ImportResult result;
  int32_t status;

  if (argc != 3 || strlen(argv[1]) >= sizeof source.path) {
    fprintf(stderr, "usage: %s FILE.gif OUT.emf\n", argv[0]);
    return 2;
  }
  module = OpenModule(modulePath);
  if (!module) {
    fprintf(stderr, "cannot load %s\n", modulePath);
    return 2;
  }
  FindExport(module, importGR, "ImportGR");
  if (!importGR) {
    fprintf(stderr, "%s is not the GIF import filter\n", modulePath);
    CloseModule(module);
    return 2;
  }

  /* The GIF by its path (an empty path would take source.memory, a global
   * memory block holding the whole file); no options block of the host's. */
  memset(&source, 0, sizeof source);
  strcpy(source.path, argv[1]);
  memset(&result, 0, sizeof result);
  status = importGR(0, &source, &result, NULL);
  printf("ImportGR: %d\n", status);
  if (status != 0) { /* no metafile then: nothing to delete */
    CloseModule(module);
    return 1;
  }

  printf("frame %d, %d, %d, %d; %d units per inch\n", result.left, result.top, result.right,
         result.bottom, result.unitsPerInch);
  if (GetObjectType(result.metafile) == OBJ_ENHMETAFILE) {
    status = WriteMetafile((HENHMETAFILE)result.metafile, argv[2]);
    printf("%s %s\n", status ? "cannot write" : "wrote", argv[2]);
    DeleteEnhMetaFile((HENHMETAFILE)result.metafile);
  } else { /* an old-style metafile: this host writes only enhanced ones */
    DeleteMetaFile((HMETAFILE)result.metafile);
    status = 1;
  }
  CloseModule(module);
  return status == 0 ? 0 : 1;
}
