#include "app/run_job.h"

#include <chrono>
#include <utility>

#include "app/messages.h"
#include "core/usable_vectors.h"
#include "io/atomic_write.h"
#include "io/file_identity.h"
#include "job/result_file.h"

namespace velto {

std::string jobFaultMessage(const JobReadResult& read, const std::string& inputPath) {
  switch (read.fault) {
    case JobFault::kUnreadable:
      return messages::couldNotRead(inputPath);
    case JobFault::kNotAnObject:
      return messages::notAJsonObject(inputPath);
    case JobFault::kBadPhotos:
      return messages::badPhotos();
    case JobFault::kBadTimeGroups:
      return messages::badTimeGroups();
    case JobFault::kLengthsDiffer:
    case JobFault::kNone:
      break;
  }
  return messages::lengthsDiffer(static_cast<int64_t>(read.job.photos.size()),
                                 read.timeGroupsCount);
}

bool groupJob(const std::string& inputPath, const AnalysisFactory& makeAnalysis, GroupedJob* out,
              std::string* err, Rules rules) {
  // Read and validate the job; the photo paths go to the feature prints only.
  JobReadResult read = readJob(inputPath);
  if (read.fault != JobFault::kNone) {
    *err = jobFaultMessage(read, inputPath);
    return false;
  }
  return groupLoadedJob(std::move(read.job), makeAnalysis, out, err, rules);
}

bool groupLoadedJob(Job job, const AnalysisFactory& makeAnalysis, GroupedJob* out, std::string* err,
                    Rules rules) {
  using Clock = std::chrono::steady_clock;
  const auto secondsSince = [](Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };
  out->job = std::move(job);
  const std::vector<int64_t>& timeGroups = out->job.timeGroups;
  const auto n = static_cast<int64_t>(timeGroups.size());

  // One feature print per photo, in order; a photo that cannot be analysed keeps none. A job
  // without photos sets up no image analysis at all.
  const Clock::time_point printStart = Clock::now();
  if (n > 0) {
    const std::unique_ptr<ImageAnalysis> analysis = makeAnalysis();
    out->prints = extractFeaturePrints(out->job.photos, *analysis);
  }
  out->printSeconds = secondsSince(printStart);

  // Dated photos without a single usable print cannot be grouped by looks.
  const Clock::time_point groupStart = Clock::now();
  if (checkUsable(timeGroups, out->prints.vectors, out->prints.dims).fails()) {
    *err = messages::noUsableFeaturePrint(n, out->prints.dims);
    return false;
  }

  // Scores, threshold, cuts and numbering: the pure grouping core (empty for an empty job). The
  // series grouping runs the fixed rules too, as part of its evidence.
  out->rules = rules;
  if (rules == Rules::kSeries) {
    out->series = groupSeries(timeGroups, out->prints.vectors, out->prints.dims);
    out->grouping = std::move(out->series->fixed);
  } else {
    out->grouping = groupPhotos(timeGroups, out->prints.vectors, out->prints.dims);
  }
  out->groupSeconds = secondsSince(groupStart);
  return true;
}

bool writeOutput(const std::string& path, const std::string& bytes,
                 const std::vector<std::string>& photos, std::string* err) {
  if (wouldReplaceAnyOf(path, photos)) {
    *err = messages::couldNotWrite(path, messages::isAPhotoOfTheJob());
    return false;
  }
  std::string reason;
  if (!writeFileAtomically(path, bytes, &reason)) {
    *err = messages::couldNotWrite(path, reason);
    return false;
  }
  return true;
}

bool runFprint(const std::vector<std::string>& args, const AnalysisFactory& makeAnalysis,
               std::string* err, Rules rules) {
  // Exactly two arguments; the program's own name is never shown.
  if (args.size() != 3) {
    *err = messages::usage();
    return false;
  }
  const std::string& inputPath = args[1];
  const std::string& outputPath = args[2];

  // The job, its prints and its groups.
  GroupedJob grouped;
  if (!groupJob(inputPath, makeAnalysis, &grouped, err, rules)) return false;

  // Replace the result file all at once; the run ends with status 0 after it.
  return writeOutput(outputPath, encodeGroups(grouped.groups()), grouped.job.photos, err);
}

}  // namespace velto
