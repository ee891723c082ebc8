// Text helpers for Torvan's single-byte texts.
//
// Inside Torvan every text is a std::string of Windows-1252 bytes, as the record files,
// the scramble and the host tables expect. Conversion to UTF-8 happens only at the edges
// (windows, SQL engine, log files, console) with the two functions below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvan {

// Windows-1252 bytes to UTF-8. The five codes Windows-1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) map to the C1 controls of the same value, so no byte is ever lost.
std::string Cp1252ToUtf8(std::string_view cp1252);
// UTF-8 to Windows-1252. A character Windows-1252 cannot hold, or a malformed sequence,
// becomes "?".
std::string Utf8ToCp1252(std::string_view utf8);

// The text with every control character shown as "\xNN" (two upper-case hex digits): codes
// 0-31 and 127, and the five codes Windows-1252 leaves undefined, which reach UTF-8 as C1
// controls. Texts that come from the host or the SQL side pass through it before they
// reach a log line or the console, so they cannot break a line or drive the terminal.
std::string VisibleText(std::string_view cp1252);

// Blanks (code 32) removed at both ends / at the end / at the start.
std::string Trim(std::string_view s);
std::string TrimRight(std::string_view s);
std::string TrimLeft(std::string_view s);

// `s` followed by blanks, cut to exactly `width` characters.
std::string PadRight(std::string_view s, size_t width);
// The last `width` characters of `fill` followed by `s` ("00000" + "42" -> "00042").
std::string KeepRight(std::string_view s, size_t width);
// The number written with at least `digits` digits and leading zeros (format "00000").
std::string ZeroPad(int64_t value, int digits);

// Upper case in Windows-1252, accented letters included.
std::string UpperCp1252(std::string_view s);

// The leading number of a text as a whole number: blanks are skipped, a sign may come
// first, digits are read until the first other character; 0 when the text does not begin
// with a number. Values beyond the 32-bit range are clamped to it.
int32_t NumericValue(std::string_view s);

// Characters [pos, pos + len) of `s` counted from 1, cut at the end of `s` ("Mid$").
std::string_view Mid(std::string_view s, size_t pos, size_t len);

}  // namespace torvan
