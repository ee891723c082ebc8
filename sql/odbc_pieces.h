// Inside the sql/ module only: reading one character value whole through SQLGetData, piece
// by piece, as the ODBC engine does for values, names and lists. The driver says how much
// is left (or SQL_NO_TOTAL when it cannot tell) and fills the buffer, terminated, while the
// value goes on: a value is either read whole or reported as failed, never returned cut.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

namespace torvan::sql {

enum class PieceRead { kValue, kNull, kFailed };

// `get(buffer, capacity_in_bytes, &length)` makes one SQLGetData call for the value and
// returns its SQLRETURN. Appends the characters to `*out`.
template <class Char, class Get>
PieceRead ReadPieces(Get get, std::basic_string<Char>* out) {
  constexpr size_t kChars = 512;  // per piece, the terminator included
  constexpr SQLLEN kBytes = SQLLEN(kChars * sizeof(Char));
  // Far beyond any value Torvan reads (a few thousand characters): a driver that never
  // says the value ended is a fault, not a reason to read forever.
  constexpr int kMostPieces = 1 << 16;
  Char buffer[kChars];
  for (int piece = 0; piece < kMostPieces; ++piece) {
    SQLLEN length = 0;
    const SQLRETURN rc = get(buffer, kBytes, &length);
    if (rc == SQL_NO_DATA) return PieceRead::kValue;  // nothing (more) to read
    if (!SQL_SUCCEEDED(rc)) return PieceRead::kFailed;
    if (length == SQL_NULL_DATA) return piece == 0 ? PieceRead::kNull : PieceRead::kFailed;
    const bool whole = length != SQL_NO_TOTAL && length >= 0 && length < kBytes;
    if (whole) {
      out->append(buffer, size_t(length) / sizeof(Char));
      return PieceRead::kValue;
    }
    // A piece that filled the buffer: only a driver that says so (a warning) has more.
    if (rc != SQL_SUCCESS_WITH_INFO || (length < 0 && length != SQL_NO_TOTAL)) {
      return PieceRead::kFailed;
    }
    out->append(buffer, kChars - 1);
  }
  return PieceRead::kFailed;
}

}  // namespace torvan::sql
