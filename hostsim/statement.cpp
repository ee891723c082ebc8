#include "hostsim/statement.h"

#include <charconv>

#include "core/text.h"

namespace torvan::hostsim {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsNameChar(char c) {
  return !IsBlank(c) && c != '(' && c != ')' && c != ',' && c != '=' && c != '\'' && c != '/' &&
         c != ';' && uint8_t(c) >= 0x20;
}

// A cursor over the statement text with the few token readers the grammar needs.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() && IsBlank(text_[pos_])) ++pos_;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }

  // The next name (letters, digits, "_", "§", ...), upper-cased; empty when none.
  std::string Name() {
    SkipBlanks();
    size_t start = pos_;
    while (pos_ < text_.size() && IsNameChar(text_[pos_])) ++pos_;
    return UpperCp1252(text_.substr(start, pos_ - start));
  }

  // Consumes the keyword when it is next (a whole name).
  bool Keyword(std::string_view keyword) {
    size_t save = pos_;
    if (Name() == keyword) return true;
    pos_ = save;
    return false;
  }

  bool Punct(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  bool Value(StatementValue* v) {
    SkipBlanks();
    v->text.clear();
    if (pos_ < text_.size() && text_[pos_] == '\'') {
      v->quoted = true;
      for (++pos_; pos_ < text_.size(); ++pos_) {
        if (text_[pos_] != '\'') {
          v->text.push_back(text_[pos_]);
        } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
          v->text.push_back('\'');
          ++pos_;
        } else {
          ++pos_;
          return true;
        }
      }
      return false;  // no closing quote
    }
    v->quoted = false;
    size_t start = pos_;
    if (pos_ < text_.size() && (text_[pos_] == '-' || text_[pos_] == '+')) ++pos_;
    size_t digits = 0;
    while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_, ++digits;
    if (pos_ < text_.size() && text_[pos_] == '.') {
      ++pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_, ++digits;
    }
    if (digits == 0) return false;
    // A number runs up to a separator: "12x" is not a number.
    if (pos_ < text_.size() && IsNameChar(text_[pos_])) return false;
    v->text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  // A whole number, for RRN(a)=n.
  bool Integer(int64_t* n) {
    StatementValue v;
    if (!Value(&v) || v.quoted || v.text.find('.') != std::string::npos) return false;
    std::string_view t = v.text;
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *n);
    return ec == std::errc() && end == t.data() + t.size();
  }

  // Where the reader stands, for messages.
  std::string Here() const {
    if (pos_ >= text_.size()) return "at the end";
    return "at \"" + Cp1252ToUtf8(text_.substr(pos_, 12)) + "\"";
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

Status Expected(const Reader& r, const std::string& what) {
  return Status::InvalidArgument("expected " + what + " " + r.Here());
}

bool QualifiedName(Reader& r, Statement* s) {
  s->library = r.Name();
  if (s->library.empty() || !r.Punct('/')) return false;
  s->file = r.Name();
  return !s->file.empty();
}

// "WHERE RRN(a)=n" or "WHERE FIELD=value", after the correlation name `corr` (may be empty).
Status Where(Reader& r, const std::string& corr, Statement* s) {
  if (!r.Keyword("WHERE")) return Expected(r, "WHERE");
  std::string name = r.Name();
  if (name.empty()) return Expected(r, "RRN(...) or a field name");
  if (name == "RRN" && r.Punct('(')) {
    std::string arg = r.Name();
    if (!r.Punct(')') || (!corr.empty() && arg != corr) || arg.empty()) {
      return Expected(r, "RRN(" + Cp1252ToUtf8(corr.empty() ? "a" : corr) + ")");
    }
    if (!r.Punct('=') || !r.Integer(&s->rrn)) return Expected(r, "= and a record number");
    s->where_rrn = true;
  } else {
    s->where_field = name;
    if (!r.Punct('=') || !r.Value(&s->where_value)) return Expected(r, "= and a value");
  }
  return Status::Ok();
}

Status ParseInsert(Reader& r, Statement* s) {
  s->kind = Statement::Kind::kInsert;
  if (!r.Keyword("INTO")) return Expected(r, "INTO");
  if (!QualifiedName(r, s)) return Expected(r, "LIBRARY/FILE");
  if (!r.Punct('(')) return Expected(r, "(");
  do {
    std::string column = r.Name();
    if (column.empty()) return Expected(r, "a field name");
    s->values.push_back({column, {}});
  } while (r.Punct(','));
  if (!r.Punct(')')) return Expected(r, ")");
  if (!r.Keyword("VALUES")) return Expected(r, "VALUES");
  if (!r.Punct('(')) return Expected(r, "(");
  for (size_t i = 0; i < s->values.size(); ++i) {
    if (i > 0 && !r.Punct(',')) return Expected(r, "as many values as fields");
    if (!r.Value(&s->values[i].second)) return Expected(r, "a value");
  }
  if (!r.Punct(')')) return Expected(r, "as many values as fields, then )");
  return Status::Ok();
}

// The optional correlation name after LIB/FILE ("a").
std::string Correlation(Reader& r, std::string_view next_keyword) {
  Reader probe = r;
  std::string name = probe.Name();
  if (name.empty() || name == next_keyword) return "";
  r = probe;
  return name;
}

Status ParseUpdate(Reader& r, Statement* s) {
  s->kind = Statement::Kind::kUpdate;
  if (!QualifiedName(r, s)) return Expected(r, "LIBRARY/FILE");
  std::string corr = Correlation(r, "SET");
  if (!r.Keyword("SET")) return Expected(r, "SET");
  do {
    std::string column = r.Name();
    if (column.empty()) return Expected(r, "a field name");
    StatementValue v;
    if (!r.Punct('=') || !r.Value(&v)) return Expected(r, "= and a value");
    s->values.push_back({column, v});
  } while (r.Punct(','));
  return Where(r, corr, s);
}

Status ParseDelete(Reader& r, Statement* s) {
  s->kind = Statement::Kind::kDelete;
  if (!r.Keyword("FROM")) return Expected(r, "FROM");
  if (!QualifiedName(r, s)) return Expected(r, "LIBRARY/FILE");
  std::string corr = Correlation(r, "WHERE");
  return Where(r, corr, s);
}

}  // namespace

Status ParseStatement(std::string_view text, Statement* statement) {
  *statement = Statement();
  Reader r(text);
  Status s;
  if (r.Keyword("INSERT")) {
    s = ParseInsert(r, statement);
  } else if (r.Keyword("UPDATE")) {
    s = ParseUpdate(r, statement);
  } else if (r.Keyword("DELETE")) {
    s = ParseDelete(r, statement);
  } else {
    return Expected(r, "INSERT, UPDATE or DELETE");
  }
  if (s.ok() && !r.AtEnd()) s = Expected(r, "the end of the statement");
  return s;
}

}  // namespace torvan::hostsim
