// The main window: start-up, the toolbar, the status display and its lamp, the close and
// Uscita, a failed host link, re-entry, the placement.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

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
  std::string enabled;
  for (int b = 0; b < kMainButtonCount; ++b) {
    enabled += main().action(MainButton(b))->isEnabled() ? MainButtons()[b].key[0] : '-';
    EXPECT_FALSE(main().action(MainButton(b))->icon().isNull());
  }
  EXPECT_EQ("US-O-MR", enabled);
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
      if (fields[i].source == source && fields[i].index == index) return Trim(d.FieldText(i));
    }
    return std::string("?");
  };
  // Fitted to the widths the display measures (how: the statistics' tests): the number's
  // last digits, the text's first characters.
  EXPECT_EQ("1234567", text(StatField::Source::kCounter, kRecordsReceived));
  const std::string media = text(StatField::Source::kTime, kMsPerRecordReceived);
  EXPECT_EQ(media, std::string("123456.789").substr(10 - media.size()));
  const std::string file = text(StatField::Source::kText, kFileReceived);
  EXPECT_LT(file.size(), 39u);
  EXPECT_EQ(0u, std::string("UN_NOME_DI_FILE_MOLTO_LUNGO_CHE_NON_STA").find(file));
  EXPECT_EQ("CAFF\xC8", text(StatField::Source::kText, kLibrarySent));
  // The lamp carries its tooltip where it is drawn.
  const int dpi = d.logicalDpiX();
  EXPECT_EQ("Stato del sincronismo",
            d.ToolTipAt(QPoint(TwipsToPixels(1775, dpi), TwipsToPixels(1770, dpi))));
  d.Video();
  EXPECT_EQ(std::tuple(10u, 5u),
            std::tuple(s.Stat_Testi[kDateText].size(), s.Stat_Testi[kTimeText].size()));
  s.Stat_Testi[kHostStopText] = "06/12/26  02:00";
  s.Stat_Testi[kHostRestartText] = "06/12/26  05:30";
  // What Torvan waits for, on its own row.
  EXPECT_EQ("", d.ActivityText());
  state().Attivita = "Collegamento al Server 127.0.0.1 (3/20)";
  EXPECT_EQ(QString::fromUtf8("Attività: Collegamento al Server 127.0.0.1 (3/20)"),
            d.ActivityText());
  EXPECT_EQ(QString::fromUtf8("Attività in corso"),
            d.ToolTipAt(QPoint(TwipsToPixels(400, dpi), TwipsToPixels(1905, dpi) + 4)));
  SaveScreenshot(main(), "main_statistics");
  state().Attivita.clear();

  // Reset clears both rows (what it keeps: the statistics' tests); so does a counter past
  // 2000000000 at the next tick.
  main().Click(kReset);
  EXPECT_EQ(std::tuple(0, "", "06/12/26  02:00"),
            std::tuple(s.Stat_Contatori[kRecordsReceived], s.Stat_Testi[kFileReceived],
                       s.Stat_Testi[kHostStopText]));
  s.Stat_Contatori[kRecordsSent] = 2000000001;
  d.Video();
  EXPECT_EQ(0, s.Stat_Contatori[kRecordsSent]);
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
    // Said why, in a box that waits for nobody: a pass may be running under the close.
    auto* why = main().findChild<QMessageBox*>("ChiusuraRifiutata");
    ASSERT_NE(nullptr, why);
    EXPECT_FALSE(why->isModal());
    EXPECT_TRUE(why->text().contains("fermarlo prima con il pulsante Timer"))
        << why->text().toStdString();
  }
  EXPECT_EQ(1, main().findChildren<QMessageBox*>("ChiusuraRifiutata").size());
  state().Stato_Sincronismo = StatoSincronismo::kSpento;
  main().Video();  // the reason gone, the box goes
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().findChild<QMessageBox*>("ChiusuraRifiutata"));
  main().move(150, 90);
  EXPECT_TRUE(main().close());
  QApplication::processEvents();
  EXPECT_EQ(std::vector<std::string>{"Completate le operazioni di scollegamento"}, lines_);
  EXPECT_EQ(0, main().exit_status().value_or(-1));
  EXPECT_EQ(nullptr, main().messages());
  // The placement is saved for the next start.
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
  lines_.clear();
  // The reason is said in a box before the window goes.
  AnswerBox(QMessageBox::Ok, "main_link_failed");
  main().Click(kServer);  // no character table in the base folder: the link cannot start
  const QString& said = seen_.text;
  EXPECT_TRUE(
      said.startsWith("ERRORE nel collegamento al server 127.0.0.1\nERRORE nella lettura "
                      "della tabella caratteri "))
      << said.toStdString();
  EXPECT_TRUE(said.endsWith("\n\nTorvan si chiude.")) << said.toStdString();
  ASSERT_LE(2u, lines_.size());
  EXPECT_EQ("Server sorgente 127.0.0.1 presente", lines_[0]);
  EXPECT_EQ("Collegamento al Server 127.0.0.1 in corso ...", lines_[1]);
  EXPECT_EQ("ERRORE nel collegamento al server 127.0.0.1", lines_.back());
  EXPECT_EQ(kExitHostLinkFailed, main().exit_status().value_or(-1));
  EXPECT_TRUE(!main().isVisible() && QApplication::overrideCursor() == nullptr);
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
  for (const auto& [key, value] : {std::pair("Left", "3000"), {"Top", "-90"}}) {
    ASSERT_TRUE(
        WritePrivateProfileString("Dimensioni Base", key, value, program().paths.settings).ok());
  }
  Open();
  const int dpi = main().logicalDpiX();
  EXPECT_EQ(QPoint(TwipsToPixels(3000, dpi), 0), main().pos());

  // Another folder: one Torvan works in a folder at a time.
  platform::TempFolder elsewhere("torvan-window");
  Desktop other(Paths::InFolder(elsewhere.path()));
  ASSERT_TRUE(
      WritePrivateProfileString("Dimensioni Base", "Left", "999999", other.program().paths.settings)
          .ok());
  other.control().ping = desktop_.control().ping;
  ASSERT_TRUE(other.Open());
  const int screen = other.main().screen()->geometry().width();
  EXPECT_EQ(TwipsToPixels(PixelsToTwips(screen, dpi) - 600, dpi), other.main().pos().x());
}

}  // namespace
}  // namespace torvan
