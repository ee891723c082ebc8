// The window tests' fixture: a Desktop in a temporary folder with the real Controller, a ping
// the test answers, an operator's saved settings, the lines logged without time stamps.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QMessageBox>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "catalogue/catalogue_files.h"
#include "config/settings.h"
#include "platform/file.h"
#include "platform/temp_folder.h"
#include "windows/desktop.h"
#include "windows/test_support.h"

namespace torvan::testing {

class WindowsTest : public ::testing::Test {
 protected:
  WindowsTest() {
    setenv("TORVAN_HOSTS_FILE", (folder_ / "hosts").c_str(), 1);
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
  // Those of `wanted` that were not logged, one a line: "" when all were.
  std::string NotLogged(std::initializer_list<std::string> wanted) const {
    std::string missing;
    for (const std::string& line : wanted) {
      if (std::find(lines_.begin(), lines_.end(), line) == lines_.end()) missing += line + "\n";
    }
    return missing;
  }
  // The settings file as it stands.
  std::string Settings() {
    std::string s;
    return platform::ReadFile(program().paths.settings, &s).ok() ? s : "";
  }
  // The browser, opened from the toolbar as with the SQL connections open.
  BrowserWindow& OpenBrowser() {
    state().Collegato_SQL = true;
    main().Click(kFile);
    EXPECT_NE(nullptr, main().browser());
    return *main().browser();
  }
  struct SeenBox {  // what the last box AnswerBox answered showed
    QRect frame;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
  } seen_;
  // Answers the next modal message box, when it comes, with `which` (NoButton: Enter, its
  // default), noting it in seen_ and saving its picture as `screenshot` when named.
  void AnswerBox(QMessageBox::StandardButton which, const std::string& screenshot = "") {
    box_poll_ = std::make_unique<QTimer>();
    QObject::connect(box_poll_.get(), &QTimer::timeout, [this, which, screenshot] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      box_poll_->stop();
      seen_ = {box->frameGeometry(), box->windowTitle(), box->text(), box->icon(), {}};
      for (QAbstractButton* button : box->buttons()) seen_.buttons << button->text();
      if (!screenshot.empty()) SaveScreenshot(*box, screenshot);
      if (which == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Return);
      } else {
        box->button(which)->click();
      }
    });
    box_poll_->start(0);
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
  std::unique_ptr<QTimer> box_poll_;
};

}  // namespace torvan::testing
