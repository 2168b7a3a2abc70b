// velto-fprint-replay: velto-fprint over feature prints recorded in files, one per photo path.
#include "fprint/replay_analysis.h"
#include "main/flow.h"

int main(int argc, char** argv) {
  return velto::runFprint(argc, argv, [] { return std::make_unique<velto::ReplayAnalysis>(); });
}
