// The event pump: how a long operation lets pending window messages run.
//
// Torvan has one thread. Every wait (socket polls, pauses between connection attempts)
// sleeps in short steps and lets the pump run, so timers and toolbar clicks can arrive
// inside a running operation. The desktop application pumps Qt's event loop; the command
// line pumps nothing; tests count calls, run re-entrant code or skip the sleeping.
#pragma once

#include <chrono>

namespace torvan::platform {

class EventPump {
 public:
  virtual ~EventPump() = default;
  // Lets pending window messages (timer ticks, clicks) run, then returns.
  virtual void ProcessEvents() = 0;
  // Sleeps for about `d` without running events.
  virtual void Sleep(std::chrono::milliseconds d) = 0;
};

// A pump with no window system: ProcessEvents does nothing, Sleep really sleeps.
EventPump* ConsolePump();

// Waits `steps` pauses of `step` each, letting events run after every pause.
void PauseLettingEventsRun(EventPump& pump, int steps, std::chrono::milliseconds step);

}  // namespace torvan::platform
