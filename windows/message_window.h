// frmMessaggi, the message window: the last 16 lines of the message log. It opens on the
// latest lines; the message log (core/message_log.h) keeps them and tells it when a line
// arrives. The window redraws at its own pace (kRefresh), whatever the number of lines
// that came meanwhile: a busy replication writes a line per change, and drawing each one
// would cost replication more than the change itself.
//
// Owned by the main window, which places it (below the main window, or below the
// catalogue browser when that is open).
#pragma once

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>

#include "control/controller.h"
#include "core/program.h"

namespace torvan {

class MessageWindow final : public QWidget {
 public:
  // Loads the window: sets Finestra_Messaggi_Aperta, refreshes the toolbar and starts the
  // 16 blank lines. `owner` is the main window.
  MessageWindow(Program& program, FrontEnd& front, QWidget* owner);
  ~MessageWindow() override;

  // At most this long between a line's arrival and its showing.
  static constexpr std::chrono::milliseconds kRefresh{250};

  // The 16 lines as shown, "\n" between them.
  QString Text() const { return label_->text(); }
  // Shows the latest lines now (the timer does it kRefresh after a line arrives).
  void Refresh();

  // Runs after the window has closed and cleared its flag.
  std::function<void()> on_closed;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Unload();

  Program& program_;
  FrontEnd& front_;
  QLabel* label_;
  QTimer refresh_;
  bool loaded_ = true;
};

}  // namespace torvan
