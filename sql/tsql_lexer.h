// Tokens of a T-SQL statement text, for the SQLite dialect.
//
// The lexer knows just enough T-SQL for Torvan's row statements: words, [bracketed]
// and "quoted" identifiers ("]]" and """" escaped), 'strings' and N'strings' ("''"
// escaped), numbers (a sign directly before a number belongs to it: there is no
// arithmetic in the set), @variables and punctuation. Comments are skipped; one trailing
// ";" is dropped. The texts are Windows-1252 bytes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace torvan::sql {

enum class TokenKind {
  kWord,        // keyword or bare name: letters, digits, "_", "#", "$", bytes >= 0x80
  kIdentifier,  // [name] or "name": text is the name, unescaped
  kString,      // 'text' or N'text': text is the content, unescaped
  kNumber,      // 12, -0001234.50, .5, 1e3: text as written, sign included
  kVariable,    // @name: text with the "@"
  kPunct,       // ( ) , . = < > <= >= <> != * ; + - / ...: text is the symbol
};

struct Token {
  TokenKind kind;
  std::string text;
  bool IsWord(std::string_view word) const;  // a kWord equal to `word` ignoring ASCII case
  bool IsPunct(std::string_view symbol) const {
    return kind == TokenKind::kPunct && text == symbol;
  }
  bool IsLiteral() const { return kind == TokenKind::kString || kind == TokenKind::kNumber; }
};

// Splits `text` into tokens. Fails (InvalidArgument, saying where) on an unterminated
// string, identifier or comment, or a character T-SQL has no use for.
Status Tokenize(std::string_view text, std::vector<Token>* tokens);

// The statement's shape: its tokens with every literal replaced by a marker, so that two
// statements that differ only in their values have the same shape. Literals are
// appended to `literals` (pointers into `tokens`) in text order.
std::string StatementShape(const std::vector<Token>& tokens, std::vector<const Token*>* literals);

bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace torvan::sql
