#include "engine/job_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace tess {
namespace {

using namespace std::chrono_literals;

// Polls a condition for at most `limit`; tests wait for other threads this
// way instead of sleeping a fixed time.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = 2000ms) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// A job that counts its runs and its destruction.
class CountingJob final : public ParallelJobInfo {
 public:
  CountingJob(std::atomic<int>& runs, std::atomic<int>& destroyed) : m_runs(runs), m_destroyed(destroyed) {}
  ~CountingJob() override { ++m_destroyed; }
  void run() override { ++m_runs; }

 private:
  std::atomic<int>& m_runs;
  std::atomic<int>& m_destroyed;
};

TEST(JobPool, WithoutWorkersTheCallerRunsEveryJob) {
  JobPool pool;
  ASSERT_TRUE(pool.start_threads(0, ThreadPriority::normal));
  JobQueue registered(pool);
  JobQueue unpooled;  // a queue of no pool behaves the same
  for (JobQueue* queue : {&registered, &unpooled}) {
    std::vector<std::thread::id> ran_on;
    for (int i = 0; i < 250; ++i) {
      queue->submit([&ran_on] { ran_on.push_back(std::this_thread::get_id()); });
    }
    EXPECT_TRUE(queue->wait_all().ok());
    EXPECT_EQ(ran_on.size(), 250u);
    for (const auto& id : ran_on) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_FALSE(queue->has_work());
  }
  EXPECT_EQ(pool.thread_count(), 0);
}

class BoundedQueue : public testing::TestWithParam<int> {};

TEST_P(BoundedQueue, ThousandJobsRunOnceAndNeverMoreThanHundredWait) {
  JobPool pool;
  pool.start_threads(GetParam(), ThreadPriority::normal);
  JobQueue queue(pool);
  std::vector<std::atomic<int>> runs(1000);
  for (int i = 0; i < 1000; ++i) {
    queue.submit([&runs, i] { ++runs[static_cast<std::size_t>(i)]; });
    ASSERT_LE(queue.pending_count(), JobQueue::kMaxPending);
  }
  EXPECT_TRUE(queue.wait_all().ok());
  EXPECT_LE(queue.pending_high_water(), JobQueue::kMaxPending);
  EXPECT_EQ(queue.pending_count(), 0u);
  EXPECT_EQ(queue.running_count(), 0u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(runs[static_cast<std::size_t>(i)].load(), 1) << "job " << i;
}

INSTANTIATE_TEST_SUITE_P(Threads, BoundedQueue, testing::Values(0, 3));

TEST(JobPool, TakesNewestJobFirstFromLastRegisteredQueue) {
  JobPool pool;
  JobQueue first(pool);
  JobQueue second(pool);                   // joins the back: served before `first`
  JobQueue early(pool, QueueEnd::front);   // joins the front: served last
  std::vector<std::string> order;
  for (int i = 0; i < 3; ++i) {
    first.submit([&order, i] { order.push_back("first" + std::to_string(i)); });
    second.submit([&order, i] { order.push_back("second" + std::to_string(i)); });
    early.submit([&order, i] { order.push_back("early" + std::to_string(i)); });
  }
  while (pool.run_one_job()) {
  }
  EXPECT_EQ(order, (std::vector<std::string>{"second2", "second1", "second0", "first2", "first1", "first0",
                                             "early2", "early1", "early0"}));
}

TEST(JobPool, CancelDiscardsPendingJobsAndWaitsForTheRunningOne) {
  JobPool pool;
  pool.start_threads(1, ThreadPriority::normal);
  JobQueue queue(pool);
  std::latch started(1);
  std::latch release(1);
  std::atomic<bool> blocker_done{false};
  queue.submit([&] {
    started.count_down();
    release.wait();
    blocker_done = true;
  });
  started.wait();  // the only worker is now busy
  std::atomic<int> runs{0};
  std::atomic<int> destroyed{0};
  for (int i = 0; i < 10; ++i) queue.submit(std::make_unique<CountingJob>(runs, destroyed));
  EXPECT_EQ(queue.pending_count(), 10u);

  auto cancelled = std::async(std::launch::async, [&] { queue.cancel_all(); });
  ASSERT_TRUE(eventually([&] { return destroyed.load() == 10; }));
  EXPECT_EQ(cancelled.wait_for(20ms), std::future_status::timeout) << "returned while a job still ran";
  release.count_down();
  cancelled.get();
  EXPECT_TRUE(blocker_done);
  EXPECT_EQ(runs.load(), 0);
  EXPECT_FALSE(queue.has_work());
}

TEST(JobPool, WorkersRunJobsInParallel) {
  JobPool pool;
  pool.start_threads(3, ThreadPriority::normal);
  JobQueue queue(pool);
  // Each job stays until all four are inside at once (or gives up), so four
  // distinct threads - three workers and the waiting caller - must run them.
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  for (int i = 0; i < 4; ++i) {
    queue.submit([&] {
      int now = ++inside;
      int seen = most.load();
      while (now > seen && !most.compare_exchange_weak(seen, now)) {
      }
      eventually([&] { return inside.load() >= 4; }, 5000ms);
    });
  }
  EXPECT_TRUE(queue.wait_all().ok());
  EXPECT_EQ(most.load(), 4);
}

struct Payload {
  int number = 0;
  std::string text;
};

class Target {
 public:
  void add(int value) { total += value; }
  void note(const Payload& payload) { notes.push_back(payload.text + "#" + std::to_string(payload.number)); }
  bool keep(std::unique_ptr<int> value) {
    kept = std::move(value);
    return true;
  }
  int total = 0;
  std::vector<std::string> notes;
  std::unique_ptr<int> kept;
};

TEST(JobPool, BoundJobsCallTheirMemberWithTheirOwnCopyOfTheArgument) {
  Target target;
  JobQueue queue;
  Payload payload{7, "tile"};
  ParallelJobInfoC1<Target, int> explicit_job(target, &Target::add, 5);
  explicit_job.run();
  queue.submit(make_job(target, &Target::note, payload));
  payload.text = "changed after submitting";  // the job holds its own copy
  queue.submit(make_job(target, &Target::add, 3));
  queue.submit(make_job(target, &Target::keep, std::make_unique<int>(42)));  // move-only argument
  EXPECT_TRUE(queue.wait_all().ok());
  EXPECT_EQ(target.total, 8);
  EXPECT_EQ(target.notes, std::vector<std::string>{"tile#7"});
  ASSERT_TRUE(target.kept);
  EXPECT_EQ(*target.kept, 42);
}

TEST(JobPool, ThrowingJobsDoNotWedgeTheQueueOrKillWorkers) {
  JobPool pool;
  pool.start_threads(2, ThreadPriority::normal);
  JobQueue queue(pool);
  std::atomic<int> good{0};
  for (int i = 0; i < 40; ++i) {
    if (i % 4 == 0) {
      queue.submit([] { throw std::runtime_error("faulty job"); });
    } else if (i % 4 == 1) {
      queue.submit([] { throw 13; });
    } else {
      queue.submit([&good] { ++good; });
    }
  }
  const JobsOutcome outcome = queue.wait_all();
  EXPECT_EQ(good.load(), 20);
  EXPECT_EQ(queue.failed_count(), 20u);
  EXPECT_EQ(outcome.failed, 20u);
  EXPECT_FALSE(outcome.ok());
  EXPECT_FALSE(outcome.out_of_memory);
  EXPECT_EQ(queue.running_count(), 0u);
  EXPECT_EQ(pool.thread_count(), 2);  // no worker was lost
}

// A wait says what failed since the wait before, so a phase that reuses its
// queue is not failed by an earlier phase's jobs, and out of memory is told
// apart from other failures.
TEST(JobPool, EachWaitReportsTheFailuresSinceThePreviousOne) {
  JobPool pool;
  pool.start_threads(2, ThreadPriority::normal);
  JobQueue queue(pool);
  for (int i = 0; i < 10; ++i) queue.submit([] {});
  JobsOutcome outcome = queue.wait_all();
  EXPECT_TRUE(outcome.ok());

  for (int i = 0; i < 10; ++i) {
    if (i == 3) queue.submit([] { throw std::bad_alloc(); });
    else queue.submit([] {});
  }
  outcome = queue.wait_all();
  EXPECT_EQ(outcome.failed, 1u);
  EXPECT_TRUE(outcome.out_of_memory);
  EXPECT_NE(failed_jobs_text(outcome, 640, 480).find("640x480"), std::string::npos);

  queue.submit([] {});
  outcome = queue.wait_all();
  EXPECT_TRUE(outcome.ok());
  EXPECT_FALSE(outcome.out_of_memory);

  // A queue of no pool runs its jobs on the waiting thread and counts the same way.
  JobQueue alone;
  alone.submit([] { throw std::runtime_error("faulty job"); });
  alone.submit([] { throw std::runtime_error("faulty job"); });
  outcome = alone.wait_all();
  EXPECT_EQ(outcome.failed, 2u);
  EXPECT_FALSE(outcome.out_of_memory);
  EXPECT_NE(failed_jobs_text(outcome, 0, 0).find("2 parallel jobs failed"), std::string::npos);
}

TEST(JobPool, SubmissionWakesAnIdleWorkerAtItsPriority) {
  JobPool pool;
  pool.start_threads(1, ThreadPriority::idle);
  JobQueue queue(pool);
  std::this_thread::sleep_for(20ms);  // let the worker find nothing and go idle
  std::promise<std::pair<std::thread::id, int>> ran;
  auto result = ran.get_future();
  const auto start = std::chrono::steady_clock::now();
  queue.submit([&ran] {
    ran.set_value({std::this_thread::get_id(), ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()))});
  });
  ASSERT_EQ(result.wait_for(2s), std::future_status::ready);
  // Not after the idle worker's 500 ms nap: the submission woke it.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
  auto [thread, nice] = result.get();
  EXPECT_NE(thread, std::this_thread::get_id());
  EXPECT_EQ(nice, 19);
  EXPECT_TRUE(queue.wait_all().ok());
}

TEST(JobPool, ShutDownIsPromptAndCountsFollowTheDesiredNumber) {
  JobPool pool;
  ASSERT_TRUE(pool.start_threads(6, ThreadPriority::normal));
  EXPECT_EQ(pool.thread_count(), 6);
  std::this_thread::sleep_for(20ms);  // every worker idle
  pool.start_threads(2, ThreadPriority::normal);
  EXPECT_TRUE(eventually([&] { return pool.thread_count() == 2; }, 400ms));
  pool.start_threads(JobPool::kMaxThreads + 1, ThreadPriority::normal);  // counts as 0
  EXPECT_TRUE(eventually([&] { return pool.thread_count() == 0; }, 400ms));

  pool.start_threads(8, ThreadPriority::normal);
  std::this_thread::sleep_for(20ms);
  const auto start = std::chrono::steady_clock::now();
  pool.shut_down();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
  EXPECT_EQ(pool.thread_count(), 0);
}

TEST(JobPool, QueueAndPoolMayEndInEitherOrder) {
  std::atomic<int> runs{0};
  std::atomic<int> destroyed{0};
  {
    JobPool pool;
    {
      JobQueue queue(pool);
      for (int i = 0; i < 5; ++i) queue.submit(std::make_unique<CountingJob>(runs, destroyed));
    }  // forgotten jobs are discarded and the queue leaves the pool
    EXPECT_EQ(destroyed.load(), 5);
    EXPECT_FALSE(pool.run_one_job());
  }
  auto queue = std::make_unique<JobQueue>();
  {
    JobPool pool;
    pool.start_threads(2, ThreadPriority::normal);
    pool.register_queue(*queue);
  }  // the pool goes first; the queue carries on without it
  for (int i = 0; i < 5; ++i) queue->submit(std::make_unique<CountingJob>(runs, destroyed));
  EXPECT_TRUE(queue->wait_all().ok());
  EXPECT_EQ(runs.load(), 5);
  queue.reset();
  EXPECT_EQ(destroyed.load(), 10);
}

TEST(ThreadCount, OptionValues) {
  struct Case {
    const char* option;
    unsigned hardware;
    int count;
    bool write_back;
  };
  const Case cases[] = {
      {"-1", 8, 8, true},    {"0", 8, 8, false},       {"1", 8, 1, false},        {"5000", 8, 5000, false},
      {"5001", 8, 8, false}, {"abc", 8, 8, false},     {"", 8, 8, false},         {" 4", 8, 4, false},
      {"-2", 8, 8, false},   {"-1", 0, 1, true},       {"0", 0, 1, false},        {"0", 6000, 1, false},
      {"0", 5000, 5000, false}, {"99999999999999999999", 8, 8, false}, {"-99999999999999999999", 8, 8, false},
  };
  for (const Case& c : cases) {
    ThreadCountChoice choice = resolve_thread_count(c.option, c.hardware);
    EXPECT_EQ(choice.count, c.count) << '"' << c.option << "\" with " << c.hardware;
    EXPECT_EQ(choice.write_back, c.write_back) << '"' << c.option << "\" with " << c.hardware;
  }
}

}  // namespace
}  // namespace tess
