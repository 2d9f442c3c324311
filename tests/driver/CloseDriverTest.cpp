#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "outside/sqlite/SqliteHandles.h"
#include "support/ShellTool.h"
#include "support/TestDatabase.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using testing::TemporaryDatabase;

using RunResult = testing::ShellRun;

using testing::RunToolLine;

using sqlite::DatabaseHandle;
using sqlite::StatementHandle;

// The ledger's text and date columns name the provider's collations; an outside reader needs collations
// of those names to read them at all. Byte order is enough for counting and comparing dumps.
int CompareBytes(void*, int leftLength, const void* left, int rightLength, const void* right) {
  const int common = std::min(leftLength, rightLength);
  const int order = std::memcmp(left, right, static_cast<std::size_t>(common));
  return order != 0 ? order : leftLength - rightLength;
}

DatabaseHandle OpenRaw(const std::string& file) {
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  for (const char* name : {"CI", "DT"}) {
    sqlite3_create_collation_v2(db, name, SQLITE_UTF8, nullptr, CompareBytes, nullptr);
  }
  sqlite3_busy_timeout(db, 5000);
  return DatabaseHandle(db);
}

// A statement for `sql`; a text that does not prepare gives none, and stepping it gives no rows.
StatementHandle Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
  return StatementHandle(statement);
}

void RunRaw(const std::string& file, const std::string& sql) {
  DatabaseHandle db = OpenRaw(file);
  char* message = nullptr;
  ASSERT_EQ(sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
      << (message ? message : "") << " in " << sql;
}

// Every row of every ledger table as text, table by table. The provider's identity counters advance by
// design even when a transaction rolls back, and the close log records every run, so both stay aside.
std::map<std::string, std::string> Dump(const std::string& file) {
  DatabaseHandle db = OpenRaw(file);
  std::map<std::string, std::string> dump;
  std::vector<std::string> tables;
  {
    const StatementHandle list = Prepare(
        db.get(),
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' AND name NOT "
        "IN ('closewright_identity', 't_CloseLog') ORDER BY name");
    while (sqlite3_step(list.get()) == SQLITE_ROW)
      tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(list.get(), 0)));
  }
  for (const std::string& table : tables) {
    const StatementHandle rows = Prepare(db.get(), "SELECT * FROM \"" + table + "\" ORDER BY 1, 2, 3");
    std::string text;
    while (sqlite3_step(rows.get()) == SQLITE_ROW) {
      for (int column = 0; column < sqlite3_column_count(rows.get()); ++column) {
        const unsigned char* value = sqlite3_column_text(rows.get(), column);
        text += value ? reinterpret_cast<const char*>(value) : "NULL";
        text += '|';
      }
      text += '\n';
    }
    dump[table] = text;
  }
  return dump;
}

double Scalar(const std::string& file, const std::string& sql) {
  DatabaseHandle db = OpenRaw(file);
  const StatementHandle statement = Prepare(db.get(), sql);
  double value = -1;
  if (sqlite3_step(statement.get()) == SQLITE_ROW) value = sqlite3_column_double(statement.get(), 0);
  return value;
}

std::string CurrentPeriodOf(const std::string& file) {
  DatabaseHandle db = OpenRaw(file);
  const StatementHandle statement = Prepare(
      db.get(),
      "SELECT (SELECT FValue FROM t_SystemProfile WHERE FCategory='OPCost' AND FKey='CurrentYear') || "
      "'/' || (SELECT FValue FROM t_SystemProfile WHERE FCategory='OPCost' AND FKey='CurrentPeriod')");
  std::string value;
  if (sqlite3_step(statement.get()) == SQLITE_ROW)
    value = reinterpret_cast<const char*>(sqlite3_column_text(statement.get(), 0));
  return value;
}

class CloseDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ledger::CreateSchema(database.ConnectString());
    ledger::LedgerOptions options;
    options.tasks = 120;
    options.seed = 7;
    ledger::GenerateLedger(database.ConnectString(), options);
  }
  std::string Db() const { return "--db " + database.File(); }
  double Rows(const std::string& table, const std::string& yearPeriod) const {
    return Scalar(database.File(),
                  "SELECT COUNT(*) FROM " + table + " WHERE FYearPeriod = '" + yearPeriod + "'");
  }
  TemporaryDatabase database;
};

TEST_F(CloseDriverTest, CloseThenCloseNextThenReopenTwiceReturnsToTheStart) {
  const auto start = Dump(database.File());
  const double calInfoRows = Rows("OPCostCalInfo", "2011.03");
  const double wipRows = Rows("OPCostWIPCheck", "2011.03");
  ASSERT_GT(calInfoRows, 0);

  RunResult close = RunToolLine("close " + Db() + " --year 2011 --period 3");
  ASSERT_EQ(close.exitCode, 0) << close.output;
  EXPECT_NE(close.output.find("[8/8] SetCurrentPeriod"), std::string::npos);
  EXPECT_NE(close.output.find("close of 2011/3 done in "), std::string::npos) << close.output;
  EXPECT_EQ(CurrentPeriodOf(database.File()), "2011/4");
  // The closed period's working rows moved whole into history.
  EXPECT_EQ(Rows("OPCostCalInfo", "2011.03"), 0);
  EXPECT_EQ(Rows("OPCostCalInfo_History", "2011.03"), calInfoRows);
  EXPECT_EQ(Rows("OPCostWIPCheck_History", "2011.03"), wipRows);
  // What the closed period ends with is what the next begins with, less the finished tasks.
  const double ending =
      Scalar(database.File(),
             "SELECT SUM(FEndBal) FROM OPCostBalance_History WHERE FYearPeriod='2011.03' AND "
             "FTypeID=4");
  const double endingCalculated =
      Scalar(database.File(),
             "SELECT SUM(FOnlineAmount) FROM OPCostCalInfo_History a JOIN ICMO b ON "
             "a.FICMOInterID=b.FInterID WHERE a.FYearPeriod='2011.03' AND "
             "b.FCancellation=0 AND (b.FStatus<>3 OR a.FOnlineAmount<>0 OR "
             "b.FCloseDate>='2011-04-01')");
  EXPECT_NEAR(ending, endingCalculated, 1e-6);
  const auto unexplained = close.output.find("unexplained difference");
  ASSERT_NE(unexplained, std::string::npos) << close.output;
  std::istringstream line(close.output.substr(unexplained + std::string("unexplained difference").size()));
  double quantity = -1, amount = -1;
  line >> quantity >> amount;
  EXPECT_NEAR(quantity, 0.0, 1e-6) << close.output;
  EXPECT_NEAR(amount, 0.0, 1e-6) << close.output;

  RunResult closeNext = RunToolLine("close " + Db() + " --year 2011 --period 4");
  ASSERT_EQ(closeNext.exitCode, 0) << closeNext.output;
  EXPECT_EQ(CurrentPeriodOf(database.File()), "2011/5");

  RunResult reopenNext = RunToolLine("reopen " + Db() + " --year 2011 --period 4");
  ASSERT_EQ(reopenNext.exitCode, 0) << reopenNext.output;
  EXPECT_NE(reopenNext.output.find("reopening discards"), std::string::npos);
  EXPECT_EQ(CurrentPeriodOf(database.File()), "2011/4");
  RunResult reopen = RunToolLine("reopen " + Db() + " --year 2011 --period 3");
  ASSERT_EQ(reopen.exitCode, 0) << reopen.output;
  EXPECT_EQ(CurrentPeriodOf(database.File()), "2011/3");

  const auto end = Dump(database.File());
  for (const std::string table : {"OPCostCalInfo", "OPCostCalInfo_History", "OPCostWIPCheck",
                                  "OPCostWNCalInfo", "OPCostMaterielInfo_History", "t_SystemProfile"}) {
    EXPECT_EQ(Scalar(database.File(), "SELECT COUNT(*) FROM " + std::string(table)),
              static_cast<double>(std::count(start.at(table).begin(), start.at(table).end(), '\n')))
        << table;
  }
  EXPECT_EQ(start.at("t_SystemProfile"), end.at("t_SystemProfile"));

  // The log: a header over one line per run, newest first; the same runs as JSON.
  RunResult log = RunToolLine("log " + Db());
  EXPECT_EQ(log.exitCode, 0);
  EXPECT_EQ(std::count(log.output.begin(), log.output.end(), '\n'), 5) << log.output;
  EXPECT_EQ(log.output.rfind("id  action  period  next ", 0), 0u) << log.output;
  std::istringstream rows(log.output);
  std::string header, row;
  std::getline(rows, header);
  const auto durationAt = header.find("duration");
  while (std::getline(rows, row)) {
    // Right-aligned under the header, every duration ends where the header's word does.
    ASSERT_GE(row.size(), durationAt + 8) << log.output;
    EXPECT_TRUE(row.compare(durationAt + 6, 2, "ms") == 0 || row.compare(durationAt + 7, 1, "s") == 0)
        << log.output;
  }
  RunResult json = RunToolLine("log " + Db() + " --json --limit 3");
  ASSERT_EQ(json.exitCode, 0) << json.output;
  const nlohmann::json entries = nlohmann::json::parse(json.output);
  ASSERT_EQ(entries.size(), 3u) << json.output;
  EXPECT_EQ(entries[0]["action"], "reopen");
  EXPECT_EQ(entries[0]["period"]["period"], 3);
  EXPECT_EQ(entries[2]["action"], "close");
  EXPECT_EQ(entries[2]["next"]["period"], 5);
  EXPECT_EQ(entries[2]["outcome"], "done");
  EXPECT_GT(entries[0]["id"].get<int>(), entries[1]["id"].get<int>());
  EXPECT_TRUE(entries[0]["seconds"].is_number()) << json.output;
}

TEST_F(CloseDriverTest, AFailureInAnyStepLeavesTheLedgerAsItWasAndIsLogged) {
  // Each trigger makes one step's own write fail, the way a full disk or a constraint would.
  const std::vector<std::pair<std::string, std::string>> injections{
      {"SetEndBal", "BEFORE INSERT ON OPCostBalance WHEN NEW.FTypeID = 3"},
      {"SetBegBal", "BEFORE INSERT ON OPCostBalance WHEN NEW.FTypeID = 1"},
      {"SetStandardData", "BEFORE INSERT ON OPCostStandardSet"},
      {"SetCostDeputyData", "BEFORE INSERT ON OPCostDeputyInfo"},
      {"EndHistoryData", "BEFORE INSERT ON OPCostMaterielInfo_History"},
      {"EndOpCostHistoryData", "BEFORE INSERT ON OPCostWIPCheck_History"},
      {"SetCurrentPeriod", "BEFORE UPDATE ON t_SystemProfile"},
  };
  const auto before = Dump(database.File());
  for (const auto& [step, when] : injections) {
    RunRaw(database.File(),
           "CREATE TRIGGER injected " + when + " BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
    RunResult close = RunToolLine("close " + Db() + " --year 2011 --period 3");
    RunRaw(database.File(), "DROP TRIGGER injected");
    EXPECT_EQ(close.exitCode, 1) << step << ": " << close.output;
    EXPECT_NE(close.output.find("injected failure"), std::string::npos) << step << ": " << close.output;
    EXPECT_TRUE(Dump(database.File()) == before) << step;
    RunResult log = RunToolLine("log " + Db() + " --limit 1");
    EXPECT_NE(log.output.find("failed in " + step), std::string::npos) << step << ": " << log.output;
  }
}

TEST_F(CloseDriverTest, PreviewChangesNothingAndReportsWhatACloseReports) {
  const auto before = Dump(database.File());
  RunResult preview = RunToolLine("close " + Db() + " --year 2011 --period 3 --preview --json");
  ASSERT_EQ(preview.exitCode, 0) << preview.output;
  EXPECT_TRUE(Dump(database.File()) == before);
  RunResult close = RunToolLine("close " + Db() + " --year 2011 --period 3 --json");
  ASSERT_EQ(close.exitCode, 0) << close.output;
  auto tablesOf = [](const std::string& output) {
    const auto from = output.find("\"tables\"");
    return output.substr(from, output.find(']', from) - from);
  };
  EXPECT_EQ(tablesOf(preview.output), tablesOf(close.output));
  EXPECT_NE(preview.output.find("\"preview\":true"), std::string::npos);
}

// The query command prints an exact number at its column's scale, as SQL Server's client does (a MONEY at
// four places), from the digits of the value, not from the double's binary expansion. A derived column
// without an alias has an empty header.
TEST_F(CloseDriverTest, QueryPrintsExactNumbersAtTheirColumnsScale) {
  const RunResult run = RunToolLine("query --db " + database.File() +
                                    " \"SELECT CAST(2.5 AS MONEY) AS m, CAST(123.456 AS DECIMAL(5,2)), "
                                    "CAST(1 AS DECIMAL(28,10)), CAST(-0.5 AS DECIMAL(3,0)), 1.005, 7\"");
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(run.output, "m\t\t\t\t\t\n2.5000\t123.46\t1.0000000000\t-1\t1.005\t7\n");
}

// Opening a missing embedded ledger would create an empty one; a mistyped name is refused in one line,
// creating nothing, by every command that needs a ledger. Only a caller's own SQL may make one.
TEST_F(CloseDriverTest, AMistypedLedgerIsRefusedInOneLineAndNothingIsCreated) {
  const std::string typo = database.File() + ".typo";
  const std::string description =
      "\"ConnectString={Provider=Closewright.SQLite;Data Source=" + typo + "};DBMS Name=SQLite\"";
  for (const std::string& arguments :
       {"close --year 2011 --period 3 --db " + typo, "reopen --year 2011 --period 3 --dsn " + description,
        "log --db " + typo, "check --db " + typo, "query --db " + typo + " \"SELECT 1\"",
        "call SetEndBal --db " + typo + " 2011 3"}) {
    const RunResult run = RunToolLine(arguments);
    EXPECT_EQ(run.exitCode, 1) << arguments << "\n" << run.output;
    EXPECT_EQ(run.output, "error: no ledger at " + typo +
                              " (it does not exist); create one with closewright init --db " + typo + "\n")
        << arguments;
    EXPECT_FALSE(std::filesystem::exists(typo)) << arguments;
  }
  // What the old mistake left behind, an empty file, is no ledger either.
  const std::string empty = database.File() + ".empty";
  std::ofstream{empty};
  const RunResult onEmpty = RunToolLine("close --year 2011 --period 3 --db " + empty);
  EXPECT_EQ(onEmpty.exitCode, 1) << onEmpty.output;
  EXPECT_NE(onEmpty.output.find("no ledger at " + empty + " (the file is empty)"), std::string::npos)
      << onEmpty.output;
  std::filesystem::remove(empty);

  EXPECT_EQ(RunToolLine("call ExecuteSQL --db " + typo + " \"CREATE TABLE t (FID INT)\"").exitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(typo));
  // init makes the ledger a --dsn names, and the commands then find it.
  const std::string made = database.File() + ".made";
  const RunResult init =
      RunToolLine("init --tasks 0 --dsn \"ConnectString={Provider=Closewright.SQLite;Data Source=" + made +
                  "};DBMS Name=SQLite\"");
  EXPECT_EQ(init.exitCode, 0) << init.output;
  EXPECT_EQ(RunToolLine("log --db " + made).exitCode, 0);
  for (const std::string& file : {typo, made}) std::filesystem::remove(file);
}

TEST(DurationText, ThreeDigitsInMillisecondsBelowASecondAndInSecondsFromThere) {
  using tool::DurationText;
  EXPECT_EQ(DurationText(0.0852538), "85.3 ms");
  EXPECT_EQ(DurationText(0.00004), "0.040 ms");
  EXPECT_EQ(DurationText(0.0099996), "10.0 ms");  // rounds into the next width, not "10.00 ms"
  EXPECT_EQ(DurationText(0.9997), "1.00 s");      // and into seconds, not "1000 ms"
  EXPECT_EQ(DurationText(1.234), "1.23 s");
  EXPECT_EQ(DurationText(12.34), "12.3 s");
  EXPECT_EQ(DurationText(123.4), "123 s");
  EXPECT_EQ(DurationText(-0.001), "0.000 ms");
}

TEST_F(CloseDriverTest, OutOfOrderClosesAndReopensAreRefusedWithExitCode3) {
  const auto before = Dump(database.File());
  for (const std::string arguments : {
           "close --year 2011 --period 4",                                   // not the current period
           "close --year 2011 --period 3 --next-year 2011 --next-period 5",  // skips a period
           "reopen --year 2011 --period 3",                                  // still open
           "reopen --year 2011 --period 1",                                  // not the last closed period
       }) {
    RunResult run = RunToolLine(arguments + " " + Db());
    EXPECT_EQ(run.exitCode, 3) << arguments << ": " << run.output;
    EXPECT_NE(run.output.find("refused: "), std::string::npos) << run.output;
    EXPECT_TRUE(Dump(database.File()) == before) << arguments;
  }
  EXPECT_EQ(RunToolLine("close " + Db() + " --year 2011").exitCode, 2);
}

TEST_F(CloseDriverTest, TwoClosesAtOnceOneCompletesTheOtherIsRefusedAtOnce) {
  // Hold the ledger's write lock the way a running close does, then start another close.
  DatabaseHandle holder = OpenRaw(database.File());
  ASSERT_EQ(sqlite3_exec(holder.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  RunResult second = RunToolLine("close " + Db() + " --year 2011 --period 3");
  EXPECT_EQ(second.exitCode, 3) << second.output;
  EXPECT_NE(second.output.find("another close or reopen"), std::string::npos) << second.output;
  sqlite3_exec(holder.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  holder.reset();

  RunResult first, other;
  std::thread a([&] { first = RunToolLine("close " + Db() + " --year 2011 --period 3"); });
  std::thread b([&] { other = RunToolLine("close " + Db() + " --year 2011 --period 3"); });
  a.join();
  b.join();
  // Either one is refused at once, or the second starts after the first and is refused by the period check.
  EXPECT_EQ(std::min(first.exitCode, other.exitCode), 0) << first.output << other.output;
  EXPECT_EQ(std::max(first.exitCode, other.exitCode), 3) << first.output << other.output;
  EXPECT_EQ(CurrentPeriodOf(database.File()), "2011/4");
}

}  // namespace
}  // namespace closewright
