// Replays the corpora of the SQL layer's fuzz targets and seeded variants of them, so every
// build (g++ included) runs them; libFuzzer explores further in the fuzz build.
#include "platform/fuzz_replay.h"
#include "sql/fuzz/fuzz_targets.h"

namespace torvan::sql::fuzz {
namespace {

using platform::fuzz::Replay;

// Quotes, brackets, signs, digits, comment starts and a non-ASCII letter.
constexpr std::string_view kLikelyBytes = "'[]\"()-+.,=<>!*/;@ 0129eNn\xC0\xA7";

TEST(FuzzReplay, TsqlLexer) {
  Replay("tsql_lexer", TORVAN_FUZZ_CORPUS "/tsql_lexer", FuzzTsqlLexer, 4000, 41, kLikelyBytes);
}

TEST(FuzzReplay, SqliteDialect) {
  Replay("sqlite_dialect", TORVAN_FUZZ_CORPUS "/sqlite_dialect", FuzzSqliteDialect, 3000, 42,
         kLikelyBytes);
}

}  // namespace
}  // namespace torvan::sql::fuzz
