#include "windows/browser_window.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "schema/operations.h"
#include "windows/command_scope.h"
#include "windows/image_list.h"
#include "windows/qt_text.h"
#include "windows/status_display.h"
#include "windows/twips.h"

namespace torvan {

namespace {

// The window's design size; it is made wider at load to show every column of the list.
constexpr int kWidthTwips = 10200, kHeightTwips = 4500;

Qt::Alignment AlignmentOf(Align a) {
  switch (a) {
    case Align::kCentre:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    case Align::kRight:
      return Qt::AlignRight | Qt::AlignVCenter;
    case Align::kLeft:
      break;
  }
  return Qt::AlignLeft | Qt::AlignVCenter;
}

}  // namespace

BrowserWindow::BrowserWindow(Runtime& rt, Confirmations& confirmations, FrontEnd& front,
                             QWidget* owner)
    : QWidget(owner, Qt::Window),
      rt_(rt),
      schema_{rt.program, rt.catalogue, rt.connessioni, confirmations},
      front_(front),
      toolbar_(new QToolBar(this)),
      table_(new QTableWidget(this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Torvan  Gestione Files");
  const int dpi = logicalDpiX();
  resize(TwipsToPixels(kWidthTwips, dpi), TwipsToPixels(kHeightTwips, dpi));

  const int icon = std::max(16, TwipsToPixels(kIconTwips, dpi));
  toolbar_->setIconSize(QSize(icon, icon));
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  for (int b = 0; b < kBrowserButtonCount; ++b) {
    const BrowserButtonDesign& d = BrowserButtons()[size_t(b)];
    if (d.gap_before) toolbar_->addSeparator();
    QAction* a = toolbar_->addAction(ImageList::Icon(d.image), QString());
    a->setObjectName(d.key);
    a->setToolTip(QString::fromLatin1(d.tooltip));
    connect(a, &QAction::triggered, this, [this, b] { Command(BrowserButton(b)); });
    actions_[size_t(b)] = a;
  }

  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setWordWrap(false);
  table_->setFont(LayoutFont(table_->font()));
  table_->setTextElideMode(Qt::ElideNone);  // texts are cut, as stored
  table_->setFocusPolicy(Qt::NoFocus);
  table_->verticalHeader()->hide();
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
  table_->horizontalHeader()->setHighlightSections(false);
  table_->horizontalHeader()->setMinimumSectionSize(1);  // "T" is 300 twips wide
  table_->viewport()->installEventFilter(this);
  table_->horizontalHeader()->viewport()->installEventFilter(this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(toolbar_);
  layout->addWidget(table_);

  rt_.program.state.Finestra_File_Aperta = true;
  front_.Bar_Imposta();
  Elenco_File();
  // At its default size the file list shows all its columns, as wide as they were given.
  int columns = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < table_->columnCount(); ++c) {
    if (!table_->isColumnHidden(c)) columns += table_->columnWidth(c);
  }
  resize(std::max(width(), columns), height());
}

BrowserWindow::~BrowserWindow() { Unload(); }

bool BrowserWindow::FileListShown() const {
  return grid_.rows.size() > 0 && grid_.Cell(0, 0) == "F";
}

void BrowserWindow::Show(const Grid& g) {
  grid_ = g;
  setWindowTitle(ToQt(grid_.caption));
  table_->setUpdatesEnabled(false);
  table_->clear();
  table_->setColumnCount(int(grid_.columns.size()));
  table_->setRowCount(int(grid_.rows.size()) - 1);
  const int dpi = logicalDpiX();
  QStringList headers;
  for (size_t c = 0; c < grid_.columns.size(); ++c) {
    const GridColumn& column = grid_.columns[c];
    headers << ToQt(grid_.Cell(0, c));
    table_->setColumnHidden(int(c), column.width == 0);
    if (column.width > 0) table_->setColumnWidth(int(c), TwipsToPixels(column.width, dpi));
  }
  table_->setHorizontalHeaderLabels(headers);
  for (size_t r = 1; r < grid_.rows.size(); ++r) {
    for (size_t c = 0; c < grid_.columns.size(); ++c) {
      auto* item = new QTableWidgetItem(ToQt(grid_.Cell(r, c)));
      item->setTextAlignment(AlignmentOf(grid_.columns[c].align));
      table_->setItem(int(r) - 1, int(c), item);
    }
  }
  selection_ = {};
  ShowSelection();
  table_->scrollToTop();
  table_->setUpdatesEnabled(true);
  rt_.program.ProcessEvents();
  Toolbar_Stato();
}

void BrowserWindow::Elenco_File() {
  Grid g = torvan::Elenco_File(
      rt_.program.paths,
      [this](int32_t db, std::string_view table) { return Conta_Record(schema_, db, table); },
      &file_ritorno_presenti_);
  Show(g);
}

void BrowserWindow::Visualizza_Campi(int n) {
  std::string caption = FileListShown() ? FieldViewCaption(grid_, size_t(n)) : grid_.caption;
  Show(torvan::Visualizza_Campi(rt_.program.paths, n, std::move(caption)));
}

void BrowserWindow::Toolbar_Stato() {
  stato_selezione_ = torvan::Toolbar_Stato(FileListShown(), selection_);
  const auto on = BrowserButtonRules(stato_selezione_, file_ritorno_presenti_);
  for (int b = 0; b < kBrowserButtonCount; ++b) actions_[size_t(b)]->setEnabled(on[size_t(b)]);
}

void BrowserWindow::ShowSelection() {
  table_->clearSelection();
  const FileRange range = SelectedFiles(selection_);
  const int first = std::max(range.first, 1), last = range.last;
  if (last < 1 || table_->rowCount() == 0) return;
  table_->setRangeSelected(
      QTableWidgetSelectionRange(first - 1, 0, std::min(last, table_->rowCount()) - 1,
                                 table_->columnCount() - 1),
      true);
}

void BrowserWindow::GridMouse(Qt::MouseButton button, Qt::KeyboardModifiers modifiers, int row) {
  if (button == Qt::RightButton) {
    Grid_RightClick(selection_, row, modifiers == Qt::ShiftModifier);
  } else if (button == Qt::LeftButton) {
    Grid_LeftPress(selection_, row, modifiers.testFlag(Qt::ShiftModifier));
  }
  ShowSelection();
  Toolbar_Stato();
}

bool BrowserWindow::eventFilter(QObject* watched, QEvent* event) {
  const bool header = watched == table_->horizontalHeader()->viewport();
  if (watched != table_->viewport() && !header) return QWidget::eventFilter(watched, event);
  if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseMove &&
      event->type() != QEvent::MouseButtonDblClick) {
    return QWidget::eventFilter(watched, event);
  }
  auto* mouse = static_cast<QMouseEvent*>(event);
  const int row = header ? 0 : table_->rowAt(int(mouse->position().y())) + 1;
  if (event->type() == QEvent::MouseMove) {
    if (!header && mouse->buttons() == Qt::LeftButton && row >= 1) {
      Grid_LeftDrag(selection_, row);
      ShowSelection();
      Toolbar_Stato();
    }
    return !header;
  }
  if (header && mouse->button() != Qt::RightButton) return QWidget::eventFilter(watched, event);
  // A click below the last row is on no row: the selection stays.
  if (!header && row == 0) {
    Toolbar_Stato();
    return true;
  }
  GridMouse(mouse->button(), mouse->modifiers(), row);
  return true;
}

void BrowserWindow::Command(BrowserButton button) {
  CommandScope scope({toolbar_, table_}, *rt_.program.pump);
  Busy busy(rt_.program.state);
  if (!busy.entered()) return;
  switch (button) {
    case kFileElenco:
      Elenco_File();
      break;
    case kFileVisualizza:
      Visualizza_Campi(selection_.row);
      break;
    case kFileCrea: {
      const FileRange range = SelectedFiles(selection_);
      if (range.first < 1) break;
      for (int n = range.first; n <= range.last; ++n) Costruisci_File(schema_, Owner::kBrowser, n);
      Elenco_File();
      break;
    }
    case kFileCancella: {
      const FileRange range = SelectedFiles(selection_);
      if (range.first < 1) break;
      for (int n = range.first; n <= range.last; ++n) {
        Cancella_File(schema_, Owner::kBrowser, n, false);
      }
      Elenco_File();
      break;
    }
    case kFileEventi:
      Crea_File_Eventi(schema_, Owner::kBrowser);
      break;
  }
}

void BrowserWindow::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  rt_.program.state.Finestra_File_Aperta = false;
  front_.Bar_Imposta();
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
  // A command runs: its loop still works on this window (unless the program is ending).
  if (rt_.program.state.Comando_In_Corso && !rt_.program.state.Fine_Richiesta) {
    event->ignore();
    return;
  }
  Unload();
  event->accept();
  if (on_closed) on_closed();
}

}  // namespace torvan
