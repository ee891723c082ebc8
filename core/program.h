// Program: the state the whole of Torvan shares, in one object handed to whoever needs it.
//
// It holds the file paths, the settings with their derived values, the run state, the
// statistics and the message log, and the two platform seams (clock and event pump) that
// tests replace. One Program lives for the whole process; tests make their own.
#pragma once

#include "core/message_log.h"
#include "core/paths.h"
#include "core/run_state.h"
#include "core/settings_values.h"
#include "core/statistics.h"
#include "platform/clock.h"
#include "platform/event_pump.h"

namespace torvan {

struct Program {
  Program(Paths p, platform::Clock* c, platform::EventPump* e);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  Paths paths;
  platform::Clock* clock;     // not owned; outlives the Program
  platform::EventPump* pump;  // not owned; outlives the Program
  Settings settings;
  RunState state;
  Statistics stats;
  MessageLog log;

  // Shorthands for the routines every part calls.
  void Scrivi_Messaggio(std::string_view testo) { log.Scrivi_Messaggio(testo); }
  void ProcessEvents() { pump->ProcessEvents(); }
  platform::LocalDateTime Now() { return clock->Now(); }
};

}  // namespace torvan
