// --profile FILE and --mode NAME: the names a host hands to CreateSetup, as
// the commands that make a setup take them.
#ifndef GIFIMPORT_HOST_SETUP_OPTIONS_H
#define GIFIMPORT_HOST_SETUP_OPTIONS_H

#include <string>

#include "gifimport/filter_api.h"

namespace host {

class FilterModule;

using CreateSetupProc = HGLOBAL(WINAPI*)(HINSTANCE, const char*, const char*, uint32_t);

struct SetupNames {
  std::string profile;  // empty: the profile named after the module
  std::string mode;     // empty: ~Mode of the profile's [ir_gif] section

  // Takes argv[*i] when it is --profile or --mode, with its value (moving *i
  // past it). 1 taken, 0 not one of these, -1 the value is missing (said).
  int Take(const char* command, int argc, char** argv, int* i);
  // CreateSetup with these names, null pointers for empty ones.
  HGLOBAL Create(CreateSetupProc createSetup) const;
  // The likely reason CreateSetup made no setup with these names.
  std::string WhyNoSetup(const FilterModule& filter) const;
  // False (said) when a profile was named but the setup found none; with
  // `verbose`, says the profile and mode section the setup took.
  bool CheckFound(HGLOBAL setup, bool verbose) const;
};

// The help lines of the two options.
extern const char kSetupOptionsHelp[];

}  // namespace host

#endif
