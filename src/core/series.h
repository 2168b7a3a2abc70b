#pragma once
// The series grouping: our own rules beside the fixed ones, for people's folders. Same inputs
// and output as groupPhotos; the fixed rules stay the callers' contract.
//
// Every gap inside a run gets an evidence of a scene change: a weighted sum of what the job
// shows about it at windows of one, two and three photos a side (each score against its own
// threshold from the job's time-group changes, its prominence over the neighbouring gaps, the
// score itself) and of the fixed rules' own verdict. A gap whose evidence reaches
// SERIES_MIN_EVIDENCE and is the strongest within one gap on either side inside its run is a
// candidate; candidates are cut strongest first, never leaving a piece of one photo. Short
// scenes are told apart by the narrow windows, long drifting series held together by the wide
// one and by the prominence, which a slow drift does not have.

#include <array>
#include <cstdint>
#include <vector>

#include "core/grouping.h"
#include "core/vector_math.h"

namespace velto {

inline constexpr int64_t SERIES_WINDOWS = 3;  // windows of 1, 2 and 3 photos a side

// Every value the series grouping computes, kept for the report.
struct SeriesGrouping {
  Grouping fixed;  // the fixed rules on the same job: one of the inputs of the evidence
  std::array<std::vector<float>, SERIES_WINDOWS> scores;  // per window width, per gap
  std::array<float, SERIES_WINDOWS> thresholds{};         // from the time-group changes
  std::vector<double> evidence;  // per gap, log-odds of a scene change; 0 outside runs
  std::vector<int64_t> cutsAt;   // accepted cuts, ascending gap indices
  std::vector<int64_t> groups;   // the result, one number per photo
};

// The evidence of a scene change as a probability, for people to read.
double evidenceProbability(double logOdds);

// Requires vectors.size() == timeGroups.size(); dims as fixed by the feature-print step.
// Deterministic: the same input gives the same output bit for bit.
SeriesGrouping groupSeries(const std::vector<int64_t>& timeGroups,
                           const std::vector<FeatureVector>& vectors, int64_t dims);

}  // namespace velto
