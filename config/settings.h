// The settings reader and the options form's saving rules.
//
// TnC.INI holds the operator's settings as one scrambled parameter string of 118
// characters (key "Parametri" of section "Generale", with its checksum under "Check").
// Leggi_Parametri turns it into Program::settings; the options form (the dialog's boxes as
// texts) loads, normalises and saves it. The dialog window and the command line both use
// OptionsForm, so they write the file the same way.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/program.h"
#include "platform/status.h"

namespace torvan {

constexpr size_t kParameterStringLength = 118;

// Reads "Parametri" (and "Check", not compared) and the keys "ClockMode", "Durevole",
// "Metriche", "Metriche_Indirizzo" of "Generale" and "Motore", "Motori", "Driver_Nativo",
// "Driver", "Attributi" of "SQL", fills
// program.settings with every derived value, clears Prossimo_Tentativo, then lets pending
// events run once. Never fails: a missing, empty, short or damaged file yields the
// defaults and lower bounds. A file that is not a settings file at all (unreadable, binary,
// garbage) is said so in one message line, "ERRORE nella lettura del file delle
// impostazioni <path>: <why>; in uso i valori predefiniti"; a "Metriche" that is not a
// port, in the same words ending "; in uso 0 (nessun server delle metriche)"; a
// "Metriche_Indirizzo" that is not an address, ending "; in uso 127.0.0.1".
void Leggi_Parametri(Program& program);

// The settings from a plain (unscrambled) parameter string, with the derived values
// except Indirizzo_Host.
Settings ParseParameterString(std::string_view plain);

// The options dialog's boxes, as texts the way the dialog holds them.
struct OptionsForm {
  std::string txtIN1;            // Nome Connessione (1, 50)
  std::string txtIN2;            // Utente (51, 10)
  std::string txtIN3;            // Password (61, 10)
  std::string txtIN5;            // Porta (71, 5)
  std::string txtIN12;           // Attesa sincronizz. (76, 5), zero padded
  std::string txtIN13;           // Attesa dopo start (81, 5), zero padded
  std::string txtIN14;           // Attesa prima stop (86, 5), zero padded
  std::string txtIN15;           // Ciclo di sincronizz. (91, 5), zero padded
  std::string txtIN16;           // Libreria (96, 10)
  std::string txtIN17;           // Porta FTP (106, 5)
  std::string txtIN18;           // Attesa restart (113, 5)
  bool chkLog = false;           // Log_Su_File (111)
  bool chkNativeClient = false;  // Native_Client (112)
  bool chkLog_PC_AS = false;     // Log_PC_AS (118)
};

// The boxes as the dialog fills them when it opens.
OptionsForm OptionsForm_Load(const Paths& paths);
// The values the "Standard" button puts in the boxes.
OptionsForm OptionsForm_Standard();
// Normalises the boxes in place (the user in upper case, blanks, zero padding, cuts; the
// password keeps its case) and returns the 118-character plain parameter string.
std::string OptionsForm_Normalise(OptionsForm& form);
// "Aggiorna": normalises, scrambles and writes "Parametri" and "Check", logs "Opzioni
// aggiornate" and re-reads the settings. A file that cannot be written is reported, and
// then nothing is logged or re-read.
Status OptionsForm_Save(Program& program, OptionsForm& form);

// What a box can hold, so that the value read back is the value typed: a text box at most
// its field's width (trailing blanks aside) of characters the scramble keeps (codes 32 to
// 123); a number box digits only (blanks around them aside), at most five characters in
// all, within the box's range (Porta 1-65535,
// Porta_FTP 0-65535, the timings 0-99999); and no first characters of Nome_Connessione
// that would put a blank or a pair of quotes at the ends of the scrambled string, which
// the settings file does not keep. `name` is a name of OptionsForm_Set. Returns the rule
// broken, as "<name>: <rule>", or an empty text when the value can be stored. The options
// dialog checks every box with it before saving; the command line each value it types.
std::string OptionsForm_CheckBox(std::string_view name, std::string_view text);
// Every text and number box of the form, in the parameter string's order: the rules they
// break, none when the form can be saved as it is.
std::vector<std::string> OptionsForm_Check(const OptionsForm& form);

// What saving changes of `value` typed into box `name`, to be said to whoever typed it
// (Italian): "Utente memorizzato in maiuscolo: FTPTEST" for a user with lower-case
// letters; empty when the box keeps what was typed.
std::string OptionsForm_SetNote(std::string_view name, std::string_view value);

// Field names of Parametri in the order of the parameter string, for typing into the form
// by name ("Porta=4200"). Returns false for an unknown name, a flag value other than S or
// N (any case), or a value OptionsForm_CheckBox refuses; the form is then unchanged and
// `error` names the field and the rule.
bool OptionsForm_Set(OptionsForm& form, std::string_view name, std::string_view value,
                     std::string* error);

// The keys of TnC.INI beside the parameter string that are set by name: "Durevole" of
// "Generale" (0 or 1), "Metriche" of "Generale" (the metrics port, 0 to 65535, 0 none),
// "Metriche_Indirizzo" of "Generale" (the IPv4 or IPv6 address the metrics server listens
// on, 127.0.0.1 when absent) and, of "SQL", "Motore" (SQLite, ODBC or PostgreSQL), "Motori"
// ("NAME=engine;..." pairs), "Driver" and "Driver_Nativo" (not empty) and "Attributi" (ODBC
// attributes or libpq options); every text at most 255 characters, no control characters,
// nothing the settings file would strip.
struct ProfileSetting {
  const char* name;
  const char* section;
  const char* standard = "";  // what Torvan uses when the key is absent
  const char* tooltip = "";   // what the options dialog says of it (Windows-1252)
};
// Every such key, in the order `torvan settings` and the options dialog show them.
std::span<const ProfileSetting> ProfileSettings();
// The key's text as TnC.INI holds it, empty when absent (or the name unknown).
std::string LoadProfileSetting(const Paths& paths, std::string_view name);
bool IsProfileSetting(std::string_view name);
// As OptionsForm_CheckBox, for those keys.
std::string CheckProfileSetting(std::string_view name, std::string_view value);
// Writes the key (the value checked first); an unknown name or a refused value is
// InvalidArgument and nothing is written.
Status SaveProfileSetting(const Paths& paths, std::string_view name, std::string_view value);

}  // namespace torvan
