// The 32-bit tick counter wraps to zero after 49.7 days of uptime; Windows XP
// has no other. Deadlines and the 64-bit count made of it must stay right
// across that wrap.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/Ticks.h"

namespace velmora {
namespace {

constexpr uint32_t kLast = 0xFFFFFFFFu;

TEST(TicksLeft, CountsDownTheSameBeforeAcrossAndAfterTheWrap) {
  struct Case {
    uint32_t start, now, span, left;
  };
  const Case cases[] = {
      {1000, 1000, 13000, 13000},           // just begun
      {1000, 5000, 13000, 9000},            // on its way
      {1000, 14000, 13000, 0},              // exactly over
      {1000, 90000, 13000, 0},              // long over
      {kLast - 999, kLast, 13000, 12001},   // just before the wrap
      {kLast - 999, 0, 13000, 12000},       // the wrap itself
      {kLast - 999, 4000, 13000, 8000},     // after it
      {kLast - 999, 12000, 13000, 0},       // over after it
      {kLast - 999, 500000, 13000, 0},      // long over after it
      {0, kLast, 13000, 0},                 // a whole wrap later: over, not "just begun"
  };
  for (const Case& c : cases)
    EXPECT_EQ(TicksLeft(c.start, c.now, c.span), c.left) << c.start << " -> " << c.now << " of " << c.span;
}

TEST(WidenTicks, GoesOnPastTheWrapAndNeverBack) {
  std::atomic<uint64_t> state{0};
  EXPECT_EQ(WidenTicks(state, 5), 5u);
  EXPECT_EQ(WidenTicks(state, 0x90000000u), 0x90000000u);  // 28 days on
  EXPECT_EQ(WidenTicks(state, kLast - 10), kLast - 10);
  // The wrap: the count goes on above 2^32.
  EXPECT_EQ(WidenTicks(state, 3), (uint64_t{1} << 32) + 3);
  EXPECT_EQ(WidenTicks(state, 1000), (uint64_t{1} << 32) + 1000);
  // Another thread's older reading, a little behind: no second wrap, and
  // the count does not go back.
  EXPECT_EQ(WidenTicks(state, 990), (uint64_t{1} << 32) + 1000);
  EXPECT_EQ(WidenTicks(state, 1001), (uint64_t{1} << 32) + 1001);
  // A reading before the wrap arriving late: still no second wrap.
  EXPECT_EQ(WidenTicks(state, kLast - 2), (uint64_t{1} << 32) + 1001);
  // Far along (days), and the second wrap.
  EXPECT_EQ(WidenTicks(state, 0x80000000u), (uint64_t{1} << 32) + 0x80000000u);
  EXPECT_EQ(WidenTicks(state, kLast), (uint64_t{1} << 32) + kLast);
  EXPECT_EQ(WidenTicks(state, 7), (uint64_t{2} << 32) + 7);
}

TEST(WidenTicks, ThreadsReadingAroundTheWrapCountItOnce) {
  // Every thread reads the same few ticks around the wrap, each in its own
  // order of arrival, the way threads that read the counter at about the
  // same time reach the widening in any order.
  std::atomic<uint64_t> state{0};
  WidenTicks(state, kLast - 100);
  std::vector<std::thread> threads;
  std::atomic<bool> wentBack{false};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      uint64_t previous = 0;
      for (int i = 0; i < 20000; ++i) {
        const uint32_t now = kLast - 50 + static_cast<uint32_t>((i + t * 7) % 100);  // 50 before to 49 after
        const uint64_t widened = WidenTicks(state, now);
        if (widened < previous) wentBack = true;
        previous = widened;
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(wentBack);
  // One wrap, never two.
  EXPECT_EQ(state.load() >> 32, 1u);
}

}  // namespace
}  // namespace velmora
