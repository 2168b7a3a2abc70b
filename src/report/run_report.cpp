#include "report/run_report.h"

#include <chrono>

#include "app/messages.h"
#include "report/html_report.h"
#include "report/report_data.h"

namespace velto {

bool runReport(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
               std::string* err) {
  if (args.size() != 3) {
    *err = messages::reportUsage();
    return false;
  }
  const std::string& inputPath = args[1];
  const std::string& reportPath = args[2];

  GroupedJob grouped;
  if (!groupJob(inputPath, makeAnalysis, &grouped, err)) return false;
  // The job file names the photos: there is no finding stage to time.
  const std::string page = renderGroupedJob(inputPath, grouped, std::nullopt);
  return writeOutput(reportPath, page, grouped.job.photos, err);
}

std::string renderGroupedJob(const std::string& title, const GroupedJob& grouped,
                             std::optional<double> photoSeconds) {
  // The thumbnails decode every photo a second time, at a smaller scale than the network's;
  // keeping that apart leaves the grouping itself exactly velto-fprint's.
  const auto renderStart = std::chrono::steady_clock::now();
  ReportData data = collectReportData(title, grouped.job, grouped.prints, grouped.grouping,
                                      makeThumbnails(grouped.job.photos));
  data.seconds.photos = photoSeconds;
  data.seconds.prints = grouped.printSeconds;
  data.seconds.grouping = grouped.groupSeconds;
  // The page cannot time its own writing-out; that last step is a string join of a few
  // microseconds beside the thumbnails.
  data.seconds.rendering =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
  return renderReport(data);
}

}  // namespace velto
