#include "outside/Variant.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "outside/CivilDate.h"
#include "outside/ComError.h"
#include "outside/Dispatch.h"
#include "outside/Text.h"

namespace closewright {
namespace {

// The platform counts days from 1899-12-30.
constexpr std::int64_t kDaysFrom1970To1899_12_30 = DaysFromCivil(1899, 12, 30);
static_assert(kDaysFrom1970To1899_12_30 == -25569);

[[noreturn]] void TypeMismatch() {
  throw ComError::Runtime(error_number::kTypeMismatch);
}
[[noreturn]] void InvalidUseOfNull() {
  throw ComError::Runtime(error_number::kInvalidUseOfNull);
}

// The platform reads numbers from text with blanks around them; anything else is a type mismatch.
double ParseNumber(const std::string& text) {
  const std::string_view trimmed = TrimWhitespace(text);
  if (trimmed.empty()) TypeMismatch();
  const std::string digits(trimmed);
  if (StartsWithIgnoringCase(digits, "&H")) {
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(digits.c_str() + 2, &end, 16);
    if (end == digits.c_str() + 2 || *end != '\0') TypeMismatch();
    if (errno == ERANGE || value > 0xFFFFFFFFull) throw ComError::Runtime(error_number::kOverflow);
    return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(value)));
  }
  // strtod would also take "inf", "nan" and hexadecimal floats, which the platform does not.
  for (char c : digits) {
    if (!((c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E')) TypeMismatch();
  }
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(digits.c_str(), &end);
  if (end == digits.c_str() || *end != '\0') TypeMismatch();
  if (errno == ERANGE && std::isinf(value)) throw ComError::Runtime(error_number::kOverflow);
  return value;
}

std::int32_t RoundToLong(double value) {
  if (std::isnan(value)) throw ComError::Runtime(error_number::kOverflow);
  // Banker's rounding, as the platform's integer conversion does.
  const double rounded = std::nearbyint(value);
  if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
      rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
    throw ComError::Runtime(error_number::kOverflow);
  }
  return static_cast<std::int32_t>(rounded);
}

std::int64_t RoundToLongLong(double value) {
  if (std::isnan(value)) throw ComError::Runtime(error_number::kOverflow);
  const double rounded = std::nearbyint(value);
  // 2^63 is exact as a double; every double below it converts.
  if (rounded < -9223372036854775808.0 || rounded >= 9223372036854775808.0) {
    throw ComError::Runtime(error_number::kOverflow);
  }
  return static_cast<std::int64_t>(rounded);
}

// The integer nearest the decimal, a half going to the even neighbour, as a Double rounds to a Long: the
// decimal's exact digits decide, so 2.5 gives 2 and 2.5000000000000000001 gives 3.
std::int64_t RoundToEvenInteger(const Decimal& value) {
  const std::optional<std::int64_t> whole = value.TruncatedToInteger();
  if (!whole) throw ComError::Runtime(error_number::kOverflow);
  // The fraction's digits are the coefficient's last `scale` ones: what the truncation dropped.
  DecimalCoefficient scaleFactor = 1;
  for (int i = 0; i < value.Scale(); ++i) scaleFactor *= 10;
  const DecimalCoefficient dropped = value.Coefficient() % scaleFactor;
  const DecimalCoefficient twiceDropped = dropped * 2;  // below 2 * 10^38, well inside 128 bits
  const bool away = twiceDropped > scaleFactor || (twiceDropped == scaleFactor && *whole % 2 != 0);
  if (!away) return *whole;
  if (value.IsNegative()) {
    if (*whole == std::numeric_limits<std::int64_t>::min()) throw ComError::Runtime(error_number::kOverflow);
    return *whole - 1;
  }
  if (*whole == std::numeric_limits<std::int64_t>::max()) throw ComError::Runtime(error_number::kOverflow);
  return *whole + 1;
}

std::int32_t NarrowToLong(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    throw ComError::Runtime(error_number::kOverflow);
  }
  return static_cast<std::int32_t>(value);
}

bool ParseIsoDate(std::string_view text, DateValue& date) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  const std::string copy(TrimWhitespace(text));
  char tail = 0;
  const int fields = std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour,
                                 &minute, &second, &tail);
  // A fraction of a second, as the embedded provider gives a DATETIME2: "2011-04-01 10:00:00.1234567".
  double fraction = 0;
  if (fields == 7 && tail == '.') {
    const std::string digits = copy.substr(copy.find('.') + 1);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
      return false;
    double scale = 1;
    for (const char digit : digits) {
      fraction = fraction * 10 + (digit - '0');
      scale *= 10;
    }
    fraction /= scale;
  } else if (fields != 3 && fields != 5 && fields != 6) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) return false;
  date = MakeDate(year, month, day, hour, minute, second);
  date.days += (date.days < 0 ? -fraction : fraction) / 86400.0;
  return true;
}

}  // namespace

DateValue MakeDate(int year, int month, int day, int hour, int minute, int second) {
  const std::int64_t days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) -
                            kDaysFrom1970To1899_12_30;
  const double fraction = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  // Before 1899-12-30 the platform keeps the time as a positive fraction after a negative day number.
  return DateValue{static_cast<double>(days) + (days < 0 ? -fraction : fraction)};
}

CalendarParts SplitDate(DateValue date) {
  const double whole = std::trunc(date.days);
  double fraction = std::fabs(date.days - whole);
  // Milliseconds, the finest a database date carries here: a time of 23:59:59.990 stays on its day.
  auto milliseconds = static_cast<std::int64_t>(std::llround(fraction * 86'400'000.0));
  auto days = static_cast<std::int64_t>(whole);
  if (milliseconds >= 86'400'000) {
    milliseconds -= 86'400'000;
    days += date.days < 0 ? -1 : 1;
  }
  const std::int64_t seconds = milliseconds / 1000;
  CalendarParts parts{};
  const CivilDate civil = CivilFromDays(days + kDaysFrom1970To1899_12_30);
  parts.year = static_cast<int>(civil.year);
  parts.month = static_cast<int>(civil.month);
  parts.day = static_cast<int>(civil.day);
  parts.hour = static_cast<int>(seconds / 3600);
  parts.minute = static_cast<int>(seconds / 60 % 60);
  parts.second = static_cast<int>(seconds % 60);
  parts.millisecond = static_cast<int>(milliseconds % 1000);
  return parts;
}

std::string FormatDateIso(DateValue date) {
  const CalendarParts parts = SplitDate(date);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.year, parts.month, parts.day);
  return text;
}

std::string FormatDateTimeIso(DateValue date, char separator) {
  const CalendarParts parts = SplitDate(date);
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d.%03d", parts.year, parts.month, parts.day,
                separator, parts.hour, parts.minute, parts.second, parts.millisecond);
  return text;
}

std::string FormatDouble(double value) {
  if (value == 0.0) return "0";
  char text[40];
  std::snprintf(text, sizeof text, "%.15g", value);
  std::string result = text;
  for (char& c : result) {
    if (c == 'e') c = 'E';
  }
  return result;
}

bool Variant::ToBoolean() const {
  switch (Type()) {
    case VariantType::Empty:
      return false;
    case VariantType::Null:
      InvalidUseOfNull();
    case VariantType::Boolean:
      return std::get<bool>(value_);
    case VariantType::Long:
      return std::get<std::int32_t>(value_) != 0;
    case VariantType::Double:
      return std::get<double>(value_) != 0.0;
    case VariantType::Date:
      return std::get<DateValue>(value_).days != 0.0;
    case VariantType::LongLong:
      return std::get<std::int64_t>(value_) != 0;
    case VariantType::Decimal:
      return !std::get<Decimal>(value_).IsZero();
    case VariantType::String: {
      const std::string& text = std::get<std::string>(value_);
      const std::string_view trimmed = TrimWhitespace(text);
      if (EqualsIgnoringCase(trimmed, "True")) return true;
      if (EqualsIgnoringCase(trimmed, "False")) return false;
      return ParseNumber(text) != 0.0;
    }
    case VariantType::Object:
      TypeMismatch();
  }
  TypeMismatch();
}

std::int32_t Variant::ToLong() const {
  switch (Type()) {
    case VariantType::Empty:
      return 0;
    case VariantType::Null:
      InvalidUseOfNull();
    case VariantType::Boolean:
      return std::get<bool>(value_) ? -1 : 0;
    case VariantType::Long:
      return std::get<std::int32_t>(value_);
    case VariantType::Double:
      return RoundToLong(std::get<double>(value_));
    case VariantType::Date:
      return RoundToLong(std::get<DateValue>(value_).days);
    case VariantType::String:
      return RoundToLong(ParseNumber(std::get<std::string>(value_)));
    case VariantType::Object:
      TypeMismatch();
    case VariantType::LongLong:
      return NarrowToLong(std::get<std::int64_t>(value_));
    case VariantType::Decimal:
      return NarrowToLong(RoundToEvenInteger(std::get<Decimal>(value_)));
  }
  TypeMismatch();
}

std::int64_t Variant::ToLongLong() const {
  switch (Type()) {
    case VariantType::LongLong:
      return std::get<std::int64_t>(value_);
    case VariantType::Decimal:
      return RoundToEvenInteger(std::get<Decimal>(value_));
    case VariantType::Double:
      return RoundToLongLong(std::get<double>(value_));
    case VariantType::Date:
      return RoundToLongLong(std::get<DateValue>(value_).days);
    case VariantType::String: {
      // Read exactly: a 64-bit integer has more digits than a double keeps.
      const Decimal::ParseResult parsed = Decimal::Parse(std::get<std::string>(value_), true);
      if (parsed.status == Decimal::ParseStatus::Ok) return RoundToEvenInteger(parsed.value);
      return RoundToLongLong(ParseNumber(std::get<std::string>(value_)));
    }
    default:
      return ToLong();
  }
}

double Variant::ToDouble() const {
  switch (Type()) {
    case VariantType::Empty:
      return 0.0;
    case VariantType::Null:
      InvalidUseOfNull();
    case VariantType::Boolean:
      return std::get<bool>(value_) ? -1.0 : 0.0;
    case VariantType::Long:
      return std::get<std::int32_t>(value_);
    case VariantType::Double:
      return std::get<double>(value_);
    case VariantType::Date:
      return std::get<DateValue>(value_).days;
    case VariantType::String:
      return ParseNumber(std::get<std::string>(value_));
    case VariantType::Object:
      TypeMismatch();
    case VariantType::LongLong:
      return static_cast<double>(std::get<std::int64_t>(value_));
    case VariantType::Decimal:
      return std::get<Decimal>(value_).ToDouble();
  }
  TypeMismatch();
}

DateValue Variant::ToDate() const {
  switch (Type()) {
    case VariantType::Empty:
      return DateValue{};
    case VariantType::Null:
      InvalidUseOfNull();
    case VariantType::Date:
      return std::get<DateValue>(value_);
    case VariantType::String: {
      DateValue date;
      if (ParseIsoDate(std::get<std::string>(value_), date)) return date;
      return DateValue{ParseNumber(std::get<std::string>(value_))};
    }
    case VariantType::Object:
      TypeMismatch();
    default:
      return DateValue{ToDouble()};
  }
}

std::string Variant::ToString() const {
  switch (Type()) {
    case VariantType::Empty:
      return {};
    case VariantType::Null:
      InvalidUseOfNull();
    case VariantType::Boolean:
      return std::get<bool>(value_) ? "True" : "False";
    case VariantType::Long:
      return std::to_string(std::get<std::int32_t>(value_));
    case VariantType::Double:
      return FormatDouble(std::get<double>(value_));
    case VariantType::Date: {
      const CalendarParts parts = SplitDate(std::get<DateValue>(value_));
      char text[40];
      if (parts.hour == 0 && parts.minute == 0 && parts.second == 0 && parts.millisecond == 0) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d", parts.year, parts.month, parts.day);
      } else if (parts.millisecond != 0) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", parts.year, parts.month,
                      parts.day, parts.hour, parts.minute, parts.second, parts.millisecond);
      } else {
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", parts.year, parts.month, parts.day,
                      parts.hour, parts.minute, parts.second);
      }
      return text;
    }
    case VariantType::String:
      return std::get<std::string>(value_);
    case VariantType::Object:
      TypeMismatch();
    case VariantType::LongLong:
      return std::to_string(std::get<std::int64_t>(value_));
    case VariantType::Decimal:
      // Every digit at the value's scale, as the query's client shows a DECIMAL: VarBstrFromDec
      // (learn.microsoft.com, "VarBstrFromDec function (oleauto.h)") documents only that it converts the
      // decimal to text and fails with DISP_E_OVERFLOW or DISP_E_TYPEMISMATCH, so no digit is dropped here.
      return std::get<Decimal>(value_).ToString();
  }
  TypeMismatch();
}

Decimal Variant::ToDecimal() const {
  switch (Type()) {
    case VariantType::Decimal:
      return std::get<Decimal>(value_);
    case VariantType::LongLong:
      return Decimal::FromInteger(std::get<std::int64_t>(value_));
    case VariantType::String: {
      const Decimal::ParseResult parsed = Decimal::Parse(std::get<std::string>(value_), true);
      if (parsed.status == Decimal::ParseStatus::Ok) return parsed.value;
      if (parsed.status == Decimal::ParseStatus::TooManyDigits)
        throw ComError::Runtime(error_number::kOverflow);
      TypeMismatch();
    }
    case VariantType::Empty:
    case VariantType::Boolean:
    case VariantType::Long:
      return Decimal::FromInteger(ToLong());
    default: {
      const std::optional<Decimal> exact = Decimal::FromDouble(ToDouble());
      if (!exact) throw ComError::Runtime(error_number::kOverflow);
      return *exact;
    }
  }
}

std::shared_ptr<Dispatch> Variant::ToObject() const {
  if (Type() != VariantType::Object) throw ComError(424, "Closewright", "Object required");
  return std::get<std::shared_ptr<Dispatch>>(value_);
}

bool operator==(const Variant& left, const Variant& right) {
  return left.value_ == right.value_;
}

}  // namespace closewright
