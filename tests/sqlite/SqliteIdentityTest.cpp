// Identity columns on the embedded provider follow SQL Server: explicit values only under IDENTITY_INSERT,
// TRUNCATE restarts at the seed, RESEED's next value depends on whether the table was ever used, and values
// are never handed out twice, not even after a rollback.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <string>

#include "outside/ComError.h"
#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

std::unique_ptr<DatabaseSession> Open(const std::string& file) {
  return OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", file}});
}

std::int32_t Number(DatabaseSession& session, const std::string& text) {
  const ResultTable result = session.Query(text);
  return result.rows.at(0).at(0).ToLong();
}

using testing::FailureOf;

class SqliteIdentity : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = Open(file_.File());
    session_->Execute(
        "CREATE TABLE Live (FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FName VARCHAR(20) NOT NULL "
        "DEFAULT(''))\r\n"
        "CREATE TABLE Other (FID INT IDENTITY(10,5) NOT NULL, FName VARCHAR(20) NULL)\r\n"
        "CREATE TABLE Plain (FID INT NOT NULL PRIMARY KEY)");
  }
  // The FID the next inserted row of `table` gets.
  std::int32_t NextId(const std::string& table) {
    session_->Execute("INSERT INTO " + table + "(FName) VALUES ('probe')");
    return Number(*session_, "SELECT MAX(FID) FROM " + table + " WHERE FName = 'probe'");
  }

  testing::TemporaryDatabase file_;
  std::unique_ptr<DatabaseSession> session_;
};

TEST_F(SqliteIdentity, ReseedOfANeverUsedOrTruncatedTableGivesTheValueItself) {
  session_->Execute("DBCC CHECKIDENT('Live', RESEED, 7)");
  EXPECT_EQ(NextId("Live"), 7);
  session_->Execute("TRUNCATE TABLE Live\r\nDBCC CHECKIDENT('Live', RESEED, 50)");
  EXPECT_EQ(NextId("Live"), 50);
  session_->Execute("TRUNCATE TABLE Live");
  EXPECT_EQ(NextId("Live"), 1);
}

TEST_F(SqliteIdentity, ReseedOfAUsedTableGivesTheValuePlusTheIncrement) {
  session_->Execute("INSERT INTO Live(FName) VALUES ('a')\r\nINSERT INTO Live(FName) VALUES ('b')");
  session_->Execute("DELETE Live\r\nDBCC CHECKIDENT('Live', RESEED, 1)");
  EXPECT_EQ(NextId("Live"), 2);
  // Below the rows already there: SQL Server goes on from the value given, not from the largest row.
  session_->Execute("INSERT INTO Live(FName) VALUES ('c')\r\nDBCC CHECKIDENT(Live, RESEED, 100)");
  EXPECT_EQ(NextId("Live"), 101);
  EXPECT_EQ(NextId("Other"), 10);
  EXPECT_EQ(NextId("Other"), 15);
}

TEST_F(SqliteIdentity, RealignmentBatchReseedsAboveLiveAndHistory) {
  session_->Execute(
      "CREATE TABLE Live_History (FID INT NOT NULL PRIMARY KEY, FName VARCHAR(20) NULL)\r\n"
      "INSERT INTO Live_History(FID, FName) VALUES (100, 'h')\r\n"
      "SET IDENTITY_INSERT Live ON\r\nINSERT INTO Live(FID, FName) VALUES (50, 'l')\r\nSET IDENTITY_INSERT "
      "Live OFF");
  session_->Execute(
      "SET NOCOUNT ON \r\n--期初余额表 \r\nDECLARE @MAXFID INT \r\n"
      "SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM Live_History \r\n"
      "SELECT @MAXFID=(CASE WHEN @MAXFID<ISNULL(MAX(FID)+1,1) THEN ISNULL(MAX(FID)+1,1)ELSE @MAXFID END)  "
      "FROM Live \r\n"
      "DBCC CHECKIDENT('Live',RESEED,@MAXFID) \r\n \r\n");
  EXPECT_EQ(NextId("Live"), 102);
}

TEST_F(SqliteIdentity, IdentityInsertDecidesWhetherAnExplicitValueIsKept) {
  const ComError off = FailureOf(*session_, "INSERT INTO Live(FID, FName) VALUES (1000, 'x')");
  EXPECT_EQ(off.NativeError(), 544);
  session_->Execute(
      "SET IDENTITY_INSERT Live ON \r\nINSERT INTO Live(FID, FName) VALUES (1000, 'x')\r\nSET "
      "IDENTITY_INSERT Live "
      "OFF ");
  EXPECT_EQ(Number(*session_, "SELECT COUNT(*) FROM Live WHERE FID = 1000"), 1);
  EXPECT_EQ(NextId("Live"), 1001);
  // A lower explicit value does not pull the identity back.
  session_->Execute("SET IDENTITY_INSERT Live ON\r\nINSERT INTO Live(FID, FName) VALUES (5, 'y')");
  const ComError missing = FailureOf(*session_, "INSERT INTO Live(FName) VALUES ('z')");
  EXPECT_EQ(missing.NativeError(), 545);
  const ComError second = FailureOf(*session_, "SET IDENTITY_INSERT Other ON");
  EXPECT_EQ(second.NativeError(), 8107);
  const ComError plain = FailureOf(*session_, "SET IDENTITY_INSERT Plain ON");
  EXPECT_EQ(plain.NativeError(), 8106);
  session_->Execute("SET IDENTITY_INSERT Live OFF");
  EXPECT_EQ(NextId("Live"), 1002);
}

// SQL Server refuses to assign an identity column when it compiles the UPDATE, IDENTITY_INSERT or not, so
// nothing of a batch naming a table that exists runs; for a table the batch creates, the batch ends there
// (learn.microsoft.com "Database engine events and errors", 8000 to 8999: 8102 "Cannot update identity
// column '%.*ls'."). A comparison with the identity column in the SET clause assigns nothing to it.
TEST_F(SqliteIdentity, AnUpdateOfTheIdentityColumnIsRefusedBeforeItsBatchRuns) {
  session_->Execute("INSERT INTO Live(FName) VALUES ('a')\r\nINSERT INTO Other(FName) VALUES ('b')");
  struct Case {
    const char* batch;
    std::int32_t line;
  } cases[] = {
      {"UPDATE Live SET FName = 'x'\r\nUPDATE Live SET FID = FID + 100", 2},
      {"UPDATE Live SET FName = 'x'\r\nSET IDENTITY_INSERT Other ON\r\n"
       "IF 1 = 1 BEGIN UPDATE dbo.Other SET FName = 'y', [fid] = 3 END",
       3},
      {"DECLARE @v INT\r\nUPDATE Live SET FName = 'x'\r\nUPDATE Live SET FName = 'z', fid = @v", 3},
  };
  for (const Case& c : cases) {
    const ComError error = FailureOf(*session_, c.batch);
    EXPECT_EQ(error.NativeError(), 8102) << c.batch;
    EXPECT_EQ(error.SqlState(), "42000") << c.batch;
    EXPECT_EQ(error.FailingLine(), c.line) << c.batch;
    EXPECT_NE(error.Description().find("Cannot update identity column '"), std::string::npos);
  }
  EXPECT_EQ(Number(*session_, "SELECT COUNT(*) FROM Live WHERE FID = 1 AND FName = 'a'"), 1);
  EXPECT_EQ(Number(*session_, "SELECT COUNT(*) FROM Other WHERE FID = 10 AND FName = 'b'"), 1);
  session_->Execute("UPDATE Live SET FName = CASE WHEN FID = 1 THEN 'fid' END WHERE FID = 1");
  EXPECT_EQ(Number(*session_, "SELECT COUNT(*) FROM Live WHERE FID = 1 AND FName = 'fid'"), 1);

  const ComError created = FailureOf(*session_,
                                     "CREATE TABLE New (FID INT IDENTITY(1,1) NOT NULL, a INT NULL)\r\n"
                                     "INSERT INTO New(a) VALUES (1)\r\n"
                                     "UPDATE New SET FID = 5\r\n"
                                     "INSERT INTO New(a) VALUES (2)");
  EXPECT_EQ(created.NativeError(), 8102);
  EXPECT_EQ(created.FailingLine(), 3);
  EXPECT_EQ(Number(*session_, "SELECT SUM(FID * 10 + a) FROM New"), 11);
}

TEST_F(SqliteIdentity, RolledBackValuesAreNotHandedOutAgain) {
  session_->Execute("INSERT INTO Live(FName) VALUES ('kept')");
  session_->BeginTransaction();
  session_->Execute("INSERT INTO Live(FName) SELECT 'gone' UNION ALL SELECT 'gone too'");
  session_->Rollback();
  EXPECT_EQ(NextId("Live"), 4);
  // Nor to the next session of this process on the same ledger.
  session_->BeginTransaction();
  session_->Execute("INSERT INTO Live(FName) VALUES ('gone again')");
  session_->Rollback();
  session_.reset();
  session_ = Open(file_.File());
  EXPECT_EQ(NextId("Live"), 6);
  // A failed statement's values are used up as well.
  EXPECT_EQ(FailureOf(*session_, "INSERT INTO Live(FName) VALUES ('ok'), (NULL)").NativeError(), 515);
  EXPECT_EQ(NextId("Live"), 9);
}

TEST_F(SqliteIdentity, TruncateAndReseedRollBackWithTheTransaction) {
  session_->Execute("INSERT INTO Live(FName) VALUES ('a')\r\nINSERT INTO Live(FName) VALUES ('b')");
  session_->BeginTransaction();
  session_->Execute("TRUNCATE TABLE Live");
  EXPECT_EQ(Number(*session_, "SELECT COUNT(*) FROM Live"), 0);
  session_->Rollback();
  EXPECT_EQ(Number(*session_, "SELECT COUNT(*) FROM Live"), 2);
  EXPECT_EQ(NextId("Live"), 3);
}

TEST_F(SqliteIdentity, RestoreUnderIdentityInsertKeepsTheArchivedNumbers) {
  session_->Execute(
      "CREATE TABLE Live_History (FID INT NOT NULL PRIMARY KEY, FName VARCHAR(20) NULL)\r\n"
      "INSERT INTO Live_History(FID, FName) VALUES (41, 'a')\r\nINSERT INTO Live_History(FID, FName) VALUES "
      "(42, 'b')");
  session_->BeginTransaction();
  session_->Execute(
      " \r\n \r\n--反结账 \r\nSET IDENTITY_INSERT Live ON \r\nDELETE FROM Live \r\n"
      "INSERT INTO Live(FID,FName) \r\nSELECT FID,FName \r\nFROM Live_History WHERE FName<>'' \r\n"
      "SET IDENTITY_INSERT Live OFF \r\nDELETE FROM Live_History \r\n");
  session_->Commit();
  EXPECT_EQ(Number(*session_, "SELECT SUM(FID) FROM Live"), 83);
  EXPECT_EQ(NextId("Live"), 43);
}

// Ledgers written before the identity table recorded each identity's T-SQL type have no column_type: their
// rowid identities keep SQLite's 64-bit range, and a table created in such a file records its type.
TEST(SqliteIdentityFile, AFileWithoutRecordedTypesKeepsItsRowidIdentitiesAsTheyWere) {
  testing::TemporaryDatabase file;
  Open(file.File())->Execute("CREATE TABLE Old (FID INT IDENTITY(2147483647,1) NOT NULL PRIMARY KEY, K INT)");
  {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open(file.File().c_str(), &raw);
    const sqlite::DatabaseHandle db(raw);
    ASSERT_EQ(opened, SQLITE_OK);
    ASSERT_EQ(RegisterSqliteDialect(db.get()), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db.get(), "ALTER TABLE closewright_identity DROP COLUMN column_type", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
  }
  auto session = Open(file.File());
  session->Execute("INSERT INTO Old (K) VALUES (1)\r\nINSERT INTO Old (K) VALUES (2)");
  EXPECT_EQ(session->Query("SELECT MAX(FID) FROM Old").rows.at(0).at(0).ToDouble(), 2147483648.0);
  session->Execute(
      "CREATE TABLE New (FID INT IDENTITY(2147483647,1) NOT NULL PRIMARY KEY, K INT)\r\n"
      "INSERT INTO New (K) VALUES (1)");
  EXPECT_EQ(FailureOf(*session, "INSERT INTO New (K) VALUES (2)").NativeError(), 8115);
  session->Execute("INSERT INTO Old (K) VALUES (3)");
  EXPECT_EQ(Number(*session, "SELECT COUNT(*) FROM Old"), 3);
}

}  // namespace
}  // namespace closewright
