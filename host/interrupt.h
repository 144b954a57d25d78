// Ctrl-C during an import, and whether progress can be drawn: the system's
// business (interrupt_posix.cpp, interrupt_win.cpp).
#ifndef GIFIMPORT_HOST_INTERRUPT_H
#define GIFIMPORT_HOST_INTERRUPT_H

#include <cstdio>

namespace host {

// While one lives, the first Ctrl-C asks the import to stop instead of
// ending the program; a second one ends it.
class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
};

// True once Ctrl-C was pressed inside a scope.
bool InterruptRequested();

// True when standard error is a terminal (a progress bar can be drawn).
bool ErrorOutputIsTerminal();
// True when standard output / input is a terminal (no picture is written
// to one, nor read from one).
bool OutputIsTerminal();
bool InputIsTerminal();

// Standard input or output carrying GIF or PNG bytes: on Windows switched
// out of text mode, which would turn each byte 0x0A into two and stop
// reading at a byte 0x1A.
void UseBinaryMode(std::FILE* stream);

}  // namespace host

#endif
