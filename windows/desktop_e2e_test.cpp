// The window against torvan-host serving a copy of the sample host, as an operator uses it;
// the torvan executable's start without a display.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <cstdlib>

#include "config/settings.h"
#include "core/text.h"
#include "hostlink/test_peer.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/pending_file.h"
#include "replication/testing/host_process.h"
#include "windows/test_support.h"
#include "windows/window_fixture.h"

namespace torvan {
namespace {

using testing::RunEventsFor;
using testing::SaveScreenshot;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadText(const std::string& path) {
  std::string s;
  return platform::ReadFile(path, &s).ok() ? s : "";
}

class DesktopAgainstHostTest : public testing::WindowsTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, Shell("cp -r " TORVAN_SAMPLE_HOST " " + host_));
    ASSERT_EQ(0, Shell("cp " TORVAN_CHAR_TABLE " " + (folder_ / "TnC_TBL1.Tbl")));
    Status s = host_process_.Start(folder_ / "host.out");
    ASSERT_TRUE(s.ok()) << s.message();
    OptionsForm f = OptionsForm_Standard();
    std::tie(f.txtIN1, f.txtIN2, f.txtIN3, f.txtIN12, f.txtIN15, f.chkLog) =
        std::tuple("127.0.0.1", "utente", "Torvan1", "1", "500", true);
    f.txtIN5 = std::to_string(hostlink::testing::ClosedPort());
    f.txtIN17 = std::to_string(host_process_.ftp_port());
    ASSERT_TRUE(OptionsForm_Save(program(), f).ok());
  }
  void TearDown() override { host_process_.Stop(); }

  // Lets the loop run until `shell` exits 0 with `text` in `file` (at most ten seconds).
  bool Within10s(const std::string& shell, const std::string& file, const std::string& text) {
    for (int i = 0; i < 40; ++i) {
      RunEventsFor(250);
      if (Shell(shell) == 0 && ReadText(file).find(text) != std::string::npos) return true;
    }
    return false;
  }

  std::string host_ = folder_ / "host";
  testing::HostProcess host_process_{TORVAN_HOST_EXE, host_};
};

TEST_F(DesktopAgainstHostTest, ServerBrowserTimerAHostChangeLampAndBackDown) {
  Open();
  EXPECT_EQ(std::vector<std::string>{"Server sorgente 127.0.0.1 presente"}, lines_);
  main().Click(kMessaggi);
  // Server: the host link, the catalogue, the SQL databases (the toolbar's looks: the rules).
  main().Click(kServer);
  EXPECT_TRUE(state().LinkUp && state().Collegato_SQL);
  EXPECT_EQ("",
            NotLogged({"Collegamento al Server 127.0.0.1 completato", "DataBase SQL collegati"}));
  EXPECT_EQ(std::tuple("Server1", "Fine collegamento con il server origine"),
            std::tuple(main().image(kServer), main().action(kServer)->toolTip().toStdString()));

  // The browser: the files of the sample host (CONTATTI sent back), then their tables built.
  main().Click(kFile);
  BrowserWindow* b = main().browser();
  ASSERT_NE(nullptr, b);
  QTableWidget* t = b->table();
  auto counts = [&] {
    std::string s;
    for (int r = 0; r < t->rowCount(); ++r) s += t->item(r, 7)->text().toStdString() + "|";
    return s;
  };
  EXPECT_EQ("non esiste|non esiste|non esiste|non esiste|non esiste|", counts());
  EXPECT_TRUE(b->action(kFileEventi)->isEnabled());
  ClickRow(*b, 1, Qt::RightButton);
  ClickRow(*b, 5, Qt::RightButton, Qt::ShiftModifier);
  EXPECT_EQ(3, b->Stato_Selezione());
  b->Command(kFileCrea);
  EXPECT_EQ("", NotLogged({"Creazione dei triggers per GESTIONALE/CONTATTI completata",
                           "Creazione del file ARCHIVIO/TNP_ARC_0F completata"}));
  EXPECT_EQ(std::tuple("0|0|0|0|0|", 0), std::tuple(counts(), b->Stato_Selezione()));
  b->close();
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().browser());

  // Timer: replication on, the cycle on Qt's loop; the close refused meanwhile.
  main().Click(kTimer);
  EXPECT_EQ(StatoSincronismo::kAttivo, state().Stato_Sincronismo);
  EXPECT_EQ("", NotLogged({"SINCRONISMO avviato ..."}));
  EXPECT_FALSE(main().close());
  // A record added on the host reaches its mirror table (the other way, from the SQL side to
  // the host: replication's end-to-end tests).
  ASSERT_EQ(
      0, Shell(std::string(TORVAN_HOST_EXE) + " ctl --data " + host_ +
               " insert DATI/CLIENTI CODCLI=X00009 \"RAGSOC=Caff\xC3\xA8 del Borgo\" >/dev/null"));
  EXPECT_TRUE(Within10s("sqlite3 " + (folder_ / "GESTIONALE.sqlite") +
                            " \"SELECT RAGSOC FROM CLIENTI WHERE CODCLI='X00009'\" >" +
                            (folder_ / "row.txt") + " 2>/dev/null",
                        folder_ / "row.txt", "Caff\xC3\xA8 del Borgo"))
      << ReadText(folder_ / "row.txt");
  EXPECT_GE(program().stats.Stat_Contatori[kRecordsReceived], 1);
  EXPECT_EQ(std::tuple("DATI", "CLIENTI"),
            std::tuple(Trim(program().stats.Stat_Testi[kLibraryReceived]),
                       Trim(program().stats.Stat_Testi[kFileReceived])));
  EXPECT_NE(0, state().Timer_Ciclo);
  for (const std::string& l : lines_) EXPECT_EQ(std::string::npos, l.find("ERRORE")) << l;
  for (int i = 0; i < 10; ++i) main().display().Video();
  const int lamp = main().display().lamp().visible();
  EXPECT_TRUE(lamp == 4 || lamp == 5) << lamp;  // green
  SaveScreenshot(main(), "main_replicating");

  // Timer again, then Server: everything down, the window closes.
  main().Click(kTimer);
  EXPECT_TRUE(state().Stato_Sincronismo == StatoSincronismo::kSpento && state().Timer_Ciclo == 0);
  main().Click(kServer);
  EXPECT_FALSE(state().LinkUp || state().Collegato_SQL);
  EXPECT_EQ("Server", main().image(kServer));
  EXPECT_TRUE(main().close());
  EXPECT_EQ("",
            NotLogged({"SINCRONISMO fermato ...", "Scollegamento del Server 127.0.0.1 completato",
                       "DataBase SQL scollegati", "Completate le operazioni di scollegamento"}));
  EXPECT_EQ(0, main().exit_status().value_or(-1));
  EXPECT_NE(std::string::npos, ReadText(program().paths.message_log)
                                   .find(" - Completate le operazioni di scollegamento\r\n"));
}

// Without a display the executable says so in one line, pointing to `torvan run`; a command
// still runs; a missing folder is refused; without its window beside it, it says what to install.
TEST(TorvanExecutable, WithoutADisplayItSaysSoAndExitsTwo) {
  platform::TempFolder folder("torvan-nodisplay");
  const std::string dir = " --dir " + folder.path(), err = " 2>" + (folder / "err");
  EXPECT_EQ(2, Shell("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " TORVAN_EXE + dir +
                     " >" + (folder / "out") + err));
  std::string said = ReadText(folder / "err");
  EXPECT_EQ(1, std::count(said.begin(), said.end(), '\n')) << said;
  EXPECT_TRUE(said.find("DISPLAY") != std::string::npos &&
              said.find("torvan run") != std::string::npos)
      << said;
  EXPECT_EQ("", ReadText(folder / "out"));
  // A display named but not there is no display either.
  EXPECT_EQ(2, Shell("env -u QT_QPA_PLATFORM DISPLAY=:93 " TORVAN_EXE + dir + err));
  EXPECT_NE(std::string::npos, ReadText(folder / "err").find(":93"));
  EXPECT_EQ(0, Shell("env -u DISPLAY " TORVAN_EXE + dir + " settings --standard >/dev/null"));
  EXPECT_EQ(2, Shell(TORVAN_EXE + dir + "/nowhere 2>/dev/null"));
  ASSERT_EQ(0, Shell("cp " TORVAN_EXE " " + (folder / "torvan")));
  EXPECT_EQ(2, Shell((folder / "torvan") + dir + err));
  EXPECT_NE(std::string::npos, ReadText(folder / "err").find("sudo apt install torvan-gui"));

  // Two Torvans never work in one folder: the window refuses as `torvan run` does.
  std::unique_ptr<PendingFile> held;
  PendingState state;
  ASSERT_TRUE(PendingFile::Open(folder / "TnC_PENDENTI.DAT", false, &held, &state).ok());
  EXPECT_EQ(1, Shell("QT_QPA_PLATFORM=offscreen " TORVAN_EXE + dir + " >/dev/null" + err));
  said = ReadText(folder / "err");
  EXPECT_NE(std::string::npos, said.find("Un altro Torvan lavora nella cartella")) << said;
}

}  // namespace
}  // namespace torvan
