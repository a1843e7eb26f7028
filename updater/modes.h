// The runs that the command line's options choose, beside the program's usual one (RunUpdate):
//   --list [--json]          every slot read, nothing written (list_run.h)
//   --slot N, --serial TEXT  one chosen module: the usual transcript, then a table of its outcome
//   --all                    every module at once (all_run.h)
//   --log FILE               with any of them, and with the usual run: a record of each module;
//                            a log that cannot be opened for appending is refused (exit 2) before
//                            any module is opened
// Each gives the exit status of the process.
#pragma once

#include "updater/command_line.h"
#include "updater/update_sequence.h"

namespace updater {

int RunMode(const CommandLine& line, const UpdateDependencies& dependencies);

}  // namespace updater
