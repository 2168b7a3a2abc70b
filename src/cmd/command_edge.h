#pragma once
// The programs' edge for command lines with options: --help and --version answered, a wrong
// command line ended.

#include <string>
#include <vector>

#include "app/command_line.h"

namespace velto {

// The operands of `argv` under `commandLine`. --help and --version print to standard output
// and end the process with status 0; a wrong command line ends it through fail().
std::vector<std::string> operandsOrExit(const CommandLine& commandLine, int argc, char** argv);

}  // namespace velto
