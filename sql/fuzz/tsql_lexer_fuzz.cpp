#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fuzz_check.h"
#include "sql/fuzz/fuzz_targets.h"
#include "sql/tsql_lexer.h"

namespace torvan::sql::fuzz {

namespace {

using platform::fuzz::Check;

// The tokens written back as a statement text, one blank between two tokens.
std::string Render(const std::vector<Token>& tokens) {
  std::string out;
  for (const Token& t : tokens) {
    if (!out.empty()) out += ' ';
    switch (t.kind) {
      case TokenKind::kIdentifier:
        out += '[';
        for (char c : t.text) out += c == ']' ? std::string("]]") : std::string(1, c);
        out += ']';
        break;
      case TokenKind::kString:
        out += '\'';
        for (char c : t.text) out += c == '\'' ? std::string("''") : std::string(1, c);
        out += '\'';
        break;
      default:
        out += t.text;
    }
  }
  return out;
}

bool SameTokens(const std::vector<Token>& a, const std::vector<Token>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].text != b[i].text) return false;
  }
  return true;
}

}  // namespace

int FuzzTsqlLexer(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<Token> tokens;
  const Status s = Tokenize(text, &tokens);
  if (!s.ok()) {
    Check(s.code() == Status::Code::kInvalidArgument);
    Check(s.message().find(" at character ") != std::string::npos);
    return 0;
  }
  for (const Token& t : tokens) {
    if (t.kind != TokenKind::kIdentifier && t.kind != TokenKind::kString) Check(!t.text.empty());
    if (t.kind == TokenKind::kVariable) Check(t.text.size() >= 2 && t.text[0] == '@');
  }
  // The tokens are the statement: written back, they read the same. (A trailing ";" is
  // dropped once more on the way back, so one more is written.)
  std::string again_text = Render(tokens);
  if (!tokens.empty() && tokens.back().IsPunct(";")) again_text += " ;";
  std::vector<Token> again;
  Check(Tokenize(again_text, &again).ok());
  Check(SameTokens(tokens, again));
  // Two statements of one shape differ in their literals only.
  std::vector<const Token*> literals;
  const std::string shape = StatementShape(tokens, &literals);
  std::vector<const Token*> literals_again;
  Check(StatementShape(again, &literals_again) == shape);
  size_t count = 0;
  for (const Token& t : tokens) count += t.IsLiteral() ? 1 : 0;
  Check(literals.size() == count);
  return 0;
}

}  // namespace torvan::sql::fuzz

#ifdef TORVAN_LIBFUZZER_ENTRY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return torvan::sql::fuzz::FuzzTsqlLexer(data, size);
}
#endif
