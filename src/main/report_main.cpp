// velto-fprint-report <input.json> <report.html>: groups a job exactly as velto-fprint does and
// writes one self-contained HTML page that shows why: a contact sheet of the photos by result
// group, the boundary score of every gap against the split threshold, and a summary with the
// time each stage took. Fails with velto-fprint's messages; nothing on standard output.

#include <chrono>
#include <string>
#include <vector>

#include "fprint/embedding_analysis.h"
#include "job/atomic_write.h"
#include "job/file_identity.h"
#include "main/fail.h"
#include "main/flow.h"
#include "main/messages.h"
#include "report/html_report.h"
#include "report/report_data.h"

int main(int argc, char** argv) {
  using namespace velto;
  const std::vector<std::string> args(argv, argv + argc);
  if (args.size() != 3) fail(messages::reportUsage());
  const std::string& inputPath = args[1];
  const std::string& reportPath = args[2];

  const GroupedJob grouped =
      groupJob(inputPath, [] { return std::make_unique<EmbeddingAnalysis>(); });

  // The thumbnails decode every photo a second time, at a smaller scale than the network's;
  // keeping that apart leaves the grouping itself exactly velto-fprint's.
  const auto renderStart = std::chrono::steady_clock::now();
  ReportData data = collectReportData(inputPath, grouped.job, grouped.prints, grouped.grouping,
                                      makeThumbnails(grouped.job.photos));
  data.seconds.prints = grouped.printSeconds;
  data.seconds.grouping = grouped.groupSeconds;
  // The page cannot time its own writing-out; that last step is a string join of a few
  // microseconds beside the thumbnails.
  data.seconds.rendering =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
  const std::string html = renderReport(data);

  std::string reason;
  if (wouldReplaceAnyOf(reportPath, grouped.job.photos)) {
    fail(messages::couldNotWrite(reportPath, messages::isAPhotoOfTheJob()));
  }
  if (!writeFileAtomically(reportPath, html, &reason)) {
    fail(messages::couldNotWrite(reportPath, reason));
  }
  return 0;
}
