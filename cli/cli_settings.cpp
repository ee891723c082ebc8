// torvan settings: show the settings as the program reads them, write the standard values,
// or type values into the options form and save it as its "Aggiorna" button does.

#include <CLI/CLI.hpp>
#include <memory>
#include <ostream>

#include "cli/cli.h"
#include "cli/console.h"
#include "config/settings.h"
#include "core/text.h"
#include "hostlink/hosts_lookup.h"

namespace torvan {

namespace {

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

struct SettingsArgs {
  bool standard = false;
  std::vector<std::string> assignments;
};

// The session read the settings when it started (and said so if the file is not one).
void PrintSettings(ConsoleSession& session) {
  const Settings& s = session.program().settings;
  const Parametri& p = s.parametri;
  auto flag = [](bool b) { return std::string(b ? "S" : "N"); };
  auto num = [](int32_t v) { return std::to_string(v); };
  const std::pair<const char*, std::string> lines[] = {
      {"Nome_Connessione", p.Nome_Connessione},
      {"Utente", p.Utente},
      {"Password", p.Password},
      {"Porta", num(p.Porta)},
      {"Attesa_Sincronizz", num(p.Attesa_Sincronizz)},
      {"Attesa_Dopo_Start", num(p.Attesa_Dopo_Start)},
      {"Attesa_Prima_Stop", num(p.Attesa_Prima_Stop)},
      {"Ciclo_Sincronizz", num(p.Ciclo_Sincronizz)},
      {"Libreria", p.Libreria},
      {"Porta_FTP", num(p.Porta_FTP)},
      {"Log_Su_File", flag(p.Log_Su_File)},
      {"Native_Client", flag(p.Native_Client)},
      {"Attesa_Restart", num(p.Attesa_Restart)},
      {"Log_PC_AS", flag(p.Log_PC_AS)},
      {"Attesa_Riprova", num(s.Attesa_Riprova)},
      {"Indirizzo_Host", AddressText(s.Indirizzo_Host)},
      {"Durevole", s.Durevole ? "1" : "0"},
      {"Attributi", s.sql.Attributi},
      {"Metriche", num(s.Metriche)},
  };
  for (const auto& [name, value] : lines) {
    session.Print(std::string(name) + "=" + VisibleText(value));
  }
}

int Save(ConsoleSession& session, OptionsForm& form, std::ostream& err) {
  Status s = OptionsForm_Save(session.program(), form);
  if (!s.ok()) {
    err << "torvan: the settings could not be written: " << s.message() << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void AddSettingsCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "settings", "Show the settings of TnC.INI as Torvan reads them, or change them");
  auto args = std::make_shared<SettingsArgs>();
  cmd->add_flag("--standard", args->standard,
                "Write the standard values, as the options dialog's "
                "\"Standard\" then \"Aggiorna\" would");
  CLI::App* set = cmd->add_subcommand(
      "set",
      "Type values into the options form and save it (Name=value ...; names: "
      "Nome_Connessione Utente Password Porta Attesa_Sincronizz Attesa_Dopo_Start "
      "Attesa_Prima_Stop Ciclo_Sincronizz Libreria Porta_FTP Log_Su_File Native_Client "
      "Attesa_Restart Log_PC_AS; flags take S or N; also Durevole (0 or 1), Attributi, "
      "the ODBC attributes added to every connection, and Metriche, the port on 127.0.0.1 "
      "where a running Torvan serves GET /metrics, 0 none); a value the settings cannot hold "
      "is refused and nothing is written");
  set->add_option("assignments", args->assignments, "Name=value pairs")->required();

  cmd->callback([&context, args, set] {
    if (!CheckFolder(context)) return;
    if (set->parsed()) return;  // the set subcommand does the work
    std::unique_ptr<platform::FolderLock> lock;
    if (args->standard && !LockFolder(context, &lock)) return;
    ConsoleSession session(context.folder, *context.out);
    if (args->standard) {
      OptionsForm form = OptionsForm_Standard();
      context.exit_code = Save(session, form, *context.err);
      return;
    }
    PrintSettings(session);
  });

  set->callback([&context, args] {
    std::unique_ptr<platform::FolderLock> lock;
    if (!LockFolder(context, &lock)) return;
    ConsoleSession session(context.folder, *context.out);
    OptionsForm form = OptionsForm_Load(session.program().paths);
    bool form_typed = false;
    std::vector<std::pair<std::string, std::string>> keys;  // the other keys, checked
    auto refuse = [&context](const std::string& why) {
      *context.err << "torvan: " << Cp1252ToUtf8(VisibleText(why)) << "; nothing was written\n";
      context.exit_code = kExitUsage;
    };
    // Every value is checked before anything is written: a refusal leaves the file as it was.
    for (const std::string& a : args->assignments) {
      size_t eq = a.find('=');
      if (eq == std::string::npos || eq == 0) {
        return refuse(Quote(Utf8ToCp1252(a)) + " is not Name=value");
      }
      const std::string name = Utf8ToCp1252(a.substr(0, eq));
      const std::string value = Utf8ToCp1252(a.substr(eq + 1));
      if (Cp1252ToUtf8(value) != a.substr(eq + 1)) {
        return refuse(name + ": " + Quote(value) + " holds a character Windows-1252 cannot hold");
      }
      std::string error;
      if (IsProfileSetting(name)) {
        error = CheckProfileSetting(name, value);
        if (!error.empty()) return refuse(error);
        keys.emplace_back(name, value);
        continue;
      }
      if (!OptionsForm_Set(form, name, value, &error)) return refuse(error);
      form_typed = true;
    }
    for (const auto& [name, value] : keys) {
      Status s = SaveProfileSetting(session.program().paths, name, value);
      if (!s.ok()) {
        *context.err << "torvan: the settings could not be written: " << s.message() << "\n";
        context.exit_code = kExitFailed;
        return;
      }
    }
    if (form_typed) context.exit_code = Save(session, form, *context.err);
  });
}

}  // namespace torvan
