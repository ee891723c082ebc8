// The PC clock: local date and time, and setting it (the host clock can be copied to the
// PC), and a monotonic clock. Everything that needs "now" asks a Clock, so tests can run
// at any instant.
//
// Two kinds of time, never mixed:
//   - wall-clock time (Now): what the operator reads and what the host's times are compared
//     with as texts (the shutdown window, log stamps, "Prossimo tentativo ..." shown);
//   - monotonic time (Monotonic): every wait and every "is it due yet" decision (timers,
//     the next automatic attempt, the periodic time exchange). It never jumps, also when
//     Torvan sets the PC clock from the host's (ClockMode "2").
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/status.h"

namespace torvan::platform {

// A local date and time to the millisecond, as the wall clock shows it.
struct LocalDateTime {
  int year = 1900, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
  bool operator==(const LocalDateTime&) const = default;
};

// A local instant usable in arithmetic ("now + 30 minutes", "later than X + 0.002 days").
using LocalTime = std::chrono::time_point<std::chrono::local_t, std::chrono::milliseconds>;

LocalTime ToLocalTime(const LocalDateTime& t);
LocalDateTime ToFields(LocalTime t);
// A point of the monotonic clock: only differences between two of them mean anything.
using MonotonicTime = std::chrono::time_point<std::chrono::steady_clock, std::chrono::milliseconds>;

// A fraction of a day as a duration ("0.002 days" = 172.8 s).
std::chrono::milliseconds Days(double days);

// "yyyymmddhhnnss".
std::string FormatYmdHns(const LocalDateTime& t);
// "dd/mm/yyyy hh:nn:ss", as Torvan's logs and files write a moment.
std::string DateTimeText(const LocalDateTime& t);
// Seconds since local midnight, with milliseconds (the statistics' timer).
double SecondsSinceMidnight(const LocalDateTime& t);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime Now() = 0;
  // The monotonic clock: moves forward with real time only.
  virtual MonotonicTime Monotonic() = 0;
  // Sets the local clock. Lack of privilege is an error Status; callers may ignore it.
  virtual Status SetLocal(const LocalDateTime& t) = 0;
};

// The real clock of this machine. Never null; lives for the whole process.
Clock* SystemClock();

}  // namespace torvan::platform
