#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/PubFunction.h"
#include "close/SqlText.h"
#include "outside/ObjectContext.h"
#include "outside/Variant.h"

namespace closewright {
namespace {

// The statements of the ending-balance step, in the order they are sent. Lines are joined with CR LF and
// every blank at the start or end of a line belongs to the text.
// clang-format off
constexpr std::string_view kDeleteEndQuantities =
    R"(Delete OPCostBalance WHERE FTypeID=3 AND FYear={lYear} AND FPeriod={lPeriod})";

constexpr std::string_view kInsertEndQuantities =
    R"(INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FOnlnQty,FNotStockQty,FTypeID) )" "\r\n"
    R"( SELECT '{YearPeriod}',{lYear},{lPeriod},a.FICMOInterID,a.FCostCenterID,0,a.FWIPQty,a.FNotStockQty,3  )" "\r\n"
    R"( FROM OPCostWIPCheck a INNER JOIN icmo b on a.FICMOInterID =b.finterid )" "\r\n"
    R"( WHERE a.FYearPeriod='{YearPeriod}' and (b.fstatus<>3 OR (b.fstatus=3 AND (a.FWIPQty+a.FNotStockQty)<>0) OR (b.fstatus=3 AND b.fCloseDate>='{DayAfterPeriodEnd}')) and b.FCancellation=0 )" "\r\n";

constexpr std::string_view kDeleteEndAmounts =
    R"(Delete OPCostBalance WHERE FTypeID=4 AND FYear={lYear} AND FPeriod={lPeriod})";

constexpr std::string_view kInsertEndAmounts =
    R"(INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FEndBal,FTypeID))" "\r\n"
    R"( SELECT '{YearPeriod}',{lYear},{lPeriod},a.FICMOInterID,a.FCostCenterID,a.FCostItemID,a.FOnlineAmount,4 )" "\r\n"
    R"( FROM OPCostCalinfo a INNER JOIN icmo b on a.FICMOInterID =b.finterid )" "\r\n"
    R"( WHERE a.FYearPeriod='{YearPeriod}'  and (b.fstatus<>3 OR (b.fstatus=3 AND a.FOnlineAmount<>0)  OR (b.fstatus=3 AND b.fCloseDate>='{DayAfterPeriodEnd}')) and b.FCancellation=0 )" "\r\n";
// clang-format on

}  // namespace

void CCloseData::SetEndBal(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod) {
  RunInObjectContext([&] {
    // Closing on the zero date would keep every closed task, so a period the calendar cannot resolve stops
    // the step before anything reaches the server.
    DateValue periodStart;
    DateValue dayAfterPeriodEnd;
    RequirePeriodBounds(sDsn, lYear, lPeriod, periodStart, dayAfterPeriodEnd, "CCloseData.SetEndBal");
    const std::string dayAfter = FormatDateIso(dayAfterPeriodEnd);

    RunPlainFrame(sDsn, [&](Connection& cn) {
      const std::string yearPeriod = FormatYearPeriod(lYear, lPeriod);
      const std::initializer_list<Placeholder> values{{"YearPeriod", yearPeriod},
                                                      {"lYear", std::to_string(lYear)},
                                                      {"lPeriod", std::to_string(lPeriod)},
                                                      {"DayAfterPeriodEnd", dayAfter}};
      cn.Execute(FillPlaceholders(kDeleteEndQuantities, values));
      cn.Execute(FillPlaceholders(kInsertEndQuantities, values));
      cn.Execute(FillPlaceholders(kDeleteEndAmounts, values));
      cn.Execute(FillPlaceholders(kInsertEndAmounts, values));
    });
  });
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> SetEndBal() {
  return {{"DeleteEndQuantities", kDeleteEndQuantities},
          {"InsertEndQuantities", kInsertEndQuantities},
          {"DeleteEndAmounts", kDeleteEndAmounts},
          {"InsertEndAmounts", kInsertEndAmounts}};
}

}  // namespace step_texts

}  // namespace closewright
