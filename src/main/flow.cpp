#include "main/flow.h"

#include <string>
#include <vector>

#include "fprint/feature_prints.h"
#include "fprint/usable.h"
#include "grouping/grouping.h"
#include "job/atomic_write.h"
#include "job/job_file.h"
#include "job/result_file.h"
#include "main/fail.h"
#include "main/messages.h"

namespace velto {

namespace {

[[noreturn]] void failJob(const JobReadResult& read, const std::string& inputPath) {
  switch (read.fault) {
    case JobFault::kUnreadable:
      fail(messages::couldNotRead(inputPath));
    case JobFault::kNotAnObject:
      fail(messages::notAJsonObject(inputPath));
    case JobFault::kBadPhotos:
      fail(messages::badPhotos());
    case JobFault::kBadTimeGroups:
      fail(messages::badTimeGroups());
    case JobFault::kLengthsDiffer:
    case JobFault::kNone:
      break;
  }
  fail(messages::lengthsDiffer(static_cast<int64_t>(read.job.photos.size()),
                               read.timeGroupsCount));
}

// The one place that touches the result file; the run ends with status 0 after it.
void writeGroups(const std::vector<int64_t>& groups, const std::string& outputPath) {
  const std::string text = encodeGroups(groups);
  std::string reason;
  if (!writeFileAtomically(outputPath, text, &reason)) {
    fail(messages::couldNotWrite(outputPath, reason));
  }
}

}  // namespace

int runFprint(int argc, const char* const* argv, const AnalysisFactory& makeAnalysis) {
  // Exactly two arguments; the program's own name is never shown.
  const std::vector<std::string> args(argv, argv + argc);
  if (args.size() != 3) fail(messages::usage());
  const std::string& inputPath = args[1];
  const std::string& outputPath = args[2];

  // Read and validate the job; the photo paths go to the feature prints only.
  const JobReadResult read = readJob(inputPath);
  if (read.fault != JobFault::kNone) failJob(read, inputPath);
  const std::vector<int64_t>& timeGroups = read.job.timeGroups;
  const auto n = static_cast<int64_t>(timeGroups.size());

  // A job without photos is answered at once, without setting up any image analysis.
  if (n == 0) {
    writeGroups({}, outputPath);
    return 0;
  }

  // One feature print per photo, in order; a photo that cannot be analysed keeps none.
  const std::unique_ptr<ImageAnalysis> analysis = makeAnalysis();
  const FeaturePrints prints = extractFeaturePrints(read.job.photos, *analysis);

  // Dated photos without a single usable print cannot be grouped by looks.
  if (checkUsable(timeGroups, prints.vectors, prints.dims).fails()) {
    fail(messages::noUsableFeaturePrint(n, prints.dims));
  }

  // Scores, threshold, cuts and numbering: the pure grouping core.
  const Grouping grouping = groupPhotos(timeGroups, prints.vectors, prints.dims);

  // Replace the result file all at once.
  writeGroups(grouping.groups, outputPath);
  return 0;
}

}  // namespace velto
