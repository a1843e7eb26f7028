// Console output and the exit routine of the update utility.
#include "updater/console.h"

#include <cstdlib>

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
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
}

void Console::Print(std::string_view message, std::string_view value) {
  Print(message::FillIn(message, value));
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

void ReleaseDevice(Console& console, IR4690_BOOT_LOADER*& device, const char* message, bool failed,
                   ExitFunction exit) {
  if (device != nullptr) {
    const bool released = device->ReleaseInstance();
    device = nullptr;  // gone whatever the release gave
    console.Print(released ? message::kReleaseDeviceOk : message::kReleaseDeviceBad);
  }
  console.Print(message::kLineEnd);
  if (message != nullptr) console.Print(message);
  exit(failed ? kExitFailed : kExitSucceeded);
}

}  // namespace updater
