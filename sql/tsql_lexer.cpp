#include "sql/tsql_lexer.h"

#include <cstdio>

namespace torvan::sql {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsWordStart(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '#' || u >= 0x80;
}

bool IsWordChar(char c) { return IsWordStart(c) || IsDigit(c) || c == '$' || c == '@'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// A sign directly followed by a number is part of that number, unless the token before
// it ends a value (then it would be arithmetic, which the set never uses).
bool SignStartsNumber(std::string_view text, size_t i, const std::vector<Token>& tokens) {
  if (i + 1 >= text.size()) return false;
  char next = text[i + 1];
  if (!IsDigit(next) && !(next == '.' && i + 2 < text.size() && IsDigit(text[i + 2]))) {
    return false;
  }
  if (tokens.empty()) return true;
  const Token& prev = tokens.back();
  return !(prev.kind == TokenKind::kNumber || prev.kind == TokenKind::kString ||
           prev.kind == TokenKind::kIdentifier || prev.IsPunct(")"));
}

Status Error(std::string_view what, size_t at) {
  return Status::InvalidArgument(std::string(what) + " at character " + std::to_string(at + 1));
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool Token::IsWord(std::string_view word) const {
  return kind == TokenKind::kWord && EqualsIgnoreCase(text, word);
}

Status Tokenize(std::string_view text, std::vector<Token>* tokens) {
  tokens->clear();
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '-' && i + 1 < n && text[i + 1] == '-') {
      while (i < n && text[i] != '\n') ++i;
    } else if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      size_t end = text.find("*/", i + 2);
      if (end == std::string_view::npos) return Error("unterminated comment", i);
      i = end + 2;
    } else if (c == '[' || c == '"') {
      char close = c == '[' ? ']' : '"';
      Token t{TokenKind::kIdentifier, {}};
      size_t start = i++;
      for (;;) {
        if (i >= n) return Error("unterminated identifier", start);
        if (text[i] == close) {
          if (i + 1 < n && text[i + 1] == close) {
            t.text += close;
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text += text[i++];
      }
      tokens->push_back(std::move(t));
    } else if (c == '\'' || ((c == 'N' || c == 'n') && i + 1 < n && text[i + 1] == '\'')) {
      Token t{TokenKind::kString, {}};
      size_t start = i;
      i += c == '\'' ? 1 : 2;
      for (;;) {
        if (i >= n) return Error("unterminated string", start);
        if (text[i] == '\'') {
          if (i + 1 < n && text[i + 1] == '\'') {
            t.text += '\'';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text += text[i++];
      }
      tokens->push_back(std::move(t));
    } else if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text[i + 1])) ||
               ((c == '-' || c == '+') && SignStartsNumber(text, i, *tokens))) {
      size_t start = i;
      if (c == '-' || c == '+') ++i;
      while (i < n && IsDigit(text[i])) ++i;
      if (i < n && text[i] == '.') {
        ++i;
        while (i < n && IsDigit(text[i])) ++i;
      }
      if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        size_t e = i + 1;
        if (e < n && (text[e] == '+' || text[e] == '-')) ++e;
        if (e < n && IsDigit(text[e])) {
          i = e;
          while (i < n && IsDigit(text[i])) ++i;
        }
      }
      if (i < n && IsWordStart(text[i])) return Error("malformed number", start);
      tokens->push_back({TokenKind::kNumber, std::string(text.substr(start, i - start))});
    } else if (IsWordStart(c)) {
      size_t start = i;
      while (i < n && IsWordChar(text[i])) ++i;
      tokens->push_back({TokenKind::kWord, std::string(text.substr(start, i - start))});
    } else if (c == '@') {
      size_t start = i++;
      while (i < n && IsWordChar(text[i])) ++i;
      if (i == start + 1) return Error("lone \"@\"", start);
      tokens->push_back({TokenKind::kVariable, std::string(text.substr(start, i - start))});
    } else {
      static constexpr std::string_view kPairs[] = {"<=", ">=", "<>", "!=", "!<", "!>"};
      std::string_view two = text.substr(i, 2);
      bool pair = false;
      for (std::string_view p : kPairs) pair = pair || two == p;
      if (pair) {
        tokens->push_back({TokenKind::kPunct, std::string(two)});
        i += 2;
        continue;
      }
      static constexpr std::string_view kSingles = "(),.=<>*;+-/%";
      if (kSingles.find(c) == std::string_view::npos) {
        char what[48];
        std::snprintf(what, sizeof what, "unexpected character 0x%02X",
                      static_cast<unsigned char>(c));
        return Error(what, i);
      }
      tokens->push_back({TokenKind::kPunct, std::string(1, c)});
      ++i;
    }
  }
  if (!tokens->empty() && tokens->back().IsPunct(";")) tokens->pop_back();
  return Status::Ok();
}

std::string StatementShape(const std::vector<Token>& tokens, std::vector<const Token*>* literals) {
  std::string shape;
  shape.reserve(tokens.size() * 8);
  for (const Token& t : tokens) {
    // Each token as kind, length and text: no name can make two shapes collide.
    if (t.IsLiteral()) {
      literals->push_back(&t);
      shape += '?';
    } else {
      shape += char('A' + int(t.kind));
      shape += std::to_string(t.text.size());
      shape += ':';
      shape += t.text;
    }
  }
  return shape;
}

}  // namespace torvan::sql
