// frmMessaggi, the message window: the last 16 lines of the message log, shown while it is
// open. It always opens with 16 blank lines; the message log (core/message_log.h) keeps
// its text and tells it when a line arrives.
//
// Owned by the main window, which places it (below the main window, or below the
// catalogue browser when that is open).
#pragma once

#include <QLabel>
#include <QWidget>
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

  // The 16 lines as shown, "\n" between them.
  QString Text() const { return label_->text(); }

  // Runs after the window has closed and cleared its flag.
  std::function<void()> on_closed;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Refresh();
  void Unload();

  Program& program_;
  FrontEnd& front_;
  QLabel* label_;
  bool loaded_ = true;
};

}  // namespace torvan
