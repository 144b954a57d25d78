// IDs of the module's string table (texts in strings.inc). Key names and
// keywords are loaded with LoadStringA at the moment of use.
#ifndef GIFIMPORT_RESOURCES_STRING_IDS_H
#define GIFIMPORT_RESOURCES_STRING_IDS_H

enum GifinStringId : unsigned {
  kIdsModeKey = 1,
  kIdsDriverKey = 4,
  kIdsColorTableSourceKey = 5,
  kIdsFontStem = 7,
  kIdsColorStem = 8,
  kIdsFileKeyword = 9,
  kIdsTitle = 5103
};

#endif
