#include "windows/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

#include "config/settings.h"
#include "core/statistics.h"
#include "core/version.h"
#include "windows/command_scope.h"
#include "windows/image_list.h"
#include "windows/placement.h"
#include "windows/qt_text.h"
#include "windows/twips.h"

namespace torvan {

namespace {

// The window's design: its client area, in twips.
constexpr int kWidthTwips = 9240, kHeightTwips = 2220;
// Shown after the version in the release label.
constexpr char kBuildComment[] = "Linux - Qt";

}  // namespace

MainWindow::MainWindow(Runtime& rt, BoxConfirmations& confirmations)
    : QWidget(nullptr),
      rt_(rt),
      program_(rt.program),
      confirmations_(confirmations),
      toolbar_(new QToolBar(this)),
      display_(new StatusDisplay(rt.program, this)),
      release_(new QLabel(this)) {
  setWindowTitle("Torvan");
  setWindowIcon(ApplicationIcon());
  const int dpi = logicalDpiX();
  setFixedSize(TwipsToPixels(kWidthTwips, dpi), TwipsToPixels(kHeightTwips, dpi));
  // The status display covers the client area: its positions count from the client origin.
  display_->setGeometry(rect());

  const int icon = std::max(16, TwipsToPixels(kIconTwips, dpi));
  toolbar_->setIconSize(QSize(icon, icon));
  toolbar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  for (int b = 0; b < kMainButtonCount; ++b) {
    QAction* a = toolbar_->addAction(QString());
    a->setObjectName(MainButtons()[size_t(b)].key);
    a->setToolTip(QString::fromLatin1(MainButtons()[size_t(b)].tooltip));
    connect(a, &QAction::triggered, this, [this, b] { Click(MainButton(b)); });
    actions_[size_t(b)] = a;
  }
  toolbar_->adjustSize();
  toolbar_->move(0, 0);
  toolbar_->raise();
  release_->setObjectName("Release");
  release_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  release_->setGeometry(width() / 2, 0, width() / 2 - 8, toolbar_->height());
  release_->raise();

  confirmations_.owner_window = [this](Owner owner) -> QWidget* {
    if (owner == Owner::kBrowser && browser_ != nullptr) return browser_;
    return this;
  };
  display_timer_.setInterval(500);
  connect(&display_timer_, &QTimer::timeout, this, &MainWindow::Video);
}

MainWindow::~MainWindow() {
  display_timer_.stop();
  confirmations_.owner_window = nullptr;
  // The other windows refresh this one's toolbar as they go: they go first.
  delete browser_.data();
  delete options_.data();
  delete messages_.data();
}

void MainWindow::Form_Load() {
  release_->setText(QString::fromLatin1(TorvanVersion()) + "   " +
                    QString::fromLatin1(kBuildComment));
  Leggi_Parametri(program_);
  Posizione_Carica();
  Bar_Imposta_Inizializza();
  Statistiche_Reset(program_.stats);
  control_->Server__Verifica(true, false);
  display_timer_.start();
  program_.state.Timer_Video = platform::TimerId(display_timer_.timerId());
}

void MainWindow::Bar_Imposta_Inizializza() {
  program_.state.Finestra_Messaggi_Aperta = false;
  program_.state.Finestra_Opzioni_Aperta = false;
  program_.state.Finestra_File_Aperta = false;
  for (int b = 0; b < kMainButtonCount; ++b) {
    images_[size_t(b)] = MainButtons()[size_t(b)].image;
    actions_[size_t(b)]->setIcon(ImageList::Icon(images_[size_t(b)]));
  }
  program_.stats.Stat_Testi[kHostStopText].clear();
  program_.stats.Stat_Testi[kHostRestartText].clear();
  Bar_Imposta();
}

void MainWindow::Bar_Imposta() {
  const MainToolbarLook look = Bar_Regole(program_.state, rt_.catalogue.Catalogo_Errato);
  for (int b = 0; b < kMainButtonCount; ++b)
    actions_[size_t(b)]->setEnabled(look.enabled[size_t(b)]);
  if (images_[kServer] != look.server_image) {
    images_[kServer] = look.server_image;
    actions_[kServer]->setIcon(ImageList::Icon(look.server_image));
  }
  actions_[kServer]->setToolTip(QString::fromLatin1(look.server_tooltip));
  if (images_[kTimer] != look.timer_image) {
    images_[kTimer] = look.timer_image;
    actions_[kTimer]->setIcon(ImageList::Icon(look.timer_image));
  }
}

void MainWindow::Click(MainButton button) {
  CommandScope scope({toolbar_, display_}, *program_.pump);
  Busy busy(program_.state);
  if (!busy.entered()) return;
  switch (button) {
    case kUscita:
      Uscita();
      break;
    case kServer:
      if (images_[kServer] == "Server") {
        control_->Server__Start(true);
      } else {
        control_->Server__Stop(true);
      }
      Bar_Imposta();
      break;
    case kTimer:
      control_->TimerButton();
      break;
    case kOpzioni:
      OpenOpzioni();
      break;
    case kFile:
      OpenFile();
      break;
    case kMessaggi:
      OpenMessaggi();
      break;
    case kReset:
      Statistiche_Reset(program_.stats);
      display_->update();
      break;
  }
}

void MainWindow::Video() {
  display_->Video();
  // A box that said why the window did not close goes once the reason has gone.
  if (not_closing_ != nullptr && !program_.state.ReplicationOn()) not_closing_->close();
  program_.ProcessEvents();
}

void MainWindow::Disconnect() {
  control_->Server__Stop(true);
  Posizione_Salva();
  Bar_Imposta();
  program_.Scrivi_Messaggio("Completate le operazioni di scollegamento");
  program_.ProcessEvents();
  program_.pump->Sleep(close_pause);
}

void MainWindow::Uscita() {
  Disconnect();
  End(0);
}

void MainWindow::EndProgram(int exit_status, const std::string& reason) {
  if (!reason.empty()) {
    Messaggio_Centrato(this, ToQt(reason + "\n\nTorvan si chiude."), QMessageBox::Ok,
                       QMessageBox::Critical, "Torvan");
  }
  End(exit_status);
}

void MainWindow::SayWhyNotClosing() {
  const char* why =
      program_.state.ReplicationOn()
          ? "Torvan non si chiude mentre il sincronismo \xE8 attivo o sospeso: fermarlo prima "
            "con il pulsante Timer."
          : "Torvan non si chiude mentre un comando \xE8 in corso: si pu\xF2 chiudere quando "
            "\xE8 finito.";
  if (not_closing_ != nullptr) {
    not_closing_->setText(ToQt(why));
    return;
  }
  // Not modal and not waited for: a pass or a command may be running under this event.
  not_closing_ =
      new QMessageBox(QMessageBox::Information, "Torvan", ToQt(why), QMessageBox::Ok, this);
  not_closing_->setObjectName("ChiusuraRifiutata");
  not_closing_->setAttribute(Qt::WA_DeleteOnClose);
  not_closing_->setModal(false);
  not_closing_->show();
}

void MainWindow::End(int exit_status) {
  exit_status_ = exit_status;
  program_.state.Fine_Richiesta = true;
  display_timer_.stop();
  CloseOthers();
  hide();
  if (on_end) on_end(exit_status);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (exit_status_) {  // ended already: nothing more to do
    event->accept();
    return;
  }
  // Replication must be stopped first with the Timer button; a running command still
  // works on the window.
  if (program_.state.ReplicationOn() || program_.state.Comando_In_Corso) {
    event->ignore();
    SayWhyNotClosing();
    return;
  }
  {
    Busy busy(program_.state);
    Disconnect();
  }
  event->accept();
  End(0);
}

void MainWindow::CloseOthers() {
  if (browser_ != nullptr) browser_->close();
  if (options_ != nullptr) options_->close();
  if (messages_ != nullptr) messages_->close();
}

void MainWindow::Posizione_Carica() {
  const int dpi = logicalDpiX();
  const QScreen* s = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  const QRect area = s != nullptr ? s->geometry() : QRect(0, 0, 1024, 768);
  const Placement p = ReadPlacement(program_.paths.settings, PixelsToTwips(area.width(), dpi),
                                    PixelsToTwips(area.height(), dpi));
  move(TwipsToPixels(p.left, dpi), TwipsToPixels(p.top, dpi));
  if (p.window_state == 1) setWindowState(Qt::WindowMinimized);
  if (p.window_state == 2) setWindowState(Qt::WindowMaximized);
}

void MainWindow::Posizione_Salva() {
  const int dpi = logicalDpiX();
  Placement p;
  if (windowState().testFlag(Qt::WindowMinimized)) {
    p.window_state = 1;
  } else if (windowState().testFlag(Qt::WindowMaximized)) {
    p.window_state = 2;
  }
  p.left = PixelsToTwips(pos().x(), dpi);
  p.top = PixelsToTwips(pos().y(), dpi);
  // A placement that cannot be written only costs the next start its position.
  (void)WritePlacement(program_.paths.settings, p);
}

void MainWindow::PlaceBelow(QWidget* window, const QWidget* above) {
  const QRect frame = above->frameGeometry();
  window->move(frame.left(), frame.top() + frame.height());
}

void MainWindow::OpenMessaggi() {
  if (messages_ != nullptr) return;
  messages_ = new MessageWindow(program_, *this, this);
  messages_->setWindowIcon(windowIcon());
  PlaceBelow(messages_, browser_ != nullptr ? static_cast<QWidget*>(browser_) : this);
  messages_->on_closed = [this] {
    if (browser_ != nullptr) PlaceBelow(browser_, this);
  };
  messages_->show();
}

void MainWindow::OpenOpzioni() {
  if (options_ != nullptr) return;
  options_ = new OptionsDialog(program_, *control_, *this, this);
  options_->setWindowIcon(windowIcon());
  options_->show();
}

void MainWindow::OpenFile() {
  if (browser_ != nullptr) return;
  browser_ = new BrowserWindow(rt_, confirmations_, *this, this);
  browser_->setWindowIcon(windowIcon());
  PlaceBelow(browser_, messages_ != nullptr ? static_cast<QWidget*>(messages_) : this);
  browser_->on_closed = [this] {
    if (messages_ != nullptr) PlaceBelow(messages_, this);
  };
  browser_->show();
}

}  // namespace torvan
