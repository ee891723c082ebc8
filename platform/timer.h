// Timers: one-shot callbacks after an interval, run by the event loop on Torvan's one
// thread. The cycle timer (Timer_Ciclo) and the display timer (Timer_Video) use them.
//
// A timer fires when the event loop runs: between window events, or inside a long
// operation when it lets pending events run (EventPump::ProcessEvents). Its callback must
// therefore follow the re-entry rules of platform/event_pump.h. A timer fires at most
// once; a timer killed before it is due never fires. Intervals are measured on the
// monotonic clock: setting the PC clock neither hastens nor delays a timer.
//
// The desktop window and `torvan run` use Qt's event loop (platform/qt_loop.h); tests use
// FakeTimers (platform/fakes.h), which fire when the test advances the fake clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace torvan::platform {

// Identifies a started timer; 0 is never an identifier ("no timer").
using TimerId = uint64_t;

class Timers {
 public:
  virtual ~Timers() = default;
  // Starts a one-shot timer: `callback` runs once, `interval` from now (an interval below
  // 0 counts as 0), unless the timer is killed first. Never returns 0.
  virtual TimerId Start(std::chrono::milliseconds interval, std::function<void()> callback) = 0;
  // Kills a pending timer. Killing 0, a timer that already fired or one already killed
  // does nothing.
  virtual void Kill(TimerId id) = 0;
};

}  // namespace torvan::platform
