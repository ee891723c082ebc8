// For the tests of the status file and of what is made from it (metrics, `torvan status`):
// a snapshot with every figure set.
#pragma once

#include "control/status_file.h"

namespace torvan::testing {

inline StatusSnapshot Sample() {
  StatusSnapshot s;
  s.pid = 4242;
  s.front_end = "torvan run";
  s.started = "05/12/2026 14:00:00";
  s.written = "05/12/2026 14:05:09";
  s.written_ms = 1796566709000;
  s.stato = 4;
  s.link_up = true;
  s.collegato_sql = true;
  s.host_stop_time = "20261205220000";
  s.host_restart_time = "20261205230000";
  s.activity = "in attesa del lock su GESTIONALE/CLIENTI: modifica DATI/CLIENTI codice 1 RRN 7";
  s.held = true;
  s.held_lines = {"Modifica trattenuta: DATI/CLIENTI codice 1 RRN 7 IDX 0",
                  "  ricevuta il 05/12/2026 14:04:00, tentativi 3",
                  "  ultimo errore: valore = non valido"};
  s.in_flight = 1;
  s.journal_depth = 40;
  s.journal_lag = 2.5;
  s.conflicts = 2;
  s.databases = {{1, "GESTIONALE", 3, 12.5, 0.4, ""}, {3, "ARCHIVIO", -1, -1, -1, "no such table"}};
  s.last_applied = "05/12/2026 14:05:01";
  s.last_applied_age = 8;
  s.host_lag = 95;
  s.host_queue_seen_empty = true;
  s.counters = {12, 3, 5, 0};
  s.times = {1.25f, 104.167f, 0.5f, 100.0f};
  s.texts = {"DATI",
             "CLIENTI",
             "DATI",
             "CONTATTI",
             "",
             "",
             "05/12/26  22:00",
             "05/12/26  23:00",
             "14:05:01 - AS--> DATI/CLIENTI ADD RRN:7 IDX:0"};
  return s;
}

}  // namespace torvan::testing
