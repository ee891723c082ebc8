// The catalogue browser's grid as data: header row, cell texts, column widths and
// alignment. The browser window draws it; the command line prints it. Filling it is the
// browser's logic, kept free of widgets so that both share it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/paths.h"
#include "schema/row_count.h"

namespace torvan {

enum class Align { kLeft, kCentre, kRight };

struct GridColumn {
  std::string header;
  int width;  // twips; 0 = hidden
  Align align;
};

struct Grid {
  std::vector<GridColumn> columns;
  std::vector<std::vector<std::string>> rows;  // row 0 is the header row
  std::string caption;

  const std::string& Cell(size_t row, size_t col) const { return rows[row][col]; }
  // Visible columns (width above 0), tab-separated, header line first; one line per row,
  // each ended by "\n". Texts stay Windows-1252.
  std::string ToTabText() const;
};

// The answer of Conta_Record for a database number and a table name; the grid shows its
// text ("non esiste", "no permesso", "0", "1.234").
using CountRecords = std::function<RowCount(int32_t indice_db, std::string_view table)>;

// The file list of TnC_FILE.DAT ("F" in cell (0, 0)). `has_pc_as` tells whether any listed
// file has Pc_As exactly "S".
Grid Elenco_File(const Paths& paths, const CountRecords& count, bool* has_pc_as);

// The field view of file number n ("C" in cell (0, 0)); `caption` is the window caption
// the file list's row gives ("Torvan  File LIB/FILE - text ").
Grid Visualizza_Campi(const Paths& paths, int n, std::string caption);

// The caption of the field view for row n of a file list.
std::string FieldViewCaption(const Grid& file_list, size_t n);

}  // namespace torvan
