#include "report/report_data.h"

#include <algorithm>
#include <utility>

#include "core/usable_vectors.h"

namespace velto {

namespace {

PrintState printState(int64_t i, const Job& job, const FeaturePrints& prints) {
  if (usableVector(i, job.timeGroups, prints.vectors, prints.dims)) return PrintState::kUsable;
  const auto length = static_cast<int64_t>(prints.vectors[i].size());
  if (length == 0) return PrintState::kNone;
  if (length != prints.dims) return PrintState::kOtherLength;
  return PrintState::kUnused;
}

// Every undated photo counts alike, whatever number or sign the job gave it.
int64_t timeGroupKey(int64_t timeGroup) { return timeGroup >= 1 ? timeGroup : 0; }

}  // namespace

std::vector<std::optional<Thumbnail>> makeThumbnails(const std::vector<std::string>& photos) {
  std::vector<std::optional<Thumbnail>> thumbnails;
  thumbnails.reserve(photos.size());
  for (const std::string& path : photos) thumbnails.push_back(makeThumbnail(path));
  return thumbnails;
}

ReportData collectReportData(const std::string& jobPath, const Job& job,
                             const FeaturePrints& prints, const Grouping& grouping,
                             std::vector<std::optional<Thumbnail>> thumbnails) {
  ReportData data;
  data.jobPath = jobPath;
  data.dims = prints.dims;
  const auto n = static_cast<int64_t>(job.photos.size());
  for (int64_t i = 0; i < n; ++i) {
    PhotoEntry photo;
    photo.path = job.photos[i];
    photo.timeGroup = job.timeGroups[i];
    photo.group = grouping.groups[i];
    photo.print = printState(i, job, prints);
    photo.thumbnail = std::move(thumbnails[i]);
    data.datedPhotos += photo.timeGroup >= 1 ? 1 : 0;
    data.printsHad += prints.vectors[i].empty() ? 0 : 1;
    data.usablePrints += photo.print == PrintState::kUsable ? 1 : 0;
    data.groupsMade = std::max(data.groupsMade, photo.group);  // numbered 1, 2, ... in order
    data.photos.push_back(std::move(photo));
  }

  data.gaps.resize(grouping.D.size());
  for (size_t i = 0; i < grouping.D.size(); ++i) {
    data.gaps[i].score = grouping.D[i];
    data.gaps[i].timeGroupChange =
        timeGroupKey(job.timeGroups[i]) != timeGroupKey(job.timeGroups[i + 1]);
  }
  for (const int64_t gap : grouping.cutDistanceGaps) {
    data.gaps[static_cast<size_t>(gap)].cutDistance = true;
  }
  for (const int64_t gap : grouping.cutsAt) data.gaps[static_cast<size_t>(gap)].cut = true;

  data.cutDistanceCount = static_cast<int64_t>(grouping.cutDistances.size());
  data.tSplit = grouping.tSplit;
  data.tSplitIsDefault = grouping.tSplitIsDefault;
  return data;
}

void applySeries(const SeriesGrouping& series, ReportData* data) {
  data->rules = "series";
  data->windowThresholds = series.thresholds;
  data->groupsMade = 0;
  for (size_t i = 0; i < data->photos.size(); ++i) {
    data->photos[i].group = series.groups[i];
    data->groupsMade = std::max(data->groupsMade, series.groups[i]);
  }
  for (GapEntry& gap : data->gaps) gap.cut = false;
  for (const int64_t gap : series.cutsAt) data->gaps[static_cast<size_t>(gap)].cut = true;
  for (size_t i = 0; i < data->gaps.size(); ++i) {
    GapEntry& gap = data->gaps[i];
    for (int64_t w = 0; w < SERIES_WINDOWS; ++w) gap.windowScores[w] = series.scores[w][i];
    const bool inRun = !gap.timeGroupChange && data->photos[i].timeGroup >= 1;
    if (inRun) gap.seriesEvidence = evidenceProbability(series.evidence[i]);
  }
}

}  // namespace velto
