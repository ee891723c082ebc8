// The frame of an operator's command in a window: the hourglass pointer and no input to
// the window until the command ends, with pending events let run on the way in and out so
// that the window shows both changes.
#pragma once

#include <QApplication>
#include <QWidget>
#include <initializer_list>
#include <vector>

#include "platform/event_pump.h"

namespace torvan {

class CommandScope {
 public:
  CommandScope(std::initializer_list<QWidget*> inputs, platform::EventPump& pump)
      : inputs_(inputs), pump_(pump) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (QWidget* w : inputs_) w->setEnabled(false);
    pump_.ProcessEvents();
  }
  ~CommandScope() {
    QApplication::restoreOverrideCursor();
    for (QWidget* w : inputs_) w->setEnabled(true);
    pump_.ProcessEvents();
  }
  CommandScope(const CommandScope&) = delete;
  CommandScope& operator=(const CommandScope&) = delete;

 private:
  std::vector<QWidget*> inputs_;
  platform::EventPump& pump_;
};

}  // namespace torvan
