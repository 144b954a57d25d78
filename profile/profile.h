// INI profile: where it is, and what its mode section gives the setup.
#ifndef GIFIMPORT_PROFILE_PROFILE_H
#define GIFIMPORT_PROFILE_PROFILE_H

#include "filter/filter_setup.h"

// 0 when a profile was found and `path` (260 bytes) names it, 1 otherwise.
int FindProfile(char* path);

// Reads the setup's mode section: 0 when it has no "Driver" value, else 1.
int ReadModeSection(FilterSetup* setup, int readFonts, int readColors);
void ReadColorList(FilterSetup* setup);
void ReadFontList(FilterSetup* setup);

#endif
