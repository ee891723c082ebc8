#include "windows/splash.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include "core/version.h"
#include "windows/image_list.h"

namespace torvan {

namespace {

struct RoundRect {
  int left, top, right, bottom;  // as the region functions take them
  int ellipse_w, ellipse_h;      // the corners' ellipse
  QRectF Rect() const { return QRectF(left, top, right - left, bottom - top); }
};

constexpr RoundRect kDisc{37, 5, 180, 149, 139, 139};
constexpr RoundRect kBand1{6, 27, 381, 127, 100, 100};
constexpr RoundRect kBand2{19, 39, 393, 140, 100, 100};
constexpr RoundRect kBarFrame{152, 142, 374, 155, 10, 10};

// The animated bar: the frame without its 4-pixel margins, boxes 90 wide.
constexpr int kBarLeft = 156, kBarRight = 370, kBarTop = 142, kBarBottom = 155;
constexpr int kBoxWidth = 90, kBoxStep = 180;
const QColor kBoxColours[4] = {QColor(129, 211, 131), QColor(60, 172, 63), QColor(129, 211, 131),
                               QColor(218, 232, 240)};

QPainterPath PathOf(const RoundRect& r) {
  QPainterPath path;
  path.addRoundedRect(r.Rect(), r.ellipse_w / 2.0, r.ellipse_h / 2.0);
  return path;
}

}  // namespace

Splash::Splash(std::function<void()> hand_over)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint),
      hand_over_(std::move(hand_over)) {
  setAttribute(Qt::WA_TranslucentBackground);
  setWindowTitle("Torvan");
  setWindowIcon(ApplicationIcon());
  setFixedSize(kBand2.right + 1, kBarFrame.bottom + 1);
  bar_ = QPixmap(kBarFrame.right - kBarFrame.left, kBarFrame.bottom - kBarFrame.top);
  bar_.fill(QColor(32, 64, 112));
  // The four boxes start spread along the bar.
  for (int k = 0; k < 4; ++k) boxes_[size_t(k)] = kBarLeft + k * (kBarRight - kBarLeft) / 4;
  animation_.setInterval(100);
  connect(&animation_, &QTimer::timeout, this, &Splash::Animate);
  hand_over_timer_.setSingleShot(true);
  hand_over_timer_.setInterval(1000);
  connect(&hand_over_timer_, &QTimer::timeout, this, &Splash::HandOver);
}

Splash::~Splash() {
  animation_.stop();
  hand_over_timer_.stop();
  if (cursor_set_) QApplication::restoreOverrideCursor();
}

QRegion Splash::Shape() {
  QPainterPath shape = PathOf(kDisc);
  shape = shape.united(PathOf(kBand1));
  shape = shape.united(PathOf(kBand2));
  shape = shape.united(PathOf(kBarFrame));
  return QRegion(shape.toFillPolygon().toPolygon());
}

void Splash::Start() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  cursor_set_ = true;
  QApplication::processEvents();
  setMask(Shape());
  animation_.start();
  hand_over_timer_.start();
}

void Splash::Animate() {
  QPainter painter(&bar_);
  for (int k = 0; k < 4; ++k) {
    int& x = boxes_[size_t(k)];
    if (x >= kBarRight) x = kBarLeft;
    painter.fillRect(
        QRect(x - kBarFrame.left, kBarTop - kBarFrame.top, kBoxWidth, kBarBottom - kBarTop),
        kBoxColours[k]);
    x += kBoxStep;
  }
  update(QRect(kBarFrame.left, kBarFrame.top, bar_.width(), bar_.height()));
}

void Splash::HandOver() {
  animation_.stop();
  hand_over_timer_.stop();
  QApplication::processEvents();
  if (hand_over_) hand_over_();
  if (cursor_set_) {
    QApplication::restoreOverrideCursor();
    cursor_set_ = false;
  }
  close();
}

void Splash::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setClipRegion(Shape());

  // The second band is the first one's shadow.
  p.fillPath(PathOf(kBand2), QColor(24, 52, 96));
  QLinearGradient band(0, kBand1.top, 0, kBand1.bottom);
  band.setColorAt(0, QColor(250, 252, 255));
  band.setColorAt(1, QColor(206, 222, 240));
  p.fillPath(PathOf(kBand1), band);

  QRadialGradient disc(kDisc.Rect().center(), kDisc.Rect().width() / 2);
  disc.setColorAt(0, QColor(80, 150, 230));
  disc.setColorAt(1, QColor(28, 72, 140));
  p.fillPath(PathOf(kDisc), disc);
  p.setPen(QPen(QColor(250, 252, 255), 3));
  p.drawEllipse(kDisc.Rect().adjusted(4, 4, -4, -4));
  const QRect icon = kDisc.Rect().toRect().adjusted(30, 30, -30, -30);
  p.drawPixmap(icon, ApplicationPixmap(icon.width()));

  p.setPen(QColor(24, 52, 96));
  QFont title = font();
  title.setPixelSize(38);
  title.setBold(true);
  p.setFont(title);
  p.drawText(QRect(188, 34, 190, 46), Qt::AlignLeft | Qt::AlignVCenter, "Torvan");
  QFont small = font();
  small.setPixelSize(11);
  p.setFont(small);
  p.drawText(QRect(192, 80, 175, 16), Qt::AlignLeft | Qt::AlignVCenter,
             QString::fromUtf8("IBM i \u21c4 database SQL"));
  p.drawText(QRect(192, 96, 175, 16), Qt::AlignLeft | Qt::AlignVCenter,
             "nei due sensi, senza presidio");
  // The contact block, on the second band.
  p.setPen(QColor(220, 230, 245));
  small.setPixelSize(9);
  p.setFont(small);
  p.drawText(QRect(192, 127, 180, 13), Qt::AlignLeft | Qt::AlignVCenter,
             QString("versione ") + TorvanVersion() + " - aiuto: README");

  p.drawPixmap(kBarFrame.left, kBarFrame.top, bar_);
}

}  // namespace torvan
