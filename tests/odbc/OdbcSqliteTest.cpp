// The ODBC provider's mechanics against Debian's SQLite ODBC driver.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Diagnostics.h"
#include "outside/ObjectContext.h"
#include "outside/odbc/OdbcProvider.h"
#include "support/TestDatabase.h"
#include "tests/odbc/OdbcTestSupport.h"

namespace closewright {
namespace {

using closewright::testing::CaughtError;

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

class OdbcSqliteTest : public ::testing::Test {
 protected:
  std::unique_ptr<DatabaseSession> Open() { return OpenOdbcSession(database_.ConnectString()); }

  testing::SqliteOdbcDatabase database_;
};

TEST_F(OdbcSqliteTest, OpenFailureNamesTheCauseAndHidesThePassword) {
  const ComError unknownDriver =
      CaughtError([] { OpenOdbcSession("Driver=No Such Driver;Database=x.db;PWD={s3cr;et}"); });
  EXPECT_EQ(unknownDriver.Number(), error_number::kOpenFailed);
  EXPECT_THAT(unknownDriver.Source(), StartsWith("Closewright.ODBC"));
  EXPECT_THAT(unknownDriver.Description(), HasSubstr("No Such Driver"));
  EXPECT_THAT(unknownDriver.Description(), Not(HasSubstr("[unixODBC]")));
  EXPECT_EQ(unknownDriver.FailingText(), "Driver=No Such Driver;Database=x.db;PWD=***");

  const ComError unknownSource = CaughtError([] { OpenOdbcSession("DSN=NoSuchLedger;UID=sa;PWD=s3cret"); });
  EXPECT_EQ(unknownSource.SqlState(), "IM002");
  EXPECT_EQ(unknownSource.FailingText(), "DSN=NoSuchLedger;UID=sa;PWD=***");

  const ComError missingFolder =
      CaughtError([] { OpenOdbcSession("Driver=SQLite3;Database=/no/such/folder/x.db"); });
  EXPECT_EQ(missingFolder.Number(), error_number::kOpenFailed);
  EXPECT_FALSE(missingFolder.Description().empty());
}

TEST_F(OdbcSqliteTest, FailingStatementCarriesTheDriversDiagnostics) {
  auto session = Open();
  const std::string text = "INSERT INTO OPCostMissing (FID) VALUES (1)";
  const ComError error = CaughtError([&] { session->Execute(text); });
  EXPECT_EQ(error.Number(), error_number::kCommandFailed);
  EXPECT_THAT(error.Source(), StartsWith("Closewright.ODBC ("));
  EXPECT_THAT(error.Description(), HasSubstr("no such table"));
  EXPECT_THAT(error.Description(), Not(StartsWith("[")));
  EXPECT_EQ(error.SqlState().size(), 5u);
  EXPECT_EQ(error.FailingText(), text);

  // The session stays usable after a failing statement.
  session->Execute("CREATE TABLE OPCostPresent (FID INTEGER)");
  EXPECT_TRUE(session->Query("SELECT FID FROM OPCostPresent").rows.empty());
}

TEST_F(OdbcSqliteTest, QueryReturnsEveryRowWithNullsAndColumnTypes) {
  auto session = Open();
  // NUMERIC rather than DECIMAL: this driver describes DECIMAL columns as VARCHAR.
  session->Execute(
      "CREATE TABLE OPCostSample (FID INTEGER, FBig BIGINT, FRate DOUBLE, FAmount NUMERIC(18,2), FName "
      "VARCHAR(40), "
      "FDate DATETIME, FNote VARCHAR(40))");
  session->Execute(
      "INSERT INTO OPCostSample VALUES (1, 5000000000, 0.25, 12.5, 'first', '2011-03-01 00:00:00', NULL)");
  session->Execute("INSERT INTO OPCostSample VALUES (2, NULL, NULL, NULL, NULL, NULL, 'second')");

  const ResultTable table =
      session->Query("SELECT FID, FBig, FRate, FAmount, FName, FDate, FNote FROM OPCostSample ORDER BY FID");
  EXPECT_EQ(table.columns,
            (std::vector<std::string>{"FID", "FBig", "FRate", "FAmount", "FName", "FDate", "FNote"}));
  ASSERT_EQ(table.rows.size(), 2u);
  const std::vector<Variant>& first = table.rows[0];
  EXPECT_EQ(first[0], Variant(std::int32_t{1}));
  EXPECT_EQ(first[1], Variant(std::int64_t{5000000000}));  // too large for a Long
  EXPECT_EQ(first[2], Variant(0.25));
  EXPECT_EQ(first[3], Variant(12.5));
  EXPECT_EQ(first[4], Variant("first"));
  EXPECT_EQ(first[5], Variant(MakeDate(2011, 3, 1)));
  EXPECT_TRUE(first[6].IsNull());
  const std::vector<Variant>& second = table.rows[1];
  for (std::size_t column = 1; column <= 5; ++column) EXPECT_TRUE(second[column].IsNull()) << column;
  EXPECT_EQ(second[6], Variant("second"));
  // The column types as the driver describes them (it calls NUMERIC a double; the PostgreSQL suite checks
  // a decimal's precision and scale).
  EXPECT_EQ(table.TypeOf(0).kind, ColumnKind::Integer);
  EXPECT_EQ(table.TypeOf(2).kind, ColumnKind::Float);
  EXPECT_EQ(table.TypeOf(4).kind, ColumnKind::Text);
  EXPECT_EQ(table.TypeOf(4).length, 40);
  EXPECT_EQ(table.TypeOf(5).kind, ColumnKind::Date);
}

TEST_F(OdbcSqliteTest, TextRoundTripsAsUtf8IncludingLongValues) {
  auto session = Open();
  session->Execute("CREATE TABLE OPCostNote (FID INTEGER, FNote TEXT)");
  // The close steps' texts carry Chinese comment lines; they must reach the driver intact.
  session->Execute("--本期工序成本结转\r\nINSERT INTO OPCostNote VALUES (1, '期末余额：成本')");
  const std::string longText(5000, 'x');
  session->Execute("INSERT INTO OPCostNote VALUES (2, '" + longText + "中')");
  const ResultTable table = session->Query("SELECT FNote FROM OPCostNote ORDER BY FID");
  ASSERT_EQ(table.rows.size(), 2u);
  EXPECT_EQ(table.rows[0][0], Variant("期末余额：成本"));
  EXPECT_EQ(table.rows[1][0], Variant(longText + "中"));

  const ComError notUtf8 = CaughtError([&] { session->Execute("SELECT '\xff'"); });
  EXPECT_EQ(notUtf8.Number(), error_number::kCommandFailed);
  EXPECT_THAT(notUtf8.Description(), HasSubstr("UTF-8"));
}

TEST_F(OdbcSqliteTest, RollbackUndoesAndCommitKeepsTheTransactionsWork) {
  auto session = Open();
  session->Execute("CREATE TABLE OPCostBalance (FID INTEGER)");
  session->BeginTransaction();
  session->Execute("INSERT INTO OPCostBalance VALUES (1)");
  session->Rollback();
  EXPECT_TRUE(session->Query("SELECT FID FROM OPCostBalance").rows.empty());

  session->BeginTransaction();
  session->Execute("INSERT INTO OPCostBalance VALUES (2)");
  session->Commit();
  auto reader = Open();
  const ResultTable table = reader->Query("SELECT FID FROM OPCostBalance");
  ASSERT_EQ(table.rows.size(), 1u);
  EXPECT_EQ(table.rows[0][0], Variant(std::int32_t{2}));

  // A second commit of the same transaction is an error, not a silent success.
  EXPECT_THROW(session->Commit(), ComError);
}

TEST_F(OdbcSqliteTest, TransactionLayerCommitsAFinishedCallAndRollsBackAFailedOne) {
  Open()->Execute("CREATE TABLE OPCostBalance (FID INTEGER)");
  const auto call = [&](const std::vector<std::string>& statements) {
    RunInObjectContext([&] {
      for (const std::string& statement : statements) {
        // Each statement on a connection of its own: all of them are handles on the one enlisted session.
        Connection connection;
        connection.Open(database_.ConnectString());
        connection.Execute(statement);
      }
    });
  };
  EXPECT_THROW(call({"INSERT INTO OPCostBalance VALUES (1)", "INSERT INTO OPCostMissing VALUES (2)"}),
               ComError);
  EXPECT_TRUE(Open()->Query("SELECT FID FROM OPCostBalance").rows.empty());

  call({"INSERT INTO OPCostBalance VALUES (3)", "INSERT INTO OPCostBalance VALUES (4)"});
  EXPECT_EQ(Open()->Query("SELECT FID FROM OPCostBalance").rows.size(), 2u);
}

TEST_F(OdbcSqliteTest, DroppingASessionWithAnOpenTransactionRollsItBack) {
  {
    auto session = Open();
    session->Execute("CREATE TABLE OPCostBalance (FID INTEGER)");
    session->BeginTransaction();
    session->Execute("INSERT INTO OPCostBalance VALUES (1)");
  }
  EXPECT_TRUE(Open()->Query("SELECT FID FROM OPCostBalance").rows.empty());
}

TEST_F(OdbcSqliteTest, IsolationStatementBecomesAConnectionAttributeAndIsTraced) {
  std::vector<std::string> traced;
  SetSqlTraceSink([&](std::int32_t, std::string_view, std::string_view text) { traced.emplace_back(text); });
  auto session = Open();
  session->Execute("SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
  session->BeginTransaction();
  session->Execute("SET  transaction isolation level READ UnCOMMITTED;");
  session->Rollback();
  SetSqlTraceSink(nullptr);
  ASSERT_EQ(traced.size(), 2u);
  EXPECT_THAT(traced[0], HasSubstr("SET TRANSACTION ISOLATION LEVEL READ COMMITTED"));
  EXPECT_THAT(traced[0], HasSubstr("SQL_ATTR_TXN_ISOLATION"));
  EXPECT_THAT(traced[1], HasSubstr("READ UNCOMMITTED"));
}

TEST_F(OdbcSqliteTest, ProviderPropertiesComeFromTheDriver) {
  auto session = Open();
  EXPECT_EQ(session->ProviderPropertyNames(),
            (std::vector<std::string>{"DBMS Name", "DBMS Version", "Multiple Results", "Like Escape Clause",
                                      "Integrity Enhancement Facility", "Numeric Functions",
                                      "String Functions", "System Functions", "Time/Date Functions"}));
  EXPECT_EQ(session->ProviderProperty("DBMS Name"), Variant("SQLite"));
  EXPECT_THAT(session->ProviderProperty("DBMS Version")->ToString(), StartsWith("3."));
  EXPECT_EQ(session->ProviderProperty("Multiple Results")->Type(), VariantType::Long);
  const Variant likeEscape = *session->ProviderProperty("Like Escape Clause");
  EXPECT_TRUE(likeEscape == Variant("Y") || likeEscape == Variant("N"));
  EXPECT_EQ(session->ProviderProperty("Integrity Enhancement Facility")->Type(), VariantType::Boolean);
  for (const char* bitmask :
       {"Numeric Functions", "String Functions", "System Functions", "Time/Date Functions"}) {
    EXPECT_EQ(session->ProviderProperty(bitmask)->Type(), VariantType::Long) << bitmask;
  }
  EXPECT_EQ(session->ProviderProperty("dbms name"), Variant("SQLite"));
  EXPECT_FALSE(session->ProviderProperty("No Such Property").has_value());
}

TEST_F(OdbcSqliteTest, RecordsetOverOdbcCountsRowsAndShowsNulls) {
  Open()->Execute("CREATE TABLE t_SupportedProc (FProcName VARCHAR(40), FLevel INTEGER)");
  Open()->Execute("INSERT INTO t_SupportedProc VALUES ('SetEndBal', 1)");
  Open()->Execute("INSERT INTO t_SupportedProc VALUES ('SetBegBal', NULL)");
  Connection connection;
  connection.Open(database_.ConnectString());
  Recordset recordset;
  recordset.Open("SELECT FProcName, FLevel FROM t_SupportedProc ORDER BY FProcName", connection);
  EXPECT_EQ(recordset.RecordCount(), 2);
  std::vector<std::string> seen;
  for (; !recordset.Eof(); recordset.MoveNext()) {
    const Fields& fields = recordset.GetFields();
    seen.push_back(fields.Item("fprocname").Value().ToString() + "=" +
                   (fields.Item(1).Value().IsNull() ? "Null" : fields.Item(1).Value().ToString()));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"SetBegBal=Null", "SetEndBal=1"}));
  recordset.MoveFirst();
  EXPECT_EQ(recordset.GetFields().Item(0).Value(), Variant("SetBegBal"));
  EXPECT_EQ(connection.GetProperties().Item("DBMS Name").Value(), Variant("SQLite"));
}

TEST_F(OdbcSqliteTest, CommandLineRunsExecuteSqlThroughOdbc) {
  if (std::string(CLOSEWRIGHT_TOOL).empty()) GTEST_SKIP() << "the closewright tool is not built";
  const std::string command = std::string(CLOSEWRIGHT_TOOL) + " call ExecuteSQL --dsn 'ConnectString={" +
                              database_.ConnectString() + "}' 'CREATE TABLE t(a INT)' >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  EXPECT_TRUE(Open()->Query("SELECT a FROM t").rows.empty());
}

TEST_F(OdbcSqliteTest, FactoryOpensOdbcStringsThroughTheProvider) {
  auto session = OpenDatabaseSession(database_.ConnectString());
  session->Execute("CREATE TABLE t (a INT)");
  EXPECT_THAT(session->ProviderName(), StartsWith("Closewright.ODBC"));
}

}  // namespace
}  // namespace closewright
