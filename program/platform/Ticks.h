// Arithmetic on the system's 32-bit millisecond tick counter, which wraps to
// zero every 49.7 days of uptime. Windows XP has no 64-bit counter, so the
// program and its runtime time their waits with this one.
#pragma once

#include <atomic>
#include <cstdint>

namespace velmora {

// Milliseconds left of a span of `span` that began at tick `start`, seen at
// tick `now`. The unsigned difference `now - start` is the time elapsed even
// when the counter wrapped in between; comparing the ticks themselves is not.
constexpr uint32_t TicksLeft(uint32_t start, uint32_t now, uint32_t span) {
  const uint32_t elapsed = now - start;
  return elapsed >= span ? 0 : span - elapsed;
}

// A 64-bit tick count made of 32-bit readings: `state` holds the wraps seen
// so far above the last reading (zero before the first). A reading that is
// ahead of the last one but smaller than it means the counter wrapped. Threads
// race: a reading a little behind the last one is an older reading of
// another thread, not a wrap, and gives the last count again. So the result
// never goes back, as long as some reading is taken at least once per wrap;
// a wrap nobody saw makes it lag behind, never jump.
inline uint64_t WidenTicks(std::atomic<uint64_t>& state, uint32_t now) {
  // How far behind the last reading a reading may be and still be taken for
  // an older one: far more than any thread waits between reading the counter
  // and getting here, far less than a wrap.
  constexpr uint32_t kStale = 1u << 20;  // 17 minutes
  uint64_t seen = state.load();
  for (;;) {
    const uint32_t last = static_cast<uint32_t>(seen);
    if (seen != 0 && last - now - 1 < kStale) return seen;
    const uint64_t wraps = (seen >> 32) + (now < last ? 1 : 0);
    const uint64_t next = (wraps << 32) | now;
    if (state.compare_exchange_weak(seen, next)) return next;
  }
}

}  // namespace velmora
