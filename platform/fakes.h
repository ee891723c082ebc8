// Test doubles: a clock set by the test, timers firing as it advances, a pump that never sleeps.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include "platform/clock.h"
#include "platform/event_pump.h"
#include "platform/timer.h"

namespace torvan::platform {

class FakeClock final : public Clock {
 public:
  explicit FakeClock(LocalDateTime now = {2026, 12, 5, 14, 5, 9, 0}) : now_(ToLocalTime(now)) {}
  LocalDateTime Now() override { return ToFields(now_); }
  MonotonicTime Monotonic() override { return monotonic_; }
  Status SetLocal(const LocalDateTime& t) override {
    ++set_calls;
    last_set = t;
    now_ = ToLocalTime(t);
    return Status::Ok();
  }
  // Moves the wall clock only, as an operator or the host setting the PC clock would.
  void Set(const LocalDateTime& t) { now_ = ToLocalTime(t); }
  // Lets time pass: both clocks move forward by `d`.
  void Advance(std::chrono::milliseconds d) {
    now_ += d;
    monotonic_ += d;
  }

  int set_calls = 0;
  LocalDateTime last_set;

 private:
  LocalTime now_;
  MonotonicTime monotonic_{std::chrono::hours(1000)};
};

// Timers on the fake monotonic time, fired by FireDue (what is due now) or AdvanceBy (each at
// its due time, in due order, a callback's new timer too when it falls due in time).
class FakeTimers final : public Timers {
 public:
  explicit FakeTimers(FakeClock& clock) : clock_(clock) {}
  TimerId Start(std::chrono::milliseconds interval, std::function<void()> callback) override {
    if (interval.count() < 0) interval = std::chrono::milliseconds(0);
    const TimerId id = ++last_id_;
    pending_[id] = Pending{clock_.Monotonic() + interval, std::move(callback)};
    return id;
  }
  void Kill(TimerId id) override { pending_.erase(id); }

  // Returns how many fired.
  int FireDue() {
    int fired = 0;
    while (std::optional<TimerId> id = NextDueId()) {
      if (pending_[*id].due > clock_.Monotonic()) break;
      std::function<void()> callback = std::move(pending_[*id].callback);
      pending_.erase(*id);
      ++fired;
      callback();
    }
    return fired;
  }
  void AdvanceBy(std::chrono::milliseconds d) {
    const MonotonicTime end = clock_.Monotonic() + d;
    for (;;) {
      std::optional<TimerId> id = NextDueId();
      if (!id || pending_[*id].due > end) break;
      if (pending_[*id].due > clock_.Monotonic())
        clock_.Advance(pending_[*id].due - clock_.Monotonic());
      FireDue();
    }
    if (end > clock_.Monotonic()) clock_.Advance(end - clock_.Monotonic());
  }
  size_t pending() const { return pending_.size(); }

 private:
  struct Pending {
    MonotonicTime due;
    std::function<void()> callback;
  };
  std::optional<TimerId> NextDueId() const {
    std::optional<TimerId> best;
    for (const auto& [id, p] : pending_) {
      if (!best || p.due < pending_.at(*best).due) best = id;
    }
    return best;
  }

  FakeClock& clock_;
  TimerId last_id_ = 0;
  std::map<TimerId, Pending> pending_;
};

// Sleeping advances the attached clock; letting events run fires the attached timers' due ones.
class FakePump final : public EventPump {
 public:
  explicit FakePump(FakeClock* clock = nullptr, FakeTimers* timers = nullptr)
      : clock_(clock), timers_(timers) {}
  void ProcessEvents() override {
    ++events;
    if (on_events) on_events();
    if (timers_ != nullptr) timers_->FireDue();
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
  FakeTimers* timers_;
};

}  // namespace torvan::platform
