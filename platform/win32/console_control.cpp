// The console facilities on Windows. A console control handler keeps Ctrl-C, Ctrl-Break and the
// closing of the console window back while a hold exists and ends the process when the hold
// ends; without a hold it declines, so the default handling ends the process at once as before.
// The handler runs on a thread of its own that the system starts for each event.
#include "platform/console_control.h"

#include "platform/win32.h"

namespace console_control {

namespace {

// 0: no hold; 1: a hold, nothing pending; 2: a hold, and an event is waiting for its end.
volatile LONG holdState = 0;
int holdDepth = 0;  // holds alive on the main thread
bool handlerInstalled = false;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  // Moves 1 to 2; 2 stays 2; 0 stays 0 and lets the default handling end the process.
  if (InterlockedCompareExchange(&holdState, 2, 1) == 0) return FALSE;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the window, logoff or shutdown: returning would let the system end the process at
  // once, so this thread waits; the end of the hold ends the process before it wakes.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

InterruptHold::InterruptHold() {
  if (holdDepth++ != 0) return;
  if (!handlerInstalled) {
    // Without a console there are no events to hold; a failure changes nothing then.
    handlerInstalled = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
  }
  InterlockedExchange(&holdState, 1);
}

InterruptHold::~InterruptHold() {
  if (--holdDepth != 0) return;
  if (InterlockedExchange(&holdState, 0) == 2) {
    // What the default handling does with every console event.
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
}

bool AloneOnConsole() {
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) ||
      !GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) {
    return false;
  }
  DWORD processes[2];
  return GetConsoleProcessList(processes, 2) == 1;
}

}  // namespace console_control
