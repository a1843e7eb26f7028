// Choosing the run, and the run of one module: the first found, the one in a slot, or the one
// with a serial number.
#include "updater/modes.h"

#include <memory>
#include <string>
#include <vector>

#include "modlib/records.h"
#include "platform/console_control.h"
#include "updater/all_run.h"
#include "updater/list_run.h"
#include "updater/messages.h"
#include "updater/module_texts.h"
#include "updater/outcome_table.h"
#include "updater/run_log.h"
#include "updater/slot_reading.h"

namespace updater {

namespace {

const char* LogKind(Mode mode) {
  switch (mode) {
    case Mode::kList:
      return "list";
    case Mode::kSlot:
      return "slot";
    case Mode::kSerial:
      return "serial";
    case Mode::kAll:
      return "all";
    case Mode::kFirst:
      break;
  }
  return "update";
}

// The slot of the one R46-90 with this serial number, found by reading every slot (and leaving
// each module as it was); false after the line that says why there is none.
bool FindSerial(const UpdateDependencies& deps, const std::string& serial, Console& console,
                uint16_t* slot) {
  size_t matches = 0;
  for (const SlotReading& r : ReadSlots(deps, true)) {
    if (r.kind != SlotKind::kR4690 || !r.run.read) continue;
    if (FieldText(r.run.before.module.SerialNumber) != serial) continue;
    *slot = r.slot;
    ++matches;
  }
  if (matches == 1) return true;
  console.Print(matches == 0 ? message::kSerialNotFound : message::kSerialTwice, {serial});
  return false;
}

// The usual run on one module, chosen or the first found, with its record; chosen, its outcome
// in a table too. The versions are read back after the writes, silently.
int RunOne(const CommandLine& line, const UpdateDependencies& deps, RunLog* log) {
  Console console(deps.out, deps.err, deps.sleep);
  console_control::SetHoldNotice(message::kStopHeld);
  console.Banner();
  RunSettings settings;
  settings.console = &console;
  settings.readBack = true;  // for the table and the log; it prints nothing
  if (line.mode == Mode::kSlot) settings.slot = line.slot;
  if (line.mode == Mode::kSerial) {
    uint16_t slot = 0;
    if (!FindSerial(deps, line.serial, console, &slot)) return kExitFailed;
    settings.slot = slot;
  }
  const ModuleRun run = RunModule(deps, settings);
  if (line.mode != Mode::kFirst && run.slot) PrintOutcomes(console, {Outcome{*run.slot, &run}});
  if (log != nullptr && run.slot) {
    log->Add(*run.slot, &run, UpdateResult(run), LineText(run.failure));
  }
  return run.status;
}

}  // namespace

int RunMode(const CommandLine& line, const UpdateDependencies& deps) {
  std::unique_ptr<RunLog> log;
  if (!line.log.empty()) {
    log = RunLog::Open(line.log, LogKind(line.mode), deps.err);
    if (log == nullptr) return kUsageErrorExit;
  }
  switch (line.mode) {
    case Mode::kList:
      return RunList(deps, line.json, log.get());
    case Mode::kAll:
      return RunAll(deps, log.get());
    case Mode::kFirst:
    case Mode::kSlot:
    case Mode::kSerial:
      break;
  }
  return RunOne(line, deps, log.get());
}

}  // namespace updater
