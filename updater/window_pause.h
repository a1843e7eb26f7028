// Started by a double-click, the utility has a console window of its own, which closes the
// moment the program ends: the operator would never read the result. In that case the program
// waits for Enter before it ends; started from a command prompt or a script it never waits.
#pragma once

#include <cstdio>

namespace updater {

// Makes every normal end of the process (std::exit, a return from main) wait for Enter when the
// program is alone on an interactive console (console_control::AloneOnConsole). Call once, early.
void KeepOwnWindowOpenAtExit();

// The wait: prints the prompt on `out`, then reads `in` up to and including a line feed, or to
// its end.
void WaitForEnter(FILE* in, FILE* out);

}  // namespace updater
