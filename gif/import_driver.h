// The import of one GIF into the host's picture.
#ifndef GIFIMPORT_GIF_IMPORT_DRIVER_H
#define GIFIMPORT_GIF_IMPORT_DRIVER_H

#include "core/filter_setup.h"
#include "core/status.h"

namespace gifin {

// Opens the input (host stream, memory block or file), builds the picture
// block by block and closes everything again. The first failure is the
// result; kErrCancelled when the host cancelled.
FilterError RunImport(FilterSetup* job);

}  // namespace gifin

#endif
