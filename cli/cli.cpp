#include "cli/cli.h"

#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <functional>
#include <ostream>

#include "cli/stop_signals.h"
#include "control/status_file.h"
#include "core/paths.h"
#include "core/program.h"
#include "core/text.h"
#include "core/version.h"
#include "platform/process.h"

namespace torvan {

namespace {

// The command line's own words in Italian; option names stay as they are.
void ItalianHelp(CLI::App& app) {
  auto f = app.get_formatter();
  for (auto [key, text] :
       {std::pair{"Usage", "Uso"}, std::pair{"OPTIONS", "OPZIONI"},
        std::pair{"SUBCOMMAND", "COMANDO"}, std::pair{"SUBCOMMANDS", "COMANDI"},
        std::pair{"REQUIRED", "obbligatorio"}, std::pair{"Positionals", "Argomenti"},
        std::pair{"TEXT", "TESTO"}, std::pair{"INT", "NUMERO"}}) {
    f->label(key, text);
  }
  f->column_width(34);
}

// The name of the nearest command, when `typed` is within two edits of one.
std::string Nearest(const std::string& typed, const std::vector<std::string>& names) {
  std::string best;
  size_t best_distance = 3;
  for (const std::string& name : names) {
    std::vector<size_t> row(name.size() + 1);
    for (size_t j = 0; j <= name.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= typed.size(); ++i) {
      size_t diagonal = row[0];
      row[0] = i;
      for (size_t j = 1; j <= name.size(); ++j) {
        const size_t above = row[j];
        row[j] = std::min(
            {row[j] + 1, row[j - 1] + 1, diagonal + (typed[i - 1] == name[j - 1] ? 0 : 1)});
        diagonal = above;
      }
    }
    const bool prefix = typed.size() >= 2 && name.rfind(typed, 0) == 0;
    const size_t d = prefix ? 1 : row[name.size()];
    if (d < best_distance) {
      best = name;
      best_distance = d;
    }
  }
  return best;
}

// The first argument that is not an option nor the value of --dir: the command. An option
// before it that torvan does not know goes to `*unknown`.
std::string CommandOf(int argc, char** argv, std::string* unknown) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--dir") {
      ++i;
      continue;
    }
    if (!a.empty() && a[0] == '-') {
      const bool known =
          a == "-h" || a == "--help" || a == "--version" || a.rfind("--dir=", 0) == 0;
      if (!known && unknown->empty()) *unknown = std::string(a);
      continue;
    }
    return std::string(a);
  }
  return "";
}

// What CLI11 says of a refused command line, in Italian.
std::string Italian(const CLI::ParseError& e) {
  const std::string what = e.what();
  const size_t colon = what.find(": ");
  if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr) {
    return (what.find("arguments were") != std::string::npos ? "argomenti non attesi: "
                                                             : "argomento non atteso: ") +
           (colon == std::string::npos ? what : what.substr(colon + 2));
  }
  if (dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
    if (what.rfind("A subcommand", 0) == 0) return "manca il comando";
    const size_t is = what.find(" is required");
    return "manca " + (is == std::string::npos ? what : what.substr(0, is));
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e) != nullptr) {
    return (colon == std::string::npos ? what : what.substr(0, colon)) + ": manca il valore";
  }
  return "riga di comando non valida (" + what + ")";
}

}  // namespace

bool CheckFolder(CliContext& context) {
  if (context.folder.empty()) return true;
  struct stat st {};
  if (stat(context.folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  *context.err << "torvan: la cartella \"" << context.folder << "\" non esiste\n";
  context.exit_code = kExitUsage;
  return false;
}

std::string Help(std::string_view cp1252) { return Cp1252ToUtf8(cp1252); }

std::string AnotherTorvan(const std::string& folder, const std::string& locked) {
  return "un altro Torvan lavora nella cartella " + folder + " (" + locked + " \xE8 bloccato)";
}

bool HostNamed(CliContext& context, const Program& program) {
  if (!program.settings.parametri.Nome_Connessione.empty()) return true;
  Refuse(context,
         "nessun sistema origine impostato (Nome_Connessione \xE8 vuoto in " +
             program.paths.settings +
             "); per impostarlo: torvan settings set Nome_Connessione=HOST",
         kExitUsage);
  return false;
}

bool ParseFileNumber(const std::string& text, int* n) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *n = std::stoi(text);
  return *n >= 1;
}

std::string NoSuchFile(int n, int count) {
  if (count == 0) {
    return "il catalogo \xE8 vuoto (nessun TnC_FILE.DAT): torvan catalogue lo carica dall'host";
  }
  return "il catalogo ha " + std::to_string(count) + " file: il file " + std::to_string(n) +
         " non c'\xE8";
}

void Refuse(CliContext& context, std::string_view cp1252, int exit_code) {
  *context.err << "torvan: " << Cp1252ToUtf8(cp1252) << "\n";
  context.exit_code = exit_code;
}

bool LockFolder(CliContext& context, std::unique_ptr<platform::FolderLock>* lock) {
  if (!CheckFolder(context)) return false;
  const Paths paths =
      context.folder.empty() ? Paths::InWorkingDirectory() : Paths::InFolder(context.folder);
  bool held = false;
  Status s = platform::FolderLock::Take(paths.base, lock, &held);
  if (s.ok()) return true;
  context.exit_code = kExitFailed;
  if (!held) {
    *context.err << "torvan: " << Cp1252ToUtf8(s.message()) << "\n";
    return false;
  }
  std::string who = "pid sconosciuto";
  StatusSnapshot status;
  if (ReadStatusFile(paths.status, &status).ok() && !status.ended &&
      platform::ProcessAlive(status.pid)) {
    who = "pid " + std::to_string(status.pid) + ", " + status.front_end;
  }
  *context.err << Cp1252ToUtf8("torvan: un altro Torvan lavora in questa cartella (" + who +
                               "): fermarlo prima")
               << "\n";
  return false;
}

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err) {
  CLI::App app{"Torvan tiene le tabelle SQL allineate con i file fisici di un sistema IBM i.",
               "torvan"};
  ItalianHelp(app);
  app.option_defaults()->group("Opzioni");
  app.set_help_flag("-h,--help", "Mostra questo aiuto ed esce");
  app.set_version_flag("--version", TorvanVersion(), "Mostra la versione di Torvan ed esce");
  app.require_subcommand(1);
  app.footer(
      "Senza comando torvan apre la sua finestra (in DIR con --dir).\n"
      "L'aiuto di un comando: torvan COMANDO --help.");
  CliContext context{"", &out, &err};
  app.add_option("--dir", context.folder,
                 "Lavora in DIR come cartella base (impostazioni, catalogo, log); "
                 "predefinita: la cartella corrente");
  AddSettingsCommand(app, context);
  AddCatalogueCommand(app, context);
  AddFieldsCommand(app, context);
  AddSchemaCommands(app, context);
  AddRunCommands(app, context);
  AddStatusCommand(app, context);
  std::vector<std::string> commands;
  // Every command's help in the same words: its options' group, no footer of the whole.
  std::function<void(CLI::App*)> italian = [&italian](CLI::App* a) {
    for (CLI::App* sub : a->get_subcommands({})) {
      sub->group("Comandi");
      sub->footer("");
      if (CLI::Option* h = sub->get_help_ptr()) h->group("Opzioni");
      italian(sub);
    }
  };
  italian(&app);
  for (CLI::App* sub : app.get_subcommands({})) commands.push_back(sub->get_name());

  // A mistyped command is named, with the nearest one, before CLI11 takes it for an
  // argument of nothing.
  std::string unknown_option;
  const std::string command = CommandOf(argc, argv, &unknown_option);
  if (!unknown_option.empty()) {
    err << "torvan: opzione sconosciuta \"" << unknown_option << "\"\n"
        << "I comandi e le opzioni: torvan --help\n";
    return kExitUsage;
  }
  if (!command.empty() && std::find(commands.begin(), commands.end(), command) == commands.end()) {
    const std::string near = Nearest(command, commands);
    err << "torvan: comando sconosciuto \"" << command << "\""
        << (near.empty() ? "" : "; forse: torvan " + near) << "\n"
        << "I comandi: torvan --help\n";
    return kExitUsage;
  }

  StopSignals::Install(/*second_ends=*/command != "run");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    out << app.help();
    return kExitOk;
  } catch (const CLI::CallForAllHelp& e) {
    out << app.help("", CLI::AppFormatMode::All);
    return kExitOk;
  } catch (const CLI::CallForVersion& e) {
    out << "torvan " << TorvanVersion() << "\n";
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    err << "torvan: " << Italian(e) << "\n"
        << "I comandi: torvan --help\n";
    return kExitUsage;
  }
  // A command that a signal ended says so; `torvan run` ends on one as it should.
  if (const int sig = StopSignals::Received(); sig != 0 && !context.ends_on_signal) {
    err << "torvan: interrotto (" << (sig == SIGINT ? "SIGINT" : "SIGTERM") << ")\n";
    return 128 + sig;
  }
  return context.exit_code;
}

}  // namespace torvan
