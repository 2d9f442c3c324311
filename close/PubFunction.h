#pragma once

#include <cstdint>
#include <string>

#include "outside/Variant.h"

namespace closewright {

inline constexpr std::string_view kCalendarProgId = "FiscalTerm.clsFiscalTerm";

/// Asks the accounting calendar for the first day of a period and the day after its last day. True when
/// both were obtained; on any failure False, with the outputs not yet stored left as the caller gave them.
/// The swallowed error goes to the diagnostics sink.
bool GetPeriodBounds(const std::string& description, std::int32_t year, std::int32_t period,
                     DateValue& periodStart, DateValue& dayAfterPeriodEnd);

/// As GetPeriodBounds, but a failed lookup raises -2147205051 with `source` and a description naming the year
/// and period (and the calendar's own message when known), so a close never runs on the zero date.
void RequirePeriodBounds(const std::string& description, std::int32_t year, std::int32_t period,
                         DateValue& periodStart, DateValue& dayAfterPeriodEnd, const std::string& source);

}  // namespace closewright
