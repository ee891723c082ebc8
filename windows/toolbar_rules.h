// The main window's toolbar as data: its seven buttons (key, tooltip, image) and the rules
// by which Bar_Imposta enables them and picks the images of Server and Timer.
//
// The rules are a pure function of the run state and the window flags, so that they can
// be checked without widgets; the main window only applies the result.
#pragma once

#include <array>

#include "core/run_state.h"

namespace torvan {

// The buttons in toolbar order.
enum MainButton : int { kUscita, kServer, kTimer, kOpzioni, kFile, kMessaggi, kReset };
inline constexpr int kMainButtonCount = 7;

struct ButtonDesign {
  const char* key;
  const char* tooltip;  // with its blanks; Server's is set by Bar_Imposta
  const char* image;    // key in ImageList1 when the toolbar is set up
};

const std::array<ButtonDesign, kMainButtonCount>& MainButtons();

inline constexpr char kServerTooltipOff[] = "Collegamento con il server origine";
inline constexpr char kServerTooltipOn[] = "Fine collegamento con il server origine";

// What Bar_Imposta shows.
struct MainToolbarLook {
  std::array<bool, kMainButtonCount> enabled{};  // by MainButton
  const char* server_image;                      // "Server" or "Server1"
  const char* server_tooltip;
  const char* timer_image;  // "Timer" or "Timer1"
};

// The enabling rules, from the run state, the three window flags it holds and whether the
// last catalogue built had an index-field error (Catalogo_Errato).
MainToolbarLook Bar_Regole(const RunState& state, bool catalogo_errato);

}  // namespace torvan
