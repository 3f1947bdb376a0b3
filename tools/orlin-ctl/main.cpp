// orlin-ctl [--install-dir DIR] COMMAND ...   (see ctl.cpp for the commands)

#include <iostream>

#include "platform/install_directory.h"
#include "platform/program_start.h"
#include "tools/orlin-ctl/ctl.h"

int main(int argc, char** argv) {
  const auto args = orlin::platform::ProgramArguments(argc, argv);
  return orlin::ctl::Run(args, orlin::platform::InstallDirectory(), std::cout, std::cerr);
}
