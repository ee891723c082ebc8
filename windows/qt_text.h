// Torvan's Windows-1252 texts on Qt's widgets: the one place they turn into Unicode and
// back (core/text.h).
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace torvan {

// A Windows-1252 text as shown on screen.
QString ToQt(std::string_view cp1252);
// What the operator typed, as the Windows-1252 text Torvan keeps ("?" for a character it
// cannot hold).
std::string FromQt(const QString& text);

}  // namespace torvan
