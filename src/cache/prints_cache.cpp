#include "cache/prints_cache.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velto {
namespace {

// The layout of the tables below; a cache of another layout is emptied and made anew.
constexpr int kSchemaVersion = 2;
// Another run may hold the write lock for one batch; far longer means something is stuck.
constexpr int kBusyMilliseconds = 15000;
// New prints per transaction: few enough that a run killed loses little, enough that a cold
// run does not pay a commit per photo.
constexpr size_t kBatch = 48;
// A found entry's seen time is renewed at most once a day, so warm runs hardly write.
constexpr int64_t kRenewSeenAfterSeconds = 24 * 3600;

constexpr char kCreate[] =
    "CREATE TABLE prints("
    " device INTEGER NOT NULL, inode INTEGER NOT NULL, size INTEGER NOT NULL,"
    " mtime_ns INTEGER NOT NULL, content_hash INTEGER NOT NULL, recipe INTEGER NOT NULL,"
    " element_type INTEGER NOT NULL, print_recipe INTEGER NOT NULL, print BLOB NOT NULL,"
    " seen INTEGER NOT NULL,"
    " row_check INTEGER NOT NULL, PRIMARY KEY(device, inode));"
    "CREATE INDEX prints_seen ON prints(seen);"
    "CREATE TABLE settings(name TEXT PRIMARY KEY, value TEXT NOT NULL);";

bool isDamage(int code) {
  return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB;
}

void appendInt(std::string* bytes, int64_t v) {
  bytes->append(reinterpret_cast<const char*>(&v), sizeof v);
}

// What an entry must hash to: a damaged byte anywhere in it makes it a miss.
int64_t rowCheck(const FileFingerprint& f, int64_t recipe, int64_t elementType, int64_t printRecipe,
                 const void* data, size_t size) {
  std::string bytes;
  for (const int64_t v :
       {f.identity.device, f.identity.inode, f.identity.size, f.identity.mtimeNanoseconds,
        static_cast<int64_t>(f.contentHash), recipe, elementType, printRecipe}) {
    appendInt(&bytes, v);
  }
  if (size > 0) bytes.append(static_cast<const char*>(data), size);
  return static_cast<int64_t>(hashBytes(bytes.data(), bytes.size()));
}

// A statement prepared for one use; finalized at the end of the scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) { code_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
  ~Statement() { sqlite3_finalize(s_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int code() const { return code_; }
  sqlite3_stmt* get() const { return s_; }

 private:
  sqlite3_stmt* s_ = nullptr;
  int code_;
};

enum class FileKind { kNone, kSqlite, kOther, kUnreadable };

// Whether the file at `path` could be an SQLite database: only such a file is ever opened by
// SQLite, so that a mistyped --cache never makes anything of a photo or a document.
FileKind kindOf(const std::string& path, int* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *error = errno;
    return errno == ENOENT ? FileKind::kNone : FileKind::kUnreadable;
  }
  char header[16] = {};
  ssize_t got;
  do {
    got = ::read(fd, header, sizeof header);
  } while (got < 0 && errno == EINTR);
  *error = errno;
  ::close(fd);
  if (got == 0) return FileKind::kNone;  // empty: SQLite makes a new database of it
  if (got < 0) return FileKind::kUnreadable;
  return got == 16 && std::memcmp(header, "SQLite format 3", 16) == 0 ? FileKind::kSqlite
                                                                      : FileKind::kOther;
}

}  // namespace

PrintsCache::PrintsCache(const std::string& path, const std::string& recipe, int64_t nowSeconds)
    : path_(path),
      recipeHash_(static_cast<int64_t>(hashBytes(recipe.data(), recipe.size()))),
      recipe_(recipe),
      now_(nowSeconds) {
  const std::lock_guard lock(mutex_);
  if (!openLocked()) return;
  const int code = setUpLocked();
  if (code == SQLITE_OK) return;
  if (isDamage(code)) {
    rebuildLocked(reasonLocked(code));
  } else {
    noteLocked(CacheProblemKind::kCannotOpen, reasonLocked(code));
    closeLocked();
  }
}

PrintsCache::~PrintsCache() { finish(); }

bool PrintsCache::openLocked() {
  int error = 0;
  switch (kindOf(path_, &error)) {
    case FileKind::kOther:
      noteLocked(CacheProblemKind::kNotACache, "it is not an SQLite database");
      return false;
    case FileKind::kUnreadable:
      noteLocked(CacheProblemKind::kCannotOpen, std::strerror(error));
      return false;
    case FileKind::kNone:
    case FileKind::kSqlite:
      break;
  }
  const int code =
      sqlite3_open_v2(path_.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (code != SQLITE_OK) {
    noteLocked(CacheProblemKind::kCannotOpen, reasonLocked(code));
    closeLocked();
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyMilliseconds);
  return true;
}

int PrintsCache::setUpLocked() {
  // SQLite opens a file it may not write read-only: prints are then served, not kept.
  writable_ = sqlite3_db_readonly(db_, "main") == 0;
  int code = SQLITE_OK;
  if (writable_) {
    // WAL: readers never wait for a writer, and a transaction cut short by a kill is simply
    // not there on the next open. NORMAL: a power cut may lose the last batches, never more.
    // Pages of 16 KB hold seven entries of 2.3 KB, where SQLite's default 4 KB hold one and the
    // file would double. Only a new database takes it.
    code = sqlite3_exec(db_,
                        "PRAGMA page_size=16384; PRAGMA journal_mode=WAL;"
                        " PRAGMA synchronous=NORMAL",
                        nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) return code;
  }
  const auto schemaVersion = [this](int* version) {
    Statement s(db_, "PRAGMA user_version");
    if (s.code() != SQLITE_OK) return s.code();
    const int step = sqlite3_step(s.get());
    if (step != SQLITE_ROW) return step;
    *version = sqlite3_column_int(s.get(), 0);
    return SQLITE_OK;
  };
  int version = 0;
  if ((code = schemaVersion(&version)) != SQLITE_OK) return code;
  if (version != kSchemaVersion) {
    if (!writable_) return SQLITE_READONLY;
    // Checked again under the write lock: another run may have made the tables meanwhile.
    if ((code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr)) != SQLITE_OK ||
        (code = schemaVersion(&version)) != SQLITE_OK) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return code;
    }
    if (version != kSchemaVersion) {
      const std::string make = "DROP TABLE IF EXISTS prints; DROP TABLE IF EXISTS settings;" +
                               std::string(kCreate) +
                               "PRAGMA user_version=" + std::to_string(kSchemaVersion);
      code = sqlite3_exec(db_, make.c_str(), nullptr, nullptr, nullptr);
    }
    if (code == SQLITE_OK) code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      return code;
    }
  }
  if ((code = useRecipeLocked()) != SQLITE_OK) return code;
  code = sqlite3_prepare_v3(db_,
                            "SELECT size, mtime_ns, content_hash, recipe, element_type, print,"
                            " seen, row_check, print_recipe FROM prints"
                            " WHERE device = ? AND inode = ?",
                            -1, SQLITE_PREPARE_PERSISTENT, &find_, nullptr);
  if (code != SQLITE_OK) return code;
  if (!writable_) noteLocked(CacheProblemKind::kReadOnly, "it is read-only");
  return SQLITE_OK;
}

// Entries of another recipe are never served (each carries its recipe); here they are also
// removed, once, when the recipe the cache was last used with changes.
int PrintsCache::useRecipeLocked() {
  Statement get(db_, "SELECT value FROM settings WHERE name = 'recipe'");
  if (get.code() != SQLITE_OK) return get.code();
  const int step = sqlite3_step(get.get());
  if (step != SQLITE_ROW && step != SQLITE_DONE) return step;
  if (step == SQLITE_ROW) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(get.get(), 0));
    if (text != nullptr && recipe_ == text) return SQLITE_OK;
  }
  if (!writable_) return SQLITE_OK;
  int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) return code;
  Statement drop(db_, "DELETE FROM prints WHERE recipe <> ?");
  Statement set(db_, "INSERT OR REPLACE INTO settings(name, value) VALUES('recipe', ?)");
  code = drop.code() != SQLITE_OK ? drop.code() : set.code();
  if (code == SQLITE_OK) {
    sqlite3_bind_int64(drop.get(), 1, recipeHash_);
    sqlite3_bind_text(set.get(), 1, recipe_.c_str(), -1, SQLITE_TRANSIENT);
    if ((code = sqlite3_step(drop.get())) == SQLITE_DONE &&
        (code = sqlite3_step(set.get())) == SQLITE_DONE) {
      code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    }
  }
  if (code != SQLITE_OK) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return code;
}

void PrintsCache::rebuildLocked(const std::string& reason) {
  closeLocked();
  const bool first = !problem_;
  noteLocked(CacheProblemKind::kRebuilt, reason);
  const auto giveUp = [&] {
    closeLocked();
    if (first) problem_->kind = CacheProblemKind::kCannotOpen;
  };
  if (rebuilt_) return giveUp();  // damaged again right after being made anew
  rebuilt_ = true;
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string file = path_ + suffix;
    if (::unlink(file.c_str()) != 0 && errno != ENOENT) return giveUp();
  }
  if (!openLocked() || setUpLocked() != SQLITE_OK) giveUp();
}

void PrintsCache::closeLocked() {
  sqlite3_finalize(find_);
  find_ = nullptr;
  sqlite3_close_v2(db_);
  db_ = nullptr;
  writable_ = false;
}

void PrintsCache::noteLocked(CacheProblemKind kind, const std::string& reason) {
  if (!problem_) problem_ = CacheProblem{kind, reason};
}

std::string PrintsCache::reasonLocked(int code) const {
  std::string reason =
      db_ != nullptr && sqlite3_errcode(db_) == code ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
  const int system = db_ != nullptr ? sqlite3_system_errno(db_) : 0;
  if (system != 0 && (code & 0xff) == SQLITE_IOERR)
    reason += std::string(" (") + std::strerror(system) + ")";
  return reason;
}

void PrintsCache::failLocked(CacheProblemKind kind, int code) {
  if (isDamage(code)) {
    rebuildLocked(reasonLocked(code));
    return;
  }
  noteLocked(kind, reasonLocked(code));
  if (kind == CacheProblemKind::kWriteFailed) {
    writable_ = false;
  } else {
    closeLocked();
  }
}

std::optional<FeaturePrint> PrintsCache::find(const FileFingerprint& file) {
  const std::lock_guard lock(mutex_);
  if (db_ == nullptr) return std::nullopt;
  sqlite3_stmt* s = find_;
  sqlite3_bind_int64(s, 1, file.identity.device);
  sqlite3_bind_int64(s, 2, file.identity.inode);
  const int step = sqlite3_step(s);
  std::optional<FeaturePrint> print;
  if (step == SQLITE_ROW) {
    const auto column = [s](int i) { return sqlite3_column_int64(s, i); };
    const void* blob = sqlite3_column_blob(s, 5);
    const auto bytes = static_cast<size_t>(sqlite3_column_bytes(s, 5));
    if (column(0) == file.identity.size && column(1) == file.identity.mtimeNanoseconds &&
        column(2) == static_cast<int64_t>(file.contentHash) && column(3) == recipeHash_ &&
        column(7) == rowCheck(file, recipeHash_, column(4), column(8), blob, bytes)) {
      print = FeaturePrint{column(4), {}, column(8)};
      if (bytes > 0) {
        const auto* begin = static_cast<const unsigned char*>(blob);
        print->data.assign(begin, begin + bytes);
      }
      if (column(6) < now_ - kRenewSeenAfterSeconds) seen_.push_back(file.identity);
    }
  }
  sqlite3_reset(s);
  // A reader that waited past the busy timeout just misses; anything else stops the cache.
  if (step != SQLITE_ROW && step != SQLITE_DONE && (step & 0xff) != SQLITE_BUSY) {
    failLocked(CacheProblemKind::kReadFailed, step);
  }
  return print;
}

void PrintsCache::store(const FileFingerprint& file, const FeaturePrint& print) {
  const std::lock_guard lock(mutex_);
  if (db_ == nullptr || !writable_) return;
  pending_.push_back({file, print});
  if (pending_.size() >= kBatch) writePendingLocked();
}

int PrintsCache::writeEntriesLocked() {
  Statement insert(db_,
                   "INSERT OR REPLACE INTO prints(device, inode, size, mtime_ns, content_hash,"
                   " recipe, element_type, print_recipe, print, seen, row_check)"
                   " VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  Statement renew(db_, "UPDATE prints SET seen = ? WHERE device = ? AND inode = ?");
  if (insert.code() != SQLITE_OK) return insert.code();
  if (renew.code() != SQLITE_OK) return renew.code();
  for (const Entry& e : pending_) {
    sqlite3_stmt* s = insert.get();
    const FileIdentity& id = e.file.identity;
    int i = 0;
    for (const int64_t v : {id.device, id.inode, id.size, id.mtimeNanoseconds,
                            static_cast<int64_t>(e.file.contentHash), recipeHash_,
                            e.print.elementType, e.print.recipe}) {
      sqlite3_bind_int64(s, ++i, v);
    }
    // An empty print is an empty blob, not the NULL that binding no bytes would give.
    if (e.print.data.empty()) {
      sqlite3_bind_zeroblob(s, ++i, 0);
    } else {
      sqlite3_bind_blob(s, ++i, e.print.data.data(), static_cast<int>(e.print.data.size()),
                        SQLITE_STATIC);
    }
    sqlite3_bind_int64(s, ++i, now_);
    sqlite3_bind_int64(s, ++i,
                       rowCheck(e.file, recipeHash_, e.print.elementType, e.print.recipe,
                                e.print.data.data(), e.print.data.size()));
    const int step = sqlite3_step(s);
    sqlite3_reset(s);
    if (step != SQLITE_DONE) return step;
  }
  for (const FileIdentity& id : seen_) {
    sqlite3_stmt* s = renew.get();
    sqlite3_bind_int64(s, 1, now_);
    sqlite3_bind_int64(s, 2, id.device);
    sqlite3_bind_int64(s, 3, id.inode);
    const int step = sqlite3_step(s);
    sqlite3_reset(s);
    if (step != SQLITE_DONE) return step;
  }
  return SQLITE_OK;
}

void PrintsCache::writePendingLocked() {
  if (db_ != nullptr && writable_ && !(pending_.empty() && seen_.empty())) {
    int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (code == SQLITE_OK) code = writeEntriesLocked();
    if (code == SQLITE_OK) code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      failLocked(CacheProblemKind::kWriteFailed, code);
      // After a rebuild the fresh cache takes the batch; otherwise it is dropped.
      if (db_ != nullptr && writable_) {
        writePendingLocked();
        return;
      }
    }
  }
  pending_.clear();
  seen_.clear();
}

void PrintsCache::finish() {
  const std::lock_guard lock(mutex_);
  writePendingLocked();
  if (db_ != nullptr && writable_) {
    Statement forget(db_, "DELETE FROM prints WHERE seen < ?");
    int code = forget.code();
    if (code == SQLITE_OK) {
      sqlite3_bind_int64(forget.get(), 1, now_ - kForgetAfterSeconds);
      code = sqlite3_step(forget.get());
    }
    if (code != SQLITE_DONE) failLocked(CacheProblemKind::kWriteFailed, code);
  }
  closeLocked();
}

std::optional<CacheProblem> PrintsCache::problem() const {
  const std::lock_guard lock(mutex_);
  return problem_;
}

}  // namespace velto
