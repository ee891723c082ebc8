// torvan-host: the simulated IBM i that Torvan replicates from and to.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>

#include <CLI/CLI.hpp>

#include "core/version.h"
#include "hostsim/ctl_client.h"
#include "hostsim/server.h"

namespace {

torvan::hostsim::Server* g_server = nullptr;

void OnSignal(int) {
  if (g_server != nullptr) g_server->Stop();
}

constexpr char kDescription[] =
    "torvan-host: a simulated IBM i for Torvan. It serves the FTP remote command that starts\n"
    "the host server program TNM_121, the host server program itself (requests P T S I 3 1 2\n"
    "R), the host's files with their records, and a queue of changes for the PC.\n";

constexpr char kFooter[] = R"(
SERVE
  torvan-host serve --data DIR [--listen ADDR] [--ftp-port N] [--port N]
                    [--idle-timeout SECONDS] [--vary SEED]
  One process, one thread. The FTP server answers: 220 on connect, USER 331, PASS 230
  (530 for a wrong user or password), RCMD CALL <library>/TNM_121 ('Pnnnnn') 250 (the
  host server program starts on port nnnnn, or is confirmed when it runs there; 'P00000'
  takes any free port, or the one in use, and names it in the reply), 550 for a port
  outside 1024-65535 or one that cannot be opened and for any other RCMD, QUIT 221,
  anything else 500. The program runs on one port at a time: an RCMD naming another port
  moves it there (connections already open go on). With --port the host server program
  starts at once. Port 0 means any free port; the ports in use are printed and written
  to DIR/ports.txt ("ftp N", "host N").
  A connection idle for --idle-timeout seconds (default 300, 0 never; half a request
  does not count) is closed, FTP with 421 first. Replies a client does not read are
  capped (1 MiB a connection, 16 MiB in all): its requests wait unread meanwhile, and
  after 60 s at its cap it is closed. With no descriptor left, waiting connections are
  refused and accepting rests until one frees up; ctl still works.
  SIGINT, SIGTERM or "ctl shutdown" stop the server after it has written its files.
  --vary SEED takes at random the freedoms the PC's side leaves the host: the greeting's
  length digits, the outcome of a refusal (any but "0"), positions 2-21 of field entries
  (library and file, file and library, blanks, any text), database descriptions, T reply
  positions 2-28, the unread positions and the text of change records, bytes after an R
  status, FTP reply texts after their codes and multi-line replies.

TABLE
  torvan-host table FILE [--table TABLE] [--seed SEED]
  Writes the character table the host uses as a PC's TnC_TBL1.Tbl; with a seed its six
  header bytes, which no one reads, are drawn at random.

DATA FOLDER (text files, UTF-8, "#" starts a comment, columns separated by "|")
  host.conf             user = UTENTE / password = ... / library = TM / listen = 127.0.0.1
                        ftp_port = 2121 / port = 4200   (port = -1: only started by RCMD)
  databases.txt         name | description | server | address | user | password | folder
  files.txt             library | file | text | trigger library | trigger | As_Pc | Pc_As |
                        Acq | database | filter library | filter
  fields/LIB.FILE.txt   name | text | type A/S/P/B | digits | decimals | position | bytes |
                        excluded (S); position and bytes may be left empty
  records/LIB.FILE.txt  RRN<TAB>FIELD=value<TAB>...   or   RRN<TAB>hex:<host bytes>
                        ("next_rrn<TAB>N" sets the RRN of the next added record)
  images/KEY.NNNNN      raw bytes of part NNNNN of image KEY (TNP_ARC_0F, request I)
  TnC_TBL1.Tbl          optional character table (default: Torvan's own)
  Written by the server: queue.txt, journal.txt, state.txt, ports.txt, ctl.sock.
  Edit the text files while the server is stopped; it rewrites records/ as it runs.

CONTROL COMMANDS (torvan-host ctl --data DIR COMMAND ...)
  insert LIB/FILE FIELD=VALUE ...       add a record, queue change "1"
  update LIB/FILE RRN FIELD=VALUE ...   change a record, queue change "3"
  delete LIB/FILE RRN                   delete a record, queue change "2"
  clear LIB/FILE                        delete every record, queue change "4"
  refresh LIB/FILE                      queue the whole file: "4", then every record as "1"
  generate LIB/FILE N [SEED]            N random inserts/updates/deletes, each queued
                                        (N at most 1000000; made a slice at a time
                                        while the other clients are served)
  dump LIB/FILE                         RRN<TAB>FIELD=value... per record (decoded values,
                                        trailing blanks cut)
  queue                                 number of changes waiting for the PC
  schedule [STOP RESTART | off]         show or set the stop and restart times served by
                                        P (yyyymmddhhnnss); off: tomorrow, same time
  stopping on|off                       T answers "S" (stopping now) or "N"
  fault close-after N                   close the connection after N bytes of the next reply
  fault delay MS                        delay every reply by MS ms (0: off)
  fault split N                         send replies in segments of N bytes (0: off)
  fault pair [MS]                       send the next reply in one segment with the next one
                                        (held at most MS ms, default 2000)
  fault corrupt-length                  the next reply's length digits are not digits
  fault refuse CODE N                   refuse the next N requests of CODE (outcome "1")
  fault refuse-statements N [STATUS]    the next N R statements are not executed: refused
                                        (outcome "1"), or with STATUS answered with that
                                        status (any character but a blank)
  fault refuse-login N                  the next N FTP logins get 530
  fault clear                           every fault off
  faults                                every fault's setting and how often it took effect
  status                                ports, connections, reply bytes waiting to be
                                        sent, connections refused for want of
                                        descriptors, queue length
  shutdown                              write the data folder and stop the server
  A bad command prints why and exits with status 2, changing nothing; a server that is
  not running or cannot store the change gives status 1.

R STATEMENT STATUS
  " " executed, S not a statement form the host knows, F no such file, C no such field,
  N no record at that address, V a value does not fit its field. A statement the host's
  files could not take is answered as a refused request (outcome "1"), not executed.
)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app(kDescription, "torvan-host");
  app.footer(kFooter);
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("torvan-host ") + torvan::TorvanVersion(),
                       "Print the version and exit");

  torvan::hostsim::ServerOptions options;
  bool quiet = false;
  CLI::App* serve = app.add_subcommand("serve", "Run the simulated host on a data folder");
  serve->add_option("--data", options.data_dir, "Data folder")->required();
  serve->add_option("--listen", options.listen, "Address to listen on (default from host.conf)");
  serve->add_option("--ftp-port", options.ftp_port, "FTP port, 0 = any free port, -1 = none");
  serve->add_option("--port", options.port, "Start the host server program at once on this port");
  serve->add_option("--table", options.table_path, "Character table file");
  serve->add_flag("--verbose", options.verbose, "Log every request on standard error");
  serve->add_flag("--quiet", quiet, "Do not print the ports on standard output");
  int idle_seconds = 300;
  serve
      ->add_option("--idle-timeout", idle_seconds,
                   "Seconds after which an idle connection is closed (0: never)")
      ->check(CLI::Range(0, 86400));

  uint64_t vary_seed = 0;
  serve->add_option("--vary", options.vary_seed,
                    "Take the freedoms the protocol leaves the host at random from this seed "
                    "(0: none)");
  std::string table_out, table_in;
  CLI::App* table = app.add_subcommand(
      "table", "Write the character table this host uses, for a PC's TnC_TBL1.Tbl");
  table->add_option("file", table_out, "File to write")->required();
  table->add_option("--table", table_in, "Character table to hand out (default: Torvan's own)");
  table->add_option("--seed", vary_seed, "Draw the six header bytes, which no one reads (0: keep)");

  std::string ctl_dir;
  int timeout_ms = 60000;
  CLI::App* ctl = app.add_subcommand("ctl", "Send a control command to the running server");
  ctl->add_option("--data", ctl_dir, "Data folder of the running server")->required();
  ctl->add_option("--timeout", timeout_ms, "Milliseconds to wait for the answer");
  ctl->prefix_command();

  CLI11_PARSE(app, argc, argv);

  if (serve->parsed()) {
    options.print_ports = !quiet;
    options.idle_timeout = std::chrono::seconds(idle_seconds);
    torvan::hostsim::Server server(options);
    std::string notes;
    torvan::Status s = server.Start(&notes);
    if (!notes.empty()) std::cerr << notes;
    if (!s.ok()) {
      std::cerr << "torvan-host: " << s.message() << "\n";
      return 1;
    }
    g_server = &server;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    s = server.Run();
    g_server = nullptr;
    if (!s.ok()) {
      std::cerr << "torvan-host: " << s.message() << "\n";
      return 1;
    }
    return 0;
  }

  if (table->parsed()) {
    torvan::Status s = torvan::hostsim::WritePcCharTable(table_in, table_out, vary_seed);
    if (!s.ok()) {
      std::cerr << "torvan-host: " << s.message() << "\n";
      return 1;
    }
    return 0;
  }

  std::vector<std::string> args = ctl->remaining();
  if (args.empty()) {
    std::cerr << "torvan-host ctl: no command given (torvan-host --help lists them)\n";
    return 2;
  }
  torvan::hostsim::CtlResult result;
  torvan::Status s = torvan::hostsim::CtlCall(ctl_dir, args, timeout_ms, &result);
  if (!s.ok()) {
    std::cerr << "torvan-host ctl: " << s.message() << "\n";
    return 1;
  }
  (result.exit_code == 0 ? std::cout : std::cerr) << result.text;
  return result.exit_code;
}
