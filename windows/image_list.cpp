#include "windows/image_list.h"

#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>
#include <string>

namespace torvan {

namespace {

QPixmap Render(const QString& resource, int size) {
  QSvgRenderer renderer(resource);
  if (!renderer.isValid() || size <= 0) return {};
  const qreal scale = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(int(size * scale), int(size * scale));
  pixmap.setDevicePixelRatio(scale);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter, QRectF(0, 0, size, size));
  return pixmap;
}

QString Resource(std::string_view name) {
  return ":/torvan/icons/" + QString::fromLatin1(name.data(), qsizetype(name.size())) + ".svg";
}

QIcon IconOf(const QString& resource) {
  QIcon icon;
  for (int size : {16, 24, 32, 48}) icon.addPixmap(Render(resource, size));
  return icon;
}

}  // namespace

const std::array<const char*, 13>& ImageList::Keys() {
  static const std::array<const char*, 13> keys = {
      "Uscita", "File",  "Cancella",   "Server",    "Server1", "Opzioni", "Messaggi",
      "Timer1", "Timer", "Visualizza", "File_Crea", "Reset",   "Eventi"};
  return keys;
}

bool ImageList::Has(std::string_view key) {
  const auto& keys = Keys();
  if (std::find(keys.begin(), keys.end(), key) == keys.end()) return false;
  return QSvgRenderer(Resource(key)).isValid();
}

QPixmap ImageList::Pixmap(std::string_view key, int size) {
  if (!Has(key)) return {};
  return Render(Resource(key), size);
}

QIcon ImageList::Icon(std::string_view key) {
  if (!Has(key)) return {};
  return IconOf(Resource(key));
}

QIcon ApplicationIcon() { return IconOf(Resource("torvan")); }

QPixmap ApplicationPixmap(int size) { return Render(Resource("torvan"), size); }

}  // namespace torvan
