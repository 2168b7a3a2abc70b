// velto-fprint-replay [--rules platform|series] <input.json> <output.json>: velto-fprint over
// feature prints recorded in files, one per photo path; with --rules series, grouped by the
// series grouping instead of the fixed rules.
#include "app/run_job.h"
#include "cmd/command_edge.h"
#include "cmd/fail.h"
#include "prints/replay_analysis.h"

int main(int argc, char** argv) {
  // Its options, one line each; --help and --version come with every table.
  std::string rules = "platform";
  const velto::CommandLine commandLine{"velto-fprint-replay",
                                       {velto::rulesOption("velto-fprint-replay", &rules)},
                                       "<input.json> <output.json>",
                                       2,
                                       2};
  const std::vector<std::string> operands = velto::operandsOrExit(commandLine, argc, argv);
  std::string err;
  const auto makeAnalysis = [] { return std::make_unique<velto::ReplayAnalysis>(); };
  if (!velto::runFprint({argv[0], operands[0], operands[1]}, makeAnalysis, &err,
                        *velto::parseRules(rules))) {
    velto::fail(err);
  }
  return 0;
}
