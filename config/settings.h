// The settings reader and the options form's saving rules.
//
// TnC.INI holds the operator's settings as one scrambled parameter string of 118
// characters (key "Parametri" of section "Generale", with its checksum under "Check").
// Leggi_Parametri turns it into Program::settings; the options form (the dialog's boxes as
// texts) loads, normalises and saves it. The dialog window and the command line both use
// OptionsForm, so they write the file the same way.
#pragma once

#include <string>
#include <string_view>

#include "core/program.h"
#include "platform/status.h"

namespace torvan {

constexpr size_t kParameterStringLength = 118;

// Reads "Parametri" (and "Check", not compared) and the keys "ClockMode" of "Generale" and
// "Motore", "Driver_Nativo", "Driver" of "SQL", fills program.settings with every derived
// value, clears Prossimo_Tentativo, then lets pending events run once. Never fails: a
// missing, empty, short or damaged file yields the defaults and lower bounds.
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
// Normalises the boxes in place (upper case, blanks, zero padding, cuts) and returns the
// 118-character plain parameter string.
std::string OptionsForm_Normalise(OptionsForm& form);
// "Aggiorna": normalises, scrambles and writes "Parametri" and "Check", logs "Opzioni
// aggiornate" and re-reads the settings. A file that cannot be written is reported, and
// then nothing is logged or re-read.
Status OptionsForm_Save(Program& program, OptionsForm& form);

// Field names of Parametri in the order of the parameter string, for typing into the form
// by name ("Porta=4200"). Returns false for an unknown name or a flag value other than
// S or N (any case); the form is then unchanged.
bool OptionsForm_Set(OptionsForm& form, std::string_view name, std::string_view value,
                     std::string* error);

}  // namespace torvan
