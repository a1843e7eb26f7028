// Every module at once.
#include "updater/all_run.h"

#include <cstring>
#include <string>
#include <vector>

#include "modlib/records.h"
#include "platform/console_control.h"
#include "updater/messages.h"
#include "updater/module_texts.h"
#include "updater/outcome_table.h"
#include "updater/slot_reading.h"

namespace updater {

int RunAll(const UpdateDependencies& deps, RunLog* log) {
  Console console(deps.out, deps.err, deps.sleep);
  console_control::SetHoldNotice(message::kStopHeld);
  console.Banner();
  const std::vector<SlotReading> slots = ReadSlots(deps, false);

  // The modules to update, and those that could not be read, in slot order.
  std::vector<Outcome> outcomes;
  std::vector<size_t> updated;  // indexes into outcomes
  for (const SlotReading& r : slots) {
    Outcome o;
    o.slot = r.slot;
    o.run = &r.run;
    o.held = r.kind == SlotKind::kHeld;
    o.unread = r.kind == SlotKind::kR4690 && !r.run.read;
    if (r.kind == SlotKind::kR4690 && r.run.read) updated.push_back(outcomes.size());
    if (o.held || r.kind == SlotKind::kR4690) outcomes.push_back(o);
  }
  if (outcomes.empty()) {
    console.Print(message::kNoModule);
    return kExitFailed;
  }
  console.Print(message::kModulesFound, {std::to_string(updated.size())});

  LineSink sink(deps.out);
  std::vector<ModuleRun> runs(updated.size());
  ForEachOnThreads(updated.size(), updated.size(), [&](size_t i) {
    const Outcome& found = outcomes[updated[i]];
    Console own(
        &sink,
        message::FillIn(message::kModulePrefix, {std::to_string(found.slot),
                                                 FieldText(found.run->before.module.SerialNumber)}),
        deps.err, deps.sleep);
    RunSettings settings;
    settings.slot = found.slot;
    settings.readBack = true;
    settings.summary = false;  // the table at the end has the versions
    settings.stopEndsProcess = false;
    settings.completion = message::kModuleCompleted;
    settings.console = &own;
    runs[i] = RunModule(deps, settings);
    if (log != nullptr) {
      log->Add(found.slot, &runs[i], UpdateResult(runs[i]), LineText(runs[i].failure));
    }
  });
  for (size_t i = 0; i < updated.size(); ++i) outcomes[updated[i]].run = &runs[i];

  size_t behind = 0;
  for (const Outcome& o : outcomes) {
    if (UpToDate(o)) continue;
    ++behind;
    if (log != nullptr && (o.held || o.unread)) {
      log->Add(o.slot, o.held ? nullptr : o.run,
               o.held ? message::kResultHeld : message::kResultNotRead, LineText(o.run->failure));
    }
  }
  PrintOutcomes(console, outcomes);
  if (behind == 0) {
    console.Print(message::kAllUpToDate);
  } else {
    console.Print(message::kAllNotUpToDate,
                  {std::to_string(behind), std::to_string(outcomes.size())});
  }
  const int lost = sink.Error() != 0 ? sink.Error() : console.TranscriptError();
  if (lost != 0) {
    console.PrintError(message::FillIn(message::kTranscriptLost, {std::strerror(lost)}));
  }
  if (console_control::StopRequested()) {
    console.PrintError(message::kInterrupted);
    console_control::EndAsRequested();
  }
  return behind == 0 ? kExitSucceeded : kExitFailed;
}

}  // namespace updater
