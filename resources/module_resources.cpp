#include "resources/module_resources.h"

namespace {

const ModuleStringResource kStrings[] = {
#define GIFIN_STRING(id, text) {id, text},
#include "resources/strings.inc"
#undef GIFIN_STRING
};

const ModuleVersionValue kVersionValues[] = {
#define GIFIN_VERSION_STRING(key, value) {#key, value},
#include "resources/version.inc"
#undef GIFIN_VERSION_STRING
};

}  // namespace

extern "C" const ModuleResources gifinModuleResources = {
    kStrings, static_cast<int>(sizeof kStrings / sizeof kStrings[0]), kVersionValues,
    static_cast<int>(sizeof kVersionValues / sizeof kVersionValues[0])};
