#include "links/link_control.h"

#include "catalogue/catalogue_load.h"
#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/ftp.h"
#include "hostlink/time_exchange.h"

namespace torvan {

namespace {

constexpr int kSlot = hostlink::SocketLayer::kLinkSlot;

// What the link start is doing, in RunState::Attivita for the operator's displays, until
// the start returns.
class Activity {
 public:
  explicit Activity(RunState& state) : state_(state) {}
  ~Activity() { state_.Attivita.clear(); }
  Activity(const Activity&) = delete;
  Activity& operator=(const Activity&) = delete;
  void Set(std::string text) { state_.Attivita = std::move(text); }

 private:
  RunState& state_;
};

// An FTP server silent for this long is said so in the log, and again every minute after.
constexpr int kFtpSilenceFirst = 30;
constexpr int kFtpSilenceAgain = 60;

std::string FtpVerb(hostlink::FtpState state) {
  return state == hostlink::FtpState::kGreeting ? "saluto" : hostlink::FtpStateName(state);
}

}  // namespace

std::string HostProgramCommand(std::string_view libreria, int32_t porta) {
  return "CALL " + Trim(libreria) + "/TNM_121 ('P" + ZeroPad(porta, 5) + "')";
}

bool Server_AS_Start(Runtime& rt) {
  Program& program = rt.program;
  const Parametri& p = program.settings.parametri;
  program.state.LinkUp = false;
  rt.link_failure.clear();
  bool installed = false;
  const std::string table = CharTableToRead(program.paths, &installed);
  if (installed) program.Scrivi_Messaggio("Tabella caratteri: uso " + table);
  (void)rt.socket.Sock_Start(table);
  // Without the character table no reply of the host can be read: say so at once rather
  // than let twenty connection attempts fail one by one. The status names the file and
  // the fault ("<path>: <fault>").
  if (!rt.socket.table_status().ok()) {
    rt.link_failure =
        "ERRORE nella lettura della tabella caratteri " + rt.socket.table_status().message();
    program.Scrivi_Messaggio(rt.link_failure);
    rt.socket.Sock_Stop();
    return false;
  }

  Activity activity(program.state);
  const std::string host = Trim(p.Nome_Connessione);
  std::string ftp_failure;
  if (!Trim(p.Libreria).empty() && p.Porta_FTP != 0) {
    const std::string ftp = host + ":" + std::to_string(p.Porta_FTP);
    auto on_state = [&](hostlink::FtpState s) {
      activity.Set("Avvio del programma del sistema origine con FTP su " + ftp + " (" + FtpVerb(s) +
                   ")");
    };
    // A server that accepts the connection and never answers is waited for minutes, as the
    // host's FTP server may be slow; the operator is told meanwhile.
    auto on_silence = [&](hostlink::FtpState s, int seconds) {
      activity.Set("In attesa della risposta del server FTP " + ftp + " (" + FtpVerb(s) + ") da " +
                   std::to_string(seconds) + " s");
      if (seconds == kFtpSilenceFirst ||
          (seconds > kFtpSilenceFirst && (seconds - kFtpSilenceFirst) % kFtpSilenceAgain == 0)) {
        program.Scrivi_Messaggio("   Il server FTP " + ftp + " non risponde da " +
                                 std::to_string(seconds) + " secondi (" + FtpVerb(s) +
                                 "): si attende ancora");
      }
    };
    if (!hostlink::Ftp_RemoteCommand(rt.socket, kSlot, p.Nome_Connessione, p.Porta_FTP, p.Utente,
                                     p.Password, HostProgramCommand(p.Libreria, p.Porta),
                                     &ftp_failure, on_state, on_silence)) {
      program.Scrivi_Messaggio(ftp_failure);  // the host program may already be running
    }
  }

  for (int k = 1; k <= rt.link.attempts; ++k) {
    activity.Set("Collegamento al Server " + host + " (" + std::to_string(k) + "/" +
                 std::to_string(rt.link.attempts) + ")");
    std::string address;
    if (rt.socket.Sock_Connect(kSlot, p.Nome_Connessione, p.Porta, &address)) {
      if (hostlink::ReadGreeting(rt.socket, program.stats.Ritardo_Link)) {
        program.state.LinkUp = true;
        break;
      }
      rt.socket.Sock_Close(kSlot);
    }
    program.Scrivi_Messaggio("   Il server " + Trim(p.Nome_Connessione) + ":" +
                             std::to_string(p.Porta) + " non risponde (" + std::to_string(k) + "/" +
                             std::to_string(rt.link.attempts) + ")");
    // No pause after the last attempt: nothing follows it. A stop asked for meanwhile
    // (the operator, the program's end) ends the attempts at the next pause.
    if (k < rt.link.attempts &&
        !platform::PauseLettingEventsRun(*program.pump, rt.link.pause_steps, rt.link.pause_step,
                                         [&] { return program.state.StopRequested(); })) {
      break;
    }
    if (program.state.StopRequested()) break;
  }
  if (!program.state.LinkUp) {
    rt.link_failure = "Il server " + host + ":" + std::to_string(p.Porta) + " non risponde";
    if (!ftp_failure.empty()) rt.link_failure += "\nAvvio del programma con FTP: " + ftp_failure;
    rt.socket.Sock_Stop();
    return false;
  }
  // The FTP start failed and the link came up all the same: the host program was running.
  if (!ftp_failure.empty()) {
    program.Scrivi_Messaggio(
        "   Il programma del sistema origine era gi\xE0 attivo: collegato "
        "malgrado l'avvio con FTP non riuscito (" +
        ftp_failure + ")");
  }

  activity.Set("Caricamento del catalogo dal Server " + host);
  program.state.LastTimeExchange = program.clock->Monotonic();
  (void)hostlink::TimeExchange(program, rt.socket, "Server_AS_Start");

  program.state.LinkUp = Carica_File(program, rt.socket, rt.catalogue);
  if (program.state.LinkUp) rt.connessioni.Resize(rt.catalogue.N_DB);
  if (!program.state.LinkUp) {
    rt.link_failure =
        "Il catalogo non si \xE8 caricato dal Server " + host + " (TnC.Log dice perch\xE9)";
    rt.socket.Sock_Stop();
    return false;
  }
  Carica_Catalogo(program, rt.catalogue);
  program.ProcessEvents();
  program.pump->Sleep(rt.link.after_load);
  return true;
}

bool Server_AS_Stop(Runtime& rt) {
  Program& program = rt.program;
  if (program.state.LinkUp) {
    rt.socket.Sock_Close(kSlot);
    rt.socket.Sock_Stop();
  }
  program.state.LinkUp = false;
  program.state.Prossimo_Tentativo.reset();
  program.ProcessEvents();
  return true;
}

}  // namespace torvan
