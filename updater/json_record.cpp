// Writing JSON objects and the log's time stamps.
#include "updater/json_record.h"

#include <cstdint>
#include <cstdio>

#include "modlib/records.h"
#include "updater/module_texts.h"

namespace updater {

namespace {

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

// Days since 1970-01-01 as a civil date of the proleptic Gregorian calendar.
void CivilDate(int64_t days, int64_t* year, unsigned* month, unsigned* day) {
  days += 719468;  // from 0000-03-01
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned shiftedMonth = (5 * dayOfYear + 2) / 153;  // March is 0
  *day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  *month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  *year = static_cast<int64_t>(yearOfEra) + era * 400 + (*month <= 2 ? 1 : 0);
}

}  // namespace

void JsonObject::Key(std::string_view key) {
  if (!body_.empty()) body_ += ',';
  body_ += Quoted(key) + ':';
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view value) {
  Key(key);
  body_ += Quoted(value);
  return *this;
}

JsonObject& JsonObject::Number(std::string_view key, unsigned value) {
  Key(key);
  body_ += std::to_string(value);
  return *this;
}

void AddIdentity(JsonObject& object, const ModuleState* state) {
  if (state == nullptr) {
    object.Text("serialNumber", "").Text("revision", "").Text("bootLoader", "").Text("grade", "");
    return;
  }
  const char& revision = state->module.Revision;
  object.Text("serialNumber", FieldText(state->module.SerialNumber))
      .Text("revision", std::string_view(&revision, revision != '\0' ? 1 : 0))
      .Text("bootLoader", FieldText(state->bootLoader.Version))
      .Text("grade", GradeText(*state));
}

void AddVersions(JsonObject& object, const ModuleState* state, const std::string& suffix) {
  object.Text("application" + suffix, state != nullptr ? ApplicationText(*state) : "")
      .Text("pld" + suffix, state != nullptr ? PldText(*state) : "");
}

std::string UtcTimeText(std::chrono::system_clock::time_point time) {
  const int64_t seconds =
      std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch()).count();
  const int64_t days = (seconds >= 0 ? seconds : seconds - 86399) / 86400;
  const int64_t secondOfDay = seconds - days * 86400;
  int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilDate(days, &year, &month, &day);
  char text[32];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(year),
                month, day, static_cast<unsigned>(secondOfDay / 3600),
                static_cast<unsigned>(secondOfDay / 60 % 60),
                static_cast<unsigned>(secondOfDay % 60));
  return text;
}

}  // namespace updater
