#include "job/job_file.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "job/read_file.h"
#include "job/time_group.h"

namespace velto {

JobReadResult parseJob(const std::string& bytes) {
  JobReadResult result;
  // The JSON reader takes a NUL byte for the end of the text and would accept whatever
  // follows it; valid JSON never holds a raw NUL, so such a file is refused outright.
  if (bytes.find('\0') != std::string::npos) {
    result.fault = JobFault::kNotAnObject;
    return result;
  }
  // Without exceptions: a parse failure comes back as a discarded value.
  const nlohmann::json root = nlohmann::json::parse(bytes, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded() || !root.is_object()) {
    result.fault = JobFault::kNotAnObject;
    return result;
  }
  const auto photos = root.find("photos");
  if (photos == root.end() || !photos->is_array()) {
    result.fault = JobFault::kBadPhotos;
    return result;
  }
  for (const auto& entry : *photos) {
    if (!entry.is_string()) {
      result.fault = JobFault::kBadPhotos;
      return result;
    }
  }
  const auto timeGroups = root.find("timeGroups");
  if (timeGroups == root.end() || !timeGroups->is_array()) {
    result.fault = JobFault::kBadTimeGroups;
    return result;
  }
  if (timeGroups->size() != photos->size()) {
    result.fault = JobFault::kLengthsDiffer;
    result.job.photos.resize(photos->size());
    result.timeGroupsCount = static_cast<int64_t>(timeGroups->size());
    return result;
  }
  result.job.photos.reserve(photos->size());
  for (const auto& entry : *photos) result.job.photos.push_back(entry.get<std::string>());
  result.job.timeGroups.reserve(timeGroups->size());
  for (const auto& entry : *timeGroups) result.job.timeGroups.push_back(timeGroupNumber(entry));
  return result;
}

JobReadResult readJob(const std::string& path) {
  std::string bytes;
  std::string reason;
  if (!readRegularFile(path, MAX_READ_BYTES, &bytes, &reason)) {
    JobReadResult result;
    result.fault = JobFault::kUnreadable;
    return result;
  }
  return parseJob(bytes);
}

}  // namespace velto
