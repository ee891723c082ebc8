// The windows on Qt's offscreen platform, with the real Controller and a ping that the
// test answers: start-up, the toolbar, the status display, the message window, the options
// dialog, the catalogue browser, the centred confirmations, the close and the splash.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "catalogue/catalogue_files.h"
#include "config/ini_file.h"
#include "config/scramble.h"
#include "config/settings.h"
#include "core/statistics.h"
#include "core/text.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "windows/desktop.h"
#include "windows/image_list.h"
#include "windows/splash.h"
#include "windows/test_support.h"
#include "windows/twips.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;

class WindowsTest : public ::testing::Test {
 protected:
  WindowsTest() {
    setenv("TORVAN_HOSTS_FILE", (folder_ / "hosts").c_str(), 1);
    // The settings an operator would have saved: the standard values with the host named.
    OptionsForm form = OptionsForm_Standard();
    form.txtIN1 = "127.0.0.1";
    Program& program = desktop_.program();
    EXPECT_TRUE(OptionsForm_Save(program, form).ok());
    desktop_.main().close_pause = std::chrono::milliseconds(0);
    desktop_.control().ping = [this](int32_t, int32_t, uint32_t) {
      ++pings_;
      hostlink::PingResult r;
      r.failed = !host_answers_;
      return r;
    };
    auto shown = program.log.on_status_line;
    program.log.on_status_line = [this, shown](std::string_view line) {
      lines_.emplace_back(line.substr(11));  // without "hh:nn:ss - "
      if (shown) shown(line);
    };
  }
  ~WindowsTest() override { unsetenv("TORVAN_HOSTS_FILE"); }

  Program& program() { return desktop_.program(); }
  RunState& state() { return desktop_.program().state; }
  MainWindow& main() { return desktop_.main(); }
  void Open() {
    lines_.clear();
    desktop_.Open();
  }
  // Lines of the message window, "\n" between them.
  static QStringList Lines(const QString& text) { return text.split('\n'); }

  // Three catalogued files; the second one has an accented description and is sent back.
  void Catalogue() {
    std::vector<File_Rec> files(3);
    const char* names[] = {"CLIENTI", "CONTATTI", "ORDINI"};
    const char* texts[] = {"Anagrafica clienti", "Contatti del caff\xE8", "Righe ordini"};
    for (size_t i = 0; i < files.size(); ++i) {
      files[i].Libreria = "DATI";
      files[i].File = names[i];
      files[i].Testo = texts[i];
      files[i].As_Pc = "S";
      files[i].Pc_As = i == 1 ? "S" : "N";
      files[i].DataBase = "GESTIONALE";
      files[i].Indice_DB = 1;
    }
    ASSERT_TRUE(WriteRecords(program().paths.file_catalogue, files).ok());
    std::vector<Campo_Rec> fields(3);
    fields[0].Nome = "CODCLI";
    fields[0].Testo = "Codice cliente";
    fields[0].Tipo = "A";
    fields[0].Lunghezza = 8;
    fields[0].Posizione = 1;
    fields[0].Byte = 8;
    fields[1].Nome = "FIDO";
    fields[1].Testo = "Fido accordato in \x80";
    fields[1].Tipo = "P";
    fields[1].Lunghezza = 9;
    fields[1].Decimali = 0;
    fields[1].Posizione = 9;
    fields[1].Byte = 5;
    fields[1].Escluso = "S";
    fields[2].Nome = "NOTE";
    fields[2].Tipo = "A";
    ASSERT_TRUE(WriteRecords(program().paths.FieldFile(1), fields).ok());
  }
  // The browser, opened from the toolbar as with the SQL connections open.
  BrowserWindow& OpenBrowser() {
    state().Collegato_SQL = true;
    main().Click(kFile);
    EXPECT_NE(nullptr, main().browser());
    return *main().browser();
  }
  // A click of `button` on file-list row `row` (1 = the first file) of the browser's grid.
  static void ClickRow(BrowserWindow& b, int row, Qt::MouseButton button,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTableWidget* t = b.table();
    const QRect cell = t->visualRect(t->model()->index(row - 1, 1));
    QTest::mouseClick(t->viewport(), button, modifiers, cell.center());
  }

  platform::TempFolder folder_{"torvan-windows"};
  Desktop desktop_{Paths::InFolder(folder_.path())};
  std::vector<std::string> lines_;
  bool host_answers_ = true;
  int pings_ = 0;
};

TEST_F(WindowsTest, StartUpChecksTheSourceServerOnceAndConnectsNothing) {
  Open();
  EXPECT_EQ(std::vector<std::string>{"Server sorgente 127.0.0.1 presente"}, lines_);
  EXPECT_EQ(1, pings_);
  EXPECT_FALSE(state().LinkUp || state().Collegato_SQL);
  EXPECT_EQ(StatoSincronismo::kSpento, state().Stato_Sincronismo);
  EXPECT_EQ("Torvan", main().windowTitle());
  EXPECT_EQ("1.0.0   Linux - Qt", main().release().text());
  EXPECT_NE(0u, state().Timer_Video);
  EXPECT_EQ(0, state().Timer_Ciclo);
  // Idle: Uscita, Server, Opzioni, Messaggi and Reset; not Timer nor File.
  const bool expected[] = {true, true, false, true, false, true, true};
  for (int b = 0; b < kMainButtonCount; ++b) {
    EXPECT_EQ(expected[b], main().action(MainButton(b))->isEnabled()) << MainButtons()[b].key;
    EXPECT_EQ(MainButtons()[b].image, main().image(MainButton(b)));
    EXPECT_FALSE(main().action(MainButton(b))->icon().isNull());
  }
  EXPECT_EQ(" Uscita da Torvan ", main().action(kUscita)->toolTip());
  EXPECT_EQ("Collegamento con il server origine", main().action(kServer)->toolTip());
  main().display().Video();
  SaveScreenshot(main(), "main_idle");
}

TEST_F(WindowsTest, AnAbsentSourceServerIsOnlyLogged) {
  host_answers_ = false;
  Open();
  EXPECT_EQ(std::vector<std::string>{"Server sorgente 127.0.0.1 NON PRESENTE"}, lines_);
  EXPECT_TRUE(main().isVisible());
  EXPECT_FALSE(main().exit_status());
}

TEST_F(WindowsTest, TheServerButtonFollowsTheLinks) {
  Open();
  state().LinkUp = true;
  state().Collegato_SQL = true;
  main().Bar_Imposta();
  EXPECT_EQ("Server1", main().image(kServer));
  EXPECT_EQ("Fine collegamento con il server origine", main().action(kServer)->toolTip());
  EXPECT_TRUE(main().action(kTimer)->isEnabled());
  EXPECT_TRUE(main().action(kFile)->isEnabled());
  EXPECT_FALSE(main().action(kOpzioni)->isEnabled());
  state().Stato_Sincronismo = StatoSincronismo::kAttivo;
  main().Bar_Imposta();
  EXPECT_EQ("Timer1", main().image(kTimer));
  EXPECT_FALSE(main().action(kServer)->isEnabled());
  state().LinkUp = false;
  main().Bar_Imposta();
  EXPECT_EQ("Server", main().image(kServer));
  EXPECT_EQ("Collegamento con il server origine", main().action(kServer)->toolTip());
}

TEST_F(WindowsTest, TheStatusDisplayShowsBlanksForZeroAndFitsLongValues) {
  Open();
  StatusDisplay& d = main().display();
  const auto& fields = StatFields();
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(std::string::npos, d.FieldText(i).find_first_not_of(' ')) << fields[i].tooltip;
  }
  Statistics& s = program().stats;
  s.Stat_Contatori[kRecordsReceived] = 1234567;
  s.Stat_Tempi[kMsPerRecordReceived] = 123456.789f;
  s.Stat_Testi[kFileReceived] = "UN_NOME_DI_FILE_MOLTO_LUNGO_CHE_NON_STA";
  s.Stat_Testi[kLibrarySent] = "CAFF\xC8";
  auto text = [&](StatField::Source source, int index) {
    for (size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].source == source && fields[i].index == index) return d.FieldText(i);
    }
    return std::string("?");
  };
  // Right-aligned: the number's last digits, blanks in front.
  EXPECT_EQ("1234567", Trim(text(StatField::Source::kCounter, kRecordsReceived)));
  const std::string media = Trim(text(StatField::Source::kTime, kMsPerRecordReceived));
  EXPECT_NE("123456.789", media);
  EXPECT_EQ(media, std::string("123456.789").substr(10 - media.size()));
  // Left-aligned: the text's first characters.
  const std::string file = Trim(text(StatField::Source::kText, kFileReceived));
  EXPECT_LT(file.size(), 39u);
  EXPECT_EQ(0u, std::string("UN_NOME_DI_FILE_MOLTO_LUNGO_CHE_NON_STA").find(file));
  EXPECT_EQ("CAFF\xC8", Trim(text(StatField::Source::kText, kLibrarySent)));
  // Every field carries its tooltip where it is drawn, and so does the lamp.
  const int dpi = d.logicalDpiX();
  for (const StatField& f : fields) {
    const int left = f.right ? f.x + 15 - f.width : f.x;
    const QPoint inside(TwipsToPixels(left + f.width / 2, dpi), TwipsToPixels(f.y, dpi) + 4);
    EXPECT_EQ(QString::fromLatin1(f.tooltip), d.ToolTipAt(inside));
  }
  EXPECT_EQ("Stato del sincronismo",
            d.ToolTipAt(QPoint(TwipsToPixels(1775, dpi), TwipsToPixels(1770, dpi))));
  d.Video();
  EXPECT_EQ(10u, s.Stat_Testi[kDateText].size());
  EXPECT_EQ(5u, s.Stat_Testi[kTimeText].size());
  s.Stat_Testi[kHostStopText] = "06/12/26  02:00";
  s.Stat_Testi[kHostRestartText] = "06/12/26  05:30";
  SaveScreenshot(main(), "main_statistics");

  // Reset clears both rows, not the date, time, host times or the status line.
  main().Click(kReset);
  EXPECT_EQ(0, s.Stat_Contatori[kRecordsReceived]);
  EXPECT_EQ("", s.Stat_Testi[kFileReceived]);
  EXPECT_EQ("06/12/26  02:00", s.Stat_Testi[kHostStopText]);
  EXPECT_EQ(10u, s.Stat_Testi[kDateText].size());

  // A counter past 2000000000 clears both rows at the next tick.
  s.Stat_Contatori[kRecordsSent] = 2000000001;
  s.Stat_Tempi[kSecondsReceiving] = 4.5f;
  d.Video();
  EXPECT_EQ(0, s.Stat_Contatori[kRecordsSent]);
  EXPECT_EQ(0.0f, s.Stat_Tempi[kSecondsReceiving]);
}

TEST_F(WindowsTest, TheLampShowsTheRunStateAlternatelyBrightAndDarkEveryTenTicks) {
  Open();
  StatusDisplay& d = main().display();
  std::vector<int> seen;
  auto ten_ticks = [&] {
    for (int i = 0; i < 9; ++i) d.Video();
    const int before = d.lamp().visible();
    d.Video();
    seen.push_back(d.lamp().visible());
    return before;
  };
  EXPECT_EQ(0, ten_ticks());  // nothing changes before the tenth tick
  ten_ticks();
  state().Stato_Sincronismo = StatoSincronismo::kSospeso;
  ten_ticks();
  ten_ticks();
  state().Stato_Sincronismo = StatoSincronismo::kAttivo;
  ten_ticks();
  ten_ticks();
  EXPECT_EQ((std::vector<int>{1, 0, 3, 2, 5, 4}), seen);
  EXPECT_EQ(QColor(255, 0, 0), Lamp::Colour(0));
  EXPECT_EQ(QColor(192, 192, 0), Lamp::Colour(3));
  EXPECT_EQ(QColor(0, 192, 0), Lamp::Colour(5));
}

TEST_F(WindowsTest, TheMessageWindowKeepsTheLastSixteenLines) {
  Open();
  main().Click(kMessaggi);
  MessageWindow* m = main().messages();
  ASSERT_NE(nullptr, m);
  EXPECT_TRUE(state().Finestra_Messaggi_Aperta);
  EXPECT_FALSE(main().action(kMessaggi)->isEnabled());
  EXPECT_EQ("Torvan  Messaggi", m->windowTitle());
  // Directly below the main window.
  EXPECT_EQ(main().frameGeometry().left(), m->frameGeometry().left());
  EXPECT_EQ(main().frameGeometry().bottom() + 1, m->frameGeometry().top());

  // No message yet: sixteen blank lines.
  QStringList lines = Lines(m->Text());
  ASSERT_EQ(16, lines.size());
  for (const QString& l : lines) EXPECT_EQ(" ", l);

  // Three: the last three lines, the first thirteen still blank.
  program().Scrivi_Messaggio("uno");
  program().Scrivi_Messaggio("due");
  program().Scrivi_Messaggio("caff\xE8 pronto");
  lines = Lines(m->Text());
  ASSERT_EQ(16, lines.size());
  EXPECT_EQ(" ", lines[12]);
  EXPECT_TRUE(lines[13].endsWith(" - uno"));
  EXPECT_TRUE(lines[14].endsWith(" - due"));
  EXPECT_TRUE(lines[15].endsWith(QString::fromUtf8(" - caffè pronto"))) << lines[15].toStdString();
  SaveScreenshot(*m, "messages");

  // Twenty: messages 5 to 20.
  for (int i = 4; i <= 20; ++i) program().Scrivi_Messaggio("messaggio " + std::to_string(i));
  lines = Lines(m->Text());
  ASSERT_EQ(16, lines.size());
  EXPECT_TRUE(lines[0].endsWith(" - messaggio 5"));
  EXPECT_TRUE(lines[15].endsWith(" - messaggio 20"));

  m->close();
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().messages());
  EXPECT_FALSE(state().Finestra_Messaggi_Aperta);
  EXPECT_TRUE(main().action(kMessaggi)->isEnabled());

  // Opened again it starts blank: what came meanwhile is not shown.
  program().Scrivi_Messaggio("mentre era chiusa");
  main().Click(kMessaggi);
  lines = Lines(main().messages()->Text());
  EXPECT_EQ(" ", lines[15]);
}

TEST_F(WindowsTest, TheOptionsDialogLoadsSetsStandardValuesAndSavesTheExactBytes) {
  OptionsForm typed = OptionsForm_Standard();
  typed.txtIN1 = "as400.ditta.it";
  typed.txtIN3 = "segreto";
  typed.txtIN15 = "002500";
  typed.chkLog_PC_AS = true;
  ASSERT_TRUE(OptionsForm_Save(program(), typed).ok());
  Open();
  main().Click(kOpzioni);
  OptionsDialog* o = main().options();
  ASSERT_NE(nullptr, o);
  EXPECT_EQ("Torvan  Opzioni", o->windowTitle());
  EXPECT_TRUE(state().Finestra_Opzioni_Aperta);
  for (int b = 0; b < kMainButtonCount; ++b) {
    EXPECT_FALSE(main().action(MainButton(b))->isEnabled()) << MainButtons()[b].key;
  }
  // Centred over the main window, top edges aligned.
  EXPECT_EQ(main().frameGeometry().top(), o->frameGeometry().top());
  EXPECT_LE(std::abs(main().frameGeometry().center().x() - o->frameGeometry().center().x()), 1);

  auto box = [&](const char* name) { return o->findChild<QLineEdit*>(name); };
  auto check = [&](const char* name) { return o->findChild<QCheckBox*>(name); };
  // The first panel's boxes as stored, blanks included; the timings as plain numbers.
  EXPECT_EQ(QString("as400.ditta.it") + QString(36, ' '), box("txtIN1")->text());
  EXPECT_EQ("SEGRETO   ", box("txtIN3")->text());
  EXPECT_EQ(QLineEdit::Password, box("txtIN3")->echoMode());
  EXPECT_EQ("4200 ", box("txtIN5")->text());
  EXPECT_EQ("2500", box("txtIN15")->text());
  EXPECT_EQ("30", box("txtIN13")->text());
  EXPECT_TRUE(check("chkLog_PC_AS")->isChecked());
  EXPECT_FALSE(check("chkLog")->isChecked());
  EXPECT_EQ("Nome della connessione o indirizzo IP del server origine", box("txtIN1")->toolTip());
  EXPECT_EQ("Attesa restart in minuti (0=spegimento e accensione da calendario)",
            box("txtIN18")->toolTip());
  EXPECT_EQ("Aggiorna ed esce", o->findChild<QPushButton*>("cmdAggiorna")->toolTip());
  SaveScreenshot(*o, "options");

  // Keyboard order: the first panel, the second, the three check boxes, the buttons.
  const char* order[] = {
      "txtIN1",       "txtIN2",          "txtIN3",      "txtIN5",      "txtIN16",  "txtIN17",
      "txtIN12",      "txtIN13",         "txtIN14",     "txtIN18",     "txtIN15",  "chkLog",
      "chkLog_PC_AS", "chkNativeClient", "cmdAggiorna", "cmdStandard", "cmdUscita"};
  QWidget* w = box("txtIN1");
  for (const char* name : order) {
    ASSERT_EQ(name, w->objectName().toStdString());
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
  }
  EXPECT_EQ("txtIN1", w->objectName());

  // "Standard" changes the boxes only; "Uscita" leaves TnC.INI as it was.
  std::string before;
  ASSERT_TRUE(platform::ReadFile(program().paths.settings, &before).ok());
  o->findChild<QPushButton*>("cmdStandard")->click();
  EXPECT_EQ("sistema origine", box("txtIN1")->text());
  EXPECT_EQ("", box("txtIN3")->text());
  EXPECT_EQ("1000", box("txtIN15")->text());
  EXPECT_FALSE(check("chkLog_PC_AS")->isChecked());
  o->findChild<QPushButton*>("cmdUscita")->click();
  QApplication::processEvents();
  std::string after;
  ASSERT_TRUE(platform::ReadFile(program().paths.settings, &after).ok());
  EXPECT_EQ(before, after);
  EXPECT_EQ(nullptr, main().options());
  EXPECT_FALSE(state().Finestra_Opzioni_Aperta);
  EXPECT_TRUE(main().action(kOpzioni)->isEnabled());

  // "Standard" then "Aggiorna": the standard parameter string, byte for byte.
  main().Click(kOpzioni);
  o = main().options();
  o->findChild<QPushButton*>("cmdStandard")->click();
  lines_.clear();
  o->findChild<QPushButton*>("cmdAggiorna")->click();
  QApplication::processEvents();
  const std::string plain =
      Decodifica_Parametri(
          GetPrivateProfileString("Generale", "Parametri", "", program().paths.settings))
          .text;
  EXPECT_EQ(std::string("sistema origine") + std::string(35, ' ') + "UTENTE    " +
                std::string(10, ' ') + "4200 " + "00002" + "00030" + "00015" + "01000" +
                "TM        " + "21   " + "N" + "N" + "0    " + "N",
            plain);
  EXPECT_EQ(
      (std::vector<std::string>{"Opzioni aggiornate", "Server sorgente sistema origine presente"}),
      lines_);
  EXPECT_EQ("sistema origine", program().settings.parametri.Nome_Connessione);
  EXPECT_EQ(nullptr, main().options());
  EXPECT_FALSE(state().Finestra_Opzioni_Aperta);
}

TEST_F(WindowsTest, AnEmptyCatalogueShowsThePlaceholderRows) {
  Open();
  BrowserWindow& b = OpenBrowser();
  EXPECT_TRUE(state().Finestra_File_Aperta);
  EXPECT_EQ("Torvan  Elenco Files ", b.windowTitle());
  ASSERT_EQ(1, b.table()->rowCount());
  EXPECT_EQ("**** NESSUN FILE ****", b.table()->item(0, 3)->text());
  EXPECT_EQ("F", b.table()->item(0, 0)->text());
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
  EXPECT_EQ("C", b.table()->item(0, 0)->text());
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
  const char* headers[] = {"F",       "Libreria", "File",    "Testo",     "As->Pc",
                           "Pc->As",  "DataBase", "Records", "Acq",       "Libr",
                           "Trigger", "Libr",     "Filtro",  "i-DataBase"};
  const int widths[] = {0,   1200, 1200, 3000, 660,  660,  1200,
                        885, 660,  1200, 1200, 1200, 1200, 1200};
  const int dpi = b.logicalDpiX();
  for (int c = 0; c < 14; ++c) {
    EXPECT_EQ(headers[c], t->horizontalHeaderItem(c)->text().toStdString());
    if (widths[c] == 0) {
      EXPECT_TRUE(t->isColumnHidden(c));
    } else {
      EXPECT_EQ(TwipsToPixels(widths[c], dpi), t->columnWidth(c)) << headers[c];
    }
  }
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

  ClickRow(b, 2, Qt::RightButton);
  EXPECT_EQ(2, b.selection().row);
  EXPECT_EQ(2, b.selection().row_sel);
  EXPECT_EQ(2, b.Stato_Selezione());
  EXPECT_TRUE(b.action(kFileVisualizza)->isEnabled());
  EXPECT_TRUE(t->item(1, 5)->isSelected());
  ClickRow(b, 3, Qt::RightButton, Qt::ShiftModifier);
  EXPECT_EQ(2, b.selection().row);
  EXPECT_EQ(3, b.selection().row_sel);
  EXPECT_EQ(3, b.Stato_Selezione());
  EXPECT_FALSE(b.action(kFileVisualizza)->isEnabled());
  EXPECT_TRUE(b.action(kFileCrea)->isEnabled());
  EXPECT_TRUE(t->item(2, 13)->isSelected());
  EXPECT_FALSE(t->item(0, 1)->isSelected());
  SaveScreenshot(b, "browser_list");
  // Several rows selected: a right-click elsewhere keeps them.
  ClickRow(b, 1, Qt::RightButton);
  EXPECT_EQ(2, b.selection().row);
  EXPECT_EQ(3, b.selection().row_sel);
  // Shift together with Ctrl is no extension: the several rows stay.
  ClickRow(b, 1, Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier);
  EXPECT_EQ(3, b.selection().row_sel);
  // A left click selects one row again.
  ClickRow(b, 1, Qt::LeftButton);
  EXPECT_EQ(1, b.selection().row);
  EXPECT_EQ(1, b.selection().row_sel);
  // The header row joins the selection with Shift + right click: the commands do nothing.
  QTest::mouseClick(t->horizontalHeader()->viewport(), Qt::RightButton, Qt::ShiftModifier,
                    QPoint(40, 5));
  EXPECT_EQ(0, b.selection().row_sel);
  EXPECT_EQ(0, b.Stato_Selezione());
  lines_.clear();
  b.Command(kFileCrea);
  EXPECT_TRUE(lines_.empty());

  // The field view of one file.
  ClickRow(b, 1, Qt::LeftButton);
  b.Command(kFileVisualizza);
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", b.windowTitle());
  ASSERT_EQ(10, t->columnCount());
  ASSERT_EQ(3, t->rowCount());
  const int field_widths[] = {0, 480, 1260, 3765, 300, 600, 540, 660, 570, 630};
  for (int c = 1; c < 10; ++c) EXPECT_EQ(TwipsToPixels(field_widths[c], dpi), t->columnWidth(c));
  EXPECT_TRUE(t->isColumnHidden(0));
  EXPECT_EQ("C", t->horizontalHeaderItem(0)->text());
  EXPECT_EQ("2", t->item(1, 1)->text());
  EXPECT_EQ("9", t->item(1, 5)->text());
  EXPECT_EQ("0", t->item(1, 6)->text());  // "#0" when there is a length
  EXPECT_EQ("", t->item(2, 5)->text());   // "#": nothing for 0
  EXPECT_EQ("", t->item(2, 6)->text());
  EXPECT_EQ("S", t->item(1, 9)->text());
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
  b.move(-300, 0);
  const QRect owner = b.frameGeometry();
  struct Seen {
    QRect frame;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
  } seen;
  auto answer = [&](QMessageBox::StandardButton which) {
    QTimer::singleShot(0, [&, which] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(nullptr, box);
      seen.frame = box->frameGeometry();
      seen.title = box->windowTitle();
      seen.text = box->text();
      seen.icon = box->icon();
      seen.buttons.clear();
      for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
      box->button(which)->click();
    });
  };
  const std::string question = QuestionText("GESTIONALE", "CLIENTI", "1.234");
  answer(QMessageBox::Cancel);
  EXPECT_FALSE(desktop_.confirmations().AskOkCancel(Owner::kBrowser, kCancellaFileTitle, question));
  EXPECT_EQ(" Cancella File ", seen.title);
  EXPECT_EQ(QMessageBox::Critical, seen.icon);
  EXPECT_TRUE(seen.buttons.contains("OK"));
  EXPECT_TRUE(seen.buttons.contains("Annulla"));
  EXPECT_TRUE(seen.text.startsWith("il file GESTIONALE/CLIENTI contiene 1.234\nrecord(s) \n"));
  EXPECT_LE(std::abs(seen.frame.center().x() - owner.center().x()), 1);
  EXPECT_LE(std::abs(seen.frame.center().y() - owner.center().y()), 1);
  EXPECT_LT(seen.frame.left(), 0);  // partly off screen, still on its owner

  answer(QMessageBox::Ok);
  EXPECT_TRUE(desktop_.confirmations().AskOkCancel(Owner::kBrowser, kCancellaFileTitle, question));

  // Over the main window when the main window asks.
  main().move(40, 30);
  answer(QMessageBox::Ok);
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

TEST_F(WindowsTest, TheCloseIsRefusedWhileReplicationIsActiveOrSuspended) {
  Open();
  main().Click(kMessaggi);
  for (StatoSincronismo s : {StatoSincronismo::kAttivo, StatoSincronismo::kSospeso}) {
    state().Stato_Sincronismo = s;
    lines_.clear();
    EXPECT_FALSE(main().close());
    EXPECT_TRUE(main().isVisible());
    EXPECT_TRUE(lines_.empty());
    EXPECT_FALSE(main().exit_status());
  }
  state().Stato_Sincronismo = StatoSincronismo::kSpento;
  main().move(150, 90);
  EXPECT_TRUE(main().close());
  QApplication::processEvents();
  EXPECT_EQ(std::vector<std::string>{"Completate le operazioni di scollegamento"}, lines_);
  EXPECT_EQ(0, main().exit_status().value_or(-1));
  EXPECT_EQ(nullptr, main().messages());
  // The placement is saved for the next start.
  const int dpi = main().logicalDpiX();
  EXPECT_EQ(
      "0", GetPrivateProfileString("Dimensioni Base", "WindowState", "", program().paths.settings));
  EXPECT_EQ(std::to_string(PixelsToTwips(150, dpi)),
            GetPrivateProfileString("Dimensioni Base", "Left", "", program().paths.settings));
  EXPECT_EQ(std::to_string(PixelsToTwips(90, dpi)),
            GetPrivateProfileString("Dimensioni Base", "Top", "", program().paths.settings));
}

TEST_F(WindowsTest, AHostLinkThatCannotBeOpenedEndsTheProgram) {
  Open();
  desktop_.control().options.pause_before_end = std::chrono::milliseconds(0);
  main().Click(kMessaggi);
  lines_.clear();
  main().Click(kServer);  // no character table in the base folder: the link cannot start
  ASSERT_LE(2u, lines_.size());
  EXPECT_EQ("Server sorgente 127.0.0.1 presente", lines_[0]);
  EXPECT_EQ("Collegamento al Server 127.0.0.1 in corso ...", lines_[1]);
  EXPECT_EQ("ERRORE nel collegamento al server 127.0.0.1", lines_.back());
  EXPECT_EQ(kExitHostLinkFailed, main().exit_status().value_or(-1));
  EXPECT_FALSE(main().isVisible());
  EXPECT_EQ(nullptr, QApplication::overrideCursor());
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().messages());
  EXPECT_TRUE(main().close());  // the end has run: nothing more is done
  EXPECT_EQ("ERRORE nel collegamento al server 127.0.0.1", lines_.back());
}

TEST_F(WindowsTest, ACommandEnteredWhileAnotherRunsDoesNothing) {
  Open();
  state().Comando_In_Corso = true;  // as inside a running command that lets events run
  main().Click(kMessaggi);
  EXPECT_EQ(nullptr, main().messages());
  main().Click(kServer);
  EXPECT_EQ(0, pings_ - 1);
  EXPECT_FALSE(main().close());  // nor does the window close under it
  EXPECT_TRUE(main().isVisible());
  state().Comando_In_Corso = false;
  main().Click(kMessaggi);
  EXPECT_NE(nullptr, main().messages());
}

TEST_F(WindowsTest, UscitaStopsLogsAndEndsTheProgram) {
  Open();
  lines_.clear();
  main().Click(kUscita);
  EXPECT_EQ(std::vector<std::string>{"Completate le operazioni di scollegamento"}, lines_);
  EXPECT_EQ(0, main().exit_status().value_or(-1));
  EXPECT_FALSE(main().isVisible());
  EXPECT_TRUE(state().Fine_Richiesta);
}

TEST_F(WindowsTest, ThePlacementIsRestoredAtStartAndPulledOntoTheScreen) {
  ASSERT_TRUE(
      WritePrivateProfileString("Dimensioni Base", "Left", "3000", program().paths.settings).ok());
  ASSERT_TRUE(
      WritePrivateProfileString("Dimensioni Base", "Top", "-90", program().paths.settings).ok());
  Open();
  const int dpi = main().logicalDpiX();
  EXPECT_EQ(QPoint(TwipsToPixels(3000, dpi), 0), main().pos());

  Desktop other(Paths::InFolder(folder_.path()));
  ASSERT_TRUE(
      WritePrivateProfileString("Dimensioni Base", "Left", "999999", program().paths.settings)
          .ok());
  other.control().ping = desktop_.control().ping;
  other.Open();
  const int screen = other.main().screen()->geometry().width();
  EXPECT_EQ(TwipsToPixels(PixelsToTwips(screen, dpi) - 600, dpi), other.main().pos().x());
}

TEST(ImageList1, EveryKeyHasItsOwnDrawing) {
  EXPECT_EQ(13u, ImageList::Keys().size());
  for (const char* key : ImageList::Keys()) {
    EXPECT_TRUE(ImageList::Has(key)) << key;
    const QImage image = ImageList::Pixmap(key, 32).toImage();
    ASSERT_FALSE(image.isNull()) << key;
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) drawn += image.pixelColor(x, y).alpha() > 0;
    }
    EXPECT_GT(drawn, image.width() * image.height() / 5) << key;
  }
  EXPECT_FALSE(ImageList::Has("Nessuna"));
  EXPECT_FALSE(ApplicationIcon().isNull());
  // A sheet of every image, for a reviewer.
  QWidget sheet;
  sheet.setWindowTitle("ImageList1");
  sheet.setFixedSize(14 * 40, 40);
  QPixmap all(sheet.size());
  all.fill(Qt::white);
  QPainter p(&all);
  int x = 4;
  for (const char* key : ImageList::Keys()) {
    p.drawPixmap(x, 4, ImageList::Pixmap(key, 32));
    x += 40;
  }
  p.drawPixmap(x, 4, ApplicationPixmap(32));
  p.end();
  QLabel label(&sheet);
  label.setPixmap(all);
  label.resize(sheet.size());
  SaveScreenshot(sheet, "images");
}

TEST(SplashWindow, ItsShapeIsTheUnionOfTheFourRoundedPieces) {
  const QRegion shape = Splash::Shape();
  EXPECT_TRUE(shape.contains(QPoint(108, 77)));   // the disc
  EXPECT_TRUE(shape.contains(QPoint(60, 77)));    // the first band
  EXPECT_TRUE(shape.contains(QPoint(388, 100)));  // the second band only
  EXPECT_TRUE(shape.contains(QPoint(200, 150)));  // the bar frame
  EXPECT_FALSE(shape.contains(QPoint(2, 2)));
  EXPECT_FALSE(shape.contains(QPoint(390, 150)));
  EXPECT_FALSE(shape.contains(QPoint(8, 29)));  // a rounded corner of the first band
}

TEST(SplashWindow, TheBoxesRunAlongTheBarAndStartAgainAtItsLeftEnd) {
  bool handed_over = false;
  Splash splash([&] { handed_over = true; });
  const std::array<int, 4> start = splash.boxes();
  EXPECT_EQ(156, start[0]);
  splash.Animate();
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(start[k] + 180, splash.boxes()[k]);
  splash.Animate();  // positions at or past 370 go back to 156 first
  for (size_t k = 0; k < 4; ++k) {
    const int after_one = start[k] + 180;
    EXPECT_EQ((after_one >= 370 ? 156 : after_one) + 180, splash.boxes()[k]);
  }
  splash.show();
  splash.Start();
  testing::RunEventsFor(300);
  SaveScreenshot(splash, "splash");
  EXPECT_FALSE(handed_over);
  testing::RunEventsFor(900);
  EXPECT_TRUE(handed_over);
  EXPECT_FALSE(splash.isVisible());
  EXPECT_EQ(nullptr, QApplication::overrideCursor());
}

}  // namespace
}  // namespace torvan
