#pragma once
// The job pool that runs the program's parallel work: candidate-list
// rebuilds during placement, band rendering while a mosaic is saved and video
// frame work. Jobs go into a JobQueue; queues are registered with a JobPool
// whose worker threads take jobs from them. The thread that submits or waits
// runs jobs too, so a pool of n - 1 threads gives n-way parallelism and a pool
// of 0 threads still gets every job done on the calling thread.
//
// Locks: the pool's lock is always taken before a queue's lock, never the
// other way round, and no lock is held while a job runs.

#include <concepts>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/thread_priority.hpp"

namespace tess {

class JobPool;

/// One job of the pool. It belongs to its queue until it has run and is then
/// destroyed by the thread that ran it. A job reports through the objects it
/// works on; one that throws (out of memory, most likely) is counted as
/// failed, the pool carries on, and the next wait_all() of its queue says so.
class ParallelJobInfo {
 public:
  virtual ~ParallelJobInfo() = default;
  virtual void run() = 0;
};

/// A job that calls one member operation of an object with one argument,
/// which the job holds by value. The object is not owned and must outlive the
/// job. `ArgRef` is the operation's parameter type (Arg, const Arg& or Arg&).
template <typename Object, typename Arg, typename ArgRef = Arg, typename Result = void>
class ParallelJobInfoC1 final : public ParallelJobInfo {
 public:
  using Operation = Result (Object::*)(ArgRef);

  ParallelJobInfoC1(Object& object, Operation operation, Arg argument)
      : m_object(&object), m_operation(operation), m_argument(std::move(argument)) {}

  void run() override {
    // A job runs once, so a by-value parameter may take the argument over.
    if constexpr (std::is_same_v<ArgRef, Arg>) {
      (m_object->*m_operation)(std::move(m_argument));
    } else {
      (m_object->*m_operation)(m_argument);
    }
  }

 private:
  Object* m_object;
  Operation m_operation;
  Arg m_argument;
};

/// A job around any callable taking no arguments.
template <typename Function>
class CallableJob final : public ParallelJobInfo {
 public:
  explicit CallableJob(Function function) : m_function(std::move(function)) {}
  void run() override { m_function(); }

 private:
  Function m_function;
};

/// `object.*operation(argument)` as a job; the types are deduced.
template <typename Object, typename Result, typename Param, typename Arg>
std::unique_ptr<ParallelJobInfo> make_job(Object& object, Result (Object::*operation)(Param), Arg&& argument) {
  using Held = std::remove_cvref_t<Param>;
  return std::make_unique<ParallelJobInfoC1<Object, Held, Param, Result>>(object, operation,
                                                                          Held(std::forward<Arg>(argument)));
}

/// A callable as a job.
template <typename Function>
  requires std::invocable<std::decay_t<Function>&>
std::unique_ptr<ParallelJobInfo> make_job(Function&& function) {
  return std::make_unique<CallableJob<std::decay_t<Function>>>(std::forward<Function>(function));
}

/// What became of the jobs a queue ran since its previous wait: a job that
/// threw left its work undone, so the phase that waited cannot stand.
struct JobsOutcome {
  std::size_t failed = 0;      ///< jobs that threw instead of returning
  bool out_of_memory = false;  ///< one of them ran out of memory
  [[nodiscard]] bool ok() const { return failed == 0; }
};

/// What the user is told of a phase whose jobs failed: the out-of-memory
/// text of the picture being made (`width` x `height`) when a job ran out of
/// memory, else how many jobs failed and that their work is missing.
std::string failed_jobs_text(const JobsOutcome& outcome, int width, int height);

/// Which end of the pool's list a queue joins. Workers look at the queues
/// from the back to the front, so a queue at the back is served first.
enum class QueueEnd { back, front };

/// A bounded queue of pending jobs. Safe to use from several threads; the
/// queue must outlive every job it holds or runs.
class JobQueue {
 public:
  /// A queue that never holds more pending jobs than this: a submitter that
  /// finds it full runs jobs itself, which caps the memory of a phase.
  static constexpr std::size_t kMaxPending = 100;

  /// A queue of no pool: its jobs run on the threads that submit and wait.
  JobQueue();
  /// A queue registered with `pool` at once.
  explicit JobQueue(JobPool& pool, QueueEnd end = QueueEnd::back);
  /// Cancels what is still pending, waits for the running jobs and
  /// unregisters the queue from its pool.
  ~JobQueue();
  JobQueue(const JobQueue&) = delete;
  JobQueue& operator=(const JobQueue&) = delete;

  /// Adds a job. While the queue is full the caller runs jobs itself (any
  /// registered queue's, or this queue's when it has no pool) and, when
  /// there is none to run, waits up to 50 ms before trying again. A null job
  /// is ignored.
  void submit(std::unique_ptr<ParallelJobInfo> job);

  /// Adds a callable as a job.
  template <typename Function>
    requires std::invocable<std::decay_t<Function>&>
  void submit(Function&& function) {
    submit(make_job(std::forward<Function>(function)));
  }

  /// Returns once no job is pending and none is running, including jobs
  /// other threads have taken. Meanwhile the caller runs jobs (of any queue of
  /// the pool), or waits up to 50 ms at a time when there is none to run.
  /// Never call it from one of this queue's own jobs: it would wait for itself.
  /// Says whether a job that finished since the previous wait_all() threw.
  [[nodiscard]] JobsOutcome wait_all();

  /// Destroys every pending job without running it, then waits as wait_all()
  /// for the jobs that are already running.
  void cancel_all();

  /// Whether jobs are pending or running.
  bool has_work() const;

  std::size_t pending_count() const;
  /// Jobs taken by some thread and not finished yet.
  std::size_t running_count() const;
  /// The most jobs that were ever pending at once.
  std::size_t pending_high_water() const;
  /// Jobs that threw instead of returning.
  std::size_t failed_count() const;

 private:
  friend class JobPool;

  /// Takes the newest pending job (last in, first out) and counts it as
  /// running. The caller holds m_mutex.
  std::unique_ptr<ParallelJobInfo> take_newest_locked();
  /// Runs a job taken from this queue outside every lock, destroys it and
  /// counts it as finished.
  void run_taken(std::unique_ptr<ParallelJobInfo> job);
  /// Runs one job as a helping submitter or waiter: through the pool when the
  /// queue has one, else from this queue. Whether a job ran.
  [[nodiscard]] bool help_once();

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;  ///< a job was added, taken or finished
  std::vector<std::unique_ptr<ParallelJobInfo>> m_pending;
  std::size_t m_running = 0;
  std::size_t m_high_water = 0;
  std::size_t m_failed = 0;
  std::size_t m_failed_told = 0;       ///< failures a wait_all() has returned already
  bool m_out_of_memory_untold = false;  ///< a failure not returned yet was out of memory
  JobPool* m_pool = nullptr;
};

/// The worker threads and the registered queues of one parallel phase. A
/// phase that wants n-way parallelism starts n - 1 threads: the thread that
/// submits and waits makes up the rest.
class JobPool {
 public:
  /// Thread counts above this count as 0.
  static constexpr int kMaxThreads = 5000;

  JobPool() = default;
  /// Shuts the pool down and detaches the queues still registered.
  ~JobPool();
  JobPool(const JobPool&) = delete;
  JobPool& operator=(const JobPool&) = delete;

  /// Sets the desired number of worker threads to `count` (a count above
  /// 5,000 or below 0 counts as 0) and starts as many new threads as are
  /// missing, each at `priority`. Surplus threads retire one by one. Returns
  /// false when the system refused to start a thread (the pool then runs
  /// with the threads it has).
  bool start_threads(int count, ThreadPriority priority);

  /// Adds `queue` to the queues the workers serve; a queue registered with
  /// another pool leaves that pool first.
  void register_queue(JobQueue& queue, QueueEnd end = QueueEnd::back);
  /// Removes `queue`; its pending jobs stay in it.
  void unregister_queue(JobQueue& queue);

  /// Takes the newest job of the last registered queue that has one and runs
  /// it on the calling thread. Whether a job ran.
  [[nodiscard]] bool run_one_job();

  /// Asks every worker to leave and returns once all have left. Jobs already
  /// running finish first; pending jobs stay in their queues. Never call it
  /// from a job of this pool.
  void shut_down();

  /// Worker threads running now.
  int thread_count() const;

 private:
  friend class JobQueue;

  struct Worker {
    std::thread thread;
    bool exited = false;  ///< it left the loop and only needs joining
  };

  /// Takes a job for run_one_job(); the caller holds m_mutex.
  std::pair<JobQueue*, std::unique_ptr<ParallelJobInfo>> take_job_locked();
  /// Wakes idle workers after a job was submitted.
  void job_submitted();
  void worker_loop(Worker& self, ThreadPriority priority);
  /// Joins the threads that have left the worker loop.
  void reap_exited_threads();

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;    ///< work arrived or the desired count fell
  std::condition_variable m_exited;  ///< a worker left
  std::deque<JobQueue*> m_queues;
  std::list<Worker> m_workers;  // a list, so each worker's record stays where it is
  int m_desired = 0;
  int m_running = 0;
  unsigned long m_submissions = 0;  ///< changes whenever a job is submitted
};

/// The thread count of a run, from the "Process Count" option.
struct ThreadCountChoice {
  int count = 1;            ///< threads in all, the calling thread included (1..5000)
  bool write_back = false;  ///< the option was -1: store `count` in its place
};

/// A value of 1..5000 is taken as it is; anything else (0, -1, a number out of
/// range, text that is no number) means the hardware thread count, or 1 when
/// that is 0 or above 5000. The option is read as a C integer: leading
/// blanks and a sign are allowed and text after the digits is ignored.
ThreadCountChoice resolve_thread_count(std::string_view option_text, unsigned hardware_threads);

}  // namespace tess
