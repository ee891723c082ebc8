#include "config/settings.h"

#include "config/ini_file.h"
#include "config/scramble.h"
#include "core/text.h"
#include "hostlink/hosts_lookup.h"

namespace torvan {

namespace {

constexpr const char* kGenerale = "Generale";

std::string Field(std::string_view plain, size_t pos, size_t len) {
  return std::string(Mid(plain, pos, len));
}

bool Flag(std::string_view plain, size_t pos) { return Trim(Mid(plain, pos, 1)) == "S"; }

std::string Number(int32_t value) { return std::to_string(value); }

}  // namespace

Settings ParseParameterString(std::string_view plain) {
  Settings s;
  Parametri& p = s.parametri;
  p.Nome_Connessione = Trim(Field(plain, 1, 50));
  p.Utente = Trim(Field(plain, 51, 10));
  p.Password = Trim(Field(plain, 61, 10));
  p.Porta = NumericValue(Field(plain, 71, 5));
  p.Attesa_Sincronizz = NumericValue(Trim(Field(plain, 76, 5)));
  p.Attesa_Dopo_Start = NumericValue(Trim(Field(plain, 81, 5)));
  p.Attesa_Prima_Stop = NumericValue(Trim(Field(plain, 86, 5)));
  p.Ciclo_Sincronizz = NumericValue(Trim(Field(plain, 91, 5)));
  p.Libreria = Trim(Field(plain, 96, 10));
  p.Porta_FTP = NumericValue(Field(plain, 106, 5));
  p.Log_Su_File = Flag(plain, 111);
  p.Native_Client = Flag(plain, 112);
  p.Attesa_Restart = NumericValue(Trim(Field(plain, 113, 5)));
  p.Log_PC_AS = Flag(plain, 118);

  if (p.Attesa_Restart < 1) {  // calendar mode
    p.Attesa_Restart = 0;
    s.Attesa_Riprova = 0;
    if (p.Attesa_Dopo_Start < 10) p.Attesa_Dopo_Start = 10;
    if (p.Attesa_Prima_Stop < 0) p.Attesa_Prima_Stop = 0;
  }
  if (p.Attesa_Restart > 0) {  // restart mode
    s.Attesa_Riprova = p.Attesa_Dopo_Start;
    p.Attesa_Dopo_Start = 0;
    p.Attesa_Prima_Stop = 0;
  }
  s.Margine_Start = float(p.Attesa_Dopo_Start) / 1440.0f;
  s.Margine_Stop = float(p.Attesa_Prima_Stop) / 1440.0f;
  if (p.Attesa_Sincronizz < 0) p.Attesa_Sincronizz = 0;
  if (p.Ciclo_Sincronizz < 500) p.Ciclo_Sincronizz = 500;
  return s;
}

void Leggi_Parametri(Program& program) {
  const std::string& ini = program.paths.settings;
  std::string scrambled = GetPrivateProfileString(kGenerale, "Parametri", "", ini);
  (void)GetPrivateProfileString(kGenerale, "Check", "", ini);  // read, never compared
  Settings s = ParseParameterString(Decodifica_Parametri(scrambled).text);
  s.ClockMode = Trim(GetPrivateProfileString(kGenerale, "ClockMode", "", ini));
  s.sql.Motore = Trim(GetPrivateProfileString("SQL", "Motore", s.sql.Motore, ini));
  s.sql.Driver_Nativo =
      Trim(GetPrivateProfileString("SQL", "Driver_Nativo", s.sql.Driver_Nativo, ini));
  s.sql.Driver = Trim(GetPrivateProfileString("SQL", "Driver", s.sql.Driver, ini));
  program.state.Prossimo_Tentativo.reset();
  s.Indirizzo_Host = Hosts_Lookup(s.parametri.Nome_Connessione);
  program.settings = std::move(s);
  program.ProcessEvents();
}

OptionsForm OptionsForm_Load(const Paths& paths) {
  std::string plain =
      Decodifica_Parametri(GetPrivateProfileString(kGenerale, "Parametri", "", paths.settings))
          .text;
  OptionsForm f;
  f.txtIN1 = Field(plain, 1, 50);
  f.txtIN2 = Field(plain, 51, 10);
  f.txtIN3 = Field(plain, 61, 10);
  f.txtIN5 = Field(plain, 71, 5);
  f.txtIN16 = Field(plain, 96, 10);
  f.txtIN17 = Field(plain, 106, 5);
  f.txtIN12 = Number(NumericValue(Field(plain, 76, 5)));
  f.txtIN13 = Number(NumericValue(Field(plain, 81, 5)));
  f.txtIN14 = Number(NumericValue(Field(plain, 86, 5)));
  f.txtIN15 = Number(NumericValue(Field(plain, 91, 5)));
  f.txtIN18 = Number(NumericValue(Field(plain, 113, 5)));
  f.chkLog = Mid(plain, 111, 1) == "S";
  f.chkNativeClient = Mid(plain, 112, 1) == "S";
  f.chkLog_PC_AS = Mid(plain, 118, 1) == "S";
  return f;
}

OptionsForm OptionsForm_Standard() {
  OptionsForm f;
  f.txtIN1 = "sistema origine";
  f.txtIN2 = "utente";
  f.txtIN3 = "";
  f.txtIN5 = "4200";
  f.txtIN12 = "2";
  f.txtIN13 = "30";
  f.txtIN14 = "15";
  f.txtIN15 = "1000";
  f.txtIN16 = "TM";
  f.txtIN17 = "21";
  f.txtIN18 = "0";
  return f;
}

std::string OptionsForm_Normalise(OptionsForm& f) {
  auto zero5 = [](const std::string& s) { return KeepRight("00000" + s, 5); };
  f.txtIN1 = PadRight(f.txtIN1, 50);
  f.txtIN2 = PadRight(UpperCp1252(f.txtIN2), 10);
  f.txtIN3 = PadRight(UpperCp1252(f.txtIN3), 10);
  f.txtIN5 = PadRight(f.txtIN5, 5);
  f.txtIN17 = PadRight(f.txtIN17, 5);
  f.txtIN18 = PadRight(f.txtIN18, 5);
  f.txtIN16 = PadRight(f.txtIN16, 10);
  f.txtIN12 = zero5(f.txtIN12);
  f.txtIN13 = zero5(f.txtIN13);
  f.txtIN14 = zero5(f.txtIN14);
  f.txtIN15 = zero5(f.txtIN15);
  auto flag = [](bool b) { return std::string(b ? "S" : "N"); };
  return f.txtIN1 + f.txtIN2 + f.txtIN3 + f.txtIN5 + f.txtIN12 + f.txtIN13 + f.txtIN14 + f.txtIN15 +
         f.txtIN16 + f.txtIN17 + flag(f.chkLog) + flag(f.chkNativeClient) + f.txtIN18 +
         flag(f.chkLog_PC_AS);
}

Status OptionsForm_Save(Program& program, OptionsForm& form) {
  Scrambled s = Codifica_Parametri(OptionsForm_Normalise(form));
  const std::string& ini = program.paths.settings;
  Status st = WritePrivateProfileString(kGenerale, "Parametri", s.text, ini);
  if (st.ok()) st = WritePrivateProfileString(kGenerale, "Check", s.checksum, ini);
  if (!st.ok()) return st;
  program.Scrivi_Messaggio("Opzioni aggiornate");
  Leggi_Parametri(program);
  return Status::Ok();
}

bool OptionsForm_Set(OptionsForm& f, std::string_view name, std::string_view value,
                     std::string* error) {
  struct Box {
    const char* name;
    std::string OptionsForm::*text;
    bool OptionsForm::*flag;
  };
  static const Box kBoxes[] = {
      {"Nome_Connessione", &OptionsForm::txtIN1, nullptr},
      {"Utente", &OptionsForm::txtIN2, nullptr},
      {"Password", &OptionsForm::txtIN3, nullptr},
      {"Porta", &OptionsForm::txtIN5, nullptr},
      {"Attesa_Sincronizz", &OptionsForm::txtIN12, nullptr},
      {"Attesa_Dopo_Start", &OptionsForm::txtIN13, nullptr},
      {"Attesa_Prima_Stop", &OptionsForm::txtIN14, nullptr},
      {"Ciclo_Sincronizz", &OptionsForm::txtIN15, nullptr},
      {"Libreria", &OptionsForm::txtIN16, nullptr},
      {"Porta_FTP", &OptionsForm::txtIN17, nullptr},
      {"Log_Su_File", nullptr, &OptionsForm::chkLog},
      {"Native_Client", nullptr, &OptionsForm::chkNativeClient},
      {"Attesa_Restart", &OptionsForm::txtIN18, nullptr},
      {"Log_PC_AS", nullptr, &OptionsForm::chkLog_PC_AS},
  };
  for (const Box& box : kBoxes) {
    if (name != box.name) continue;
    if (box.text != nullptr) {
      f.*box.text = std::string(value);
      return true;
    }
    std::string v = UpperCp1252(Trim(value));
    if (v != "S" && v != "N") {
      *error = std::string(name) + ": a flag is S or N, not \"" + std::string(value) + "\"";
      return false;
    }
    f.*box.flag = v == "S";
    return true;
  }
  *error = "unknown setting \"" + std::string(name) + "\"";
  return false;
}

}  // namespace torvan
