// Request and reply frames of the host message link (layouts in host_format.h).
//
// Torvan builds requests and checks reply headers here; torvan-host parses requests and
// builds reply headers with the same functions. A length read off the wire is never
// trusted: it must be five digits within the frame's limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hostlink/char_table.h"
#include "hostlink/host_format.h"
#include "platform/status.h"

namespace torvan::hostlink {

// True for the eight request codes P T S I 3 1 2 R.
bool IsRequestCode(char code);

// The request as PC text: the code, the data length as five digits with leading zeros,
// the data ("S00000", "P00020yyyymmddhhnnssmmm000"). A data part longer than
// kMaxRequestData cannot be framed: InvalidArgument, `*frame` untouched.
Status BuildRequest(char code, std::string_view data, std::string* frame);

// The reply header as host bytes: the host character of `outcome` (a PC character, "0"
// when served) and `length` as five zoned digits (F0..F9). `length` must be within
// 0..kMaxReplyData: InvalidArgument otherwise, `*header` untouched.
Status BuildReplyHeader(const CharTables& tables, char outcome, int32_t length,
                        std::string* header);

// Five PC digits "00000".."99999" to their value, which must not exceed `max`. Anything
// else (a blank, a sign, a letter, fewer or more characters) is InvalidArgument.
Status ParseLengthDigits(std::string_view five, int32_t max, int32_t* length);

// Five zoned host bytes to the length of a reply's data part: each byte a digit 0..9 in
// its low half-byte with zone F (the last may also carry a positive sign A, C or E), and
// the value at most kMaxReplyData. Anything else is InvalidArgument.
Status ParseZonedLength(std::string_view five_host_bytes, int32_t* length);

}  // namespace torvan::hostlink
