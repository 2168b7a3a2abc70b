#pragma once
// Helpers shared by the tests: temporary folders, files, and running the real programs.

#include <string>
#include <vector>

namespace velto::testing {

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

struct ProgramResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `program` with `args` (not counting its own name) in `workDir` (empty: the current
// folder), with standard input from /dev/null, and collects both output streams.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir = "");

// Cosine of two prints' embeddings proper: their constant last element, which would lift every
// score, left out.
double printCosine(const std::vector<float>& a, const std::vector<float>& b);

// A job file text for the given photo paths and time-group numbers.
std::string jobText(const std::vector<std::string>& photos, const std::vector<long long>& groups);

}  // namespace velto::testing
