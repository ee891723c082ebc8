// Window tests: one QApplication on Qt's offscreen platform for the whole test program,
// and pictures of the windows for a reviewer (the build folder's screenshots/).
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

namespace torvan::testing {

// The window as a reviewer sees it: under a title bar with its caption and icon, or as its
// shape alone when it has no frame (the splash).
QImage Picture(QWidget& window);

// Writes Picture(window) as <build>/screenshots/<name>.png; returns the path.
std::string SaveScreenshot(QWidget& window, const std::string& name);

// Lets queued events run for about `ms` milliseconds (timers included).
void RunEventsFor(int ms);

}  // namespace torvan::testing
