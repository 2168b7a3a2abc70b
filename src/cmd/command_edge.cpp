#include "cmd/command_edge.h"

#include <unistd.h>

#include <cstdio>

#include "cmd/fail.h"

namespace velto {

std::vector<std::string> operandsOrExit(const CommandLine& commandLine, int argc, char** argv) {
  ParsedCommandLine parsed = parseCommandLine(commandLine, {argv, argv + argc});
  switch (parsed.action) {
    case CommandAction::kRun:
      return std::move(parsed.operands);
    case CommandAction::kHelp:
    case CommandAction::kVersion: {
      const bool written =
          std::fwrite(parsed.text.data(), 1, parsed.text.size(), stdout) == parsed.text.size() &&
          std::fflush(stdout) == 0;
      ::_exit(written ? 0 : 1);
    }
    case CommandAction::kFail:
      break;
  }
  fail(parsed.text);
}

}  // namespace velto
