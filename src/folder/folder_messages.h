#pragma once
// Every line velto-fprint-folder writes to standard error, built in one place.

#include <cstdint>
#include <string>

#include "cache/prints_cache.h"

namespace velto::folder_messages {

std::string badGap(const std::string& value);
std::string couldNotRead(const std::string& path, const std::string& reason);
std::string couldNotReadFolder(const std::string& path, const std::string& reason);
std::string couldNotWriteSidecar(const std::string& path, const std::string& reason);
std::string couldNotWriteListing(const std::string& reason);
std::string sidecarIsAPhoto();  // the reason when a sidecar path names one of the photos
std::string wouldWriteSidecar(const std::string& path, bool create, const std::string& keyword);
std::string wouldWriteReport(const std::string& path);
// The one warning of a run about its prints cache: what went wrong and what the run does.
std::string cacheProblem(const std::string& path, const CacheProblem& problem);
std::string noCacheFolder();  // neither XDG_CACHE_HOME nor HOME gives a place

struct Summary {
  int64_t photos = 0;
  int64_t undated = 0;           // without a time of their own: group 0, or...
  bool byFileTime = false;       // ...dated by their file's time instead
  int64_t printsFromCache = 0;
  int64_t skipped = 0;
  int64_t series = 0;            // groups of two photos or more
  int64_t sidecarsWritten = 0;   // created or updated (or that would be, under a dry run)
  int64_t failures = 0;          // folders, files and sidecars reported above
  bool dryRun = false;
};
std::string summary(const Summary& s);

}  // namespace velto::folder_messages
