#include "folder/run_folder.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "cache/cached_analysis.h"
#include "folder/capture_order.h"
#include "folder/file_time.h"
#include "folder/folder_cache.h"
#include "folder/folder_messages.h"
#include "folder/folder_options.h"
#include "folder/listing.h"
#include "folder/photo_scan.h"
#include "folder/progress.h"
#include "folder/series_keywords.h"
#include "folder/terminal_text.h"
#include "io/file_identity.h"
#include "metadata/capture_time.h"
#include "metadata/xmp_sidecar.h"
#include "report/run_report.h"

namespace velto {
namespace {

// Every line for standard error goes through here: names in it are shown escaped.
void printLine(std::FILE* stream, const std::string& line) {
  std::fprintf(stream, "%s\n", escapedForTerminal(line).c_str());
  std::fflush(stream);
}

}  // namespace

int runFolder(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
              const FolderStreams& streams) {
  FolderOptions options;
  const ParsedCommandLine parsed = parseCommandLine(folderCommandLine(&options), args);
  if (parsed.action == CommandAction::kHelp || parsed.action == CommandAction::kVersion) {
    std::fputs(parsed.text.c_str(), streams.out);
    return std::fflush(streams.out) == 0 ? 0 : 1;
  }
  if (parsed.action == CommandAction::kFail) {
    printLine(streams.err, parsed.text);
    return 1;
  }
  options.paths = parsed.operands;
  std::string err;
  folder_messages::Summary summary;
  summary.byFileTime = options.undated == "file";
  summary.dryRun = options.dryRun;
  Progress progress(streams.err, streams.errIsTerminal);
  const auto report = [&](const std::string& line) {
    progress.finish();
    printLine(streams.err, line);
    ++summary.failures;
  };

  // The photos, recognised by content; everything else only counted. Timed up to the order,
  // as the report's first stage.
  const auto findStart = std::chrono::steady_clock::now();
  ScanResult scan = scanPaths(options.paths, options.recursive);
  for (const std::string& line : scan.errors) report(line);
  summary.skipped = scan.skipped;
  if (options.writeSidecars && !options.dryRun) removeStaleTemporaries(scan);

  // Capture times from the photos' metadata, then the order and the time groups they give.
  std::vector<FolderPhoto> photos;
  progress.start("capture times", static_cast<int64_t>(scan.photos.size()));
  for (std::string& path : scan.photos) {
    FolderPhoto p;
    p.time = readCaptureTime(path);
    if (!p.time && summary.byFileTime) p.time = fileCaptureTime(path);
    p.path = std::move(path);
    photos.push_back(std::move(p));
    progress.step();
  }
  progress.finish();
  orderByCaptureTime(&photos, options.gapSeconds);
  const double findSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - findStart).count();

  // From here on exactly velto-fprint's grouping of that job.
  Job job;
  for (const FolderPhoto& p : photos) {
    job.photos.push_back(p.path);
    job.timeGroups.push_back(p.timeGroup);
  }
  // Prints kept by earlier runs are taken from the cache; the others are computed and kept.
  std::string cacheWarning;
  const std::unique_ptr<PrintsCache> cache = openFolderCache(options, &cacheWarning);
  std::atomic<int64_t> fromCache = 0;
  progress.start("prints", static_cast<int64_t>(photos.size()));
  const AnalysisFactory counted = [&] {
    return std::make_unique<CachedAnalysis>(makeAnalysis(), cache.get(), [&](bool cached) {
      fromCache += cached ? 1 : 0;
      progress.step(cached);
    });
  };
  GroupedJob grouped;
  const bool groupedOk =
      groupLoadedJob(std::move(job), counted, &grouped, &err, *parseRules(options.rules));
  progress.finish();
  if (cache) {
    cache->finish();
    if (const std::optional<CacheProblem> problem = cache->problem()) {
      cacheWarning = folder_messages::cacheProblem(cache->path(), *problem);
    }
  }
  // A warning, not a failure: the prints are right either way.
  if (!cacheWarning.empty()) printLine(streams.err, cacheWarning);
  summary.printsFromCache = fromCache;
  if (!groupedOk) {
    report("velto-fprint-folder: " + err);
    return 1;
  }
  const std::vector<int64_t>& groups = grouped.groups();

  // The listing.
  const std::string listing = options.json ? jsonListing(photos, groups)
                                           : csvListing(photos, groups, streams.outIsTerminal);
  if (std::fwrite(listing.data(), 1, listing.size(), streams.out) != listing.size() ||
      std::fflush(streams.out) != 0) {
    report(folder_messages::couldNotWriteListing(std::strerror(errno)));
  }

  // The report page, exactly as velto-fprint-report draws a job.
  if (options.reportPath) {
    if (options.dryRun) {
      printLine(streams.err, folder_messages::wouldWriteReport(*options.reportPath));
    } else {
      std::string title = "velto-fprint-folder";
      for (const std::string& p : options.paths) title += " " + p;
      const std::string page = renderGroupedJob(title, grouped, findSeconds);
      if (!writeOutput(*options.reportPath, page, grouped.job.photos, &err)) {
        report("velto-fprint-folder: " + err);
      }
    }
  }

  // Series keywords into the sidecars; a photo that left its series loses its keyword.
  const std::vector<std::optional<std::string>> leaves = seriesLeaves(photos, groups);
  if (options.writeSidecars) {
    const FileIdentities photoFiles(grouped.job.photos);
    for (size_t i = 0; i < photos.size(); ++i) {
      const std::string sidecar = sidecarPathOf(photos[i].path);
      if (photoFiles.wouldReplace(sidecar)) {
        report(folder_messages::couldNotWriteSidecar(sidecar, folder_messages::sidecarIsAPhoto()));
        continue;
      }
      const SidecarOutcome outcome = updateSidecar(sidecar, leaves[i], options.dryRun, &err);
      if (outcome == SidecarOutcome::kFailed) {
        report(folder_messages::couldNotWriteSidecar(sidecar, err));
      } else if (outcome != SidecarOutcome::kUnchanged) {
        ++summary.sidecarsWritten;
        if (options.dryRun) {
          const std::string keyword =
              leaves[i] ? std::string(kSeriesRoot) + "|" + *leaves[i] : std::string();
          printLine(streams.err, folder_messages::wouldWriteSidecar(
                                     sidecar, outcome == SidecarOutcome::kCreated, keyword));
        }
      }
    }
  }

  summary.photos = static_cast<int64_t>(photos.size());
  for (const FolderPhoto& p : photos) {
    summary.undated += !p.time || p.time->source == TimeSource::kFile ? 1 : 0;
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    if (leaves[i] && (i == 0 || leaves[i - 1] != leaves[i])) ++summary.series;
  }
  printLine(streams.err, folder_messages::summary(summary));
  return summary.failures > 0 ? 1 : 0;
}

}  // namespace velto
