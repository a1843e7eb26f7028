// r4690-update: brings the firmware of an R46-90 module up to the images carried in this
// executable. It takes no arguments; the run ends with exit code 0 or -1. An argument is answered
// (the usage, the version) or refused with exit code 2, and no device is opened then.
#include "images/image_lookup.h"
#include "platform/console_control.h"
#include "updater/command_line.h"
#include "updater/update_sequence.h"
#include "updater/window_pause.h"

int main(int argc, char** argv) {
  updater::KeepOwnWindowOpenAtExit();
  console_control::KeepRunningWhenOutputCloses();
  const updater::Invocation invocation = updater::ReadCommandLine(argc, argv);
  if (invocation != updater::Invocation::kUpdate) {
    return updater::Answer(invocation, stdout, stderr, images::LookupImage);
  }
  updater::RunUpdate(updater::ProductionDependencies());
}
