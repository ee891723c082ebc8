// The event pump: how a long operation lets pending window messages run.
//
// Torvan has one thread. Every wait (socket polls, pauses between connection attempts)
// sleeps in short steps and lets the pump run, so timers and toolbar clicks can arrive
// inside a running operation. The desktop application and `torvan run` pump Qt's event
// loop (platform/qt_loop.h); the one-shot commands pump nothing; tests count calls, run
// re-entrant code or skip the sleeping.
//
// Re-entry: the rules for code that lets events run
// -------------------------------------------------
// ProcessEvents can run any timer callback or click handler before it returns: the cycle
// (Sincronismo), the display timer, a toolbar command, the close of a window. Every place
// that calls it (a socket wait, a pause, "let pending window messages run" of the routines)
// is therefore a point where the program's state may change under the caller. The rules:
//
//   1. What may run inside. Display refreshes and state flags may always run. Commands
//      that start or stop the links, rebuild the catalogue, build or drop tables, or run a
//      replication pass run only when no other such command is running: they hold a
//      Busy guard (core/run_state.h, RunState::Busy) and a second one, entered from inside
//      a pump, finds the guard taken and returns at once without doing anything. The cycle
//      keeps its own counter (Ciclo_In_Corso) with the same effect.
//   2. What must be re-checked after. A caller that pumped re-reads what it decides on:
//      a stop request (RunState::StopRequested) ends waits, pauses and connection attempts
//      at the next poll; LinkUp and Collegato_SQL may have changed.
//   3. What may not be held across. No reference, pointer or iterator into the in-memory
//      catalogue (Tab_File, Tab_Campi, Tab_Cartelle_DB) or into Connessioni survives a
//      pump: take copies of the entries, or look them up again afterwards. A catalogue
//      reload (a link start) replaces those tables.
#pragma once

#include <chrono>
#include <functional>

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

// Waits `steps` pauses of `step` each, letting events run after every pause. When
// `stop_requested` is given it is asked after each pause, and a true answer ends the wait
// early; the result says whether the whole wait ran (false: stopped early).
bool PauseLettingEventsRun(EventPump& pump, int steps, std::chrono::milliseconds step,
                           const std::function<bool()>& stop_requested = {});

}  // namespace torvan::platform
