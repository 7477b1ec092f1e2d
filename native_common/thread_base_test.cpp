#include "native_common/thread_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "native_common/mutex_lock.h"

namespace sorvel {
namespace {

class CountingThread : public ThreadBase {
 public:
  ~CountingThread() override { Join(); }
  std::atomic<int> runs{0};
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};

 protected:
  void Run() override {
    if (running.fetch_add(1) != 0) overlaps.fetch_add(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    runs.fetch_add(1);
    running.fetch_sub(1);
  }
};

class ThrowingThread : public ThreadBase {
 protected:
  void Run() override { throw std::runtime_error("ends only the thread"); }
};

TEST(ThreadBaseTest, StartWaitsForThePreviousThread) {
  CountingThread t;
  EXPECT_FALSE(t.IsStarted());
  ASSERT_TRUE(t.Start());
  EXPECT_TRUE(t.IsStarted());
  ASSERT_TRUE(t.Start());  // joins the first run before starting the second
  EXPECT_GE(t.runs.load(), 1);
  t.Join();
  EXPECT_FALSE(t.IsStarted());
  EXPECT_EQ(t.runs.load(), 2);
  EXPECT_EQ(t.overlaps.load(), 0);
  t.Join();  // joining again is harmless
}

TEST(ThreadBaseTest, DefaultBodyAndExceptionsEndQuietly) {
  ThreadBase plain;
  EXPECT_TRUE(plain.Start());
  plain.Join();
  ThrowingThread thrower;
  EXPECT_TRUE(thrower.Start());
  thrower.Join();
  EXPECT_FALSE(thrower.IsStarted());
}

TEST(MutexLockTest, GuardsAcrossThreadsAndIsRecursive) {
  MutexLock mutex;
  mutex.Lock();
  EXPECT_TRUE(mutex.TryLock());  // the owner may take it again
  mutex.Unlock();
  mutex.Unlock();
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        std::lock_guard<MutexLock> guard(mutex);
        ++counter;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace sorvel
