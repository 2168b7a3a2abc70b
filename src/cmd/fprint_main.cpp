// velto-fprint <input.json> <output.json>: splits time groups of photos into groups of
// similar-looking shots.
#include "app/run_job.h"
#include "cmd/fail.h"
#include "embedding/embedding_analysis.h"

int main(int argc, char** argv) {
  std::string err;
  const auto makeAnalysis = [] { return std::make_unique<velto::EmbeddingAnalysis>(); };
  if (!velto::runFprint({argv, argv + argc}, makeAnalysis, &err)) velto::fail(err);
  return 0;
}
