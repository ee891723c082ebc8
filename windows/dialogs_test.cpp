// The message window and the options dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "config/ini_file.h"
#include "config/scramble.h"
#include "platform/file.h"
#include "windows/test_support.h"
#include "windows/window_fixture.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;
using testing::WindowsTest;

TEST_F(WindowsTest, TheMessageWindowKeepsTheLastSixteenLinesAndStacksWithTheBrowser) {
  Open();
  main().Click(kMessaggi);
  MessageWindow* m = main().messages();
  ASSERT_NE(nullptr, m);
  EXPECT_TRUE(state().Finestra_Messaggi_Aperta && !main().action(kMessaggi)->isEnabled());
  EXPECT_EQ(main().frameGeometry().bottomLeft() + QPoint(0, 1), m->frameGeometry().topLeft());
  // The last lines without their time stamps, "|" between them.
  auto last = [&](int n) {
    const QStringList lines = main().messages()->Text().split('\n');
    EXPECT_EQ(16, lines.size());
    QStringList tails;
    for (const QString& l : lines.mid(16 - n)) tails << (l == " " ? l : l.section(" - ", 1));
    return tails.join("|").toStdString();
  };
  // It opens on the latest lines, blank ones before them.
  EXPECT_EQ(" |Opzioni aggiornate|Server sorgente 127.0.0.1 presente", last(3));
  // Three: drawn together at the window's pace, not one by one.
  for (const char* line : {"uno", "due", "caff\xE8 pronto"}) program().Scrivi_Messaggio(line);
  EXPECT_EQ("Server sorgente 127.0.0.1 presente", last(1));
  testing::RunEventsFor(int(MessageWindow::kRefresh.count()) + 100);
  EXPECT_EQ(" |Opzioni aggiornate|Server sorgente 127.0.0.1 presente|uno|due|caff\xC3\xA8 pronto",
            last(6));
  SaveScreenshot(*m, "messages");
  m->close();
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().messages());
  EXPECT_TRUE(!state().Finestra_Messaggi_Aperta && main().action(kMessaggi)->isEnabled());
  // Opened again it shows what came meanwhile.
  program().Scrivi_Messaggio("mentre era chiusa");
  main().Click(kMessaggi);
  EXPECT_EQ("mentre era chiusa", last(1));

  // With the browser: the two stack below the main window, the one opened first on top.
  BrowserWindow& b = OpenBrowser();
  m = main().messages();
  EXPECT_EQ(m->frameGeometry().bottom() + 1, b.frameGeometry().top());
  m->close();
  QApplication::processEvents();
  EXPECT_EQ(main().frameGeometry().bottom() + 1, b.frameGeometry().top());  // moved up
  main().Click(kMessaggi);
  m = main().messages();
  EXPECT_EQ(b.frameGeometry().bottom() + 1, m->frameGeometry().top());
  b.close();
  QApplication::processEvents();
  EXPECT_EQ(main().frameGeometry().bottom() + 1, m->frameGeometry().top());
}

TEST_F(WindowsTest, TheOptionsDialogLoadsSetsStandardValuesRefusesWhatCannotBeStoredAndSaves) {
  OptionsForm typed = OptionsForm_Standard();
  typed.txtIN1 = "as400.ditta.it";
  typed.txtIN3 = "Segreto1";
  typed.txtIN15 = "002500";
  typed.chkLog_PC_AS = true;
  ASSERT_TRUE(OptionsForm_Save(program(), typed).ok());
  Open();
  main().Click(kOpzioni);
  OptionsDialog* o = main().options();
  ASSERT_NE(nullptr, o);
  EXPECT_TRUE(state().Finestra_Opzioni_Aperta);
  // Centred over the main window, top edges aligned.
  EXPECT_EQ(main().frameGeometry().top(), o->frameGeometry().top());
  EXPECT_LE(std::abs(main().frameGeometry().center().x() - o->frameGeometry().center().x()), 1);
  auto box = [&](const char* name) { return o->findChild<QLineEdit*>(name); };
  auto check = [&](const char* name) { return o->findChild<QCheckBox*>(name); };
  auto click = [&](const char* name) {
    o->findChild<QPushButton*>(name)->click();
    QApplication::processEvents();
  };
  // The first panel's boxes as stored, blanks included; the timings as plain numbers.
  auto text = [&](const char* name) { return box(name)->text().toStdString(); };
  EXPECT_EQ(
      std::tuple("as400.ditta.it" + std::string(36, ' '), "Segreto1  ", "4200 ", "2500", "30"),
      std::tuple(text("txtIN1"), text("txtIN3"), text("txtIN5"), text("txtIN15"), text("txtIN13")));
  EXPECT_EQ(QLineEdit::Password, box("txtIN3")->echoMode());
  EXPECT_TRUE(check("chkLog_PC_AS")->isChecked() && !check("chkLog")->isChecked());
  SaveScreenshot(*o, "options");

  // Each key beside the parameter string (those `torvan settings set` sets) has its box.
  for (const ProfileSetting& key : ProfileSettings()) EXPECT_NE(nullptr, box(key.name)) << key.name;
  EXPECT_EQ("127.0.0.1", box("Metriche_Indirizzo")->placeholderText());

  // "Standard" changes the boxes only; "Uscita" leaves TnC.INI as it was.
  const std::string before = Settings();
  click("cmdStandard");
  EXPECT_EQ(std::tuple("sistema origine", "", "1000", false),
            std::tuple(text("txtIN1"), text("txtIN3"), text("txtIN15"),
                       check("chkLog_PC_AS")->isChecked()));
  click("cmdUscita");
  EXPECT_EQ(before, Settings());
  EXPECT_TRUE(!main().options() && !state().Finestra_Opzioni_Aperta &&
              main().action(kOpzioni)->isEnabled());

  // "Standard", then values the settings file cannot give back: refused, saying why, the dialog
  // open on the first box at fault, the file and the log as they were.
  main().Click(kOpzioni);
  o = main().options();
  click("cmdStandard");
  auto type_and_save = [&](std::initializer_list<std::pair<const char*, const char*>> boxes) {
    for (const auto& [name, value] : boxes) box(name)->setText(value);
    click("cmdAggiorna");
  };
  AnswerBox(QMessageBox::Ok);
  lines_.clear();
  type_and_save({{"txtIN5", "42OO"}, {"txtIN15", "123456"}, {"Metriche", "70000"}});
  EXPECT_EQ(QMessageBox::Warning, seen_.icon);
  const QString& said = seen_.text;
  EXPECT_TRUE(said.startsWith("Valori non validi, le opzioni non sono state aggiornate:\n") &&
              said.contains("Porta: ") && said.contains("Ciclo_Sincronizz: ") &&
              said.contains("Metriche: un numero intero da 0 a 65535, non \"70000\""))
      << said.toStdString();
  EXPECT_TRUE(main().options() == o && state().Finestra_Opzioni_Aperta && lines_.empty());
  ASSERT_NE(nullptr, o->focusWidget());
  EXPECT_EQ("txtIN5", o->focusWidget()->objectName());
  EXPECT_EQ(before, Settings());

  // Mended to the standard values: the standard parameter string (its bytes: the settings'
  // tests), the keys beside it written as the command line writes them.
  type_and_save({{"txtIN5", "4200"}, {"txtIN15", "1000"}, {"Metriche", "9464"}, {"Durevole", "1"}});
  OptionsForm standard = OptionsForm_Standard();
  EXPECT_EQ(OptionsForm_Normalise(standard),
            Decodifica_Parametri(
                GetPrivateProfileString("Generale", "Parametri", "", program().paths.settings))
                .text);
  EXPECT_EQ(
      (std::vector<std::string>{"Opzioni aggiornate", "Server sorgente sistema origine presente"}),
      lines_);
  EXPECT_EQ("sistema origine", program().settings.parametri.Nome_Connessione);
  EXPECT_TRUE(!main().options() && !state().Finestra_Opzioni_Aperta);
  EXPECT_TRUE(program().settings.Metriche == 9464 && program().settings.Durevole);
  EXPECT_EQ(std::tuple("9464", ""), std::tuple(LoadProfileSetting(program().paths, "Metriche"),
                                               LoadProfileSetting(program().paths, "Attributi")));
}

}  // namespace
}  // namespace torvan
