// Console output and the exit routine of the update utility.
#include "updater/console.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/win32.h"
#include "updater/messages.h"

namespace updater {

namespace {

constexpr char kSpinnerTable[kSpinnerEntries][16] = {
    ".",
    "..",
    "...",
    "....",
    ".....",
    "......",
    ".......",
    "........",
    ".........",
    "..........",
    "...........",
    "............",
    ".............",
    "..............",
    "...............",
    "               ",
};

}  // namespace

void PlatformSleep(uint32_t ms) {
  Sleep(ms);
}

std::string_view SpinnerEntry(unsigned index) {
  return kSpinnerTable[index % kSpinnerEntries];
}

void LineSink::Write(std::string_view line) {
  std::lock_guard<std::mutex> lock(mu_);
  errno = 0;
  const bool written =
      std::fwrite(line.data(), 1, line.size(), out_) == line.size() && std::fflush(out_) == 0;
  if (!written && error_ == 0) error_ = errno != 0 ? errno : EIO;
}

int LineSink::Error() {
  std::lock_guard<std::mutex> lock(mu_);
  return error_;
}

void Console::Print(std::string_view text) {
  if (sink_ != nullptr) {
    line_.append(text);
    for (size_t end; (end = line_.find('\n')) != std::string::npos; line_.erase(0, end + 1)) {
      if (end != 0) sink_->Write(prefix_ + line_.substr(0, end + 1));
    }
    return;
  }
  if (out_ == nullptr) return;
  errno = 0;
  const bool written =
      std::fwrite(text.data(), 1, text.size(), out_) == text.size() && std::fflush(out_) == 0;
  if (!written && transcriptError_ == 0) transcriptError_ = errno != 0 ? errno : EIO;
}

void Console::Print(std::string_view message, std::initializer_list<std::string_view> values) {
  Print(message::FillIn(message, values));
}

void Console::PrintError(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), err_);
  std::fflush(err_);
}

void Console::Banner() {
  Print(message::kBannerFrame);
  Print(message::kBannerTitle);
  Print(message::kBannerVersion, kUtilityVersion);
  Print(message::kBannerFrame);
  Print(message::kLineEnd);
}

void Console::SpinnerStep(unsigned step) {
  Print(message::kWaiting, SpinnerEntry(step));
  sleep_(kSpinnerStepMs);
}

void Console::Wait(unsigned steps) {
  if (sink_ == nullptr) {
    for (unsigned i = 0; i < steps; ++i) SpinnerStep(i);
    return;
  }
  Print(message::kWaitingSeconds, {std::to_string(steps * kSpinnerStepMs / 1000)});
  for (unsigned i = 0; i < steps; ++i) sleep_(kSpinnerStepMs);
}

void ProcessExit(int status) {
  std::exit(status);
}

int ReleaseDevice(Console& console, IR4690_BOOT_LOADER*& device, const char* text, bool failed) {
  if (device != nullptr) {
    const bool released = device->ReleaseInstance();
    device = nullptr;  // gone whatever the release gave
    console.Print(released ? message::kReleaseDeviceOk : message::kReleaseDeviceBad);
  }
  console.Print(message::kLineEnd);
  if (text != nullptr) console.Print(text);
  // Several modules' runs share one transcript, whose loss their caller reports once.
  if (console.TranscriptError() != 0 && !console.OnSink()) {
    console.PrintError(
        message::FillIn(message::kTranscriptLost, {std::strerror(console.TranscriptError())}));
  }
  return failed ? kExitFailed : kExitSucceeded;
}

}  // namespace updater
