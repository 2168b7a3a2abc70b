#pragma once
// The prints cache: feature prints kept between runs in one SQLite file, so that a photo is
// analysed again only when it is new, changed, or the print recipe changed.
//
// Contract:
// - A print is served only for the same file (device, inode), the same size and modification
//   time, the same content hash and the same recipe, and only when the entry's own check
//   value still matches what it holds: a damaged entry is never served, it is a miss.
// - Never fails a run: a cache that cannot be opened, read or written is switched off (for
//   writing, or altogether) and problem() says why, once. A file that is not SQLite is never
//   changed; an SQLite file that is damaged is removed and started afresh.
// - Safe for several processes at once (WAL, busy timeout), and for a process killed at any
//   moment: new entries are written in transactions of a few dozen.
// - Entries not seen for kForgetAfterSeconds are removed when a run finishes.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cache/file_fingerprint.h"
#include "prints/image_analysis.h"

struct sqlite3;
struct sqlite3_stmt;

namespace velto {

// Entries of files not seen for half a year are dropped: the cost of keeping a print (about
// 2 to 3 KB) for a photo long gone against computing it once more (about 15 ms).
inline constexpr int64_t kForgetAfterSeconds = int64_t{180} * 24 * 3600;

enum class CacheProblemKind {
  kCannotOpen,   // no cache this run
  kNotACache,    // the file holds something else; left alone, no cache this run
  kRebuilt,      // it was damaged and has been started afresh
  kReadOnly,     // prints are served but new ones are not kept
  kWriteFailed,  // new prints are no longer kept (a full disk, ...)
  kReadFailed,   // the cache is no longer used this run
};

struct CacheProblem {
  CacheProblemKind kind;
  std::string reason;  // SQLite's or the operating system's words
};

class PrintsCache {
 public:
  // Opens the cache at `path`, creating it when missing, for prints made by `recipe`: entries
  // of any other recipe are removed. `nowSeconds`: the time of this run (seconds since 1970).
  PrintsCache(const std::string& path, const std::string& recipe, int64_t nowSeconds);
  ~PrintsCache();
  PrintsCache(const PrintsCache&) = delete;
  PrintsCache& operator=(const PrintsCache&) = delete;

  // The print kept for this file content, or nothing. Safe from several threads at once.
  std::optional<FeaturePrint> find(const FileFingerprint& file);

  // Keeps `print` for the file (written in batches). Safe from several threads at once.
  void store(const FileFingerprint& file, const FeaturePrint& print);

  // Writes what is pending, marks the files found as seen, removes entries not seen for
  // kForgetAfterSeconds and closes the cache; afterwards find and store do nothing.
  void finish();

  // The first problem met so far, if any; later ones are not recorded.
  std::optional<CacheProblem> problem() const;

  const std::string& path() const { return path_; }

 private:
  struct Entry {
    FileFingerprint file;
    FeaturePrint print;
  };

  bool openLocked();
  int setUpLocked();
  int useRecipeLocked();
  void rebuildLocked(const std::string& reason);
  void closeLocked();
  void writePendingLocked();
  int writeEntriesLocked();
  void failLocked(CacheProblemKind kind, int code);
  void noteLocked(CacheProblemKind kind, const std::string& reason);
  std::string reasonLocked(int code) const;

  mutable std::mutex mutex_;
  std::string path_;
  int64_t recipeHash_ = 0;
  std::string recipe_;
  int64_t now_ = 0;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* find_ = nullptr;  // prepared once: the lookup runs for every photo
  bool writable_ = false;
  bool rebuilt_ = false;
  std::vector<Entry> pending_;
  std::vector<FileIdentity> seen_;  // found entries whose seen time is old
  std::optional<CacheProblem> problem_;
};

}  // namespace velto
