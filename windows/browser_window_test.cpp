// The catalogue browser: the file list and the field view, the selection with the mouse,
// the placement beside the message window, the confirmations centred on their owner.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QMessageBox>
#include <QTimer>

#include "windows/test_support.h"
#include "windows/twips.h"
#include "windows/window_fixture.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;
using testing::WindowsTest;

TEST_F(WindowsTest, AnEmptyCatalogueShowsThePlaceholderRows) {
  Open();
  BrowserWindow& b = OpenBrowser();
  // The rows and caption as the grid makes them (the grid's tests).
  EXPECT_TRUE(state().Finestra_File_Aperta);
  EXPECT_EQ("Torvan  Elenco Files ", b.windowTitle());
  ASSERT_EQ(1, b.table()->rowCount());
  EXPECT_EQ("**** NESSUN FILE ****", b.table()->item(0, 3)->text());
  for (int k = 0; k < kBrowserButtonCount; ++k)
    EXPECT_FALSE(b.action(BrowserButton(k))->isEnabled());
  // Only Messaggi stays usable in the main window while the browser is open.
  for (int k = 0; k < kMainButtonCount; ++k) {
    EXPECT_EQ(k == kMessaggi, main().action(MainButton(k))->isEnabled()) << MainButtons()[k].key;
  }
  // The placeholder row selected: the field view of file 1, itself empty.
  ClickRow(b, 1, Qt::RightButton);
  EXPECT_EQ(2, b.Stato_Selezione());
  b.Command(kFileVisualizza);
  EXPECT_EQ("Torvan  File / - **** NESSUN FILE **** ", b.windowTitle());
  EXPECT_EQ("**** NESSUN CAMPO ****", b.table()->item(0, 3)->text());
}

TEST_F(WindowsTest, TheBrowserListsTheFilesAndSelectsWholeRowsWithTheRightButton) {
  Catalogue();
  Open();
  BrowserWindow& b = OpenBrowser();
  // Directly below the main window.
  EXPECT_EQ(main().frameGeometry().bottom() + 1, b.frameGeometry().top());
  QTableWidget* t = b.table();
  ASSERT_EQ(14, t->columnCount());
  ASSERT_EQ(3, t->rowCount());
  // The grid's headers (their texts: the grid's tests), the first column hidden.
  EXPECT_EQ("i-DataBase", t->horizontalHeaderItem(13)->text());
  int all_columns = 0;
  for (int c = 0; c < 14; ++c) {
    EXPECT_EQ(c == 0, t->isColumnHidden(c)) << c;
    all_columns += c == 0 ? 0 : t->columnWidth(c);
  }
  // At its default size every column shows, the description the widest.
  EXPECT_GE(t->viewport()->width(), all_columns);
  EXPECT_EQ(TwipsToPixels(3000, b.logicalDpiX()), t->columnWidth(3));
  EXPECT_EQ(Qt::AlignHCenter | Qt::AlignVCenter, t->item(0, 4)->textAlignment());
  EXPECT_EQ(Qt::AlignRight | Qt::AlignVCenter, t->item(0, 7)->textAlignment());
  EXPECT_EQ(Qt::AlignLeft | Qt::AlignVCenter, t->item(0, 1)->textAlignment());
  // Texts as stored, trailing blanks included; accented letters shown as such.
  EXPECT_EQ(QString::fromUtf8("Contatti del caffè") + QString(32, ' '), t->item(1, 3)->text());
  EXPECT_EQ("non esiste", t->item(0, 7)->text());
  EXPECT_EQ("1", t->item(0, 13)->text());
  // Nothing selected yet: only File_Eventi (a file is sent back).
  EXPECT_EQ(0, b.Stato_Selezione());
  EXPECT_TRUE(b.action(kFileEventi)->isEnabled());
  EXPECT_FALSE(b.action(kFileCrea)->isEnabled());

  // The selection: its row, the row it runs to, and the Stato_Selezione of it.
  auto sel = [&] {
    return std::tuple(b.selection().row, b.selection().row_sel, b.Stato_Selezione());
  };
  ClickRow(b, 2, Qt::RightButton);
  EXPECT_EQ(std::tuple(2, 2, 2), sel());
  EXPECT_TRUE(b.action(kFileVisualizza)->isEnabled());
  EXPECT_TRUE(t->item(1, 5)->isSelected());
  ClickRow(b, 3, Qt::RightButton, Qt::ShiftModifier);
  EXPECT_EQ(std::tuple(2, 3, 3), sel());
  EXPECT_FALSE(b.action(kFileVisualizza)->isEnabled());
  EXPECT_TRUE(b.action(kFileCrea)->isEnabled());
  EXPECT_TRUE(t->item(2, 13)->isSelected());
  EXPECT_FALSE(t->item(0, 1)->isSelected());
  SaveScreenshot(b, "browser_list");
  // Several rows selected: a right-click elsewhere keeps them.
  ClickRow(b, 1, Qt::RightButton);
  EXPECT_EQ(std::tuple(2, 3, 3), sel());
  // Shift together with Ctrl is no extension: the several rows stay.
  ClickRow(b, 1, Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(std::tuple(2, 3, 3), sel());
  // A left click selects one row again.
  ClickRow(b, 1, Qt::LeftButton);
  EXPECT_EQ(std::tuple(1, 1, 2), sel());
  // The header row joins the selection with Shift + right click: the commands do nothing.
  QTest::mouseClick(t->horizontalHeader()->viewport(), Qt::RightButton, Qt::ShiftModifier,
                    QPoint(40, 5));
  EXPECT_EQ(std::tuple(1, 0, 0), sel());
  lines_.clear();
  b.Command(kFileCrea);
  EXPECT_TRUE(lines_.empty());

  // The field view of one file.
  ClickRow(b, 1, Qt::LeftButton);
  b.Command(kFileVisualizza);
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", b.windowTitle());
  ASSERT_EQ(10, t->columnCount());
  ASSERT_EQ(3, t->rowCount());
  EXPECT_TRUE(t->isColumnHidden(0));
  EXPECT_EQ("C", t->horizontalHeaderItem(0)->text());
  auto cell = [&](int r, int c) { return t->item(r, c)->text().toStdString(); };
  // Length and decimals: "#0" when there is a length, "#" (nothing for 0) when not.
  EXPECT_EQ(std::tuple("2", "9", "0", "", "", "S"),
            std::tuple(cell(1, 1), cell(1, 5), cell(1, 6), cell(2, 5), cell(2, 6), cell(1, 9)));
  EXPECT_EQ(Qt::AlignHCenter | Qt::AlignVCenter, t->item(1, 4)->textAlignment());
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
  EXPECT_FALSE(state().Finestra_File_Aperta);
  EXPECT_TRUE(main().action(kFile)->isEnabled());
}

TEST_F(WindowsTest, TheBrowserAndTheMessageWindowStackBelowTheMainWindow) {
  Open();
  main().Click(kMessaggi);
  BrowserWindow& b = OpenBrowser();
  MessageWindow* m = main().messages();
  EXPECT_EQ(m->frameGeometry().bottom() + 1, b.frameGeometry().top());
  m->close();
  QApplication::processEvents();
  // The browser moves up below the main window.
  EXPECT_EQ(main().frameGeometry().bottom() + 1, b.frameGeometry().top());
  main().Click(kMessaggi);
  m = main().messages();
  EXPECT_EQ(b.frameGeometry().bottom() + 1, m->frameGeometry().top());
  b.close();
  QApplication::processEvents();
  EXPECT_EQ(main().frameGeometry().bottom() + 1, m->frameGeometry().top());
}

TEST_F(WindowsTest, AConfirmationIsCentredOnItsOwnerEvenPartlyOffScreen) {
  Open();
  BrowserWindow& b = OpenBrowser();
  b.move(-b.frameGeometry().width() / 2 - 100, 0);  // its centre off the screen
  const QRect owner = b.frameGeometry();
  const SeenBox& seen = seen_;
  const std::string question = QuestionText("GESTIONALE", "CLIENTI", "1.234");
  AnswerBox(QMessageBox::NoButton);  // Enter before rows are lost answers Annulla
  EXPECT_FALSE(
      desktop_.confirmations().AskOkCancel(Owner::kBrowser, kCancellaFileTitle, question, 0));
  EXPECT_EQ(" Cancella File ", seen.title);
  EXPECT_EQ(QMessageBox::Critical, seen.icon);
  EXPECT_TRUE(seen.buttons.contains("OK") && seen.buttons.contains("Annulla"));
  EXPECT_TRUE(seen.text.startsWith("il file GESTIONALE/CLIENTI contiene 1.234\nrecord(s) \n"));
  EXPECT_LE(std::abs(seen.frame.center().x() - owner.center().x()), 1);
  EXPECT_LE(std::abs(seen.frame.center().y() - owner.center().y()), 1);
  EXPECT_LT(seen.frame.left(), 0);  // partly off screen, still on its owner

  AnswerBox(QMessageBox::Ok);
  EXPECT_TRUE(
      desktop_.confirmations().AskOkCancel(Owner::kBrowser, kCancellaFileTitle, question, 0));

  // Over the main window when the main window asks.
  main().move(40, 30);
  AnswerBox(QMessageBox::Ok);
  desktop_.confirmations().ShowRefusal(Owner::kMainWindow, kCancellaFileTitle,
                                       RefusalText("GESTIONALE", "CLIENTI"));
  EXPECT_EQ(QStringList{"OK"}, seen.buttons);
  EXPECT_LE(std::abs(seen.frame.center().x() - main().frameGeometry().center().x()), 1);
  EXPECT_EQ("manca il permesso alla cancellazione\ndel file GESTIONALE/CLIENTI\n", seen.text);
}

TEST(CentredOn, TheBoxCentreIsTheOwnerCentreRoundedToAPixel) {
  EXPECT_EQ(QPoint(100, 50), CentredOn(QRect(0, 0, 400, 300), QSize(200, 200)));
  EXPECT_EQ(QPoint(-250, -40), CentredOn(QRect(-300, -10, 400, 100), QSize(300, 160)));
  // 0 + 101/2 - 50/2 = 25.5, rounded to 26.
  EXPECT_EQ(QPoint(26, 0), CentredOn(QRect(0, 0, 101, 40), QSize(50, 40)));
}

}  // namespace
}  // namespace torvan
