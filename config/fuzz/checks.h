// What holds of the settings however damaged the file they come from (the derived values'
// lower bounds and modes), for the settings fuzz targets.
#pragma once

#include <cstdlib>
#include <string_view>

#include "core/settings_values.h"
#include "platform/fuzz_check.h"

namespace torvan::fuzz {

using platform::fuzz::Check;

inline bool HasControl(std::string_view text) {
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) return true;
  }
  return false;
}

inline void CheckSettings(const Settings& s) {
  const Parametri& p = s.parametri;
  Check(p.Attesa_Sincronizz >= 0 && p.Ciclo_Sincronizz >= 500 && p.Attesa_Restart >= 0);
  if (p.Attesa_Restart == 0) {
    Check(s.Attesa_Riprova == 0 && p.Attesa_Dopo_Start >= 10 && p.Attesa_Prima_Stop >= 0);
  } else {
    Check(p.Attesa_Dopo_Start == 0 && p.Attesa_Prima_Stop == 0);
  }
  Check(s.Margine_Start >= 0 && s.Margine_Stop >= 0);
  Check(p.Nome_Connessione.size() <= 50 && p.Utente.size() <= 10 && p.Password.size() <= 10 &&
        p.Libreria.size() <= 10);
}

}  // namespace torvan::fuzz
