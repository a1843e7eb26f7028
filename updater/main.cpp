// r4690-update: brings the firmware of R46-90 modules up to the images carried in this
// executable. Without arguments it updates the first module it finds and ends with exit code 0 or
// -1; options list the modules, choose one, update every one at once, and keep a log
// (updater/modes.h). --help and --version are answered, anything else is refused with exit code
// 2, and no device is opened then.
#include "images/image_lookup.h"
#include "platform/console_control.h"
#include "updater/command_line.h"
#include "updater/modes.h"
#include "updater/update_sequence.h"
#include "updater/window_pause.h"

int main(int argc, char** argv) {
  updater::KeepOwnWindowOpenAtExit();
  console_control::KeepRunningWhenOutputCloses();
  const updater::CommandLine line = updater::ReadCommandLine(argc, argv);
  if (line.invocation != updater::Invocation::kUpdate) {
    return updater::Answer(line, stdout, stderr, images::LookupImage);
  }
  if (line.mode == updater::Mode::kFirst && line.log.empty()) {
    updater::RunUpdate(updater::ProductionDependencies());
  }
  return updater::RunMode(line, updater::ProductionDependencies());
}
