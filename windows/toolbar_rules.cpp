#include "windows/toolbar_rules.h"

namespace torvan {

const std::array<ButtonDesign, kMainButtonCount>& MainButtons() {
  static const std::array<ButtonDesign, kMainButtonCount> buttons = {{
      {"Uscita", " Uscita da Torvan ", "Uscita"},
      {"Server", kServerTooltipOff, "Server"},
      {"Timer", " Sincronizzazione ", "Timer"},
      {"Opzioni", " Opzioni ", "Opzioni"},
      {"File", " Elenco file(s) ", "File"},
      {"Messaggi", " Visualizza messaggi ", "Messaggi"},
      {"Reset", " Azzera statistiche ", "Reset"},
  }};
  return buttons;
}

MainToolbarLook Bar_Regole(const RunState& state, bool catalogo_errato) {
  const bool off = state.Stato_Sincronismo == StatoSincronismo::kSpento;
  const bool suspended = state.Stato_Sincronismo == StatoSincronismo::kSospeso;
  const bool H = state.LinkUp, Q = state.Collegato_SQL;
  const bool O = state.Finestra_Opzioni_Aperta, F = state.Finestra_File_Aperta;
  const bool M = state.Finestra_Messaggi_Aperta;

  MainToolbarLook look{};
  look.enabled[kUscita] = off && !F && !O;
  look.enabled[kServer] = off && !F && !O;
  look.enabled[kTimer] = (!catalogo_errato && !F && !O && Q && H) || suspended;
  look.enabled[kOpzioni] = off && !Q && !H && !F && !O;
  look.enabled[kFile] = off && !F && !O && Q;
  look.enabled[kMessaggi] = !M && !O;
  look.enabled[kReset] = !F && !O;
  const bool linked = H && Q;
  look.server_image = linked ? "Server1" : "Server";
  look.server_tooltip = linked ? kServerTooltipOn : kServerTooltipOff;
  look.timer_image = off ? "Timer" : "Timer1";
  return look;
}

}  // namespace torvan
