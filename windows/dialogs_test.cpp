// The message window and the options dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "config/ini_file.h"
#include "config/scramble.h"
#include "platform/file.h"
#include "windows/test_support.h"
#include "windows/window_fixture.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;
using testing::WindowsTest;

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

  // It opens on the latest lines: the start's presence check, blank lines before it.
  QStringList lines = Lines(m->Text());
  ASSERT_EQ(16, lines.size());
  EXPECT_EQ(" ", lines[0]);
  EXPECT_TRUE(lines[15].endsWith(" - Server sorgente 127.0.0.1 presente"))
      << lines[15].toStdString();

  // Three: drawn together at the window's pace, not one by one.
  program().Scrivi_Messaggio("uno");
  program().Scrivi_Messaggio("due");
  program().Scrivi_Messaggio("caff\xE8 pronto");
  EXPECT_TRUE(Lines(m->Text())[15].endsWith(" - Server sorgente 127.0.0.1 presente"));
  testing::RunEventsFor(int(MessageWindow::kRefresh.count()) + 100);
  lines = Lines(m->Text());
  ASSERT_EQ(16, lines.size());
  EXPECT_EQ(" ", lines[10]);
  EXPECT_TRUE(lines[13].endsWith(" - uno") && lines[14].endsWith(" - due") &&
              lines[15].endsWith(QString::fromUtf8(" - caffè pronto")))
      << m->Text().toStdString();
  SaveScreenshot(*m, "messages");

  m->close();
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().messages());
  EXPECT_TRUE(!state().Finestra_Messaggi_Aperta && main().action(kMessaggi)->isEnabled());

  // Opened again it shows what came meanwhile.
  program().Scrivi_Messaggio("mentre era chiusa");
  main().Click(kMessaggi);
  lines = Lines(main().messages()->Text());
  EXPECT_TRUE(lines[15].endsWith(" - mentre era chiusa"));
}

TEST_F(WindowsTest, TheOptionsDialogLoadsSetsStandardValuesAndSavesTheExactBytes) {
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
  auto text = [&](const char* name) { return box(name)->text().toStdString(); };
  EXPECT_EQ(
      std::tuple("as400.ditta.it" + std::string(36, ' '), "Segreto1  ", "4200 ", "2500", "30"),
      std::tuple(text("txtIN1"), text("txtIN3"), text("txtIN5"), text("txtIN15"), text("txtIN13")));
  EXPECT_EQ(QLineEdit::Password, box("txtIN3")->echoMode());
  EXPECT_TRUE(check("chkLog_PC_AS")->isChecked() && !check("chkLog")->isChecked());
  SaveScreenshot(*o, "options");

  // Keyboard order: the first panel, the second, the three check boxes, the keys beside the
  // parameter string (those `torvan settings set` sets), the buttons.
  std::vector<std::string> order = {
      "txtIN1",  "txtIN2",  "txtIN3",  "txtIN5",  "txtIN16", "txtIN17",      "txtIN12",
      "txtIN13", "txtIN14", "txtIN18", "txtIN15", "chkLog",  "chkLog_PC_AS", "chkNativeClient"};
  for (const ProfileSetting& key : ProfileSettings()) order.push_back(key.name);
  for (const char* b : {"cmdAggiorna", "cmdStandard", "cmdUscita"}) order.push_back(b);
  EXPECT_EQ("127.0.0.1", box("Metriche_Indirizzo")->placeholderText());
  QWidget* w = box("txtIN1");
  for (const std::string& name : order) {
    ASSERT_EQ(name, w->objectName().toStdString());
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus) || w->objectName().isEmpty());
  }
  EXPECT_EQ("txtIN1", w->objectName());

  // "Standard" changes the boxes only; "Uscita" leaves TnC.INI as it was.
  const std::string before = Settings();
  o->findChild<QPushButton*>("cmdStandard")->click();
  EXPECT_EQ(std::tuple("sistema origine", "", "1000"),
            std::tuple(text("txtIN1"), text("txtIN3"), text("txtIN15")));
  EXPECT_FALSE(check("chkLog_PC_AS")->isChecked());
  o->findChild<QPushButton*>("cmdUscita")->click();
  QApplication::processEvents();
  EXPECT_EQ(before, Settings());
  EXPECT_EQ(nullptr, main().options());
  EXPECT_FALSE(state().Finestra_Opzioni_Aperta);
  EXPECT_TRUE(main().action(kOpzioni)->isEnabled());

  // "Standard" then "Aggiorna": the standard parameter string (its bytes: the settings'
  // tests).
  main().Click(kOpzioni);
  o = main().options();
  o->findChild<QPushButton*>("cmdStandard")->click();
  lines_.clear();
  o->findChild<QPushButton*>("cmdAggiorna")->click();
  QApplication::processEvents();
  OptionsForm standard = OptionsForm_Standard();
  EXPECT_EQ(OptionsForm_Normalise(standard),
            Decodifica_Parametri(
                GetPrivateProfileString("Generale", "Parametri", "", program().paths.settings))
                .text);
  EXPECT_EQ(
      (std::vector<std::string>{"Opzioni aggiornate", "Server sorgente sistema origine presente"}),
      lines_);
  EXPECT_EQ("sistema origine", program().settings.parametri.Nome_Connessione);
  EXPECT_EQ(nullptr, main().options());
  EXPECT_FALSE(state().Finestra_Opzioni_Aperta);
}

TEST_F(WindowsTest, AValueTheSettingsFileCannotGiveBackIsRefusedAndNothingIsSaved) {
  Open();
  main().Click(kOpzioni);
  OptionsDialog* o = main().options();
  ASSERT_NE(nullptr, o);
  const std::string before = Settings();
  o->findChild<QLineEdit*>("txtIN5")->setText("42OO");
  o->findChild<QLineEdit*>("txtIN15")->setText("123456");
  o->findChild<QLineEdit*>("Metriche")->setText("70000");
  AnswerBox(QMessageBox::Ok);
  lines_.clear();
  o->findChild<QPushButton*>("cmdAggiorna")->click();
  QApplication::processEvents();
  EXPECT_EQ(QMessageBox::Warning, seen_.icon);
  const QString& said = seen_.text;
  EXPECT_TRUE(said.startsWith("Valori non validi, le opzioni non sono state aggiornate:\n") &&
              said.contains("Porta: ") && said.contains("Ciclo_Sincronizz: ") &&
              said.contains("Metriche: un numero intero da 0 a 65535, non \"70000\""))
      << said.toStdString();
  // The dialog stays open on the first box at fault; the file and the log are as they were.
  EXPECT_EQ(o, main().options());
  EXPECT_TRUE(state().Finestra_Opzioni_Aperta);
  ASSERT_NE(nullptr, o->focusWidget());
  EXPECT_EQ("txtIN5", o->focusWidget()->objectName());
  EXPECT_EQ(before, Settings());
  EXPECT_TRUE(lines_.empty());

  // Mended, the keys beside the parameter string are written and read as the command
  // line writes them.
  o->findChild<QLineEdit*>("txtIN5")->setText("4200");
  o->findChild<QLineEdit*>("txtIN15")->setText("1000");
  o->findChild<QLineEdit*>("Metriche")->setText("9464");
  o->findChild<QLineEdit*>("Durevole")->setText("1");
  o->findChild<QPushButton*>("cmdAggiorna")->click();
  QApplication::processEvents();
  EXPECT_EQ(nullptr, main().options());
  EXPECT_EQ(9464, program().settings.Metriche);
  EXPECT_TRUE(program().settings.Durevole);
  EXPECT_EQ("9464", LoadProfileSetting(program().paths, "Metriche"));
  EXPECT_EQ("", LoadProfileSetting(program().paths, "Attributi"));  // not changed, not written
}

}  // namespace
}  // namespace torvan
