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

// Whether the file can be a settings file at all: ok when it is missing, holds nothing but
// blanks and line ends, or has at least one "[section]" line. A file that cannot be read,
// and one with content but no section (a binary or garbage file), give the reason: every
// key then reads as its default.
Status CheckProfileFile(const std::string& path);

// True when `value`, written as a key's value, reads back unchanged: no blank or tab at
// either end (the reader strips them) and not wrapped in a pair of quotes (the reader
// drops them).
bool SurvivesProfileFile(std::string_view value);

Status WritePrivateProfileString(std::string_view section, std::string_view key,
                                 std::string_view value, const std::string& path);

}  // namespace torvan
