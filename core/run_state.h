// The program-wide run state that the cycle, the start/stop routines, the toolbar, the
// status display and the replication steps all read and write.
#pragma once

#include <optional>
#include <string>

#include "platform/clock.h"

namespace torvan {

enum StatoSincronismo : int { kSincroOff = 0, kSincroSospeso = 2, kSincroAttivo = 4 };

struct RunState {
  int Stato_Sincronismo = kSincroOff;  // 0 off, 2 suspended, 4 active
  bool Stop_Richiesto = false;         // stop asked for while a cycle was running
  int Ciclo_In_Corso = 0;              // re-entrancy counter of the cycle
  bool LinkUp = false;                 // the host link is open
  bool Collegato_SQL = false;          // every SQL connection is open
  std::string HostStopTime;            // "yyyymmddhhnnss" or empty
  std::string HostRestartTime;         // "yyyymmddhhnnss" or empty
  // When the next automatic connection attempt is due; empty = 0, none scheduled.
  std::optional<platform::LocalTime> Prossimo_Tentativo;
  int Tentativi = 0;  // consecutive good presence checks (automatic mode)
  // When the last P or T exchange was made; set at start-up to one day before.
  platform::LocalTime LastTimeExchange{};
  bool Finestra_Messaggi_Aperta = false;
  bool Finestra_Opzioni_Aperta = false;
  bool Finestra_File_Aperta = false;
  int Timer_Ciclo = 0;  // pending one-shot cycle timer, 0 when none
  int Timer_Video = 0;  // the 500 ms display timer
};

}  // namespace torvan
