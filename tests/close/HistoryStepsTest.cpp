#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "close/CCloseData.h"
#include "close/OpCostHistoryGuard.h"
#include "ledger/LedgerSupport.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "support/GoldenTexts.h"
#include "support/TestDatabase.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

// The tables the history steps move, with the columns they copy besides FID.
struct TablePair {
  std::string_view live;
  std::string_view columns;
  bool keptFid;
};

constexpr std::array<TablePair, 9> kTables{{
    {"OPCostMaterielInfo",
     "FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,"
     "FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount",
     false},
    {"OPCostExpenseDistributeInfo",
     "FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,"
     "FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount",
     false},
    {"OPCostBalance",
     "FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,"
     "FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod",
     true},
    {"OPCostObjDetail",
     "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,"
     "FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID",
     true},
    {"OPCostCalInfo",
     "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,"
     "FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel",
     false},
    {"OPCostCalInfoDetail",
     "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,"
     "FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel",
     false},
    {"OPCostProductCalInfo",
     "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,"
     "FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID",
     false},
    {"OPCostWIPCheck",
     "FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,"
     "FISImport,FScrapQty,FOutAfterScrQty",
     false},
    {"OPCostWNCalInfo",
     "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice",
     false},
}};

const TablePair& Table(std::string_view live) {
  for (const TablePair& pair : kTables) {
    if (pair.live == live) return pair;
  }
  throw std::invalid_argument(std::string(live));
}

std::vector<std::string> SplitColumns(std::string_view columns) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start <= columns.size();) {
    std::size_t end = columns.find(',', start);
    if (end == std::string_view::npos) end = columns.size();
    names.emplace_back(columns.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool IsTextColumn(std::string_view column) {
  return column == "FYearPeriod" || column == "FBatchNo";
}

class HistoryStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dsn_ = database_.Description();
    ledger::CreateSchema(database_.ConnectString());
    ForgetSent();
  }

  void TearDown() override { SetDiagnosticsSink(nullptr); }

  // Sets the database up through the component's own pass-through, as a host would; what it sends is not
  // part of what the tests look at.
  void Run(const std::string& sql) {
    const std::size_t sent = recorder_.texts.size();
    CCloseData().ExecuteSQL(dsn_, sql);
    recorder_.texts.resize(sent);
    recorder_.votes.pop_back();
  }

  std::vector<std::vector<std::string>> Query(const std::string& sql) {
    return testing::QueryRows(database_.ConnectString(), sql);
  }

  long long Number(const std::string& sql) { return testing::QueryNumber(database_.ConnectString(), sql); }

  std::vector<std::string> Sent() const { return recorder_.ExecutedStatements(); }
  // What tests/golden holds for a call; with CLOSEWRIGHT_UPDATE_GOLDEN=1, what the call just sent.
  std::vector<std::string> Golden(const std::string& name) const {
    return testing::GoldenTexts(name, Sent());
  }

  // The query read on the call's connection before its first batch; empty when there was none or more.
  std::string CheckBeforeBatches() const {
    std::vector<const testing::SentText*> read;
    std::int32_t batchConnection = 0;
    for (const testing::SentText& each : recorder_.texts) {
      if (each.operation == "Recordset.Open") read.push_back(&each);
      if (each.operation == "Execute" && !each.text.starts_with("SET TRANSACTION")) {
        if (read.empty()) return {};
        if (batchConnection == 0) batchConnection = each.connection;
      }
    }
    if (read.size() != 1u) return {};
    if (batchConnection != 0 && read[0]->connection != batchConnection) return {};
    return read[0]->text;
  }

  std::vector<std::int32_t> SentConnections() const {
    std::vector<std::int32_t> connections;
    for (const testing::SentText& each : recorder_.texts) {
      if (each.operation == "Execute" && !each.text.starts_with("SET TRANSACTION")) {
        connections.push_back(each.connection);
      }
    }
    return connections;
  }

  void ForgetSent() {
    recorder_.texts.clear();
    recorder_.votes.clear();
  }

  std::vector<long long> Fids(const std::string& table) {
    std::vector<long long> fids;
    for (const auto& row : Query("SELECT FID FROM " + table + " ORDER BY FID"))
      fids.push_back(std::stoll(row.at(0)));
    return fids;
  }

  // Every column of every row, FID first unless left out, sorted so that row order does not count.
  std::vector<std::vector<std::string>> Rows(const std::string& table, bool withFid = true) {
    const TablePair& pair = Table(table.substr(0, table.find("_History")));
    auto rows =
        Query("SELECT " + std::string(withFid ? "FID," : "") + std::string(pair.columns) + " FROM " + table);
    std::sort(rows.begin(), rows.end());
    return rows;
  }

  // Inserts rows of one period into a live table (FID from its identity) or, with `fids`, with those FIDs;
  // FYear and FPeriod agree with the key, every other column gets its own value so that a column copied
  // into the wrong place shows.
  void AddRows(const std::string& table, std::string_view yearPeriod, std::int32_t count,
               const std::vector<std::int32_t>& fids = {}) {
    const TablePair& pair = Table(table.substr(0, table.find("_History")));
    const std::vector<std::string> columns = SplitColumns(pair.columns);
    std::string sql;
    for (std::int32_t row = 0; row < count; ++row) {
      ++serial_;
      std::string names = fids.empty() ? "" : "FID,";
      std::string values = fids.empty() ? "" : std::to_string(fids.at(static_cast<std::size_t>(row))) + ",";
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const char* separator = i + 1 < columns.size() ? "," : "";
        names += columns[i] + separator;
        if (columns[i] == "FYearPeriod") {
          // Appended: GCC 12 warns falsely (-Wrestrict, GCC bug 105329) about "'" + std::string.
          values += '\'';
          values += yearPeriod;
          values += '\'';
        } else if (columns[i] == "FYear") {
          values += std::string(yearPeriod.substr(0, yearPeriod.find('.')));
        } else if (columns[i] == "FPeriod") {
          values += std::to_string(std::stoi(std::string(yearPeriod.substr(yearPeriod.find('.') + 1))));
        } else if (IsTextColumn(columns[i])) {
          values += "'B" + std::to_string(serial_) + "'";
        } else {
          values += std::to_string(serial_ * 100 + static_cast<std::int32_t>(i));
        }
        values += separator;
      }
      sql += "INSERT INTO " + table + "(" + names + ") VALUES (" + values + ")\r\n";
    }
    if (!fids.empty() && table.find("_History") == std::string::npos) {
      sql = "SET IDENTITY_INSERT " + table + " ON\r\n" + sql + "SET IDENTITY_INSERT " + table + " OFF\r\n";
    }
    Run(sql);
  }

  testing::TemporaryDatabase database_;
  testing::Recorder recorder_;
  std::string dsn_;
  std::int32_t serial_ = 0;
};

using Fid = std::vector<long long>;
using Votes = std::vector<std::string>;

TEST_F(HistoryStepsTest, DistributionScriptsGoOutExactlyInOneExecuteEach) {
  CCloseData close;
  EXPECT_FALSE(close.EndMatDistributeData(dsn_, 2011, 3, true));
  EXPECT_FALSE(close.EndMatDistributeData(dsn_, 2011, 3, false));
  EXPECT_FALSE(close.EndExpDistributeData(dsn_, 2011, 3, true));
  EXPECT_FALSE(close.EndExpDistributeData(dsn_, 2011, 3, false));
  const std::vector<std::string> archive = testing::GoldenTexts("EndHistoryData-archive-2011.03.txt");
  const std::vector<std::string> restore = testing::GoldenTexts("EndHistoryData-restore-2011.03.txt");
  ASSERT_EQ(archive.size(), 2u);
  ASSERT_EQ(restore.size(), 2u);
  EXPECT_EQ(Sent(), (std::vector<std::string>{archive[0], restore[0], archive[1], restore[1]}));
  EXPECT_EQ(recorder_.votes, Votes(4, "SetComplete"));
}

TEST_F(HistoryStepsTest, EndHistoryDataRunsMaterialThenExpenseEachOnItsOwnConnection) {
  EXPECT_FALSE(CCloseData().EndHistoryData(dsn_, 2011, 3, true));
  EXPECT_EQ(Sent(), Golden("EndHistoryData-archive-2011.03.txt"));
  const std::vector<std::int32_t> connections = SentConnections();
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_NE(connections[0], connections[1]);
  // Each sub-object votes, then the driver.
  EXPECT_EQ(recorder_.votes, Votes(3, "SetComplete"));

  ForgetSent();
  EXPECT_FALSE(CCloseData().EndHistoryData(dsn_, 2011, 3, false));
  EXPECT_EQ(Sent(), Golden("EndHistoryData-restore-2011.03.txt"));
}

TEST_F(HistoryStepsTest, OperationCostBatchesGoOutExactlySevenEachWayOnOneConnection) {
  CCloseData close;
  close.EndOpCostHistoryData(dsn_, 2011, 3, true);
  EXPECT_EQ(Sent(), Golden("EndOpCostHistoryData-archive-2011.03.txt"));
  EXPECT_EQ(CheckBeforeBatches(), RowsOutsidePeriodQuery(2011, 3, true));
  const std::vector<std::int32_t> connections = SentConnections();
  EXPECT_EQ(std::set<std::int32_t>(connections.begin(), connections.end()).size(), 1u);

  ForgetSent();
  close.EndOpCostHistoryData(dsn_, 2011, 3, false);
  EXPECT_EQ(Sent(), Golden("EndOpCostHistoryData-restore-2011.03.txt"));
  EXPECT_EQ(CheckBeforeBatches(), RowsOutsidePeriodQuery(2011, 3, false));
  EXPECT_EQ(recorder_.votes, Votes{"SetComplete"});
}

TEST_F(HistoryStepsTest, OperationCostCallThatWouldLoseRowsIsRefusedBeforeAnyBatch) {
  AddRows("OPCostBalance", "2011.03", 1);
  AddRows("OPCostCalInfo", "2011.03", 2);
  AddRows("OPCostWIPCheck", "2011.03", 1);
  AddRows("OPCostWIPCheck", "2011.02", 1);  // a stray row the truncation would take with it
  const auto snapshot = [&] {
    std::vector<std::vector<std::vector<std::string>>> all;
    for (const TablePair& pair : kTables) {
      all.push_back(Rows(std::string(pair.live)));
      all.push_back(Rows(std::string(pair.live) + "_History"));
    }
    return all;
  };
  const auto refusal = [&](bool bEnd) {
    ForgetSent();
    const ComError error =
        testing::CaughtError([&] { CCloseData().EndOpCostHistoryData(dsn_, 2011, 3, bEnd); });
    EXPECT_EQ(error.Number(), -2147205049);
    EXPECT_EQ(error.Source(), "Calcory.CCloseData.EndOpCostHistoryData\r\nCCloseData.EndOpCostHistoryData");
    // The check went out, then nothing: no batch, and the frame voted to abort.
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(CheckBeforeBatches(), RowsOutsidePeriodQuery(2011, 3, bEnd));
    EXPECT_EQ(recorder_.votes, Votes{"SetAbort"});
    return error.Description();
  };
  const auto before = snapshot();
  EXPECT_EQ(refusal(true),
            "OPCostWIPCheck holds 1 row of periods other than 2011.03; archiving 2011.03 would delete them "
            "without archiving them.");
  EXPECT_EQ(snapshot(), before);

  // Restoring deletes the live rows of every period: those of the period itself and earlier ones would be
  // lost, those of later periods are what undoing the close discards.
  Run("DELETE FROM OPCostWIPCheck WHERE FYearPeriod='2011.02'");
  AddRows("OPCostBalance", "2010.12", 2);
  AddRows("OPCostBalance", "2011.04", 1);
  AddRows("OPCostObjDetail", "2011.10", 1);
  const auto live = snapshot();
  EXPECT_EQ(refusal(false),
            "OPCostBalance holds 3 rows, OPCostCalInfo holds 2 rows and OPCostWIPCheck holds 1 row of period "
            "2011.03 or earlier; restoring 2011.03 would delete them without keeping them anywhere.");
  EXPECT_EQ(snapshot(), live);

  // Once only later periods are left, the restore goes ahead and discards them.
  Run("DELETE FROM OPCostBalance WHERE FYear*100+FPeriod<=201103\r\nTRUNCATE TABLE OPCostCalInfo\r\n"
      "TRUNCATE TABLE OPCostWIPCheck");
  ForgetSent();
  CCloseData().EndOpCostHistoryData(dsn_, 2011, 3, false);
  EXPECT_EQ(recorder_.votes, Votes{"SetComplete"});
  EXPECT_TRUE(Fids("OPCostBalance").empty());
  EXPECT_TRUE(Fids("OPCostObjDetail").empty());
}

TEST_F(HistoryStepsTest, IdentitySeedBatchGoesOutExactly) {
  CCloseData().AlterIdentitySeed(dsn_);
  EXPECT_EQ(Sent(), Golden("AlterIdentitySeed.txt"));
  EXPECT_EQ(recorder_.votes, Votes{"SetComplete"});
}

TEST_F(HistoryStepsTest, DistributionArchiveNumbersHistoryAboveWhatItHolds) {
  AddRows("OPCostMaterielInfo", "2011.03", 3);
  AddRows("OPCostMaterielInfo", "2011.04", 1);
  CCloseData().EndMatDistributeData(dsn_, 2011, 3, true);
  // Empty history: live FID + 1. Only the period's rows leave the live table.
  EXPECT_EQ(Fids("OPCostMaterielInfo_History"), (Fid{2, 3, 4}));
  EXPECT_EQ(Fids("OPCostMaterielInfo"), (Fid{4}));

  AddRows("OPCostMaterielInfo", "2011.05", 2);  // live FIDs 5 and 6
  CCloseData().EndMatDistributeData(dsn_, 2011, 5, true);
  // History up to 4: live FID + 4 + 1.
  EXPECT_EQ(Fids("OPCostMaterielInfo_History"), (Fid{2, 3, 4, 10, 11}));

  AddRows("OPCostExpenseDistributeInfo_History", "2010.12", 1, {7});
  AddRows("OPCostExpenseDistributeInfo", "2011.03", 2);
  CCloseData().EndExpDistributeData(dsn_, 2011, 3, true);
  EXPECT_EQ(Fids("OPCostExpenseDistributeInfo_History"), (Fid{7, 9, 10}));
  EXPECT_TRUE(Fids("OPCostExpenseDistributeInfo").empty());
}

TEST_F(HistoryStepsTest, DistributionRestorePutsRowsBesideThoseAlreadyLive) {
  AddRows("OPCostMaterielInfo", "2011.03", 2);
  const auto closed = Rows("OPCostMaterielInfo", false);
  CCloseData().EndMatDistributeData(dsn_, 2011, 3, true);
  AddRows("OPCostMaterielInfo", "2011.03", 1);  // live FID 3, entered after the close
  const auto enteredLater = Rows("OPCostMaterielInfo", false);

  EXPECT_FALSE(CCloseData().EndMatDistributeData(dsn_, 2011, 3, false));
  EXPECT_EQ(Fids("OPCostMaterielInfo"), (Fid{3, 4, 5}));
  EXPECT_TRUE(Fids("OPCostMaterielInfo_History").empty());
  auto expected = closed;
  expected.insert(expected.end(), enteredLater.begin(), enteredLater.end());
  std::sort(expected.begin(), expected.end());
  const auto live = Rows("OPCostMaterielInfo", false);
  EXPECT_EQ(live, expected);

  // A period the history does not hold changes nothing.
  CCloseData().EndMatDistributeData(dsn_, 2011, 7, false);
  EXPECT_EQ(Rows("OPCostMaterielInfo", false), live);
}

TEST_F(HistoryStepsTest, EndHistoryDataStopsAtAFailingMaterialCallBeforeTheExpenseCall) {
  AddRows("OPCostMaterielInfo", "2011.03", 1);
  AddRows("OPCostExpenseDistributeInfo", "2011.03", 1);
  Run("DROP TABLE OPCostMaterielInfo_History");
  EXPECT_THROW(CCloseData().EndHistoryData(dsn_, 2011, 3, true), ComError);
  const std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], testing::GoldenTexts("EndHistoryData-archive-2011.03.txt").at(0));
  EXPECT_TRUE(recorder_.votes.empty());
  EXPECT_EQ(Fids("OPCostExpenseDistributeInfo"), (Fid{1}));
  EXPECT_EQ(Fids("OPCostMaterielInfo"), (Fid{1}));
}

TEST_F(HistoryStepsTest, EndHistoryDataRollsBackTheMaterialRowsWhenTheExpenseCallFails) {
  AddRows("OPCostMaterielInfo", "2011.03", 2);
  Run("DROP TABLE OPCostExpenseDistributeInfo_History");
  const auto before = Rows("OPCostMaterielInfo");
  try {
    CCloseData().EndHistoryData(dsn_, 2011, 3, true);
    FAIL() << "the expense call should have failed";
  } catch (const ComError& error) {
    // The sub-call's error reaches the caller as it was raised.
    EXPECT_EQ(error.Number(), error_number::kCommandFailed);
    EXPECT_NE(error.Description().find("OPCostExpenseDistributeInfo_History"), std::string::npos);
  }
  EXPECT_EQ(Sent().size(), 2u);
  EXPECT_EQ(recorder_.votes, Votes{"SetComplete"});  // the material sub-object's alone
  EXPECT_EQ(Rows("OPCostMaterielInfo"), before);
  EXPECT_TRUE(Fids("OPCostMaterielInfo_History").empty());
}

TEST_F(HistoryStepsTest, OperationCostArchiveKeepsOrRenumbersFidsByTable) {
  AddRows("OPCostBalance", "2011.03", 2);
  AddRows("OPCostBalance", "2011.04", 1);  // the next period's openings
  AddRows("OPCostObjDetail", "2011.03", 1);
  AddRows("OPCostCalInfo", "2011.03", 2);
  AddRows("OPCostWIPCheck", "2011.03", 2);
  AddRows("OPCostWIPCheck_History", "2011.01", 1, {40});

  CCloseData().EndOpCostHistoryData(dsn_, 2011, 3, true);

  EXPECT_EQ(Fids("OPCostBalance_History"), (Fid{1, 2}));
  EXPECT_EQ(Fids("OPCostBalance"), (Fid{3}));
  EXPECT_EQ(Fids("OPCostObjDetail_History"), (Fid{1}));
  EXPECT_TRUE(Fids("OPCostObjDetail").empty());
  // Empty history: the live FID itself. History up to 40: live FID + 41.
  EXPECT_EQ(Fids("OPCostCalInfo_History"), (Fid{1, 2}));
  EXPECT_EQ(Fids("OPCostWIPCheck_History"), (Fid{40, 42, 43}));
  for (const char* renumbered : {"OPCostCalInfo", "OPCostCalInfoDetail", "OPCostProductCalInfo",
                                 "OPCostWIPCheck", "OPCostWNCalInfo"}) {
    EXPECT_TRUE(Fids(renumbered).empty()) << renumbered;
  }
  // Truncated, so the identity starts again.
  AddRows("OPCostCalInfo", "2011.04", 1);
  EXPECT_EQ(Fids("OPCostCalInfo"), (Fid{1}));
}

TEST_F(HistoryStepsTest, OperationCostRestoreEmptiesKeptTablesAndDropsLaterAdjustments) {
  AddRows("OPCostBalance_History", "2011.03", 2, {5, 6});
  AddRows("OPCostBalance_History", "2011.02", 1, {4});
  AddRows("OPCostBalance", "2011.04", 1, {7});
  AddRows("OPCostObjDetail_History", "2011.03", 1, {9});
  AddRows("OPCostObjDetail", "2011.04", 2);
  Run("INSERT INTO OPCostBalanceAdjust(FYearPeriod) VALUES ('2011.02')\r\n"
      "INSERT INTO OPCostBalanceAdjust(FYearPeriod) VALUES ('2011.03')\r\n"
      "INSERT INTO OPCostBalanceAdjust(FYearPeriod) VALUES ('2011.04')\r\n"
      "INSERT INTO OPCostBalanceAdjust(FYearPeriod) VALUES ('2011.10')\r\n"
      "INSERT INTO OPCostBalanceAdjust(FYearPeriod) VALUES ('2012.01')\r\n"
      "INSERT INTO OPCostObjDetailAdjust(FYearPeriod) VALUES ('2011.03')\r\n"
      "INSERT INTO OPCostObjDetailAdjust(FYearPeriod) VALUES ('2011.100')");
  AddRows("OPCostCalInfo", "2011.04", 3);
  AddRows("OPCostCalInfo_History", "2011.03", 2, {20, 21});

  CCloseData().EndOpCostHistoryData(dsn_, 2011, 3, false);

  EXPECT_EQ(Fids("OPCostBalance"), (Fid{5, 6}));
  EXPECT_EQ(Fids("OPCostBalance_History"), (Fid{4}));
  EXPECT_EQ(Fids("OPCostObjDetail"), (Fid{9}));
  // Later periods by string comparison: 2011.10 and 2011.100 sort after 2011.03.
  EXPECT_EQ(Query("SELECT FYearPeriod FROM OPCostBalanceAdjust ORDER BY FID"),
            (std::vector<std::vector<std::string>>{{"2011.02"}, {"2011.03"}}));
  EXPECT_EQ(Number("SELECT COUNT(*) FROM OPCostObjDetailAdjust"), 1);
  // Truncated first, so the restored rows are numbered from the seed.
  EXPECT_EQ(Fids("OPCostCalInfo"), (Fid{1, 2}));
  EXPECT_TRUE(Fids("OPCostCalInfo_History").empty());
}

TEST_F(HistoryStepsTest, ArchiveThenRestoreReturnsTheSameRows) {
  for (const TablePair& pair : kTables) {
    AddRows(std::string(pair.live), "2011.03", 3);
    AddRows(std::string(pair.live) + "_History", "2011.01", 1, {100});
  }
  std::vector<std::vector<std::vector<std::string>>> live;
  std::vector<std::vector<std::vector<std::string>>> history;
  for (const TablePair& pair : kTables) {
    live.push_back(Rows(std::string(pair.live), pair.keptFid));
    history.push_back(Rows(std::string(pair.live) + "_History"));
  }

  // Late-bound, as a client calls it.
  std::shared_ptr<Dispatch> close = CreateObject(kCloseDataProgId);
  for (const bool bEnd : {true, false}) {
    for (const char* method : {"EndHistoryData", "EndOpCostHistoryData"}) {
      std::array<Variant, 4> arguments{Variant(dsn_), Variant(2011), Variant(3), Variant(bEnd)};
      static_cast<void>(close->InvokeByName(method, arguments));
    }
    if (bEnd) {
      for (const TablePair& pair : kTables) {
        EXPECT_EQ(Number("SELECT COUNT(*) FROM " + std::string(pair.live) + "_History"), 4) << pair.live;
      }
    }
  }

  for (std::size_t i = 0; i < kTables.size(); ++i) {
    const std::string name(kTables[i].live);
    EXPECT_EQ(Rows(name, kTables[i].keptFid), live[i]) << name;
    EXPECT_EQ(Rows(name + "_History"), history[i]) << name;
  }
}

TEST_F(HistoryStepsTest, ArchiveThenRestoreOfAGeneratedLedgerReturnsTheSameRows) {
  ledger::GenerateLedger(database_.ConnectString(), ledger::LedgerOptions{.tasks = 60});
  std::vector<std::vector<std::vector<std::string>>> before;
  for (const TablePair& pair : kTables) {
    before.push_back(Rows(std::string(pair.live), pair.keptFid));
    before.push_back(Rows(std::string(pair.live) + "_History"));
  }
  ASSERT_FALSE(before[0].empty());

  CCloseData close;
  for (const bool bEnd : {true, false}) {
    close.EndHistoryData(dsn_, 2011, 3, bEnd);
    close.EndOpCostHistoryData(dsn_, 2011, 3, bEnd);
    close.AlterIdentitySeed(dsn_);
    if (bEnd) {
      for (const TablePair& pair : kTables) EXPECT_TRUE(Fids(std::string(pair.live)).empty()) << pair.live;
    }
  }

  std::size_t i = 0;
  for (const TablePair& pair : kTables) {
    EXPECT_EQ(Rows(std::string(pair.live), pair.keptFid), before[i++]) << pair.live;
    EXPECT_EQ(Rows(std::string(pair.live) + "_History"), before[i++]) << pair.live;
  }
}

TEST_F(HistoryStepsTest, PeriodWithoutRowsStillSendsSevenBatches) {
  AddRows("OPCostBalance", "2011.04", 1);
  CCloseData().EndOpCostHistoryData(dsn_, 2011, 3, true);
  EXPECT_EQ(Sent().size(), 7u);
  EXPECT_EQ(Fids("OPCostBalance"), (Fid{1}));
  EXPECT_TRUE(Fids("OPCostBalance_History").empty());
}

TEST_F(HistoryStepsTest, FailingBatchAbortsWithItsOwnSourceAndLeavesNothingDone) {
  for (const TablePair& pair : kTables) AddRows(std::string(pair.live), "2011.03", 2);
  Run("DROP TABLE OPCostProductCalInfo_History");
  std::string providerSource;
  try {
    CCloseData().ExecuteSQL(dsn_, "SELECT FID FROM OPCostProductCalInfo_History");
  } catch (const ComError& error) {
    providerSource = error.Source();
  }
  ASSERT_FALSE(providerSource.empty());
  std::vector<std::vector<std::vector<std::string>>> before;
  for (const TablePair& pair : kTables) before.push_back(Rows(std::string(pair.live)));
  ForgetSent();

  try {
    CCloseData().EndOpCostHistoryData(dsn_, 2011, 3, true);
    FAIL() << "batch 5 should have failed";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kCommandFailed);
    EXPECT_EQ(error.Source(), "Calcory.CCloseData.EndOpCostHistoryData\r\n" + providerSource);
    EXPECT_NE(error.Description().find("OPCostProductCalInfo_History"), std::string::npos);
  }
  // Batches 1 to 4 went out, batch 5 failed, 6 and 7 never left.
  const std::vector<std::string> sent = Sent();
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_EQ(sent[4], testing::GoldenTexts("EndOpCostHistoryData-archive-2011.03.txt").at(4));
  EXPECT_EQ(recorder_.votes, Votes{"SetAbort"});

  for (std::size_t i = 0; i < kTables.size(); ++i) {
    EXPECT_EQ(Rows(std::string(kTables[i].live)), before[i]) << kTables[i].live;
  }
  EXPECT_TRUE(Fids("OPCostBalance_History").empty());
  EXPECT_TRUE(Fids("OPCostCalInfo_History").empty());
}

struct ReseedCase {
  std::int32_t historyMax;
  std::int32_t liveMax;
  long long nextFid;
};

class IdentitySeedTest : public HistoryStepsTest, public ::testing::WithParamInterface<ReseedCase> {};

// A case is named by its two maxima, "History100_Live50".
std::string ReseedCaseName(const ::testing::TestParamInfo<ReseedCase>& reseed) {
  return "History" + std::to_string(reseed.param.historyMax) + "_Live" + std::to_string(reseed.param.liveMax);
}

// RESEED n gives n to the next row of a table that never held one, n + 1 to a table that did.
INSTANTIATE_TEST_SUITE_P(Maxima, IdentitySeedTest,
                         ::testing::Values(ReseedCase{0, 0, 1}, ReseedCase{100, 0, 101},
                                           ReseedCase{100, 50, 102}, ReseedCase{100, 200, 202},
                                           ReseedCase{100, 100, 102}),
                         ReseedCaseName);

TEST_P(IdentitySeedTest, NextLiveRowTakesAnFidAboveBothTables) {
  const ReseedCase c = GetParam();
  if (c.historyMax > 0) AddRows("OPCostObjDetail_History", "2011.01", 1, {c.historyMax});
  if (c.liveMax > 0) AddRows("OPCostObjDetail", "2011.02", 1, {c.liveMax});
  // The first pair's value lies far above the second's and must not carry over.
  AddRows("OPCostBalance_History", "2011.01", 1, {900});

  CCloseData().AlterIdentitySeed(dsn_);

  AddRows("OPCostObjDetail", "2011.03", 1);
  AddRows("OPCostBalance", "2011.03", 1);
  EXPECT_EQ(Number("SELECT MAX(FID) FROM OPCostObjDetail"), c.nextFid);
  EXPECT_EQ(Number("SELECT MAX(FID) FROM OPCostBalance"), 901);
}

TEST_F(HistoryStepsTest, IdentitySeedPassesOverAFailingBatchVotesCompleteAndReportsIt) {
  std::vector<std::string> reports;
  SetDiagnosticsSink([&](const ComError& error, std::string_view where) {
    reports.push_back(std::string(where) + ": " + error.Description());
  });
  Run("DROP TABLE OPCostObjDetail_History");
  Transaction transaction;
  EXPECT_NO_THROW(CCloseData().AlterIdentitySeed(dsn_));
  EXPECT_EQ(Sent().size(), 1u);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].find("CCloseData.AlterIdentitySeed: "), 0u);
  EXPECT_NE(reports[0].find("OPCostObjDetail_History"), std::string::npos);
  EXPECT_EQ(recorder_.votes, Votes{"SetComplete"});
  EXPECT_FALSE(transaction.IsDoomed());
  EXPECT_NO_THROW(transaction.Commit());
}

TEST_F(HistoryStepsTest, IdentitySeedWithAnUnusableDescriptionSendsNothingAndReturns) {
  std::vector<std::int32_t> numbers;
  SetDiagnosticsSink([&](const ComError& error, std::string_view) { numbers.push_back(error.Number()); });
  CCloseData close;
  close.ExecuteSQL(dsn_, "");  // leaves a working data source on the object
  ForgetSent();
  EXPECT_NO_THROW(close.AlterIdentitySeed(dsn_ + ";DBMS Name=Again"));
  EXPECT_TRUE(recorder_.texts.empty());
  EXPECT_EQ(numbers, (std::vector<std::int32_t>{error_number::kKeyAlreadyAssociated}));
  EXPECT_EQ(recorder_.votes, Votes{"SetComplete"});
}

}  // namespace
}  // namespace closewright
