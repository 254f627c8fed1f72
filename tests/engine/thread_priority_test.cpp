#include "engine/thread_priority.hpp"

#include <gtest/gtest.h>

#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace tess {
namespace {

int own_nice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid())); }

TEST(ThreadPriority, WordsIgnoreBlanksUnderscoresAndCase) {
  EXPECT_EQ(thread_priority_from_word("IDLE"), ThreadPriority::idle);
  EXPECT_EQ(thread_priority_from_word("lowest"), ThreadPriority::lowest);
  EXPECT_EQ(thread_priority_from_word("BELOW_NORMAL"), ThreadPriority::below_normal);
  EXPECT_EQ(thread_priority_from_word(" below normal "), ThreadPriority::below_normal);
  EXPECT_EQ(thread_priority_from_word("Normal"), ThreadPriority::normal);
  EXPECT_EQ(thread_priority_from_word("Above_Normal"), ThreadPriority::above_normal);
  EXPECT_EQ(thread_priority_from_word("highest"), ThreadPriority::highest);
  // Anything else keeps the run in the background.
  EXPECT_EQ(thread_priority_from_word(""), ThreadPriority::lowest);
  EXPECT_EQ(thread_priority_from_word("LOW"), ThreadPriority::lowest);
  EXPECT_EQ(thread_priority_from_word("very low"), ThreadPriority::lowest);
  EXPECT_EQ(thread_priority_from_word("NORMAL-ish"), ThreadPriority::lowest);
}

TEST(ThreadPriority, AppliesToTheCallingThreadOnly) {
  const int caller_before = own_nice();
  if (caller_before > 5) GTEST_SKIP() << "the tests already run at nice " << caller_before;
  int below_normal = 0, lowest = 0, idle = 0, after_highest = 0;
  bool highest_applied = true;
  std::thread([&] {
    // Lowering a thread's priority is always allowed.
    EXPECT_TRUE(apply_thread_priority(ThreadPriority::below_normal));
    below_normal = own_nice();
    EXPECT_TRUE(apply_thread_priority(ThreadPriority::lowest));
    lowest = own_nice();
    EXPECT_TRUE(apply_thread_priority(ThreadPriority::idle));
    idle = own_nice();
    // Raising it may be refused; the thread then keeps what it had.
    highest_applied = apply_thread_priority(ThreadPriority::highest);
    after_highest = own_nice();
  }).join();
  EXPECT_EQ(below_normal, 5);
  EXPECT_EQ(lowest, 10);
  EXPECT_EQ(idle, 19);
  EXPECT_EQ(after_highest, highest_applied ? -2 : 19);
  EXPECT_EQ(own_nice(), caller_before);
}

}  // namespace
}  // namespace tess
