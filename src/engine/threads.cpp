#include "engine/threads.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <system_error>

namespace ostrivo {

namespace {

constexpr std::chrono::microseconds kSpin{200};

int threads_from_environment() {
  const char *text = std::getenv("OSTRIVO_THREADS");
  if (text == nullptr || *text == '\0') return 0;
  char *end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0) return 0;
  return static_cast<int>(std::min<long>(value, kMaxThreads));
}

}  // namespace

int available_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? static_cast<int>(hardware) : 1;
}

int engine_threads(int requested) {
  if (requested > 0) return std::min(requested, kMaxThreads);
  const int from_environment = threads_from_environment();
  if (from_environment > 0) return from_environment;
  return std::min(available_cores(), kMaxThreads);
}

WorkerPool::WorkerPool(int threads) {
  const int extra = std::clamp(threads, 1, kMaxThreads) - 1;
  workers_.reserve(static_cast<std::size_t>(extra));
  for (int t = 0; t < extra; ++t) {
    try {
      workers_.emplace_back([this, t] { work_loop(t + 1); });
    } catch (const std::system_error &) {
      break;  // fewer threads, same results
    }
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread &t : workers_) t.join();
}

void WorkerPool::run_tasks(std::size_t count, TaskFn fn, const void *context) {
  if (count == 0) return;
  if (workers_.empty()) {
    for (std::size_t i = 0; i < count; ++i) fn(context, i, 0);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    fn_ = fn;
    context_ = context;
    count_ = count;
    next_ = 0;
    finished_ = 0;
    ++generation_;
  }
  wake_.notify_all();
  take_tasks(0);
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [this] { return finished_ == count_; });
  fn_ = nullptr;
  context_ = nullptr;
}

// Takes tasks of the current run until none is left.
void WorkerPool::take_tasks(int thread) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (fn_ != nullptr && next_ < count_) {
    const std::size_t index = next_++;
    const TaskFn fn = fn_;
    const void *context = context_;
    lock.unlock();
    fn(context, index, thread);
    lock.lock();
    if (++finished_ == count_) done_.notify_all();
  }
}

void WorkerPool::work_loop(int thread) {
  unsigned long seen = 0;
  for (;;) {
    // A region's passes follow each other within microseconds, and waking
    // a sleeping thread takes tens of them: look for the next run for a
    // little while before going to sleep.
    const auto spin_until = std::chrono::steady_clock::now() + kSpin;
    while (generation_.load(std::memory_order_acquire) == seen && !stopping_.load() &&
           std::chrono::steady_clock::now() < spin_until)
      std::this_thread::yield();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
    }
    take_tasks(thread);
  }
}

}  // namespace ostrivo
