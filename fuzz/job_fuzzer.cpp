// libFuzzer target: job-file parsing on arbitrary bytes. Besides crashes and sanitizer
// reports it checks that the streaming parser agrees in every detail with a plain reading of
// the whole document tree (kept here as the reference), and what callers rely on: a parsed
// job has one time-group entry per photo.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "job/job_file.h"
#include "job/time_group.h"

namespace {

using velto::JobFault;
using velto::JobReadResult;

// The job as the whole document tree gives it: simple, and too hungry for memory on hostile
// files to be the real parser.
JobReadResult referenceParse(const std::string& bytes) {
  JobReadResult result;
  if (bytes.find('\0') != std::string::npos) {
    result.fault = JobFault::kNotAnObject;
    return result;
  }
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
  for (const auto& entry : *photos) result.job.photos.push_back(entry.get<std::string>());
  for (const auto& entry : *timeGroups) {
    result.job.timeGroups.push_back(velto::timeGroupNumber(entry));
  }
  return result;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "job_fuzzer: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const JobReadResult r = velto::parseJob(bytes);
  const JobReadResult want = referenceParse(bytes);
  if (r.fault != want.fault) fail("fault differs from the document tree's");
  if (r.job.photos.size() != want.job.photos.size()) fail("photo count differs");
  if (r.timeGroupsCount != want.timeGroupsCount) fail("time-group count differs");
  switch (r.fault) {
    case JobFault::kNone:
      if (r.job.photos != want.job.photos) fail("photos differ");
      if (r.job.timeGroups != want.job.timeGroups) fail("time groups differ");
      if (r.job.photos.size() != r.job.timeGroups.size()) fail("one time group per photo");
      break;
    case JobFault::kLengthsDiffer:
      if (r.timeGroupsCount < 0 || static_cast<size_t>(r.timeGroupsCount) == r.job.photos.size()) {
        fail("lengths said to differ but do not");
      }
      break;
    case JobFault::kUnreadable:
      fail("parsing bytes never reads a file");
    default:
      if (!r.job.photos.empty() || !r.job.timeGroups.empty()) fail("a refused job has content");
      break;
  }
  return 0;
}
