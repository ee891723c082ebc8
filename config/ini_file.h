// TnC.INI: an initialisation file read and written with private-profile semantics.
//
// Sections and keys are compared without regard to case; values are the text after "=",
// blanks around it removed, at most 255 characters. A missing file, section or key reads
// as the default. Writing a key replaces its line (or adds it at the end of its section,
// or adds the section at the end of the file) and keeps every other line as it was.
// Files are written whole through a temporary file, readable by their owner only, since
// they hold passwords. Texts are Windows-1252 bytes, as the file holds them.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace torvan {

constexpr size_t kProfileValueMax = 255;

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view default_value, const std::string& path);

Status WritePrivateProfileString(std::string_view section, std::string_view key,
                                 std::string_view value, const std::string& path);

}  // namespace torvan
