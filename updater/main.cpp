// r4690-update: brings the firmware of an R46-90 module up to the images carried in this
// executable. It takes no arguments; the run ends with exit code 0 or -1.
#include "updater/update_sequence.h"

int main() {
  updater::RunUpdate(updater::ProductionDependencies());
}
