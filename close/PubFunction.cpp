#include "close/PubFunction.h"

#include <array>
#include <optional>

#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dispatch.h"

namespace closewright {
namespace {

constexpr double kLastRepresentableDay = 2958465.0;  // 9999-12-31

// The day a date's text names, as a day number: its time of day dropped after rounding to the second.
double DayShown(DateValue date) {
  const CalendarParts parts = SplitDate(date);
  return MakeDate(parts.year, parts.month, parts.day).days;
}

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
    // Adding a day moves the day part; the time of day stays as it was.
    const DateValue dayAfter{lastDay.days + 1.0};
    // The steps write the day after into their texts; past the last representable day it would name a
    // year the server cannot read. Only its day counts, taken as the text will show it: a last day of
    // 9999-12-30 at any time of day still has a day after it.
    if (DayShown(dayAfter) > kLastRepresentableDay) {
      throw ComError(error_number::kInvalidProcedureCall, "PubFunction.GetPeriodBounds",
                     "the period ends on " + FormatDateIso(lastDay) +
                         ", and the day after it lies beyond 9999-12-31, the last day a date can hold");
    }
    dayAfterPeriodEnd = dayAfter;
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
