// The console facilities on Windows. A console control handler keeps Ctrl-C, Ctrl-Break and the
// closing of the console window back while a hold exists; without a hold it declines, so the
// default handling ends the process at once as before. The handler runs on a thread of its own
// that the system starts for each event.
#include "platform/console_control.h"

#include "platform/win32.h"

namespace console_control {

namespace {

volatile LONG holds = 0;  // holds alive, on all threads
volatile LONG kept = 0;   // 1 once an event has been kept back
// The notice: set before the first hold, never changed afterwards.
const char* noticeText = nullptr;
DWORD noticeLength = 0;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (InterlockedCompareExchange(&holds, 0, 0) == 0) return FALSE;
  if (InterlockedExchange(&kept, 1) == 0 && noticeText != nullptr) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), noticeText, noticeLength, &written, nullptr);
  }
  // The last hold may have ended meanwhile, after its owner looked for an event kept back: then
  // this event takes its default course, as outside a hold.
  if (InterlockedCompareExchange(&holds, 0, 0) == 0) return FALSE;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // Closing the window, logoff or shutdown: returning would let the system end the process at
  // once, so this thread waits; the program ends the process once its image is written.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

InterruptHold::InterruptHold() {
  // Installed once, before the first hold counts; without a console there are no events to hold,
  // and a failure changes nothing then.
  static const bool installed = SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
  (void)installed;
  InterlockedIncrement(&holds);
}

InterruptHold::~InterruptHold() {
  InterlockedDecrement(&holds);
}

void SetHoldNotice(const char* text) {
  noticeText = text;
  noticeLength = text != nullptr ? static_cast<DWORD>(lstrlenA(text)) : 0;
}

bool StopRequested() {
  return InterlockedCompareExchange(&kept, 0, 0) != 0;
}

void EndAsRequested() {
  // What the default handling does with every console event.
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

void KeepRunningWhenOutputCloses() {}

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
