// frmBase, the main window: the toolbar of the operator's commands, the status display,
// the release label; it owns the message window, the options dialog and the catalogue
// browser, and is the control layer's front end (Bar_Imposta, EndProgram).
//
// It draws and dispatches: the enabling rules are Bar_Regole (toolbar_rules.h), the work
// is the Controller's and the cores', the status fields the statistics core's.
#pragma once

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QToolBar>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <optional>

#include "control/controller.h"
#include "links/runtime.h"
#include "windows/browser_window.h"
#include "windows/centred_box.h"
#include "windows/message_window.h"
#include "windows/options_dialog.h"
#include "windows/status_display.h"
#include "windows/toolbar_rules.h"

namespace torvan {

class MainWindow final : public QWidget, public FrontEnd {
 public:
  // `confirmations` gets this window and the browser as the owners of its boxes.
  MainWindow(Runtime& rt, BoxConfirmations& confirmations);
  ~MainWindow() override;

  // The Controller that runs the commands; set once, before Form_Load.
  void Attach(Controller& control) { control_ = &control; }

  // The load: release label, settings, placement, toolbar, statistics, the source
  // server's presence check, the display timer. Nothing connects.
  void Form_Load();
  void Bar_Imposta_Inizializza();
  // FrontEnd.
  void Bar_Imposta() override;
  // Says `reason` in a box (when there is one), then ends.
  void EndProgram(int exit_status, const std::string& reason) override;

  // The toolbar's click handler.
  void Click(MainButton button);
  // The display timer's tick.
  void Video();

  // The exit status once the program has ended (Uscita, the close, a failed host link).
  std::optional<int> exit_status() const { return exit_status_; }
  QAction* action(MainButton b) const { return actions_[size_t(b)]; }
  // The image key each button shows.
  const std::string& image(MainButton b) const { return images_[size_t(b)]; }
  StatusDisplay& display() { return *display_; }
  QLabel& release() { return *release_; }
  MessageWindow* messages() const { return messages_; }
  OptionsDialog* options() const { return options_; }
  BrowserWindow* browser() const { return browser_; }

  // The pause of the close and exit sequences before the program ends.
  std::chrono::milliseconds close_pause{1000};
  // Leaves the event loop when the program ends (Uscita, the close, a failed host link),
  // with the exit status; whoever runs the loop sets it.
  std::function<void(int exit_status)> on_end;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void Uscita();
  // Closes the other windows, hides this one and leaves the event loop.
  void End(int exit_status);
  // Says, in a box that does not wait, why the window cannot close now.
  void SayWhyNotClosing();
  // The steps the close and Uscita share: stop the links, save the placement, refresh the
  // toolbar, log, let events run, pause.
  void Disconnect();
  void Posizione_Carica();
  void Posizione_Salva();
  void OpenMessaggi();
  void OpenOpzioni();
  void OpenFile();
  void CloseOthers();
  // Moves `window` directly below `above`: same left edge, at its top plus its height.
  static void PlaceBelow(QWidget* window, const QWidget* above);

  Runtime& rt_;
  Program& program_;
  BoxConfirmations& confirmations_;
  Controller* control_ = nullptr;
  QToolBar* toolbar_;
  StatusDisplay* display_;
  QLabel* release_;
  std::array<QAction*, kMainButtonCount> actions_{};
  std::array<std::string, kMainButtonCount> images_{};
  QTimer display_timer_;
  QPointer<MessageWindow> messages_;
  QPointer<OptionsDialog> options_;
  QPointer<BrowserWindow> browser_;
  QPointer<QMessageBox> not_closing_;
  std::optional<int> exit_status_;
};

}  // namespace torvan
