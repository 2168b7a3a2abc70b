// velto-fprint-folder [--recursive] [--gap SECONDS] [--json] [--report FILE] [--write-sidecars]
// [--dry-run] PATH...: groups the photos of folders into series by capture time and looks, as
// velto-fprint groups a job, and lists them, draws the report or tags the series in sidecars.
#include <unistd.h>

#include "embedding/embedding_analysis.h"
#include "folder/run_folder.h"

int main(int argc, char** argv) {
  const auto makeAnalysis = [] { return std::make_unique<velto::EmbeddingAnalysis>(); };
  velto::FolderStreams streams;
  streams.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  streams.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  const int status = velto::runFolder({argv, argv + argc}, makeAnalysis, streams);
  std::fflush(stdout);
  std::fflush(stderr);
  // _exit, as fail() does: no static destructors of image libraries may print after the summary.
  ::_exit(status);
}
