// velto-fprint-replay [--rules series|platform] <input.json> <output.json>: velto-fprint over
// feature prints recorded in files, one per photo path.
#include "app/run_job.h"
#include "cmd/fail.h"
#include "prints/replay_analysis.h"

int main(int argc, char** argv) {
  std::string err;
  const auto makeAnalysis = [] { return std::make_unique<velto::ReplayAnalysis>(); };
  std::vector<std::string> args(argv, argv + argc);
  velto::Rules rules = velto::Rules::kPlatform;
  if (args.size() > 2 && args[1] == "--rules") {
    const auto chosen = velto::parseRules(args[2]);
    if (!chosen) velto::fail("velto-fprint-replay: --rules takes series or platform");
    rules = *chosen;
    args.erase(args.begin() + 1, args.begin() + 3);
  }
  if (!velto::runFprint(args, makeAnalysis, &err, rules)) velto::fail(err);
  return 0;
}
