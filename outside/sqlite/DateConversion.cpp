#include "outside/sqlite/DateConversion.h"

#include <cmath>

#include "outside/CivilDate.h"
#include "outside/Text.h"

namespace closewright::sqlite {

namespace {

constexpr std::int64_t kBaseDays = DaysFromCivil(1899, 12, 30);
constexpr std::int64_t kTicksPerMillisecond = 10'000;
constexpr std::int64_t kTicksPerSecond = 10'000'000;

constexpr std::int64_t DayNumber(std::int64_t year, unsigned month, unsigned day) {
  return DaysFromCivil(year, month, day) - kBaseDays;
}

bool LeapYear(std::int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
unsigned DaysInMonth(std::int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && LeapYear(y) ? 29 : kDays[m - 1];
}

std::int64_t FloorDivide(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

struct DateReader {
  std::string_view s;
  std::size_t i = 0;
  bool Done() const { return i >= s.size(); }
  char Peek() const { return i < s.size() ? s[i] : '\0'; }
  bool Eat(char c) {
    if (Peek() != c) return false;
    ++i;
    return true;
  }
  // Reads between min and max digits.
  bool Digits(std::size_t min, std::size_t max, int& value) {
    std::size_t start = i;
    value = 0;
    while (i < s.size() && i - start < max && s[i] >= '0' && s[i] <= '9') value = value * 10 + (s[i++] - '0');
    return i - start >= min;
  }
  void Blanks() {
    while (i < s.size() && s[i] == ' ') ++i;
  }
};

// hh:mm[:ss[.fffffff]] [AM|PM], as ticks since midnight; `fractionDigits` is how many digits of a second
// the text gives.
bool ReadTime(DateReader& r, std::int64_t& ticks, int& fractionDigits) {
  int h = 0;
  int mi = 0;
  int sec = 0;
  std::int64_t fraction = 0;
  if (!r.Digits(1, 2, h) || !r.Eat(':') || !r.Digits(1, 2, mi)) return false;
  if (r.Eat(':')) {
    if (!r.Digits(1, 2, sec)) return false;
    if (r.Eat('.') || r.Eat(':')) {
      const std::size_t start = r.i;
      int digits = 0;
      if (!r.Digits(1, 7, digits)) return false;
      fraction = digits;
      fractionDigits = static_cast<int>(r.i - start);
      for (std::size_t k = r.i - start; k < 7; ++k) fraction *= 10;
    }
  }
  r.Blanks();
  if (r.Peek() == 'A' || r.Peek() == 'a' || r.Peek() == 'P' || r.Peek() == 'p') {
    const bool pm = r.Peek() == 'P' || r.Peek() == 'p';
    ++r.i;
    if (!(r.Eat('M') || r.Eat('m'))) return false;
    if (h < 1 || h > 12) return false;
    if (pm && h != 12) h += 12;
    if (!pm && h == 12) h = 0;
  }
  if (h >= 24 || mi >= 60 || sec >= 60) return false;
  ticks = ((h * 60LL + mi) * 60 + sec) * kTicksPerSecond + fraction;
  return true;
}

// A text as the server's date forms read it: the instant, or why there is none.
struct DateReading {
  enum class Status { Instant, NotADate, NoSuchDay } status = Status::NotADate;
  std::int64_t day = 0;   // since 1899-12-30
  std::int64_t time = 0;  // ticks since midnight
  int fractionDigits = 0;
};

DateReading ReadDateText(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  // An empty text is the first day of 1900, as SQL Server converts it.
  if (text.empty()) return {DateReading::Status::Instant, DayNumber(1900, 1, 1), 0, 0};
  DateReader r{text};
  int y = 0;
  int m = 0;
  int d = 0;
  int first = 0;
  if (!r.Digits(1, 8, first)) return {};
  const std::size_t firstDigits = r.i;
  if (firstDigits == 8 && (r.Done() || r.Peek() == ' ' || r.Peek() == 'T')) {
    y = first / 10000;
    m = (first / 100) % 100;
    d = first % 100;
  } else if (firstDigits == 4 && (r.Peek() == '-' || r.Peek() == '/' || r.Peek() == '.')) {
    const char separator = r.Peek();
    ++r.i;
    y = first;
    if (!r.Digits(1, 2, m) || !r.Eat(separator) || !r.Digits(1, 2, d)) return {};
  } else if (firstDigits <= 2 && (r.Peek() == '/' || r.Peek() == '-' || r.Peek() == '.')) {
    // The machine's regional short date of the United States: month/day/year.
    const char separator = r.Peek();
    ++r.i;
    m = first;
    if (!r.Digits(1, 2, d) || !r.Eat(separator) || !r.Digits(4, 4, y)) return {};
  } else {
    return {};
  }
  std::int64_t time = 0;
  int fractionDigits = 0;
  if (!r.Done()) {
    if (!(r.Eat('T') || r.Eat(' '))) return {};
    r.Blanks();
    if (!ReadTime(r, time, fractionDigits) || !r.Done()) return {};
  }
  if (y < 1 || m < 1 || m > 12 || d < 1 ||
      static_cast<unsigned>(d) > DaysInMonth(y, static_cast<unsigned>(m)))
    return {DateReading::Status::NoSuchDay, 0, 0, 0};
  return {DateReading::Status::Instant, DayNumber(y, static_cast<unsigned>(m), static_cast<unsigned>(d)),
          time, fractionDigits};
}

struct DayRange {
  std::int64_t first;
  std::int64_t last;
};

// The "Date range" of each type's page: datetime 1753-01-01 through 9999-12-31, smalldatetime 1900-01-01
// through 2079-06-06, date and datetime2 0001-01-01 through 9999-12-31.
DayRange RangeOf(DateKind kind) {
  switch (kind) {
    case DateKind::DateTime:
      return {DayNumber(1753, 1, 1), DayNumber(9999, 12, 31)};
    case DateKind::SmallDateTime:
      return {DayNumber(1900, 1, 1), DayNumber(2079, 6, 6)};
    default:
      return {DayNumber(1, 1, 1), DayNumber(9999, 12, 31)};
  }
}

// DATETIME counts a day in ticks of 1/300 second; a time is rounded to whole milliseconds first.
std::int64_t ThreeHundredthsOf(std::int64_t timeOfDay) {
  const std::int64_t milliseconds = (timeOfDay + kTicksPerMillisecond / 2) / kTicksPerMillisecond;
  return (milliseconds * 3 + 5) / 10;
}

// A day and a time as `type` holds them; false when they fall outside the type's range. learn.microsoft.com:
//   datetime (Transact-SQL): "Rounded to increments of .000, .003, or .007 seconds"; 23:59:59.999 is the
//     next day.
//   smalldatetime (Transact-SQL): "Values that are 29.998 seconds or less are rounded down to the nearest
//     minute, Values of 29.999 seconds or more are rounded up": the seconds at DATETIME's ticks, where
//     29.998 is 29.997 and 29.999 is 30.000, then half a minute and more rounds up.
//   date (Transact-SQL): the day alone, "Accuracy: One day"; a time given with it is dropped, not rounded.
//   datetime2 (Transact-SQL): "datetime2 [ (fractional seconds precision) ]", 0 to 7 digits, default 7,
//     "Accuracy 100 nanoseconds"; fewer digits are rounded (half up): "the SQL Server behavior is to
//     round; for example, rounding occurs when you go from datetime2(6) to datetime2(2)" ("Conversions from
//     C to SQL").
bool RoundParts(std::int64_t& day, std::int64_t& time, DateType type) {
  switch (type.kind) {
    case DateKind::DateTime:
      time = (ThreeHundredthsOf(time) * 10 + 1) / 3 * kTicksPerMillisecond;
      break;
    case DateKind::SmallDateTime:
      time = (ThreeHundredthsOf(time) + 9'000) / 18'000 * 60 * kTicksPerSecond;
      break;
    case DateKind::Date:
      time = 0;
      break;
    case DateKind::DateTime2: {
      std::int64_t unit = 1;
      for (int k = type.digits; k < 7; ++k) unit *= 10;
      time = (time + unit / 2) / unit * unit;
      break;
    }
  }
  if (time >= kTicksPerDay) {
    time -= kTicksPerDay;
    ++day;
  }
  const DayRange range = RangeOf(type.kind);
  return day >= range.first && day <= range.last;
}

DateConversion Failed(std::int32_t number, const char* sqlState, std::string message) {
  DateConversion conversion;
  conversion.error = ConversionError{number, sqlState, std::move(message)};
  return conversion;
}

DateConversion NotADate() {
  return Failed(241, "22007", "Conversion failed when converting date and/or time from character string.");
}

// learn.microsoft.com "Database engine events and errors": 242 "The conversion of a %ls data type to a %ls
// data type resulted in an out-of-range value."; for smalldatetime the server raises 296 "The conversion of
// char data type to smalldatetime data type resulted in an out-of-range smalldatetime value.".
DateConversion OutOfRange(DateType type) {
  if (type.kind == DateKind::SmallDateTime) {
    return Failed(296, "22007",
                  "The conversion of char data type to smalldatetime data type resulted in an out-of-range "
                  "smalldatetime value.");
  }
  return Failed(242, "22007",
                "The conversion of a varchar data type to a " + type.Name() +
                    " data type resulted in an out-of-range value.");
}

}  // namespace

std::optional<DateTicks> RoundToType(DateTicks ticks, DateType type) {
  std::int64_t day = FloorDivide(ticks, kTicksPerDay);
  std::int64_t time = ticks - day * kTicksPerDay;
  if (!RoundParts(day, time, type)) return std::nullopt;
  return day * kTicksPerDay + time;
}

std::string DateType::Name() const {
  switch (kind) {
    case DateKind::DateTime:
      return "datetime";
    case DateKind::SmallDateTime:
      return "smalldatetime";
    case DateKind::Date:
      return "date";
    case DateKind::DateTime2:
      return "datetime2";
  }
  return "datetime";
}

std::string DateType::Declaration() const {
  if (kind == DateKind::DateTime2) return "DATETIME2(" + std::to_string(digits) + ")";
  return ToUpperAscii(Name());
}

std::optional<DateType> DateTypeOf(const TypeDeclaration& declaration) {
  const std::string& word = declaration.word;
  if (word == "DATETIME") return DateType::Of(DateKind::DateTime);
  if (word == "SMALLDATETIME") return DateType::Of(DateKind::SmallDateTime);
  if (word == "DATE") return DateType::Of(DateKind::Date);
  if (word != "DATETIME2") return std::nullopt;
  const int digits = declaration.arguments.empty() ? 7 : declaration.arguments[0];
  if (digits < 0 || digits > 7) return std::nullopt;
  return DateType{DateKind::DateTime2, digits};
}

DateConversion ConvertDateText(std::string_view text, DateType target) {
  const DateReading reading = ReadDateText(text);
  if (reading.status == DateReading::Status::NotADate) return NotADate();
  // DATETIME reads "zero to three digits" of a second (learn.microsoft.com "datetime (Transact-SQL)",
  // "Element ranges"), and SMALLDATETIME the same forms, whose seconds round by DATETIME's ticks
  // ("smalldatetime (Transact-SQL)": 29.998 and 29.999 seconds): a fourth digit makes the text no date.
  const bool legacy = target.kind == DateKind::DateTime || target.kind == DateKind::SmallDateTime;
  if (legacy && reading.fractionDigits > 3) return NotADate();
  // A day the calendar does not have: DATETIME and SMALLDATETIME call it out of range, the newer types a
  // text that is no date.
  if (reading.status == DateReading::Status::NoSuchDay) return legacy ? OutOfRange(target) : NotADate();
  std::int64_t day = reading.day;
  std::int64_t time = reading.time;
  if (!RoundParts(day, time, target)) return OutOfRange(target);
  DateConversion conversion;
  conversion.ticks = day * kTicksPerDay + time;
  return conversion;
}

DateConversion ConvertDaysToDate(double days, bool integer, DateType target, bool explicitConversion) {
  const char* source = integer ? "int" : "numeric";
  if (target.kind == DateKind::Date || target.kind == DateKind::DateTime2) {
    if (explicitConversion) {
      return Failed(529, "42000",
                    std::string("Explicit conversion from data type ") + source + " to " + target.Name() +
                        " is not allowed.");
    }
    return Failed(206, "22005",
                  std::string("Operand type clash: ") + source + " is incompatible with " + target.Name());
  }
  const double fromBase = (days + static_cast<double>(DayNumber(1900, 1, 1))) * 86'400'000.0;
  std::optional<DateTicks> rounded;
  // Beyond ten thousand years no day of any type is near: the overflow below, without a cast that overflows.
  if (std::isfinite(fromBase) && std::fabs(fromBase) < 4e14)
    rounded = RoundToType(std::llround(fromBase) * kTicksPerMillisecond, target);
  if (!rounded) {
    return Failed(8115, "22003",
                  "Arithmetic overflow error converting expression to data type " + target.Name() + ".");
  }
  DateConversion conversion;
  conversion.ticks = *rounded;
  return conversion;
}

std::optional<DateTicks> ReadDateInstant(std::string_view text) {
  const DateReading reading = ReadDateText(text);
  if (reading.status != DateReading::Status::Instant) return std::nullopt;
  return reading.day * kTicksPerDay + reading.time;
}

std::string FormatDate(DateTicks ticks, DateType type) {
  const std::int64_t day = FloorDivide(ticks, kTicksPerDay);
  const std::int64_t time = ticks - day * kTicksPerDay;
  const CivilDate date = CivilFromDays(day + kBaseDays);
  // Written digit by digit: the date triggers format every stored value, and this is most of their work.
  char buffer[32];
  std::size_t length = 0;
  auto put = [&](std::int64_t value, std::size_t width) {
    for (std::size_t k = width; k-- > 0; value /= 10)
      buffer[length + k] = static_cast<char>('0' + value % 10);
    length += width;
  };
  auto mark = [&](char c) { buffer[length++] = c; };
  put(date.year, 4);
  mark('-');
  put(date.month, 2);
  mark('-');
  put(date.day, 2);
  if (type.kind == DateKind::Date) return std::string(buffer, length);
  mark(' ');
  put(time / (3600 * kTicksPerSecond), 2);
  mark(':');
  put(time / (60 * kTicksPerSecond) % 60, 2);
  mark(':');
  put(time / kTicksPerSecond % 60, 2);
  const std::int64_t fraction = time % kTicksPerSecond;
  if (type.kind == DateKind::DateTime) {
    mark('.');
    put(fraction / kTicksPerMillisecond, 3);
  } else if (type.kind == DateKind::DateTime2 && type.digits > 0) {
    // The digits the type keeps; none, and no point, for DATETIME2(0).
    std::int64_t kept = fraction;
    for (int k = type.digits; k < 7; ++k) kept /= 10;
    mark('.');
    put(kept, static_cast<std::size_t>(type.digits));
  }
  return std::string(buffer, length);
}

double DateValueDays(DateTicks ticks) {
  const std::int64_t milliseconds = FloorDivide(ticks, kTicksPerMillisecond);
  if (milliseconds >= 0) return static_cast<double>(milliseconds) / 86'400'000.0;
  // Before 1899-12-30 the platform keeps the time as a positive fraction after a negative day number.
  const std::int64_t day = FloorDivide(milliseconds, 86'400'000);
  return static_cast<double>(day) - static_cast<double>(milliseconds - day * 86'400'000) / 86'400'000.0;
}

}  // namespace closewright::sqlite
