// Every statement the close sends, with sample values filled in, runs on the reference schema over a
// generated ledger, and the ledger's task states come out of the close as the statements intend.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "close/OpCostHistoryGuard.h"
#include "ledger/LedgerSupport.h"
#include "outside/ComError.h"
#include "support/TestDatabase.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using ledger::TaskState;
using testing::CrLf;
using testing::ExecuteInOneTransaction;
using testing::QueryNumber;
using testing::QueryRows;

// clang-format off
// Closing 2011.03 (the day after its end 2011-04-01) into 2011.04.
const std::vector<std::string> kEndBal{
    "Delete OPCostBalance WHERE FTypeID=3 AND FYear=2011 AND FPeriod=3",
    CrLf({"INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FOnlnQty,FNotStockQty,FTypeID) ",
          " SELECT '2011.03',2011,3,a.FICMOInterID,a.FCostCenterID,0,a.FWIPQty,a.FNotStockQty,3  ",
          " FROM OPCostWIPCheck a INNER JOIN icmo b on a.FICMOInterID =b.finterid ",
          " WHERE a.FYearPeriod='2011.03' and (b.fstatus<>3 OR (b.fstatus=3 AND (a.FWIPQty+a.FNotStockQty)<>0) OR (b.fstatus=3 AND b.fCloseDate>='2011-04-01')) and b.FCancellation=0 "}, true),
    "Delete OPCostBalance WHERE FTypeID=4 AND FYear=2011 AND FPeriod=3",
    CrLf({"INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FEndBal,FTypeID)",
          " SELECT '2011.03',2011,3,a.FICMOInterID,a.FCostCenterID,a.FCostItemID,a.FOnlineAmount,4 ",
          " FROM OPCostCalinfo a INNER JOIN icmo b on a.FICMOInterID =b.finterid ",
          " WHERE a.FYearPeriod='2011.03'  and (b.fstatus<>3 OR (b.fstatus=3 AND a.FOnlineAmount<>0)  OR (b.fstatus=3 AND b.fCloseDate>='2011-04-01')) and b.FCancellation=0 "}, true),
};

const std::string kDropFinished = CrLf({"    IF ISNULL(OBJECT_ID('TEMPDB..#OPCostCalinfo'),0)<>0 ", " DROP TABLE #OPCostCalinfo"}, true);
const std::string kNotFinished = "AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=";

const std::vector<std::string> kBegBal{
    CrLf({"    IF ISNULL(OBJECT_ID('TEMPDB..#OPCostCalinfo'),0)<>0 ",
          " DROP TABLE #OPCostCalinfo ",
          " CREATE TABLE #OPCostCalinfo(FICMOInterID INT NOT NULL DEFAULT(0)) ",
          " INSERT INTO #OPCostCalinfo(FICMOInterID) ",
          " select DISTINCT C.FICMOInterID ",
          " From OPCostBalance C ",
          " INNER JOIN ICMO MO ON MO.FInterID=C.FICMOInterID ",
          " where C.FTypeID=4 AND C.FYearPeriod='2011.03' And MO.FClosed = 0 ",
          " And MO.FCancellation = 0 And MO.FStatus = 3 and ",
          " mo.FCloseDate<'2011-04-01' ",
          " group by C.FICMOInterID having sum(C.Fendbal)=0 ",
          " Union ",
          " select DISTINCT A.FICMOInterID ",
          " from (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID=3) A ",
          " INNER JOIN ICMO MO ON MO.FInterID=A.FICMOInterID ",
          " left join  (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID=4) B on A.FICMOInterID = B.FICMOInterID ",
          " Where B.FICMOInterID Is Null And mo.FClosed = 0 ",
          " And MO.FCancellation = 0 And MO.FStatus = 3 and ",
          " mo.FCloseDate<'2011-04-01'"}, true),
    CrLf({" DELETE FROM OPCostBalance    WHERE FYear=2011", " AND FPeriod=4", " AND FTypeID=1 "}),
    CrLf({"Insert Into OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FQty,FBegNotStockQty,FTypeID)",
          "SELECT '2011.04',2011,4,FICMOInterID,FCostCenterID,FCostItemID,FOnlnQty,FNotStockQty,1",
          " FROM OPCostBalance ", " WHERE FYear=2011", " AND FPeriod=3", " AND FTypeID=3 ",
          kNotFinished + "OPCostBalance.FICMOInterID)"}, true),
    CrLf({" DELETE FROM OPCostBalance    WHERE FYear=2011", " AND FPeriod=4", " AND FTypeID=2 "}),
    CrLf({"Insert Into OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FBegBal,FTypeID)",
          "SELECT '2011.04',2011,4,FICMOInterID,FCostCenterID,FCostItemID,FEndBal,2",
          " FROM OPCostBalance ", " WHERE FYear=2011", " AND FPeriod=3", " AND FTypeID=4 ",
          kNotFinished + "OPCostBalance.FICMOInterID)"}, true),
    CrLf({" DELETE FROM OPCostObjDetail    WHERE FYear=2011", " AND FPeriod=4"}, true),
    CrLf({" INSERT INTO OPCostObjDetail(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FBegUnOutQty,FBegUnInQty,FUsedAmount)",
          " SELECT '2011.04',2011,4,FICMOInterID , FCostCenterID, FCostItemID, FMaterielID, FBatchNo,FOnlineQty,FNotStockQty,FOnlineAmount ",
          " FROM OPCostCalinfoDetail ", " WHERE FYear=2011", " AND FPeriod=3",
          " AND not(FOnlineQty=0 AND FOnlineAmount=0 AND FNotStockQty=0) ",
          kNotFinished + "OPCostCalinfoDetail.FICMOInterID)"}, true),
    CrLf({"Update OPCostObjDetail SET FPrice=FUsedAmount/(FBegUnOutQty+FBegUnInQty) WHERE (FBegUnOutQty<>0 or FBegUnInQty<>0) AND FYear=2011",
          " AND FPeriod=4"}, true),
    kDropFinished,
};

const std::vector<std::string> kStandardTables{"OPCostRationStandardInfo", "OPCostTaxonStandardInfo", "OPCostStandardSet",
                                               "OPCostTaxonSet", "OPCostStandardSetOnPro"};
const std::vector<std::string> kStandardCopies{
    CrLf({"Insert INTO OPCostRationStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID)",
          " SELECT '2011.04',2011,4,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID  FROM OPCostRationStandardInfo",
          " WHERE FYear=2011", " AND FPeriod=3"}),
    CrLf({"Insert INTO OPCostTaxonStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty)",
          " SELECT '2011.04',2011,4,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty  FROM OPCostTaxonStandardInfo",
          " WHERE FYear=2011", " AND FPeriod=3"}),
    CrLf({"Insert INTO OPCostStandardSet(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType)",
          " SELECT '2011.04',2011,4,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType  FROM OPCostStandardSet",
          " WHERE FYear=2011", " AND FPeriod=3"}),
    CrLf({"Insert INTO OPCostTaxonSet(FYearPeriod,FYear,FPeriod,FCostObjID,FStandardID,FDeptAll)",
          " SELECT '2011.04',2011,4,FCostObjID,FStandardID,FDeptAll FROM OPCostTaxonSet",
          " WHERE FYear=2011", " AND FPeriod=3"}),
    CrLf({"Insert INTO OPCostStandardSetOnPro(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID)",
          " SELECT '2011.04',2011,4,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID  FROM OPCostStandardSetOnPro",
          " WHERE FYear=2011", " AND FPeriod=3"}),
};

std::string BillHeaderCopy(long long newId, const std::string& billNo, const std::string& sourceId) {
  return CrLf({" Insert into OPCostStandardData (FID,FClassTypeID,FBillNo,FStandardNum,FStandardID,FStandardName,FWorkProcStep,FYearPeriod)",
               " Select " + std::to_string(newId) + ", FClassTypeID,'" + billNo + "',FStandardNum,FStandardID,FStandardName,FWorkProcStep,'2011.04' From OPCostStandardData",
               " Where FID = " + sourceId}, true);
}

std::string BillLineCopy(long long newId, const std::string& sourceId) {
  return CrLf({" Insert into OPCostStandardDataEntry (FID,FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,FQty,FICMOInterID,FICMONo,FOperSN)",
               " Select " + std::to_string(newId) + ", t1.FIndex,t1.FCostObjNum,t1.FDeptNum,t1.FCostCenter,t1.FCostCenterName,t1.FWorkProcNum,t1.FQty,t1.FICMOInterID,t1.FICMONo,t1.FOperSN From OPCostStandardDataEntry t1 LEFT JOIN ICMO mo ON t1.FICMOInterID=mo.FInterID AND mo.FStatus=3 AND mo.FCloseDate<'2011-04-01'",
               " Where t1.FID = " + sourceId + " AND mo.FInterID is null"}, true);
}

// The distribution archive (bEnd true) or restore of one table.
std::string DistributionScript(const std::string& live, const std::string& columns, bool archive) {
  const std::string history = live + "_History";
  return CrLf({"DECLARE @MAXFID INT ",
               "SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM " + history,
               "INSERT INTO " + (archive ? history : live) + " (" + (archive ? "FID," : "") + columns + ")",
               "SELECT " + std::string(archive ? "FID+@MAXFID," : "") + columns + " FROM " + (archive ? live : history),
               "WHERE FYearPeriod='2011.03'",
               "",
               "Delete From " + (archive ? live : history) + " WHERE  FYearPeriod='2011.03'"});
}
const std::string kMaterielColumns = "FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount";
const std::string kExpenseColumns = "FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount";

const std::string kBalanceColumns = "FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod";
const std::string kDetailColumns = "FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID";
const std::string kBalanceReason = "--由于期初余额调整表与OPCostBalance是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate ";
const std::string kDetailReason = "--由于期初余额调整材料明细表与OPCostObjDetail是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate ";

struct Renumbered {
  std::string table, title, columns;  // columns without FID
};
const std::vector<Renumbered> kRenumbered{
    {"OPCostCalInfo", "成本计算结果表", "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel"},
    {"OPCostCalInfoDetail", "材料成本计算结果表", "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel"},
    {"OPCostProductCalInfo", "产品成本计算结果表", "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID"},
    {"OPCostWIPCheck", "在产中盘点表表", "FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty"},
    {"OPCostWNCalInfo", "不可修复废品成本计算单表", "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice"},
};

// The seven batches of the operation-cost archive (or restore) of 2011.03.
std::vector<std::string> OperationCostBatches(bool archive) {
  const std::string key = "'2011.03' ";
  std::vector<std::string> batches;
  if (archive) {
    batches.push_back(CrLf({" ", " ", "--期末结账:期初余额表 ",
                            "INSERT INTO OPCostBalance_History(" + kBalanceColumns + ") ", "SELECT " + kBalanceColumns + " ",
                            "FROM OPCostBalance WHERE FYearPeriod=" + key, "DELETE FROM OPCostBalance WHERE FYearPeriod=" + key,
                            kBalanceReason, " "}, true));
    batches.push_back(CrLf({" ", "--期末结账:期初余额材料明细表 ", kDetailReason,
                            "INSERT INTO OPCostObjDetail_History(" + kDetailColumns + ") ", "SELECT " + kDetailColumns + " ",
                            "FROM OPCostObjDetail WHERE FYearPeriod=" + key, "DELETE FROM OPCostObjDetail WHERE FYearPeriod=" + key,
                            " "}, true));
  } else {
    batches.push_back(CrLf({" ", " ", "--反结账:期初余额表 ", "SET IDENTITY_INSERT OPCostBalance ON ", "DELETE FROM OPCostBalance ",
                            kBalanceReason, "INSERT INTO OPCostBalance(" + kBalanceColumns + ") ", "SELECT " + kBalanceColumns + " ",
                            "FROM OPCostBalance_History WHERE FYearPeriod=" + key, "SET IDENTITY_INSERT OPCostBalance OFF ",
                            "DELETE FROM OPCostBalance_History WHERE FYearPeriod=" + key, " ", "--反结账:删除期初余额调数据 ",
                            "DELETE FROM OPCostBalanceAdjust WHERE FYearPeriod>'2011.03'"}, true));
    batches.push_back(CrLf({"--反结账:期初余额材料明细表 ", "SET IDENTITY_INSERT OPCostObjDetail ON ", "DELETE FROM OPCostObjDetail ",
                            kDetailReason, "INSERT INTO OPCostObjDetail(" + kDetailColumns + ") ", "SELECT " + kDetailColumns + " ",
                            "FROM OPCostObjDetail_History WHERE FYearPeriod=" + key, "SET IDENTITY_INSERT OPCostObjDetail OFF ",
                            "DELETE FROM OPCostObjDetail_History WHERE FYearPeriod=" + key, " ", "--反结账:删除期初余额调数据 ",
                            "DELETE FROM OPCostObjDetailAdjust WHERE FYearPeriod>'2011.03'"}, true));
  }
  for (std::size_t i = 0; i < kRenumbered.size(); ++i) {
    const Renumbered& t = kRenumbered[i];
    const std::string history = t.table + "_History";
    std::vector<std::string> lines;
    if (archive) {
      if (i >= 2) lines.push_back(" ");
      lines.insert(lines.end(), {"--期末结账:" + t.title + " ", "DECLARE @MAXFID INT",
                                 "SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM " + history,
                                 "INSERT INTO " + history + "(FID," + t.columns + ") ", "SELECT FID+@MAXFID," + t.columns + " ",
                                 "FROM " + t.table + " WHERE FYearPeriod=" + key, "TRUNCATE TABLE " + t.table + " ", " "});
    } else {
      lines = {"--反结账:" + t.title + " ", "TRUNCATE TABLE " + t.table + " ", "INSERT INTO " + t.table + "(" + t.columns + ") ",
               "SELECT " + t.columns + " ", "FROM " + history + " WHERE FYearPeriod=" + key,
               "DELETE FROM " + history + " WHERE FYearPeriod=" + key, " "};
      if (i == kRenumbered.size() - 1) lines.push_back(" ");
    }
    batches.push_back(CrLf(lines, true));
  }
  return batches;
}

const std::string kRealignIdentity = CrLf({
    "SET NOCOUNT ON ", "--期初余额表 ", "DECLARE @MAXFID INT ",
    "SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostBalance_History ",
    "SELECT @MAXFID=(CASE WHEN @MAXFID<ISNULL(MAX(FID)+1,1) THEN ISNULL(MAX(FID)+1,1)ELSE @MAXFID END)  FROM OPCostBalance ",
    "DBCC CHECKIDENT('OPCostBalance',RESEED,@MAXFID) ", "--期初余额材料明细表 ",
    "SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostObjDetail_History ",
    "SELECT @MAXFID=(CASE WHEN @MAXFID<ISNULL(MAX(FID)+1,1) THEN ISNULL(MAX(FID)+1,1)ELSE @MAXFID END)  FROM OPCostObjDetail ",
    "DBCC CHECKIDENT('OPCostObjDetail',RESEED,@MAXFID) ", " "}, true);
// clang-format on

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
  ExecuteInOneTransaction(
      cs_, {"UPDATE t_SystemProfile SET FValue = '2011' WHERE FCategory = 'OPCost' AND FKey = 'CurrentYear'",
            "UPDATE t_SystemProfile SET FValue = '4' WHERE FCategory = 'OPCost' AND FKey = 'CurrentPeriod'"});
  EXPECT_EQ(
      QueryRows(cs_,
                "SELECT FValue FROM t_SystemProfile WHERE FCategory = 'OPCost' AND FKey = 'CurrentPeriod'"),
      (std::vector<std::vector<std::string>>{{"4"}}));
  EXPECT_EQ(
      QueryRows(cs_, "SELECT FValue FROM t_SystemProfile WHERE FCategory = 'GL' AND FKey = 'CurrentPeriod'"),
      (std::vector<std::vector<std::string>>{{"3"}}));

  ExecuteInOneTransaction(cs_, kEndBal);
  ExecuteInOneTransaction(cs_, kBegBal);
  ASSERT_GT(Count("OPCostBalance WHERE FYearPeriod='2011.04'"), 0);
  const long long beginning = Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID IN (1,2)");
  ExecuteInOneTransaction(
      cs_, {"UPDATE t_SystemProfile SET FValue = '2011' WHERE FCategory = 'OPCost' AND FKey = 'CurrentYear'",
            CrLf({"UPDATE t_SystemProfile SET FValue = '3' WHERE FCategory = 'OPCost' AND FKey = "
                  "'CurrentPeriod'DELETE FROM opcostBalance WHERE FYear+0.0001*FPeriod > 2011.0003",
                  " DELETE FROM opcostBalance WHERE FYear= 2011 and FPeriod= 3 and FTypeID in (3,4) "})});
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.04'"), 0);
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.03' AND FTypeID IN (3,4)"), 0);
  EXPECT_EQ(Count("OPCostBalance WHERE FYearPeriod='2011.03'"), beginning);
}

TEST_F(CloseStatements, DeputyDataIsCarriedIntoTheNextPeriod) {
  const long long closed = Count("OPCostDeputyInfo WHERE FYearPeriod='2011.03'");
  ASSERT_GT(closed, 0);
  ExecuteInOneTransaction(
      cs_, {"Delete FROM OPCostDeputyInfo WHERE FYearPeriod='2011.04'",
            CrLf({"Insert INTO OPCostDeputyInfo(FYear,FPeriod,FYearPeriod,FCostItemID,FProductID,FAmount)",
                  " SELECT 2011,4,'2011.04',FCostItemID,FProductID,FAmount  FROM OPCostDeputyInfo",
                  " WHERE FYearPeriod='2011.03'"})});
  EXPECT_EQ(Count("OPCostDeputyInfo WHERE FYearPeriod='2011.04' AND FYear=2011 AND FPeriod=4"), closed);
}

TEST_F(CloseStatements, EndingBalancesKeepTheTasksThatStillMatter) {
  ExecuteInOneTransaction(cs_, kEndBal);
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
  ExecuteInOneTransaction(cs_, kEndBal);
  ExecuteInOneTransaction(cs_, kBegBal);
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
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < kStandardTables.size(); ++i) {
    texts.push_back("Delete FROM " + kStandardTables[i] + " WHERE FYear=2011 AND FPeriod=4");
    texts.push_back(kStandardCopies[i]);
  }
  // The bill copy: ids from the counter, lines of tasks closed by the period end dropped.
  const auto sources =
      QueryRows(cs_,
                " Select  FID, FClassTypeID, FBillNo, FStandardID, FStandardNum, FStandardName, "
                "FWorkProcStep, FYearPeriod, FISImport from OPCostStandardData Where FYearPeriod "
                "='2011.03' Order by FID");
  ASSERT_FALSE(sources.empty());
  const long long firstId =
      QueryNumber(cs_, "select FMaxNum from ICMaxNum where FTableName='OPCostStandardData'") + 1;
  const long long lastId = firstId + static_cast<long long>(sources.size()) - 1;
  std::string script = CrLf({" Delete from OPCostStandardData Where FYearPeriod ='2011.04'"}, true);
  for (std::size_t i = 0; i < sources.size(); ++i) {
    const long long newId = firstId + static_cast<long long>(i);
    script += BillHeaderCopy(newId, "SD9" + std::to_string(100000 + i), sources[i][0]);
    script += BillLineCopy(newId, sources[i][0]);
  }
  script +=
      " Update ICMaxNum set FMaxNum =" + std::to_string(lastId) + " Where FTableName= 'OPCostStandardData'";
  texts.push_back(script);

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

  for (const std::string& table : kStandardTables) {
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
  ExecuteInOneTransaction(cs_, {DistributionScript("OPCostMaterielInfo", kMaterielColumns, true),
                                DistributionScript("OPCostExpenseDistributeInfo", kExpenseColumns, true)});
  EXPECT_EQ(Count("OPCostMaterielInfo WHERE FYearPeriod='2011.03'"), 0);
  EXPECT_EQ(Count("OPCostMaterielInfo_History WHERE FYearPeriod='2011.03'"), materiel);
  EXPECT_EQ(Count("OPCostExpenseDistributeInfo_History WHERE FYearPeriod='2011.03'"), expense);
  EXPECT_GT(QueryNumber(cs_, "SELECT MIN(FID) FROM OPCostMaterielInfo_History WHERE FYearPeriod='2011.03'"),
            historyMax);

  ExecuteInOneTransaction(cs_, {DistributionScript("OPCostMaterielInfo", kMaterielColumns, false),
                                DistributionScript("OPCostExpenseDistributeInfo", kExpenseColumns, false)});
  EXPECT_EQ(Count("OPCostMaterielInfo WHERE FYearPeriod='2011.03'"), materiel);
  EXPECT_EQ(Count("OPCostExpenseDistributeInfo WHERE FYearPeriod='2011.03'"), expense);
  EXPECT_EQ(Count("OPCostMaterielInfo_History WHERE FYearPeriod='2011.03'"), 0);
}

TEST_F(CloseStatements, WholeCloseArchivesThenRestoreBringsThePeriodBack) {
  ExecuteInOneTransaction(cs_, kEndBal);
  ExecuteInOneTransaction(cs_, kBegBal);
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
  for (const Renumbered& t : kRenumbered) EXPECT_EQ(Count(t.table), 0) << t.table;
  EXPECT_EQ(Count("OPCostCalInfo_History WHERE FYearPeriod='2011.03'"), calculations);
  ExecuteInOneTransaction(cs_, {kRealignIdentity});

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
  ExecuteInOneTransaction(cs_, {kRealignIdentity});
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
