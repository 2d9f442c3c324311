#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/SqlText.h"
#include "outside/ObjectContext.h"
#include "outside/Variant.h"

namespace closewright {
namespace {

// One script per table and direction, sent whole in one Execute. Archived rows take FID + @MAXFID so that
// periods whose live FIDs repeat never collide in the history table. The restore script still computes
// @MAXFID but leaves FID out, so the live table numbers the restored rows afresh.
// clang-format off
constexpr std::string_view kMaterialArchive =
    R"(DECLARE @MAXFID INT )" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostMaterielInfo_History)" "\r\n"
    R"(INSERT INTO OPCostMaterielInfo_History (FID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount))" "\r\n"
    R"(SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount FROM OPCostMaterielInfo)" "\r\n"
    R"(WHERE FYearPeriod='{YearPeriod}')" "\r\n"
    R"()" "\r\n"
    R"(Delete From OPCostMaterielInfo WHERE  FYearPeriod='{YearPeriod}')";

constexpr std::string_view kMaterialRestore =
    R"(DECLARE @MAXFID INT )" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostMaterielInfo_History)" "\r\n"
    R"(INSERT INTO OPCostMaterielInfo (FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount))" "\r\n"
    R"(SELECT FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,FOperID,FCostObjID,FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount FROM OPCostMaterielInfo_History)" "\r\n"
    R"(WHERE FYearPeriod='{YearPeriod}')" "\r\n"
    R"()" "\r\n"
    R"(Delete From OPCostMaterielInfo_History WHERE  FYearPeriod='{YearPeriod}')";

constexpr std::string_view kExpenseArchive =
    R"(DECLARE @MAXFID INT )" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostExpenseDistributeInfo_History)" "\r\n"
    R"(INSERT INTO OPCostExpenseDistributeInfo_History (FID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount))" "\r\n"
    R"(SELECT FID+@MAXFID,FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount FROM OPCostExpenseDistributeInfo)" "\r\n"
    R"(WHERE FYearPeriod='{YearPeriod}')" "\r\n"
    R"()" "\r\n"
    R"(Delete From OPCostExpenseDistributeInfo WHERE  FYearPeriod='{YearPeriod}')";

constexpr std::string_view kExpenseRestore =
    R"(DECLARE @MAXFID INT )" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostExpenseDistributeInfo_History)" "\r\n"
    R"(INSERT INTO OPCostExpenseDistributeInfo (FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount))" "\r\n"
    R"(SELECT FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,FExpID,FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount FROM OPCostExpenseDistributeInfo_History)" "\r\n"
    R"(WHERE FYearPeriod='{YearPeriod}')" "\r\n"
    R"()" "\r\n"
    R"(Delete From OPCostExpenseDistributeInfo_History WHERE  FYearPeriod='{YearPeriod}')";
// clang-format on

// Creates a fresh component in the caller's transaction and calls one method on it late-bound, as any
// client would; the instance is released when this returns.
void CallOnNewInstance(std::string_view method, const std::string& sDsn, std::int32_t lYear,
                       std::int32_t lPeriod, bool bEnd) {
  std::shared_ptr<Dispatch> instance = GetObjectContext().CreateInstance(kCloseDataProgId);
  std::array<Variant, 4> arguments{Variant(sDsn), Variant(lYear), Variant(lPeriod), Variant(bEnd)};
  static_cast<void>(instance->InvokeByName(method, arguments));
}

}  // namespace

bool CCloseData::EndHistoryData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                                bool bEnd) {
  RunInObjectContext([&] {
    // Material before expense; an error in the first leaves before the second is made.
    CallOnNewInstance("EndMatDistributeData", sDsn, lYear, lPeriod, bEnd);
    CallOnNewInstance("EndExpDistributeData", sDsn, lYear, lPeriod, bEnd);
    GetObjectContext().SetComplete();
  });
  return false;
}

bool CCloseData::EndMatDistributeData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                                      bool bEnd) {
  RunInObjectContext([&] {
    RunPlainFrame(sDsn, [&](Connection& cn) {
      cn.Execute(FillPlaceholders(bEnd ? kMaterialArchive : kMaterialRestore,
                                  {{"YearPeriod", FormatYearPeriod(lYear, lPeriod)}}));
    });
  });
  return false;
}

bool CCloseData::EndExpDistributeData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                                      bool bEnd) {
  RunInObjectContext([&] {
    RunPlainFrame(sDsn, [&](Connection& cn) {
      cn.Execute(FillPlaceholders(bEnd ? kExpenseArchive : kExpenseRestore,
                                  {{"YearPeriod", FormatYearPeriod(lYear, lPeriod)}}));
    });
  });
  return false;
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> EndHistoryData() {
  return {{"MaterialArchive", kMaterialArchive},
          {"MaterialRestore", kMaterialRestore},
          {"ExpenseArchive", kExpenseArchive},
          {"ExpenseRestore", kExpenseRestore}};
}

}  // namespace step_texts

}  // namespace closewright
