// velto-fprint-embed <input.json> <print-folder>: computes the feature print of every photo of
// a job once and stores it, so that velto-fprint-replay can group the job again, or another
// program can read the prints, without analysing the images twice. Prints one line per photo on
// standard output: print file, element count (0: no print), photo.
#include <cstdio>

#include "app/embed_prints.h"
#include "cmd/command_edge.h"
#include "cmd/fail.h"
#include "embedding/embedding_analysis.h"
#include "io/quiet_output.h"

int main(int argc, char** argv) {
  // Its options, one line each; --help and --version come with every table.
  const velto::CommandLine commandLine{
      "velto-fprint-embed", {}, "<input.json> <print-folder>", 2, 2};
  const std::vector<std::string> operands = velto::operandsOrExit(commandLine, argc, argv);
  velto::EmbeddingAnalysis analysis;
  // Other threads may be decoding a photo with the streams silenced meanwhile.
  const auto show = [](const velto::StoredPrint& p) {
    velto::withOutputOpen([&] {
      std::printf("%s\t%lld\t%s\n", p.printPath.c_str(), static_cast<long long>(p.elements),
                  p.photo.c_str());
    });
  };
  std::string err;
  if (!velto::embedPrints({argv[0], operands[0], operands[1]}, analysis, show, &err)) {
    std::fflush(stdout);
    velto::fail(err);
  }
  return 0;
}
