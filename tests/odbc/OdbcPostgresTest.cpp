// The ODBC provider's batch and transaction mechanics against Debian's PostgreSQL ODBC driver and a private
// PostgreSQL server: unlike SQLite's driver, this one runs texts of several statements.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "outside/odbc/OdbcProvider.h"
#include "tests/odbc/OdbcTestSupport.h"
#include "tools/closewright/CloseLock.h"

namespace closewright {
namespace {

using ::testing::HasSubstr;

class OdbcPostgresTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    cluster_ = testing::PostgresCluster::Start(whyNot_);
    if (cluster_) {
      try {
        OpenOdbcSession(cluster_->ConnectString());
      } catch (const ComError& error) {
        whyNot_ = "the PostgreSQL ODBC driver is not usable: " + error.Description();
        cluster_.reset();
      }
    }
  }
  static void TearDownTestSuite() { cluster_.reset(); }

  void SetUp() override {
    if (!cluster_) GTEST_SKIP() << whyNot_;
    auto session = Open();
    session->Execute("DROP TABLE IF EXISTS OPCostBalance; CREATE TABLE OPCostBalance (FID INT)");
  }

  static std::unique_ptr<DatabaseSession> Open() { return OpenOdbcSession(cluster_->ConnectString()); }
  static std::size_t RowCount() { return Open()->Query("SELECT FID FROM OPCostBalance").rows.size(); }

  static std::unique_ptr<testing::PostgresCluster> cluster_;
  static std::string whyNot_;
};

std::unique_ptr<testing::PostgresCluster> OdbcPostgresTest::cluster_;
std::string OdbcPostgresTest::whyNot_;

TEST_F(OdbcPostgresTest, LaterFailingStatementOfABatchSurfacesAndRollbackUndoesTheEarlierOnes) {
  const std::string batch =
      "INSERT INTO OPCostBalance VALUES (1);\r\nINSERT INTO OPCostBalance VALUES (2);\r\n"
      "INSERT INTO OPCostMissing VALUES (3)";
  try {
    RunInObjectContext([&] {
      Connection connection;
      connection.Open(cluster_->ConnectString());
      connection.Execute(batch);
    });
    ADD_FAILURE() << "the batch's failing statement was not reported";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kCommandFailed);
    EXPECT_THAT(error.Description(), HasSubstr("opcostmissing"));
    EXPECT_EQ(error.SqlState(), "42P01");
    EXPECT_EQ(error.FailingText(), batch);
  }
  EXPECT_EQ(RowCount(), 0u);

  RunInObjectContext([&] {
    Connection connection;
    connection.Open(cluster_->ConnectString());
    connection.Execute("INSERT INTO OPCostBalance VALUES (1);\r\nINSERT INTO OPCostBalance VALUES (2)");
  });
  EXPECT_EQ(RowCount(), 2u);
}

TEST_F(OdbcPostgresTest, QuerySkipsRowCountsAndReturnsTheFirstResultSet) {
  auto session = Open();
  const ResultTable table = session->Query(
      "INSERT INTO OPCostBalance VALUES (7);\r\nSELECT FID, 'x' || '期' AS FNote, 1.5::numeric AS FRate, "
      "NULL::int AS FNone FROM OPCostBalance");
  EXPECT_EQ(table.columns, (std::vector<std::string>{"fid", "fnote", "frate", "fnone"}));
  ASSERT_EQ(table.rows.size(), 1u);
  EXPECT_EQ(table.rows[0][0], Variant(std::int32_t{7}));
  EXPECT_EQ(table.rows[0][1], Variant("x期"));
  EXPECT_EQ(table.rows[0][2].Type(), VariantType::Decimal);
  EXPECT_EQ(table.rows[0][2].ToString(), "1.5");
  EXPECT_TRUE(table.rows[0][3].IsNull());
  EXPECT_EQ(table.TypeOf(0).kind, ColumnKind::Integer);
  EXPECT_EQ(table.TypeOf(1).kind, ColumnKind::Text);
  EXPECT_EQ(table.TypeOf(2).kind, ColumnKind::ExactNumeric);
  // A decimal column's precision and scale are what a client needs to show 2.5 as 2.5000; its values come
  // from the driver's text, with the nineteen digits a double could not hold.
  const ResultTable amounts = session->Query(
      "SELECT CAST(2.5 AS numeric(19,4)) AS FAmount, CAST(-123456789012345.6789 AS numeric(19,4)) AS FLarge");
  const ColumnType amount = amounts.TypeOf(0);
  EXPECT_EQ(amount.kind, ColumnKind::ExactNumeric);
  EXPECT_EQ(amount.precision, 19);
  EXPECT_EQ(amount.scale, 4);
  ASSERT_EQ(amounts.rows.size(), 1u);
  EXPECT_EQ(amounts.rows[0][0].Type(), VariantType::Decimal);
  EXPECT_EQ(amounts.rows[0][0].ToString(), "2.5000");
  EXPECT_EQ(amounts.rows[0][1].ToString(), "-123456789012345.6789");
}

TEST_F(OdbcPostgresTest, ConnectionLostBeforeTheCommitIsReportedAsNotCommitted) {
  auto session = Open();
  auto administrator = Open();
  session->BeginTransaction();
  session->Execute("INSERT INTO OPCostBalance VALUES (1)");
  const std::int32_t backend = session->Query("SELECT pg_backend_pid()").rows.at(0).at(0).ToLong();
  administrator->Execute("SELECT pg_terminate_backend(" + std::to_string(backend) + ")");
  try {
    session->Commit();
    ADD_FAILURE() << "a commit on a lost connection reported success";
  } catch (const ComError& error) {
    // The check before the commit meets the lost connection, so no COMMIT was ever sent.
    EXPECT_EQ(error.Number(), error_number::kTransactionAborted);
    EXPECT_THAT(error.Description(), HasSubstr("nothing was committed"));
  }
  session->Rollback();  // must stay quiet on the dead connection
  EXPECT_EQ(RowCount(), 0u);
}

// PostgreSQL aborts a transaction at its first error and answers a later COMMIT by rolling back, which the
// driver reports as a successful commit; told to (Protocol=7.4-1), the driver rolls back itself and opens a
// fresh transaction at the next statement, so that a commit would keep only what came after the error. In
// both cases an error passed over inside the transaction must fail the commit, naming the error; with the
// driver's default (it undoes the failing statement only) the transaction commits, as on SQL Server.
TEST_F(OdbcPostgresTest, AnErrorPassedOverThatEndsTheTransactionFailsTheCommitNamingIt) {
  for (const std::string protocol : {"7.4-0", "7.4-1", "7.4-2"}) {
    SCOPED_TRACE("Protocol=" + protocol);
    const std::string connectString = cluster_->ConnectString() + ";Protocol=" + protocol;
    const auto inCall = [&](const std::string& text, bool passOver) {
      RunInObjectContext([&] {
        Connection connection;
        connection.Open(connectString);
        try {
          connection.Execute(text);
        } catch (const ComError&) {
          if (!passOver) throw;
        }
      });
    };
    Open()->Execute("DELETE FROM OPCostBalance");
    Transaction transaction;
    inCall("INSERT INTO OPCostBalance VALUES (1)", false);
    inCall("SELECT CAST('x' AS INT)", true);
    if (protocol == "7.4-2") {
      inCall("INSERT INTO OPCostBalance VALUES (2)", false);
      transaction.Commit();
      EXPECT_EQ(RowCount(), 2u);
      continue;
    }
    try {
      inCall("INSERT INTO OPCostBalance VALUES (2)", false);
      ADD_FAILURE() << "work went on in a transaction the server had ended";
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), error_number::kTransactionAborted);
      EXPECT_THAT(error.Description(), HasSubstr("invalid input syntax"));
      EXPECT_EQ(error.FailingText(), "INSERT INTO OPCostBalance VALUES (2)");
    }
    EXPECT_THROW(transaction.Commit(), ComError);
    EXPECT_EQ(RowCount(), 0u);
  }
}

// The close lock belongs to the run's transaction: a second run is told another holds it, and the lock goes
// with the first run's rollback.
TEST_F(OdbcPostgresTest, TheCloseLockIsHeldUntilTheTransactionHoldingItEnds) {
  const auto tryElsewhere = [&] {
    tool::CloseLockOutcome outcome{};
    std::thread other([&] {
      Transaction transaction;
      Connection connection;
      connection.Open(cluster_->ConnectString());
      outcome = tool::TakeCloseLock(connection);
    });
    other.join();
    return outcome;
  };
  auto first = std::make_unique<Transaction>();
  Connection connection;
  connection.Open(cluster_->ConnectString());
  EXPECT_EQ(tool::TakeCloseLock(connection), tool::CloseLockOutcome::Taken);
  EXPECT_EQ(tryElsewhere(), tool::CloseLockOutcome::HeldByAnother);
  connection.Close();
  first->Rollback();
  EXPECT_EQ(tryElsewhere(), tool::CloseLockOutcome::Taken);
}

}  // namespace
}  // namespace closewright
