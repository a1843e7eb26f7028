// --all: every R46-90 found in the slots, updated at once, each on a thread of its own with an
// interface object of its own, so that the PLD restarts overlap. Each line of a module's run goes
// to the console whole, behind the module's slot and serial number, as it happens; a table of
// outcomes ends the run. A failure, a stall or a lost module ends that module's run only. A stop
// kept back (Ctrl-C) lets every image that is being written finish, starts no other, and ends the
// process once every module's run has ended. Exit status 0 only when every module ended up to
// date.
#pragma once

#include "updater/run_log.h"
#include "updater/update_sequence.h"

namespace updater {

int RunAll(const UpdateDependencies& dependencies, RunLog* log);

}  // namespace updater
