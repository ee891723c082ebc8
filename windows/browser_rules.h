// The catalogue browser's selection and toolbar rules, free of widgets.
//
// The grid numbers its rows as the catalogue does: row 0 is the header row, row n is file
// (or field) n. Row is the row where the selection started, RowSel the row where it ends;
// the commands work on the files between them.
#pragma once

#include <array>

namespace torvan {

struct GridSelection {
  int row = 0;      // Row
  int row_sel = 0;  // RowSel
};

// Right button on `mouse_row`. With Shift alone the selection is extended from Row to the
// clicked row; without Shift a selection of at most one row moves to the clicked row and a
// larger selection is kept. `shift_only` is true when Shift is the only modifier held.
void Grid_RightClick(GridSelection& sel, int mouse_row, bool shift_only);

// Left button pressed on a file row (1 or more): the row is selected; with Shift the
// selection is extended from Row. Dragging extends it to the row under the mouse.
void Grid_LeftPress(GridSelection& sel, int mouse_row, bool shift);
void Grid_LeftDrag(GridSelection& sel, int mouse_row);

// Stato_Selezione: 1 the field view is shown, 2 one file row selected, 3 several, 0 none.
int Toolbar_Stato(bool file_list_shown, const GridSelection& sel);

enum BrowserButton : int {
  kFileElenco,
  kFileVisualizza,
  kFileCrea,
  kFileCancella,
  kFileEventi,
};
inline constexpr int kBrowserButtonCount = 5;

struct BrowserButtonDesign {
  const char* key;
  const char* tooltip;
  const char* image;  // key in ImageList1
  bool gap_before;    // a narrow gap separates the groups
};
const std::array<BrowserButtonDesign, kBrowserButtonCount>& BrowserButtons();

// Which buttons Toolbar_Stato enables, by BrowserButton.
std::array<bool, kBrowserButtonCount> BrowserButtonRules(int stato_selezione,
                                                         bool file_ritorno_presenti);

// The files a build or drop works on: from the smaller to the larger of Row and RowSel.
// `first` is 0 when the selection includes the header row: the command then does nothing.
struct FileRange {
  int first;
  int last;
};
FileRange SelectedFiles(const GridSelection& sel);

}  // namespace torvan
