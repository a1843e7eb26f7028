// The records of the log.
#include "updater/run_log.h"

#include <chrono>
#include <cstring>

#include "r4690_version.h"
#include "updater/json_record.h"
#include "updater/messages.h"
#include "updater/module_texts.h"

namespace updater {

std::unique_ptr<RunLog> RunLog::Open(const std::string& path, const char* kind, FILE* err) {
  std::string why;
  std::unique_ptr<append_log::AppendLog> log = append_log::AppendLog::Open(path, &why);
  if (log == nullptr) {
    const std::string line = message::FillIn(message::kLogRefused, {path, why});
    std::fwrite(line.data(), 1, line.size(), err);
    std::fflush(err);
    return nullptr;
  }
  return std::unique_ptr<RunLog>(new RunLog(std::move(log), path, kind, err));
}

void RunLog::Add(uint16_t slot, const ModuleRun* run, std::string_view result,
                 std::string_view failure) {
  JsonObject record;
  record.Text("time", UtcTimeText(std::chrono::system_clock::now()))
      .Text("program", R4690_VERSION_TEXT)
      .Text("run", kind_)
      .Number("slot", slot);
  const bool read = run != nullptr && run->read;
  AddIdentity(record, read ? &run->before : nullptr);
  AddVersions(record, read ? &run->before : nullptr, "Before");
  record.Text("written", run != nullptr ? ImagesText(run->written) : "");
  AddVersions(record, run != nullptr && run->after ? &*run->after : nullptr, "After");
  record.Text("result", result).Text("failure", failure);
  std::string why;
  if (!log_->Append(record.Close() + "\n", &why)) {
    const std::string line = message::FillIn(message::kRecordNotWritten, {path_, why});
    std::fwrite(line.data(), 1, line.size(), err_);
    std::fflush(err_);
  }
}

const char* UpdateResult(const ModuleRun& run) {
  if (run.status != kExitSucceeded) return message::kResultFailed;
  return run.written.empty() ? message::kResultUpToDate : message::kResultUpdated;
}

}  // namespace updater
