// The torvan-host server: one process, one thread, one epoll loop serving
//
//   the FTP control server (ftp_session.h), whose RCMD starts the host server program,
//   the host server program TNM_121 (host_session.h) on each port it was started on,
//   the control socket ctl.sock of the data folder (ctl_command.h),
//
// over any number of connections. Faults (faults.h) are applied as replies leave.
// The ports in use are written to ports.txt in the data folder ("ftp N", "host N" lines)
// and printed on standard output, so a port chosen by the system (0) can be found.
//
// The host server program runs on one port at a time: an RCMD naming another port (as
// Torvan sends after its settings' port changed) moves it there, and the old port stops
// taking connections; those already open go on until they end.
//
// No client can hold the others up: replies waiting for a client that does not read are
// capped (per connection and in total) and its requests wait unread meanwhile; a client
// kept at its cap too long, and any connection idle too long, is closed; long control
// commands (generate) run in slices between the other connections' work; with no
// descriptor left, waiting connections are refused on a reserve descriptor and accepting
// backs off until descriptors free up, while the control socket is still served.
//
// Usage: construct, Start, then Run until Stop (callable from any thread or a signal
// handler) or the "shutdown" control command; Run writes the data folder's text files
// before it returns.
#pragma once

#include <sys/epoll.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/status.h"

namespace torvan::hostsim {

struct ServerOptions {
  std::string data_dir;
  std::string listen;      // address to bind; empty: host.conf's (127.0.0.1 by default)
  int ftp_port = -2;       // -2: host.conf's; -1: no FTP server; 0: any free port
  int port = -2;           // host server started at once: -2: host.conf's; -1: not; 0: any
  std::string table_path;  // character table; empty: DIR/TnC_TBL1.Tbl, else Torvan's own
  platform::Clock* clock = nullptr;  // nullptr: the system clock
  bool verbose = false;              // log every request on standard error
  bool print_ports = true;           // print the listening ports on standard output
  // Seed of the freedoms the protocol leaves the host, taken at random (variation.h);
  // 0: none.
  uint64_t vary_seed = 0;
  // A connection that sends no whole request and takes no reply byte for this long is
  // closed (FTP with 421 first); zero: never.
  std::chrono::milliseconds idle_timeout = std::chrono::minutes(5);
  // Reply bytes waiting to be sent, per connection and over all connections. At its cap a
  // connection's requests wait unread; over the total, only connections with nothing
  // waiting get a reply (one at a time).
  size_t max_unsent = 1 << 20;
  size_t max_unsent_total = 16 << 20;
  // A connection at its cap for this long is closed.
  std::chrono::milliseconds stall_timeout = std::chrono::seconds(60);
  // For tests: client connections are taken on descriptors below this one only (0: what
  // the descriptor limit leaves), and epoll_ctl itself (empty: the system's).
  int fd_ceiling = 0;
  std::function<int(int epfd, int op, int fd, epoll_event* event)> epoll_ctl;
};

class Server {
 public:
  explicit Server(ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the data folder (see data_folder.h), binds every listener and writes ports.txt.
  // Advice about the data folder (a dropped journal tail, ...) goes to `notes`.
  Status Start(std::string* notes);

  // Serves until Stop; then writes the text files and closes every connection.
  Status Run();

  // Asks Run to return. Safe from another thread and from a signal handler.
  void Stop();

  int ftp_port() const;
  std::vector<int> host_ports() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

// The character table torvan-host uses when the data folder has none: the one Torvan
// ships with.
std::string DefaultTablePath();

// Writes to `out` the character table of `table` (empty: DefaultTablePath()) for a PC:
// the same 256 entries, and with `seed` other than 0 six header bytes drawn from it, as
// a table of another origin carries its own. The table must load (LoadCharTables).
Status WritePcCharTable(const std::string& table, const std::string& out, uint64_t seed);

}  // namespace torvan::hostsim
