// The window against torvan-host serving a copy of the sample host, as an operator uses
// it: the Server button, the browser's build, the Timer button and the lamp, replication
// off, the links closed, the window closed. Also the torvan executable's start without a
// display and behind the splash.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QHeaderView>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "config/settings.h"
#include "core/text.h"
#include "hostlink/ping.h"
#include "hostlink/test_peer.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "replication/pending_file.h"
#include "replication/testing/host_process.h"
#include "windows/desktop.h"
#include "windows/test_support.h"

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
  (void)platform::ReadFile(path, &s);
  return s;
}

class DesktopAgainstHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TORVAN_HOSTS_FILE", (folder_ / "hosts").c_str(), 1);
    ASSERT_EQ(0, Shell("cp -r " TORVAN_SAMPLE_HOST " " + host_));
    ASSERT_EQ(0, Shell("cp " TORVAN_CHAR_TABLE " " + (folder_ / "TnC_TBL1.Tbl")));
    Status s = host_process_.Start(folder_ / "host.out");
    ASSERT_TRUE(s.ok()) << s.message();

    // The settings as the operator types them in the options dialog.
    desktop_ = std::make_unique<Desktop>(Paths::InFolder(folder_.path()));
    OptionsForm form = OptionsForm_Standard();
    form.txtIN1 = "127.0.0.1";
    form.txtIN2 = "utente";
    form.txtIN3 = "Torvan1";
    form.txtIN5 = std::to_string(hostlink::testing::ClosedPort());
    form.txtIN17 = std::to_string(host_process_.ftp_port());
    form.txtIN12 = "1";
    form.txtIN15 = "500";
    form.chkLog = true;
    ASSERT_TRUE(OptionsForm_Save(program(), form).ok());

    main().close_pause = std::chrono::milliseconds(0);
    // This process may open no ICMP socket (no raw sockets, no ping group): the loopback
    // then counts as answering, as it would for an operator whose system allows ping.
    if (hostlink::Ping_Host(program(), 20, 1000, 0x0100007F).failed) {
      desktop_->control().ping = [](int32_t, int32_t, uint32_t address) {
        hostlink::PingResult r;
        r.failed = address != 0x0100007F;
        return r;
      };
    }
    auto shown = program().log.on_status_line;
    program().log.on_status_line = [this, shown](std::string_view line) {
      lines_.emplace_back(line.substr(11));
      if (shown) shown(line);
    };
  }
  void TearDown() override {
    desktop_.reset();
    host_process_.Stop();
    unsetenv("TORVAN_HOSTS_FILE");
  }

  Program& program() { return desktop_->program(); }
  RunState& state() { return program().state; }
  MainWindow& main() { return desktop_->main(); }
  bool Logged(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
  bool AnyError() const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [](const std::string& l) { return l.find("ERRORE") != std::string::npos; });
  }
  static void ClickRow(BrowserWindow& b, int row,
                       Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTableWidget* t = b.table();
    QTest::mouseClick(t->viewport(), Qt::RightButton, modifiers,
                      t->visualRect(t->model()->index(row - 1, 1)).center());
  }
  // Connects with the Server button and builds every table from the browser.
  void ConnectAndBuild() {
    main().Click(kServer);
    ASSERT_TRUE(state().LinkUp && state().Collegato_SQL);
    main().Click(kFile);
    BrowserWindow* b = main().browser();
    ASSERT_NE(nullptr, b);
    ClickRow(*b, 1);
    ClickRow(*b, b->table()->rowCount(), Qt::ShiftModifier);
    b->Command(kFileCrea);
  }

  platform::TempFolder folder_{"torvan-desktop"};
  std::string host_ = folder_ / "host";
  testing::HostProcess host_process_{TORVAN_HOST_EXE, host_};
  std::unique_ptr<Desktop> desktop_;
  std::vector<std::string> lines_;
};

TEST_F(DesktopAgainstHostTest, ServerBrowserTimerLampAndBackDown) {
  ASSERT_TRUE(desktop_->Open());
  EXPECT_EQ(std::vector<std::string>{"Server sorgente 127.0.0.1 presente"}, lines_);
  main().Click(kMessaggi);

  // Server: the host link, the catalogue, the SQL databases.
  main().Click(kServer);
  EXPECT_TRUE(state().LinkUp);
  EXPECT_TRUE(state().Collegato_SQL);
  EXPECT_TRUE(Logged("Collegamento al Server 127.0.0.1 completato"));
  EXPECT_TRUE(Logged("DataBase SQL collegati"));
  EXPECT_FALSE(AnyError());
  EXPECT_EQ("Server1", main().image(kServer));
  EXPECT_TRUE(main().action(kTimer)->isEnabled());
  EXPECT_TRUE(main().action(kFile)->isEnabled());
  EXPECT_FALSE(main().action(kOpzioni)->isEnabled());
  main().messages()->Refresh();  // the lines of the start, shown now rather than at its pace
  SaveScreenshot(*main().messages(), "messages_connected");

  // The browser: the files of the sample host, then their tables built.
  main().Click(kFile);
  BrowserWindow* b = main().browser();
  ASSERT_NE(nullptr, b);
  QTableWidget* t = b->table();
  ASSERT_EQ(5, t->rowCount());
  for (int r = 0; r < 5; ++r) EXPECT_EQ("non esiste", t->item(r, 7)->text()) << r;
  EXPECT_TRUE(b->action(kFileEventi)->isEnabled());  // CONTATTI is sent back
  ClickRow(*b, 1);
  ClickRow(*b, 5, Qt::ShiftModifier);
  EXPECT_EQ(3, b->Stato_Selezione());
  b->Command(kFileCrea);
  EXPECT_TRUE(Logged("Creazione dei triggers per GESTIONALE/CONTATTI completata"));
  EXPECT_TRUE(Logged("Creazione del file ARCHIVIO/TNP_ARC_0F completata"));
  EXPECT_FALSE(AnyError());
  for (int r = 0; r < 5; ++r) EXPECT_EQ("0", t->item(r, 7)->text()) << r;
  EXPECT_EQ(0, b->Stato_Selezione());
  SaveScreenshot(*b, "browser_list_built");
  ClickRow(*b, 1);
  b->Command(kFileVisualizza);
  EXPECT_EQ("Torvan  File DATI/CLIENTI - Anagrafica clienti ", b->windowTitle());
  EXPECT_EQ(QString::fromUtf8("Città"), t->item(3, 3)->text().trimmed());
  SaveScreenshot(*b, "browser_fields_clienti");
  b->close();
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().browser());

  // Timer: replication on; the cycle runs on Qt's loop and the lamp turns green.
  main().Click(kTimer);
  EXPECT_EQ(StatoSincronismo::kAttivo, state().Stato_Sincronismo);
  EXPECT_TRUE(Logged("SINCRONISMO avviato ..."));
  EXPECT_EQ("Timer1", main().image(kTimer));
  EXPECT_FALSE(main().action(kServer)->isEnabled());
  EXPECT_FALSE(main().action(kUscita)->isEnabled());
  RunEventsFor(1300);  // two cycles
  EXPECT_EQ(StatoSincronismo::kAttivo, state().Stato_Sincronismo);
  EXPECT_NE(0u, state().Timer_Ciclo);
  EXPECT_FALSE(AnyError());
  EXPECT_FALSE(main().close());  // refused while replicating
  for (int i = 0; i < 10; ++i) main().display().Video();
  const int lamp = main().display().lamp().visible();
  EXPECT_TRUE(lamp == 4 || lamp == 5) << lamp;
  SaveScreenshot(main(), "main_replicating");

  // Timer again, then Server: everything down, the window closes.
  main().Click(kTimer);
  EXPECT_EQ(StatoSincronismo::kSpento, state().Stato_Sincronismo);
  EXPECT_TRUE(Logged("SINCRONISMO fermato ..."));
  EXPECT_EQ(0u, state().Timer_Ciclo);
  main().Click(kServer);
  EXPECT_FALSE(state().LinkUp || state().Collegato_SQL);
  EXPECT_TRUE(Logged("Scollegamento del Server 127.0.0.1 completato"));
  EXPECT_TRUE(Logged("DataBase SQL scollegati"));
  EXPECT_EQ("Server", main().image(kServer));
  EXPECT_TRUE(main().action(kOpzioni)->isEnabled());
  EXPECT_TRUE(main().close());
  EXPECT_TRUE(Logged("Completate le operazioni di scollegamento"));
  EXPECT_EQ(0, main().exit_status().value_or(-1));
  EXPECT_NE(std::string::npos, ReadText(program().paths.message_log)
                                   .find(" - Completate le operazioni di scollegamento\r\n"));
}

TEST_F(DesktopAgainstHostTest, ChangesTravelBothWaysWhileTheWindowReplicates) {
  ASSERT_TRUE(desktop_->Open());
  ConnectAndBuild();
  main().browser()->close();
  QApplication::processEvents();
  main().Click(kTimer);

  // A record added on the host reaches its mirror table.
  ASSERT_EQ(
      0, Shell(std::string(TORVAN_HOST_EXE) + " ctl --data " + host_ +
               " insert DATI/CLIENTI CODCLI=X00009 \"RAGSOC=Caff\xC3\xA8 del Borgo\" >/dev/null"));
  const std::string count = "sqlite3 " + (folder_ / "GESTIONALE.sqlite") +
                            " \"SELECT RAGSOC FROM CLIENTI WHERE CODCLI='X00009'\" >" +
                            (folder_ / "row.txt") + " 2>/dev/null";
  bool arrived = false;
  for (int i = 0; i < 40 && !arrived; ++i) {
    RunEventsFor(250);
    arrived =
        Shell(count) == 0 && ReadText(folder_ / "row.txt").rfind("Caff\xC3\xA8 del Borgo", 0) == 0;
  }
  EXPECT_TRUE(arrived) << ReadText(folder_ / "row.txt");
  EXPECT_GE(program().stats.Stat_Contatori[kRecordsReceived], 1);
  EXPECT_EQ("DATI", Trim(program().stats.Stat_Testi[kLibraryReceived]));
  EXPECT_EQ("CLIENTI", Trim(program().stats.Stat_Testi[kFileReceived]));

  // A row added on the SQL side of a file sent back reaches the host.
  ASSERT_EQ(0, Shell("sqlite3 " + (folder_ / "GESTIONALE.sqlite") +
                     " \"INSERT INTO CONTATTI (CODCLI, DATA, NOMINATIVO) VALUES "
                     "('X00009', 20261206, 'Sig. Nicol\xC3\xB2')\""));
  const std::string dump = std::string(TORVAN_HOST_EXE) + " ctl --data " + host_ +
                           " dump DATI/CONTATTI >" + (folder_ / "dump.txt");
  bool sent = false;
  for (int i = 0; i < 40 && !sent; ++i) {
    RunEventsFor(250);
    sent =
        Shell(dump) == 0 &&
        ReadText(folder_ / "dump.txt").find("NOMINATIVO=Sig. Nicol\xC3\xB2") != std::string::npos;
  }
  EXPECT_TRUE(sent) << ReadText(folder_ / "dump.txt");
  EXPECT_GE(program().stats.Stat_Contatori[kRecordsSent], 1);

  for (int i = 0; i < 10; ++i) main().display().Video();
  SaveScreenshot(main(), "main_replicating_both_ways");
  main().Click(kTimer);
  main().Click(kServer);
  EXPECT_FALSE(AnyError());
}

// The executable: without a display it says so in one line and points to `torvan run`.
TEST(TorvanExecutable, WithoutADisplayItSaysSoAndExitsTwo) {
  platform::TempFolder folder("torvan-nodisplay");
  const std::string run = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " TORVAN_EXE
                          " --dir " +
                          folder.path() + " >" + (folder / "out") + " 2>" + (folder / "err");
  EXPECT_EQ(2, Shell(run));
  const std::string err = ReadText(folder / "err");
  EXPECT_EQ(1, std::count(err.begin(), err.end(), '\n')) << err;
  EXPECT_NE(std::string::npos, err.find("DISPLAY")) << err;
  EXPECT_NE(std::string::npos, err.find("torvan run")) << err;
  EXPECT_EQ("", ReadText(folder / "out"));

  // A display named but not there is no display either.
  EXPECT_EQ(2, Shell("env -u QT_QPA_PLATFORM DISPLAY=:93 " TORVAN_EXE " --dir " + folder.path() +
                     " 2>" + (folder / "err")));
  EXPECT_NE(std::string::npos, ReadText(folder / "err").find(":93"));
  // A command still runs the command line, with or without a display.
  EXPECT_EQ(0, Shell("env -u DISPLAY " TORVAN_EXE " --dir " + folder.path() +
                     " settings --standard >/dev/null"));
  // A missing folder is refused before any window.
  EXPECT_EQ(2, Shell(TORVAN_EXE " --dir " + folder.path() + "/nowhere 2>/dev/null"));
  // The command line without its window beside it (package torvan-gui) says what to install.
  ASSERT_EQ(0, Shell("cp " TORVAN_EXE " " + (folder / "torvan")));
  EXPECT_EQ(2, Shell((folder / "torvan") + " --dir " + folder.path() + " 2>" + (folder / "err")));
  EXPECT_NE(std::string::npos, ReadText(folder / "err").find("sudo apt install torvan-gui"));
}

// Two Torvans never work in one folder: the window refuses as `torvan run` does.
TEST(TorvanExecutable, TheWindowRefusesAFolderAnotherTorvanWorksIn) {
  platform::TempFolder folder("torvan-locked");
  std::unique_ptr<PendingFile> held;
  PendingState state;
  ASSERT_TRUE(PendingFile::Open(folder / "TnC_PENDENTI.DAT", false, &held, &state).ok());
  EXPECT_EQ(1, Shell("QT_QPA_PLATFORM=offscreen " TORVAN_EXE " --dir " + folder.path() +
                     " >/dev/null 2>" + (folder / "err")));
  const std::string err = ReadText(folder / "err");
  EXPECT_NE(std::string::npos, err.find("Un altro Torvan lavora nella cartella")) << err;
}

// The executable with no command: the splash, then the main window's load, which checks
// the source server once. Stopped from outside after the load.
TEST(TorvanExecutable, WithNoCommandTheWindowLoadsBehindTheSplash) {
  platform::TempFolder folder("torvan-window");
  ASSERT_EQ(0, Shell(TORVAN_EXE " --dir " + folder.path() +
                     " settings set Nome_Connessione=127.0.0.1 Log_Su_File=S >/dev/null"));
  setenv("TORVAN_HOSTS_FILE", (folder / "hosts").c_str(), 1);
  Shell("QT_QPA_PLATFORM=offscreen timeout 4 " TORVAN_EXE " --dir " + folder.path() +
        " >/dev/null 2>&1");
  unsetenv("TORVAN_HOSTS_FILE");
  const std::string log = ReadText(folder / "TnC.Log");
  const bool present = log.find(" - Server sorgente 127.0.0.1 presente\r\n") != std::string::npos;
  const bool absent =
      log.find(" - Server sorgente 127.0.0.1 NON PRESENTE\r\n") != std::string::npos;
  EXPECT_TRUE(present || absent) << log;
  EXPECT_EQ(std::string::npos, log.find("Collegamento")) << log;  // nothing connects by itself
}

}  // namespace
}  // namespace torvan
