#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/PubFunction.h"
#include "close/SqlText.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "outside/Variant.h"

namespace closewright {
namespace {

// The statements of the beginning-balance step, in the order they are sent. Lines are joined with CR LF and
// every blank at the start or end of a line belongs to the text. All of them must go over one connection:
// the finished-task list is a temporary table of that connection.
// clang-format off
constexpr std::string_view kGatherFinishedTasks =
    R"(    IF ISNULL(OBJECT_ID('TEMPDB..#OPCostCalinfo'),0)<>0 )" "\r\n"
    R"( DROP TABLE #OPCostCalinfo )" "\r\n"
    R"( CREATE TABLE #OPCostCalinfo(FICMOInterID INT NOT NULL DEFAULT(0)) )" "\r\n"
    R"( INSERT INTO #OPCostCalinfo(FICMOInterID) )" "\r\n"
    R"( select DISTINCT C.FICMOInterID )" "\r\n"
    R"( From OPCostBalance C )" "\r\n"
    R"( INNER JOIN ICMO MO ON MO.FInterID=C.FICMOInterID )" "\r\n"
    R"( where C.FTypeID=4 AND C.FYearPeriod='{YearPeriod}' And MO.FClosed = 0 )" "\r\n"
    R"( And MO.FCancellation = 0 And MO.FStatus = 3 and )" "\r\n"
    R"( mo.FCloseDate<'{NextPeriodStart}' )" "\r\n"
    R"( group by C.FICMOInterID having sum(C.Fendbal)=0 )" "\r\n"
    R"( Union )" "\r\n"
    R"( select DISTINCT A.FICMOInterID )" "\r\n"
    R"( from (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod='{YearPeriod}' AND FTypeID=3) A )" "\r\n"
    R"( INNER JOIN ICMO MO ON MO.FInterID=A.FICMOInterID )" "\r\n"
    R"( left join  (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod='{YearPeriod}' AND FTypeID=4) B on A.FICMOInterID = B.FICMOInterID )" "\r\n"
    R"( Where B.FICMOInterID Is Null And mo.FClosed = 0 )" "\r\n"
    R"( And MO.FCancellation = 0 And MO.FStatus = 3 and )" "\r\n"
    R"( mo.FCloseDate<'{NextPeriodStart}')" "\r\n";

constexpr std::string_view kDeleteBeginQuantities =
    R"( DELETE FROM OPCostBalance    WHERE FYear={lNextYear})" "\r\n"
    R"( AND FPeriod={lNextPeriod})" "\r\n"
    R"( AND FTypeID=1 )";

constexpr std::string_view kInsertBeginQuantities =
    R"(Insert Into OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FQty,FBegNotStockQty,FTypeID))" "\r\n"
    R"(SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FICMOInterID,FCostCenterID,FCostItemID,FOnlnQty,FNotStockQty,1)" "\r\n"
    R"( FROM OPCostBalance )" "\r\n"
    R"( WHERE FYear={lYear})" "\r\n"
    R"( AND FPeriod={lPeriod})" "\r\n"
    R"( AND FTypeID=3 )" "\r\n"
    R"(AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=OPCostBalance.FICMOInterID))" "\r\n";

constexpr std::string_view kDeleteBeginAmounts =
    R"( DELETE FROM OPCostBalance    WHERE FYear={lNextYear})" "\r\n"
    R"( AND FPeriod={lNextPeriod})" "\r\n"
    R"( AND FTypeID=2 )";

constexpr std::string_view kInsertBeginAmounts =
    R"(Insert Into OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FBegBal,FTypeID))" "\r\n"
    R"(SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FICMOInterID,FCostCenterID,FCostItemID,FEndBal,2)" "\r\n"
    R"( FROM OPCostBalance )" "\r\n"
    R"( WHERE FYear={lYear})" "\r\n"
    R"( AND FPeriod={lPeriod})" "\r\n"
    R"( AND FTypeID=4 )" "\r\n"
    R"(AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=OPCostBalance.FICMOInterID))" "\r\n";

constexpr std::string_view kDeleteMaterialDetails =
    R"( DELETE FROM OPCostObjDetail    WHERE FYear={lNextYear})" "\r\n"
    R"( AND FPeriod={lNextPeriod})" "\r\n";

constexpr std::string_view kInsertMaterialDetails =
    R"( INSERT INTO OPCostObjDetail(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,FBegUnOutQty,FBegUnInQty,FUsedAmount))" "\r\n"
    R"( SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FICMOInterID , FCostCenterID, FCostItemID, FMaterielID, FBatchNo,FOnlineQty,FNotStockQty,FOnlineAmount )" "\r\n"
    R"( FROM OPCostCalinfoDetail )" "\r\n"
    R"( WHERE FYear={lYear})" "\r\n"
    R"( AND FPeriod={lPeriod})" "\r\n"
    R"( AND not(FOnlineQty=0 AND FOnlineAmount=0 AND FNotStockQty=0) )" "\r\n"
    R"(AND NOT EXISTS (select 1 from #OPCostCalinfo C where C.FICMOInterID=OPCostCalinfoDetail.FICMOInterID))" "\r\n";

// The condition tests the divisor itself: quantities that cancel each other out keep their price instead of
// ending the step with a division by zero.
constexpr std::string_view kDeriveMaterialPrice =
    R"(Update OPCostObjDetail SET FPrice=FUsedAmount/(FBegUnOutQty+FBegUnInQty) WHERE (FBegUnOutQty+FBegUnInQty)<>0 AND FYear={lNextYear})" "\r\n"
    R"( AND FPeriod={lNextPeriod})" "\r\n";

constexpr std::string_view kDropFinishedTasks =
    R"(    IF ISNULL(OBJECT_ID('TEMPDB..#OPCostCalinfo'),0)<>0 )" "\r\n"
    R"( DROP TABLE #OPCostCalinfo)" "\r\n";
// clang-format on

}  // namespace

void CCloseData::SetBegBal(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                           std::int32_t lNextYear, std::int32_t lNextPeriod) {
  RunInObjectContext([&] {
    // The next period's opening rows are deleted and then copied from the closed period's ending rows: into
    // the closed period itself, that would replace its own opening balances with its ending ones.
    if (lNextYear == lYear && lNextPeriod == lPeriod) {
      throw ComError(error_number::kNextPeriodIsClosedPeriod, "CCloseData.SetBegBal",
                     "The next period " + FormatYearPeriod(lNextYear, lNextPeriod) +
                         " is the closed period itself: carrying its balances forward would overwrite its "
                         "opening balances with its ending ones.");
    }

    RunPlainFrame(sDsn, [&](Connection& cn) {
      const std::string yearPeriod = FormatYearPeriod(lYear, lPeriod);

      // On the zero date no task would count as finished and every one would be carried forward, so a next
      // period the calendar cannot resolve stops the step before its first statement.
      DateValue nextPeriodStart;
      DateValue dayAfterNextPeriodEnd;
      RequirePeriodBounds(sDsn, lNextYear, lNextPeriod, nextPeriodStart, dayAfterNextPeriodEnd,
                          "CCloseData.SetBegBal");

      cn.Execute(FillPlaceholders(
          kGatherFinishedTasks,
          {{"YearPeriod", yearPeriod}, {"NextPeriodStart", FormatDateIso(nextPeriodStart)}}));

      const std::string nextYearPeriod = FormatYearPeriod(lNextYear, lNextPeriod);
      const std::initializer_list<Placeholder> values{{"NextYearPeriod", nextYearPeriod},
                                                      {"lYear", std::to_string(lYear)},
                                                      {"lPeriod", std::to_string(lPeriod)},
                                                      {"lNextYear", std::to_string(lNextYear)},
                                                      {"lNextPeriod", std::to_string(lNextPeriod)}};
      cn.Execute(FillPlaceholders(kDeleteBeginQuantities, values));
      cn.Execute(FillPlaceholders(kInsertBeginQuantities, values));
      cn.Execute(FillPlaceholders(kDeleteBeginAmounts, values));
      cn.Execute(FillPlaceholders(kInsertBeginAmounts, values));
      cn.Execute(FillPlaceholders(kDeleteMaterialDetails, values));
      cn.Execute(FillPlaceholders(kInsertMaterialDetails, values));
      cn.Execute(FillPlaceholders(kDeriveMaterialPrice, values));
      cn.Execute(kDropFinishedTasks);
    });
  });
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> SetBegBal() {
  return {
      {"GatherFinishedTasks", kGatherFinishedTasks},     {"DeleteBeginQuantities", kDeleteBeginQuantities},
      {"InsertBeginQuantities", kInsertBeginQuantities}, {"DeleteBeginAmounts", kDeleteBeginAmounts},
      {"InsertBeginAmounts", kInsertBeginAmounts},       {"DeleteMaterialDetails", kDeleteMaterialDetails},
      {"InsertMaterialDetails", kInsertMaterialDetails}, {"DeriveMaterialPrice", kDeriveMaterialPrice},
      {"DropFinishedTasks", kDropFinishedTasks}};
}

}  // namespace step_texts

}  // namespace closewright
