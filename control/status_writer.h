// StatusWriter: keeps the status file TnC_STATO.DAT (control/status_file.h) up to date
// for as long as a Torvan front end runs, from a timer on the event loop.
//
// Who calls it. `torvan run` and the desktop window each make one beside their Runtime and
// Controller (StatusService in control/status_service.h does it together with the metrics
// server), call Start once the event loop exists and Stop when the links are closed at the
// end. The window: make it in its load after Video_Avvia, Start(timers) with the window's
// QtTimers, and Stop() in the close and exit sequences after Server__Stop.
//
// Cost and safety. One update a period (1 s) at most: it copies the run state and the
// statistics, reads the pending file only when it changed, writes a few kilobytes through
// a temporary file and a rename (no flush to the disk), and changes nothing the program
// shares. Updates run whenever the loop lets events run, so also inside a replication step
// waiting for the host; at those points the steps hold no recordset open, so the counts
// below may use the same connections. They are left alone when a connection is closed,
// when it holds errors not yet reported (Errori_SQL reads them after the failing
// statement), and while a command that must not nest runs (RunState::Comando_In_Corso).
//
// Events waiting. Per database sent back (DB_Ritorno), the rows of _T_MASTER___ are
// counted, with the lowest and highest _T_RRN___ (SQL Server: read without waiting for
// locks, WITH (NOLOCK), so a client's open transaction never stops the loop; the count is
// then a close estimate). The counts are refreshed at most once a period, and less often
// when counting takes long: the next count waits 20 times the time the last one took, so
// counting never takes more than a twentieth of the loop's time.
//
// Age of the oldest waiting event. The master table keeps no time, so the writer notes, at
// every count, the highest master RRN and when it was first seen; the oldest row waiting
// is as old as the first note whose highest RRN reaches it. The age therefore counts from
// when this Torvan first saw the row: exact to a period for rows written while it runs, and
// from Torvan's start (or the first count after the links opened) for older ones.
//
// Time since the last change applied: noted at the first update that sees the number of
// records received (Stat_Contatori 0) change to a value other than 0 (a Reset clears it),
// so exact to a period. It is no lag: it grows while all is quiet. The host-to-SQL lag is
// the time since replication last found the host's queue empty (RunState::Coda_Host_Vuota),
// or since the writer was made when it never has: it grows only while changes wait.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "control/status_file.h"
#include "hostlink/char_table.h"
#include "links/runtime.h"
#include "platform/file.h"
#include "platform/timer.h"
#include "replication/pending_file.h"

namespace torvan {

struct StatusOptions {
  std::chrono::milliseconds period{1000};
  // A count that took t delays the next one by at least count_cost_factor * t (0: counts
  // every period whatever they cost).
  int count_cost_factor = 20;
  // Notes of highest RRNs kept per database; beyond it every second one is dropped (the age
  // then errs towards younger).
  size_t max_notes = 4096;
};

class StatusWriter {
 public:
  // `rt` (and its Program) must outlive the writer. `front_end` is "torvan run" or
  // "finestra".
  StatusWriter(Runtime& rt, std::string front_end, StatusOptions options = {});
  // Stops it (see Stop) when it was started.
  ~StatusWriter();
  StatusWriter(const StatusWriter&) = delete;
  StatusWriter& operator=(const StatusWriter&) = delete;

  // Takes the base folder's lock (flock on the folder itself, held until Stop): one Torvan
  // front end works in a folder at a time, and only it writes the folder's status. Then
  // writes the file at once and once a period until Stop. IoError, with nothing written,
  // when another process holds the lock; the front end must not go on then. `timers` must
  // outlive the writer or its Stop.
  Status Start(platform::Timers& timers);
  // Kills the timer, writes the file a last time, marked ended ("terminato=1"), so that
  // `torvan status` knows at once, and gives the folder's lock back. Does nothing when not
  // started.
  void Stop();
  // Gathers the figures and writes the file now (the timer does it once a period).
  void Update();

  // The figures of the last update (the metrics server serves them).
  const StatusSnapshot& snapshot() const { return snapshot_; }

  // Called after every update, once the file is written; empty by default.
  std::function<void()> on_update;

 private:
  struct Note {
    int64_t highest_rrn;
    platform::MonotonicTime seen;
  };
  struct Database {
    int64_t waiting = -1;
    std::string error;
    std::optional<platform::MonotonicTime> counted;
    std::optional<platform::MonotonicTime> oldest_seen;
    std::deque<Note> notes;
  };

  void Arm();
  void Gather();
  void GatherHeld();
  void CountAll(platform::MonotonicTime now);
  void Count(int32_t d, Database& db, platform::MonotonicTime now);
  void Write();

  Runtime& rt_;
  Program& program_;
  StatusOptions options_;
  platform::Timers* timers_ = nullptr;
  platform::TimerId timer_ = 0;
  std::unique_ptr<platform::FolderLock> folder_lock_;  // the base folder's, while started
  StatusSnapshot snapshot_;

  // The pending file as last read: its change time and size, and the tables that decoded it.
  std::optional<std::pair<int64_t, int64_t>> pending_seen_;
  int64_t conflicts_size_ = 0;   // the size of TnC_CONFLITTI.Log when its records were counted
  int64_t pending_read_at_ = 0;  // real time of that reading, ns
  std::optional<hostlink::CharTables> own_tables_;

  platform::MonotonicTime started_{};  // the host-to-SQL lag counts from here at first
  std::optional<int32_t> last_received_;
  std::optional<platform::MonotonicTime> last_applied_;

  std::map<int32_t, Database> databases_;
  platform::MonotonicTime next_count_{};

  bool write_failed_ = false;  // the failure was reported; the next success ends it
};

}  // namespace torvan
