// What Conta_Record finds: a table that is absent, one that cannot be counted, or its
// number of rows, with the text the browser and the boxes show.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torvan {

class RowCount {
 public:
  enum class State { kAbsent, kNoPermission, kCounted };

  static RowCount Absent() { return RowCount(State::kAbsent, 0); }
  static RowCount NoPermission() { return RowCount(State::kNoPermission, 0); }
  static RowCount Counted(int64_t rows) { return RowCount(State::kCounted, rows < 0 ? 0 : rows); }

  State state() const { return state_; }
  bool absent() const { return state_ == State::kAbsent; }
  bool no_permission() const { return state_ == State::kNoPermission; }
  // The rows of a counted table; 0 for an absent one or one that cannot be counted.
  int64_t rows() const { return rows_; }
  // A counted table that holds rows.
  bool has_rows() const { return state_ == State::kCounted && rows_ > 0; }

  // "non esiste", "no permesso", "0", or the count as "###,##0" with the thousands
  // separator of the user's locale.
  std::string Text() const;
  // The same with an explicit separator, empty for none.
  std::string Text(std::string_view separator) const;

  bool operator==(const RowCount&) const = default;

 private:
  RowCount(State state, int64_t rows) : state_(state), rows_(rows) {}
  State state_;
  int64_t rows_;
};

// The count as "###,##0": digits grouped by three with the thousands separator of the
// user's locale (LC_NUMERIC; none in the C locale).
std::string FormatRowCount(long long count);
// The same with an explicit separator, empty for none.
std::string FormatRowCount(long long count, std::string_view separator);

}  // namespace torvan
