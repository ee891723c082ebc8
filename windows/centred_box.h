// Messaggio_Centrato, the message box that opens centred on its owner window, and the
// desktop's answers to the schema operations' questions (schema/confirm.h) made with it.
#pragma once

#include <QMessageBox>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <functional>

#include "schema/confirm.h"

namespace torvan {

// Where a box of `box` size goes over `owner` (both frames, in pixels): its left edge at
// owner left + owner width / 2 - box width / 2, its top likewise, rounded to the nearest
// pixel. The result may lie partly off screen: the box stays on its owner.
QPoint CentredOn(const QRect& owner, const QSize& box);

// Shows a modal message box with `text`, `buttons` and `icon` under `title`, centred on
// `owner`; returns the button chosen. The buttons read "OK" and "Annulla". A box closed
// without a button answers Cancel when it has one. `default_button` is the one Enter
// presses (none given: the box's own choice).
QMessageBox::StandardButton Messaggio_Centrato(
    QWidget* owner, const QString& text, QMessageBox::StandardButtons buttons,
    QMessageBox::Icon icon, const QString& title,
    QMessageBox::StandardButton default_button = QMessageBox::NoButton);

// The schema operations' questions as critical-stop boxes centred on the window that gave
// the command. Texts are Windows-1252 with CR line breaks, as confirm.h builds them.
class BoxConfirmations final : public Confirmations {
 public:
  // The window a box is centred on; the main window sets it. Null: the box has no owner.
  std::function<QWidget*(Owner)> owner_window;

  void ShowRefusal(Owner owner, std::string_view title, std::string_view text) override;
  // `unsent` is already named in the text; the box asks the same either way. Rows are lost
  // on OK: Annulla is the default button, so Enter loses nothing.
  bool AskOkCancel(Owner owner, std::string_view title, std::string_view text,
                   int64_t unsent) override;

 private:
  QWidget* OwnerWindow(Owner owner) const;
};

}  // namespace torvan
