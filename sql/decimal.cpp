#include "sql/decimal.h"

#include <cctype>
#include <charconv>

namespace torvan::sql {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents beyond this move the point further than any numeric(38) value needs; refusing
// them keeps a hostile "1e999999999" from building a gigabyte of zeros.
constexpr int kMaxExponent = 400;

void StripZeros(Decimal* d) {
  size_t lead = d->integer.find_first_not_of('0');
  d->integer.erase(0, lead == std::string::npos ? d->integer.size() : lead);
  size_t trail = d->fraction.find_last_not_of('0');
  d->fraction.erase(trail == std::string::npos ? 0 : trail + 1);
  if (d->integer.empty() && d->fraction.empty()) d->negative = false;
}

// Adds one unit in the last place of a digit string; returns true on carry out.
bool Increment(std::string* digits) {
  for (size_t i = digits->size(); i-- > 0;) {
    if ((*digits)[i] == '9') {
      (*digits)[i] = '0';
    } else {
      ++(*digits)[i];
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Decimal> ParseDecimal(std::string_view text) {
  size_t i = 0;
  size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  while (n > i && text[n - 1] == ' ') --n;
  Decimal d;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    d.negative = text[i] == '-';
    ++i;
  }
  size_t digits = 0;
  while (i < n && IsDigit(text[i])) {
    d.integer += text[i++];
    ++digits;
  }
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) {
      d.fraction += text[i++];
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      exp_negative = text[i] == '-';
      ++i;
    }
    if (i == n || !IsDigit(text[i])) return std::nullopt;
    int exponent = 0;
    while (i < n && IsDigit(text[i])) {
      exponent = exponent * 10 + (text[i++] - '0');
      if (exponent > kMaxExponent) return std::nullopt;
    }
    if (exp_negative) {
      std::string& in = d.integer;
      size_t shift = std::min<size_t>(size_t(exponent), in.size());
      d.fraction =
          std::string(size_t(exponent) - shift, '0') + in.substr(in.size() - shift) + d.fraction;
      in.erase(in.size() - shift);
    } else {
      std::string& fr = d.fraction;
      size_t shift = std::min<size_t>(size_t(exponent), fr.size());
      d.integer += fr.substr(0, shift) + std::string(size_t(exponent) - shift, '0');
      fr.erase(0, shift);
    }
  }
  if (i != n) return std::nullopt;
  StripZeros(&d);
  return d;
}

std::string DecimalText(const Decimal& value, int scale, Rounding rounding) {
  if (scale < 0) scale = 0;
  std::string integer = value.integer;
  std::string fraction = value.fraction;
  if (fraction.size() > size_t(scale)) {
    // The fraction has no trailing zeros: dropping digits always drops something.
    bool round_up = false;
    switch (rounding) {
      case Rounding::kHalfAwayFromZero:
        round_up = fraction[size_t(scale)] >= '5';
        break;
      case Rounding::kDown:
        round_up = value.negative;
        break;
      case Rounding::kUp:
        round_up = !value.negative;
        break;
    }
    fraction.resize(size_t(scale));
    if (round_up && Increment(&fraction)) {
      if (integer.empty() || Increment(&integer)) integer.insert(integer.begin(), '1');
    }
  }
  fraction.resize(size_t(scale), '0');
  bool zero = integer.find_first_not_of('0') == std::string::npos &&
              fraction.find_first_not_of('0') == std::string::npos;
  std::string out;
  out.reserve(integer.size() + fraction.size() + 3);
  if (value.negative && !zero) out += '-';
  out += integer.empty() ? "0" : integer;
  if (scale > 0) {
    out += '.';
    out += fraction;
  }
  return out;
}

Status ToNumeric(std::string_view text, int precision, int scale, std::string* canonical) {
  std::optional<Decimal> value = ParseDecimal(text);
  if (!value) return Status::InvalidArgument("Error converting data type varchar to numeric.");
  std::string out = DecimalText(*value, scale);
  size_t point = out.find('.');
  size_t integer_digits = (point == std::string::npos ? out.size() : point) - (out[0] == '-');
  if (integer_digits == 1 && out[out[0] == '-' ? 1 : 0] == '0') integer_digits = 0;
  if (int(integer_digits) > precision - scale) {
    return Status::Fault("Arithmetic overflow error converting numeric to data type numeric.");
  }
  *canonical = std::move(out);
  return Status::Ok();
}

std::string NumericDisplayText(std::string_view stored, int scale) {
  std::optional<Decimal> value = ParseDecimal(stored);
  if (!value) return std::string(stored);
  return DecimalText(*value, scale);
}

std::optional<int64_t> CanonicalToInt64(std::string_view canonical) {
  bool negative = !canonical.empty() && canonical[0] == '-';
  std::string_view digits = canonical.substr(negative ? 1 : 0);
  if (digits.empty() || digits.size() > 18) return std::nullopt;
  int64_t value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return negative ? -value : value;
}

std::optional<int64_t> WholeInt64(const Decimal& value) {
  if (!value.fraction.empty() || value.integer.size() > 19) return std::nullopt;
  uint64_t magnitude = 0;
  for (char c : value.integer) magnitude = magnitude * 10 + uint64_t(c - '0');
  // 19 digits stay below 10^19 < 2^64: the magnitude does not wrap.
  const uint64_t limit = uint64_t(INT64_MAX) + (value.negative ? 1 : 0);
  if (magnitude > limit) return std::nullopt;
  return value.negative ? int64_t(~magnitude + 1) : int64_t(magnitude);
}

int SignificantDigits(const Decimal& value) {
  // The integer has no leading zeros and the fraction no trailing ones.
  if (!value.integer.empty()) return int(value.integer.size() + value.fraction.size());
  const size_t first = value.fraction.find_first_not_of('0');
  return first == std::string::npos ? 0 : int(value.fraction.size() - first);
}

std::string DoubleText(double value) {
  char buf[32];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

}  // namespace torvan::sql
