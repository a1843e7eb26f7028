// r4690-sim: the module simulator as a command.
#include <iostream>

#include "sim/command.h"

int main(int argc, char** argv) {
  return sim::RunCommand(argc, argv, std::cout, std::cerr);
}
