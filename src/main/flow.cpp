#include "main/flow.h"

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "fprint/usable.h"
#include "job/atomic_write.h"
#include "job/file_identity.h"
#include "job/result_file.h"
#include "main/fail.h"
#include "main/messages.h"

namespace velto {

void failJob(const JobReadResult& read, const std::string& inputPath) {
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

namespace {

// The one place that touches the result file; the run ends with status 0 after it. A result
// path that names one of the job's photos is a slip of the caller's, and the photo is kept.
void writeGroups(const std::vector<int64_t>& groups, const std::string& outputPath,
                 const std::vector<std::string>& photos) {
  if (wouldReplaceAnyOf(outputPath, photos)) {
    fail(messages::couldNotWrite(outputPath, messages::isAPhotoOfTheJob()));
  }
  const std::string text = encodeGroups(groups);
  std::string reason;
  if (!writeFileAtomically(outputPath, text, &reason)) {
    fail(messages::couldNotWrite(outputPath, reason));
  }
}

}  // namespace

GroupedJob groupJob(const std::string& inputPath, const AnalysisFactory& makeAnalysis) {
  using Clock = std::chrono::steady_clock;
  const auto secondsSince = [](Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };

  // Read and validate the job; the photo paths go to the feature prints only.
  JobReadResult read = readJob(inputPath);
  if (read.fault != JobFault::kNone) failJob(read, inputPath);
  GroupedJob out;
  out.job = std::move(read.job);
  const std::vector<int64_t>& timeGroups = out.job.timeGroups;
  const auto n = static_cast<int64_t>(timeGroups.size());

  // One feature print per photo, in order; a photo that cannot be analysed keeps none. A job
  // without photos sets up no image analysis at all.
  const Clock::time_point printStart = Clock::now();
  if (n > 0) {
    const std::unique_ptr<ImageAnalysis> analysis = makeAnalysis();
    out.prints = extractFeaturePrints(out.job.photos, *analysis);
  }
  out.printSeconds = secondsSince(printStart);

  // Dated photos without a single usable print cannot be grouped by looks.
  const Clock::time_point groupStart = Clock::now();
  if (checkUsable(timeGroups, out.prints.vectors, out.prints.dims).fails()) {
    fail(messages::noUsableFeaturePrint(n, out.prints.dims));
  }

  // Scores, threshold, cuts and numbering: the pure grouping core (empty for an empty job).
  out.grouping = groupPhotos(timeGroups, out.prints.vectors, out.prints.dims);
  out.groupSeconds = secondsSince(groupStart);
  return out;
}

int runFprint(int argc, const char* const* argv, const AnalysisFactory& makeAnalysis) {
  // Exactly two arguments; the program's own name is never shown.
  const std::vector<std::string> args(argv, argv + argc);
  if (args.size() != 3) fail(messages::usage());
  const std::string& inputPath = args[1];
  const std::string& outputPath = args[2];

  const GroupedJob grouped = groupJob(inputPath, makeAnalysis);

  // Replace the result file all at once.
  writeGroups(grouped.grouping.groups, outputPath, grouped.job.photos);
  return 0;
}

}  // namespace velto
