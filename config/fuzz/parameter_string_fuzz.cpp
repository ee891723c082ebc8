#include <string>
#include <string_view>

#include "config/fuzz/checks.h"
#include "config/fuzz/fuzz_targets.h"
#include "config/ini_file.h"
#include "config/scramble.h"
#include "config/settings.h"
#include "core/text.h"

namespace torvan::fuzz {

namespace {

bool AllMapped(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u > 123) return false;
  }
  return true;
}

// The scramble: a text within codes 32..123 goes both ways unchanged, with one checksum;
// any other code comes back as "¿".
void CheckScramble(std::string_view text) {
  const Scrambled encoded = Codifica_Parametri(text);
  const Scrambled decoded = Decodifica_Parametri(text);
  Check(encoded.text.size() == text.size() && decoded.text.size() == text.size());
  const Scrambled back = Decodifica_Parametri(encoded.text);
  const Scrambled again = Codifica_Parametri(decoded.text);
  if (AllMapped(text)) {
    Check(back.text == text && back.checksum == encoded.checksum);
    Check(again.text == text && again.checksum == decoded.checksum);
  }
  for (size_t i = 0; i < text.size(); ++i) {
    Check(AllMapped(back.text.substr(i, 1)) || back.text[i] == '\xBF');
  }
}

// The boxes of the options form, typed as "Name=value" lines: a value the form takes is
// the value read back from the saved parameter string.
void CheckForm(std::string_view lines) {
  OptionsForm form = OptionsForm_Standard();
  size_t at = 0;
  while (at < lines.size()) {
    size_t end = lines.find('\n', at);
    if (end == std::string_view::npos) end = lines.size();
    const std::string_view line = lines.substr(at, end - at);
    at = end + 1;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    std::string error;
    if (!OptionsForm_Set(form, line.substr(0, eq), line.substr(eq + 1), &error)) {
      Check(!error.empty());
    }
  }
  if (!OptionsForm_Check(form).empty()) return;
  const OptionsForm typed = form;
  const std::string plain = OptionsForm_Normalise(form);
  Check(plain.size() == kParameterStringLength);
  const Scrambled scrambled = Codifica_Parametri(plain);
  Check(SurvivesProfileFile(scrambled.text));
  Check(Decodifica_Parametri(scrambled.text).text == plain);
  const Settings s = ParseParameterString(plain);
  const Parametri& p = s.parametri;
  Check(p.Nome_Connessione == Trim(typed.txtIN1));
  Check(p.Utente == Trim(UpperCp1252(typed.txtIN2)));
  Check(p.Password == Trim(typed.txtIN3));
  Check(p.Libreria == Trim(typed.txtIN16));
  Check(p.Porta == NumericValue(typed.txtIN5));
  Check(p.Porta_FTP == NumericValue(typed.txtIN17));
  Check(p.Log_Su_File == typed.chkLog && p.Log_PC_AS == typed.chkLog_PC_AS);
  Check(p.Native_Client == typed.chkNativeClient);
  Check(p.Attesa_Sincronizz == NumericValue(typed.txtIN12));
  Check(p.Ciclo_Sincronizz == std::max(500, NumericValue(typed.txtIN15)));
  CheckSettings(s);
}

}  // namespace

int FuzzParameterString(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckSettings(ParseParameterString(text));
  CheckSettings(ParseParameterString(Decodifica_Parametri(text).text));
  CheckScramble(text);
  CheckForm(text);
  return 0;
}

}  // namespace torvan::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::fuzz::FuzzParameterString(data, size);
}
#endif
