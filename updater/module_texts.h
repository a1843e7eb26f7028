// What a module holds and what its run did, in the words of the list, the table of outcomes and
// the log: its versions, what an update would write, its grade, how its run ended.
#pragma once

#include <string>
#include <vector>

#include "updater/update_sequence.h"

namespace updater {

// The MCU application's version, or "none".
std::string ApplicationText(const ModuleState& state);
// The PLD's version; "not known" when the PLD gave none; empty when it was not examined (a boot
// loader of major version 2).
std::string PldText(const ModuleState& state);
// "MCU 3.1, PLD 3.0.6c", "MCU none, PLD 3.0.7c", "MCU 2.4".
std::string VersionsText(const ModuleState& state);
// What the update writes: "nothing", or "MCU 3.1 -> 3.2, PLD 3.0.6c -> 3.0.7c".
std::string WritesText(const ModuleState& state);
// "commercial" or "industrial"; empty when the grade was not read.
std::string GradeText(const ModuleState& state);
// The images that the update of the module writes, in order.
std::vector<const char*> ChosenImages(const ModuleState& state);
// Image names as a list's or a record's field: separated by blanks.
std::string ImagesText(const std::vector<const char*>& images);
// A failure line without its leading blank and its line feed.
std::string LineText(const std::string& line);

}  // namespace updater
