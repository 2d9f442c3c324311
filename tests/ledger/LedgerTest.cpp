#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ledger/LedgerSupport.h"
#include "outside/ComError.h"
#include "support/TestDatabase.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using ledger::LedgerOptions;
using ledger::TaskState;
using testing::QueryNumber;
using testing::QueryRows;
using testing::TemporaryDatabase;

// ---------------------------------------------------------------------------------------------------------
// The schema's text, read as SQL Server would: comments out, statements at CREATE.

struct Column {
  std::string name;
  std::string definition;  // everything after the name, upper-cased, blanks collapsed
};

struct SchemaText {
  std::vector<std::string> statements;
  std::map<std::string, std::vector<Column>> tables;
  std::vector<std::string> indexNames;
};

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

std::string Collapse(const std::string& text) {
  return std::regex_replace(std::regex_replace(text, std::regex(R"(\s+)"), " "), std::regex(R"(^ | $)"), "");
}

// Splits at commas outside parentheses.
std::vector<std::string> SplitTopLevel(const std::string& body) {
  std::vector<std::string> parts(1);
  int depth = 0;
  for (char c : body) {
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth == 0) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

SchemaText ReadSchema() {
  std::string text = ledger::ReferenceSchema();
  text = std::regex_replace(text, std::regex("--[^\n]*"), "");
  SchemaText schema;
  const std::regex start(R"(CREATE\s+(UNIQUE\s+)?(TABLE|INDEX)\s)");
  std::vector<std::size_t> starts;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), start); it != std::sregex_iterator(); ++it) {
    starts.push_back(static_cast<std::size_t>(it->position()));
  }
  starts.push_back(text.size());
  EXPECT_EQ(Collapse(text.substr(0, starts.front())), "") << "text before the first statement";
  for (std::size_t i = 0; i + 1 < starts.size(); ++i) {
    const std::string statement = Collapse(text.substr(starts[i], starts[i + 1] - starts[i]));
    schema.statements.push_back(statement);
    std::smatch match;
    if (std::regex_match(statement, match, std::regex(R"(CREATE TABLE (\w+) \((.*)\))"))) {
      std::vector<Column>& columns = schema.tables[match[1].str()];
      for (const std::string& part : SplitTopLevel(match[2].str())) {
        const std::string column = Collapse(part);
        const std::size_t blank = column.find(' ');
        columns.push_back({column.substr(0, blank), Upper(column.substr(blank + 1))});
      }
    } else if (std::regex_match(statement, match,
                                std::regex(R"(CREATE (UNIQUE )?INDEX (\w+) ON (\w+) \(([\w, ]+)\))"))) {
      schema.indexNames.push_back(Upper(match[2].str()));
    } else {
      ADD_FAILURE() << "not a plain CREATE TABLE or CREATE INDEX: " << statement;
    }
  }
  return schema;
}

TEST(ReferenceSchema, IsOneBatchOfPlainCreateStatementsInSqlServerTypes) {
  const std::string raw = ledger::ReferenceSchema();
  EXPECT_FALSE(std::regex_search(raw, std::regex(R"((^|\n)\s*GO\s*(\r?\n|$))", std::regex::icase)))
      << "a GO line is a client-tool separator, not T-SQL";
  EXPECT_EQ(std::regex_replace(raw, std::regex("--[^\n]*"), "").find(';'), std::string::npos);

  const SchemaText schema = ReadSchema();
  // A column is a type SQL Server knows, then only identity, nullability, a default, a primary key and a
  // foreign key.
  const std::regex column(
      R"((INT|SMALLINT|DECIMAL\(28,10\)|NUMERIC|MONEY|FLOAT|VARCHAR\(\d+\)|NVARCHAR\(\d+\)|DATETIME|BIT))"
      R"(( IDENTITY\(1,1\))?( NOT NULL| NULL)?( DEFAULT\((-?\d+|'[^']*')\))?( PRIMARY KEY)?)"
      R"(( REFERENCES \w+ \(\w+\)( ON DELETE CASCADE)?)?)");
  for (const auto& [table, columns] : schema.tables) {
    std::set<std::string> names;
    for (const Column& c : columns) {
      EXPECT_TRUE(std::regex_match(c.definition, column)) << table << "." << c.name << ": " << c.definition;
      EXPECT_TRUE(names.insert(Upper(c.name)).second) << table << "." << c.name << " twice";
    }
  }
  // Index names are kept unique across the database, as some engines require, not only per table.
  std::set<std::string> indexNames(schema.indexNames.begin(), schema.indexNames.end());
  EXPECT_EQ(indexNames.size(), schema.indexNames.size());
  EXPECT_EQ(ledger::SchemaTableNames().size(), schema.tables.size());
}

TEST(ReferenceSchema, HistoryTwinsHaveTheirLiveTablesColumnsAndPlainKeys) {
  const SchemaText schema = ReadSchema();
  int twins = 0;
  for (const auto& [table, columns] : schema.tables) {
    const std::string suffix = "_History";
    if (table.size() <= suffix.size() ||
        table.compare(table.size() - suffix.size(), suffix.size(), suffix) != 0) {
      continue;
    }
    ++twins;
    const std::string liveName = table.substr(0, table.size() - suffix.size());
    ASSERT_TRUE(schema.tables.count(liveName)) << table;
    const std::vector<Column>& live = schema.tables.at(liveName);
    ASSERT_EQ(live.size(), columns.size()) << table;
    for (std::size_t i = 0; i < live.size(); ++i) {
      EXPECT_EQ(live[i].name, columns[i].name) << table;
      if (live[i].name == "FID") {
        EXPECT_EQ(live[i].definition, "INT IDENTITY(1,1) NOT NULL PRIMARY KEY") << liveName;
        EXPECT_EQ(columns[i].definition, "INT NOT NULL PRIMARY KEY") << table;
      } else {
        EXPECT_EQ(live[i].definition, columns[i].definition) << table << "." << live[i].name;
      }
    }
  }
  EXPECT_EQ(twins, 9);
  // Bills get their ids from the id counter and are inserted with them, so the table must not generate ids.
  EXPECT_EQ(schema.tables.at("OPCostStandardData").front().definition, "INT NOT NULL PRIMARY KEY");
}

TEST(ReferenceSchema, LoadsAsOneBatchOnTheEmbeddedProvider) {
  TemporaryDatabase db;
  ledger::CreateSchema(db.ConnectString());
  const std::vector<ledger::TableCount> counts = ledger::CountLedgerRows(db.ConnectString());
  EXPECT_EQ(counts.size(), ledger::SchemaTableNames().size());
  EXPECT_GE(counts.size(), 34u);
  for (const ledger::TableCount& count : counts) EXPECT_EQ(count.rows, 0) << count.table;
  // The spellings the close uses for the same tables.
  EXPECT_EQ(QueryNumber(db.ConnectString(), "SELECT COUNT(*) FROM icmo"), 0);
  EXPECT_EQ(QueryNumber(db.ConnectString(), "SELECT COUNT(*) FROM OPCostCalinfo"), 0);
  // A second load fails as a whole: the tables exist.
  EXPECT_THROW(ledger::CreateSchema(db.ConnectString()), ComError);
}

// ---------------------------------------------------------------------------------------------------------
// The generated ledger.

LedgerOptions SmallLedger(std::uint64_t seed = 7) {
  LedgerOptions options;
  options.tasks = 60;
  options.seed = seed;
  return options;
}

ledger::LedgerSummary MakeLedger(const TemporaryDatabase& db, const LedgerOptions& options) {
  ledger::CreateSchema(db.ConnectString());
  return ledger::GenerateLedger(db.ConnectString(), options);
}

std::string Dump(const std::string& connectString) {
  std::ostringstream text;
  for (const std::string& table : ledger::SchemaTableNames()) {
    text << table << "\n";
    for (const auto& row : QueryRows(connectString, "SELECT * FROM " + table)) {
      for (const std::string& value : row) text << value << "|";
      text << "\n";
    }
  }
  return text.str();
}

TEST(LedgerGenerator, SameSeedGivesTheSameLedgerAndAnotherSeedAnother) {
  TemporaryDatabase first, second, third;
  const ledger::LedgerSummary a = MakeLedger(first, SmallLedger(7));
  const ledger::LedgerSummary b = MakeLedger(second, SmallLedger(7));
  const ledger::LedgerSummary c = MakeLedger(third, SmallLedger(8));
  EXPECT_EQ(a.checksum, b.checksum);
  EXPECT_NE(a.checksum, c.checksum);
  EXPECT_EQ(Dump(first.ConnectString()), Dump(second.ConnectString()));
  EXPECT_NE(Dump(first.ConnectString()), Dump(third.ConnectString()));

  // What the generator says it wrote is what the tables hold.
  const std::vector<ledger::TableCount> counted = ledger::CountLedgerRows(first.ConnectString());
  ASSERT_EQ(counted.size(), a.tables.size());
  for (std::size_t i = 0; i < counted.size(); ++i) {
    EXPECT_EQ(counted[i].table, a.tables[i].table);
    EXPECT_EQ(counted[i].rows, a.tables[i].rows) << counted[i].table;
    // Every table holds rows except the close driver's log: no close has run yet.
    if (counted[i].table != "t_CloseLog") {
      EXPECT_GT(counted[i].rows, 0) << counted[i].table;
    }
  }
}

// The benchmark's ledgers, and any ledger a user made before, must stay what they were when the generator is
// made faster or leaner: the checksums below were taken before it was, over every row's values in order.
// The second ledger reaches back into the previous year.
TEST(LedgerGenerator, KeepsTheLedgerOfEachSeedFromOneVersionToTheNext) {
  struct Expected {
    LedgerOptions options;
    std::uint64_t checksum;
    std::int64_t rows;
  };
  const std::vector<Expected> cases = {{{200, 1, 2011, 3}, 1517398795436466125ULL, 7411},
                                       {{200, 2, 2011, 1}, 10917418809456223389ULL, 7633}};
  for (const Expected& expected : cases) {
    TemporaryDatabase db;
    const ledger::LedgerSummary summary = MakeLedger(db, expected.options);
    EXPECT_EQ(summary.checksum, expected.checksum) << "seed " << expected.options.seed;
    EXPECT_EQ(summary.TotalRows(), expected.rows) << "seed " << expected.options.seed;
    std::int64_t counted = 0;
    for (const ledger::TableCount& count : ledger::CountLedgerRows(db.ConnectString())) counted += count.rows;
    EXPECT_EQ(counted, expected.rows) << "seed " << expected.options.seed;
  }
}

TEST(LedgerGenerator, HoldsEveryTaskStateTheCloseTellsApart) {
  TemporaryDatabase db;
  const LedgerOptions options = SmallLedger();
  MakeLedger(db, options);
  const std::string cs = db.ConnectString();
  const auto task = [&](TaskState state) {
    const std::int32_t id = ledger::FirstTaskInState(options, state);
    EXPECT_NE(id, 0);
    EXPECT_EQ(ledger::StateOfTask(options, id), state);
    const auto rows =
        QueryRows(cs,
                  "SELECT FStatus, FClosed, FCancellation, "
                  "CASE WHEN FCloseDate IS NULL THEN 'none' WHEN FCloseDate < '2011-03-01' THEN 'before' "
                  "WHEN FCloseDate < '2011-04-01' THEN 'within' ELSE 'after' END "
                  "FROM ICMO WHERE FInterID = " +
                      std::to_string(id));
    EXPECT_EQ(rows.size(), 1u);
    return rows.empty() ? std::vector<std::string>{} : rows[0];
  };
  const auto sumOf = [&](const std::string& expression, const std::string& table, TaskState state) {
    return QueryNumber(
        cs, "SELECT COUNT(*) FROM " + table + " WHERE FYearPeriod = '2011.03' AND FICMOInterID = " +
                std::to_string(ledger::FirstTaskInState(options, state)) + " AND " + expression);
  };

  const auto open = task(TaskState::Open);
  EXPECT_NE(open[0], "3");
  EXPECT_EQ(open[3], "none");
  EXPECT_GT(sumOf("FWIPQty > 0", "OPCostWIPCheck", TaskState::Open), 0);

  EXPECT_EQ(task(TaskState::ClosedWithRemainder), (std::vector<std::string>{"3", "0", "0", "within"}));
  EXPECT_GT(sumOf("FWIPQty + FNotStockQty <> 0", "OPCostWIPCheck", TaskState::ClosedWithRemainder), 0);

  EXPECT_EQ(task(TaskState::ClosedWithoutRemainder), (std::vector<std::string>{"3", "0", "0", "within"}));
  EXPECT_EQ(sumOf("FWIPQty + FNotStockQty <> 0", "OPCostWIPCheck", TaskState::ClosedWithoutRemainder), 0);
  EXPECT_EQ(sumOf("FOnlineAmount <> 0", "OPCostCalInfo", TaskState::ClosedWithoutRemainder), 0);
  // The first such task closes on the period's last day.
  EXPECT_EQ(QueryNumber(
                cs, "SELECT COUNT(*) FROM ICMO WHERE FInterID = " +
                        std::to_string(ledger::FirstTaskInState(options, TaskState::ClosedWithoutRemainder)) +
                        " AND FCloseDate >= '2011-03-31' AND FCloseDate < '2011-04-01'"),
            1);

  EXPECT_EQ(task(TaskState::ClosedAmountsCancel), (std::vector<std::string>{"3", "0", "0", "within"}));
  EXPECT_EQ(sumOf("FOnlineAmount <> 0", "OPCostCalInfo", TaskState::ClosedAmountsCancel), 3);
  EXPECT_EQ(task(TaskState::ClosedByHand), (std::vector<std::string>{"3", "1", "0", "within"}));

  EXPECT_EQ(task(TaskState::ClosedAfterPeriodEnd), (std::vector<std::string>{"3", "0", "0", "after"}));
  EXPECT_EQ(
      QueryNumber(cs, "SELECT COUNT(*) FROM ICMO WHERE FInterID = " +
                          std::to_string(ledger::FirstTaskInState(options, TaskState::ClosedAfterPeriodEnd)) +
                          " AND FCloseDate >= '2011-04-01' AND FCloseDate < '2011-04-02'"),
      1)
      << "the first such task closes exactly on the day after the period end";

  EXPECT_EQ(task(TaskState::Cancelled)[2], "1");
  EXPECT_GT(sumOf("FWIPQty > 0", "OPCostWIPCheck", TaskState::Cancelled), 0);

  EXPECT_EQ(task(TaskState::ClosedEarlier), (std::vector<std::string>{"3", "0", "0", "before"}));
  EXPECT_EQ(sumOf("1 = 1", "OPCostCalInfo", TaskState::ClosedEarlier), 0);

  EXPECT_EQ(
      QueryRows(
          cs,
          "SELECT FKey, FValue FROM t_SystemProfile WHERE FCategory = 'OPCost' AND FKey LIKE 'Current%' "
          "ORDER BY FKey"),
      (std::vector<std::vector<std::string>>{{"CurrentPeriod", "3"}, {"CurrentYear", "2011"}}));
}

TEST(LedgerGenerator, NumbersRowsAsTheCloseAndTheArchiveLeftThem) {
  TemporaryDatabase db;
  MakeLedger(db, SmallLedger());
  const std::string cs = db.ConnectString();
  // Tables that keep FID across the archive: live rows lie above every archived one.
  for (const std::string table : {"OPCostBalance", "OPCostObjDetail"}) {
    EXPECT_GT(QueryNumber(cs, "SELECT MIN(FID) FROM " + table),
              QueryNumber(cs, "SELECT MAX(FID) FROM " + table + "_History"))
        << table;
  }
  // Renumbered tables: the live table starts again at 1 each period.
  EXPECT_EQ(QueryNumber(cs, "SELECT MIN(FID) FROM OPCostCalInfo"), 1);
  // Live history periods are gone from the live tables, and the open period is not archived.
  EXPECT_EQ(QueryNumber(cs, "SELECT COUNT(*) FROM OPCostCalInfo WHERE FYearPeriod <> '2011.03'"), 0);
  EXPECT_EQ(QueryNumber(cs, "SELECT COUNT(*) FROM OPCostCalInfo_History WHERE FYearPeriod = '2011.03'"), 0);
  EXPECT_EQ(QueryNumber(cs, "SELECT COUNT(DISTINCT FYearPeriod) FROM OPCostBalance_History"), 2);
  // The id counter of the bills is at the highest bill id.
  EXPECT_EQ(QueryNumber(cs, "SELECT FMaxNum FROM ICMaxNum WHERE FTableName = 'OPCostStandardData'"),
            QueryNumber(cs, "SELECT MAX(FID) FROM OPCostStandardData"));

  // The identity goes on above the generated rows.
  const long long before = QueryNumber(cs, "SELECT MAX(FID) FROM OPCostBalance");
  testing::ExecuteInOneTransaction(
      cs, {"INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FTypeID) VALUES ('2011.03',2011,3,1)"});
  EXPECT_EQ(QueryNumber(cs, "SELECT MAX(FID) FROM OPCostBalance"), before + 1);
}

TEST(LedgerGenerator, RefusesBadOptionsBeforeWritingAnything) {
  TemporaryDatabase db;
  ledger::CreateSchema(db.ConnectString());
  LedgerOptions options = SmallLedger();
  options.period = 13;
  EXPECT_THROW(ledger::GenerateLedger(db.ConnectString(), options), ComError);
  options.period = 3;
  options.tasks = -1;
  EXPECT_THROW(ledger::GenerateLedger(db.ConnectString(), options), ComError);
  for (const ledger::TableCount& count : ledger::CountLedgerRows(db.ConnectString()))
    EXPECT_EQ(count.rows, 0);
}

TEST(LedgerGenerator, FailureLeavesNothingBehind) {
  TemporaryDatabase db;
  MakeLedger(db, SmallLedger());
  // A second generation into the filled ledger collides with its keys and must leave it as it was.
  const std::string before = Dump(db.ConnectString());
  EXPECT_THROW(ledger::GenerateLedger(db.ConnectString(), SmallLedger(9)), ComError);
  EXPECT_EQ(Dump(db.ConnectString()), before);
}

TEST(LedgerGenerator, PeriodOneReachesBackIntoThePreviousYear) {
  TemporaryDatabase db;
  LedgerOptions options = SmallLedger();
  options.year = 2012;
  options.period = 1;
  MakeLedger(db, options);
  EXPECT_EQ(QueryRows(db.ConnectString(),
                      "SELECT DISTINCT FYearPeriod FROM OPCostCalInfo_History ORDER BY FYearPeriod"),
            (std::vector<std::vector<std::string>>{{"2011.11"}, {"2011.12"}}));
}

// ---------------------------------------------------------------------------------------------------------
// The command line.

int RunTool(const std::string& arguments) {
  const std::string command = std::string(CLOSEWRIGHT_TOOL) + " " + arguments + " > /dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InitCommand, CreatesALedgerAndReplacesOneOnlyWhenForced) {
  if (std::string(CLOSEWRIGHT_TOOL).empty() || !std::filesystem::exists(CLOSEWRIGHT_TOOL)) {
    GTEST_SKIP() << "the command-line tool is not built";
  }
  TemporaryDatabase db;
  ASSERT_EQ(RunTool("init --db " + db.File() + " --tasks 20 --seed 3"), 0);
  const long long tasks = QueryNumber(db.ConnectString(), "SELECT COUNT(*) FROM ICMO");
  EXPECT_EQ(tasks, 20);

  EXPECT_NE(RunTool("init --db " + db.File() + " --tasks 5"), 0);
  EXPECT_EQ(QueryNumber(db.ConnectString(), "SELECT COUNT(*) FROM ICMO"), 20) << "refused without --force";

  ASSERT_EQ(RunTool("init --db " + db.File() + " --tasks 0 --force"), 0);
  EXPECT_EQ(QueryNumber(db.ConnectString(), "SELECT COUNT(*) FROM ICMO"), 0);
  EXPECT_FALSE(std::filesystem::exists(db.File() + ".partial"));

  EXPECT_NE(RunTool("init --db " + db.File() + " --tasks 5 --period 13 --force"), 0);
  EXPECT_EQ(QueryNumber(db.ConnectString(), "SELECT COUNT(*) FROM OPCostBalance"), 0) << "left as it was";
}

}  // namespace
}  // namespace closewright
