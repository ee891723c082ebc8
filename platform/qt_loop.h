// Qt's event loop as Torvan's event pump and timers: what the desktop window and the
// unattended `torvan run` both stand on, so the cycle runs the same code under either.
//
// A QCoreApplication (or QApplication) must exist on the calling thread before these are
// used, and outlive them. Timers are Qt's precise single-shot timers on the monotonic
// clock; their callbacks run when the loop runs (QCoreApplication::exec) or when a long
// operation lets events run (QtPump::ProcessEvents).
#pragma once

#include <memory>

#include "platform/event_pump.h"
#include "platform/timer.h"

namespace torvan::platform {

// ProcessEvents is QCoreApplication::processEvents(); Sleep sleeps without running events.
class QtPump final : public EventPump {
 public:
  void ProcessEvents() override;
  void Sleep(std::chrono::milliseconds d) override;
};

class QtTimers final : public Timers {
 public:
  QtTimers();
  ~QtTimers() override;  // kills every pending timer
  TimerId Start(std::chrono::milliseconds interval, std::function<void()> callback) override;
  void Kill(TimerId id) override;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace torvan::platform
