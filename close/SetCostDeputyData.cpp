#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/SqlText.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"

namespace closewright {
namespace {

// The delete of the next period, then the copy of the closed one. Lines are joined with CR LF.
// clang-format off
constexpr std::string_view kDeleteNextPeriod =
    R"(Delete FROM OPCostDeputyInfo WHERE FYearPeriod='{NextYearPeriod}')";

constexpr std::string_view kCopyClosedPeriod =
    R"(Insert INTO OPCostDeputyInfo(FYear,FPeriod,FYearPeriod,FCostItemID,FProductID,FAmount))" "\r\n"
    R"( SELECT {lNextYear},{lNextPeriod},'{NextYearPeriod}',FCostItemID,FProductID,FAmount  FROM OPCostDeputyInfo)" "\r\n"
    R"( WHERE FYearPeriod='{YearPeriod}')";
// clang-format on

}  // namespace

void CCloseData::SetCostDeputyData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                                   std::int32_t lNextYear, std::int32_t lNextPeriod) {
  RunInObjectContext([&] {
    const std::string yearPeriod = FormatYearPeriod(lYear, lPeriod);
    const std::string nextYearPeriod = FormatYearPeriod(lNextYear, lNextPeriod);
    // The delete of the next period would remove the closed period's own rows before the copy reads them.
    if (nextYearPeriod == yearPeriod) {
      throw ComError(error_number::kNextPeriodIsClosedPeriod, "CCloseData.SetCostDeputyData",
                     "The next period " + nextYearPeriod +
                         " is the closed period itself: carrying its deputy data forward would delete it.");
    }

    RunPlainFrame(sDsn, [&](Connection& cn) {
      const std::initializer_list<Placeholder> values{{"YearPeriod", yearPeriod},
                                                      {"NextYearPeriod", nextYearPeriod},
                                                      {"lNextYear", std::to_string(lNextYear)},
                                                      {"lNextPeriod", std::to_string(lNextPeriod)}};
      cn.Execute(FillPlaceholders(kDeleteNextPeriod, values));
      cn.Execute(FillPlaceholders(kCopyClosedPeriod, values));
    });
  });
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> SetCostDeputyData() {
  return {{"DeleteNextPeriod", kDeleteNextPeriod}, {"CopyClosedPeriod", kCopyClosedPeriod}};
}

}  // namespace step_texts

}  // namespace closewright
