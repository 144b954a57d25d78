// INI profile: where it is, and what its mode section gives the setup.
//
// Key names and keywords come from the module's string table (IDs in
// resources/string_ids.h), loaded into 260-byte buffers at the moment of use.
// Every path joined here stays inside its 260-byte buffer: a candidate that
// would not fit is not tried.
#ifndef GIFIMPORT_PROFILE_PROFILE_H
#define GIFIMPORT_PROFILE_PROFILE_H

#include "core/filter_setup.h"
#include "gifimport/win_platform.h"

namespace gifin {

// The filter's own profile section (it holds "~Mode"), and the stem of the
// default driver name, "ir_gif" followed by kDefaultDriverSuffix.
constexpr const char kFilterSectionName[] = "ir_gif";
constexpr const char kDefaultDriverSuffix[] = ".0";
// Replaces the module's extension to name the profile beside it.
constexpr const char kProfileExtension[] = ".INI";

// Looks for the profile in three places, in order, the first that opens for
// reading winning:
//   1. `path` as the host gave it, when not empty (left unchanged);
//   2. beside the module: the module's directory followed by `path`, or,
//      when `path` is empty, the module path with the extension of its file
//      name replaced by ".INI" (".INI" appended when the name has none);
//   3. the Windows directory, a separator when it lacks one, then `path` or
//      that module-derived file name.
// `path` is a 260-byte buffer. true when a profile was found and `path`
// names it; false otherwise, and then `path` holds the Windows-directory
// candidate (or what it held, when that did not fit), and the caller
// discards it.
bool FindProfile(char* path);

// Reads the setup's mode section (modeSection of the file profilePath):
// driverName, colorTableSource, then the colours when `readColors` and the
// fonts when `readFonts` are set, then overrideColorCount. false, having
// read nothing else, when the section has no non-empty "Driver" value.
bool ReadModeSection(FilterSetup* setup, bool readFonts, bool readColors);
// "Color[000]" onward until a key is missing or empty, at most 256 entries.
void ReadColorList(FilterSetup* setup);
// "Font[001]" onward likewise, at most 32 entries.
void ReadFontList(FilterSetup* setup);

// The file name that the profile reader is given for a profile path. A bare
// file name opened from the current directory, but the platform's reader
// looks bare names up in the Windows directory, so it gets "." and the
// separator in front; every other path is handed on as it is.
struct ProfileFile {
  char readerPath[kTextFieldBytes + 2];
};
void OpenProfileFile(const char* profilePath, ProfileFile* file);

// Reads `key` (the string-table entry `keyId`) of `section` into `buffer` of
// `size` bytes, with the empty text as the default. Returns the characters
// copied: 0 when the key is missing or empty, or its name cannot be loaded.
DWORD ReadProfileKey(const ProfileFile& file, const char* section, UINT keyId, char* buffer,
                     DWORD size);

}  // namespace gifin

#endif
