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
#include "platform/file.h"

namespace torvan {

namespace {

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

struct SettingsArgs {
  bool standard = false;
  std::vector<std::string> assignments;
};

// A secret as `torvan settings` shows it: eight asterisks whatever its length, nothing when
// there is none.
std::string Masked(const std::string& secret) { return secret.empty() ? "" : "********"; }

// ODBC attributes with the values of their password keys (PWD, Password) masked.
std::string MaskedAttributes(const std::string& attributes) {
  std::string out;
  size_t start = 0;
  while (start < attributes.size()) {
    size_t end = attributes.find(';', start);
    if (end == std::string::npos) end = attributes.size();
    const std::string pair = attributes.substr(start, end - start);
    const size_t eq = pair.find('=');
    const std::string key = UpperCp1252(Trim(pair.substr(0, eq)));
    out += eq != std::string::npos && (key == "PWD" || key == "PASSWORD")
               ? pair.substr(0, eq + 1) + Masked(pair.substr(eq + 1))
               : pair;
    if (end < attributes.size()) out += ';';
    start = end + 1;
  }
  return out;
}

// The session read the settings when it started (and said so if the file is not one).
void PrintSettings(ConsoleSession& session, std::ostream& err) {
  const Settings& s = session.program().settings;
  if (!platform::FileExists(session.program().paths.settings)) {
    err << Cp1252ToUtf8("torvan: " + session.program().paths.settings +
                        " non c'\xE8: questi sono i valori predefiniti (torvan settings "
                        "--standard scrive i valori standard, torvan settings set li cambia)")
        << "\n";
  }
  const Parametri& p = s.parametri;
  auto flag = [](bool b) { return std::string(b ? "S" : "N"); };
  auto num = [](int32_t v) { return std::to_string(v); };
  const std::pair<const char*, std::string> lines[] = {
      {"Nome_Connessione", p.Nome_Connessione},
      {"Utente", p.Utente},
      {"Password", Masked(p.Password)},
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
      {"Motore", s.sql.Motore},
      {"Motori", s.sql.Motori},
      {"Driver", s.sql.Driver},
      {"Driver_Nativo", s.sql.Driver_Nativo},
      {"Attributi", MaskedAttributes(s.sql.Attributi)},
      {"Metriche", num(s.Metriche)},
      {"Metriche_Indirizzo", s.Metriche_Indirizzo},
      {"Lotto_Modifiche", std::to_string(s.Lotto_Modifiche)},
      {"Lotto_Ms", std::to_string(s.Lotto_Ms)},
      {"Giornale_Modifiche", std::to_string(s.Giornale_Modifiche)},
      {"Giornale_Byte", std::to_string(s.Giornale_Byte)},
      {"Conflitti", s.Vince_Il_Pc ? "PC" : "HOST"},
      {"Finestra_Conflitti", num(s.Finestra_Conflitti)},
  };
  for (const auto& [name, value] : lines) {
    session.Print(std::string(name) + "=" + VisibleText(value));
  }
}

int Save(ConsoleSession& session, OptionsForm& form, std::ostream& err) {
  Status s = OptionsForm_Save(session.program(), form);
  if (!s.ok()) {
    err << "torvan: le impostazioni non si possono scrivere: " << Cp1252ToUtf8(s.message()) << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace

void AddSettingsCommand(CLI::App& app, CliContext& context) {
  CLI::App* cmd = app.add_subcommand(
      "settings",
      Help("Mostra le impostazioni di TnC.INI come Torvan le legge (la password mascherata), "
           "oppure le cambia"));
  auto args = std::make_shared<SettingsArgs>();
  cmd->add_flag("--standard", args->standard,
                Help("Scrive i valori standard, come \"Standard\" e poi \"Aggiorna\" "
                     "nella finestra delle opzioni"));
  CLI::App* set = cmd->add_subcommand(
      "set",
      Help("Scrive i valori nella finestra delle opzioni e la salva (Nome=valore ...; nomi: "
           "Nome_Connessione Utente Password Porta Attesa_Sincronizz Attesa_Dopo_Start "
           "Attesa_Prima_Stop Ciclo_Sincronizz Libreria Porta_FTP Log_Su_File Native_Client "
           "Attesa_Restart Log_PC_AS, i flag S o N; inoltre Durevole (0 o 1), Conflitti (HOST o "
           "PC: chi vince quando le due parti cambiano lo stesso record), Finestra_Conflitti "
           "(secondi, 120 se manca), Metriche (la porta dove Torvan serve GET /metrics, 0 "
           "nessuna), Metriche_Indirizzo (l'indirizzo su cui ascolta, 127.0.0.1 se manca), "
           "Lotto_Modifiche e Lotto_Ms (modifiche e millisecondi di un lotto), "
           "Giornale_Modifiche e Giornale_Byte (il limite del giornale delle modifiche "
           "ricevute), Motore (SQLite, ODBC o PostgreSQL), Motori (il motore di singoli "
           "DataBase, NOME=motore;...), Driver e Driver_Nativo (il driver ODBC, o DSN=<nome>) "
           "e Attributi (gli attributi ODBC, o le opzioni di PostgreSQL, aggiunti a ogni "
           "connessione)); un valore che le impostazioni non possono tenere \xE8 "
           "rifiutato e nulla \xE8 scritto"));
  set->add_option("assegnazioni", args->assignments, Help("Coppie Nome=valore"))->required();

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
    PrintSettings(session, *context.err);
  });

  set->callback([&context, args] {
    std::unique_ptr<platform::FolderLock> lock;
    if (!LockFolder(context, &lock)) return;
    ConsoleSession session(context.folder, *context.out);
    OptionsForm form = OptionsForm_Load(session.program().paths);
    bool form_typed = false;
    std::vector<std::pair<std::string, std::string>> keys;  // the other keys, checked
    auto refuse = [&context](const std::string& why) {
      *context.err << "torvan: " << Cp1252ToUtf8(VisibleText(why))
                   << "; nulla \xC3\xA8 stato scritto\n";
      context.exit_code = kExitUsage;
    };
    // Every value is checked before anything is written: a refusal leaves the file as it was.
    for (const std::string& a : args->assignments) {
      size_t eq = a.find('=');
      if (eq == std::string::npos || eq == 0) {
        return refuse(Quote(Utf8ToCp1252(a)) + " non \xE8 Nome=valore");
      }
      const std::string name = Utf8ToCp1252(a.substr(0, eq));
      const std::string value = Utf8ToCp1252(a.substr(eq + 1));
      if (Cp1252ToUtf8(value) != a.substr(eq + 1)) {
        return refuse(name + ": " + Quote(value) +
                      " ha un carattere che Windows-1252 non pu\xF2 tenere");
      }
      std::string error;
      if (IsProfileSetting(name)) {
        error = CheckProfileSetting(name, value);
        if (!error.empty()) return refuse(error);
        keys.emplace_back(name, value);
        continue;
      }
      if (!OptionsForm_Set(form, name, value, &error)) return refuse(error);
      if (const std::string note = OptionsForm_SetNote(name, value); !note.empty()) {
        *context.out << "torvan: " << Cp1252ToUtf8(note) << "\n";
      }
      form_typed = true;
    }
    for (const auto& [name, value] : keys) {
      Status s = SaveProfileSetting(session.program().paths, name, value);
      if (!s.ok()) {
        *context.err << "torvan: le impostazioni non si possono scrivere: "
                     << Cp1252ToUtf8(s.message()) << "\n";
        context.exit_code = kExitFailed;
        return;
      }
    }
    if (form_typed) context.exit_code = Save(session, form, *context.err);
  });
}

}  // namespace torvan
