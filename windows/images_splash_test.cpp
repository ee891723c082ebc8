// ImageList1 and the splash (the images are seen in the pictures of the windows).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "windows/image_list.h"
#include "windows/splash.h"
#include "windows/test_support.h"

namespace torvan {
namespace {

using testing::SaveScreenshot;

TEST(ImageList1, EveryKeyHasItsOwnDrawing) {
  for (const char* key : ImageList::Keys()) {
    EXPECT_TRUE(ImageList::Has(key)) << key;
    const QImage image = ImageList::Pixmap(key, 32).toImage();
    ASSERT_FALSE(image.isNull()) << key;
    int drawn = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) drawn += image.pixelColor(x, y).alpha() > 0;
    }
    EXPECT_GT(drawn, image.width() * image.height() / 5) << key;
  }
  EXPECT_TRUE(!ImageList::Has("Nessuna") && !ApplicationIcon().isNull());
}

TEST(SplashWindow, ItsShapeIsTheUnionOfTheFourRoundedPieces) {
  // In: the disc, the first band, the second band only, the bar frame. Out: a corner, past
  // the bar, a rounded corner of the first band.
  std::string in;
  for (QPoint p : {QPoint(108, 77), QPoint(60, 77), QPoint(388, 100), QPoint(200, 150),
                   QPoint(2, 2), QPoint(390, 150), QPoint(8, 29)}) {
    in += Splash::Shape().contains(p) ? 'I' : 'O';
  }
  EXPECT_EQ("IIIIOOO", in);
}

TEST(SplashWindow, TheBoxesRunAlongTheBarAndStartAgainAtItsLeftEnd) {
  bool handed_over = false;
  Splash splash([&] { handed_over = true; });
  const std::array<int, 4> start = splash.boxes();
  EXPECT_EQ(156, start[0]);
  splash.Animate();
  splash.Animate();  // positions at or past 370 go back to 156 first
  for (size_t k = 0; k < 4; ++k) {
    const int after_one = start[k] + 180;
    EXPECT_EQ((after_one >= 370 ? 156 : after_one) + 180, splash.boxes()[k]);
  }
  splash.show();
  splash.Start();
  EXPECT_FALSE(handed_over);  // the hand-over waits for its timer
  testing::RunEventsFor(300);
  SaveScreenshot(splash, "splash");
  EXPECT_TRUE(QTest::qWaitFor([&] { return handed_over; }, 10000));
  EXPECT_TRUE(!splash.isVisible() && QApplication::overrideCursor() == nullptr);
}

}  // namespace
}  // namespace torvan
