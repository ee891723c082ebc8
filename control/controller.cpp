#include "control/controller.h"

#include <cstdio>

#include "catalogue/catalogue_files.h"
#include "core/text.h"
#include "hostlink/hosts_lookup.h"

namespace torvan {

namespace {

// "dd/mm/yy  hh:nn:ss" of a wall-clock time.
std::string DayAndTime(const platform::LocalDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%02d  %02d:%02d:%02d", t.day, t.month, t.year % 100,
                t.hour, t.minute, t.second);
  return buf;
}

// A yyyymmddhhnnss text shown as "dd/mm/yy  hh:nn:ss" (characters 7-8, 5-6, 3-4, ...).
std::string HostTimeWithSeconds(std::string_view t) {
  auto mid = [&](size_t pos, size_t len) { return std::string(Mid(t, pos, len)); };
  return mid(7, 2) + "/" + mid(5, 2) + "/" + mid(3, 2) + "  " + mid(9, 2) + ":" + mid(11, 2) + ":" +
         mid(13, 2);
}

// "yyyymmddhhnnss" of now moved by a fraction of a day.
std::string ShiftedNowText(Program& program, double days) {
  const platform::LocalTime now = platform::ToLocalTime(program.Now());
  return platform::FormatYmdHns(platform::ToFields(now + platform::Days(days)));
}

bool IsOn(const RunState& s) { return s.Stato_Sincronismo != StatoSincronismo::kSpento; }

}  // namespace

Controller::Controller(Program& program, LinkOps& links, ReplicationOps& steps,
                       platform::Timers& timers, FrontEnd& front)
    : ping([&program](int32_t ttl, int32_t timeout_ms, uint32_t address) {
        return hostlink::Ping_Host(program, ttl, timeout_ms, address);
      }),
      probe([&program](uint32_t address, int32_t port, int32_t timeout_ms) {
        return hostlink::Tcp_Risponde(program, address, port, timeout_ms);
      }),
      program_(program),
      links_(links),
      steps_(steps),
      timers_(timers),
      front_(front) {}

Controller::~Controller() { Timer_Ferma(); }

bool Controller::Answers(uint32_t address, std::initializer_list<int32_t> ports) {
  const hostlink::PingResult r = ping(options.ping_ttl, options.ping_timeout_ms, address);
  if (!r.failed) return true;
  if (r.status != hostlink::kIcmpNoPermission) return false;
  if (!said_no_ping_) {
    said_no_ping_ = true;
    program_.Scrivi_Messaggio(
        "Verifica con ping non possibile: manca il permesso (CAP_NET_RAW oppure "
        "net.ipv4.ping_group_range); la presenza dei server si verifica con una connessione TCP");
  }
  for (int32_t port : ports) {
    if (port > 0 && probe(address, port, options.ping_timeout_ms)) return true;
  }
  return false;
}

bool Controller::Server__Verifica(bool per_AS, bool per_SQL) {
  RunState& state = program_.state;
  bool source = true;
  bool destinations = true;
  if (per_AS) {
    const Parametri& p = program_.settings.parametri;
    const std::string host = p.Nome_Connessione;
    if (!Answers(program_.settings.Indirizzo_Host, {p.Porta_FTP, p.Porta})) {
      program_.Scrivi_Messaggio("Server sorgente " + host + " NON PRESENTE");
      source = false;
      Server__Stop(!IsOn(state));
    } else {
      program_.Scrivi_Messaggio("Server sorgente " + host + " presente");
    }
  }
  if (per_SQL) {
    std::vector<DataBase_Rec> databases;
    (void)ReadDataBaseRecs(program_.paths.database_catalogue, &databases);  // missing: none
    for (const DataBase_Rec& db : databases) {
      const std::string address = Trim(db.Indirizzo_DB);
      const std::string name = address + "/" + Trim(db.Server_DB);
      // An address the hosts file cannot turn into one is no server that answers.
      const uint32_t ip = Hosts_Lookup(address);
      if (ip == 0 || !Answers(ip, {kSqlServerPort})) {
        program_.Scrivi_Messaggio("Server destinatario " + name + " NON PRESENTE");
        destinations = false;
        Server__Stop(true);
        break;
      }
      program_.Scrivi_Messaggio("Server destinatario " + name + " presente");
    }
  }
  program_.ProcessEvents();
  return source && destinations;
}

void Controller::LogNextAttempt() {
  const int32_t minutes = program_.settings.Attesa_Riprova;
  program_.state.Prossimo_Tentativo = program_.clock->Monotonic() + std::chrono::minutes(minutes);
  const platform::LocalTime at =
      platform::ToLocalTime(program_.Now()) + std::chrono::minutes(minutes);
  program_.Scrivi_Messaggio("Prossimo tentativo  " + DayAndTime(platform::ToFields(at)));
}

void Controller::Server__Start(bool manuale) {
  RunState& state = program_.state;
  const std::string host = program_.settings.parametri.Nome_Connessione;

  const bool present = Server__Verifica(manuale || !state.Prossimo_Tentativo, false);
  if (!present) {
    if (!manuale && program_.settings.Attesa_Riprova > 0 && !state.Prossimo_Tentativo) {
      state.Tentativi = 0;
      LogNextAttempt();
    }
    return;
  }
  if (!manuale) {
    int count = 1;
    if (state.Prossimo_Tentativo) {
      if (*state.Prossimo_Tentativo > program_.clock->Monotonic()) return;  // not due yet
      count = Server__Verifica(true, false) ? state.Tentativi + 1 : 0;
    }
    state.Tentativi = count;
    if (count < 2) {
      LogNextAttempt();
      return;
    }
    state.Prossimo_Tentativo.reset();
  }

  program_.Scrivi_Messaggio("Collegamento al Server " + host + " in corso ...");
  if (!links_.Server_AS_Start()) {
    // A stop asked for during the connection attempts ended them: that is no failure of
    // the host, and the program goes on to carry out the stop.
    if (state.StopRequested()) {
      program_.Scrivi_Messaggio("Collegamento al Server " + host + " interrotto");
      return;
    }
    program_.Scrivi_Messaggio("ERRORE nel collegamento al server " + host);
    std::string reason = "ERRORE nel collegamento al server " + host;
    if (const std::string why = links_.FailureReason(); !why.empty()) reason += "\n" + why;
    Server__Stop(true);
    program_.ProcessEvents();
    program_.pump->Sleep(options.pause_before_end);
    state.Fine_Richiesta = true;
    front_.EndProgram(kExitHostLinkFailed, reason);
    return;
  }
  program_.Scrivi_Messaggio("Collegamento al Server " + host + " completato");
  if (!Server__Verifica(false, true)) return;

  program_.Scrivi_Messaggio("Collegamento ai DataBase SQL in corso ...");
  state.Attivita = "Collegamento ai DataBase SQL";
  const bool sql = links_.Server_SQL_Start_();
  state.Attivita.clear();
  if (!sql) {
    program_.Scrivi_Messaggio("ERRORE nel collegamento ai DataBase SQL");
  } else {
    program_.Scrivi_Messaggio("DataBase SQL collegati");
    front_.Bar_Imposta();
  }
  program_.ProcessEvents();
}

void Controller::Server__Stop(bool manuale) {
  RunState& state = program_.state;
  const std::string host = program_.settings.parametri.Nome_Connessione;
  Sincronismo_Ferma(manuale);
  state.Stop_Richiesto = false;
  if (state.LinkUp) {
    program_.Scrivi_Messaggio("Scollegamento del Server " + host + " in corso ...");
    program_.Scrivi_Messaggio(links_.Server_AS_Stop()
                                  ? "Scollegamento del Server " + host + " completato"
                                  : "ERRORE nello scollegamento del server " + host);
  }
  if (state.Collegato_SQL) {
    program_.Scrivi_Messaggio("Scollegamento dei DataBase SQL in corso ...");
    program_.Scrivi_Messaggio(links_.Server_SQL_Stop_()
                                  ? "DataBase SQL scollegati"
                                  : "ERRORE nello scollegamento ai DataBase SQL");
  }
  if (state.Stato_Sincronismo == StatoSincronismo::kSospeso && !state.Prossimo_Tentativo) {
    std::string line = "Ripartenza prevista il " + HostTimeWithSeconds(state.HostRestartTime);
    if (program_.settings.parametri.Attesa_Restart == 0) {
      line += " + " + std::to_string(program_.settings.parametri.Attesa_Dopo_Start);
    }
    program_.Scrivi_Messaggio(line);
  }
  program_.stats.Stat_Testi[kHostStopText].clear();
  program_.stats.Stat_Testi[kHostRestartText].clear();
  program_.ProcessEvents();
}

bool Controller::BeforeStopMargin() const {
  return ShiftedNowText(program_, program_.settings.Margine_Stop) < program_.state.HostStopTime;
}

bool Controller::PastRestartMargin() const {
  return ShiftedNowText(program_, -double(program_.settings.Margine_Start)) >=
         program_.state.HostRestartTime;
}

void Controller::Sincronismo() {
  RunState& state = program_.state;
  if (!IsOn(state)) return;
  if (++state.Ciclo_In_Corso != 1) {
    --state.Ciclo_In_Corso;
    return;
  }
  program_.ProcessEvents();

  // A command of the operator's that must not nest is running (the window lets events run
  // inside it): this tick does nothing but keep the timer going.
  while (!state.Comando_In_Corso) {
    const bool links_up = state.Collegato_SQL && state.LinkUp;
    if ((BeforeStopMargin() || PastRestartMargin()) && !links_up) {
      esito_ = {false, false};
      Server__Start(false);
      if (state.LinkUp && state.Collegato_SQL) Sincronismo_Avvia();
    } else if (!BeforeStopMargin() && !PastRestartMargin() &&
               (state.Collegato_SQL || state.LinkUp)) {
      esito_ = {false, false};
      Server__Stop(false);
    } else if (state.Stato_Sincronismo == StatoSincronismo::kAttivo) {
      // A stop asked for during a step ends the pass after that step: the next step would
      // start an exchange only to have its waits cut short.
      esito_[0] = !state.StopRequested() && steps_.Server_SQL_Sincro();
      esito_[1] = !state.StopRequested() && steps_.Server_SQL_Ritorno();
    }
    if (state.Stop_Richiesto) {
      Sincronismo_Ferma(true);
      break;
    }
    if (!(esito_[0] || esito_[1]) || state.Fine_Richiesta) break;
  }

  if (IsOn(state)) Timer_Avvia(program_.settings.parametri.Ciclo_Sincronizz);
  state.Ciclo_In_Corso = 0;
  program_.ProcessEvents();
}

void Controller::Sincronismo_Avvia() {
  program_.state.Stato_Sincronismo = StatoSincronismo::kAttivo;
  program_.Scrivi_Messaggio("SINCRONISMO avviato ...");
  front_.Bar_Imposta();
}

void Controller::Sincronismo_Ferma(bool manuale) {
  RunState& state = program_.state;
  if (IsOn(state) && !state.Prossimo_Tentativo) {
    program_.Scrivi_Messaggio("SINCRONISMO fermato ...");
  }
  state.Stop_Richiesto = false;
  if (manuale) {
    state.Stato_Sincronismo = StatoSincronismo::kSpento;
    Timer_Ferma();
  } else {
    state.Stato_Sincronismo = StatoSincronismo::kSospeso;
  }
  front_.Bar_Imposta();
}

void Controller::Timer_Avvia(int32_t interval_ms) {
  program_.state.Timer_Ciclo = timers_.Start(std::chrono::milliseconds(interval_ms), [this] {
    Timer_Ferma();
    Sincronismo();
  });
}

void Controller::Timer_Ferma() {
  timers_.Kill(program_.state.Timer_Ciclo);
  program_.state.Timer_Ciclo = 0;
}

void Controller::TimerButton() {
  RunState& state = program_.state;
  if (state.Collegato_SQL && state.LinkUp && !IsOn(state)) {
    Sincronismo_Avvia();
    Timer_Avvia(program_.settings.parametri.Ciclo_Sincronizz);
  } else {
    state.Stop_Richiesto = true;
    if (IsOn(state)) {
      if (++state.Ciclo_In_Corso == 1) {
        Sincronismo_Ferma(true);
        state.Ciclo_In_Corso = 0;
      } else {
        --state.Ciclo_In_Corso;
      }
    }
  }
  program_.ProcessEvents();
}

}  // namespace torvan
