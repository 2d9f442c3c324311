#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/ShellTool.h"
#include "support/TestDatabase.h"
#include "tests/odbc/OdbcTestSupport.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using RunResult = testing::ShellRun;

using testing::RunToolLine;

std::string FileBytes(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The first line that starts with `status` and holds `text`, or "" when there is none.
std::string LineOf(const std::string& output, const std::string& status, const std::string& text) {
  for (const std::string& line : Lines(output)) {
    if (line.rfind(status, 0) == 0 && line.find(text) != std::string::npos) return line;
  }
  return {};
}

void MakeLedger(const std::string& connectString) {
  ledger::CreateSchema(connectString);
  ledger::LedgerOptions options;
  options.tasks = 60;
  options.seed = 3;
  ledger::GenerateLedger(connectString, options);
}

class CheckCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { MakeLedger(database.ConnectString()); }
  std::string Db() const { return "--db " + database.File(); }
  // Changes the ledger through the tool, as a DBA would.
  void Execute(const std::string& batch) const {
    const RunResult run = RunToolLine("call ExecuteSQL " + Db() + " \"" + batch + "\"");
    ASSERT_EQ(run.exitCode, 0) << run.output;
  }
  testing::TemporaryDatabase database;
};

TEST_F(CheckCommandTest, AGoodLedgerPassesEveryCheckAndIsLeftByteForByteAsItWas) {
  const std::string before = FileBytes(database.File());

  const RunResult text = RunToolLine("check " + Db() + " --year 2011 --period 3");
  ASSERT_EQ(text.exitCode, 0) << text.output;
  const std::vector<std::string> lines = Lines(text.output);
  ASSERT_EQ(lines.size(), 10u) << text.output;  // nine checks and the summary
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("pass ", 0), 0u) << lines[i];
  // The schema check found every table of the reference schema, not a few the parse happened to see.
  EXPECT_NE(
      LineOf(text.output, "pass", "all " + std::to_string(ledger::SchemaTableNames().size()) + " tables"), "")
      << text.output;
  EXPECT_NE(LineOf(text.output, "pass", "can be closed into 2011/4"), "") << text.output;

  // The period before the current one is checked for a reopen instead; --json gives one document.
  const RunResult json = RunToolLine("check " + Db() + " --year 2011 --period 2 --json");
  ASSERT_EQ(json.exitCode, 0) << json.output;
  const nlohmann::json document = nlohmann::json::parse(json.output);
  EXPECT_TRUE(document.at("passed").get<bool>());
  std::vector<std::string> names;
  for (const auto& check : document.at("checks")) {
    names.push_back(check.at("check").get<std::string>());
    EXPECT_EQ(check.at("status"), "pass") << check.dump();
  }
  EXPECT_EQ(names,
            (std::vector<std::string>{"connection", "server", "collation", "schema", "identity",
                                      "permissions", "close lock", "current period", "period 2011/2"}));
  EXPECT_NE(document.at("checks").back().at("detail").get<std::string>().find("can be reopened"),
            std::string::npos);

  EXPECT_EQ(RunToolLine("check " + Db() + " --year 2011").exitCode, 2);
  EXPECT_TRUE(FileBytes(database.File()) == before) << "the check changed the ledger file";
}

TEST_F(CheckCommandTest, EachBrokenPieceFailsOnItsOwnLineNamingItAndTheOtherChecksStillRun) {
  // A table dropped, a table recreated without its last column, a working row of the period before.
  Execute("DROP TABLE OPCostTaxonSet");
  Execute(
      "DROP TABLE OPCostDeputyInfo "
      "CREATE TABLE OPCostDeputyInfo (FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FYear INT NOT NULL "
      "DEFAULT(0), FPeriod INT NOT NULL DEFAULT(0), FYearPeriod VARCHAR(20) NOT NULL DEFAULT(''), "
      "FCostItemID INT NOT NULL DEFAULT(0), FProductID INT NOT NULL DEFAULT(0), "
      "FAmount DECIMAL(28,10) NOT NULL DEFAULT(0))");
  Execute(
      "INSERT INTO OPCostWIPCheck (FYearPeriod, FYear, FPeriod, FICMOInterID) "
      "VALUES ('2011.02', 2011, 2, 1)");
  const std::string before = FileBytes(database.File());

  const RunResult check = RunToolLine("check " + Db() + " --year 2011 --period 3");
  EXPECT_EQ(check.exitCode, 1) << check.output;
  EXPECT_NE(LineOf(check.output, "FAIL", "table OPCostTaxonSet is missing"), "") << check.output;
  EXPECT_NE(LineOf(check.output, "FAIL", "table OPCostDeputyInfo lacks column FNote -- to do: add it"), "")
      << check.output;
  const std::string period = LineOf(check.output, "FAIL", "period 2011/3");
  EXPECT_NE(period.find("OPCostWIPCheck holds 1 row"), std::string::npos) << check.output;
  EXPECT_NE(period.find("-- to do: "), std::string::npos) << period;
  // Nothing else is blamed: each failure is its own line, and the checks after it ran and passed.
  int failures = 0;
  for (const std::string& line : Lines(check.output)) failures += line.rfind("FAIL", 0) == 0 ? 1 : 0;
  EXPECT_EQ(failures, 3) << check.output;
  for (const std::string name : {"identity", "permissions", "close lock", "current period"}) {
    EXPECT_NE(LineOf(check.output, "pass", name), "") << name << "\n" << check.output;
  }

  const RunResult later = RunToolLine("check " + Db() + " --year 2011 --period 5");
  EXPECT_EQ(later.exitCode, 1);
  EXPECT_NE(
      LineOf(later.output, "FAIL", "2011/5 can be neither closed nor reopened: the current period is 2011/3"),
      "")
      << later.output;
  EXPECT_TRUE(FileBytes(database.File()) == before) << "the check changed the ledger file";
}

TEST(CheckCommandOverOdbc, TheChecksRunAsFarAsTheDriverTakesThem) {
  testing::SqliteOdbcDatabase odbc;
  MakeLedger(ledger::EmbeddedConnectString(odbc.File()));
  const std::string dsn =
      "--dsn \"ConnectString={" + odbc.ConnectString() + "};DBMS Name=SQLite;DBMS Version=3\"";

  // A plain SQLite reader lacks the embedded provider's case-insensitive collation the ledger's text columns
  // name: the schema can be read, the current period's text comparison cannot, and the period check after
  // it has nothing to go on.
  const RunResult check = RunToolLine("check " + dsn + " --year 2011 --period 3");
  EXPECT_EQ(check.exitCode, 1) << check.output;
  EXPECT_NE(LineOf(check.output, "pass", "opened through Closewright.ODBC ("), "") << check.output;
  EXPECT_NE(
      LineOf(check.output, "pass", "all " + std::to_string(ledger::SchemaTableNames().size()) + " tables"),
      "")
      << check.output;
  EXPECT_NE(LineOf(check.output, "pass", "not applicable"), "") << check.output;
  EXPECT_NE(LineOf(check.output, "FAIL", "no such collation sequence: CI"), "") << check.output;
  EXPECT_NE(LineOf(check.output, "not run", "the module's current period is not known"), "") << check.output;

  const RunResult unreachable =
      RunToolLine("check --dsn \"ConnectString={Driver=No Such Driver;Database=" + odbc.File() +
                  "};DBMS Name=SQLite;DBMS Version=3\"");
  EXPECT_EQ(unreachable.exitCode, 1);
  ASSERT_EQ(Lines(unreachable.output).size(), 2u) << unreachable.output;
  EXPECT_NE(LineOf(unreachable.output, "FAIL", "No Such Driver"), "") << unreachable.output;
  EXPECT_NE(unreachable.output.find("were not run"), std::string::npos) << unreachable.output;
}

}  // namespace
}  // namespace closewright
