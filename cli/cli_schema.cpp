// torvan files | build N|N-M|all | drop N|N-M|all | events: the catalogue browser's
// commands on the local catalogue, with the SQL connections open.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <ostream>

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
// and closes the connections. Exit status 1 when the connections could not be opened.
template <class Work>
void WithSchema(CliContext& context, bool yes, Work work) {
  if (!CheckFolder(context)) return;
  ConsoleSession session(context.folder, *context.out);
  Runtime rt(session.program());
  Carica_Catalogo(rt.program, rt.catalogue);
  TerminalConfirmations confirmations(std::cin, *context.out, isatty(STDIN_FILENO) == 1, yes);
  if (!Server_SQL_Start_(rt)) {
    rt.program.Scrivi_Messaggio("ERRORE nel collegamento ai DataBase SQL");
    Server_SQL_Stop_(rt);
    context.exit_code = kExitFailed;
    return;
  }
  Schema schema{rt.program, rt.catalogue, rt.connessioni, confirmations};
  work(schema);
  Server_SQL_Stop_(rt);
}

void AddRangeCommand(CLI::App& app, CliContext& context, const char* name, const char* description,
                     bool drop) {
  auto args = std::make_shared<SchemaArgs>();
  CLI::App* cmd = app.add_subcommand(name, description);
  cmd->add_option("files", args->range, "N, N-M or all (file numbers of TnC_FILE.DAT)")->required();
  cmd->add_flag("--yes", args->yes, "Answer OK to every question");
  cmd->callback([&context, args, drop] {
    WithSchema(context, args->yes, [&](Schema& s) {
      int first = 0, last = 0;
      std::string error;
      if (!ParseRange(args->range, s.catalogue.N_File, &first, &last, &error)) {
        *context.err << "torvan: " << error << "\n";
        context.exit_code = kExitUsage;
        return;
      }
      for (int n = first; n <= last; ++n) {
        if (drop) {
          Cancella_File(s, Owner::kBrowser, n, false);
        } else if (Conferma_Cancella_File(s, Owner::kBrowser, n, false)) {
          Crea_File(s, n);
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
    WithSchema(context, false, [&](Schema& s) {
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
  auto yes = std::make_shared<bool>(false);
  CLI::App* events = app.add_subcommand(
      "events", "Recreate the master tables and master triggers of all files sent back");
  events->add_flag("--yes", *yes, "Answer OK to every question");
  events->callback([&context, yes] {
    WithSchema(context, *yes, [&](Schema& s) { Crea_File_Eventi(s, Owner::kBrowser); });
  });
}

}  // namespace torvan
