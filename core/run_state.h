// The program-wide run state that the cycle, the start/stop routines, the toolbar, the
// status display and the replication steps all read and write.
#pragma once

#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/timer.h"

namespace torvan {

// Replication run state; the values are those the display and the log know.
enum class StatoSincronismo : int {
  kSpento = 0,   // replication off
  kSospeso = 2,  // suspended: links dropped for the host's shutdown, cycle still ticking
  kAttivo = 4,   // replication active
};

struct RunState {
  StatoSincronismo Stato_Sincronismo = StatoSincronismo::kSpento;
  bool Stop_Richiesto = false;  // stop asked for while a cycle was running
  int Ciclo_In_Corso = 0;       // re-entrancy counter of the cycle
  bool LinkUp = false;          // the host link is open
  bool Collegato_SQL = false;   // every SQL connection is open
  std::string HostStopTime;     // "yyyymmddhhnnss" or empty
  std::string HostRestartTime;  // "yyyymmddhhnnss" or empty
  // When the next automatic connection attempt is due (monotonic); empty is the Part's 0,
  // no attempt scheduled. A scheduled attempt is never "equal to 0".
  std::optional<platform::MonotonicTime> Prossimo_Tentativo;
  int Tentativi = 0;  // consecutive good presence checks (automatic mode)
  // When the last P or T exchange was made (monotonic); one day before start-up at first,
  // so the first cycle makes the exchange.
  platform::MonotonicTime LastTimeExchange{};
  // When host-to-SQL replication last found the host's queue of changes empty (the host
  // answered an S request with nothing waiting), monotonic; empty until it first does. The
  // host-to-SQL lag counts from it: it grows only while changes wait.
  std::optional<platform::MonotonicTime> Coda_Host_Vuota;
  // The journal of host changes (replication/journal.h): how many received changes wait
  // to be applied, and since when the oldest of them waits (monotonic; empty when none).
  int64_t Giornale_In_Attesa = 0;
  std::optional<platform::MonotonicTime> Giornale_Dal;
  bool Finestra_Messaggi_Aperta = false;
  bool Finestra_Opzioni_Aperta = false;
  bool Finestra_File_Aperta = false;
  platform::TimerId Timer_Ciclo = 0;  // pending one-shot cycle timer, 0 when none
  platform::TimerId Timer_Video = 0;  // the 500 ms display timer

  // The program is ending (SIGINT/SIGTERM of `torvan run`, the window closing): waits,
  // pauses and connection attempts end at their next poll, and nothing new starts.
  bool Fine_Richiesta = false;
  // A command that must not nest is running (see Busy).
  bool Comando_In_Corso = false;

  // What Torvan is doing or waiting for at this moment, for the operator ("Collegamento al
  // Server 127.0.0.1 (3/20)", "in attesa del lock su GESTIONALE"); Windows-1252, empty when
  // nothing long is under way. Whoever starts a long step or wait sets it and clears it when
  // the step ends; the status file, the window and the service manager's status show it.
  std::string Attivita;

  // A stop asked for by the operator or the program's end: what waits re-check after
  // every poll (platform/event_pump.h, rule 2).
  bool StopRequested() const { return Stop_Richiesto || Fine_Richiesta; }
  bool ReplicationOn() const { return Stato_Sincronismo != StatoSincronismo::kSpento; }
};

// Marks a command that must not nest (starting or stopping the links, building tables, a
// catalogue reload from the browser) as running for its scope. A second command entered
// from inside a pump while one runs finds entered() false and must return at once.
class Busy {
 public:
  explicit Busy(RunState& state) : state_(state), entered_(!state.Comando_In_Corso) {
    if (entered_) state_.Comando_In_Corso = true;
  }
  ~Busy() {
    if (entered_) state_.Comando_In_Corso = false;
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;
  bool entered() const { return entered_; }

 private:
  RunState& state_;
  bool entered_;
};

}  // namespace torvan
