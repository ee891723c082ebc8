// The Controller: the routines that bring the links up and down and drive replication —
// the main window's Server__Verifica, Server__Start, Server__Stop, the cycle Sincronismo
// with Sincronismo_Avvia, Sincronismo_Ferma, Timer_Avvia, Timer_Ferma, and the Timer
// button's start/stop logic.
//
// One Controller lives beside the Program for as long as the front end runs: the desktop
// window (its toolbar calls these routines) or `torvan run` (which does what the operator
// does with the Server and then the Timer button). Both run it on Qt's event loop, so the
// cycle code is the same under either. Everything runs on the one thread; the routines let
// pending events run where their descriptions say, so a timer tick or a click can arrive
// inside them (platform/event_pump.h, re-entry rules): the cycle admits one pass at a time
// (Ciclo_In_Corso), a stop asked for during a pass is carried out by the pass
// (Stop_Richiesto), and the front ends must not start a second Server command while one
// runs (they hold RunState's Busy guard around each command).
//
// Every "is it due" decision uses the program's monotonic clock; the host's shutdown
// window is compared on the wall clock, as texts, as the host gives it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/program.h"
#include "hostlink/ping.h"
#include "links/link_ops.h"
#include "platform/timer.h"
#include "replication/steps.h"

namespace torvan {

// What the control routines need from the front end.
class FrontEnd {
 public:
  virtual ~FrontEnd() = default;
  // Bar_Imposta: the toolbar follows the run state. Called after every change of it.
  virtual void Bar_Imposta() = 0;
  // The host link could not be opened: the program ends with `exit_status` (non-zero).
  // Called once Server__Start has stopped everything and paused; the front end tells the
  // operator `reason` (Windows-1252, lines parted by "\n": what failed and why), closes its
  // window and leaves its event loop. It must return: the caller unwinds first.
  virtual void EndProgram(int exit_status, const std::string& reason) = 0;
};

// The exit status of a program ended because the host link could not be opened.
constexpr int kExitHostLinkFailed = 1;

struct ControlOptions {
  int32_t ping_ttl = 20;
  int32_t ping_timeout_ms = 1000;
  // The pause between a failed host link and the end of the program.
  std::chrono::milliseconds pause_before_end{5000};
};

// Reachability of a server: Ping_Host by default; tests put their own.
using PingFunction =
    std::function<hostlink::PingResult(int32_t ttl, int32_t timeout_ms, uint32_t address)>;
// Whether a server answers at a TCP port (hostlink::Tcp_Risponde by default): the presence
// check when the ping is not permitted.
using ProbeFunction = std::function<bool(uint32_t address, int32_t port, int32_t timeout_ms)>;

// The port tried on a destination server when it cannot be pinged: SQL Server's.
inline constexpr int32_t kSqlServerPort = 1433;

class Controller {
 public:
  // Every reference must outlive the Controller.
  Controller(Program& program, LinkOps& links, ReplicationOps& steps, platform::Timers& timers,
             FrontEnd& front);
  ~Controller();  // kills the cycle timer
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // Pings the source server (per_AS) and every destination server of TnC_DB.DAT
  // (per_SQL); true when every server pinged answered. A silent source stops the links
  // (replication suspended when it was on); a silent destination stops everything. When
  // this process may not ping (no CAP_NET_RAW, net.ipv4.ping_group_range closed), it says
  // so once and asks for a TCP connection instead: to the source's FTP port, then its link
  // port; to a destination's SQL Server port. A server that answers neither is absent.
  bool Server__Verifica(bool per_AS, bool per_SQL);
  // Checks, opens the host link, then the SQL connections; the effect is read from LinkUp
  // and Collegato_SQL. In automatic use (manuale false) the source must answer twice,
  // Attesa_Riprova minutes apart (Tentativi, Prossimo_Tentativo). A host link that cannot
  // be opened stops everything and ends the program (FrontEnd::EndProgram).
  void Server__Start(bool manuale);
  // Switches replication off (manuale) or suspends it, closes the host link, then the SQL
  // connections, and logs the expected restart when suspended.
  void Server__Stop(bool manuale);

  // One cycle: connect, disconnect for the host's shutdown window, or replicate (both
  // steps, again at once while either did work); then re-arms the timer.
  void Sincronismo();
  void Sincronismo_Avvia();
  void Sincronismo_Ferma(bool manuale);
  // Arms the one-shot cycle timer (its identifier goes to Timer_Ciclo); does not kill an
  // earlier one. The callback runs Timer_Ferma, then Sincronismo.
  void Timer_Avvia(int32_t interval_ms);
  void Timer_Ferma();

  // The Timer button: starts replication when both links are open and it is off (the
  // first cycle runs one interval later); otherwise asks it to stop, at once when no pass
  // is running, else at the end of the running pass.
  void TimerButton();

  // Esito[0]: the last host-to-SQL result, Esito[1]: the last SQL-to-host result.
  const std::array<bool, 2>& Esito() const { return esito_; }

  ControlOptions options;
  PingFunction ping;    // Ping_Host unless a test replaces it
  ProbeFunction probe;  // Tcp_Risponde unless a test replaces it

 private:
  // Whether the server at `address` answers: the ping, or when it is not permitted a TCP
  // connection to one of `ports` (0: none).
  bool Answers(uint32_t address, std::initializer_list<int32_t> ports);
  void LogNextAttempt();
  bool BeforeStopMargin() const;
  bool PastRestartMargin() const;

  Program& program_;
  LinkOps& links_;
  ReplicationOps& steps_;
  platform::Timers& timers_;
  FrontEnd& front_;
  std::array<bool, 2> esito_{false, false};
  bool said_no_ping_ = false;  // the ping's lack of permission was said
};

}  // namespace torvan
