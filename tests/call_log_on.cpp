// Linked into every test and fuzz program: they read the stand-in's call
// log, which is off unless a program asks for it.
#include "gifimport/standin_log.h"

namespace {
[[maybe_unused]] const bool kCallLogOn = (StandInSetLogging(1), true);
}  // namespace
