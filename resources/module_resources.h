// The module's resources as data, for platforms whose loader has no resource
// section (the Linux build). Generated from strings.inc and version.inc.
#ifndef GIFIMPORT_RESOURCES_MODULE_RESOURCES_H
#define GIFIMPORT_RESOURCES_MODULE_RESOURCES_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ModuleStringResource {
  unsigned id;
  const char* text;
} ModuleStringResource;

typedef struct ModuleVersionValue {
  const char* key;
  const char* value;
} ModuleVersionValue;

typedef struct ModuleResources {
  const ModuleStringResource* strings;
  int stringCount;
  const ModuleVersionValue* versionValues;
  int versionValueCount;
} ModuleResources;

extern const ModuleResources gifinModuleResources;

#ifdef __cplusplus
}
#endif

#endif
