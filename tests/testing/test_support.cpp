#include "testing/test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "job/job_file.h"

namespace velto::testing {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/velto-test-XXXXXX";
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests take permissions away; give them back so that everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
    }
  }
  std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

namespace {
const TempDir& captureDir() {
  static const TempDir dir;  // one file for the whole test run
  return dir;
}
int savedStreams[3];
}  // namespace

void captureStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
  const std::string path = captureDir().file("output");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  for (const int s : {1, 2}) {
    savedStreams[s] = ::dup(s);
    ::dup2(fd, s);
  }
  ::close(fd);
}

void releaseStreams() {
  std::fflush(stdout);
  std::fflush(stderr);
  for (const int s : {1, 2}) {
    ::dup2(savedStreams[s], s);
    ::close(savedStreams[s]);
  }
  EXPECT_EQ(readFile(captureDir().file("output")), "");
}

bool exists(const std::string& path) {
  return std::filesystem::exists(std::filesystem::symlink_status(path));
}

std::vector<std::string> listFolder(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

::testing::AssertionResult contains(const std::string& text, const std::string& part) {
  if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << part << "\" is not in:\n" << text;
}

void PrintTo(const ProgramResult& r, std::ostream* os) {
  *os << "status " << r.status << ", stdout \"" << r.out << "\", stderr \"" << r.err << "\"";
}

pid_t startChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& inPath, const std::string& outPath, const std::string& errPath,
                 const std::string& workDir) {
  std::vector<std::string> argStrings = {program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const std::string* paths[3] = {&inPath, &outPath, &errPath};
    for (int fd = 0; fd < 3; ++fd) {
      const int flags = fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
      const int opened = ::open(paths[fd]->c_str(), flags | O_CLOEXEC, 0644);
      if (opened < 0 || ::dup2(opened, fd) < 0) ::_exit(127);
    }
    if (!workDir.empty() && ::chdir(workDir.c_str()) != 0) ::_exit(127);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir) {
  return runMeasured(program, args, 1e9, workDir);
}

ProgramResult runAsNobody(const std::vector<std::string>& command, const std::string& workDir) {
  if (::geteuid() != 0)
    return runProgram(command[0], {command.begin() + 1, command.end()}, workDir);
  std::vector<std::string> args = {"--reuid=65534", "--regid=65534", "--clear-groups"};
  args.insert(args.end(), command.begin(), command.end());
  return runProgram("/usr/bin/setpriv", args, workDir);
}

MeasuredRun runMeasured(const std::string& program, const std::vector<std::string>& args,
                        double limitSeconds, const std::string& workDir) {
  TempDir io;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const pid_t pid = startChild(program, args, "/dev/null", io.file("out"), io.file("err"), workDir);
  MeasuredRun run;
  int wstatus = 0;
  struct rusage usage {};
  for (;;) {
    const pid_t done = ::wait4(pid, &wstatus, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0) throw std::runtime_error("wait4 failed");
    if (Clock::now() - start > std::chrono::duration<double>(limitSeconds)) {
      ::kill(pid, SIGKILL);
      ::wait4(pid, &wstatus, 0, &usage);
      run.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  run.peakRssBytes = static_cast<int64_t>(usage.ru_maxrss) * 1024;  // Linux reports KiB
  run.out = readFile(io.file("out"));
  run.err = readFile(io.file("err"));
  return run;
}

void printMeasured(const std::string& what, const MeasuredRun& r) {
  std::printf("[ measured ] %s: %.1f s, peak %lld MiB\n", what.c_str(), r.seconds,
              static_cast<long long>(r.peakRssBytes >> 20));
}

std::string writeJob(const std::string& path, const std::vector<std::string>& photos,
                     const std::vector<long long>& groups) {
  Job job;
  job.photos = photos;
  job.timeGroups.assign(groups.begin(), groups.end());
  writeFile(path, encodeJob(job));
  return path;
}

std::vector<Listed> embedListing(const std::string& out) {
  std::vector<Listed> lines;
  std::istringstream in(out);
  for (Listed l; std::getline(in, l.printFile, '\t') && std::getline(in, l.count, '\t') &&
                 std::getline(in, l.photo);) {
    lines.push_back(l);
  }
  return lines;
}

bool Tag::hasClass(const std::string& name) const {
  const auto it = attrs.find("class");
  return it != attrs.end() && (" " + it->second + " ").find(" " + name + " ") != std::string::npos;
}

std::vector<Tag> findTags(const std::string& html, const std::string& name,
                          const std::string& cls) {
  std::vector<Tag> tags;
  const std::string open = "<" + name;
  for (size_t at = html.find(open); at != std::string::npos; at = html.find(open, at + 1)) {
    const char next = html[at + open.size()];
    if (next != ' ' && next != '>') continue;  // <figure> but not <figcaption>
    // The page escapes '>' in values, so the tag ends at the next one. Its name="value" pairs;
    // no std::regex: GCC 12 reports false uninitialised reads inside it in the sanitizer build.
    const std::string text = html.substr(at, html.find('>', at) - at);
    Tag tag;
    for (size_t eq = text.find("=\""), close;
         eq != std::string::npos && (close = text.find('"', eq + 2)) != std::string::npos;
         eq = text.find("=\"", close)) {
      const size_t start = text.rfind(' ', eq) + 1;
      tag.attrs[text.substr(start, eq - start)] = text.substr(eq + 2, close - eq - 2);
    }
    if (cls.empty() || tag.hasClass(cls)) tags.push_back(tag);
  }
  return tags;
}

std::vector<long long> tileGroups(const std::string& html) {
  const std::vector<Tag> tiles = findTags(html, "figure", "tile");
  std::vector<long long> groups(tiles.size(), -1);
  for (const Tag& t : tiles) {
    const size_t i = std::stoul(t.attrs.at("data-index"));
    if (i >= groups.size() || groups[i] != -1) {
      ADD_FAILURE() << "tile index " << i << " out of range or repeated";
      continue;
    }
    groups[i] = std::stoll(t.attrs.at("data-group"));
  }
  return groups;
}

std::vector<long long> resultGroups(const std::string& json) {
  std::vector<long long> groups;
  const size_t open = json.find('['), close = json.find(']');
  if (open == std::string::npos || close == std::string::npos) return groups;
  std::istringstream in(json.substr(open + 1, close - open - 1));
  for (std::string item; std::getline(in, item, ',');) groups.push_back(std::stoll(item));
  return groups;
}

}  // namespace velto::testing
