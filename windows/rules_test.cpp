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

// Each row: the run state; the flags set (H host link, Q SQL link, O options dialog, F browser,
// M message window, E catalogue index error); the letters of the enabled buttons in toolbar
// order ("-" for a disabled one), the server and timer images.
TEST(MainToolbar, EnablingRulesAcrossRunStatesAndWindowFlags) {
  using enum StatoSincronismo;
  const struct {
    StatoSincronismo S;
    std::string flags;
    const char* look;
  } cases[] = {
      {kSpento, "", "US-O-MR Server Timer"},      {kSpento, "HQ", "UST-FMR Server1 Timer"},
      {kSpento, "HQE", "US--FMR Server1 Timer"},  {kSpento, "H", "US---MR Server Timer"},
      {kSpento, "Q", "US--FMR Server Timer"},     {kAttivo, "HQ", "--T--MR Server1 Timer1"},
      {kAttivo, "HQM", "--T---R Server1 Timer1"}, {kAttivo, "HQE", "-----MR Server1 Timer1"},
      {kSospeso, "", "--T--MR Server Timer1"},    {kSospeso, "E", "--T--MR Server Timer1"},
      {kSpento, "O", "------- Server Timer"},     {kSpento, "OM", "------- Server Timer"},
      {kSpento, "HQF", "-----M- Server1 Timer"},  {kSpento, "HQFM", "------- Server1 Timer"},
      {kSpento, "M", "US-O--R Server Timer"},
  };
  for (const auto& c : cases) {
    auto on = [&](char flag) { return c.flags.find(flag) != std::string::npos; };
    RunState s;
    s.Stato_Sincronismo = c.S;
    std::tie(s.LinkUp, s.Collegato_SQL, s.Finestra_Opzioni_Aperta, s.Finestra_File_Aperta,
             s.Finestra_Messaggi_Aperta) = std::tuple(on('H'), on('Q'), on('O'), on('F'), on('M'));
    const MainToolbarLook look = Bar_Regole(s, on('E'));
    std::string seen;
    for (int b = 0; b < kMainButtonCount; ++b) seen += look.enabled[size_t(b)] ? "USTOFMR"[b] : '-';
    EXPECT_EQ(c.look, seen + " " + look.server_image + " " + look.timer_image)
        << int(c.S) << " " << c.flags;
  }
}

TEST(BrowserRules, StatoSelezioneAndTheFilesACommandWorksOn) {
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
  // The files run from the smaller row; with the header row, none.
  EXPECT_EQ(std::pair(2, 5), std::pair(SelectedFiles({5, 2}).first, SelectedFiles({5, 2}).last));
  EXPECT_EQ(0, SelectedFiles({0, 3}).first);
}

// Clicks on the grid: R right, S right with Shift alone, L left, l left with Shift, D a drag
// (the plain cases clicked on the window: browser_window_test.cpp).
TEST(BrowserRules, ClicksAndDragsSelect) {
  struct {
    const char* name;
    GridSelection before;
    char how;
    int row;
    GridSelection after;
  } const cases[] = {
      {"one row selected: the clicked row", {2, 2}, 'R', 4, {4, 4}},
      {"Shift extends upwards too", {4, 4}, 'S', 1, {4, 1}},
      {"Shift re-extends a range", {2, 5}, 'S', 3, {2, 3}},
      {"several rows: kept on a row inside", {2, 5}, 'R', 3, {2, 5}},
      {"the header row can be right-clicked", {2, 2}, 'R', 0, {0, 0}},
      {"a drag extends it", {3, 3}, 'D', 5, {3, 5}},
      {"a drag onto the header row does not", {3, 3}, 'D', 0, {3, 3}},
      {"left with Shift extends from Row", {3, 5}, 'l', 1, {3, 1}},
      {"a left click on the header row does nothing", {3, 1}, 'L', 0, {3, 1}},
  };
  for (const auto& c : cases) {
    GridSelection sel = c.before;
    if (c.how == 'R' || c.how == 'S') Grid_RightClick(sel, c.row, c.how == 'S');
    if (c.how == 'L' || c.how == 'l') Grid_LeftPress(sel, c.row, c.how == 'l');
    if (c.how == 'D') Grid_LeftDrag(sel, c.row);
    EXPECT_EQ(std::pair(c.after.row, c.after.row_sel), std::pair(sel.row, sel.row_sel)) << c.name;
  }
}

TEST(BrowserRules, ButtonsByStatoSelezione) {
  // Letters of the enabled buttons: Elenco, Visualizza, Crea, canCella, Eventi; by
  // Stato_Selezione, without and with files sent back.
  const char* const want[][2] = {
      {"-----", "----R"}, {"E----", "E----"}, {"-VCX-", "-VCXR"}, {"--CX-", "--CXR"}};
  for (int stato = 0; stato < 4; ++stato) {
    for (bool pc_as : {false, true}) {
      std::string s;
      const auto b = BrowserButtonRules(stato, pc_as);
      for (int i = 0; i < kBrowserButtonCount; ++i) s += b[size_t(i)] ? "EVCXR"[i] : '-';
      EXPECT_EQ(want[stato][pc_as], s) << stato << pc_as;
    }
  }
}

TEST(Placement, StoredEdgesArePulledOntoTheScreenAndTheNormalPositionKeptWhenMaximised) {
  EXPECT_EQ(std::tuple(0, 3000, 18600, 18600),
            std::tuple(ClampToScreen(-300, 19200), ClampToScreen(3000, 19200),
                       ClampToScreen(18600, 19200), ClampToScreen(30000, 19200)));
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
