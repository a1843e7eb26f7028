// The table of outcomes, in the words of the messages.
#include "updater/outcome_table.h"

#include <string>

#include "modlib/records.h"
#include "updater/messages.h"
#include "updater/module_texts.h"
#include "updater/run_log.h"

namespace updater {

namespace {

constexpr char kNotKnown[] = "-";

std::string ResultText(const Outcome& o) {
  if (o.held) return message::kResultHeld;
  if (o.unread) {
    return message::FillIn(message::kResultBecause,
                           {message::kResultNotRead, LineText(o.run->failure)});
  }
  if (o.run->status == kExitSucceeded) return UpdateResult(*o.run);
  return message::FillIn(message::kResultBecause,
                         {message::kResultFailed, LineText(o.run->failure)});
}

}  // namespace

bool UpToDate(const Outcome& outcome) {
  return !outcome.held && !outcome.unread && outcome.run->status == kExitSucceeded;
}

void PrintOutcomes(Console& console, const std::vector<Outcome>& outcomes) {
  console.Print(message::kLineEnd);
  console.Print(message::kOutcomeHeading);
  for (const Outcome& o : outcomes) {
    const bool read = o.run != nullptr && o.run->read;
    const bool after = o.run != nullptr && o.run->after.has_value();
    console.Print(
        message::kOutcomeRow,
        {std::to_string(o.slot), read ? FieldText(o.run->before.module.SerialNumber) : kNotKnown,
         read ? VersionsText(o.run->before) : kNotKnown,
         after ? VersionsText(*o.run->after) : kNotKnown, ResultText(o)});
  }
}

}  // namespace updater
