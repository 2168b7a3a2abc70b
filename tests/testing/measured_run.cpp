#include "testing/measured_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "testing/test_support.h"

namespace velto::testing {

pid_t startChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& inPath, const std::string& outPath,
                 const std::string& errPath) {
  std::vector<std::string> argStrings = {program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = ::open(inPath.c_str(), O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

MeasuredRun runMeasured(const std::string& program, const std::vector<std::string>& args,
                        double limitSeconds) {
  TempDir io;
  const std::string outPath = io.file("stdout");
  const std::string errPath = io.file("stderr");
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const pid_t pid = startChild(program, args, "/dev/null", outPath, errPath);
  MeasuredRun run;
  int wstatus = 0;
  struct rusage usage {};
  const auto limit = std::chrono::duration<double>(limitSeconds);
  for (;;) {
    const pid_t done = ::wait4(pid, &wstatus, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0) throw std::runtime_error("wait4 failed");
    if (Clock::now() - start > limit) {
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
  run.out = readFile(outPath);
  run.err = readFile(errPath);
  return run;
}

}  // namespace velto::testing
