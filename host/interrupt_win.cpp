#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "host/interrupt.h"

namespace host {

namespace {

volatile LONG interruptRequested = 0;

// The first Ctrl-C is taken (the import is asked to stop); after that the
// handler passes, and the next one ends the program.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  return InterlockedExchange(&interruptRequested, 1) == 0 ? TRUE : FALSE;
}

}  // namespace

InterruptScope::InterruptScope() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

InterruptScope::~InterruptScope() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }

bool InterruptRequested() { return interruptRequested != 0; }

bool ErrorOutputIsTerminal() { return _isatty(_fileno(stderr)) != 0; }
bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
bool InputIsTerminal() { return _isatty(_fileno(stdin)) != 0; }

void UseBinaryMode(std::FILE* stream) { _setmode(_fileno(stream), _O_BINARY); }

}  // namespace host
