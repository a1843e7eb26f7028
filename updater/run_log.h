// The log of a run (--log FILE): one JSON Lines record for each module that a run reads or
// updates, added as that module's run ends, so that a bench keeps, for each serial number, which
// firmware it got and when. The file is only ever appended to, each record whole and on the disk
// before the program goes on (platform/append_log.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "platform/append_log.h"
#include "updater/update_sequence.h"

namespace updater {

class RunLog {
 public:
  // The log at `path` for a run of this kind ("update", "slot", "serial", "all", "list"); null
  // when it cannot be opened for appending, after a line on err that says why.
  static std::unique_ptr<RunLog> Open(const std::string& path, const char* kind, FILE* err);

  // A module's record: its slot, what its run read before anything was written (null: nothing
  // was read), the images written, the versions read back after them, its result and the failure
  // line. A record that cannot be added is said on err; the run goes on.
  void Add(uint16_t slot, const ModuleRun* run, std::string_view result, std::string_view failure);

 private:
  RunLog(std::unique_ptr<append_log::AppendLog> log, std::string path, const char* kind, FILE* err)
      : log_(std::move(log)), path_(std::move(path)), kind_(kind), err_(err) {}

  std::unique_ptr<append_log::AppendLog> log_;
  std::string path_;
  const char* kind_;
  FILE* err_;
};

// How a module's update ended, in the words of the table and the log: "updated", "up to date"
// (nothing needed writing) or "failed".
const char* UpdateResult(const ModuleRun& run);

}  // namespace updater
