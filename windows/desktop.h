// The desktop program: what the windows need for the life of the process, built in the
// order the parts stand on each other, and the start-up behind the splash.
//
// The window drives the same routines as `torvan run`: a Controller on Qt's event loop
// (platform/qt_loop.h) with the real links (RuntimeLinks) and replication steps
// (MakeReplication); only the front end differs.
#pragma once

#include <memory>
#include <string>

#include "control/controller.h"
#include "control/status_service.h"
#include "links/link_ops.h"
#include "links/runtime.h"
#include "platform/qt_loop.h"
#include "replication/replication.h"
#include "windows/centred_box.h"
#include "windows/main_window.h"

namespace torvan {

class Desktop {
 public:
  // A QApplication must exist and outlive the Desktop. `paths` are the base folder's.
  explicit Desktop(Paths paths);
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  // Takes the base folder for this Torvan (the pending file's lock), starts the status
  // file and the metrics, then the main window's load, and the window shows. False,
  // after a message line, when another Torvan works in the folder: nothing opens.
  bool Open();

  Program& program() { return program_; }
  Runtime& runtime() { return runtime_; }
  Controller& control() { return *control_; }
  MainWindow& main() { return *main_; }
  BoxConfirmations& confirmations() { return confirmations_; }

 private:
  platform::QtPump pump_;
  platform::QtTimers timers_;
  Program program_;
  Runtime runtime_;
  RuntimeLinks links_;
  BoxConfirmations confirmations_;
  ReplicationSteps steps_;
  std::unique_ptr<MainWindow> main_;
  std::unique_ptr<Controller> control_;
  StatusService status_;
  bool status_started_ = false;
};

// Whether a window can be shown: the Qt platform named in QT_QPA_PLATFORM, or a display
// server that answers (DISPLAY, WAYLAND_DISPLAY). False with the reason otherwise.
bool DisplayAvailable(std::string* why);

// The desktop program: the splash for one second, then the main window, until the program
// ends. `folder` is the base folder, empty for the current working directory. Returns the
// exit status; 2, after one line on standard error, when there is no display; 1, after
// that line and a box, when another Torvan works in the folder.
int RunDesktop(int argc, char** argv, const std::string& folder);

}  // namespace torvan
