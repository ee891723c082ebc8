#include "links/link_control.h"

#include "catalogue/catalogue_load.h"
#include "core/text.h"
#include "hostlink/exchange.h"
#include "hostlink/ftp.h"
#include "hostlink/time_exchange.h"

namespace torvan {

namespace {

constexpr int kSlot = hostlink::SocketLayer::kLinkSlot;

}  // namespace

std::string HostProgramCommand(std::string_view libreria, int32_t porta) {
  return "CALL " + Trim(libreria) + "/TNM_121 ('P" + ZeroPad(porta, 5) + "')";
}

bool Server_AS_Start(Runtime& rt) {
  Program& program = rt.program;
  const Parametri& p = program.settings.parametri;
  program.state.LinkUp = false;
  bool installed = false;
  const std::string table = CharTableToRead(program.paths, &installed);
  if (installed) program.Scrivi_Messaggio("Tabella caratteri: uso " + table);
  (void)rt.socket.Sock_Start(table);
  // Without the character table no reply of the host can be read: say so at once rather
  // than let twenty connection attempts fail one by one. The status names the file and
  // the fault ("<path>: <fault>").
  if (!rt.socket.table_status().ok()) {
    program.Scrivi_Messaggio("ERRORE nella lettura della tabella caratteri " +
                             rt.socket.table_status().message());
    rt.socket.Sock_Stop();
    return false;
  }

  if (!Trim(p.Libreria).empty() && p.Porta_FTP != 0) {
    std::string message;
    if (!hostlink::Ftp_RemoteCommand(rt.socket, kSlot, p.Nome_Connessione, p.Porta_FTP, p.Utente,
                                     p.Password, HostProgramCommand(p.Libreria, p.Porta),
                                     &message)) {
      program.Scrivi_Messaggio(message);  // the host program may already be running
    }
  }

  for (int k = 1; k <= rt.link.attempts; ++k) {
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
    rt.socket.Sock_Stop();
    return false;
  }

  program.state.LastTimeExchange = program.clock->Monotonic();
  (void)hostlink::TimeExchange(program, rt.socket, "Server_AS_Start");

  program.state.LinkUp = Carica_File(program, rt.socket, rt.catalogue);
  if (program.state.LinkUp) rt.connessioni.Resize(rt.catalogue.N_DB);
  if (!program.state.LinkUp) {
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
