#include "core/grouping.h"

#include "core/boundary_scores.h"
#include "core/constants.h"
#include "core/cuts.h"
#include "core/numbering.h"
#include "core/threshold.h"

namespace velto {

Grouping groupPhotos(const std::vector<int64_t>& timeGroups,
                     const std::vector<FeatureVector>& vectors, int64_t dims) {
  Grouping g;
  // How different the photos look on both sides of each gap.
  g.D = boundaryScores(timeGroups, vectors, dims);
  // The caller's time groups, as stretches that may be cut.
  g.runs = buildRuns(timeGroups);
  // The job calibrates itself: the scores where the caller already split tell how large a
  // score has to be to mean "another scene".
  g.cutDistanceGaps = cutDistanceGaps(g.runs);
  g.cutDistances = collectCutDistances(g.D, g.runs);
  g.tSplitIsDefault = static_cast<int64_t>(g.cutDistances.size()) < MIN_CUTS_FOR_STATS;
  g.tSplit = splitThreshold(g.cutDistances);
  // Cut runs at their strong peaks, never leaving a piece of one photo.
  g.cutsAt = selectCuts(g.runs, g.D, g.tSplit);
  // Number the pieces in photo order.
  g.groups = numberGroups(timeGroups, g.cutsAt);
  return g;
}

}  // namespace velto
