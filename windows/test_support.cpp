#include "windows/test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <cstdlib>
#include <memory>

#include "windows/image_list.h"

namespace torvan::testing {

namespace {

class QtEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // ctest sets it; a direct run gets it here
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setQuitOnLastWindowClosed(false);
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "windows_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

QImage Picture(QWidget& window) {
  const QPixmap client = window.grab();
  if (!window.mask().isEmpty()) {
    QImage shaped(client.size(), QImage::Format_ARGB32_Premultiplied);
    shaped.fill(Qt::transparent);
    QPainter p(&shaped);
    p.setClipRegion(window.mask());
    p.drawPixmap(0, 0, client);
    return shaped;
  }
  const int bar = 26;
  QImage picture(client.width() + 2, client.height() + bar + 1, QImage::Format_ARGB32);
  picture.fill(QColor(60, 90, 140));
  QPainter p(&picture);
  QLinearGradient title(0, 0, 0, bar);
  title.setColorAt(0, QColor(86, 128, 196));
  title.setColorAt(1, QColor(52, 86, 150));
  p.fillRect(0, 0, picture.width(), bar, title);
  const QIcon icon = window.windowIcon().isNull() ? ApplicationIcon() : window.windowIcon();
  p.drawPixmap(5, 5, icon.pixmap(16, 16));
  p.setPen(Qt::white);
  QFont font = window.font();
  font.setBold(true);
  p.setFont(font);
  p.drawText(QRect(26, 0, picture.width() - 30, bar), Qt::AlignLeft | Qt::AlignVCenter,
             window.windowTitle());
  p.drawPixmap(1, bar, client);
  return picture;
}

std::string SaveScreenshot(QWidget& window, const std::string& name) {
  const std::string folder = TORVAN_SCREENSHOTS;
  mkdir(folder.c_str(), 0755);
  const std::string path = folder + "/" + name + ".png";
  Picture(window).save(QString::fromStdString(path));
  return path;
}

void RunEventsFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

}  // namespace torvan::testing
