#include "windows/browser_rules.h"

#include <algorithm>

namespace torvan {

void Grid_RightClick(GridSelection& sel, int mouse_row, bool shift_only) {
  if (shift_only) {
    sel.row_sel = mouse_row;
  } else if (sel.row == sel.row_sel) {
    sel.row = mouse_row;
    sel.row_sel = mouse_row;
  }
}

void Grid_LeftPress(GridSelection& sel, int mouse_row, bool shift) {
  if (mouse_row < 1) return;
  if (!shift) sel.row = mouse_row;
  sel.row_sel = mouse_row;
}

void Grid_LeftDrag(GridSelection& sel, int mouse_row) {
  if (mouse_row >= 1) sel.row_sel = mouse_row;
}

int Toolbar_Stato(bool file_list_shown, const GridSelection& sel) {
  if (!file_list_shown) return 1;
  if (sel.row == sel.row_sel && sel.row > 0) return 2;
  if (sel.row_sel > 0 && sel.row > 0) return 3;
  return 0;
}

const std::array<BrowserButtonDesign, kBrowserButtonCount>& BrowserButtons() {
  static const std::array<BrowserButtonDesign, kBrowserButtonCount> buttons = {{
      {"File_Elenco", " Elenco file(s) ", "File", false},
      {"File_Visualizza", " Visualizza campi del file selezionato ", "Visualizza", true},
      {"File_Crea", " Costruisce file(s) selezionati ", "File_Crea", false},
      {"File_Cancella", " Cancella file(s) selezionati ", "Cancella", false},
      {"File_Eventi", " Ricrea il file degli eventi ", "Eventi", true},
  }};
  return buttons;
}

std::array<bool, kBrowserButtonCount> BrowserButtonRules(int stato, bool file_ritorno_presenti) {
  std::array<bool, kBrowserButtonCount> on{};
  on[kFileElenco] = stato == 1;
  on[kFileVisualizza] = stato == 2;
  on[kFileCrea] = stato == 2 || stato == 3;
  on[kFileCancella] = stato == 2 || stato == 3;
  on[kFileEventi] = stato != 1 && file_ritorno_presenti;
  return on;
}

FileRange SelectedFiles(const GridSelection& sel) {
  return {std::min(sel.row, sel.row_sel), std::max(sel.row, sel.row_sel)};
}

}  // namespace torvan
