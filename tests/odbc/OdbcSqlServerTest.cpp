// The live SQL Server suite. It runs when CLOSEWRIGHT_TEST_MSSQL holds a connection description of a server
// the tests may create and drop databases on, for example
//   ConnectString={Driver=FreeTDS;Server=db1;Port=1433;Database=master;UID=sa;PWD=...;ClientCharset=UTF-8};
//   DBMS Name=Microsoft SQL Server;DBMS Version=16
// and is skipped otherwise.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/ObjectContext.h"
#include "outside/Text.h"
#include "outside/Variant.h"
#include "outside/odbc/OdbcProvider.h"
#include "tests/odbc/OdbcTestSupport.h"
#include "tools/closewright/CloseLock.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using ::testing::HasSubstr;

// A description split into its connect string and the rest, so that the connect string can be pointed at
// another database and put back.
struct Description {
  std::string connectString;
  std::string rest;  // every other pair, ";"-joined

  std::string Text() const { return "ConnectString={" + connectString + "};" + rest; }
};

Description ParseDescription(const std::string& text) {
  Description description;
  for (const auto& [key, value] : SplitConnectString(text)) {
    if (EqualsIgnoringCase(key, "ConnectString")) {
      description.connectString = value;
    } else {
      description.rest += key + "=" + value + ";";
    }
  }
  return description;
}

// The connect string naming `database` instead of the one it named.
std::string WithDatabase(const std::string& connectString, const std::string& database) {
  const bool oleDb = IsOleDbSqlServerConnectString(connectString);
  std::string rebuilt;
  for (const auto& [key, value] : SplitConnectString(connectString)) {
    if (EqualsIgnoringCase(key, "Database") || EqualsIgnoringCase(key, "Initial Catalog")) continue;
    rebuilt += key + "=" + (value.find(';') != std::string::npos ? "{" + value + "}" : value) + ";";
  }
  return rebuilt + (oleDb ? "Initial Catalog=" : "Database=") + database;
}

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// One table's rows as sorted lines of normalized values. Identity keys (FID) are left out: archiving
// renumbers them. Numbers are compared as the platform writes a Double, text without trailing blanks
// (SQL Server pads CHAR columns; its comparisons ignore the padding).
std::vector<std::string> TableLines(DatabaseSession& session, const std::string& table) {
  const ResultTable result = session.Query("SELECT * FROM " + table);
  std::vector<std::string> lines;
  for (const auto& row : result.rows) {
    std::string line;
    for (std::size_t column = 0; column < row.size(); ++column) {
      if (EqualsIgnoringCase(result.columns[column], "FID")) continue;
      const Variant& value = row[column];
      switch (value.Type()) {
        case VariantType::Null:
          line += "<null>";
          break;
        case VariantType::Boolean:
          line += value.ToBoolean() ? "1" : "0";
          break;
        case VariantType::Long:
        case VariantType::LongLong:
        case VariantType::Double:
        case VariantType::Decimal:
          line += FormatDouble(value.ToDouble());
          break;
        case VariantType::Date:
          line += "date " + FormatDouble(value.ToDate().days);
          break;
        default: {
          std::string text = value.ToString();
          while (!text.empty() && text.back() == ' ') text.pop_back();
          line += text;
        }
      }
      line += " | ";
    }
    lines.push_back(std::move(line));
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

class OdbcSqlServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* given = std::getenv("CLOSEWRIGHT_TEST_MSSQL");
    if (given == nullptr || TrimWhitespace(given).empty()) {
      GTEST_SKIP() << "live SQL Server suite skipped: CLOSEWRIGHT_TEST_MSSQL holds no connection description";
    }
    description_ = ParseDescription(given);
    ASSERT_FALSE(description_.connectString.empty()) << "CLOSEWRIGHT_TEST_MSSQL names no ConnectString";
  }

  std::unique_ptr<DatabaseSession> OpenServer() { return OpenOdbcSession(description_.connectString); }

  Description description_;
};

// A database of its own on the server for one test, dropped afterwards.
class ScratchDatabase {
 public:
  ScratchDatabase(DatabaseSession& server, const std::string& connectString) : server_(server) {
    std::random_device random;
    name_ = "closewright_test_" + std::to_string(random() % 1000000000u);
    server_.Execute("CREATE DATABASE " + name_);
    connectString_ = WithDatabase(connectString, name_);
  }
  ~ScratchDatabase() {
    try {
      server_.Execute("ALTER DATABASE " + name_ + " SET SINGLE_USER WITH ROLLBACK IMMEDIATE");
      server_.Execute("DROP DATABASE " + name_);
    } catch (const ComError& error) {
      ADD_FAILURE() << "scratch database " << name_ << " was not dropped: " << error.Description();
    }
  }
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  const std::string& ConnectString() const { return connectString_; }

 private:
  DatabaseSession& server_;
  std::string name_;
  std::string connectString_;
};

TEST_F(OdbcSqlServerTest, SessionRunsWithXactAbortOffAndReportsServerFacts) {
  auto session = OpenServer();
  // 16384 is XACT_ABORT's bit in @@OPTIONS.
  EXPECT_EQ(session->Query("SELECT CAST(@@OPTIONS & 16384 AS int) AS FXactAbort").rows.at(0).at(0),
            Variant(std::int32_t{0}));
  EXPECT_THAT(session->ProviderProperty("DBMS Name")->ToString(), HasSubstr("SQL Server"));
  EXPECT_EQ(session->ProviderProperty("Multiple Results"), Variant(std::int32_t{1}));
  session->Execute("SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
}

TEST_F(OdbcSqlServerTest, LaterFailingStatementOfABatchSurfacesWithTheServersNumber) {
  auto session = OpenServer();
  session->BeginTransaction();
  const std::string batch =
      "CREATE TABLE #OPCostProbe (FID INT)\r\nPRINT 'informational only'\r\nINSERT INTO #OPCostProbe VALUES "
      "(1)\r\n"
      "INSERT INTO OPCostMissing VALUES (1)";
  try {
    session->Execute(batch);
    ADD_FAILURE() << "the batch's failing statement was not reported";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kCommandFailed);
    EXPECT_EQ(error.NativeError(), 208);
    EXPECT_EQ(error.SqlState(), "42S02");
    EXPECT_THAT(error.Description(), HasSubstr("OPCostMissing"));
  }
  session->Rollback();
}

TEST_F(OdbcSqlServerTest, CloseAndReopenLeaveTheSameTablesAsTheEmbeddedProvider) {
  if (std::string(CLOSEWRIGHT_TOOL).empty()) GTEST_SKIP() << "the closewright tool is not built";
  auto server = OpenServer();
  ScratchDatabase scratch(*server, description_.connectString);
  Description live = description_;
  live.connectString = scratch.ConnectString();

  testing::ScratchFolder folder("closewright-mssql");
  const std::string embeddedFile = (folder.Path() / "ledger.db").string();
  const std::string embedded = ledger::EmbeddedConnectString(embeddedFile);
  const std::string embeddedDescription = "ConnectString={" + embedded + "};DBMS Name=SQLite;DBMS Version=3";

  ledger::LedgerOptions options;
  options.tasks = 60;
  for (const std::string& connectString : {live.connectString, embedded}) {
    ledger::CreateSchema(connectString);
    ledger::GenerateLedger(connectString, options);
  }

  const auto compareEveryTable = [&](const std::string& after) {
    auto liveSession = OpenOdbcSession(live.connectString);
    auto embeddedSession = OpenDatabaseSession(embedded);
    for (const std::string& table : ledger::SchemaTableNames()) {
      EXPECT_EQ(TableLines(*liveSession, table), TableLines(*embeddedSession, table))
          << table << " after " << after;
    }
  };
  const auto run = [&](const std::string& command, const std::string& description) {
    const std::string line = ShellQuoted(CLOSEWRIGHT_TOOL) + " " + command + " --dsn " +
                             ShellQuoted(description) + " --year " + std::to_string(options.year) +
                             " --period " + std::to_string(options.period) + " >/dev/null";
    ASSERT_EQ(std::system(line.c_str()), 0) << MaskConnectStringPasswords(line);
  };

  run("close", live.Text());
  run("close", embeddedDescription);
  compareEveryTable("the close");
  run("reopen", live.Text());
  run("reopen", embeddedDescription);
  compareEveryTable("the reopen");
}

// A conversion error rolls the transaction back on the server; the implicit-transaction mode of the driver
// would open a fresh one at the next statement, and a commit would keep only what came after the error.
TEST_F(OdbcSqlServerTest, ATransactionTheServerRolledBackIsNeverCommitted) {
  auto server = OpenServer();
  ScratchDatabase scratch(*server, description_.connectString);
  OpenOdbcSession(scratch.ConnectString())->Execute("CREATE TABLE t (FID INT NOT NULL)");
  auto session = OpenOdbcSession(scratch.ConnectString());
  session->BeginTransaction();
  session->Execute("INSERT INTO t VALUES (1)");
  EXPECT_THROW(session->Execute("SELECT CONVERT(INT, 'x')"), ComError);
  try {
    session->Execute("INSERT INTO t VALUES (2)");
    ADD_FAILURE() << "work went on after the server rolled the transaction back";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kTransactionAborted);
    EXPECT_THAT(error.Description(), HasSubstr("Conversion failed"));
  }
  EXPECT_THROW(session->Commit(), ComError);
  EXPECT_EQ(OpenOdbcSession(scratch.ConnectString())->Query("SELECT FID FROM t").rows.size(), 0u);
}

// The close lock belongs to the run's transaction, which the session opens itself under implicit
// transactions: a second run is told another holds it, and the lock goes with the first run's rollback.
TEST_F(OdbcSqlServerTest, TheCloseLockIsHeldUntilTheTransactionHoldingItEnds) {
  const auto tryElsewhere = [&] {
    tool::CloseLockOutcome outcome{};
    std::thread other([&] {
      Transaction transaction;
      Connection connection;
      connection.Open(description_.connectString);
      outcome = tool::TakeCloseLock(connection);
    });
    other.join();
    return outcome;
  };
  auto first = std::make_unique<Transaction>();
  Connection connection;
  connection.Open(description_.connectString);
  EXPECT_EQ(tool::TakeCloseLock(connection), tool::CloseLockOutcome::Taken);
  EXPECT_EQ(tryElsewhere(), tool::CloseLockOutcome::HeldByAnother);
  connection.Close();
  first->Rollback();
  EXPECT_EQ(tryElsewhere(), tool::CloseLockOutcome::Taken);
}

}  // namespace
}  // namespace closewright
