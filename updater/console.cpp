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

void Console::Print(std::string_view text) {
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
  for (unsigned i = 0; i < steps; ++i) SpinnerStep(i);
}

void ProcessExit(int status) {
  std::exit(status);
}

void ReleaseDevice(Console& console, IR4690_BOOT_LOADER*& device, const char* text, bool failed,
                   ExitFunction exit) {
  if (device != nullptr) {
    const bool released = device->ReleaseInstance();
    device = nullptr;  // gone whatever the release gave
    console.Print(released ? message::kReleaseDeviceOk : message::kReleaseDeviceBad);
  }
  console.Print(message::kLineEnd);
  if (text != nullptr) console.Print(text);
  if (console.TranscriptError() != 0) {
    console.PrintError(
        message::FillIn(message::kTranscriptLost, {std::strerror(console.TranscriptError())}));
  }
  exit(failed ? kExitFailed : kExitSucceeded);
}

}  // namespace updater
