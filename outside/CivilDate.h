#pragma once

#include <cstdint>

namespace closewright {

/// A day of the proleptic Gregorian calendar: month 1-12, day 1-31.
struct CivilDate {
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
};

/// Days from 1970-01-01 to a civil date (negative before it). The date is not checked: the platform's
/// dates, the embedded provider's datetime functions and the sample ledger all validate before they count.
/// Counted in 400-year eras of 146097 days from 0000-03-01, so that the leap day ends each counted year.
constexpr std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) noexcept {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

constexpr std::int64_t DaysFromCivil(const CivilDate& date) noexcept {
  return DaysFromCivil(date.year, date.month, date.day);
}

/// The civil date `days` days after 1970-01-01: the inverse of DaysFromCivil.
constexpr CivilDate CivilFromDays(std::int64_t days) noexcept {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned mp = (5 * dayOfYear + 2) / 153;
  CivilDate date;
  date.day = dayOfYear - (153 * mp + 2) / 5 + 1;
  date.month = mp < 10 ? mp + 3 : mp - 9;
  date.year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (date.month <= 2 ? 1 : 0);
  return date;
}

}  // namespace closewright
