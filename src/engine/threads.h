// The engine's threads: how many to use, and a pool that lives for one call.
//
// Work is always cut into the same tasks whatever the number of threads, and
// each task writes only its own cells, so the results do not depend on how
// many threads run them. Only the calling thread plans transforms, reports
// progress or touches the host; workers run tasks and nothing else.
#ifndef OSTRIVO_ENGINE_THREADS_H
#define OSTRIVO_ENGINE_THREADS_H

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "ostrivo/repair.h"

namespace ostrivo {

// The threads a call asked for, at most kMaxThreads; 0 (or less) asks for
// the default: OSTRIVO_THREADS when the environment sets it to a number,
// else the number of cores this process may run on.
int engine_threads(int requested);

// Cores this process may run on (at least 1).
int available_cores();

// Threads started by the constructor and joined by the destructor. The
// calling thread takes part in every run(), so a pool of 1 starts nothing.
// If the system refuses a thread the pool simply has fewer.
class WorkerPool {
 public:
  explicit WorkerPool(int threads);
  WorkerPool(const WorkerPool &) = delete;
  WorkerPool &operator=(const WorkerPool &) = delete;
  ~WorkerPool();

  int size() const { return static_cast<int>(workers_.size()) + 1; }

  // Calls task(i, thread) once for every i in [0, count), spread over the
  // threads, and returns when all calls have returned. `thread` (0 for the
  // calling thread, below size()) tells a task which per-thread scratch it
  // may use. Tasks must not throw.
  template <typename Task>
  void run(std::size_t count, const Task &task) {
    run_tasks(
        count,
        [](const void *context, std::size_t i, int thread) {
          (*static_cast<const Task *>(context))(i, thread);
        },
        &task);
  }

 private:
  using TaskFn = void (*)(const void *context, std::size_t index, int thread);
  void run_tasks(std::size_t count, TaskFn fn, const void *context);
  void work_loop(int thread);
  void take_tasks(int thread);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  // The current run; guarded by mutex_.
  TaskFn fn_ = nullptr;
  const void *context_ = nullptr;
  std::size_t count_ = 0;
  std::size_t next_ = 0;
  std::size_t finished_ = 0;
  std::atomic<unsigned long> generation_{0};
  std::atomic<bool> stopping_{false};
};

}  // namespace ostrivo

#endif
