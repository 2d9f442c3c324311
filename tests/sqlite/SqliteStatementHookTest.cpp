// The statement hook of the embedded provider: what it reports is what SQLite ran, and a plain SQLite
// connection running the reported statements ends with the same rows.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

std::unique_ptr<DatabaseSession> Open(const std::string& file) {
  return OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", file}});
}

// Switches the hook off however the test ends.
struct HookGuard {
  ~HookGuard() { SetSqliteStatementHook(nullptr); }
};

const char* const kBatch =
    "CREATE TABLE ICMO (FInterID INT NOT NULL PRIMARY KEY, FBillNo VARCHAR(10) NOT NULL DEFAULT(''), "
    "FCloseDate DATETIME NULL)\r\n"
    "DECLARE @id INT, @bill VARCHAR(10)\r\n"
    "SELECT @id = 7, @bill = 'WO-7'\r\n"
    "INSERT INTO ICMO (FInterID, FBillNo, FCloseDate) VALUES (@id, @bill, '3/31/2011')\r\n"
    "UPDATE ICMO SET FBillNo = 'WO-7-X' WHERE FBillNo = 'wo-7 '\r\n";

TEST(SqliteStatementHook, ReportedStatementsRebuildTheSameRowsOnAPlainConnection) {
  testing::TemporaryDatabase original;
  testing::TemporaryDatabase replayed;
  std::vector<std::string> statements;
  {
    HookGuard guard;
    SetSqliteStatementHook([&](std::string_view sql) { statements.emplace_back(sql); });
    auto session = Open(original.File());
    session->BeginTransaction();
    session->Execute(kBatch);
    session->Commit();
  }
  // Variables arrive as the values they held.
  bool insertSeen = false;
  for (const std::string& sql : statements) {
    EXPECT_EQ(sql.find("@id"), std::string::npos) << sql;
    if (sql.find("INSERT INTO \"ICMO\"") != std::string::npos) {
      insertSeen = true;
      EXPECT_NE(sql.find("'WO-7'"), std::string::npos) << sql;
    }
  }
  EXPECT_TRUE(insertSeen);

  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(replayed.File().c_str(), &raw);
  const sqlite::DatabaseHandle db(raw);
  ASSERT_EQ(opened, SQLITE_OK);
  ASSERT_EQ(RegisterSqliteDialect(db.get()), SQLITE_OK);
  for (const std::string& sql : statements) {
    char* message = nullptr;
    EXPECT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
        << sql << ": " << (message != nullptr ? message : "");
    sqlite3_free(message);
  }
  sqlite3_stmt* rawStatement = nullptr;
  const int prepared = sqlite3_prepare_v2(db.get(), "SELECT FInterID, FBillNo, FCloseDate FROM ICMO", -1,
                                          &rawStatement, nullptr);
  const sqlite::StatementHandle row(rawStatement);
  ASSERT_EQ(prepared, SQLITE_OK);
  ASSERT_EQ(sqlite3_step(row.get()), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(row.get(), 0), 7);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(row.get(), 1)), "WO-7-X");
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(row.get(), 2)), "2011-03-31 00:00:00.000");
  EXPECT_EQ(sqlite3_step(row.get()), SQLITE_DONE);
}

TEST(SqliteStatementHook, SessionsOpenedWithoutAHookReportNothing) {
  testing::TemporaryDatabase database;
  std::vector<std::string> statements;
  HookGuard guard;
  auto before = Open(database.File());
  SetSqliteStatementHook([&](std::string_view sql) { statements.emplace_back(sql); });
  before->Execute("CREATE TABLE T (A INT NOT NULL)\r\nINSERT INTO T VALUES (1)\r\n");
  EXPECT_TRUE(statements.empty());
  SetSqliteStatementHook(nullptr);
  auto after = Open(database.File());
  after->Execute("INSERT INTO T VALUES (2)\r\n");
  EXPECT_TRUE(statements.empty());
}

}  // namespace
}  // namespace closewright
