// velto-fprint-report [--rules platform|series] <input.json> <report.html>: groups a job exactly
// as velto-fprint does (or by the series grouping) and writes one self-contained HTML page that
// shows why: a contact sheet of the photos by result group, the boundary score of every gap
// against the split threshold, and a summary with the time each stage took. Fails with
// velto-fprint's messages; nothing on standard output.
#include "cmd/command_edge.h"
#include "cmd/fail.h"
#include "embedding/embedding_analysis.h"
#include "report/run_report.h"

int main(int argc, char** argv) {
  // Its options, one line each; --help and --version come with every table.
  std::string rules = "platform";
  const velto::CommandLine commandLine{"velto-fprint-report",
                                       {velto::rulesOption("velto-fprint-report", &rules)},
                                       "<input.json> <report.html>",
                                       2,
                                       2};
  const std::vector<std::string> operands = velto::operandsOrExit(commandLine, argc, argv);
  std::string err;
  const auto makeAnalysis = [] { return std::make_unique<velto::EmbeddingAnalysis>(); };
  if (!velto::runReport({argv[0], operands[0], operands[1]}, makeAnalysis, &err,
                        *velto::parseRules(rules))) {
    velto::fail(err);
  }
  return 0;
}
