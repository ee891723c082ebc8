// ImageList1 and the splash (the images are seen in the pictures of the windows).
#include <gtest/gtest.h>

#include <QApplication>

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
  EXPECT_FALSE(ImageList::Has("Nessuna"));
  EXPECT_FALSE(ApplicationIcon().isNull());
}

TEST(SplashWindow, ItsShapeIsTheUnionOfTheFourRoundedPieces) {
  const QRegion shape = Splash::Shape();
  EXPECT_TRUE(shape.contains(QPoint(108, 77)));   // the disc
  EXPECT_TRUE(shape.contains(QPoint(60, 77)));    // the first band
  EXPECT_TRUE(shape.contains(QPoint(388, 100)));  // the second band only
  EXPECT_TRUE(shape.contains(QPoint(200, 150)));  // the bar frame
  EXPECT_FALSE(shape.contains(QPoint(2, 2)));
  EXPECT_FALSE(shape.contains(QPoint(390, 150)));
  EXPECT_FALSE(shape.contains(QPoint(8, 29)));  // a rounded corner of the first band
}

TEST(SplashWindow, TheBoxesRunAlongTheBarAndStartAgainAtItsLeftEnd) {
  bool handed_over = false;
  Splash splash([&] { handed_over = true; });
  const std::array<int, 4> start = splash.boxes();
  EXPECT_EQ(156, start[0]);
  splash.Animate();
  for (size_t k = 0; k < 4; ++k) EXPECT_EQ(start[k] + 180, splash.boxes()[k]);
  splash.Animate();  // positions at or past 370 go back to 156 first
  for (size_t k = 0; k < 4; ++k) {
    const int after_one = start[k] + 180;
    EXPECT_EQ((after_one >= 370 ? 156 : after_one) + 180, splash.boxes()[k]);
  }
  splash.show();
  splash.Start();
  testing::RunEventsFor(300);
  SaveScreenshot(splash, "splash");
  EXPECT_FALSE(handed_over);
  testing::RunEventsFor(900);
  EXPECT_TRUE(handed_over);
  EXPECT_FALSE(splash.isVisible());
  EXPECT_EQ(nullptr, QApplication::overrideCursor());
}

}  // namespace
}  // namespace torvan
