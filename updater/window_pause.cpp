// The wait for Enter at the end of a run in a console window of the program's own.
#include "updater/window_pause.h"

#include <cstdlib>

#include "platform/console_control.h"
#include "updater/messages.h"

namespace updater {

namespace {

void PauseIfAlone() {
  if (console_control::AloneOnConsole()) WaitForEnter(stdin, stdout);
}

}  // namespace

void KeepOwnWindowOpenAtExit() {
  std::atexit(PauseIfAlone);
}

void WaitForEnter(FILE* in, FILE* out) {
  std::fputs(message::kPressEnter, out);
  std::fflush(out);
  for (int c = std::fgetc(in); c != EOF && c != '\n'; c = std::fgetc(in)) {
  }
}

}  // namespace updater
