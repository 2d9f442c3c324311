#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "close/CCloseData.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "parse/CParse.h"
#include "reliability/ReliabilitySupport.h"
#include "support/TestDatabase.h"

namespace closewright::testing {
namespace {

enum class Outcome { Error, Runs };

struct HostileDescription {
  std::string name;
  std::string text;
  Outcome outcome;
  bool fitsACommandLine = true;  // no NUL byte, and short enough for one argument
};

std::string ManyKeys(int count) {
  std::string keys;
  for (int i = 0; i < count; ++i) keys += ";Key" + std::to_string(i) + "=value " + std::to_string(i);
  return keys;
}

// Descriptions a careless or hostile caller might pass. Those that still name the ledger run; the period
// they are used with below has no rows, so running changes nothing either.
std::vector<HostileDescription> HostileDescriptions(const std::string& file) {
  const std::string valid = DescriptionFor(file);
  const std::string connect = "Provider=Closewright.SQLite;Data Source=" + file;
  return {
      {"empty", "", Outcome::Error},
      {"only separators", ";;;===;{};{{}}", Outcome::Error},
      {"no connect string", "DBMS Name=SQLite;DBMS Version=3", Outcome::Error},
      {"repeated key in another case", valid + ";connectstring={" + connect + "}", Outcome::Error},
      {"very long value", valid + ";Comment=" + std::string(1 << 20, 'x'), Outcome::Runs, false},
      {"long value on a command line", valid + ";Comment=" + std::string(100000, 'x'), Outcome::Runs},
      {"very long key", std::string(200000, 'k') + "=1;" + valid, Outcome::Runs, false},
      {"very long data source",
       "ConnectString={Provider=Closewright.SQLite;Data Source=/" + std::string(70000, 'd') + "}",
       Outcome::Error},
      {"thousands of keys", valid + ManyKeys(5000), Outcome::Runs},
      {"NUL byte in a value", valid + std::string(";UserName=a\0b", 13), Outcome::Runs, false},
      {"NUL byte in a key", valid + std::string(";User\0Name=a", 12), Outcome::Runs, false},
      {"NUL byte first", std::string("\0", 1) + valid, Outcome::Error, false},
      {"NUL byte in the provider",
       std::string("ConnectString={Provider=Closewright\0.SQLite;Data Source=", 57) + file + "}",
       Outcome::Error, false},
      {"unmatched opening brace", "ConnectString={" + connect, Outcome::Runs},
      {"unmatched opening brace before other keys", "ConnectString={" + connect + ";DBMS Name=SQLite",
       Outcome::Runs},
      {"unmatched closing brace", "ConnectString=" + connect + "}};DBMS Name=SQLite", Outcome::Error},
      {"brace in a key", "Connect{String}={" + connect + "}", Outcome::Error},
      {"nested braces", "ConnectString={{{" + connect + "}}}", Outcome::Error},
      {"thousands of opening braces", "ConnectString=" + std::string(20000, '{'), Outcome::Error},
      {"non-UTF-8 bytes in a harmless key", valid + ";UserName=\xFF\xFE\xC0\x80\xED\xA0\x80", Outcome::Runs},
      {"non-UTF-8 bytes in the data source",
       "ConnectString={Provider=Closewright.SQLite;Data Source=" +
           std::string("/nonexistent-\xFF\xC3\x28/ledger.db") + "}",
       Outcome::Error},
      {"non-UTF-8 provider", "ConnectString={Provider=\xC3\x28\xFF;Data Source=" + file + "}",
       Outcome::Error},
      {"unknown provider", "ConnectString={Provider=Nobody;Data Source=" + file + "}", Outcome::Error},
      {"data source is a folder", "ConnectString={Provider=Closewright.SQLite;Data Source=/tmp}",
       Outcome::Error},
      {"data source empty", "ConnectString={Provider=Closewright.SQLite;Data Source=}", Outcome::Error},
  };
}

// Runs end with 0; errors with 1, or 2 when the tool takes the description for a missing one.
void ExpectExit(const ToolRun& run, Outcome outcome) {
  if (outcome == Outcome::Runs) {
    EXPECT_EQ(run.exitCode, 0) << run.output.substr(0, 2000);
  } else {
    EXPECT_TRUE(run.exitCode == 1 || run.exitCode == 2) << run.exitCode << ": " << run.output.substr(0, 2000);
  }
}

class HostileInput : public ::testing::Test {
 protected:
  void SetUp() override {
    GenerateLedgerFile(database.File(), 12);
    before = LedgerDump(database.File());
  }
  void ExpectLedgerUnchanged(const std::string& what) {
    const auto now = LedgerDump(database.File());
    EXPECT_TRUE(now == before) << what << ":\n" << DescribeDifferences(before, now);
  }
  TemporaryDatabase database;
  std::map<std::string, std::string> before;
};

TEST_F(HostileInput, DescriptionsGiveAnErrorOrRunAndLeaveTheLedgerAlone) {
  for (const HostileDescription& hostile : HostileDescriptions(database.File())) {
    SCOPED_TRACE(hostile.name);
    CParse parser;
    try {
      parser.ParseString(hostile.text);
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), 457);
    }
    // A period no row belongs to: running the step changes nothing.
    Outcome outcome = Outcome::Runs;
    try {
      CCloseData closeData;
      closeData.SetEndBal(hostile.text, 1900, 1);
    } catch (const ComError& error) {
      outcome = Outcome::Error;
      EXPECT_FALSE(error.Description().empty());
    }
    EXPECT_EQ(outcome, hostile.outcome);
    ExpectLedgerUnchanged(hostile.name);
  }
}

TEST_F(HostileInput, DescriptionsOnTheCommandLineNeverCrashTheTool) {
  for (const HostileDescription& hostile : HostileDescriptions(database.File())) {
    if (!hostile.fitsACommandLine) continue;
    SCOPED_TRACE(hostile.name);
    ToolRun preview =
        RunTool({"close", "--dsn", hostile.text, "--year", "2011", "--period", "3", "--preview"});
    EXPECT_FALSE(preview.Crashed()) << preview.output;
    ExpectExit(preview, hostile.outcome);
    ToolRun call = RunTool({"call", "SetEndBal", "--dsn", hostile.text, "1900", "1"});
    EXPECT_FALSE(call.Crashed()) << call.output;
    ExpectExit(call, hostile.outcome);
    ExpectLedgerUnchanged(hostile.name);
  }
}

TEST_F(HostileInput, ExtremeYearsAndPeriodsGiveAnErrorOrChangeNothingInTheLibrary) {
  const std::string d = DescriptionFor(database.File());
  const std::vector<std::pair<std::int32_t, std::int32_t>> periods{
      {-1, 3},         {0, 0},     {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}, {INT_MAX, 12},
      {INT_MIN, 1},    {2011, -1}, {2011, 0},          {2011, 13},         {2011, 100},
      {2011, INT_MAX}, {99, 12},   {10000, 1},         {9999, 12},         {100, 1},
  };
  using Step = std::function<void(CCloseData&, std::int32_t, std::int32_t)>;
  // Steps that only read and write the period they are given: on a period without rows they change nothing.
  const std::vector<std::pair<std::string, Step>> steps{
      {"SetEndBal", [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.SetEndBal(d, y, p); }},
      {"SetBegBal", [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.SetBegBal(d, y, p, y, p); }},
      {"SetStandardData",
       [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.SetStandardData(d, y, p, y, p); }},
      {"SetCostDeputyData",
       [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.SetCostDeputyData(d, y, p, y, p); }},
      {"EndHistoryData archive",
       [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.EndHistoryData(d, y, p, true); }},
  };
  // Restoring a period discards the live rows of the periods after it, as reopening does, and archiving the
  // operation-cost tables empties their working tables whole (they hold the current period only): these
  // run in a transaction that is rolled back.
  const std::vector<std::pair<std::string, Step>> restores{
      {"EndOpCostHistoryData archive",
       [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.EndOpCostHistoryData(d, y, p, true); }},
      {"EndHistoryData restore",
       [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.EndHistoryData(d, y, p, false); }},
      {"EndOpCostHistoryData restore",
       [&](CCloseData& c, std::int32_t y, std::int32_t p) { c.EndOpCostHistoryData(d, y, p, false); }},
  };
  for (const auto& [year, period] : periods) {
    for (const auto& [name, step] : steps) {
      const std::string what = name + " " + std::to_string(year) + "/" + std::to_string(period);
      SCOPED_TRACE(what);
      try {
        CCloseData closeData;
        step(closeData, year, period);
      } catch (const ComError& error) {
        EXPECT_FALSE(error.Description().empty());
      }
      ExpectLedgerUnchanged(what);
    }
    for (const auto& [name, step] : restores) {
      const std::string what = name + " " + std::to_string(year) + "/" + std::to_string(period);
      SCOPED_TRACE(what);
      try {
        Transaction transaction;
        CCloseData closeData;
        step(closeData, year, period);
        transaction.Rollback();
      } catch (const ComError& error) {
        EXPECT_FALSE(error.Description().empty());
      }
      ExpectLedgerUnchanged(what);
    }
  }
}

TEST_F(HostileInput, ExtremeYearsAndPeriodsOnTheCommandLineAreRefusedAndChangeNothing) {
  const std::vector<std::pair<std::string, std::string>> periods{
      {"-1", "3"},         {"0", "0"},      {"-2147483648", "1"}, {"2147483647", "12"},
      {"2147483648", "3"}, {"2011", "-1"},  {"2011", "13"},       {"2011", "2147483647"},
      {"2011", "1e3"},     {"2011", "3.5"}, {"abc", "3"},         {"99999999999999999999", "3"},
      {"2011", ""},        {"10000", "1"},  {"2011", "0x0D"},
  };
  for (const auto& [year, period] : periods) {
    const std::string what = year + "/" + period;
    SCOPED_TRACE(what);
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"close", "--year", year, "--period", period},
             {"close", "--year", year, "--period", period, "--force", "--preview"},
             {"close", "--year", "2011", "--period", "3", "--next-year", year, "--next-period", period},
             {"reopen", "--year", year, "--period", period},
             {"reopen", "--year", year, "--period", period, "--force", "--preview"},
         }) {
      std::vector<std::string> all = arguments;
      all.insert(all.end(), {"--db", database.File()});
      ToolRun run = RunTool(all);
      EXPECT_FALSE(run.Crashed()) << run.output;
      // Usage errors (2) and refusals (3); never a close of a period the calendar does not know.
      EXPECT_TRUE(run.exitCode == 2 || run.exitCode == 3)
          << arguments[0] << " exit " << run.exitCode << ": " << run.output;
    }
    ExpectLedgerUnchanged(what);
  }
}

}  // namespace
}  // namespace closewright::testing

namespace closewright::testing {
namespace {

// Archiving empties the operation-cost working tables whole: forcing a close of a period they do not hold
// would delete the current period's rows without archiving them, so the close is refused instead.
TEST_F(HostileInput, AForcedCloseOrReopenThatWouldDeleteRowsUnkeptIsRefused) {
  for (const std::string period : {"5", "2"}) {
    ToolRun run =
        RunTool({"close", "--db", database.File(), "--year", "2011", "--period", period, "--force"});
    EXPECT_EQ(run.exitCode, 3) << run.output;
    EXPECT_NE(run.output.find("without archiving them"), std::string::npos) << run.output;
    ExpectLedgerUnchanged("forced close of 2011/" + period);
  }
  // Restoring deletes the live balances of every period: a forced reopen of a later period would take the
  // current period's rows with it.
  ToolRun reopen = RunTool({"reopen", "--db", database.File(), "--year", "2011", "--period", "5", "--force"});
  EXPECT_EQ(reopen.exitCode, 3) << reopen.output;
  EXPECT_NE(reopen.output.find("OPCostBalance holds"), std::string::npos) << reopen.output;
  ExpectLedgerUnchanged("forced reopen of 2011/5");
  ToolRun current = RunTool({"close", "--db", database.File(), "--year", "2011", "--period", "3", "--force"});
  EXPECT_EQ(current.exitCode, 0) << current.output;
}

}  // namespace
}  // namespace closewright::testing
