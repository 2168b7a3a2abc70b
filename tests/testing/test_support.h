#pragma once
// Helpers shared by the tests: temporary folders, files, running the real programs and reading
// what they wrote.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace velto::testing {

// The programs under test and the files they are tried on.
inline const std::string kFprint = VELTO_FPRINT_BIN, kReplay = VELTO_REPLAY_BIN,
                         kEmbed = VELTO_EMBED_BIN, kReport = VELTO_REPORT_BIN,
                         kFolder = VELTO_FOLDER_BIN;
inline const std::string kExamples = VELTO_EXAMPLES, kPhotos = VELTO_EXAMPLE_PHOTOS "/",
                         kImages = VELTO_TEST_DATA "/images/";
// A print file holding the one float 1.0: every photo given it looks the same.
inline const std::string kUnitPrint("\x01\0\0\0\0\0\x80\x3f", 8);

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
bool exists(const std::string& path);
std::vector<std::string> listFolder(const std::string& path);  // sorted names, no . and ..

// Runs `fn` with this process's standard output and error sent to a file and returns what it
// returned; the test fails if anything was printed (a library that prints from inside the
// programs would garble what they write).
void captureStreams();  // standard output and error into a file
void releaseStreams();  // gives them back; the test fails if the file is not empty
template <typename Fn>
auto quietly(Fn&& fn) {
  struct Captured {
    Captured() { captureStreams(); }
    ~Captured() { releaseStreams(); }
  } captured;
  return fn();
}

// Passes when `text` holds `part`; the failure shows both.
::testing::AssertionResult contains(const std::string& text, const std::string& part);

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
  bool operator==(const ProgramResult&) const = default;
};
void PrintTo(const ProgramResult& r, std::ostream* os);
inline const ProgramResult kQuiet{0, "", ""};  // success, nothing printed
// The failure of every program: status 1, the one message line, nothing on standard output.
inline ProgramResult failure(const std::string& message) { return {1, "", message + "\n"}; }

// Starts `program` with `args` (not counting its own name) in `workDir` (empty: the current
// folder), its standard streams on the files at the given paths (created or emptied). Returns
// the child's pid; a program that cannot be started exits with 127.
pid_t startChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& inPath, const std::string& outPath, const std::string& errPath,
                 const std::string& workDir = "");

// Runs `program` with standard input from /dev/null and collects both output streams.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir = "");

// Runs `command` (program first) as user 65534 when the tests run as root, who could read and
// write everything; as it is otherwise.
ProgramResult runAsNobody(const std::vector<std::string>& command, const std::string& workDir = "");

struct MeasuredRun : ProgramResult {
  bool timedOut = false;     // killed for running past the limit
  double seconds = 0;        // wall time
  int64_t peakRssBytes = 0;  // the child's own peak resident set size (from wait4)
};

// runProgram, killed with SIGKILL after `limitSeconds`. The peak memory is the child's own, not
// the largest of every child this process ever had; it does count what this process held when
// it forked the child, so keep that small where the bound is tight.
MeasuredRun runMeasured(const std::string& program, const std::vector<std::string>& args,
                        double limitSeconds, const std::string& workDir = "");
// Prints "[ measured ] what: seconds, peak memory" for the record of a run.
void printMeasured(const std::string& what, const MeasuredRun& r);

// Writes a job file for the given photo paths and time-group numbers; returns `path`.
std::string writeJob(const std::string& path, const std::vector<std::string>& photos,
                     const std::vector<long long>& groups);

// One line of velto-fprint-embed's listing: print file, element count, photo.
struct Listed {
  std::string printFile, count, photo;
};
std::vector<Listed> embedListing(const std::string& out);

// The groups array of a result file text {"groups":[...]}.
std::vector<long long> resultGroups(const std::string& json);

// Reading the report page: the start tags of one kind with their attributes, in page order.
// Enough for the page the report writes (double-quoted attributes), no HTML parser.
struct Tag {
  std::map<std::string, std::string> attrs;  // values as written, entities not decoded
  bool hasClass(const std::string& name) const;
};

// Every start tag `<name ...>` whose class list contains `cls` (any such tag when `cls` is
// empty), in page order.
std::vector<Tag> findTags(const std::string& html, const std::string& name,
                          const std::string& cls = "");

// The group number of each tile (figure.tile), indexed by data-index; fails the current test
// when an index is missing or repeated.
std::vector<long long> tileGroups(const std::string& html);

}  // namespace velto::testing
