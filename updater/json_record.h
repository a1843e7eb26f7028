// The JSON that the utility writes for scripts: the list's array (--json) and the log's records
// (--log, one JSON object a line). Objects are flat and every value is a text or a number, so a
// spreadsheet reads a log as a table.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "updater/update_sequence.h"

namespace updater {

// An object written field by field. Texts are the module's bytes: the quote, the backslash and
// every byte outside printable ASCII are escaped (\u00XX, the byte read as Latin-1), so the output
// is ASCII whatever a module holds.
class JsonObject {
 public:
  JsonObject& Text(std::string_view key, std::string_view value);
  JsonObject& Number(std::string_view key, unsigned value);
  std::string Close() const { return "{" + body_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string body_;
};

// What a module is, from what its run read (null: not read): serialNumber, revision, bootLoader
// and grade, empty when not known.
void AddIdentity(JsonObject& object, const ModuleState* state);
// Its versions: application<suffix> and pld<suffix> ("applicationBefore"), empty when not known.
void AddVersions(JsonObject& object, const ModuleState* state, const std::string& suffix);

// A time as the log records it, in UTC: "2026-12-07T08:47:24Z".
std::string UtcTimeText(std::chrono::system_clock::time_point time);

}  // namespace updater
