// Every statement the close sends, the steps' own texts with sample values filled in, runs on the reference
// schema over a generated ledger, and the ledger's task states come out of the close as the statements
// intend.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "close/OpCostHistoryGuard.h"
#include "close/SqlText.h"
#include "close/StepTexts.h"
#include "ledger/LedgerSupport.h"
#include "outside/ComError.h"
#include "support/TestDatabase.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using ledger::TaskState;
using step_texts::Named;
using testing::ExecuteInOneTransaction;
using testing::QueryNumber;
using testing::QueryRows;

// The steps' own texts with sample values filled in: 2011.03 (the day after its end 2011-04-01) closed into
// 2011.04. A value whose placeholder a text does not hold is not used.
std::string Sample(std::string_view text) {
  return FillPlaceholders(text, {{"YearPeriod", "2011.03"},
                                 {"lYear", "2011"},
                                 {"lPeriod", "3"},
                                 {"DayAfterPeriodEnd", "2011-04-01"},
                                 {"NextYearPeriod", "2011.04"},
                                 {"NextPeriodStart", "2011-04-01"},
                                 {"lNextYear", "2011"},
                                 {"lNextPeriod", "4"}});
}

// Every text of a step, in the order the step sends them.
std::vector<std::string> AllSampled(const step_texts::NamedTexts& texts) {
  std::vector<std::string> sampled;
  for (const auto& [name, text] : texts) sampled.push_back(Sample(text));
  return sampled;
}

std::vector<std::string> EndBalTexts() {
  return AllSampled(step_texts::SetEndBal());
}
std::vector<std::string> BegBalTexts() {
  return AllSampled(step_texts::SetBegBal());
}

// The period switch to lNextYear/lNextPeriod; on a reopen the period batch also discards later balances.
std::vector<std::string> CurrentPeriodTexts(int nextPeriod, bool reopen) {
  const step_texts::NamedTexts texts = step_texts::SetCurrentPeriod();
  const std::initializer_list<Placeholder> values{
      {"lNextYear", "2011"},
      {"lNextPeriod", std::to_string(nextPeriod)},
      {"NextPeriodNumber", "2011.000" + std::to_string(nextPeriod)}};
  std::string periodBatch = FillPlaceholders(Named(texts, "SetCurrentPeriod"), values);
  if (reopen) periodBatch += FillPlaceholders(Named(texts, "DiscardReopenedBalances"), values);
  return {FillPlaceholders(Named(texts, "SetCurrentYear"), values), periodBatch};
}

// The five setting tables' deletes and copies, as SetStandardData sends them before the bill copy.
std::vector<std::string> StandardSettingTexts() {
  const step_texts::NamedTexts texts = step_texts::SetStandardData();
  std::vector<std::string> sampled;
  for (const auto& [table, copy] : texts) {
    if (table == "DeleteNextPeriod") continue;
    sampled.push_back(
        FillPlaceholders(Named(texts, "DeleteNextPeriod"),
                         {{"Table", std::string(table)}, {"lNextYear", "2011"}, {"lNextPeriod", "4"}}));
    sampled.push_back(Sample(copy));
  }
  return sampled;
}

std::vector<std::string> StandardTables() {
  std::vector<std::string> tables;
  for (const auto& [table, copy] : step_texts::SetStandardData()) {
    if (table != "DeleteNextPeriod") tables.emplace_back(table);
  }
  return tables;
}

// The bill copy script for the given source bills, with new ids from firstId and made-up bill numbers.
std::string BillCopyScript(const std::vector<std::vector<std::string>>& sources, long long firstId) {
  const step_texts::NamedTexts texts = step_texts::CopyStandardDataBills();
  std::string script = Sample(Named(texts, "DeleteNextPeriodBills"));
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const std::string newId = std::to_string(firstId + static_cast<long long>(i));
    const std::initializer_list<Placeholder> bill{{"NewID", newId},
                                                  {"BillNo", "SD9" + std::to_string(100000 + i)},
                                                  {"SourceFID", sources[i][0]},
                                                  {"NextYearPeriod", "2011.04"},
                                                  {"DayAfterPeriodEnd", "2011-04-01"}};
    script += FillPlaceholders(Named(texts, "CopyBillHeader"), bill);
    script += FillPlaceholders(Named(texts, "CopyBillLines"), bill);
  }
  const long long lastId = firstId + static_cast<long long>(sources.size()) - 1;
  return script + FillPlaceholders(Named(texts, "AdvanceIdCounter"), {{"LastID", std::to_string(lastId)}});
}

// The material and the expense script of the distribution archive (or restore).
std::vector<std::string> DistributionScripts(bool archive) {
  const step_texts::NamedTexts texts = step_texts::EndHistoryData();
  return {Sample(Named(texts, archive ? "MaterialArchive" : "MaterialRestore")),
          Sample(Named(texts, archive ? "ExpenseArchive" : "ExpenseRestore"))};
}

// The seven batches of the operation-cost archive (or restore), the first after the opening lines.
std::vector<std::string> OperationCostBatches(bool archive) {
  const step_texts::NamedTexts texts = step_texts::EndOpCostHistoryData();
  std::vector<std::string> batches;
  for (const auto& [name, text] : texts) {
    if (name == "OpeningLines" || !name.ends_with(archive ? "Archive" : "Restore")) continue;
    batches.push_back((batches.empty() ? std::string(Named(texts, "OpeningLines")) : std::string()) +
                      Sample(text));
  }
  return batches;
}

// The tables the operation-cost archive empties by truncation and renumbers.
const std::vector<std::string> kRenumbered{"OPCostCalInfo", "OPCostCalInfoDetail", "OPCostProductCalInfo",
                                           "OPCostWIPCheck", "OPCostWNCalInfo"};

std::string RealignIdentityText() {
  return std::string(Named(step_texts::AlterIdentitySeed(), "ReseedBatch"));
}

class CloseStatements : public ::testing::Test {
 protected:
  void SetUp() override {
    options_.tasks = 80;
    options_.seed = 11;
    ledger::CreateSchema(cs_);
    ledger::GenerateLedger(cs_, options_);
  }

  long long Count(const std::string& from) { return QueryNumber(cs_, "SELECT COUNT(*) FROM " + from); }
  // What the operation-cost archive (or restore) of 2011.03 checks before its first batch.
  std::vector<RowsOutsidePeriod> RowsTheHistoryCallWouldLose(bool archive) {
    Connection cn;
    cn.Open(cs_);
    std::vector<RowsOutsidePeriod> found = FindRowsOutsidePeriod(cn, 2011, 3, archive);
    cn.Close();
    return found;
  }
  std::string Task(TaskState state) {
    const std::int32_t id = ledger::FirstTaskInState(options_, state);
    EXPECT_NE(id, 0);
    return std::to_string(id);
  }
  long long BalanceRows(const std::string& period, int kind, TaskState state) {
    return Count("OPCostBalance WHERE FYearPeriod='" + period + "' AND FTypeID=" + std::to_string(kind) +
                 " AND FICMOInterID=" + Task(state));
  }

  testing::TemporaryDatabase db_;
  const std::string cs_ = db_.ConnectString();
  ledger::LedgerOptions options_;
};

TEST_F(CloseStatements, PeriodSwitchForwardThenReopenDiscardsLaterBalances) {
  ExecuteInOneTransaction(cs_, CurrentPeriodTexts(4, false));
  EXPECT_EQ(
      QueryRows(cs_,
                "SELECT FValue FROM t_SystemProfile WHERE FCategory = 'OPCost' AND FKey = 'CurrentPeriod'"),
      (std::vector<std::vector<std::string>>{{"4"}}));
  EXPECT_EQ(
      QueryRows(cs_, "SELECT FValue FROM t_SystemProfile WHERE FCategory = 'GL' AND FKey = 'CurrentPeriod'"),
      (std::vector<std::vector<std::string>>{{"3"}}));

  ExecuteInOneTransaction(cs_, EndBalTexts());
  ExecuteInOneTransaction(cs_, BegBalTexts());
  ASSERT_GT(Count("OPCostBalance WHERE FYearPeriod='2011.04'"), 0);
  const long long beginning = Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID IN (1,2)");
  ExecuteInOneTransaction(cs_, CurrentPeriodTexts(3, true));
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.04'"), 0);
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID IN (3,4)"), 0);
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.03'"), beginning);
}

TEST_F(CloseStatements, DeputyDataIsCarriedIntoTheNextPeriod) {
  const long long closed = Count("OPCostDeputyInfo WHERE FYearPeriod='2011.03'");
  ASSERT_GT(closed, 0);
  ExecuteInOneTransaction(cs_, AllSampled(step_texts::SetCostDeputyData()));
  EXPECT_EQ(Count("OPCostDeputyInfo WHERE FYearPeriod='2011.04' AND FYear=2011 AND FPeriod=4"), closed);
}

TEST_F(CloseStatements, EndingBalancesKeepTheTasksThatStillMatter) {
  ExecuteInOneTransaction(cs_, EndBalTexts());
  EXPECT_GT(BalanceRows("2011.03", 3, TaskState::Open), 0);
  EXPECT_GT(BalanceRows("2011.03", 4, TaskState::Open), 0);
  EXPECT_GT(BalanceRows("2011.03", 3, TaskState::ClosedWithRemainder), 0);
  EXPECT_GT(BalanceRows("2011.03", 3, TaskState::ClosedAfterPeriodEnd), 0)
      << "closed after the end: copied as it is";
  EXPECT_EQ(BalanceRows("2011.03", 3, TaskState::ClosedWithoutRemainder), 0);
  EXPECT_EQ(BalanceRows("2011.03", 4, TaskState::ClosedWithoutRemainder), 0);
  EXPECT_EQ(BalanceRows("2011.03", 3, TaskState::ClosedAmountsCancel), 0);
  EXPECT_EQ(BalanceRows("2011.03", 4, TaskState::ClosedAmountsCancel), 3);
  EXPECT_EQ(BalanceRows("2011.03", 3, TaskState::Cancelled), 0);
  EXPECT_EQ(BalanceRows("2011.03", 4, TaskState::Cancelled), 0);
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID=3 AND FCostItemID<>0"), 0);
  // Beginning rows of the period are left alone.
  EXPECT_GT(Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID IN (1,2)"), 0);
}

TEST_F(CloseStatements, BeginningBalancesLeaveOutTasksFinishedInThePeriod) {
  ExecuteInOneTransaction(cs_, EndBalTexts());
  ExecuteInOneTransaction(cs_, BegBalTexts());
  // Amounts of 0.10, 0.20 and -0.30 add up to exactly zero: the task is finished and not carried.
  EXPECT_EQ(BalanceRows("2011.04", 2, TaskState::ClosedAmountsCancel), 0);
  // The same amounts on a task closed by hand are carried in full.
  EXPECT_EQ(BalanceRows("2011.04", 2, TaskState::ClosedByHand), 3);
  EXPECT_GT(BalanceRows("2011.04", 1, TaskState::Open), 0);
  EXPECT_EQ(
      Count("OPCostBalance WHERE FYearPeriod='2011.04' AND FTypeID=1"),
      Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID=3") -
          Count("OPCostBalance b WHERE FYearPeriod='2011.03' AND FTypeID=3 AND NOT EXISTS (SELECT 1 FROM "
                "OPCostBalance e WHERE e.FYearPeriod='2011.03' AND e.FTypeID=4 AND "
                "e.FICMOInterID=b.FICMOInterID) "
                "AND EXISTS (SELECT 1 FROM ICMO m WHERE m.FInterID=b.FICMOInterID AND m.FStatus=3 AND "
                "m.FClosed=0 "
                "AND m.FCloseDate<'2011-04-01')"));
  EXPECT_GT(Count("OPCostObjDetail WHERE FYearPeriod='2011.04' AND FPrice<>0"), 0);
  EXPECT_EQ(
      Count("OPCostObjDetail WHERE FYearPeriod='2011.04' AND FBegUnOutQty+FBegUnInQty<>0 AND FPrice=0 AND "
            "FUsedAmount<>0"),
      0);
}

TEST_F(CloseStatements, StandardDataAndBillsAreCarriedIntoTheNextPeriod) {
  std::vector<std::string> texts = StandardSettingTexts();
  // The bill copy: ids from the counter, lines of tasks closed by the period end dropped.
  const step_texts::NamedTexts bills = step_texts::CopyStandardDataBills();
  const auto sources = QueryRows(cs_, Sample(Named(bills, "SourceBills")));
  ASSERT_FALSE(sources.empty());
  const long long firstId = QueryNumber(cs_, Sample(Named(bills, "IdCounter"))) + 1;
  const long long lastId = firstId + static_cast<long long>(sources.size()) - 1;
  texts.push_back(BillCopyScript(sources, firstId));

  const long long keptLines = Count(
      "OPCostStandardDataEntry t1 INNER JOIN OPCostStandardData h ON h.FID=t1.FID WHERE "
      "h.FYearPeriod='2011.03' AND NOT "
      "EXISTS (SELECT 1 FROM ICMO m WHERE m.FInterID=t1.FICMOInterID AND m.FStatus=3 AND "
      "m.FCloseDate<'2011-04-01')");
  const long long allLines = Count(
      "OPCostStandardDataEntry t1 INNER JOIN OPCostStandardData h ON h.FID=t1.FID WHERE "
      "h.FYearPeriod='2011.03'");
  ASSERT_LT(keptLines, allLines) << "the ledger has lines of closed tasks";
  ExecuteInOneTransaction(cs_, texts);

  for (const std::string& table : StandardTables()) {
    EXPECT_EQ(Count(table + " WHERE FYear=2011 AND FPeriod=4 AND FYearPeriod='2011.04'"),
              Count(table + " WHERE FYear=2011 AND FPeriod=3"))
        << table;
  }
  EXPECT_EQ(Count("OPCostStandardData WHERE FYearPeriod='2011.04'"), static_cast<long long>(sources.size()));
  EXPECT_EQ(QueryNumber(cs_, "SELECT MIN(FID) FROM OPCostStandardData WHERE FYearPeriod='2011.04'"), firstId);
  EXPECT_EQ(QueryNumber(cs_, "select FMaxNum from ICMaxNum where FTableName='OPCostStandardData'"), lastId);
  EXPECT_EQ(Count("OPCostStandardDataEntry WHERE FID >= " + std::to_string(firstId)), keptLines);
}

TEST_F(CloseStatements, DistributionArchiveThenRestoreReturnsTheRows) {
  const long long materiel = Count("OPCostMaterielInfo WHERE FYearPeriod='2011.03'");
  const long long expense = Count("OPCostExpenseDistributeInfo WHERE FYearPeriod='2011.03'");
  const long long historyMax = QueryNumber(cs_, "SELECT MAX(FID) FROM OPCostMaterielInfo_History");
  ASSERT_GT(materiel, 0);
  ExecuteInOneTransaction(cs_, DistributionScripts(true));
  EXPECT_EQ(Count("OPCostMaterielInfo WHERE FYearPeriod='2011.03'"), 0);
  EXPECT_EQ(Count("OPCostMaterielInfo_History WHERE FYearPeriod='2011.03'"), materiel);
  EXPECT_EQ(Count("OPCostExpenseDistributeInfo_History WHERE FYearPeriod='2011.03'"), expense);
  EXPECT_GT(QueryNumber(cs_, "SELECT MIN(FID) FROM OPCostMaterielInfo_History WHERE FYearPeriod='2011.03'"),
            historyMax);

  ExecuteInOneTransaction(cs_, DistributionScripts(false));
  EXPECT_EQ(Count("OPCostMaterielInfo WHERE FYearPeriod='2011.03'"), materiel);
  EXPECT_EQ(Count("OPCostExpenseDistributeInfo WHERE FYearPeriod='2011.03'"), expense);
  EXPECT_EQ(Count("OPCostMaterielInfo_History WHERE FYearPeriod='2011.03'"), 0);
}

TEST_F(CloseStatements, WholeCloseArchivesThenRestoreBringsThePeriodBack) {
  ExecuteInOneTransaction(cs_, EndBalTexts());
  ExecuteInOneTransaction(cs_, BegBalTexts());
  const auto balanceBefore = QueryRows(cs_,
                                       "SELECT FID, FTypeID, FICMOInterID FROM OPCostBalance WHERE "
                                       "FYearPeriod='2011.03' ORDER BY FID");
  const long long calculations = Count("OPCostCalInfo");
  ASSERT_FALSE(balanceBefore.empty());

  // Archive: the check finds nothing to lose, every batch goes through; the live FIDs of the kept tables do
  // not collide with history.
  EXPECT_TRUE(RowsTheHistoryCallWouldLose(true).empty());
  ExecuteInOneTransaction(cs_, OperationCostBatches(true));
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.03'"), 0);
  EXPECT_GT(Count("OPCostBalance WHERE FYearPeriod='2011.04'"), 0) << "the next period's opening rows stay";
  for (const std::string& table : kRenumbered) EXPECT_EQ(Count(table), 0) << table;
  EXPECT_EQ(Count("OPCostCalInfo_History WHERE FYearPeriod='2011.03'"), calculations);
  ExecuteInOneTransaction(cs_, {RealignIdentityText()});

  // Restore: the next period's opening rows are later ones, which a restore discards, so the check finds
  // nothing; the period comes back with its own FIDs; adjustments of later periods go.
  EXPECT_TRUE(RowsTheHistoryCallWouldLose(false).empty());
  ExecuteInOneTransaction(cs_, OperationCostBatches(false));
  EXPECT_EQ(
      QueryRows(cs_,
                "SELECT FID, FTypeID, FICMOInterID FROM OPCostBalance WHERE FYearPeriod='2011.03' ORDER BY "
                "FID"),
      balanceBefore);
  EXPECT_EQ(Count("OPCostCalInfo"), calculations);
  EXPECT_EQ(QueryNumber(cs_, "SELECT MIN(FID) FROM OPCostCalInfo"), 1) << "renumbered from the seed";
  EXPECT_EQ(Count("OPCostBalanceAdjust WHERE FYearPeriod>'2011.03'"), 0);

  // On the restored ledger, the period's own rows are what a second restore would lose, and rows of other
  // periods what a second archive would.
  const std::vector<RowsOutsidePeriod> restoreLoses = RowsTheHistoryCallWouldLose(false);
  const auto balances =
      std::find_if(restoreLoses.begin(), restoreLoses.end(),
                   [](const RowsOutsidePeriod& each) { return each.table == "OPCostBalance"; });
  ASSERT_NE(balances, restoreLoses.end());
  EXPECT_EQ(balances->rows, static_cast<std::int64_t>(balanceBefore.size()));
  ExecuteInOneTransaction(cs_, {"UPDATE OPCostWIPCheck SET FYearPeriod='2011.02',FPeriod=2 WHERE FID=(SELECT "
                                "MIN(FID) FROM OPCostWIPCheck)"});
  const std::vector<RowsOutsidePeriod> archiveLoses = RowsTheHistoryCallWouldLose(true);
  ASSERT_EQ(archiveLoses.size(), 1u);
  EXPECT_EQ(archiveLoses[0].table, "OPCostWIPCheck");
  EXPECT_EQ(archiveLoses[0].rows, 1);
}

TEST_F(CloseStatements, IdentityRealignmentPutsNewRowsAboveEveryArchivedRow) {
  ExecuteInOneTransaction(cs_, {RealignIdentityText()});
  const long long highest = std::max(QueryNumber(cs_, "SELECT MAX(FID) FROM OPCostObjDetail"),
                                     QueryNumber(cs_, "SELECT MAX(FID) FROM OPCostObjDetail_History"));
  ExecuteInOneTransaction(
      cs_, {"INSERT INTO OPCostObjDetail(FYearPeriod,FYear,FPeriod) VALUES ('2011.04',2011,4)"});
  EXPECT_GT(QueryNumber(cs_, "SELECT MAX(FID) FROM OPCostObjDetail"), highest);
}

TEST_F(CloseStatements, DataSourceQueriesReadTheSampleCatalogue) {
  const auto types =
      QueryRows(cs_,
                "select FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, "
                "FActualSize, FBindType from t_DataTypeInfo");
  ASSERT_FALSE(types.empty());
  bool decimalFound = false;
  for (const auto& row : types) {
    if (row[1] == "decimal") {
      decimalFound = true;
      EXPECT_EQ(row[2], "38");
      EXPECT_EQ(row[6], "NULL") << "the size follows the precision";
    }
  }
  EXPECT_TRUE(decimalFound);
  EXPECT_FALSE(QueryRows(cs_, "SELECT FProcName FROM t_SupportedProc").empty());
}

}  // namespace
}  // namespace closewright
