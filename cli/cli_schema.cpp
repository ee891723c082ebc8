// torvan files | build N|N-M|all | drop N|N-M|all | events: the catalogue browser's
// commands on the local catalogue, with the SQL connections open.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "browser/grid.h"
#include "cli/cli.h"
#include "cli/console.h"
#include "cli/stop_signals.h"
#include "cli/terminal_confirmations.h"
#include "core/text.h"
#include "links/runtime.h"
#include "links/sql_control.h"
#include "schema/operations.h"

namespace torvan {

namespace {

struct SchemaArgs {
  std::string range;
  bool yes = false;
  bool discard_unsent = false;
};

// "N", "N-M" or "all" within 1..count; false with the refusal and its exit status
// otherwise (an empty catalogue has no file to name).
bool ParseRange(const std::string& text, int count, int* first, int* last, std::string* error,
                int* exit_code) {
  *exit_code = kExitUsage;
  if (text == "all") {
    *first = 1;
    *last = count;
  } else {
    const size_t dash = text.find('-');
    const std::string a = text.substr(0, dash);
    const std::string b = dash == std::string::npos ? a : text.substr(dash + 1);
    if (!ParseFileNumber(a, first) || !ParseFileNumber(b, last) || *last < *first) {
      *error = "\"" + Utf8ToCp1252(text) + "\" non \xE8 N, N-M n\xE9 all";
      return false;
    }
  }
  if (count == 0) *exit_code = kExitFailed;
  if (count == 0 || *last > count) {
    *error = NoSuchFile(*last, count);
    return false;
  }
  return true;
}

// Whether SIGINT or SIGTERM asked the command to end: it stops before the next file.
bool Stopped(const Program& program) {
  return program.state.Fine_Richiesta || StopSignals::Received() != 0;
}

// A console with the local catalogue in memory and the SQL connections open; runs `work`
// and closes the connections. Exit status 1 when the connections could not be opened, when
// any step wrote an "ERRORE" line, when a table was refused, or when a question found no
// terminal to answer it (and was answered Annulla). The messages go to `messages`.
template <class Work>
void WithSchema(CliContext& context, const SchemaArgs& args, bool changes, std::ostream& messages,
                Work work) {
  std::unique_ptr<platform::FolderLock> lock;  // a command that changes tables, while it works
  if (changes ? !LockFolder(context, &lock) : !CheckFolder(context)) return;
  int error_lines = 0;  // outlives the session, whose log counts into it
  ConsoleSession session(context.folder, messages);
  Runtime rt(session.program());
  auto print = rt.program.log.on_status_line;
  rt.program.log.on_status_line = [&error_lines, print](std::string_view line) {
    if (line.find("ERRORE") != std::string_view::npos) ++error_lines;
    if (print) print(line);
  };
  Carica_Catalogo(rt.program, rt.catalogue);
  // A name clash reported by the catalogue load is refused where it matters, by the
  // build or drop of that file.
  error_lines = 0;
  TerminalConfirmations confirmations(std::cin, *context.out, isatty(STDIN_FILENO) == 1, args.yes,
                                      args.discard_unsent);
  if (!Server_SQL_Start_(rt)) {
    rt.program.Scrivi_Messaggio("ERRORE nel collegamento ai DataBase SQL");
    Server_SQL_Stop_(rt);
    context.exit_code = kExitFailed;
    return;
  }
  Schema schema{rt.program, rt.catalogue, rt.connessioni, confirmations};
  work(schema);
  Server_SQL_Stop_(rt);
  if (context.exit_code == kExitOk &&
      (error_lines > 0 || confirmations.refused() > 0 || confirmations.unanswered() > 0)) {
    context.exit_code = kExitFailed;
  }
}

// With --yes and without --discard-unsent, refuses the whole command when it would lose
// changes not yet sent to the host: `pending` lists them, one "<db>/<table>" and count
// each. True when the command may go on.
bool MayLoseUnsent(CliContext& context, const SchemaArgs& args,
                   const std::vector<std::pair<std::string, int64_t>>& pending) {
  if (!args.yes || args.discard_unsent || pending.empty()) return true;
  for (const auto& [table, count] : pending) {
    *context.err << "torvan: " << Cp1252ToUtf8(table) << ": " << Cp1252ToUtf8(UnsentText(count))
                 << "\n";
  }
  *context.err << Cp1252ToUtf8(
                      "torvan: --yes da solo non cancella modifiche non ancora inviate al "
                      "sistema origine; nulla \xE8 stato cancellato (aggiungere "
                      "--discard-unsent per perderle)")
               << "\n";
  context.exit_code = kExitFailed;
  return false;
}

void AddYesFlags(CLI::App* cmd, SchemaArgs& args) {
  cmd->add_flag("--yes", args.yes, Help("Risponde OK a ogni domanda"));
  cmd->add_flag("--discard-unsent", args.discard_unsent,
                Help("Con --yes: cancella anche le tabelle con modifiche non ancora inviate "
                     "all'host (--yes da solo le rifiuta)"));
}

void AddRangeCommand(CLI::App& app, CliContext& context, const char* name, const char* description,
                     bool drop) {
  auto args = std::make_shared<SchemaArgs>();
  CLI::App* cmd = app.add_subcommand(name, Help(description));
  cmd->add_option("file", args->range, Help("N, N-M oppure all (numeri dei file di TnC_FILE.DAT)"))
      ->required();
  AddYesFlags(cmd, *args);
  cmd->callback([&context, args, drop] {
    WithSchema(context, *args, true, *context.out, [&](Schema& s) {
      int first = 0, last = 0, refused = kExitOk;
      std::string error;
      if (!ParseRange(args->range, s.catalogue.N_File, &first, &last, &error, &refused)) {
        return Refuse(context, error, refused);
      }
      std::vector<std::pair<std::string, int64_t>> pending;
      for (int n = first; n <= last; ++n) {
        const RowCount unsent = Modifiche_Non_Inviate(s, n);
        const FileEntry& f = s.catalogue.Tab_File[size_t(n)];
        if (unsent.has_rows()) pending.emplace_back(f.DataBase + "/" + f.File, unsent.rows());
      }
      if (!MayLoseUnsent(context, *args, pending)) return;
      for (int n = first; n <= last && !Stopped(s.program); ++n) {
        if (drop) {
          Cancella_File(s, Owner::kBrowser, n, false);
        } else {
          Costruisci_File(s, Owner::kBrowser, n);
        }
      }
    });
  });
}

}  // namespace

void AddSchemaCommands(CLI::App& app, CliContext& context) {
  CLI::App* files = app.add_subcommand(
      "files", Help("Stampa l'elenco dei file del catalogo con il numero di righe di ogni tabella "
                    "(separati da tabulazioni, intestazione prima; i messaggi su standard error)"));
  files->callback([&context] {
    WithSchema(context, SchemaArgs{}, false, *context.err, [&](Schema& s) {
      bool has_pc_as = false;
      Grid g = Elenco_File(
          s.program.paths,
          [&](int32_t db, std::string_view table) { return Conta_Record(s, db, table); },
          &has_pc_as);
      *context.out << Cp1252ToUtf8(g.ToTabText()) << std::flush;
    });
  });
  AddRangeCommand(app, context, "build",
                  "Costruisce gli oggetti SQL dei file (tabella, e per i file rimandati all'host "
                  "tabella degli eventi, triggers e tabella master), chiedendo prima di perdere "
                  "righe",
                  false);
  AddRangeCommand(app, context, "drop",
                  "Cancella le tabelle dei file, chiedendo prima di perdere righe", true);
  auto args = std::make_shared<SchemaArgs>();
  CLI::App* events = app.add_subcommand(
      "events",
      Help("Ricrea le tabelle master e i loro triggers di tutti i file rimandati all'host"));
  AddYesFlags(events, *args);
  events->callback([&context, args] {
    WithSchema(context, *args, true, *context.out, [&](Schema& s) {
      if (s.catalogue.N_File == 0) return Refuse(context, NoSuchFile(0, 0), kExitFailed);
      // Every master row stands for an event not yet sent to the host.
      std::vector<std::pair<std::string, int64_t>> pending;
      std::set<int32_t> seen;
      for (int n = 1; n <= s.catalogue.N_File; ++n) {
        const FileEntry& f = s.catalogue.Tab_File[size_t(n)];
        if (!f.Pc_As || !seen.insert(f.Indice_DB).second) continue;
        const RowCount master = Conta_Record(s, f.Indice_DB, kMasterTable);
        if (master.has_rows()) pending.emplace_back(f.DataBase + "/" + kMasterTable, master.rows());
      }
      if (!MayLoseUnsent(context, *args, pending)) return;
      Crea_File_Eventi(s, Owner::kBrowser);
    });
  });
}

}  // namespace torvan
