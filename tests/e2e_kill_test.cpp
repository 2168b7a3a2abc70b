// The result file under sudden death: velto-fprint-replay killed at any moment leaves either
// the complete old result or the complete new one, and at most its own temporary files; stopped
// by SIGTERM, not even those.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

#include "testing/test_support.h"

namespace velto::testing {
namespace {

// What may be in the folder: the inputs, the result, and temporary files of the result
// (".out.json.tmp-" and six letters or digits).
bool allowedName(const std::string& name) {
  const std::string prefix = ".out.json.tmp-";
  if (name == "job.json" || name == "same.print" || name == "out.json") return true;
  return name.size() == prefix.size() + 6 && name.starts_with(prefix) &&
         std::all_of(name.begin() + 14, name.end(),
                     [](unsigned char c) { return std::isalnum(c); });
}

// Waits until a temporary result file shows up in `folder`; false if the process ends first.
bool waitForTemporaryFile(pid_t pid, const std::string& folder) {
  for (;;) {
    for (const std::string& name : listFolder(folder)) {
      if (name.rfind(".out.json.tmp-", 0) == 0) return true;
    }
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != 0) {
      return false;  // ended (and left for the caller to reap)
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

struct KillOutcome {
  long long sawOld = 0, sawNew = 0, leftTemporary = 0;
};

// Runs the replay `runs` times, each time sending `signal` at a random moment, and checks after
// every run that the result is whole and nothing but temporary result files was left.
void signalAtRandomMoments(int signal, int runs, KillOutcome* outcomeOut) {
  KillOutcome& outcome = *outcomeOut;
  TempDir dir;
  const std::string job = dir.file("job.json");
  const std::string out = dir.file("out.json");
  // 300000 photos, each in a time group of its own, make a result of 2 MB, so that writing it
  // takes a while. Only the first has a print (one is enough); the others have an empty path,
  // which fails at once and keeps the rest of the run short.
  const int64_t n = 300000;
  writeFile(dir.file("same.print"), kUnitPrint);
  std::string text = "{\"photos\":[\"" + dir.file("same.print") + "\"";
  for (int64_t i = 1; i < n; ++i) text += ",\"\"";
  text += "],\"timeGroups\":[";
  std::string numbers;
  for (int64_t i = 1; i <= n; ++i) numbers += (i > 1 ? "," : "") + std::to_string(i);
  writeFile(job, text + numbers + "]}");
  const std::string newResult = "{\"groups\":[" + numbers + "]}";
  ASSERT_GT(newResult.size(), size_t{1900000});
  const std::string oldResult =
      "{\"groups\":[1,1,2]} from an earlier run " + std::string(5000, '.');

  // One undisturbed run gives the lifetime over which the kills are spread, and the time from
  // the temporary file's appearance to the end, in which the result is written, flushed and
  // renamed.
  writeFile(out, oldResult);
  // The replay, both output streams discarded.
  const auto start = [&] {
    return startChild(kReplay, {job, out}, "/dev/null", "/dev/null", "/dev/null");
  };
  const auto begin = std::chrono::steady_clock::now();
  const auto secondsSinceBegin = [&begin] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  };
  const pid_t reference = start();
  ASSERT_GT(reference, 0);
  const double writeStart = waitForTemporaryFile(reference, dir.path()) ? secondsSinceBegin() : -1;
  int wstatus = 0;
  ASSERT_EQ(::waitpid(reference, &wstatus, 0), reference);
  const double lifetime = secondsSinceBegin();
  ASSERT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0);
  ASSERT_EQ(readFile(out), newResult);
  const double writing = std::max(0.005, writeStart < 0 ? 0.0 : lifetime - writeStart);

  std::mt19937_64 random(20261206);
  for (int run = 0; run < runs; ++run) {
    writeFile(out, oldResult);
    // A third of the kills at any moment of the lifetime; the others at a moment of the
    // writing, counted from when the temporary file appears.
    const pid_t pid = start();
    ASSERT_GT(pid, 0);
    double delay = 0;
    if (run % 3 == 0) {
      delay = std::uniform_real_distribution<double>(0, 1.02 * lifetime)(random);
    } else if (waitForTemporaryFile(pid, dir.path())) {
      delay = std::uniform_real_distribution<double>(0, 1.2 * writing)(random);
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    ::kill(pid, signal);
    ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);

    const std::string now = readFile(out);
    ASSERT_TRUE(now == oldResult || now == newResult)
        << "run " << run << " killed after " << delay << " s left " << now.size() << " bytes";
    (now == oldResult ? outcome.sawOld : outcome.sawNew) += 1;
    for (const std::string& name : listFolder(dir.path())) {
      EXPECT_TRUE(allowedName(name)) << "run " << run << " left " << name;
      if (name.rfind(".out.json.tmp-", 0) == 0) {
        ++outcome.leftTemporary;
        ::unlink(dir.file(name).c_str());
      }
    }
  }
  std::printf(
      "[ measured ] signal %d, lifetime %.2f s, writing %.3f s; %d runs: %lld old, %lld "
      "new, %lld temporary files\n",
      signal, lifetime, writing, runs, outcome.sawOld, outcome.sawNew, outcome.leftTemporary);
}

TEST(CrashSafeResultE2E, KilledAtRandomMomentsLeavesOldOrNewResultWhole) {
  KillOutcome outcome;
  ASSERT_NO_FATAL_FAILURE(signalAtRandomMoments(SIGKILL, 200, &outcome));
  // Both outcomes occurred, so the kills did fall before and after the rename.
  EXPECT_GT(outcome.sawOld, 0);
  EXPECT_GT(outcome.sawNew, 0);
}

TEST(CrashSafeResultE2E, StoppedAtRandomMomentsLeavesNoTemporaryFile) {
  // SIGTERM waits while the temporary file exists, so a stopped run leaves none behind.
  KillOutcome outcome;
  ASSERT_NO_FATAL_FAILURE(signalAtRandomMoments(SIGTERM, 60, &outcome));
  EXPECT_GT(outcome.sawOld, 0);
  EXPECT_EQ(outcome.leftTemporary, 0);
}

}  // namespace
}  // namespace velto::testing
