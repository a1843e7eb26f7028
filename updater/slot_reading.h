// What the virtual slots 0 to 126 hold, each looked at on a thread of its own: which slots hold a
// module, which are R46-90 modules and what the update sequence reads of each, without writing
// or restarting anything. A foreign module is only opened and named by the base interface, which
// runs nothing on it: no R46-90 request reaches it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "updater/update_sequence.h"

namespace updater {

enum class SlotKind {
  kR4690,          // an R46-90: its run read it (run.read), or tells where reading stopped
  kHeld,           // a module that another program holds
  kOtherModel,     // one of the maker's modules of another model
  kUnknownDevice,  // a device that would not tell which module it is
};

struct SlotReading {
  uint16_t slot = 0;
  SlotKind kind = SlotKind::kR4690;
  std::string model;   // kOtherModel, kR4690: its model name
  uint16_t error = 0;  // kUnknownDevice: the library's code of the failed open
  ModuleRun run;       // kR4690
};

// The slots that hold something, in slot order. With leaveRunning, every module that holds an
// application runs it again when it is let go, as it was found.
std::vector<SlotReading> ReadSlots(const UpdateDependencies& dependencies, bool leaveRunning);

// Calls work(i) for i = 0 to count - 1, on `threads` threads at once, and returns when every call
// has.
void ForEachOnThreads(size_t count, size_t threads, const std::function<void(size_t)>& work);

}  // namespace updater
