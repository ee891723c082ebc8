// The values of the SQLite dialect (sqlite_dialect.h): a literal converted for its column
// as SQL Server converts it, the SQLite number a numeric column stores, and the text of a
// stored value.
#include <cstdlib>
#include <optional>

#include "core/text.h"
#include "sql/decimal.h"
#include "sql/server_errors.h"
#include "sql/sqlite_dialect.h"

namespace torvan::sql {

namespace {

namespace se = server_error;

// A literal compared with a numeric column: an INTEGER when whole, else a REAL.
BoundValue ComparedNumber(const Decimal& d) {
  BoundValue v;
  if (std::optional<int64_t> whole = WholeInt64(d)) {
    v.kind = BoundValue::Kind::kInteger;
    v.integer = *whole;
  } else {
    v.kind = BoundValue::Kind::kReal;
    v.real = std::strtod(DecimalText(d, SignificantDecimals(d)).c_str(), nullptr);
  }
  return v;
}

Status ToNumericError(const Status& s, SqlError* error) {
  if (s.code() == Status::Code::kFault) {
    return DialectRefusal(error, se::kArithmeticOverflow, s.message());
  }
  return DialectRefusal(error, se::kConvertToNumeric, s.message());
}

}  // namespace

Status BindLiteral(const ParamSpec& param, const Token& literal, BoundValue* value,
                   SqlError* error) {
  const std::string& text = literal.text;
  const ColumnType& type = param.type;
  switch (type.kind) {
    case ColumnKind::kText: {
      // A number given for a text column is a numeric value first, as in SQL Server:
      // 0001234.50 becomes the text "1234.50".
      std::string number;
      if (literal.kind == TokenKind::kNumber) {
        if (std::optional<Decimal> d = ParseDecimal(text)) {
          size_t point = text.find('.');
          size_t end = text.find_first_of("eE");
          int written = point == std::string::npos ? 0
                        : end == std::string::npos ? int(text.size() - point - 1)
                                                   : SignificantDecimals(*d);
          number = DecimalText(*d, written);
        }
      }
      std::string_view s = literal.kind == TokenKind::kNumber && !number.empty() ? number : text;
      if (param.use == ParamUse::kAssign && s.size() > size_t(type.length)) {
        // SQL Server cuts trailing blanks that do not fit and refuses anything else.
        if (s.find_first_not_of(' ', size_t(type.length)) != std::string_view::npos) {
          return DialectRefusal(error, se::kTruncated, TruncatedText(param.column, type.length));
        }
        s = s.substr(0, size_t(type.length));
      }
      value->kind = BoundValue::Kind::kText;
      value->text = Cp1252ToUtf8(s);
      return Status::Ok();
    }
    case ColumnKind::kInteger:
    case ColumnKind::kIdentity: {
      if (param.use == ParamUse::kAssign) {
        std::string canonical;
        Status s = ToNumeric(text, type.precision, 0, &canonical);
        if (!s.ok()) return ToNumericError(s, error);
        value->kind = BoundValue::Kind::kInteger;
        value->integer = *CanonicalToInt64(canonical);
        return Status::Ok();
      }
      std::optional<Decimal> d = ParseDecimal(text);
      if (!d) return ToNumericError(Status::InvalidArgument(kConvertToNumericText), error);
      std::string canonical = DecimalText(*d, SignificantDecimals(*d));
      std::optional<int64_t> whole =
          d->fraction.empty() ? CanonicalToInt64(canonical) : std::nullopt;
      if (whole) {
        value->kind = BoundValue::Kind::kInteger;
        value->integer = *whole;
      } else {
        // Not a whole number of 18 digits: no row can equal it, and a REAL keeps the
        // order for < and >.
        value->kind = BoundValue::Kind::kReal;
        value->real = std::strtod(canonical.c_str(), nullptr);
      }
      return Status::Ok();
    }
    case ColumnKind::kDecimal: {
      if (param.use == ParamUse::kAssign) {
        std::string canonical;
        Status s = ToNumeric(text, type.precision, type.scale, &canonical);
        if (!s.ok()) return ToNumericError(s, error);
        *value = StoredNumber(canonical);
        return Status::Ok();
      }
      std::optional<Decimal> d = ParseDecimal(text);
      if (!d) return ToNumericError(Status::InvalidArgument(kConvertToNumericText), error);
      *value = ComparedNumber(*d);
      return Status::Ok();
    }
    case ColumnKind::kOther:
      break;
  }
  if (literal.kind == TokenKind::kNumber) {
    std::optional<Decimal> d = ParseDecimal(text);
    if (d && d->fraction.empty()) {
      if (std::optional<int64_t> whole = CanonicalToInt64(DecimalText(*d, 0))) {
        value->kind = BoundValue::Kind::kInteger;
        value->integer = *whole;
        return Status::Ok();
      }
    }
  }
  value->kind = BoundValue::Kind::kText;
  value->text = Cp1252ToUtf8(text);
  return Status::Ok();
}

BoundValue StoredNumber(std::string_view canonical) {
  BoundValue v;
  const std::optional<Decimal> d = ParseDecimal(canonical);
  if (d && WholeInt64(*d)) {
    v.kind = BoundValue::Kind::kInteger;
    v.integer = *WholeInt64(*d);
  } else if (d && SignificantDigits(*d) <= kDigitsExactInDouble) {
    v.kind = BoundValue::Kind::kReal;
    v.real = std::strtod(std::string(canonical).c_str(), nullptr);
  } else {
    v.kind = BoundValue::Kind::kBlob;
    v.text = std::string(canonical);
  }
  return v;
}

std::string DisplayText(const ColumnType& type, std::string_view stored_utf8) {
  switch (type.kind) {
    case ColumnKind::kInteger:
    case ColumnKind::kIdentity:
      return NumericDisplayText(stored_utf8, 0);
    case ColumnKind::kDecimal:
      return NumericDisplayText(stored_utf8, type.scale);
    case ColumnKind::kText:
    case ColumnKind::kOther:
      break;
  }
  return Utf8ToCp1252(stored_utf8);
}

}  // namespace torvan::sql
