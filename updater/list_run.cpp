// The list: the rows of what ReadSlots found.
#include "updater/list_run.h"

#include <string>
#include <vector>

#include "modlib/records.h"
#include "updater/json_record.h"
#include "updater/messages.h"
#include "updater/module_texts.h"
#include "updater/slot_reading.h"

namespace updater {

namespace {

bool WouldWrite(const ModuleState& state) {
  return state.mcuImage != nullptr || state.pldImage != nullptr || state.pldRestartWanted;
}

// The row's result: what the list says of the slot in one word or two.
std::string ResultOf(const SlotReading& r) {
  switch (r.kind) {
    case SlotKind::kHeld:
      return message::kResultHeld;
    case SlotKind::kOtherModel:
      return message::FillIn(message::kListOtherModel, {r.model});
    case SlotKind::kUnknownDevice:
      return message::FillIn(message::kListUnknownDevice, {std::to_string(r.error)});
    case SlotKind::kR4690:
      break;
  }
  if (!r.run.read) {
    return message::FillIn(message::kResultBecause,
                           {message::kResultNotRead, LineText(r.run.failure)});
  }
  return WouldWrite(r.run.before) ? message::kResultWouldWrite : message::kResultUpToDate;
}

void PrintRow(Console& console, const SlotReading& r) {
  const std::string slot = std::to_string(r.slot);
  if (r.kind != SlotKind::kR4690 || !r.run.read) {
    console.Print(message::kListOther, {slot, ResultOf(r)});
    return;
  }
  const ModuleState& s = r.run.before;
  const std::string pld = PldText(s);
  const std::string grade = GradeText(s);
  console.Print(message::kListRow,
                {slot, FieldText(s.module.SerialNumber), std::string_view(&s.module.Revision, 1),
                 ApplicationText(s), FieldText(s.bootLoader.Version), pld.empty() ? "-" : pld,
                 grade.empty() ? "-" : grade, WritesText(s)});
}

std::string JsonRow(const SlotReading& r) {
  JsonObject row;
  row.Number("slot", r.slot).Text("result", ResultOf(r)).Text("model", r.model);
  const ModuleState* state = r.kind == SlotKind::kR4690 && r.run.read ? &r.run.before : nullptr;
  AddIdentity(row, state);
  AddVersions(row, state, "");
  row.Text("writes", state != nullptr ? WritesText(*state) : "")
      .Text("images", state != nullptr ? ImagesText(ChosenImages(*state)) : "");
  return row.Close();
}

}  // namespace

int RunList(const UpdateDependencies& deps, bool json, RunLog* log) {
  const std::vector<SlotReading> slots = ReadSlots(deps, true);
  Console console(deps.out, deps.err, deps.sleep);
  bool found = false;
  bool unread = false;
  bool wouldWrite = false;
  std::string array = "[";
  if (!json && !slots.empty()) console.Print(message::kListHeading);
  for (const SlotReading& r : slots) {
    const bool r4690 = r.kind == SlotKind::kR4690 && r.run.read;
    found = found || r4690;
    unread = unread || r.kind == SlotKind::kHeld || (r.kind == SlotKind::kR4690 && !r.run.read);
    wouldWrite = wouldWrite || (r4690 && WouldWrite(r.run.before));
    if (json) {
      array += (array.size() > 1 ? ",\n " : "\n ") + JsonRow(r);
    } else {
      PrintRow(console, r);
    }
    if (log != nullptr && (r.kind == SlotKind::kR4690 || r.kind == SlotKind::kHeld)) {
      const bool unreadR4690 = r.kind == SlotKind::kR4690 && !r.run.read;
      log->Add(r.slot, r.kind == SlotKind::kR4690 ? &r.run : nullptr,
               unreadR4690 ? message::kResultNotRead : ResultOf(r), LineText(r.run.failure));
    }
  }
  if (json) console.Print(array + (array.size() > 1 ? "\n]\n" : "]\n"));
  if (!found && !json) console.Print(message::kNoModule);
  if (!found || unread) return kExitFailed;
  return wouldWrite ? kListWouldWrite : kExitSucceeded;
}

}  // namespace updater
