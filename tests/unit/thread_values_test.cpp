// Per-thread values and the reader-writer lock of the portable platform.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace zadized::platform {
namespace {

// Each value is a counter of its own releases, so a value released twice,
// or never, shows.
std::atomic<int> g_released{0};
void Count(void* value) {
  ++*static_cast<int*>(value);
  ++g_released;
}

TEST(ThreadValues, EachThreadSeesItsOwnAndEachIsReleasedOnceWhenItsThreadEnds) {
  constexpr int kThreads = 8;
  std::vector<int> releases(2 * kThreads, 0);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 1000; ++round) {
        if (ThreadValue(kStringResultSlot) == nullptr) {
          SetThreadValue(kStringResultSlot, &releases[t], Count);
          SetThreadValue(kHeldScreenSlot, &releases[kThreads + t], Count);
        }
        if (ThreadValue(kStringResultSlot) != &releases[t] ||
            ThreadValue(kHeldScreenSlot) != &releases[kThreads + t])
          ++wrong;
        std::this_thread::yield();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
  for (int r : releases) EXPECT_EQ(r, 1);
}

TEST(ThreadValues, SettingAgainReleasesThePreviousValueUnlessItIsTheSame) {
  int first = 0, second = 0;
  std::thread([&] {
    ASSERT_TRUE(SetThreadValue(kHeldScreenSlot, &first, Count));
    ASSERT_TRUE(SetThreadValue(kHeldScreenSlot, &first, Count));
    EXPECT_EQ(first, 0);
    ASSERT_TRUE(SetThreadValue(kHeldScreenSlot, &second, Count));
    EXPECT_EQ(first, 1);
    ASSERT_TRUE(SetThreadValue(kHeldScreenSlot, nullptr, nullptr));
    EXPECT_EQ(second, 1);
    EXPECT_EQ(ThreadValue(kHeldScreenSlot), nullptr);
  }).join();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
}

// Unloading reaches the values of threads that are alive but outside the
// library, and their ends then release nothing twice.
TEST(ThreadValues, ReleasingEveryThreadsValuesReachesLiveThreadsOnce) {
  int mine = 0, theirs = 0;
  std::mutex m;
  std::condition_variable cv;
  int stage = 0;
  std::thread other([&] {
    SetThreadValue(kStringResultSlot, &theirs, Count);
    std::unique_lock<std::mutex> lock(m);
    stage = 1;
    cv.notify_all();
    cv.wait(lock, [&] { return stage == 2; });
    EXPECT_EQ(ThreadValue(kStringResultSlot), nullptr);
  });
  {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return stage == 1; });
  }
  SetThreadValue(kStringResultSlot, &mine, Count);
  ReleaseAllThreadValues();
  EXPECT_EQ(mine, 1);
  EXPECT_EQ(theirs, 1);
  EXPECT_EQ(ThreadValue(kStringResultSlot), nullptr);
  {
    std::lock_guard<std::mutex> lock(m);
    stage = 2;
  }
  cv.notify_all();
  other.join();
  EXPECT_EQ(theirs, 1);
}

TEST(SharedLock, WritersExcludeEveryoneAndReadersSeeWholeUpdates) {
  static SharedLock lock;      // static storage: all zero is unlocked
  std::uint64_t a = 0, b = 0;  // written together, never seen apart
  std::atomic<int> torn{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        if (t % 2 == 0) {
          LockExclusive(lock);
          ++a;
          ++b;
          UnlockExclusive(lock);
        } else {
          LockShared(lock);
          if (a != b) ++torn;
          UnlockShared(lock);
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(a, 40000u);
  EXPECT_EQ(b, 40000u);
}

}  // namespace
}  // namespace zadized::platform
