#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/OpCostHistoryGuard.h"
#include "close/SqlText.h"
#include "outside/ComError.h"
#include "outside/Dictionary.h"
#include "outside/ObjectContext.h"

namespace closewright {
namespace {

constexpr std::string_view kOwnSource = "Calcory.CCloseData.EndOpCostHistoryData";

// Every batch begins with an empty buffer except the first, which carries these two lines.
// clang-format off
constexpr std::string_view kOpeningLines =
    R"( )" "\r\n"
    R"( )" "\r\n";

// OPCostBalance and OPCostObjDetail keep their FIDs both ways (the adjustment tables point at them by FID)
// and are emptied with DELETE only; the other five tables are truncated and renumbered.
constexpr std::string_view kBalanceArchive =
    R"(--期末结账:期初余额表 )" "\r\n"
    R"(INSERT INTO OPCostBalance_History(FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod) )" "\r\n"
    R"(SELECT FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod )" "\r\n"
    R"(FROM OPCostBalance WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostBalance WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(--由于期初余额调整表与OPCostBalance是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kBalanceRestore =
    R"(--反结账:期初余额表 )" "\r\n"
    R"(SET IDENTITY_INSERT OPCostBalance ON )" "\r\n"
    R"(DELETE FROM OPCostBalance )" "\r\n"
    R"(--由于期初余额调整表与OPCostBalance是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate )" "\r\n"
    R"(INSERT INTO OPCostBalance(FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod) )" "\r\n"
    R"(SELECT FID,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FQty,FBegNotStockQty,FBegBal,FYearQty,FYearNotStockQty,FYearSum,FYearExp,FEndBal,FOnlnQty,FNotStockQty,FYear,FPeriod )" "\r\n"
    R"(FROM OPCostBalance_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(SET IDENTITY_INSERT OPCostBalance OFF )" "\r\n"
    R"(DELETE FROM OPCostBalance_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n"
    R"(--反结账:删除期初余额调数据 )" "\r\n"
    R"(DELETE FROM OPCostBalanceAdjust WHERE FYearPeriod>'{YearPeriod}')" "\r\n";

constexpr std::string_view kObjDetailArchive =
    R"( )" "\r\n"
    R"(--期末结账:期初余额材料明细表 )" "\r\n"
    R"(--由于期初余额调整材料明细表与OPCostObjDetail是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate )" "\r\n"
    R"(INSERT INTO OPCostObjDetail_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID) )" "\r\n"
    R"(SELECT FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID )" "\r\n"
    R"(FROM OPCostObjDetail WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostObjDetail WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kObjDetailRestore =
    R"(--反结账:期初余额材料明细表 )" "\r\n"
    R"(SET IDENTITY_INSERT OPCostObjDetail ON )" "\r\n"
    R"(DELETE FROM OPCostObjDetail )" "\r\n"
    R"(--由于期初余额调整材料明细表与OPCostObjDetail是通过FID关系的，而truncate会将identity清零，因此OPCostBalance只能delete不能truncate )" "\r\n"
    R"(INSERT INTO OPCostObjDetail(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID) )" "\r\n"
    R"(SELECT FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,FCostObjID )" "\r\n"
    R"(FROM OPCostObjDetail_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(SET IDENTITY_INSERT OPCostObjDetail OFF )" "\r\n"
    R"(DELETE FROM OPCostObjDetail_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n"
    R"(--反结账:删除期初余额调数据 )" "\r\n"
    R"(DELETE FROM OPCostObjDetailAdjust WHERE FYearPeriod>'{YearPeriod}')" "\r\n";

constexpr std::string_view kCalInfoArchive =
    R"(--期末结账:成本计算结果表 )" "\r\n"
    R"(DECLARE @MAXFID INT)" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostCalInfo_History)" "\r\n"
    R"(INSERT INTO OPCostCalInfo_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel) )" "\r\n"
    R"(SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel )" "\r\n"
    R"(FROM OPCostCalInfo WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(TRUNCATE TABLE OPCostCalInfo )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kCalInfoRestore =
    R"(--反结账:成本计算结果表 )" "\r\n"
    R"(TRUNCATE TABLE OPCostCalInfo )" "\r\n"
    R"(INSERT INTO OPCostCalInfo(FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel) )" "\r\n"
    R"(SELECT FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel )" "\r\n"
    R"(FROM OPCostCalInfo_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostCalInfo_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kCalInfoDetailArchive =
    R"(--期末结账:材料成本计算结果表 )" "\r\n"
    R"(DECLARE @MAXFID INT)" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostCalInfoDetail_History)" "\r\n"
    R"(INSERT INTO OPCostCalInfoDetail_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel) )" "\r\n"
    R"(SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel )" "\r\n"
    R"(FROM OPCostCalInfoDetail WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(TRUNCATE TABLE OPCostCalInfoDetail )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kCalInfoDetailRestore =
    R"(--反结账:材料成本计算结果表 )" "\r\n"
    R"(TRUNCATE TABLE OPCostCalInfoDetail )" "\r\n"
    R"(INSERT INTO OPCostCalInfoDetail(FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel) )" "\r\n"
    R"(SELECT FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel )" "\r\n"
    R"(FROM OPCostCalInfoDetail_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostCalInfoDetail_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kProductCalInfoArchive =
    R"( )" "\r\n"
    R"(--期末结账:产品成本计算结果表 )" "\r\n"
    R"(DECLARE @MAXFID INT)" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostProductCalInfo_History)" "\r\n"
    R"(INSERT INTO OPCostProductCalInfo_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID) )" "\r\n"
    R"(SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID )" "\r\n"
    R"(FROM OPCostProductCalInfo WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(TRUNCATE TABLE OPCostProductCalInfo )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kProductCalInfoRestore =
    R"(--反结账:产品成本计算结果表 )" "\r\n"
    R"(TRUNCATE TABLE OPCostProductCalInfo )" "\r\n"
    R"(INSERT INTO OPCostProductCalInfo(FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID) )" "\r\n"
    R"(SELECT FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID )" "\r\n"
    R"(FROM OPCostProductCalInfo_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostProductCalInfo_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kWIPCheckArchive =
    R"( )" "\r\n"
    R"(--期末结账:在产中盘点表表 )" "\r\n"
    R"(DECLARE @MAXFID INT)" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostWIPCheck_History)" "\r\n"
    R"(INSERT INTO OPCostWIPCheck_History(FID,FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty) )" "\r\n"
    R"(SELECT FID+@MAXFID,FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty )" "\r\n"
    R"(FROM OPCostWIPCheck WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(TRUNCATE TABLE OPCostWIPCheck )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kWIPCheckRestore =
    R"(--反结账:在产中盘点表表 )" "\r\n"
    R"(TRUNCATE TABLE OPCostWIPCheck )" "\r\n"
    R"(INSERT INTO OPCostWIPCheck(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty) )" "\r\n"
    R"(SELECT FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,FISImport,FScrapQty,FOutAfterScrQty )" "\r\n"
    R"(FROM OPCostWIPCheck_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostWIPCheck_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kWNCalInfoArchive =
    R"( )" "\r\n"
    R"(--期末结账:不可修复废品成本计算单表 )" "\r\n"
    R"(DECLARE @MAXFID INT)" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,0) FROM OPCostWNCalInfo_History)" "\r\n"
    R"(INSERT INTO OPCostWNCalInfo_History(FID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice) )" "\r\n"
    R"(SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice )" "\r\n"
    R"(FROM OPCostWNCalInfo WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(TRUNCATE TABLE OPCostWNCalInfo )" "\r\n"
    R"( )" "\r\n";

constexpr std::string_view kWNCalInfoRestore =
    R"(--反结账:不可修复废品成本计算单表 )" "\r\n"
    R"(TRUNCATE TABLE OPCostWNCalInfo )" "\r\n"
    R"(INSERT INTO OPCostWNCalInfo(FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice) )" "\r\n"
    R"(SELECT FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,FScrapPrice )" "\r\n"
    R"(FROM OPCostWNCalInfo_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"(DELETE FROM OPCostWNCalInfo_History WHERE FYearPeriod='{YearPeriod}' )" "\r\n"
    R"( )" "\r\n"
    R"( )" "\r\n";
// clang-format on

struct HistoryBatch {
  std::string_view archive;
  std::string_view restore;
};

// In the order the batches are sent.
constexpr std::array kBatches{
    HistoryBatch{kBalanceArchive, kBalanceRestore},
    HistoryBatch{kObjDetailArchive, kObjDetailRestore},
    HistoryBatch{kCalInfoArchive, kCalInfoRestore},
    HistoryBatch{kCalInfoDetailArchive, kCalInfoDetailRestore},
    HistoryBatch{kProductCalInfoArchive, kProductCalInfoRestore},
    HistoryBatch{kWIPCheckArchive, kWIPCheckRestore},
    HistoryBatch{kWNCalInfoArchive, kWNCalInfoRestore},
};

}  // namespace

void CCloseData::EndOpCostHistoryData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                                      bool bEnd) {
  RunInObjectContext([&] {
    RunGuardedFrame(
        sDsn,
        [&](Connection& cn) {
          // The batches empty whole tables: rows of periods the call does not move would be gone for good,
          // so finding any stops the call before its first batch.
          const std::vector<RowsOutsidePeriod> lost = FindRowsOutsidePeriod(cn, lYear, lPeriod, bEnd);
          if (!lost.empty()) {
            throw ComError(error_number::kRowsOutsidePeriod, "CCloseData.EndOpCostHistoryData",
                           DescribeRowsOutsidePeriod(lost, lYear, lPeriod, bEnd));
          }

          const std::string key = FormatYearPeriod(lYear, lPeriod);
          StringBuilder script;
          script.Append(kOpeningLines);
          for (const HistoryBatch& batch : kBatches) {
            script.Append(FillPlaceholders(bEnd ? batch.archive : batch.restore, {{"YearPeriod", key}}));
            cn.Execute(script.Text());
            script.Remove(1, script.Length());
          }
        },
        kOwnSource);
  });
}

namespace step_texts {

// The step's statement templates by name, the batches in the order they are sent, for the tests that run
// them with sample values (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> EndOpCostHistoryData() {
  return {{"OpeningLines", kOpeningLines},
          {"BalanceArchive", kBalanceArchive},
          {"BalanceRestore", kBalanceRestore},
          {"ObjDetailArchive", kObjDetailArchive},
          {"ObjDetailRestore", kObjDetailRestore},
          {"CalInfoArchive", kCalInfoArchive},
          {"CalInfoRestore", kCalInfoRestore},
          {"CalInfoDetailArchive", kCalInfoDetailArchive},
          {"CalInfoDetailRestore", kCalInfoDetailRestore},
          {"ProductCalInfoArchive", kProductCalInfoArchive},
          {"ProductCalInfoRestore", kProductCalInfoRestore},
          {"WIPCheckArchive", kWIPCheckArchive},
          {"WIPCheckRestore", kWIPCheckRestore},
          {"WNCalInfoArchive", kWNCalInfoArchive},
          {"WNCalInfoRestore", kWNCalInfoRestore}};
}

}  // namespace step_texts

}  // namespace closewright
