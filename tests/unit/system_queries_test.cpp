#include "memory/system_queries.h"

#include <gtest/gtest.h>
#include <zadized.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_portable.h"

namespace zadized {
namespace {

constexpr std::int32_t kF24 = 0x87;

TEST(AsyncKeyState, FollowsTheKeyThroughThePlatform) {
  platform::SetKeyDown(kF24, true);
  EXPECT_EQ(AsyncKeyState(kF24), 1);
  EXPECT_EQ(::AsyncKeyState(kF24), 1);
  EXPECT_EQ(AsyncKeyState(kF24 + 1), 0);
  platform::SetKeyDown(kF24, false);
  EXPECT_EQ(AsyncKeyState(kF24), 0);
  EXPECT_EQ(::AsyncKeyState(kF24), 0);
}

// A platform whose key answer and clock the test sets.
struct Scripted {
  static inline std::uint16_t keyAnswer = 0;
  static inline std::vector<std::int32_t> keysAsked;
  static inline std::vector<std::uint32_t> times;
  static inline std::size_t nextTime = 0;

  static std::int16_t Key(std::int32_t virtualKey) {
    keysAsked.push_back(virtualKey);
    return static_cast<std::int16_t>(keyAnswer);
  }
  static std::uint32_t Time() { return nextTime < times.size() ? times[nextTime++] : 0; }
};

class ScriptedSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    Scripted::keyAnswer = 0;
    Scripted::keysAsked.clear();
    Scripted::times.clear();
    Scripted::nextTime = 0;
    ops_ = platform::Native();
    ops_.getAsyncKeyState = &Scripted::Key;
    ops_.timeGetTime = &Scripted::Time;
    platform::Override(&ops_);
  }
  void TearDown() override { platform::Override(nullptr); }

  platform::Ops ops_{};
};

TEST_F(ScriptedSystem, OnlyTheTopBitMeansDown) {
  struct Case {
    std::uint16_t answer;
    std::int32_t down;
  };
  const Case cases[] = {
      {0x0000, 0}, {0x0001, 0},  // up; the low bit only tells of an earlier press
      {0x7FFF, 0}, {0x8000, 1}, {0x8001, 1}, {0xC000, 1}, {0xFFFF, 1},
  };
  for (const Case& c : cases) {
    Scripted::keyAnswer = c.answer;
    EXPECT_EQ(AsyncKeyState(kF24), c.down) << std::hex << c.answer;
    EXPECT_EQ(::AsyncKeyState(kF24), c.down) << std::hex << c.answer;
  }
}

TEST_F(ScriptedSystem, TheKeyCodeReachesTheSystemUnchanged) {
  AsyncKeyState(0x10);
  ::AsyncKeyState(0x1234);
  ::AsyncKeyState(-1);
  EXPECT_EQ(Scripted::keysAsked, (std::vector<std::int32_t>{0x10, 0x1234, -1}));
}

TEST_F(ScriptedSystem, ClockDifferencesSurviveTheWrap) {
  Scripted::times = {0xFFFFFF38u, 0x00000064u, 0xFFFFFFFFu};
  const std::uint32_t before = GetAccTime();
  const std::uint32_t after = ::GetAccTime();
  EXPECT_EQ(before, 0xFFFFFF38u);
  EXPECT_EQ(after, 0x64u);
  EXPECT_EQ(static_cast<std::uint32_t>(after - before), 300u);
  EXPECT_EQ(GetAccTime(), 0xFFFFFFFFu);  // the top bit is a count, not a sign
}

TEST(GetAccTime, ReadsThePlatformClock) {
  const platform::Ops& os = platform::Native();
  const std::uint32_t t0 = os.timeGetTime();
  const std::uint32_t a0 = GetAccTime();
  const std::uint32_t t1 = os.timeGetTime();
  EXPECT_LE(static_cast<std::uint32_t>(a0 - t0), static_cast<std::uint32_t>(t1 - t0));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  const std::uint32_t a1 = GetAccTime();
  EXPECT_GE(static_cast<std::uint32_t>(a1 - a0), 49u);
  EXPECT_LT(static_cast<std::uint32_t>(a1 - a0), 5000u);
}

}  // namespace
}  // namespace zadized
