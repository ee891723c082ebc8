// frmSplash: the shaped window Torvan opens with. For one second it shows the program's
// picture and an animated bar, then hands over to the main window.
//
// Its shape is the union of four rounded rectangles (a disc, two bands and the bar's
// frame); there is no title bar and no border. Geometry in pixels of its client area.
#pragma once

#include <QPixmap>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>

namespace torvan {

class Splash final : public QWidget {
 public:
  // `hand_over` loads and shows the main window; it runs once, when the hand-over timer
  // fires, after which the splash closes itself.
  explicit Splash(std::function<void()> hand_over);
  ~Splash() override;

  // The load: hourglass pointer, the shape, the animation timer (100 ms), the hand-over
  // timer (1000 ms).
  void Start();

  // The visible shape: disc, first band, second band and bar frame.
  static QRegion Shape();
  // One step of the animation timer: each of the four boxes is painted at its position
  // and moves on by 180 pixels, back to the bar's left end once it has reached the right.
  void Animate();
  // The boxes' left edges, for tests.
  const std::array<int, 4>& boxes() const { return boxes_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void HandOver();

  std::function<void()> hand_over_;
  QTimer animation_;
  QTimer hand_over_timer_;
  QPixmap bar_;  // the bar frame's pixels: the boxes paint over what earlier steps left
  std::array<int, 4> boxes_{};
  bool cursor_set_ = false;
};

}  // namespace torvan
