#pragma once
// A fixed team of threads for the network's layers: the calling thread and threads - 1 workers
// run one part each of a job and the call returns when all parts are done. The workers spin
// briefly between jobs (a layer lasts well under a millisecond) and sleep between photos.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace velto {

class WorkerPool {
 public:
  explicit WorkerPool(int threads);  // at least 1; fewer when the system refuses threads
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Splits [0, count) into one range per thread, whose inner bounds are multiples of `grain` and
  // calls work(begin, end) for each non-empty one.
  void forRanges(int64_t count, int64_t grain, const std::function<void(int64_t, int64_t)>& work);

 private:
  // Calls part(0) … part(n - 1) for a team of n threads, part 0 on the calling thread, and waits
  // for all.
  void run(const std::function<void(int)>& part);
  void workerLoop(int index);

  int threads_ = 1;
  const std::function<void(int)>* job_ = nullptr;
  std::atomic<uint64_t> generation_{0};
  std::atomic<int> pending_{0};
  std::atomic<bool> stopping_{false};
  std::vector<std::thread> workers_;
};

// Threads for the network: the processors this process may run on, at most `limit`.
int availableThreads(int limit);

}  // namespace velto
