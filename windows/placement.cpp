#include "windows/placement.h"

#include "config/ini_file.h"
#include "core/text.h"

namespace torvan {

namespace {

int ReadKey(const std::string& path, const char* key) {
  return NumericValue(GetPrivateProfileString(kPlacementSection, key, "0", path));
}

}  // namespace

int ClampToScreen(int twips, int screen_twips) {
  if (twips < 0) twips = 0;
  if (twips > screen_twips - 600) twips = screen_twips - 600;
  return twips;
}

Placement ReadPlacement(const std::string& path, int screen_width, int screen_height) {
  Placement p;
  p.window_state = ReadKey(path, "WindowState");
  p.left = ClampToScreen(ReadKey(path, "Left"), screen_width);
  p.top = ClampToScreen(ReadKey(path, "Top"), screen_height);
  return p;
}

Status WritePlacement(const std::string& path, const Placement& p) {
  Status s = WritePrivateProfileString(kPlacementSection, "WindowState",
                                       std::to_string(p.window_state), path);
  if (!s.ok() || p.window_state != 0) return s;
  s = WritePrivateProfileString(kPlacementSection, "Left", std::to_string(p.left), path);
  if (!s.ok()) return s;
  return WritePrivateProfileString(kPlacementSection, "Top", std::to_string(p.top), path);
}

}  // namespace torvan
