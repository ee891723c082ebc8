// Test doubles for the platform seams: a clock that shows whatever the test says and an
// event pump that records calls and never really sleeps.
#pragma once

#include <chrono>
#include <functional>

#include "platform/clock.h"
#include "platform/event_pump.h"

namespace torvan::platform {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(LocalDateTime now = {2026, 12, 5, 14, 5, 9, 0}) : now_(ToLocalTime(now)) {}
  LocalDateTime Now() override { return ToFields(now_); }
  Status SetLocal(const LocalDateTime& t) override {
    ++set_calls;
    last_set = t;
    if (!allow_set) return Status::IoError("set clock: Operation not permitted");
    now_ = ToLocalTime(t);
    return Status::Ok();
  }
  void Set(const LocalDateTime& t) { now_ = ToLocalTime(t); }
  void Advance(std::chrono::milliseconds d) { now_ += d; }

  bool allow_set = true;
  int set_calls = 0;
  LocalDateTime last_set;

 private:
  LocalTime now_;
};

// Sleeping advances the fake clock (when one is attached) instead of waiting.
class FakePump final : public EventPump {
 public:
  explicit FakePump(FakeClock* clock = nullptr) : clock_(clock) {}
  void ProcessEvents() override {
    ++events;
    if (on_events) on_events();
  }
  void Sleep(std::chrono::milliseconds d) override {
    ++sleeps;
    slept += d;
    if (clock_ != nullptr) clock_->Advance(d);
  }

  int events = 0;
  int sleeps = 0;
  std::chrono::milliseconds slept{0};
  std::function<void()> on_events;  // re-entrancy: runs inside ProcessEvents

 private:
  FakeClock* clock_;
};

// A pump that really sleeps (sockets need real time to pass) and counts events.
class SleepingPump final : public EventPump {
 public:
  void ProcessEvents() override { ++events; }
  void Sleep(std::chrono::milliseconds d) override { ConsolePump()->Sleep(d); }
  int events = 0;
};

}  // namespace torvan::platform
