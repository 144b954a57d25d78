#include <signal.h>
#include <unistd.h>

#include "host/interrupt.h"

namespace host {

namespace {

volatile sig_atomic_t interruptRequested = 0;
struct sigaction previousAction = {};

// The handler falls back to the default after the first Ctrl-C, so a second
// one ends the program.
void OnInterrupt(int) { interruptRequested = 1; }

}  // namespace

InterruptScope::InterruptScope() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousAction);
}

InterruptScope::~InterruptScope() { sigaction(SIGINT, &previousAction, nullptr); }

bool InterruptRequested() { return interruptRequested != 0; }

bool ErrorOutputIsTerminal() { return isatty(STDERR_FILENO) != 0; }
bool OutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }
bool InputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

void UseBinaryMode(std::FILE*) {}  // POSIX streams have no text mode

}  // namespace host
