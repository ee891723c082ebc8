// The catalogue browser: the file list and the field view, the selection with the mouse,
// the placement beside the message window, the confirmations centred on their owner.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>

#include "windows/test_support.h"
#include "windows/window_fixture.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;
using testing::WindowsTest;

// Three catalogued files; the second one has an accented description and is sent back.
void WriteCatalogue(const Paths& paths) {
  const std::vector<File_Rec> files = {
      {"DATI", "CLIENTI", "Anagrafica clienti", "", "", "S", "N", "", "GESTIONALE", "", "", 1},
      {"DATI", "CONTATTI", "Contatti del caff\xE8", "", "", "S", "S", "", "GESTIONALE", "", "", 1},
      {"DATI", "ORDINI", "Righe ordini", "", "", "S", "N", "", "GESTIONALE", "", "", 1}};
  ASSERT_TRUE(WriteRecords(paths.file_catalogue, files).ok());
  const std::vector<Campo_Rec> fields = {{"CODCLI", "Codice cliente", "A", 8, 0, 1, 8, ""},
                                         {"FIDO", "Fido accordato in \x80", "P", 9, 0, 9, 5, "S"},
                                         {"NOTE", "", "A", 0, 0, 0, 0, ""}};
  ASSERT_TRUE(WriteRecords(paths.FieldFile(1), fields).ok());
}

// The grid's rows and texts are the grid's tests; here what the window makes of them.
TEST_F(WindowsTest, TheBrowserListsTheFilesAndSelectsWholeRowsWithTheRightButton) {
  WriteCatalogue(program().paths);
  Open();
  BrowserWindow& b = OpenBrowser();
  EXPECT_TRUE(state().Finestra_File_Aperta && !main().action(kFile)->isEnabled());
  QTableWidget* t = b.table();
  ASSERT_EQ(std::pair(14, 3), std::pair(t->columnCount(), t->rowCount()));
  int all_columns = 0;
  for (int c = 0; c < 14; ++c) {
    EXPECT_EQ(c == 0, t->isColumnHidden(c)) << c;
    all_columns += c == 0 ? 0 : t->columnWidth(c);
  }
  EXPECT_GE(t->viewport()->width(), all_columns);  // at its default size every column shows
  // Texts as stored, trailing blanks included; accented letters shown as such.
  EXPECT_EQ(QStringList({QString::fromUtf8("Contatti del caffè") + QString(32, ' '), "non esiste",
                         "1", "i-DataBase"}),
            QStringList({t->item(1, 3)->text(), t->item(0, 7)->text(), t->item(0, 13)->text(),
                         t->horizontalHeaderItem(13)->text()}));
  // Nothing selected yet: only File_Eventi (a file is sent back).
  EXPECT_EQ(0, b.Stato_Selezione());
  EXPECT_TRUE(b.action(kFileEventi)->isEnabled() && !b.action(kFileCrea)->isEnabled());

  // The selection: its row, the row it runs to, and the Stato_Selezione of it.
  auto sel = [&] {
    return std::tuple(b.selection().row, b.selection().row_sel, b.Stato_Selezione());
  };
  ClickRow(b, 2, Qt::RightButton);
  EXPECT_EQ(std::tuple(2, 2, 2), sel());
  EXPECT_TRUE(b.action(kFileVisualizza)->isEnabled() && t->item(1, 5)->isSelected());
  ClickRow(b, 3, Qt::RightButton, Qt::ShiftModifier);
  EXPECT_EQ(std::tuple(2, 3, 3), sel());
  EXPECT_TRUE(!b.action(kFileVisualizza)->isEnabled() && b.action(kFileCrea)->isEnabled());
  EXPECT_TRUE(t->item(2, 13)->isSelected() && !t->item(0, 1)->isSelected());
  SaveScreenshot(b, "browser_list");
  // Several rows selected: a right-click elsewhere keeps them, also with Shift and Ctrl.
  ClickRow(b, 1, Qt::RightButton);
  ClickRow(b, 1, Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(std::tuple(2, 3, 3), sel());
  ClickRow(b, 1, Qt::LeftButton);
  EXPECT_EQ(std::tuple(1, 1, 2), sel());
  // The header row joins the selection with Shift + right click: the commands do nothing.
  QTest::mouseClick(t->horizontalHeader()->viewport(), Qt::RightButton, Qt::ShiftModifier,
                    QPoint(40, 5));
  EXPECT_EQ(std::tuple(1, 0, 0), sel());
  lines_.clear();
  b.Command(kFileCrea);
  EXPECT_TRUE(lines_.empty());

  // The field view of one file (its cells: the grid's tests).
  ClickRow(b, 1, Qt::LeftButton);
  b.Command(kFileVisualizza);
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", b.windowTitle());
  ASSERT_EQ(std::pair(10, 3), std::pair(t->columnCount(), t->rowCount()));
  EXPECT_TRUE(t->isColumnHidden(0));
  EXPECT_TRUE(t->item(1, 3)->text().startsWith(QString::fromUtf8("Fido accordato in €")));
  EXPECT_EQ(1, b.Stato_Selezione());
  for (int k = 0; k < kBrowserButtonCount; ++k) {
    EXPECT_EQ(k == kFileElenco, b.action(BrowserButton(k))->isEnabled());
  }
  SaveScreenshot(b, "browser_fields");
  b.Command(kFileElenco);
  EXPECT_EQ("Torvan  Elenco Files ", b.windowTitle());
  EXPECT_EQ(0, b.Stato_Selezione());

  // Closing gives the main window its commands back.
  b.close();
  QApplication::processEvents();
  EXPECT_TRUE(!state().Finestra_File_Aperta && main().action(kFile)->isEnabled());
}

TEST_F(WindowsTest, AConfirmationIsCentredOnItsOwnerEvenPartlyOffScreen) {
  Open();
  BrowserWindow& b = OpenBrowser();
  b.move(-b.frameGeometry().width() / 2 - 100, 0);  // its centre off the screen
  const QRect owner = b.frameGeometry();
  auto dx = [&](const QRect& r) { return std::abs(seen_.frame.center().x() - r.center().x()); };
  const std::string question = QuestionText("GESTIONALE", "CLIENTI", "1.234");
  AnswerBox(QMessageBox::NoButton);  // Enter before rows are lost answers Annulla
  EXPECT_FALSE(
      desktop_.confirmations().AskOkCancel(Owner::kBrowser, kCancellaFileTitle, question, 0));
  EXPECT_EQ(std::tuple(" Cancella File ", QMessageBox::Critical),
            std::tuple(seen_.title, seen_.icon));
  EXPECT_TRUE(seen_.buttons.contains("OK") && seen_.buttons.contains("Annulla"));
  EXPECT_TRUE(seen_.text.startsWith("il file GESTIONALE/CLIENTI contiene 1.234\nrecord(s) \n"));
  EXPECT_LE(std::max(dx(owner), std::abs(seen_.frame.center().y() - owner.center().y())), 1);
  EXPECT_LT(seen_.frame.left(), 0);  // partly off screen, still on its owner
  AnswerBox(QMessageBox::Ok);
  EXPECT_TRUE(
      desktop_.confirmations().AskOkCancel(Owner::kBrowser, kCancellaFileTitle, question, 0));

  // Over the main window when the main window asks.
  main().move(40, 30);
  AnswerBox(QMessageBox::Ok);
  desktop_.confirmations().ShowRefusal(Owner::kMainWindow, kCancellaFileTitle,
                                       RefusalText("GESTIONALE", "CLIENTI"));
  EXPECT_EQ(QStringList{"OK"}, seen_.buttons);
  EXPECT_LE(dx(main().frameGeometry()), 1);
  EXPECT_EQ("manca il permesso alla cancellazione\ndel file GESTIONALE/CLIENTI\n", seen_.text);
}

}  // namespace
}  // namespace torvan
