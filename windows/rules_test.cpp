// The window layer's rules without widgets: the main toolbar's enabling rules across the
// run states and window flags, the browser's selection and button rules, the placement.
#include <gtest/gtest.h>

#include "config/ini_file.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "windows/browser_rules.h"
#include "windows/placement.h"
#include "windows/toolbar_rules.h"

namespace torvan {
namespace {

// Letters of the enabled buttons in toolbar order: U S T O F M R, "-" for a disabled one.
std::string Enabled(const MainToolbarLook& look) {
  static const char kLetters[] = "USTOFMR";
  std::string s;
  for (int b = 0; b < kMainButtonCount; ++b) s += look.enabled[size_t(b)] ? kLetters[b] : '-';
  return s;
}

// Each row: its meaning, the run state, the flags set (H host link, Q SQL link, O options
// dialog, F browser, M message window, E catalogue index error), the enabled buttons, the
// server and timer images.
TEST(MainToolbar, EnablingRulesAcrossRunStatesAndWindowFlags) {
  using enum StatoSincronismo;
  const struct {
    const char* name;
    StatoSincronismo S;
    std::string flags;
    const char *enabled, *server_image, *timer_image;
  } cases[] = {
      {"idle after start-up", kSpento, "", "US-O-MR", "Server", "Timer"},
      {"links open", kSpento, "HQ", "UST-FMR", "Server1", "Timer"},
      {"links open, catalogue index error", kSpento, "HQE", "US--FMR", "Server1", "Timer"},
      {"host link open, SQL failed", kSpento, "H", "US---MR", "Server", "Timer"},
      {"SQL open, host link down", kSpento, "Q", "US--FMR", "Server", "Timer"},
      {"replicating", kAttivo, "HQ", "--T--MR", "Server1", "Timer1"},
      {"replicating, message window open", kAttivo, "HQM", "--T---R", "Server1", "Timer1"},
      {"replicating, catalogue index error", kAttivo, "HQE", "-----MR", "Server1", "Timer1"},
      {"suspended, links dropped", kSospeso, "", "--T--MR", "Server", "Timer1"},
      {"suspended, catalogue index error", kSospeso, "E", "--T--MR", "Server", "Timer1"},
      {"options dialog open", kSpento, "O", "-------", "Server", "Timer"},
      {"options dialog and message window open", kSpento, "OM", "-------", "Server", "Timer"},
      {"browser open", kSpento, "HQF", "-----M-", "Server1", "Timer"},
      {"browser and message window open", kSpento, "HQFM", "-------", "Server1", "Timer"},
      {"message window open, idle", kSpento, "M", "US-O--R", "Server", "Timer"},
  };
  for (const auto& c : cases) {
    auto on = [&](char flag) { return c.flags.find(flag) != std::string::npos; };
    RunState s;
    s.Stato_Sincronismo = c.S;
    s.LinkUp = on('H');
    s.Collegato_SQL = on('Q');
    s.Finestra_Opzioni_Aperta = on('O');
    s.Finestra_File_Aperta = on('F');
    s.Finestra_Messaggi_Aperta = on('M');
    const MainToolbarLook look = Bar_Regole(s, on('E'));
    EXPECT_EQ(c.enabled, Enabled(look)) << c.name;
    EXPECT_STREQ(c.server_image, look.server_image) << c.name;
    EXPECT_STREQ(c.timer_image, look.timer_image) << c.name;
    // The server button says what a click does: open both links, or close them.
    EXPECT_STREQ(on('H') && on('Q') ? "Fine collegamento con il server origine"
                                    : "Collegamento con il server origine",
                 look.server_tooltip)
        << c.name;
  }
}

TEST(BrowserRules, StatoSelezione) {
  struct {
    const char* name;
    bool list;
    GridSelection sel;
    int stato;
  } const cases[] = {
      {"field view shown", false, {3, 3}, 1}, {"nothing selected after a fill", true, {0, 0}, 0},
      {"one file row", true, {3, 3}, 2},      {"rows 2 to 5", true, {2, 5}, 3},
      {"rows 5 back to 2", true, {5, 2}, 3},  {"from the header row", true, {0, 3}, 0},
      {"to the header row", true, {3, 0}, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.stato, Toolbar_Stato(c.list, c.sel)) << c.name;
  // The files a command works on run from the smaller row; with the header row, none.
  EXPECT_EQ(std::pair(2, 5), std::pair(SelectedFiles({5, 2}).first, SelectedFiles({5, 2}).last));
  EXPECT_EQ(0, SelectedFiles({0, 3}).first);
}

TEST(BrowserRules, RightClickSelects) {
  struct {
    const char* name;
    GridSelection before;
    int row;
    bool shift_only;
    GridSelection after;
  } const cases[] = {
      {"one row selected: the clicked row", {2, 2}, 4, false, {4, 4}},
      {"nothing selected: the clicked row", {0, 0}, 1, false, {1, 1}},
      {"Shift extends from Row", {2, 2}, 5, true, {2, 5}},
      {"Shift extends upwards too", {4, 4}, 1, true, {4, 1}},
      {"Shift re-extends a range", {2, 5}, 3, true, {2, 3}},
      {"several rows: kept wherever the click is", {2, 5}, 7, false, {2, 5}},
      {"several rows: kept on a row inside", {2, 5}, 3, false, {2, 5}},
      {"the header row can be clicked", {2, 2}, 0, false, {0, 0}},
  };
  for (const auto& c : cases) {
    GridSelection sel = c.before;
    Grid_RightClick(sel, c.row, c.shift_only);
    EXPECT_EQ(std::pair(c.after.row, c.after.row_sel), std::pair(sel.row, sel.row_sel)) << c.name;
  }
}

TEST(BrowserRules, LeftClickAndDragSelectFileRows) {
  GridSelection sel;
  auto rows = [&] { return std::pair{sel.row, sel.row_sel}; };
  Grid_LeftPress(sel, 3, false);
  EXPECT_EQ(std::pair(3, 3), rows());
  Grid_LeftDrag(sel, 5);
  EXPECT_EQ(std::pair(3, 5), rows());
  Grid_LeftPress(sel, 1, true);
  EXPECT_EQ(std::pair(3, 1), rows());
  Grid_LeftPress(sel, 0, false);  // not a file row
  EXPECT_EQ(std::pair(3, 1), rows());
}

TEST(BrowserRules, ButtonsByStatoSelezione) {
  // Letters of the enabled buttons: Elenco, Visualizza, Crea, canCella, Eventi.
  auto on = [](int stato, bool pc_as) {
    static const char kLetters[] = "EVCXR";
    std::string s;
    const auto b = BrowserButtonRules(stato, pc_as);
    for (int i = 0; i < kBrowserButtonCount; ++i) s += b[size_t(i)] ? kLetters[i] : '-';
    return s;
  };
  EXPECT_EQ("-----", on(0, false));
  EXPECT_EQ("----R", on(0, true));
  EXPECT_EQ("E----", on(1, true));
  EXPECT_EQ("-VCX-", on(2, false));
  EXPECT_EQ("-VCXR", on(2, true));
  EXPECT_EQ("--CX-", on(3, false));
  EXPECT_EQ("--CXR", on(3, true));
}

TEST(Placement, StoredEdgesArePulledOntoTheScreen) {
  EXPECT_EQ(0, ClampToScreen(-300, 19200));
  EXPECT_EQ(3000, ClampToScreen(3000, 19200));
  EXPECT_EQ(18600, ClampToScreen(18600, 19200));
  EXPECT_EQ(18600, ClampToScreen(30000, 19200));
}

TEST(Placement, ReadClampsAndWriteKeepsTheNormalPositionWhenMaximised) {
  platform::TempFolder folder("torvan-placement");
  const std::string ini = folder / "TnC.INI";
  auto read = [&] {
    const Placement p = ReadPlacement(ini, 19200, 15360);
    return std::tuple{p.window_state, p.left, p.top};
  };
  auto stored = [&](const char* key) {
    return GetPrivateProfileString("Dimensioni Base", key, "", ini);
  };
  EXPECT_EQ(std::tuple(0, 0, 0), read());  // missing keys read as zero
  ASSERT_TRUE(WritePlacement(ini, {0, 25000, -45}).ok());
  EXPECT_EQ("0 25000 -45", stored("WindowState") + " " + stored("Left") + " " + stored("Top"));
  EXPECT_EQ(std::tuple(0, 18600, 0), read());

  ASSERT_TRUE(WritePlacement(ini, {2, 100, 200}).ok());
  EXPECT_EQ(std::tuple(2, 18600, 0), read());  // still the last normal position
  EXPECT_EQ("25000", stored("Left"));
}

}  // namespace
}  // namespace torvan
