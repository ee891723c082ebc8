#include "windows/message_window.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "windows/qt_text.h"
#include "windows/twips.h"

namespace torvan {

namespace {

constexpr int kWidthTwips = 9240;  // as wide as the main window

}  // namespace

MessageWindow::MessageWindow(Program& program, FrontEnd& front, QWidget* owner)
    : QWidget(owner, Qt::Window), program_(program), front_(front), label_(new QLabel(this)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle("Torvan  Messaggi");
  label_->setTextFormat(Qt::PlainText);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  label_->setBackgroundRole(QPalette::Base);
  label_->setAutoFillBackground(true);
  label_->setMargin(3);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 4, 6, 4);
  layout->addWidget(label_);
  const int lines = MessageLog::kWindowLines;
  setFixedSize(TwipsToPixels(kWidthTwips, logicalDpiX()), lines * fontMetrics().lineSpacing() + 20);

  program_.state.Finestra_Messaggi_Aperta = true;
  front_.Bar_Imposta();
  refresh_.setSingleShot(true);
  refresh_.setInterval(kRefresh);
  connect(&refresh_, &QTimer::timeout, this, &MessageWindow::Refresh);
  program_.log.on_window_text = [this] {
    if (!refresh_.isActive()) refresh_.start();
  };
  program_.log.WindowOpened();
  Refresh();
}

MessageWindow::~MessageWindow() { Unload(); }

void MessageWindow::Refresh() {
  refresh_.stop();
  QString text = ToQt(program_.log.WindowText());
  text.replace("\r\n", "\n");
  if (text.endsWith('\n')) text.chop(1);
  label_->setText(text);
}

void MessageWindow::Unload() {
  if (!loaded_) return;
  loaded_ = false;
  refresh_.stop();
  program_.log.on_window_text = nullptr;
  program_.state.Finestra_Messaggi_Aperta = false;
  front_.Bar_Imposta();
}

void MessageWindow::closeEvent(QCloseEvent* event) {
  Unload();
  event->accept();
  if (on_closed) on_closed();
}

}  // namespace torvan
