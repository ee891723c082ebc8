// ImageList1: Torvan's own images, by key, for the toolbars of the main window and the
// catalogue browser, and the application icon. The images are SVG drawings compiled into
// the program (windows/icons/).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <array>
#include <string_view>

namespace torvan {

class ImageList {
 public:
  // Every key the list holds.
  static const std::array<const char*, 13>& Keys();
  // True when `key` is one of Keys() and its drawing could be read.
  static bool Has(std::string_view key);
  // The image of `key` at `size` pixels square (device pixels follow the screen's scale);
  // a null pixmap for an unknown key.
  static QPixmap Pixmap(std::string_view key, int size);
  // The image of `key` as a toolbar icon, drawn for the usual toolbar sizes.
  static QIcon Icon(std::string_view key);
};

// The program's icon ("torvan").
QIcon ApplicationIcon();
QPixmap ApplicationPixmap(int size);

}  // namespace torvan
