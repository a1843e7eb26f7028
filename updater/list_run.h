// --list: every slot read, nothing written, nothing restarted; every module is left running what
// it ran. A table (or with --json a JSON array) with a row for each slot that holds something,
// and an exit status for scripts: 0 every R46-90 is up to date; 1 an update would write something
// (or restart a PLD to tell); -1 no R46-90 was found, or one could not be read (another program
// holds it, or it stopped answering).
#pragma once

#include "updater/run_log.h"
#include "updater/update_sequence.h"

namespace updater {

constexpr int kListWouldWrite = 1;

int RunList(const UpdateDependencies& dependencies, bool json, RunLog* log);

}  // namespace updater
