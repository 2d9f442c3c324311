// The embedded provider on a real SQLite database: batches, SQL Server's semantics where results depend on
// them, errors as the server reports them, transactions and provider facts.

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

std::unique_ptr<DatabaseSession> Open(const std::string& file = ":memory:") {
  return OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", file}});
}

Variant Scalar(DatabaseSession& session, const std::string& text) {
  const ResultTable result = session.Query(text);
  if (result.rows.empty() || result.rows[0].empty()) return Variant();
  return result.rows[0][0];
}

using testing::FailureOf;

const char* const kLedger =
    "CREATE TABLE ICMO (FInterID INT NOT NULL PRIMARY KEY, FStatus SMALLINT NOT NULL DEFAULT(0), "
    "FCloseDate DATETIME NULL, FBillNo VARCHAR(10) NOT NULL DEFAULT(''))\r\n"
    "CREATE TABLE OPCostBalance (FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FYearPeriod VARCHAR(20) NOT "
    "NULL "
    "DEFAULT(''), FYear INT NOT NULL DEFAULT(0), FPeriod INT NOT NULL DEFAULT(0), FICMOInterID INT NOT NULL "
    "DEFAULT(0), FTypeID INT NOT NULL DEFAULT(0), FEndBal DECIMAL(28,10) NOT NULL DEFAULT(0))\r\n"
    "CREATE UNIQUE INDEX UX_ICMO_BillNo ON ICMO (FBillNo)\r\n";

class SqliteProvider : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = Open();
    session_->Execute(kLedger);
  }
  std::unique_ptr<DatabaseSession> session_;
};

TEST_F(SqliteProvider, ThirdStatementFailureLeavesTheFirstTwoDoneUntilRollback) {
  session_->BeginTransaction();
  const ComError error = FailureOf(*session_,
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')\r\n"
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, 'B')\r\n"
                                   "INSERT INTO NoSuchTable(a) VALUES (1)\r\n"
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (4, 'D')");
  EXPECT_EQ(error.NativeError(), 208);
  EXPECT_EQ(error.FailingLine(), 3);
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{2}));
  session_->Rollback();
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{0}));
}

// With XACT_ABORT OFF a statement-terminating error undoes only its statement and the batch goes on, in
// blocks too ("SET XACT_ABORT (Transact-SQL)": a foreign key error in a transaction, "the other statements
// execute successfully and the transaction is successfully committed"). @@ERROR holds the last statement's
// error number and 0 after one that succeeded; IF resets it ("@@ERROR (Transact-SQL)": "cleared and reset
// on each statement executed"). The client meets the first error when it reads the batch's results.
TEST_F(SqliteProvider, AStatementTerminatingErrorEndsOnlyItsStatementAndTheBatchGoesOn) {
  session_->BeginTransaction();
  const ComError error = FailureOf(*session_,
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')\r\n"
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'B')\r\n"
                                   "INSERT INTO OPCostBalance(FYear) VALUES (@@ERROR)\r\n"
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, NULL)\r\n"
                                   "IF @@ERROR = 515 BEGIN\r\n"
                                   "  INSERT INTO OPCostBalance(FYear) VALUES (@@ERROR)\r\n"
                                   "  UPDATE ICMO SET FStatus = 1 / 0\r\n"
                                   "  INSERT INTO OPCostBalance(FYear) VALUES (@@ERROR)\r\n"
                                   "  INSERT INTO ICMO(FInterID, FBillNo) VALUES (3, 'C')\r\n"
                                   "END\r\n"
                                   "INSERT INTO OPCostBalance(FYear) VALUES (@@ERROR)");
  EXPECT_EQ(error.NativeError(), 2627);
  EXPECT_EQ(error.FailingLine(), 2);
  const ResultTable errors = session_->Query("SELECT FYear FROM OPCostBalance ORDER BY FID");
  ASSERT_EQ(errors.rows.size(), 4u);
  EXPECT_EQ(errors.rows[0][0], Variant(std::int32_t{2627}));
  EXPECT_EQ(errors.rows[1][0], Variant(std::int32_t{0}));
  EXPECT_EQ(errors.rows[2][0], Variant(std::int32_t{8134}));
  EXPECT_EQ(errors.rows[3][0], Variant(std::int32_t{0}));
  EXPECT_EQ(Scalar(*session_, "SELECT SUM(FInterID * 10 + FStatus) FROM ICMO"), Variant(std::int32_t{40}));
  // The raised error still lets the owner roll the whole call back.
  session_->Rollback();
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{0}));

  // Outside a transaction each statement after the error commits by itself.
  EXPECT_EQ(FailureOf(*session_,
                      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')\r\n"
                      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, 'a')\r\n"
                      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (3, 'C')")
                .NativeError(),
            2601);
  EXPECT_EQ(Scalar(*session_, "SELECT SUM(FInterID) FROM ICMO"), Variant(std::int32_t{4}));
}

// A batch-aborting error (208) or a transaction-dooming one (245) still ends the batch after an earlier
// statement-terminating error; the client reads the earlier error first.
TEST_F(SqliteProvider, ABatchEndingErrorAfterAStatementErrorStillEndsTheBatch) {
  session_->BeginTransaction();
  const ComError aborted = FailureOf(*session_,
                                     "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')\r\n"
                                     "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'B')\r\n"
                                     "INSERT INTO NoSuchTable(a) VALUES (1)\r\n"
                                     "INSERT INTO ICMO(FInterID, FBillNo) VALUES (4, 'D')");
  EXPECT_EQ(aborted.NativeError(), 2627);
  EXPECT_EQ(aborted.FailingLine(), 2);
  EXPECT_EQ(Scalar(*session_, "SELECT SUM(FInterID) FROM ICMO"), Variant(std::int32_t{1}));
  const ComError doomed = FailureOf(*session_,
                                    "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'B')\r\n"
                                    "INSERT INTO ICMO(FInterID, FBillNo) VALUES ('five', 'E')\r\n"
                                    "INSERT INTO ICMO(FInterID, FBillNo) VALUES (6, 'F')");
  EXPECT_EQ(doomed.NativeError(), 2627);
  EXPECT_EQ(FailureOf(*session_, "SELECT 1").NativeError(), 3998);
  session_->Rollback();
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{0}));
}

TEST_F(SqliteProvider, ASyntaxErrorAnywhereRunsNothingOfTheBatch) {
  const ComError error = FailureOf(
      *session_, "INSERT INTO ICMO(FInterID) VALUES (1)\r\nINSERT INTO ICMO(FInterID) VALUES (2,,)");
  EXPECT_EQ(error.NativeError(), 102);
  EXPECT_EQ(error.FailingLine(), 2);
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{0}));
}

// A statement whose shape an earlier batch already parsed is not parsed again; the batch must still run
// nothing when a statement of a new shape fails to parse.
TEST_F(SqliteProvider, ASyntaxErrorAfterStatementsOfKnownShapesStillRunsNothing) {
  session_->Execute("INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')");
  session_->BeginTransaction();
  const ComError error = FailureOf(*session_,
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, 'B')\r\n"
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (3, 'C')\r\n"
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (4,,)");
  EXPECT_EQ(error.NativeError(), 102);
  EXPECT_EQ(error.FailingLine(), 3);
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{1}));
  session_->Commit();
}

// Statements prepared by the syntax check are kept for their run only up to a bound; a batch longer than
// that runs every statement all the same, in order.
TEST_F(SqliteProvider, ABatchOfManyDistinctStatementsRunsEachInOrder) {
  std::string batch;
  for (int i = 1; i <= 150; ++i) {
    const std::string n = std::to_string(i);
    batch += "INSERT INTO ICMO(FInterID, FBillNo) SELECT " + n + " AS id" + n + ", 'B" + n + "' AS no" + n +
             "\r\n";
    batch += "UPDATE ICMO SET FStatus = FStatus + 1 WHERE FInterID <= " + n + " AND FBillNo = FBillNo" +
             std::string(static_cast<std::size_t>(i % 7), ' ') + "\r\n";
  }
  session_->BeginTransaction();
  session_->Execute(batch);
  session_->Commit();
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{150}));
  // Row i was counted by the updates i..150.
  EXPECT_EQ(Scalar(*session_, "SELECT SUM(FStatus) FROM ICMO"), Variant(std::int32_t{150 * 151 / 2}));
}

TEST_F(SqliteProvider, TextComparesWithoutRegardToCaseOrTrailingBlanks) {
  session_->Execute(
      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'Wo-1')\r\nINSERT INTO ICMO(FInterID, FBillNo) VALUES "
      "(2, "
      "'wo-2  ')");
  EXPECT_EQ(Scalar(*session_, "SELECT FInterID FROM icmo WHERE fbillno = 'WO-1  '"),
            Variant(std::int32_t{1}));
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO WHERE FBillNo IN ('WO-2', 'wO-1')"),
            Variant(std::int32_t{2}));
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO WHERE FBillNo > 'WO-1'"), Variant(std::int32_t{1}));
  // The unique index sees 'WO-1' and 'wo-1 ' as the same key, as SQL Server's does.
  const ComError duplicate = FailureOf(*session_, "INSERT INTO ICMO(FInterID, FBillNo) VALUES (3, 'wo-1 ')");
  EXPECT_EQ(duplicate.NativeError(), 2601);
}

TEST_F(SqliteProvider, YearPeriodKeysStayTextAndCompareAsText) {
  session_->Execute(
      "INSERT INTO OPCostBalance(FYearPeriod) VALUES ('2011.03')\r\nINSERT INTO OPCostBalance(FYearPeriod) "
      "VALUES "
      "('2011.10')\r\nINSERT INTO OPCostBalance(FYearPeriod) VALUES ('2011.100')\r\nINSERT INTO "
      "OPCostBalance(FYearPeriod) VALUES ('2011.02')");
  const ResultTable later =
      session_->Query("SELECT FYearPeriod FROM OPCostBalance WHERE FYearPeriod>'2011.03' ORDER BY FID");
  ASSERT_EQ(later.rows.size(), 2u);
  EXPECT_EQ(later.rows[0][0], Variant("2011.10"));
  EXPECT_EQ(later.rows[1][0], Variant("2011.100"));
}

TEST_F(SqliteProvider, DecimalSumsAreExact) {
  session_->Execute(
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (7, 0.10)\r\n"
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (7, 0.20)\r\n"
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (7, -0.30)\r\n"
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (8, 0.1)");
  EXPECT_EQ(
      Scalar(*session_, "SELECT FICMOInterID FROM OPCostBalance GROUP BY FICMOInterID HAVING sum(FEndBal)=0"),
      Variant(std::int32_t{7}));
  EXPECT_EQ(Scalar(*session_, "SELECT SUM(FEndBal) FROM OPCostBalance WHERE FICMOInterID = 7"),
            Variant(Decimal::FromInteger(0)));
  // As a window function too, and over ten tenths.
  EXPECT_EQ(Scalar(*session_,
                   "SELECT s FROM (SELECT FID, sum(FEndBal) OVER (ORDER BY FID) AS s FROM OPCostBalance) x "
                   "WHERE FID = 3"),
            Variant(0.0));
  EXPECT_EQ(Scalar(*session_,
                   "SELECT sum(v) FROM (SELECT 0.1 AS v UNION ALL SELECT 0.1 UNION ALL SELECT 0.1 UNION ALL "
                   "SELECT 0.1 "
                   "UNION ALL SELECT 0.1 UNION ALL SELECT 0.1 UNION ALL SELECT 0.1 UNION ALL SELECT 0.1 "
                   "UNION ALL SELECT "
                   "0.1 UNION ALL SELECT 0.1) t"),
            Variant(1.0));
  EXPECT_EQ(Scalar(*session_, "SELECT AVG(FInterID) FROM (SELECT 1 AS FInterID UNION ALL SELECT 2) t"),
            Variant(std::int32_t{1}));
  EXPECT_TRUE(Scalar(*session_, "SELECT MAX(FInterID) FROM ICMO").IsNull());
  EXPECT_TRUE(Scalar(*session_, "SELECT SUM(FInterID) FROM ICMO").IsNull());
}

TEST_F(SqliteProvider, DividingByZeroRaises8134AndUndoesTheWholeStatement) {
  session_->Execute(
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (1, 0)\r\n"
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (-1, 0)\r\n"
      "INSERT INTO OPCostBalance(FICMOInterID, FEndBal) VALUES (2, 4)");
  const ComError zero =
      FailureOf(*session_, "UPDATE OPCostBalance SET FEndBal = FEndBal / (FICMOInterID + 1)");
  EXPECT_EQ(zero.NativeError(), 8134);
  EXPECT_EQ(zero.SqlState(), "22012");
  EXPECT_EQ(zero.Description(), "Divide by zero error encountered.");
  EXPECT_EQ(Scalar(*session_, "SELECT SUM(FEndBal) FROM OPCostBalance"), Variant(Decimal::FromInteger(4)));
  EXPECT_EQ(Scalar(*session_, "SELECT -7 / 2"), Variant(std::int32_t{-3}));
  EXPECT_EQ(FailureOf(*session_, "SELECT 7 % (FID - FID) FROM OPCostBalance").NativeError(), 8134);
}

TEST_F(SqliteProvider, SelectAssignmentTakesTheLastRowAndNoRowKeepsTheValue) {
  session_->Execute(
      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (3, 'c')\r\nINSERT INTO ICMO(FInterID, FBillNo) VALUES (9, "
      "'i')\r\n"
      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (5, 'e')");
  const ResultTable result = session_->Query(
      "DECLARE @Last INT, @Kept INT, @Empty INT, @Text VARCHAR(2)\r\n"
      "SELECT @Kept = 5\r\n"
      "SELECT @Last = FInterID FROM ICMO ORDER BY FInterID\r\n"
      "SELECT @Kept = FInterID FROM ICMO WHERE FInterID > 100\r\n"
      "SELECT @Empty = ISNULL(MAX(FInterID)+1, 1) FROM ICMO WHERE FInterID > 100\r\n"
      "SET @Text = 'abcdef'\r\n"
      "SELECT @Last AS LastRow, @Kept AS Kept, @Empty AS EmptyAggregate, @Text AS Cut, @last * 2 AS Twice");
  ASSERT_EQ(result.rows.size(), 1u);
  EXPECT_EQ(result.columns[0], "LastRow");
  EXPECT_EQ(result.rows[0][0], Variant(std::int32_t{9}));
  EXPECT_EQ(result.rows[0][1], Variant(std::int32_t{5}));
  EXPECT_EQ(result.rows[0][2], Variant(std::int32_t{1}));
  EXPECT_EQ(result.rows[0][3], Variant("ab"));
  EXPECT_EQ(result.rows[0][4], Variant(std::int32_t{18}));

  // Reading its own variable over one row (an aggregate) is defined; over several rows the server's answer
  // depends on its plan, so the engine refuses instead of giving one of them, and assigns nothing.
  const ResultTable once = session_->Query(
      "DECLARE @m INT = 4 SELECT @m = CASE WHEN @m < MAX(FInterID) THEN MAX(FInterID) ELSE @m END FROM ICMO "
      "SELECT @m");
  EXPECT_EQ(once.rows.at(0).at(0), Variant(std::int32_t{9}));
  const ComError refused = FailureOf(
      *session_, "DECLARE @s INT = 0, @n INT = 0 SELECT @n = FInterID, @s = @s + FInterID FROM ICMO");
  EXPECT_EQ(refused.SqlState(), "HYC00");
  EXPECT_NE(refused.Description().find("more than one row"), std::string::npos) << refused.Description();
}

TEST_F(SqliteProvider, IfRunsOneStatementAndElseRunsWhenTheConditionIsNull) {
  session_->Execute(
      "DECLARE @n INT\r\n"
      "IF @n > 0 INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'then') ELSE INSERT INTO ICMO(FInterID, "
      "FBillNo) "
      "VALUES (2, 'else')\r\n"
      "IF EXISTS (SELECT 1 FROM ICMO WHERE FInterID = 2) BEGIN INSERT INTO ICMO(FInterID, FBillNo) VALUES "
      "(3, 'x') "
      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (4, 'y') END\r\n"
      "IF 1 = 0 INSERT INTO ICMO(FInterID, FBillNo) VALUES (5, 'no') INSERT INTO ICMO(FInterID, FBillNo) "
      "VALUES (6, 'z')");
  const ResultTable ids = session_->Query("SELECT FInterID FROM ICMO ORDER BY FInterID");
  ASSERT_EQ(ids.rows.size(), 4u);
  EXPECT_EQ(ids.rows[0][0], Variant(std::int32_t{2}));
  EXPECT_EQ(ids.rows[3][0], Variant(std::int32_t{6}));
}

TEST_F(SqliteProvider, TemporaryTablesArePrivateToTheirSessionAndIndexedOnEveryColumn) {
  testing::TemporaryDatabase file;
  auto first = Open(file.File());
  auto second = Open(file.File());
  first->Execute(
      "    IF ISNULL(OBJECT_ID('TEMPDB..#Work'),0)<>0 \r\n DROP TABLE #Work \r\n CREATE TABLE "
      "#Work(FICMOInterID INT "
      "NOT NULL DEFAULT(0), FNote VARCHAR(10) NULL) \r\n INSERT INTO #Work(FICMOInterID) VALUES (42)");
  EXPECT_EQ(Scalar(*first, "SELECT COUNT(*) FROM #work"), Variant(std::int32_t{1}));
  EXPECT_FALSE(Scalar(*first, "SELECT OBJECT_ID('tempdb..#Work')").IsNull());
  EXPECT_TRUE(Scalar(*first, "SELECT OBJECT_ID('#Work')").IsNull());
  EXPECT_TRUE(Scalar(*second, "SELECT OBJECT_ID('tempdb..#Work')").IsNull());
  EXPECT_EQ(FailureOf(*second, "DELETE FROM #Work").NativeError(), 208);
  EXPECT_EQ(
      Scalar(*first, "SELECT COUNT(*) FROM sqlite_temp_master WHERE type = 'index' AND tbl_name = '#Work'"),
      Variant(std::int32_t{2}));
  // Running the same batch again drops the leftover table first.
  first->Execute(
      "    IF ISNULL(OBJECT_ID('TEMPDB..#Work'),0)<>0 \r\n DROP TABLE #Work \r\n CREATE TABLE "
      "#Work(FICMOInterID INT "
      "NOT NULL DEFAULT(0)) \r\n");
  EXPECT_EQ(Scalar(*first, "SELECT COUNT(*) FROM #Work"), Variant(std::int32_t{0}));
}

TEST_F(SqliteProvider, DatetimeColumnsAreStoredCanonicallyAndCompareAsDates) {
  session_->Execute(
      "INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (1, 'a', '20110331')\r\n"
      "INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (2, 'b', '2011-04-01')\r\n"
      "INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (3, 'c', '2011-04-01T08:30:00')\r\n"
      "INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (4, 'd', '4/2/2011')\r\n"
      "UPDATE ICMO SET FCloseDate = '2011-3-30' WHERE FInterID = 1");
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO WHERE FCloseDate < '2011-04-01'"),
            Variant(std::int32_t{1}));
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO WHERE FCloseDate >= '20110401'"),
            Variant(std::int32_t{3}));
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO WHERE FCloseDate < '4/2/2011'"),
            Variant(std::int32_t{3}));
  EXPECT_EQ(Scalar(*session_, "SELECT FCloseDate FROM ICMO WHERE FInterID = 3"),
            Variant(DateValue{40634.0 + 8.5 / 24}));
  // The raw file holds one sortable form.
  EXPECT_EQ(Scalar(*session_, "SELECT CAST(FCloseDate AS VARCHAR(30)) FROM ICMO WHERE FInterID = 1"),
            Variant("2011-03-30 00:00:00.000"));
  const ComError bad =
      FailureOf(*session_, "INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (5, 'e', 'soon')");
  EXPECT_EQ(bad.NativeError(), 241);
  EXPECT_EQ(bad.SqlState(), "22007");
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{4}));
}

TEST_F(SqliteProvider, ErrorsCarrySqlServersNumbersMessagesAndStates) {
  struct Case {
    std::string batch;
    std::int32_t native;
    std::string state;
    std::string message;
  };
  session_->Execute("INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')");
  const Case cases[] = {
      {"SELECT * FROM Missing", 208, "42S02", "Invalid object name 'Missing'."},
      {"SELECT FNothing FROM ICMO", 207, "42S22", "Invalid column name 'FNothing'."},
      {"INSERT INTO ICMO(FInterID, FNothing) VALUES (2, 1)", 207, "42S22", "Invalid column name 'FNothing'."},
      {"INSERT INTO ICMO(FInterID, FBillNo) VALUES (NULL, 'x')", 515, "23000",
       "Cannot insert the value NULL into column 'FInterID', table 'memory.dbo.ICMO'; column does not allow "
       "nulls. "
       "INSERT fails."},
      {"UPDATE ICMO SET FBillNo = NULL", 515, "23000",
       "Cannot insert the value NULL into column 'FBillNo', table 'memory.dbo.ICMO'; column does not allow "
       "nulls. "
       "UPDATE fails."},
      {"INSERT INTO OPCostBalance(FID, FYear) VALUES (5, 2011)", 544, "23000",
       "Cannot insert explicit value for identity column in table 'OPCostBalance' when IDENTITY_INSERT is "
       "set to OFF."},
      {"INSERT INTO OPCostBalance VALUES (5, '2011.03', 2011, 3, 1, 1, 0)", 8101, "23000",
       "An explicit value for the identity column in table 'OPCostBalance' can only be specified when a "
       "column list is "
       "used and IDENTITY_INSERT is ON."},
      {"SELECT 1/0", 8134, "22012", "Divide by zero error encountered."},
      {"INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'B')", 2627, "23000",
       "Violation of PRIMARY KEY constraint 'PK_ICMO'. Cannot insert duplicate key in object 'dbo.ICMO'."},
      {"INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, 'a')", 2601, "23000",
       "Cannot insert duplicate key row in object 'dbo.ICMO' with unique index 'UX_ICMO_BillNo'."},
      {"INSERT INTO ICMO(FInterID, FBillNo) VALUES ('two', 'B')", 245, "22018",
       "Conversion failed when converting the varchar value 'two' to data type int."},
      {"INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (2, 'B', '2011-13-45x')", 241, "22007",
       "Conversion failed when converting date and/or time from character string."},
      {"INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, 'ABCDEFGHIJKL')", 8152, "22001",
       "String or binary data would be truncated."},
      {"DROP TABLE Missing", 3701, "42S02",
       "Cannot drop the table 'Missing', because it does not exist or you do not have permission."},
      {"CREATE TABLE icmo (a INT)", 2714, "42S01",
       "There is already an object named 'icmo' in the database."},
  };
  for (const Case& c : cases) {
    const std::string batch = "SELECT 1\r\n" + c.batch;
    const ComError error = FailureOf(*session_, batch);
    EXPECT_EQ(error.NativeError(), c.native) << c.batch << ": " << error.Description();
    EXPECT_EQ(error.SqlState(), c.state) << c.batch;
    EXPECT_EQ(error.Description(), c.message) << c.batch;
    EXPECT_EQ(error.Number(), error_number::kCommandFailed);
    EXPECT_EQ(error.Source(), "Closewright.SQLite");
    EXPECT_EQ(error.FailingText(), batch);
    EXPECT_EQ(error.FailingLine(), 2) << c.batch;
  }
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{1}));
}

TEST_F(SqliteProvider, UnsupportedConstructIsRefusedBeforeAnythingRuns) {
  const ComError error = FailureOf(*session_,
                                   "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')\r\n"
                                   "WHILE (SELECT COUNT(*) FROM ICMO) < 5\r\n"
                                   "  INSERT INTO ICMO(FInterID, FBillNo) VALUES (2, 'B')");
  EXPECT_EQ(error.FailingLine(), 2);
  EXPECT_NE(error.Description().find("WHILE"), std::string::npos);
  EXPECT_NE(error.Description().find("line 2"), std::string::npos);
  EXPECT_EQ(Scalar(*session_, "SELECT COUNT(*) FROM ICMO"), Variant(std::int32_t{0}));
}

TEST_F(SqliteProvider, QueryReturnsTheFirstResultSetWithPlatformTypes) {
  session_->Execute(
      "INSERT INTO OPCostBalance(FYearPeriod, FYear, FEndBal) VALUES ('2011.03', 2011, 2)\r\n"
      "INSERT INTO ICMO(FInterID, FBillNo) VALUES (1, 'A')");
  const ResultTable result = session_->Query(
      "SET NOCOUNT ON\r\nSELECT FYearPeriod, FYear, FEndBal, NULL AS Nothing, 3000000000 AS Big FROM "
      "OPCostBalance\r\n"
      "SELECT FInterID FROM ICMO");
  ASSERT_EQ(result.columns.size(), 5u);
  ASSERT_EQ(result.rows.size(), 1u);
  EXPECT_EQ(result.rows[0][0], Variant("2011.03"));
  EXPECT_EQ(result.rows[0][1], Variant(std::int32_t{2011}));
  EXPECT_EQ(result.rows[0][2], Variant(Decimal::FromInteger(2)));
  EXPECT_TRUE(result.rows[0][3].IsNull());
  EXPECT_EQ(result.rows[0][4], Variant(Decimal::FromInteger(3000000000)));  // a DECIMAL(10,0) literal
  EXPECT_TRUE(session_->Query("DECLARE @a INT").columns.empty());
}

TEST_F(SqliteProvider, TheSessionSettingsTheComponentSendsAreAccepted) {
  session_->Execute("SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
  session_->Execute("SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED");
  session_->Execute("SET NOCOUNT ON \r\nSET NOCOUNT OFF");
}

TEST(SqliteProviderFile, ASecondWriterIsRefusedAtOnceWhileReadersGoOn) {
  testing::TemporaryDatabase file;
  auto writer = Open(file.File());
  auto other = Open(file.File());
  writer->Execute("CREATE TABLE T (a INT NULL)\r\nINSERT INTO T(a) VALUES (1)");
  writer->BeginTransaction();
  writer->Execute("INSERT INTO T(a) VALUES (2)");
  try {
    other->BeginTransaction();
    FAIL() << "a second writer began";
  } catch (const ComError& error) {
    EXPECT_NE(error.Description().find("is locked by another session"), std::string::npos)
        << error.Description();
    EXPECT_EQ(error.Source(), "Closewright.SQLite");
  }
  EXPECT_EQ(FailureOf(*other, "INSERT INTO T(a) VALUES (3)").NativeError(), 1222);
  // Readers see the last committed state, not the open close.
  EXPECT_EQ(Scalar(*other, "SELECT COUNT(*) FROM T"), Variant(std::int32_t{1}));
  writer->Commit();
  EXPECT_EQ(Scalar(*other, "SELECT COUNT(*) FROM T"), Variant(std::int32_t{2}));
  other->BeginTransaction();
  other->Rollback();

  sqlite3* raw = nullptr;
  const int opened = sqlite3_open_v2(file.File().c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  const sqlite::DatabaseHandle db(raw);
  ASSERT_EQ(opened, SQLITE_OK);
  sqlite3_stmt* rawStatement = nullptr;
  const int prepared = sqlite3_prepare_v2(db.get(), "PRAGMA journal_mode", -1, &rawStatement, nullptr);
  const sqlite::StatementHandle statement(rawStatement);
  ASSERT_EQ(prepared, SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement.get()), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0)), "wal");
}

TEST(SqliteProviderFile, APlainSqliteConnectionReadsAndWritesTheLedgerOnceTheDialectIsRegistered) {
  testing::TemporaryDatabase file;
  {
    auto session = Open(file.File());
    session->Execute(kLedger);
    session->Execute("INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (1, 'Wo-1', '20110331')");
  }
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(file.File().c_str(), &raw);
  const sqlite::DatabaseHandle db(raw);
  ASSERT_EQ(opened, SQLITE_OK);
  ASSERT_EQ(RegisterSqliteDialect(db.get()), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(
      sqlite3_exec(db.get(), "INSERT INTO ICMO(FInterID, FBillNo, FCloseDate) VALUES (2, 'WO-2', '4/1/2011')",
                   nullptr, nullptr, &message),
      SQLITE_OK)
      << (message != nullptr ? message : "");
  sqlite3_free(message);
  sqlite3_stmt* rawStatement = nullptr;
  const int prepared =
      sqlite3_prepare_v2(db.get(),
                         "SELECT COUNT(*), MAX(FCloseDate) FROM ICMO WHERE FBillNo IN ('wo-1 ', 'wo-2') AND "
                         "FCloseDate >= '2011-03-31'",
                         -1, &rawStatement, nullptr);
  const sqlite::StatementHandle statement(rawStatement);
  ASSERT_EQ(prepared, SQLITE_OK);
  ASSERT_EQ(sqlite3_step(statement.get()), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(statement.get(), 0), 2);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 1)),
               "2011-04-01 00:00:00.000");
}

TEST(SqliteProviderFile, OpeningWithoutADataSourceFailsClearly) {
  try {
    OpenSqliteSession({{"Provider", "Closewright.SQLite"}});
    FAIL();
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kOpenFailed);
    EXPECT_NE(error.Description().find("Data Source"), std::string::npos);
  }
}

TEST(SqliteProviderFile, ProviderFactsAreAnsweredByTheirAdoNames) {
  auto session = Open();
  EXPECT_EQ(session->ProviderName(), "Closewright.SQLite");
  EXPECT_EQ(session->ProviderProperty("DBMS Name"), Variant("SQLite"));
  EXPECT_EQ(session->ProviderProperty("DBMS Version"), Variant(std::string(sqlite3_libversion())));
  EXPECT_EQ(session->ProviderProperty("Like Escape Clause"), Variant("Y"));
  EXPECT_FALSE(session->ProviderProperty("No Such Fact").has_value());
  for (const std::string& name : session->ProviderPropertyNames()) {
    EXPECT_TRUE(session->ProviderProperty(name).has_value()) << name;
  }
  // Each function the String Functions mask claims works under its T-SQL name.
  EXPECT_EQ(Scalar(*session,
                   "SELECT LEFT('abc', 2) || RIGHT('abc', 1) || LTRIM(' x') || RTRIM('y ') || "
                   "SUBSTRING('hello', 2, 3) || UPPER('u') || LOWER('L') || REPLACE('aa','a','b') || "
                   "REPLICATE('z', 2) || SPACE(1) || LEN('ab  ') || CHARINDEX('L', 'hello')"),
            Variant("abcxyellUlbbzz 23"));
  EXPECT_EQ(
      Scalar(*session, "SELECT YEAR('2011-04-01') * 10000 + MONTH('2011-04-01') * 100 + DAY('2011-04-01')"),
      Variant(std::int32_t{20110401}));
}

}  // namespace
}  // namespace closewright
