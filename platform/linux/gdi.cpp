// Windows and metafiles: handles over a copy of the metafile bytes.
//
// No drawing happens here; the companion library makes the bytes and the
// filter only asks a handle's kind and deletes a failed capture's metafile.
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/linux/stand_in_internal.h"
#include "platform/platform_test.h"

namespace {

struct Metafile {
  DWORD type;  // OBJ_ENHMETAFILE or OBJ_METAFILE
  std::vector<BYTE> bytes;
};

struct MetafileTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, Metafile> metafiles;
};

// Never destroyed, like the other registries of this library.
MetafileTable& Table() {
  static MetafileTable* table = new MetafileTable;
  return *table;
}

// The bytes are kept as given; no header check is made, since only our own
// companion stand-in makes them. Empty data makes no metafile.
uintptr_t Create(DWORD type, UINT size, const BYTE* bytes) {
  if (!bytes || size == 0) return 0;
  uintptr_t handle = winstandin::NewHandle();
  if (handle == 0) return 0;
  MetafileTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  table.metafiles[handle] = Metafile{type, std::vector<BYTE>(bytes, bytes + size)};
  return handle;
}

BOOL Delete(DWORD type, const void* handle) {
  MetafileTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.metafiles.find(reinterpret_cast<uintptr_t>(handle));
  if (it == table.metafiles.end() || it->second.type != type) return FALSE;
  winstandin::ReleaseHandle(it->first);
  table.metafiles.erase(it);
  return TRUE;
}

}  // namespace

extern "C" {

HWND WINAPI GetActiveWindow(void) { return nullptr; }

// Only metafiles are GDI objects here; anything else is no object (0).
DWORD WINAPI GetObjectType(HGDIOBJ object) {
  MetafileTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.metafiles.find(reinterpret_cast<uintptr_t>(object));
  return it == table.metafiles.end() ? 0 : it->second.type;
}

BOOL WINAPI DeleteEnhMetaFile(HENHMETAFILE metafile) { return Delete(OBJ_ENHMETAFILE, metafile); }
BOOL WINAPI DeleteMetaFile(HMETAFILE metafile) { return Delete(OBJ_METAFILE, metafile); }

HENHMETAFILE WINAPI SetEnhMetaFileBits(UINT size, const BYTE* bytes) {
  return reinterpret_cast<HENHMETAFILE>(Create(OBJ_ENHMETAFILE, size, bytes));
}

HMETAFILE WINAPI SetMetaFileBitsEx(UINT size, const BYTE* bytes) {
  return reinterpret_cast<HMETAFILE>(Create(OBJ_METAFILE, size, bytes));
}

// With no buffer, the size the bytes need; with one too small, 0 and nothing
// copied; else the bytes and their size.
UINT WINAPI GetEnhMetaFileBits(HENHMETAFILE metafile, UINT size, BYTE* buffer) {
  MetafileTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  auto it = table.metafiles.find(reinterpret_cast<uintptr_t>(metafile));
  if (it == table.metafiles.end() || it->second.type != OBJ_ENHMETAFILE) return 0;
  const std::vector<BYTE>& bytes = it->second.bytes;
  auto needed = static_cast<UINT>(bytes.size());
  if (!buffer) return needed;
  if (size < needed) return 0;
  std::memcpy(buffer, bytes.data(), bytes.size());
  return needed;
}

int PlatformLiveMetafiles(void) {
  MetafileTable& table = Table();
  std::lock_guard<std::mutex> guard(table.mutex);
  return static_cast<int>(table.metafiles.size());
}

}  // extern "C"
