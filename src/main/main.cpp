// velto-fprint: splits time groups of photos into groups of similar-looking shots.
#include "fprint/embedding_analysis.h"
#include "main/flow.h"

int main(int argc, char** argv) {
  return velto::runFprint(argc, argv, [] { return std::make_unique<velto::EmbeddingAnalysis>(); });
}
