// The main window's placement between runs (Posizione_Carica / Posizione_Salva): section
// "Dimensioni Base" of TnC.INI, keys "WindowState" (0 normal, 1 minimised, 2 maximised),
// "Left" and "Top" (twips). Free of widgets: the main window turns twips into pixels.
#pragma once

#include <string>

#include "platform/status.h"

namespace torvan {

inline constexpr char kPlacementSection[] = "Dimensioni Base";

struct Placement {
  int window_state = 0;  // 0 normal, 1 minimised, 2 maximised
  int left = 0;          // twips
  int top = 0;           // twips
};

// A stored edge pulled onto the screen: below 0 becomes 0, beyond the screen's extent
// minus 600 twips becomes that, so that at least 600 twips of the window stay visible.
int ClampToScreen(int twips, int screen_twips);

// Reads the three keys (missing ones read "0") and clamps Left and Top to the screen.
Placement ReadPlacement(const std::string& settings_path, int screen_width_twips,
                        int screen_height_twips);

// Writes "WindowState" and, only for a normal window, "Left" and "Top": a minimised or
// maximised window keeps the last normal position in the file.
Status WritePlacement(const std::string& settings_path, const Placement& p);

}  // namespace torvan
