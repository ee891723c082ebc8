// The main window: start-up, the toolbar, the status display and its lamp, the close and
// Uscita, a failed host link, re-entry, the placement.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "config/ini_file.h"
#include "core/statistics.h"
#include "core/text.h"
#include "windows/test_support.h"
#include "windows/twips.h"
#include "windows/window_fixture.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;
using testing::WindowsTest;

// The source server checked once (absent here: only logged), the placement restored pulled
// onto the screen, nothing connected.
TEST_F(WindowsTest, StartUpChecksTheSourceServerOnceRestoresThePlacementAndConnectsNothing) {
  host_answers_ = false;
  for (const auto& [key, value] : {std::pair("Left", "999999"), {"Top", "-90"}}) {
    ASSERT_TRUE(
        WritePrivateProfileString("Dimensioni Base", key, value, program().paths.settings).ok());
  }
  Open();
  EXPECT_EQ(std::vector<std::string>{"Server sorgente 127.0.0.1 NON PRESENTE"}, lines_);
  EXPECT_EQ(std::tuple(1, false, false, true, false),
            std::tuple(pings_, state().LinkUp, state().Collegato_SQL,
                       state().Stato_Sincronismo == StatoSincronismo::kSpento,
                       main().exit_status().has_value()));
  EXPECT_TRUE(main().isVisible() && state().Timer_Video != 0 && state().Timer_Ciclo == 0);
  const int dpi = main().logicalDpiX();
  const int screen = main().screen()->geometry().width();
  EXPECT_EQ(QPoint(TwipsToPixels(PixelsToTwips(screen, dpi) - 600, dpi), 0), main().pos());
  EXPECT_EQ("1.0.0   Linux - Qt", main().release().text());
  // Idle: Uscita, Server, Opzioni, Messaggi and Reset; not Timer nor File.
  std::string enabled;
  for (int b = 0; b < kMainButtonCount; ++b) {
    enabled += main().action(MainButton(b))->isEnabled() ? MainButtons()[b].key[0] : '-';
    EXPECT_FALSE(main().action(MainButton(b))->icon().isNull());
  }
  EXPECT_EQ("US-O-MR", enabled);
  main().display().Video();
  SaveScreenshot(main(), "main_idle");
}

// Blanks for zero, fitting and the Reset rule are the statistics' tests; here the display's
// lamp, its measures, its clock, its tooltips and the Reset button.
TEST_F(WindowsTest, TheStatusDisplayItsLampFittedValuesTooltipsAndReset) {
  Open();
  StatusDisplay& d = main().display();
  // The lamp after ticks 9 and 10 of each ten by run state: bright and dark by turns.
  std::string lamp;
  for (StatoSincronismo s :
       {StatoSincronismo::kSpento, StatoSincronismo::kSospeso, StatoSincronismo::kAttivo}) {
    state().Stato_Sincronismo = s;
    for (int tick = 1; tick <= 20; ++tick) {
      d.Video();
      if (tick % 10 == 9 || tick % 10 == 0) lamp += char('0' + d.lamp().visible());
    }
  }
  EXPECT_EQ("011003322554", lamp);
  EXPECT_EQ(std::tuple(10u, 5u), std::tuple(program().stats.Stat_Testi[kDateText].size(),
                                            program().stats.Stat_Testi[kTimeText].size()));
  Statistics& s = program().stats;
  s.Stat_Contatori[kRecordsReceived] = 1234567;  // for the picture
  s.Stat_Tempi[kMsPerRecordReceived] = 123456.789f;
  s.Stat_Testi[kFileReceived] = "UN_NOME_DI_FILE_MOLTO_LUNGO_CHE_NON_STA";
  s.Stat_Testi[kHostStopText] = "06/12/26  02:00";
  auto text = [&](StatField::Source source, int index) {
    for (size_t i = 0; i < StatFields().size(); ++i) {
      if (StatFields()[i].source == source && StatFields()[i].index == index) {
        return Trim(d.FieldText(i));
      }
    }
    return std::string("?");
  };
  // Fitted to the widths the display measures: the number's last digits, the text's first.
  const std::string media = text(StatField::Source::kTime, kMsPerRecordReceived);
  const std::string file = text(StatField::Source::kText, kFileReceived);
  EXPECT_TRUE(!media.empty() && std::string("123456.789").ends_with(media)) << media;
  EXPECT_TRUE(file.size() < 39u && s.Stat_Testi[kFileReceived].starts_with(file)) << file;
  // The lamp's and activity row's tooltips where they are drawn; what Torvan waits for.
  const int dpi = d.logicalDpiX();
  EXPECT_EQ("", d.ActivityText());
  state().Attivita = "Collegamento al Server 127.0.0.1 (3/20)";
  EXPECT_EQ(QStringList({"Stato del sincronismo", QString::fromUtf8("Attività in corso"),
                         QString::fromUtf8("Attività: Collegamento al Server 127.0.0.1 (3/20)")}),
            QStringList({d.ToolTipAt(QPoint(TwipsToPixels(1775, dpi), TwipsToPixels(1770, dpi))),
                         d.ToolTipAt(QPoint(TwipsToPixels(400, dpi), TwipsToPixels(1905, dpi) + 4)),
                         d.ActivityText()}));
  SaveScreenshot(main(), "main_statistics");
  state().Attivita.clear();
  // Reset clears the rows but the host's times; so does a counter past 2000000000 at a tick.
  main().Click(kReset);
  EXPECT_EQ(std::tuple("", "06/12/26  02:00"),
            std::tuple(s.Stat_Testi[kFileReceived], s.Stat_Testi[kHostStopText]));
  s.Stat_Contatori[kRecordsSent] = 2000000001;
  d.Video();
  EXPECT_EQ(0, s.Stat_Contatori[kRecordsSent]);
}

// The close is refused while a command runs (a command entered then does nothing) and while
// replication is active or suspended; Uscita ends the program and saves the placement (the
// close that succeeds: the desktop's end-to-end test).
TEST_F(WindowsTest, TheCloseIsRefusedWhileACommandRunsOrReplicationIsOnUscitaEndsTheProgram) {
  Open();
  state().Comando_In_Corso = true;  // as inside a running command that lets events run
  main().Click(kMessaggi);
  main().Click(kServer);
  EXPECT_TRUE(main().messages() == nullptr && pings_ == 1);
  EXPECT_FALSE(main().close());
  state().Comando_In_Corso = false;
  main().Click(kMessaggi);
  EXPECT_NE(nullptr, main().messages());
  for (StatoSincronismo s : {StatoSincronismo::kAttivo, StatoSincronismo::kSospeso}) {
    state().Stato_Sincronismo = s;
    lines_.clear();
    EXPECT_FALSE(main().close());
    EXPECT_TRUE(main().isVisible() && lines_.empty() && !main().exit_status());
    // Said why, in a box that waits for nobody: a pass may be running under the close.
    auto* why = main().findChild<QMessageBox*>("ChiusuraRifiutata");
    ASSERT_NE(nullptr, why);
    EXPECT_TRUE(!why->isModal() && why->text().contains("fermarlo prima con il pulsante Timer"))
        << why->text().toStdString();
  }
  EXPECT_EQ(1, main().findChildren<QMessageBox*>("ChiusuraRifiutata").size());
  state().Stato_Sincronismo = StatoSincronismo::kSpento;
  main().Video();  // the reason gone, the box goes
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().findChild<QMessageBox*>("ChiusuraRifiutata"));
  main().move(150, 90);
  main().Click(kUscita);
  QApplication::processEvents();
  EXPECT_EQ(std::vector<std::string>{"Completate le operazioni di scollegamento"}, lines_);
  EXPECT_TRUE(main().exit_status() == 0 && !main().isVisible() && state().Fine_Richiesta &&
              main().messages() == nullptr);
  const int dpi = main().logicalDpiX();
  auto saved = [&](const char* key) {
    return GetPrivateProfileString("Dimensioni Base", key, "", program().paths.settings);
  };
  EXPECT_EQ(std::tuple("0", std::to_string(PixelsToTwips(150, dpi)),
                       std::to_string(PixelsToTwips(90, dpi))),
            std::tuple(saved("WindowState"), saved("Left"), saved("Top")));
}

TEST_F(WindowsTest, AHostLinkThatCannotBeOpenedEndsTheProgram) {
  Open();
  desktop_.control().options.pause_before_end = std::chrono::milliseconds(0);
  main().Click(kMessaggi);
  // The reason is said in a box before the window goes.
  AnswerBox(QMessageBox::Ok, "main_link_failed");
  main().Click(kServer);  // no character table in the base folder: the link cannot start
  const QString& said = seen_.text;
  EXPECT_TRUE(said.startsWith("ERRORE nel collegamento al server 127.0.0.1\nERRORE nella "
                              "lettura della tabella caratteri ") &&
              said.endsWith("\n\nTorvan si chiude."))
      << said.toStdString();
  const std::vector<std::string> logged = lines_;  // what is logged: the controller's tests
  EXPECT_EQ(kExitHostLinkFailed, main().exit_status().value_or(-1));
  EXPECT_TRUE(!main().isVisible() && QApplication::overrideCursor() == nullptr);
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().messages());
  EXPECT_TRUE(main().close());  // the end has run: nothing more is done
  EXPECT_EQ(logged, lines_);
}

}  // namespace
}  // namespace torvan
