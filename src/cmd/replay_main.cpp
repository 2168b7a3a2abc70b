// velto-fprint-replay <input.json> <output.json>: velto-fprint over feature prints recorded in
// files, one per photo path.
#include "app/run_job.h"
#include "cmd/fail.h"
#include "prints/replay_analysis.h"

int main(int argc, char** argv) {
  std::string err;
  const auto makeAnalysis = [] { return std::make_unique<velto::ReplayAnalysis>(); };
  if (!velto::runFprint({argv, argv + argc}, makeAnalysis, &err)) velto::fail(err);
  return 0;
}
