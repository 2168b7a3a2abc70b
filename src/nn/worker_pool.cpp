#include "nn/worker_pool.h"

#include <sched.h>

#include <algorithm>
#include <system_error>

namespace velto {
namespace {

// Spins before sleeping: long enough to bridge the gap between two layers, short enough not to
// keep a core busy while the next photo is decoded.
constexpr int SPIN_ROUNDS = 20000;

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Waits until `value` differs from `old`: spinning first, then sleeping in the kernel.
template <typename T>
T awaitChange(const std::atomic<T>& value, T old) {
  for (int i = 0; i < SPIN_ROUNDS; ++i) {
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
    relax();
  }
  for (;;) {
    value.wait(old, std::memory_order_acquire);
    const T now = value.load(std::memory_order_acquire);
    if (now != old) return now;
  }
}

}  // namespace

WorkerPool::WorkerPool(int threads) {
  // Where the system grants fewer threads than asked, the team is smaller: same results, later.
  const int wanted = std::max(1, threads);
  try {
    for (int i = 1; i < wanted; ++i) workers_.emplace_back([this, i] { workerLoop(i); });
  } catch (const std::system_error&) {
  }
  threads_ = static_cast<int>(workers_.size()) + 1;
}

WorkerPool::~WorkerPool() {
  stopping_.store(true, std::memory_order_release);
  generation_.fetch_add(1, std::memory_order_acq_rel);
  generation_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void WorkerPool::workerLoop(int index) {
  uint64_t seen = 0;
  for (;;) {
    seen = awaitChange(generation_, seen);
    if (stopping_.load(std::memory_order_acquire)) return;
    (*job_)(index);
    if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) pending_.notify_one();
  }
}

void WorkerPool::run(const std::function<void(int)>& part) {
  if (threads_ == 1) {
    part(0);
    return;
  }
  job_ = &part;
  pending_.store(threads_ - 1, std::memory_order_relaxed);
  generation_.fetch_add(1, std::memory_order_acq_rel);  // publishes job_ and pending_
  generation_.notify_all();
  part(0);
  for (int left = pending_.load(std::memory_order_acquire); left != 0;) {
    left = awaitChange(pending_, left);
  }
}

void WorkerPool::forRanges(int64_t count, int64_t grain,
                           const std::function<void(int64_t, int64_t)>& work) {
  const int64_t units = (count + grain - 1) / grain;
  const int64_t parts = std::min<int64_t>(threads_, units);
  if (parts <= 1) {
    if (count > 0) work(0, count);
    return;
  }
  run([&](int part) {
    if (part >= parts) return;
    const int64_t begin = units * part / parts * grain;
    const int64_t end = std::min(count, units * (part + 1) / parts * grain);
    if (begin < end) work(begin, end);
  });
}

int availableThreads(int limit) {
  cpu_set_t set;
  int n = 1;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) {
    n = CPU_COUNT(&set);
  } else {
    n = static_cast<int>(std::thread::hardware_concurrency());
  }
  return std::clamp(n, 1, std::max(1, limit));
}

}  // namespace velto
