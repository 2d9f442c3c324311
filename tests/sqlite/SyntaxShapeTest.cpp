// The shapes under which the embedded provider remembers that a statement text parsed: a remembered shape
// lets a statement go unchecked, so two texts of one shape must never differ in whether SQLite parses them.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>
#include <vector>

#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/TsqlLexer.h"

namespace closewright::sqlite {
namespace {

// Whether SQLite gets past parsing the text (an unknown table or function is not a syntax error).
bool Parses(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  const StatementHandle statement(raw);
  if (rc == SQLITE_OK) return true;
  const std::string message = sqlite3_errmsg(db);
  return message.find("syntax error") == std::string::npos &&
         message.find("incomplete input") == std::string::npos &&
         message.find("unrecognized token") == std::string::npos;
}

TEST(SyntaxShape, ValuesBlurButNamesParametersAndSpecialLiteralsStay) {
  struct Case {
    const char* first;
    const char* second;
    bool sameShape;
  };
  const std::vector<Case> cases = {
      {"INSERT INTO \"t\" (\"a\") SELECT 1001, 'B-000001' FROM \"t\" WHERE \"FID\" = 17",
       "INSERT INTO \"t\" (\"a\") SELECT 4999, 'x''y' FROM \"t\" WHERE \"FID\" = 23", true},
      {"SELECT 2.5", "SELECT 7.5", true},
      {"SELECT 2.5", "SELECT 2.25", false},
      {"SELECT t1.a FROM t t1", "SELECT t2.a FROM t t2", false},
      {"SELECT \"a1\"", "SELECT \"a2\"", false},
      {"SELECT 0x1F", "SELECT 0x2F", false},
      {"SELECT X'0F'", "SELECT X'ZZ'", false},
      {"SELECT ?1", "SELECT ?0", false},
      {"SELECT @v1", "SELECT @v2", false},
      {"SELECT 1e5", "SELECT 1e", false},
      {"SELECT 'a' -- it's\n FROM t WHERE x = 'b'", "SELECT 'a' -- it's\n FROM t WHERE (x = 'b'", false},
      {"SELECT 'open", "SELECT 'shut'", false},
      {"SELECT [a 1]", "SELECT [a 2]", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SyntaxShape(c.first) == SyntaxShape(c.second), c.sameShape) << c.first << "  |  " << c.second;
  }
}

TEST(SyntaxShape, TextsOfOneShapeParseAlike) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(":memory:", &raw);
  DatabaseHandle db(raw);
  ASSERT_EQ(opened, SQLITE_OK);
  const std::vector<std::string> texts = {
      "SELECT 1",         "SELECT 0",         "SELECT 00",          "SELECT 0x",
      "SELECT 1x",        "SELECT 0x1",       "SELECT 1x1",         "SELECT 9x9",
      "SELECT 1.",        "SELECT 1..2",      "SELECT 1.2",         "SELECT .5",
      "SELECT 1e5",       "SELECT 1e+5",      "SELECT 1e",          "SELECT 1_000",
      "SELECT 1_0",       "SELECT ?1",        "SELECT ?0",          "SELECT ?99999",
      "SELECT :1",        "SELECT $1",        "SELECT @1",          "SELECT #1",
      "SELECT X'0F'",     "SELECT X'ZZ'",     "SELECT x'1'",        "SELECT 'a'",
      "SELECT 'a''b'",    "SELECT 'a",        "SELECT ''''",        "SELECT 'a' 'b'",
      "SELECT 1 'b'",     "SELECT 12 34",     "SELECT 1 2",         "SELECT \"a\"\"b\"",
      "SELECT \"a",       "SELECT [a]]",      "SELECT `a`",         "SELECT 1 -- x'",
      "SELECT 1 /* '",    "SELECT 1 /* ' */", "SELECT 1 /* 2 */ 3", "SELECT 1 /* 9 */ 9",
      "SELECT a1 FROM t", "SELECT 1a FROM t", "SELECT 9a FROM t",   "SELECT - 1",
      "SELECT -- 1",      "SELECT 1 LIMIT 1", "SELECT 1 LIMIT 01",  "SELECT CAST(1 AS DECIMAL(28,10))",
      "SELECT 1,2,",      "SELECT 3,4,",
  };
  for (std::size_t i = 0; i < texts.size(); ++i) {
    for (std::size_t j = i + 1; j < texts.size(); ++j) {
      if (SyntaxShape(texts[i]) != SyntaxShape(texts[j])) continue;
      EXPECT_EQ(Parses(db.get(), texts[i]), Parses(db.get(), texts[j]))
          << "one shape, parsed differently: " << texts[i] << "  |  " << texts[j];
    }
  }
}

}  // namespace
}  // namespace closewright::sqlite
