#pragma once
// Everything the report page shows about one grouped job, gathered before any HTML is made.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/grouping.h"
#include "core/series.h"
#include "job/job_file.h"
#include "prints/feature_prints.h"
#include "report/thumbnails.h"

namespace velto {

// What became of a photo's print.
enum class PrintState {
  kUsable,       // dated, with a print of the common length: it takes part in the scores
  kUnused,       // a print of the common length, but the photo is undated, so it is not scored
  kNone,         // no print: the file could not be analysed
  kOtherLength,  // a print of another length than the first one, so it is ignored
};

struct PhotoEntry {
  std::string path;       // as written in the job
  int64_t timeGroup = 0;  // as read; 0 or less: undated
  int64_t group = 0;      // the result; 0 for undated photos
  PrintState print = PrintState::kNone;
  std::optional<Thumbnail> thumbnail;  // nothing when the file could not be decoded
};

// The gap between photo i and photo i + 1.
struct GapEntry {
  float score = 0.0f;            // boundary score D[i]
  bool timeGroupChange = false;  // a new time group, or dated next to undated
  bool cutDistance = false;      // a change between touching runs: its score sets the threshold
  bool cut = false;              // an accepted cut of the rules that grouped the page
  // The series grouping's evidence of a scene change here (0 to 1), when it grouped the page
  // and the gap lies inside a run; with the scores at windows of 1, 2 and 3 photos a side.
  std::optional<double> seriesEvidence;
  std::array<float, SERIES_WINDOWS> windowScores{};
};

// Wall-clock seconds per stage. A stage the program did not time (velto-fprint-report finds
// no photos) has none, and the page leaves it out rather than showing a zero.
struct StageSeconds {
  std::optional<double> photos;     // finding the photos and reading their capture times
  std::optional<double> prints;     // decoding and the network
  std::optional<double> grouping;   // usable check, scores, threshold, cuts, numbering
  std::optional<double> rendering;  // thumbnails and the page
};

struct ReportData {
  std::string jobPath;
  std::vector<PhotoEntry> photos;
  std::vector<GapEntry> gaps;  // photos.size() - 1 of them (none for fewer than two photos)
  int64_t datedPhotos = 0;
  int64_t printsHad = 0;  // photos with any print
  int64_t usablePrints = 0;
  int64_t dims = -1;
  int64_t cutDistanceCount = 0;
  float tSplit = 0.0f;
  bool tSplitIsDefault = false;    // too few time-group changes to take a median
  int64_t groupsMade = 0;          // numbered groups, not counting undated photos
  std::string rules = "platform";  // the rules that grouped the page: "platform" or "series"
  std::array<float, SERIES_WINDOWS> windowThresholds{};  // the series grouping's, per window
  StageSeconds seconds;
};

// Shows the series grouping's groups, cuts and evidence in place of the fixed rules' (whose
// scores and threshold stay in the plot). Requires `series` to be of the job `data` shows.
void applySeries(const SeriesGrouping& series, ReportData* data);

// The thumbnail of every photo, in order (see makeThumbnail).
std::vector<std::optional<Thumbnail>> makeThumbnails(const std::vector<std::string>& photos);

// Gathers the page's content. Requires job.photos, job.timeGroups, prints.vectors,
// grouping.groups and thumbnails to have one entry per photo, as groupPhotos leaves them.
ReportData collectReportData(const std::string& jobPath, const Job& job,
                             const FeaturePrints& prints, const Grouping& grouping,
                             std::vector<std::optional<Thumbnail>> thumbnails);

}  // namespace velto
