// torvan run [--once]: replication unattended, as the operator runs it with the Server and
// then the Timer button, on Qt's event loop like the window.
// torvan pending [--set-aside]: the host change held back by replication, and setting it
// aside so that its queue can go on.
// torvan conflicts: the rows both sides changed, as TnC_CONFLITTI.Log keeps them.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>

#include "catalogue/catalogue.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "cli/logging_confirmations.h"
#include "control/controller.h"
#include "control/status_service.h"
#include "core/text.h"
#include "links/link_ops.h"
#include "platform/qt_loop.h"
#include "replication/conflicts.h"
#include "replication/held_change.h"
#include "replication/journal.h"
#include "replication/pending_file.h"
#include "replication/replication.h"
#include "schema/statements.h"
#include "sql/fault_connection.h"
#include "sql/fault_vfs.h"

namespace torvan {

namespace {

constexpr int kExitWorkLeft = 3;

class RunFrontEnd final : public FrontEnd {
 public:
  void Bar_Imposta() override {}
  void EndProgram(int exit_status, const std::string&) override {
    ended = true;
    status = exit_status;
    QCoreApplication::exit(exit_status);
  }
  bool ended = false;
  int status = kExitOk;
};

// Events still waiting in a master table of a database sent back; unknown counts as some.
bool EventsWaiting(Runtime& rt) {
  for (int32_t d = 1; d <= rt.catalogue.N_DB; ++d) {
    if (size_t(d) >= rt.catalogue.DB_Ritorno.size() || !rt.catalogue.DB_Ritorno[size_t(d)]) {
      continue;
    }
    sql::Connection* c = rt.connessioni.at(d);
    std::unique_ptr<sql::Recordset> rs;
    if (c == nullptr || !c->OpenFirstRows(SelectMaster(), 1, &rs).ok() || !rs->Eof()) return true;
  }
  return false;
}

std::string NowText() { return platform::DateTimeText(platform::SystemClock()->Now()); }

// For tests only (the fault soak): TORVAN_TEST_SQL_FAULTS names faults of the SQL side
// (sql/fault_connection.h, sql/fault_vfs.h) that every connection of this run meets.
bool InjectSqlFaults(Runtime& rt, CliContext& context) {
  const char* text = std::getenv("TORVAN_TEST_SQL_FAULTS");
  if (text == nullptr) return true;
  static auto* plan = new std::shared_ptr<sql::FaultPlan>(std::make_shared<sql::FaultPlan>());
  static auto* vfs = new sql::VfsFaults();
  Status s = sql::ParseFaultPlan(text, plan->get());
  Status v;
  if (s.ok() && sql::ParseVfsFaults(text, vfs, &v) && v.ok()) {
    // The default VFS: under SQLite's ODBC driver too.
    v = sql::RegisterFaultVfs("torvan-guasti", vfs, /*make_default=*/true);
  }
  if (!s.ok() || !v.ok()) {
    *context.err << "torvan: TORVAN_TEST_SQL_FAULTS: " << (s.ok() ? v : s).message() << "\n";
    context.exit_code = kExitUsage;
    return false;
  }
  std::shared_ptr<sql::FaultPlan> shared = *plan;
  rt.link.new_connection = [shared](const sql::ConnectionParams& p) {
    return sql::NewFaultyConnection(sql::NewConnection(p), shared);
  };
  return true;
}

void Run(CliContext& context, bool once) {
  if (!CheckFolder(context)) return;
  static int argc = 1;
  static char name[] = "torvan";
  static char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  platform::QtPump pump;
  platform::QtTimers timers;
  ConsoleSession session(context.folder, *context.out, &pump);
  Program& program = session.program();
  if (!HostNamed(context, program)) return;
  if (PendingFileInUse(program.paths.pending)) {
    return Refuse(context, AnotherTorvan(program.paths.base, program.paths.pending), kExitFailed);
  }
  Runtime rt(program);
  if (!InjectSqlFaults(rt, context)) return;
  LoggingConfirmations confirmations(program);
  RuntimeLinks links(rt);
  ReplicationSteps steps(rt, confirmations);
  // The lock is held from here on: no other Torvan can start in the folder, nor set a
  // change aside, while this one runs.
  if (!steps.Ready()) {
    return Refuse(context, program.paths.pending + " non si pu\xF2 aprire (il log dice perch\xE9)",
                  kExitFailed);
  }
  RunFrontEnd front;
  Controller control(program, links, steps, timers, front);
  // TnC_STATO.DAT for `torvan status`, and the metrics when the settings ask for them; the
  // last write, marked ended, comes when this goes, after the links are closed.
  StatusService status(rt, "torvan run");
  if (!status.Start(timers).ok()) {
    return Refuse(context, AnotherTorvan(program.paths.base, program.paths.base), kExitFailed);
  }

  context.ends_on_signal = true;
  if (StopSignals::fd() < 0) {
    return Refuse(context, "SIGINT e SIGTERM non si possono intercettare", kExitFailed);
  }
  QSocketNotifier notifier(StopSignals::fd(), QSocketNotifier::Read);
  bool stopping = false;
  bool finished = false;
  std::function<void()> finish = [&] {
    // A pass that is running finishes first; then the links close.
    if (program.state.Ciclo_In_Corso != 0) {
      QTimer::singleShot(20, finish);
      return;
    }
    program.state.Fine_Richiesta = true;
    control.Server__Stop(true);
    finished = true;
    QCoreApplication::exit(kExitOk);  // no effect before the loop runs: see below
  };
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    StopSignals::Drain();
    // The first signal stops as the operator's Timer button does: a pass that is running
    // lets its exchange under way finish (a silent host is given up after a second) and
    // ends after its step; nothing is cut halfway. Outside a pass (the links opening), and
    // at a second signal, every wait ends at once.
    if (stopping || program.state.Ciclo_In_Corso == 0) program.state.Fine_Richiesta = true;
    if (stopping) return;
    stopping = true;
    if (program.state.ReplicationOn()) control.TimerButton();
    QTimer::singleShot(0, finish);
  });

  control.Server__Start(true);
  if (front.ended) {
    context.exit_code = front.status;
    return;
  }
  if (stopping) {
    // A signal during the start: the stop may have run already, inside the start's waits,
    // where leaving the event loop means nothing; otherwise the loop carries it out.
    if (!finished) app.exec();
    context.exit_code = kExitOk;
    return;
  }
  if (!program.state.LinkUp || !program.state.Collegato_SQL) {
    control.Server__Stop(true);
    context.exit_code = kExitFailed;
    return;
  }
  control.Sincronismo_Avvia();
  if (once) {
    control.Sincronismo();  // passes until both steps report nothing
    PendingState pending;
    JournalContents journal;
    const bool held =
        !ReadPendingState(program.paths.pending, &pending).ok() || pending.held.has_value() ||
        !ReadJournal(program.paths.journal, &journal).ok() || !journal.waiting.empty();
    const bool left = held || !program.state.LinkUp || EventsWaiting(rt);
    control.Server__Stop(true);
    context.exit_code = left ? kExitWorkLeft : kExitOk;
    return;
  }
  control.Timer_Avvia(program.settings.parametri.Ciclo_Sincronizz);
  context.exit_code = app.exec();
}

void PendingCommand(CliContext& context, bool set_aside) {
  if (!CheckFolder(context)) return;
  ConsoleSession session(context.folder, *context.out);
  Program& program = session.program();
  Catalogue catalogue;
  program.log.on_status_line = nullptr;  // the catalogue's own lines are not asked for here
  Carica_Catalogo(program, catalogue);
  hostlink::CharTables tables;
  bool installed = false;
  Status t = hostlink::LoadCharTables(CharTableToRead(program.paths, &installed), &tables);
  if (!t.ok()) {
    *context.err << "torvan: " << Cp1252ToUtf8(t.message())
                 << " (valori mostrati non decodificati)\n";
  }

  if (set_aside) {
    bool was_held = false;
    HeldChangeView view;
    Status s =
        SetAsideHeld(program.paths.pending, program.paths.journal, program.paths.set_aside_log,
                     catalogue, tables, NowText(), program.settings.Durevole, &was_held, &view);
    if (!s.ok()) {
      *context.err << "torvan: " << Cp1252ToUtf8(s.message()) << "\n";
      context.exit_code = kExitFailed;
      return;
    }
    if (!was_held) {
      session.Print("Nessuna modifica trattenuta");
      return;
    }
    for (const std::string& line : HeldChangeLines(view)) session.Print(line);
    session.Print("Accantonata in " + program.paths.set_aside_log);
    return;
  }

  PendingState state;
  Status s = ReadPendingState(program.paths.pending, &state);
  if (!s.ok()) {
    *context.err << "torvan: " << s.message() << "\n";
    context.exit_code = kExitFailed;
    return;
  }
  if (!state.held) {
    session.Print("Nessuna modifica trattenuta");
  } else {
    for (const std::string& line : HeldChangeLines(DescribeHeld(catalogue, tables, *state.held))) {
      session.Print(line);
    }
    context.exit_code = kExitWorkLeft;
  }
  for (const InFlightEvent& e : state.in_flight) {
    session.Print("Evento in volo: database " + std::to_string(e.database) + " " + e.file +
                  "___ PROGR=" + std::to_string(e.progr) +
                  " (master RRN=" + std::to_string(e.master_rrn) + ")");
  }
}

// torvan conflicts: the records of TnC_CONFLITTI.Log, oldest first, and how many.
void ConflictsCommand(CliContext& context) {
  if (!CheckFolder(context)) return;
  ConsoleSession session(context.folder, *context.out);
  Program& program = session.program();
  const std::vector<std::string> records = Conflicts::Records(program.paths.conflicts_log);
  for (const std::string& record : records) {
    size_t start = 0;
    while (start < record.size()) {
      size_t end = record.find("\r\n", start);
      if (end == std::string::npos) end = record.size();
      session.Print(record.substr(start, end - start));
      start = end + 2;
    }
  }
  session.Print("Conflitti: " + std::to_string(records.size()) +
                (records.empty() ? std::string() : " (" + program.paths.conflicts_log + ")"));
}

}  // namespace

void AddRunCommands(CLI::App& app, CliContext& context) {
  auto once = std::make_shared<bool>(false);
  CLI::App* run = app.add_subcommand(
      "run",
      "Replica senza operatore: apre i collegamenti, avvia il sincronismo e ne serve il ciclo "
      "fino a SIGINT o SIGTERM (uscita 0); uscita 1 se i collegamenti non si aprono");
  run->add_flag(
      "--once", *once,
      Help("Ripete i cicli finch\xE9 entrambe le direzioni sono vuote, poi si ferma: uscita 0 "
           "tutto replicato, 3 lavoro rimasto (una modifica trattenuta, un evento non "
           "inviato), 1 collegamenti non aperti"));
  run->callback([&context, once] { Run(context, *once); });

  auto set_aside = std::make_shared<bool>(false);
  CLI::App* pending = app.add_subcommand(
      "pending",
      Help("Mostra la modifica dell'host trattenuta dalla replica (uscita 3 se ce n'\xE8 una)"));
  pending->add_flag("--set-aside", *set_aside,
                    Help("Sposta la modifica trattenuta, con i valori e i byte ricevuti, in "
                         "TnC_ACCANTONATI.Log perch\xE9 la sua coda riparta (Torvan fermo)"));
  pending->callback([&context, set_aside] { PendingCommand(context, *set_aside); });
  app.add_subcommand("conflicts",
                     "I conflitti (le due parti hanno cambiato lo stesso record) scritti in "
                     "TnC_CONFLITTI.Log, con le due versioni e la regola applicata")
      ->callback([&context] { ConflictsCommand(context); });
}

}  // namespace torvan
