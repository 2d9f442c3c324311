#include "outside/calendar/FiscalTerm.h"

#include <array>

#include "outside/ComError.h"

namespace closewright {
namespace {

constexpr DispatchId kGetPeriodStartEnd = 1;
constexpr std::array kMembers{DispatchMember{"GetPeriodStartEnd", kGetPeriodStartEnd}};

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

}  // namespace

void FiscalTerm::GetPeriodStartEnd(std::span<Variant> arguments) {
  const std::int32_t period = RequiredArgument(arguments, 1).ToLong();
  const std::int32_t year = RequiredArgument(arguments, 2).ToLong();
  RequiredArgument(arguments, 4);
  if (period < 1 || period > 12 || year < 100 || year > 9999) {
    throw ComError(error_number::kInvalidProcedureCall, "FiscalTerm.clsFiscalTerm",
                   "Period " + std::to_string(period) + " of year " + std::to_string(year) +
                       " is not in the calendar (periods 1 to 12 of years 100 to 9999)");
  }
  arguments[3] = MakeDate(year, period, 1);
  arguments[4] = MakeDate(year, period, DaysInMonth(year, period));
}

DispatchId FiscalTerm::GetIDOfName(std::string_view name) {
  return FindDispatchMember(kMembers, name);
}

Variant FiscalTerm::Invoke(DispatchId id, std::span<Variant> arguments) {
  if (id != kGetPeriodStartEnd) throw ComError::Runtime(error_number::kMemberNotSupported);
  GetPeriodStartEnd(arguments);
  return {};
}

}  // namespace closewright
