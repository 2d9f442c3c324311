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

// The year statement, then the period batch. On a reopen the two deletes are glued to the period statement
// as one batch: no separator after 'CurrentPeriod', CR LF before the second delete, a blank at its end.
// clang-format off
constexpr std::string_view kSetCurrentYear =
    R"(UPDATE t_SystemProfile SET FValue = '{lNextYear}' WHERE FCategory = 'OPCost' AND FKey = 'CurrentYear')";

constexpr std::string_view kSetCurrentPeriod =
    R"(UPDATE t_SystemProfile SET FValue = '{lNextPeriod}' WHERE FCategory = 'OPCost' AND FKey = 'CurrentPeriod')";

constexpr std::string_view kDiscardReopenedBalances =
    R"(DELETE FROM opcostBalance WHERE FYear+0.0001*FPeriod > {NextPeriodNumber})" "\r\n"
    R"( DELETE FROM opcostBalance WHERE FYear= {lNextYear} and FPeriod= {lNextPeriod} and FTypeID in (3,4) )";
// clang-format on

}  // namespace

Variant CCloseData::SetCurrentPeriod(const std::string& sDsn, std::int32_t lNextYear,
                                     std::int32_t lNextPeriod, Variant* bUnClosed) {
  RunInObjectContext([&] {
    // Read before anything is sent, so an argument that is no Boolean fails without touching the server.
    const bool unClosed = bUnClosed != nullptr && bUnClosed->ToBoolean();
    RunPlainFrame(sDsn, [&](Connection& cn) {
      const std::initializer_list<Placeholder> values{
          {"lNextYear", std::to_string(lNextYear)},
          {"lNextPeriod", std::to_string(lNextPeriod)},
          {"NextPeriodNumber",
           FormatDouble(static_cast<double>(lNextPeriod) * 0.0001 + static_cast<double>(lNextYear))}};
      cn.Execute(FillPlaceholders(kSetCurrentYear, values));

      std::string periodBatch = FillPlaceholders(kSetCurrentPeriod, values);
      if (unClosed) {
        periodBatch += FillPlaceholders(kDiscardReopenedBalances, values);
      }
      cn.Execute(periodBatch);
    });
  });
  return Variant();
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> SetCurrentPeriod() {
  return {{"SetCurrentYear", kSetCurrentYear},
          {"SetCurrentPeriod", kSetCurrentPeriod},
          {"DiscardReopenedBalances", kDiscardReopenedBalances}};
}

}  // namespace step_texts

}  // namespace closewright
