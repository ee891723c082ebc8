#include "windows/desktop.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "core/text.h"
#include "replication/pending_file.h"
#include "windows/image_list.h"
#include "windows/qt_text.h"
#include "windows/splash.h"

namespace torvan {

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

// A local X display (":N", ":N.S", "unix:N") answers on its socket.
bool LocalXServerAnswers(const std::string& display) {
  std::string number = display.substr(display.find(':') + 1);
  number = number.substr(0, number.find('.'));
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return true;
  const std::string path = "/tmp/.X11-unix/X" + number;
  for (bool abstract : {false, true}) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return true;  // cannot tell: let Qt try
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    // The abstract name starts with a NUL byte.
    const size_t offset = abstract ? 1 : 0;
    std::memcpy(addr.sun_path + offset, path.c_str(), path.size());
    const socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), len) == 0;
    close(fd);
    if (ok) return true;
  }
  return false;
}

}  // namespace

Desktop::Desktop(Paths paths)
    : program_(std::move(paths), platform::SystemClock(), &pump_),
      runtime_(program_),
      links_(runtime_),
      steps_(runtime_, confirmations_),
      main_(std::make_unique<MainWindow>(runtime_, confirmations_)),
      control_(std::make_unique<Controller>(program_, links_, steps_, timers_, *main_)),
      status_(runtime_, "finestra") {
  main_->Attach(*control_);
}

Desktop::~Desktop() {
  control_.reset();  // kills the cycle timer while the windows still stand
  if (status_started_) status_.Stop();
  main_.reset();
}

bool Desktop::Open() {
  // The folder is this Torvan's from now on, not from the first replication step.
  if (!steps_.Ready() || !status_.Start(timers_).ok()) return false;
  status_started_ = true;
  main_->Form_Load();
  main_->show();
  return true;
}

bool DisplayAvailable(std::string* why) {
  const std::string platform = Env("QT_QPA_PLATFORM");
  const std::string display = Env("DISPLAY");
  const std::string wayland = Env("WAYLAND_DISPLAY");
  const bool wants_x = platform.empty() || platform.rfind("xcb", 0) == 0;
  const bool wants_wayland = platform.rfind("wayland", 0) == 0;
  if (!platform.empty() && !wants_x && !wants_wayland) return true;  // offscreen, vnc, ...
  if (wants_wayland || (platform.empty() && !wayland.empty())) {
    if (!wayland.empty()) return true;
    *why = "no display for the window (WAYLAND_DISPLAY is not set)";
    return false;
  }
  if (display.empty()) {
    *why = "no display for the window (DISPLAY is not set)";
    return false;
  }
  if (display[0] == ':' || display.rfind("unix:", 0) == 0) {
    if (!LocalXServerAnswers(display)) {
      *why = "the display " + display + " does not answer";
      return false;
    }
  }
  return true;
}

int RunDesktop(int argc, char** argv, const std::string& folder) {
  std::string why;
  if (!DisplayAvailable(&why)) {
    std::cerr << "torvan: " << why << "; to replicate without a window: torvan run\n";
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setWindowIcon(ApplicationIcon());
  QApplication::setQuitOnLastWindowClosed(false);
  // The base folder and its files are fixed as the splash loads.
  Paths paths = folder.empty() ? Paths::InWorkingDirectory() : Paths::InFolder(folder);
  // One Torvan works in a base folder at a time, as `torvan run` says too.
  if (PendingFileInUse(paths.pending)) {
    const std::string text = "Un altro Torvan lavora nella cartella " + paths.base + " (" +
                             paths.pending + " \xE8 bloccato)";
    std::cerr << "torvan: " << Cp1252ToUtf8(text) << "\n";
    if (QGuiApplication::platformName() != "offscreen") {
      Messaggio_Centrato(nullptr, ToQt(text), QMessageBox::Ok, QMessageBox::Critical, "Torvan");
    }
    return 1;
  }
  std::unique_ptr<Desktop> desktop;
  Splash splash([&] {
    desktop = std::make_unique<Desktop>(paths);
    desktop->main().on_end = [](int status) { QCoreApplication::exit(status); };
    if (!desktop->Open()) {
      const std::string text = "Un altro Torvan lavora nella cartella " + paths.base;
      std::cerr << "torvan: " << Cp1252ToUtf8(text) << "\n";
      if (QGuiApplication::platformName() != "offscreen") {
        Messaggio_Centrato(nullptr, ToQt(text), QMessageBox::Ok, QMessageBox::Critical, "Torvan");
      }
      QCoreApplication::exit(1);
    }
  });
  splash.show();
  splash.Start();
  const int status = QApplication::exec();
  if (desktop != nullptr && desktop->main().exit_status()) return *desktop->main().exit_status();
  return status;
}

}  // namespace torvan
