#include "close/PubFunction.h"

#include <array>
#include <optional>

#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dispatch.h"

namespace closewright {
namespace {

constexpr double kLastRepresentableDay = 2958465.0;  // 9999-12-31

// The lookup itself; returns the error that ended it, if any. Outputs are stored as soon as each is known.
std::optional<ComError> LookUpPeriodBounds(const std::string& description, std::int32_t year,
                                           std::int32_t period, DateValue& periodStart,
                                           DateValue& dayAfterPeriodEnd) {
  try {
    std::shared_ptr<Dispatch> calendar = CreateObject(kCalendarProgId);
    std::array<Variant, 5> arguments{Variant(description), Variant(period), Variant(year),
                                     Variant(DateValue{}), Variant(DateValue{})};
    calendar->InvokeByName("GetPeriodStartEnd", arguments);
    periodStart = arguments[3].ToDate();
    const DateValue lastDay = arguments[4].ToDate();
    if (lastDay.days + 1.0 > kLastRepresentableDay + 1.0)
      throw ComError::Runtime(error_number::kInvalidProcedureCall);
    // Adding a day moves the day part; the time of day stays as it was.
    dayAfterPeriodEnd = DateValue{lastDay.days + 1.0};
    return std::nullopt;
  } catch (const ComError& error) {
    return error;
  }
}

}  // namespace

bool GetPeriodBounds(const std::string& description, std::int32_t year, std::int32_t period,
                     DateValue& periodStart, DateValue& dayAfterPeriodEnd) {
  std::optional<ComError> failure =
      LookUpPeriodBounds(description, year, period, periodStart, dayAfterPeriodEnd);
  if (!failure) return true;
  ReportSwallowedError(*failure, "PubFunction.GetPeriodBounds");
  return false;
}

void RequirePeriodBounds(const std::string& description, std::int32_t year, std::int32_t period,
                         DateValue& periodStart, DateValue& dayAfterPeriodEnd, const std::string& source) {
  std::optional<ComError> failure =
      LookUpPeriodBounds(description, year, period, periodStart, dayAfterPeriodEnd);
  if (!failure) return;
  std::string message = "The accounting calendar could not give the dates of period " +
                        std::to_string(period) + " of year " + std::to_string(year);
  if (!failure->Description().empty()) message += ": " + failure->Description();
  throw ComError(error_number::kPeriodDatesUnavailable, source, message);
}

}  // namespace closewright
