#pragma once
// The job file: {"photos": [paths...], "timeGroups": [numbers...]}.

#include <cstdint>
#include <string>
#include <vector>

namespace velto {

struct Job {
  std::vector<std::string> photos;  // image paths in sequence order
  std::vector<int64_t> timeGroups;  // one per photo; > 0 dated, <= 0 undated
};

// What is wrong with a job file, in the order the checks run: the first failing check wins.
enum class JobFault {
  kNone,
  kUnreadable,     // cannot be read whole
  kNotAnObject,    // not JSON, or its top-level value is not an object
  kBadPhotos,      // "photos" missing, not an array, or an entry is not a string
  kBadTimeGroups,  // "timeGroups" missing or not an array
  kLengthsDiffer,  // the arrays differ in length
};

struct JobReadResult {
  JobFault fault = JobFault::kNone;
  Job job;                      // complete only when fault is kNone
  int64_t timeGroupsCount = 0;  // set for kLengthsDiffer
};

// Parses job-file bytes. Strict JSON; a leading UTF-8 byte-order mark is skipped; of a key
// given twice, the last one counts. Never fails on a "timeGroups" entry: see timeGroupNumber.
// Only the entries of the two arrays are kept while the text is read, so nesting costs no
// document tree: memory beyond `bytes` is the paths kept plus the longest string.
JobReadResult parseJob(const std::string& bytes);

// The compact job text {"photos":[...],"timeGroups":[...]} that parseJob reads back as `job`:
// quotation marks, backslashes and control characters in paths escaped, other bytes as they are.
std::string encodeJob(const Job& job);

// Reads and parses the job file at `path` (see readRegularFile for what counts as readable).
JobReadResult readJob(const std::string& path);

}  // namespace velto
