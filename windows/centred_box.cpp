#include "windows/centred_box.h"

#include <QAbstractButton>
#include <QShowEvent>
#include <cmath>

#include "windows/qt_text.h"

namespace torvan {

namespace {

// A message box that moves itself onto its owner when it is about to appear: its size is
// known by then, and the window system has not shown it yet.
class CentredBox final : public QMessageBox {
 public:
  CentredBox(QWidget* owner) : QMessageBox(owner), owner_(owner) {}

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    if (owner_ == nullptr) return;
    // Before its first showing the box knows no frame of its own: it will get the owner's.
    const QSize frame = owner_->frameGeometry().size() - owner_->geometry().size();
    move(CentredOn(owner_->frameGeometry(), size() + frame));
  }

 private:
  QWidget* owner_;
};

QString BoxText(std::string_view cp1252) {
  QString text = ToQt(cp1252);
  text.replace('\r', '\n');
  return text;
}

}  // namespace

QPoint CentredOn(const QRect& owner, const QSize& box) {
  const double left = owner.left() + owner.width() / 2.0 - box.width() / 2.0;
  const double top = owner.top() + owner.height() / 2.0 - box.height() / 2.0;
  return QPoint(int(std::lround(left)), int(std::lround(top)));
}

QMessageBox::StandardButton Messaggio_Centrato(QWidget* owner, const QString& text,
                                               QMessageBox::StandardButtons buttons,
                                               QMessageBox::Icon icon, const QString& title,
                                               QMessageBox::StandardButton default_button) {
  CentredBox box(owner);
  box.setWindowTitle(title);
  box.setText(text);
  box.setIcon(icon);
  box.setStandardButtons(buttons);
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setText("OK");
  if (QAbstractButton* cancel = box.button(QMessageBox::Cancel)) {
    cancel->setText("Annulla");
    box.setEscapeButton(QMessageBox::Cancel);
  }
  if (default_button != QMessageBox::NoButton) box.setDefaultButton(default_button);
  box.exec();
  QAbstractButton* clicked = box.clickedButton();
  if (clicked == nullptr)
    return buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::NoButton;
  return box.standardButton(clicked);
}

QWidget* BoxConfirmations::OwnerWindow(Owner owner) const {
  return owner_window ? owner_window(owner) : nullptr;
}

void BoxConfirmations::ShowRefusal(Owner owner, std::string_view title, std::string_view text) {
  Messaggio_Centrato(OwnerWindow(owner), BoxText(text), QMessageBox::Ok, QMessageBox::Critical,
                     ToQt(title));
}

bool BoxConfirmations::AskOkCancel(Owner owner, std::string_view title, std::string_view text,
                                   int64_t) {
  return Messaggio_Centrato(OwnerWindow(owner), BoxText(text),
                            QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Critical,
                            ToQt(title), QMessageBox::Cancel) == QMessageBox::Ok;
}

}  // namespace torvan
