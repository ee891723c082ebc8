// frmFile, the catalogue browser: the catalogued files with the row counts of their mirror
// tables, the fields of one file, and the schema commands (build, drop, recreate the
// events) on the selected files.
//
// The grids are the browser core's (browser/grid.h), the selection and enabling rules
// windows/browser_rules.h, the commands schema/operations.h with the confirmation boxes
// centred on this window. Non-modal, owned by the main window, which places it;
// Finestra_File_Aperta is set while it is open.
#pragma once

#include <QAction>
#include <QTableWidget>
#include <QToolBar>
#include <QWidget>
#include <array>
#include <functional>

#include "browser/grid.h"
#include "control/controller.h"
#include "links/runtime.h"
#include "schema/operations.h"
#include "windows/browser_rules.h"

namespace torvan {

class BrowserWindow final : public QWidget {
 public:
  // Loads the window: sets the flag, refreshes the main toolbar, fills the file list.
  BrowserWindow(Runtime& rt, Confirmations& confirmations, FrontEnd& front, QWidget* owner);
  ~BrowserWindow() override;

  void Elenco_File();
  void Visualizza_Campi(int n);
  // Computes Stato_Selezione and enables the buttons.
  void Toolbar_Stato();
  // The toolbar click handler.
  void Command(BrowserButton button);
  // A mouse button on grid row `row` (0 = the header row).
  void GridMouse(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int row);

  const Grid& grid() const { return grid_; }
  const GridSelection& selection() const { return selection_; }
  int Stato_Selezione() const { return stato_selezione_; }
  QAction* action(BrowserButton b) const { return actions_[size_t(b)]; }
  QTableWidget* table() const { return table_; }
  QToolBar* toolbar() const { return toolbar_; }

  // Runs after the window has closed and cleared its flag.
  std::function<void()> on_closed;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Show(const Grid& grid);
  void ShowSelection();
  bool FileListShown() const;
  void Unload();

  Runtime& rt_;
  Schema schema_;
  FrontEnd& front_;
  QToolBar* toolbar_;
  QTableWidget* table_;
  std::array<QAction*, kBrowserButtonCount> actions_{};
  Grid grid_;
  GridSelection selection_;
  int stato_selezione_ = 0;
  bool file_ritorno_presenti_ = false;
  bool loaded_ = true;
};

}  // namespace torvan
