#include "config/settings.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "config/ini_file.h"
#include "config/scramble.h"
#include "core/text.h"
#include "hostlink/hosts_lookup.h"

namespace torvan {

namespace {

constexpr const char* kGenerale = "Generale";
constexpr const char* kSql = "SQL";

// The boxes of the options form by the names of Parametri, with what each can hold.
struct Box {
  const char* name;
  std::string OptionsForm::*text;  // a text or number box
  bool OptionsForm::*flag;         // a check box
  size_t width;                    // text boxes: characters of the field
  int32_t min, max;                // number boxes (width 0)
};

constexpr int32_t kMaxTiming = 99999;  // five digits
constexpr int32_t kMaxPort = 65535;

const Box kBoxes[] = {
    {"Nome_Connessione", &OptionsForm::txtIN1, nullptr, 50, 0, 0},
    {"Utente", &OptionsForm::txtIN2, nullptr, 10, 0, 0},
    {"Password", &OptionsForm::txtIN3, nullptr, 10, 0, 0},
    {"Porta", &OptionsForm::txtIN5, nullptr, 0, 1, kMaxPort},
    {"Attesa_Sincronizz", &OptionsForm::txtIN12, nullptr, 0, 0, kMaxTiming},
    {"Attesa_Dopo_Start", &OptionsForm::txtIN13, nullptr, 0, 0, kMaxTiming},
    {"Attesa_Prima_Stop", &OptionsForm::txtIN14, nullptr, 0, 0, kMaxTiming},
    {"Ciclo_Sincronizz", &OptionsForm::txtIN15, nullptr, 0, 0, kMaxTiming},
    {"Libreria", &OptionsForm::txtIN16, nullptr, 10, 0, 0},
    {"Porta_FTP", &OptionsForm::txtIN17, nullptr, 0, 0, kMaxPort},
    {"Log_Su_File", nullptr, &OptionsForm::chkLog, 0, 0, 0},
    {"Native_Client", nullptr, &OptionsForm::chkNativeClient, 0, 0, 0},
    {"Attesa_Restart", &OptionsForm::txtIN18, nullptr, 0, 0, kMaxTiming},
    {"Log_PC_AS", nullptr, &OptionsForm::chkLog_PC_AS, 0, 0, 0},
};

const Box* FindBox(std::string_view name) {
  for (const Box& box : kBoxes) {
    if (name == box.name) return &box;
  }
  return nullptr;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// Where the first character the scramble cannot keep (outside codes 32..123) stands, or
// npos. (A NUL is such a character, so the character itself cannot say "none".)
size_t Unscrambleable(std::string_view text) {
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char u = static_cast<unsigned char>(text[i]);
    if (u < 32 || u > 123) return i;
  }
  return std::string_view::npos;
}

std::string CheckNumber(const Box& box, std::string_view text) {
  // The field keeps five characters, blanks included: "     46" would lose its digits.
  const std::string digits = Trim(text);
  bool ok = !digits.empty() && text.size() <= 5;
  int32_t value = 0;
  for (char c : digits) {
    ok = ok && c >= '0' && c <= '9';
    if (ok) value = value * 10 + (c - '0');
  }
  if (ok && value >= box.min && value <= box.max) return "";
  return std::string(box.name) + ": un numero intero da " + std::to_string(box.min) + " a " +
         std::to_string(box.max) + ", non " + Quoted(text);
}

std::string CheckText(const Box& box, std::string_view text) {
  const std::string kept = TrimRight(text);  // trailing blanks are the field's padding
  if (kept.size() > box.width) {
    return std::string(box.name) + ": al massimo " + std::to_string(box.width) +
           " caratteri, non " + std::to_string(kept.size());
  }
  if (size_t at = Unscrambleable(kept); at != std::string_view::npos) {
    return std::string(box.name) + ": il carattere " + Quoted(kept.substr(at, 1)) +
           " non si pu\xF2 memorizzare (solo i codici da 32 a 123)";
  }
  // The first two characters of the parameter string become the ends of its scrambled
  // form, which the settings file would strip of blanks and quotes.
  if (box.text == &OptionsForm::txtIN1 &&
      !SurvivesProfileFile(Codifica_Parametri(PadRight(kept, box.width)).text)) {
    return std::string(box.name) +
           ": non pu\xF2 avere \"{\" nei primi due caratteri n\xE9 cominciare con \"zz\" o \"##\"";
  }
  return "";
}

std::string Field(std::string_view plain, size_t pos, size_t len) {
  return std::string(Mid(plain, pos, len));
}

bool Flag(std::string_view plain, size_t pos) { return Trim(Mid(plain, pos, 1)) == "S"; }

std::string Number(int32_t value) { return std::to_string(value); }

// The bounds of the journal and of its batches: the largest value each key takes, 0 for
// another key.
int64_t JournalBound(std::string_view name) {
  if (name == "Lotto_Modifiche" || name == "Lotto_Ms") return 10000;
  if (name == "Giornale_Modifiche") return 1000000;
  if (name == "Giornale_Byte") return int64_t(1) << 30;
  return 0;
}

// The value of a text of digits only, 1 to `max`; 0 for anything else.
int64_t WholeNumber(std::string_view text, int64_t max) {
  if (text.empty() || text.size() > 10) return 0;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v <= max ? v : 0;
}

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
  s.sql.Motore = Trim(GetPrivateProfileString(kSql, "Motore", s.sql.Motore, ini));
  s.sql.Driver_Nativo =
      Trim(GetPrivateProfileString(kSql, "Driver_Nativo", s.sql.Driver_Nativo, ini));
  s.sql.Driver = Trim(GetPrivateProfileString(kSql, "Driver", s.sql.Driver, ini));
  s.sql.Motori = Trim(GetPrivateProfileString(kSql, "Motori", "", ini));
  s.sql.Attributi = GetPrivateProfileString(kSql, "Attributi", "", ini);
  s.Durevole = Trim(GetPrivateProfileString(kGenerale, "Durevole", "0", ini)) == "1";
  // A checked key of [Generale]: a value that passes its check is used; one that does not
  // leaves the value in use (`kept`), with a line that says so.
  auto checked = [&](const char* key, const std::string& kept, const auto& use) {
    const std::string text = Trim(GetPrivateProfileString(kGenerale, key, "", ini));
    if (text.empty()) return;
    if (std::string error = CheckProfileSetting(key, text); error.empty()) {
      use(text);
    } else {
      program.Scrivi_Messaggio("ERRORE nella lettura del file delle impostazioni " + ini + ": " +
                               error + "; in uso " + kept);
    }
  };
  checked("Metriche", "0 (nessun server delle metriche)",
          [&](const std::string& v) { s.Metriche = NumericValue(v); });
  checked("Metriche_Indirizzo", s.Metriche_Indirizzo,
          [&](const std::string& v) { s.Metriche_Indirizzo = v; });
  for (const auto& bound :
       {std::pair{"Lotto_Modifiche", &s.Lotto_Modifiche}, std::pair{"Lotto_Ms", &s.Lotto_Ms},
        std::pair{"Giornale_Modifiche", &s.Giornale_Modifiche},
        std::pair{"Giornale_Byte", &s.Giornale_Byte}}) {
    // Named, not bound: a lambda may not take a structured binding (clang).
    const char* key = bound.first;
    auto* value = bound.second;
    checked(key, std::to_string(*value),
            [&](const std::string& v) { *value = WholeNumber(v, JournalBound(key)); });
  }
  checked("Conflitti", "HOST (vince l'host)",
          [&](const std::string& v) { s.Vince_Il_Pc = UpperCp1252(v) == "PC"; });
  checked("Finestra_Conflitti", std::to_string(s.Finestra_Conflitti),
          [&](const std::string& v) { s.Finestra_Conflitti = NumericValue(v); });
  // A file with no section yields the defaults above; say why rather than go on silently.
  if (Status file = CheckProfileFile(ini); !file.ok()) {
    program.Scrivi_Messaggio("ERRORE nella lettura del file delle impostazioni " + ini + ": " +
                             file.message() + "; in uso i valori predefiniti");
  }
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
  // A password keeps its case: the host may tell "Segreto1" from "SEGRETO1" (IBM i at
  // password level 2 or 3, most FTP servers). User profiles are upper case on the host.
  f.txtIN3 = PadRight(f.txtIN3, 10);
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

std::string OptionsForm_CheckBox(std::string_view name, std::string_view text) {
  const Box* box = FindBox(name);
  if (box == nullptr || box->text == nullptr) return "";
  return box->width == 0 ? CheckNumber(*box, text) : CheckText(*box, text);
}

std::vector<std::string> OptionsForm_Check(const OptionsForm& form) {
  std::vector<std::string> errors;
  for (const Box& box : kBoxes) {
    if (box.text == nullptr) continue;
    std::string error = OptionsForm_CheckBox(box.name, form.*box.text);
    if (!error.empty()) errors.push_back(std::move(error));
  }
  return errors;
}

std::string OptionsForm_SetNote(std::string_view name, std::string_view value) {
  if (name != "Utente") return "";
  const std::string upper = UpperCp1252(Trim(value));
  return upper == Trim(value) ? "" : "Utente memorizzato in maiuscolo: " + upper;
}

bool OptionsForm_Set(OptionsForm& f, std::string_view name, std::string_view value,
                     std::string* error) {
  const Box* box = FindBox(name);
  if (box == nullptr) {
    *error = "impostazione sconosciuta " + Quoted(name);
    return false;
  }
  if (box->text != nullptr) {
    *error = OptionsForm_CheckBox(name, value);
    if (!error->empty()) return false;
    f.*box->text = std::string(value);
    return true;
  }
  std::string v = UpperCp1252(Trim(value));
  if (v != "S" && v != "N") {
    *error = std::string(name) + ": un flag \xE8 S o N, non " + Quoted(value);
    return false;
  }
  f.*box->flag = v == "S";
  return true;
}

namespace {

// The keys of TnC.INI set by name, beside the parameter string: what `torvan settings set`
// types and the options dialog shows in its third panel, in this order. A key added here
// is set, checked and shown by both without further work.
constexpr ProfileSetting kProfileKeys[] = {
    {"Durevole", kGenerale, "0",
     "1: il file delle modifiche ricevute va sul disco a ogni modifica (0 o 1)"},
    {"Conflitti", kGenerale, "HOST",
     "Chi vince quando le due parti cambiano lo stesso record: HOST oppure PC"},
    {"Finestra_Conflitti", kGenerale, "120",
     "Secondi dopo l'invio di una modifica in cui una modifica dell'host allo stesso record "
     "\xE8 un possibile conflitto"},
    {"Metriche", kGenerale, "0",
     "Porta dove Torvan serve le metriche a Prometheus (GET /metrics); 0 nessuna"},
    {"Metriche_Indirizzo", kGenerale, "127.0.0.1",
     "Indirizzo IP su cui ascolta il server delle metriche (0.0.0.0: tutti)"},
    {"Lotto_Modifiche", kGenerale, "200",
     "Modifiche del sistema origine chieste di seguito e applicate in una transazione"},
    {"Lotto_Ms", kGenerale, "200", "Millisecondi entro cui si chiedono le modifiche di un lotto"},
    {"Giornale_Modifiche", kGenerale, "10000",
     "Modifiche ricevute e non applicate oltre le quali non se ne chiedono altre"},
    {"Giornale_Byte", kGenerale, "67108864",
     "Byte di modifiche ricevute e non applicate oltre i quali non se ne chiedono altre"},
    {"Motore", kSql, "SQLite", "Motore SQL di ogni DataBase: SQLite, ODBC o PostgreSQL"},
    {"Motori", kSql, "",
     "Motore di singoli DataBase (per esempio GESTIONALE=PostgreSQL;ARCHIVIO=SQLite;)"},
    {"Driver", kSql, "FreeTDS",
     "Driver ODBC (nome o libreria), oppure DSN=<nome> di una sorgente dati di odbc.ini"},
    {"Driver_Nativo", kSql, "ODBC Driver 18 for SQL Server",
     "Driver ODBC con Native_Client = S, oppure DSN=<nome>"},
    {"Attributi", kSql, "",
     "Attributi ODBC, o opzioni di PostgreSQL, aggiunti a ogni connessione (per esempio "
     "Encrypt=yes; oppure port=5433;sslmode=require;)"},
};

constexpr const char* kEngines[] = {"SQLite", "ODBC", "PostgreSQL"};

// One of kEngines, ASCII case and surrounding blanks ignored.
bool IsEngine(std::string_view text) {
  const std::string name = UpperCp1252(Trim(text));
  for (const char* e : kEngines) {
    if (name == UpperCp1252(e)) return true;
  }
  return false;
}

// The rule a "Motori" text breaks, empty when it holds only "NAME=engine" pairs.
std::string CheckEngineMap(std::string_view value) {
  size_t start = 0;
  while (start < value.size()) {
    size_t end = value.find(';', start);
    if (end == std::string_view::npos) end = value.size();
    const std::string_view pair = value.substr(start, end - start);
    start = end + 1;
    if (Trim(pair).empty()) continue;
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos || Trim(pair.substr(0, eq)).empty()) {
      return "Motori: coppie DataBase=motore separate da \";\", non " + Quoted(pair);
    }
    if (!IsEngine(pair.substr(eq + 1))) {
      return "Motori: il motore di " + Trim(pair.substr(0, eq)) +
             " \xE8 SQLite, ODBC o PostgreSQL, non " + Quoted(Trim(pair.substr(eq + 1)));
    }
  }
  return "";
}

const ProfileSetting* FindProfileKey(std::string_view name) {
  for (const ProfileSetting& key : kProfileKeys) {
    if (name == key.name) return &key;
  }
  return nullptr;
}

// An IPv4 or IPv6 address as written, no host name: the metrics server listens on it.
bool IsAddress(std::string_view text) {
  const std::string t(text);
  unsigned char buf[sizeof(in6_addr)];
  return inet_pton(AF_INET, t.c_str(), buf) == 1 || inet_pton(AF_INET6, t.c_str(), buf) == 1;
}

}  // namespace

std::span<const ProfileSetting> ProfileSettings() { return kProfileKeys; }

std::string LoadProfileSetting(const Paths& paths, std::string_view name) {
  const ProfileSetting* key = FindProfileKey(name);
  if (key == nullptr) return "";
  return GetPrivateProfileString(key->section, key->name, "", paths.settings);
}

bool IsProfileSetting(std::string_view name) { return FindProfileKey(name) != nullptr; }

std::string CheckProfileSetting(std::string_view name, std::string_view value) {
  const std::string n(name);
  if (const int64_t max = JournalBound(name); max > 0) {
    return WholeNumber(value, max) > 0
               ? ""
               : n + ": un numero intero da 1 a " + std::to_string(max) + ", non " + Quoted(value);
  }
  if (name == "Durevole") {
    return value == "0" || value == "1" ? "" : n + ": 0 oppure 1, non " + Quoted(value);
  }
  if (name == "Conflitti") {
    const std::string v = UpperCp1252(value);
    return v == "HOST" || v == "PC" ? "" : n + ": HOST oppure PC, non " + Quoted(value);
  }
  if (name == "Finestra_Conflitti") {
    static constexpr Box kSeconds{"Finestra_Conflitti", nullptr, nullptr, 0, 0, 86400};
    return CheckNumber(kSeconds, value);
  }
  if (name == "Metriche") {
    static constexpr Box kPort{"Metriche", nullptr, nullptr, 0, 0, kMaxPort};
    return CheckNumber(kPort, value);
  }
  if (name == "Metriche_Indirizzo") {
    return IsAddress(value)
               ? ""
               : n + ": un indirizzo IP (per esempio 127.0.0.1 o ::1), non " + Quoted(value);
  }
  if (name == "Motore" && !IsEngine(value)) {
    return n + ": SQLite, ODBC o PostgreSQL, non " + Quoted(value);
  }
  if (name == "Motori") {
    if (std::string error = CheckEngineMap(value); !error.empty()) return error;
  }
  if ((name == "Driver" || name == "Driver_Nativo") && Trim(value).empty()) {
    return n + ": il nome di un driver ODBC, o DSN=<nome>";
  }
  if (value.size() > kProfileValueMax) {
    return n + ": al massimo " + std::to_string(kProfileValueMax) + " caratteri, non " +
           std::to_string(value.size());
  }
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) {
      return n + ": nessun carattere di controllo";
    }
  }
  if (!SurvivesProfileFile(value)) {
    return n + ": senza spazi alle estremit\xE0 n\xE9 tra virgolette";
  }
  return "";
}

Status SaveProfileSetting(const Paths& paths, std::string_view name, std::string_view value) {
  const ProfileSetting* key = FindProfileKey(name);
  if (key == nullptr) return Status::InvalidArgument("impostazione sconosciuta " + Quoted(name));
  if (std::string error = CheckProfileSetting(name, value); !error.empty()) {
    return Status::InvalidArgument(error);
  }
  return WritePrivateProfileString(key->section, key->name, value, paths.settings);
}

}  // namespace torvan
