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

// "N", "N-M" or "all" within 1..count; false with a message otherwise.
bool ParseRange(const std::string& text, int count, int* first, int* last, std::string* error) {
  if (text == "all") {
    *first = 1;
    *last = count;
    return true;
  }
  size_t dash = text.find('-');
  std::string a = text.substr(0, dash);
  std::string b = dash == std::string::npos ? a : text.substr(dash + 1);
  auto number = [](const std::string& s, int* v) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos) {
      return false;
    }
    *v = std::stoi(s);
    return true;
  };
  if (!number(a, first) || !number(b, last) || *first < 1 || *last < *first) {
    *error = "\"" + text + "\" is not N, N-M or all";
    return false;
  }
  if (*last > count) {
    *error = "the catalogue has " + std::to_string(count) + " file(s); " + text + " is beyond it";
    return false;
  }
  return true;
}

// A console with the local catalogue in memory and the SQL connections open; runs `work`
// and closes the connections. Exit status 1 when the connections could not be opened, when
// any step wrote an "ERRORE" line, or when a table was refused.
template <class Work>
void WithSchema(CliContext& context, const SchemaArgs& args, bool changes, Work work) {
  std::unique_ptr<platform::FolderLock> lock;  // a command that changes tables, while it works
  if (changes ? !LockFolder(context, &lock) : !CheckFolder(context)) return;
  int error_lines = 0;  // outlives the session, whose log counts into it
  ConsoleSession session(context.folder, *context.out);
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
  if (context.exit_code == kExitOk && (error_lines > 0 || confirmations.refused() > 0)) {
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
  cmd->add_flag("--yes", args.yes, "Answer OK to every question");
  cmd->add_flag("--discard-unsent", args.discard_unsent,
                "With --yes: also drop tables whose changes have not been sent to the host yet "
                "(--yes alone refuses them)");
}

void AddRangeCommand(CLI::App& app, CliContext& context, const char* name, const char* description,
                     bool drop) {
  auto args = std::make_shared<SchemaArgs>();
  CLI::App* cmd = app.add_subcommand(name, description);
  cmd->add_option("files", args->range, "N, N-M or all (file numbers of TnC_FILE.DAT)")->required();
  AddYesFlags(cmd, *args);
  cmd->callback([&context, args, drop] {
    WithSchema(context, *args, true, [&](Schema& s) {
      int first = 0, last = 0;
      std::string error;
      if (!ParseRange(args->range, s.catalogue.N_File, &first, &last, &error)) {
        *context.err << "torvan: " << error << "\n";
        context.exit_code = kExitUsage;
        return;
      }
      std::vector<std::pair<std::string, int64_t>> pending;
      for (int n = first; n <= last; ++n) {
        const RowCount unsent = Modifiche_Non_Inviate(s, n);
        const FileEntry& f = s.catalogue.Tab_File[size_t(n)];
        if (unsent.has_rows()) pending.emplace_back(f.DataBase + "/" + f.File, unsent.rows());
      }
      if (!MayLoseUnsent(context, *args, pending)) return;
      for (int n = first; n <= last; ++n) {
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
      "files",
      "Print the catalogue browser's file list with the row count of every mirror "
      "table (tab-separated, header first)");
  files->callback([&context] {
    WithSchema(context, SchemaArgs{}, false, [&](Schema& s) {
      bool has_pc_as = false;
      Grid g = Elenco_File(
          s.program.paths,
          [&](int32_t db, std::string_view table) { return Conta_Record(s, db, table); },
          &has_pc_as);
      *context.out << Cp1252ToUtf8(g.ToTabText()) << std::flush;
    });
  });
  AddRangeCommand(app, context, "build",
                  "Build the SQL objects of the files (mirror table, and for files sent back "
                  "the event table, triggers and master table), asking before rows are lost",
                  false);
  AddRangeCommand(app, context, "drop", "Drop the tables of the files, asking before rows are lost",
                  true);
  auto args = std::make_shared<SchemaArgs>();
  CLI::App* events = app.add_subcommand(
      "events", "Recreate the master tables and master triggers of all files sent back");
  AddYesFlags(events, *args);
  events->callback([&context, args] {
    WithSchema(context, *args, true, [&](Schema& s) {
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
