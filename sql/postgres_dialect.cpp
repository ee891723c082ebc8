#include "sql/postgres_dialect.h"

#include <array>

#include "core/text.h"

namespace torvan::sql {

namespace {

// The words of Torvan's row statements that stay words; any other bare word is a name.
constexpr std::array<std::string_view, 21> kKeywords = {
    "SELECT", "FROM", "WHERE",  "AND",   "OR", "NOT", "IS",   "NULL", "INSERT", "INTO",    "VALUES",
    "UPDATE", "SET",  "DELETE", "ORDER", "BY", "ASC", "DESC", "IN",   "LIKE",   "DISTINCT"};

bool IsKeyword(const Token& t) {
  for (std::string_view k : kKeywords) {
    if (t.IsWord(k)) return true;
  }
  return false;
}

Status Refuse(SqlError* error, const std::string& why) {
  error->number = 0;
  error->native_error = 0;
  error->sql_state = "42601";
  error->source = kPostgresSource;
  error->origin = ErrorOrigin::kPostgres;
  error->description = "Statement outside Torvan's set for PostgreSQL: " + why;
  return Status::InvalidArgument(error->description);
}

bool IsSchemaOwner(const Token& t) {
  return (t.kind == TokenKind::kIdentifier || t.kind == TokenKind::kWord) &&
         EqualsIgnoreCase(t.text, "dbo");
}

}  // namespace

const char kPgIdentCurrent[] =
    "SELECT (SELECT max(pg_catalog.pg_sequence_last_value(pg_catalog.pg_get_serial_sequence("
    "pg_catalog.format('%I',c.relname),a.attname)::regclass)) FROM pg_catalog.pg_class c JOIN "
    "pg_catalog.pg_attribute a ON a.attrelid=c.oid WHERE c.relname=$1 AND "
    "c.relnamespace=pg_catalog.current_schema()::regnamespace AND a.attidentity<>'')";

std::string PgIdentifier(std::string_view utf8) {
  std::string out = "\"";
  for (char c : utf8) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string PgString(std::string_view utf8) {
  std::string out = "'";
  for (char c : utf8) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out + "'";
}

Status TranslateForPostgres(const std::vector<Token>& tokens, PgStatement* out, SqlError* error) {
  out->text.clear();
  out->params.clear();
  if (tokens.empty()) return Refuse(error, "empty statement");
  // SELECT IDENT_CURRENT('<table>')
  if (tokens.size() == 5 && tokens[0].IsWord("SELECT") && tokens[1].IsWord("IDENT_CURRENT") &&
      tokens[2].IsPunct("(") && tokens[3].kind == TokenKind::kString && tokens[4].IsPunct(")")) {
    out->text = kPgIdentCurrent;
    out->params.push_back(Cp1252ToUtf8(tokens[3].text));
    return Status::Ok();
  }
  if (!(tokens[0].IsWord("SELECT") || tokens[0].IsWord("INSERT") || tokens[0].IsWord("UPDATE") ||
        tokens[0].IsWord("DELETE"))) {
    return Refuse(error, "it starts with \"" + tokens[0].text + "\"");
  }
  for (size_t i = 0; i < tokens.size(); ++i) {
    const Token& t = tokens[i];
    const bool next_is = i + 1 < tokens.size();
    // [dbo].[T]: the tables live in the connection's own schema.
    if (IsSchemaOwner(t) && next_is && tokens[i + 1].IsPunct(".")) {
      ++i;
      continue;
    }
    std::string piece;
    switch (t.kind) {
      case TokenKind::kIdentifier:
        piece = PgIdentifier(Cp1252ToUtf8(t.text));
        break;
      case TokenKind::kWord:
        if (IsKeyword(t)) {
          piece = t.text;
        } else if (next_is && tokens[i + 1].IsPunct("(")) {
          if (!t.IsWord("COUNT")) return Refuse(error, "the function " + t.text);
          piece = t.text;
        } else {
          piece = PgIdentifier(Cp1252ToUtf8(t.text));
        }
        break;
      case TokenKind::kString:
      case TokenKind::kNumber:
        out->params.push_back(Cp1252ToUtf8(t.text));
        piece = "$" + std::to_string(out->params.size());
        break;
      case TokenKind::kVariable:
        return Refuse(error, "the variable " + t.text);
      case TokenKind::kPunct:
        if (t.text == ";") return Refuse(error, "more than one statement");
        piece = t.text;
        break;
    }
    if (!out->text.empty()) out->text += ' ';
    out->text += piece;
  }
  return Status::Ok();
}

}  // namespace torvan::sql
