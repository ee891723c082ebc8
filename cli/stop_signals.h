// SIGINT and SIGTERM for the command line. Every command stops on either within a second:
// the signal asks the program to end (RunState::Fine_Richiesta), and every wait, pause and
// connection attempt ends at its next poll (platform/event_pump.h, rule 2).
//
// The handler only records the signal and writes a byte on a pipe. `torvan run` watches
// the pipe from Qt's loop and stops as the operator's Timer button does; the one-shot
// commands let a StopPump turn the signal into Fine_Richiesta whenever they let events run.
// In the one-shot commands a second signal ends the process at once, as if Torvan caught
// none.
#pragma once

#include <chrono>

#include "core/program.h"
#include "platform/event_pump.h"

namespace torvan {

class StopSignals {
 public:
  // Catches SIGINT and SIGTERM from now on (once per process; later calls do nothing).
  // `second_ends` makes a second signal end the process at once. False when they cannot
  // be caught.
  static bool Install(bool second_ends);
  // The first signal caught (SIGINT or SIGTERM), 0 when none came.
  static int Received();
  // The pipe's read end: readable once a signal came. Drain() empties it.
  static int fd();
  static void Drain();
};

// The event pump of a one-shot command: the inner pump's events, then, once a signal came,
// Fine_Richiesta on `program`. Sleep ends early, within a tenth of a second, after a signal.
class StopPump final : public platform::EventPump {
 public:
  explicit StopPump(platform::EventPump* inner) : inner_(inner) {}
  void Attach(Program* program) { program_ = program; }
  void ProcessEvents() override;
  void Sleep(std::chrono::milliseconds d) override;

 private:
  platform::EventPump* inner_;
  Program* program_ = nullptr;
};

}  // namespace torvan
