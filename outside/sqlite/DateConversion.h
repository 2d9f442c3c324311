#pragma once

// SQL Server's date and time types as the embedded provider keeps them: how a text or a number reads as a
// date, how each type rounds and bounds it, the text a value is stored as, and the errors the server raises.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "outside/sqlite/NumberConversion.h"

namespace closewright::sqlite {

enum class DateKind { DateTime, SmallDateTime, Date, DateTime2 };

/// A date type: DATETIME (1/300 s, 1753-01-01 to 9999-12-31), SMALLDATETIME (the minute, 1900-01-01 to
/// 2079-06-06), DATE (the day, 0001-01-01 to 9999-12-31) or DATETIME2(n) (n digits of a second, 0 to 7).
struct DateType {
  DateKind kind = DateKind::DateTime;
  int digits = 7;  // DATETIME2's fractional second digits

  static constexpr DateType Of(DateKind kind) { return {kind, 7}; }
  /// "datetime", "smalldatetime", ... as the server's messages name the type.
  std::string Name() const;
  /// "DATETIME2(3)", "DATE", ...: what DateTypeOf reads back.
  std::string Declaration() const;
  friend bool operator==(const DateType&, const DateType&) = default;
};

/// The date type of a declared type; nullopt for any other type and for DATETIME2 beyond 7 digits.
std::optional<DateType> DateTypeOf(const TypeDeclaration& declaration);

/// An instant in ticks of 100 ns since 1899-12-30 00:00 (negative before): fine enough for DATETIME2(7),
/// and wide enough for 0001 to 9999 in 64 bits.
using DateTicks = std::int64_t;
inline constexpr std::int64_t kTicksPerDay = 864'000'000'000;

/// A value converted to a date type, or the error the server raises instead.
struct DateConversion {
  std::optional<ConversionError> error;
  DateTicks ticks = 0;
};

/// A text converted to `target` as SQL Server converts it (the forms it reads under us_english:
/// yyyy-mm-dd[Thh:mm[:ss[.fffffff]]], yyyymmdd[ hh:mm...], m/d/yyyy[ h:mm[:ss] [AM|PM]], and '' as
/// 1900-01-01): 241 for a text that is no date, the type's out-of-range error for a date it cannot hold.
DateConversion ConvertDateText(std::string_view text, DateType target);

/// A number of days since 1900-01-01 converted to `target`, as CAST(number AS DATETIME) counts; DATE and
/// DATETIME2 take no numbers (206, or 529 for an explicit conversion). `integer` names the number's type
/// in those messages.
DateConversion ConvertDaysToDate(double days, bool integer, DateType target, bool explicitConversion);

/// An instant as `type` holds it, rounded to its precision; nullopt when that is outside the type's range.
std::optional<DateTicks> RoundToType(DateTicks ticks, DateType type);

/// The instant a text names, to 100 ns, within 0001-01-01 to 9999-12-31 and not rounded to any type;
/// nullopt when it names none.
std::optional<DateTicks> ReadDateInstant(std::string_view text);

/// The text a value of `type` is stored and shown as: DATETIME yyyy-mm-dd hh:mm:ss.fff, SMALLDATETIME
/// yyyy-mm-dd hh:mm:00, DATE yyyy-mm-dd, DATETIME2(n) yyyy-mm-dd hh:mm:ss followed by n digits.
std::string FormatDate(DateTicks ticks, DateType type);

/// The platform's date (days since 1899-12-30, the time as the fraction) of a value of a type that
/// keeps whole milliseconds (DATETIME, SMALLDATETIME, DATE); DATETIME2's 100 ns it holds only roughly.
double DateValueDays(DateTicks ticks);

}  // namespace closewright::sqlite
