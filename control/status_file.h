// The status file "TnC_STATO.DAT": what a running Torvan (the window or `torvan run`)
// reports about itself, at most once a second, for `torvan status` and for monitoring.
//
// One StatusSnapshot is gathered by the writer (control/status_writer.h); this header
// holds its layout on file, the reading back, and the rule that tells a live Torvan from
// a file left behind. The lines `torvan status` prints from it are cli/status_lines.h's.
//
// Layout: UTF-8 text, "\n" line ends. The first line is "TnC_STATO 1" (name, version);
// then one "key=value" line per figure, split at the first "=". Values are Windows-1252
// inside Torvan and UTF-8 on file; control characters are shown as "\xNN" (VisibleText),
// so a value never breaks a line. Keys:
//   pid, programma ("torvan run" or "finestra"), avviato, scritto ("dd/mm/yyyy hh:nn:ss"),
//   scritto_ms (milliseconds of local time since 1970, the writer's wall clock),
//   terminato (1: the program ended and wrote this last), Stato_Sincronismo,
//   Ciclo_In_Corso, LinkUp, Collegato_SQL (0/1), HostStopTime, HostRestartTime, attivita
//   (what Torvan is doing or waiting for, RunState::Attivita; empty when nothing),
//   trattenuta (0/1), trattenuta.<n> (the lines of the held change, from 1), in_volo,
//   db.<n>.nome, db.<n>.in_attesa (-1 never counted), db.<n>.eta_s (age in seconds of the
//   oldest event waiting, -1 unknown), db.<n>.conteggio_s (age of the count), db.<n>.errore,
//   ultima_applicata (when the last host change was applied, empty when none since the
//   start), ultima_applicata_s (seconds since, -1 none), ritardo_host_s (the host-to-SQL
//   lag, -1 unknown), coda_host_vuota (0/1: the host's queue was found empty since the
//   start, the lag counts from then; 0: from the start), Stat_Contatori.<i>,
//   Stat_Tempi.<i> (i 0..3), Stat_Testi.<i> (i 0, 1, 2, 3, 6, 7, 8).
// Unknown keys are skipped (a later version may add some); a known key with a value that
// is not a number is a damaged file.
//
// The file is replaced whole (temporary file and rename), so a reader never sees half of
// one. It is readable by its owner only: a held change carries host record values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"

namespace torvan {

inline constexpr char kStatusFileMagic[] = "TnC_STATO 1";
// A file last written longer ago than this is not a running Torvan's.
inline constexpr int64_t kStatusFreshMs = 5000;
// A status file is a few kilobytes; a reader refuses anything beyond this.
inline constexpr size_t kStatusFileMax = 1 << 20;

// One database sent back to the host (DB_Ritorno), as last counted.
struct StatusDatabase {
  int32_t number = 0;
  std::string name;        // Windows-1252
  int64_t waiting = -1;    // rows of _T_MASTER___; -1 never counted
  double oldest_age = -1;  // seconds the oldest of them has been seen waiting; -1 unknown
  double count_age = -1;   // seconds since that count; -1 never counted
  std::string error;       // why the last count failed, empty when it worked
  bool operator==(const StatusDatabase&) const = default;
};

struct StatusSnapshot {
  int64_t pid = 0;
  std::string front_end;  // "torvan run" or "finestra"
  std::string started;    // "dd/mm/yyyy hh:nn:ss"
  std::string written;    // "dd/mm/yyyy hh:nn:ss"
  int64_t written_ms = 0;
  bool ended = false;

  int stato = 0;  // Stato_Sincronismo: 0, 2, 4
  int ciclo_in_corso = 0;
  bool link_up = false;
  bool collegato_sql = false;
  std::string host_stop_time, host_restart_time;  // "yyyymmddhhnnss" or empty
  std::string activity;                           // RunState::Attivita, Windows-1252

  bool held = false;
  std::vector<std::string> held_lines;  // as `torvan pending` prints them
  int32_t in_flight = 0;                // SQL-side events whose status was never read
  int64_t journal_depth = 0;            // host changes journaled, not yet applied
  double journal_lag = -1;              // seconds the oldest of them waits; -1 none
  int64_t conflicts = 0;                // records of TnC_CONFLITTI.Log

  std::vector<StatusDatabase> databases;

  std::string last_applied;      // "dd/mm/yyyy hh:nn:ss", empty when none since the start
  double last_applied_age = -1;  // seconds; -1 none
  // The host-to-SQL lag: seconds since replication last found the host's queue empty, or
  // since the start when it never has (host_queue_seen_empty false); -1 unknown.
  double host_lag = -1;
  bool host_queue_seen_empty = false;

  std::array<int32_t, 4> counters{};   // Stat_Contatori
  std::array<float, 4> times{};        // Stat_Tempi
  std::array<std::string, 9> texts{};  // Stat_Testi (4 and 5 are not kept)

  bool operator==(const StatusSnapshot&) const = default;
};

std::string EncodeStatus(const StatusSnapshot& s);
// Reads a file's contents back. InvalidArgument, saying what is wrong, for text that is not
// a status file.
Status DecodeStatus(std::string_view text, StatusSnapshot* s);

// Reads and decodes the file at `path`: NotFound when there is none.
Status ReadStatusFile(const std::string& path, StatusSnapshot* s);

// Milliseconds of local time since 1970, as scritto_ms.
int64_t LocalEpochMs(const platform::LocalDateTime& t);

// Whether the file is a live Torvan's: not ended, written at most kStatusFreshMs before
// `now_ms` (and not more than that after it: a clock set back), and its process alive
// (`alive(pid)`: platform::ProcessAlive, or a test's).
enum class Liveness { kRunning, kEnded, kStale, kGone };
Liveness StatusLiveness(const StatusSnapshot& s, int64_t now_ms, bool (*alive)(int64_t pid));

}  // namespace torvan
