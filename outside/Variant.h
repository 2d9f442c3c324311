#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "outside/Decimal.h"

namespace closewright {

class Dispatch;

/// The kinds a Variant holds. LongLong and Decimal come last so that the earlier kinds keep their numbers.
enum class VariantType { Empty, Null, Boolean, Long, Double, Date, String, Object, LongLong, Decimal };

/// A date as the platform keeps it: days since 1899-12-30 00:00, the fraction being the time of day.
struct DateValue {
  double days = 0.0;
  friend bool operator==(const DateValue&, const DateValue&) = default;
};

/// The late-bound value type. Conversions follow the platform: text that is not a number gives error 13,
/// a value out of range error 6, Null where a value is needed error 94. A database's exact numbers keep
/// their digits: a 64-bit integer as LongLong, a DECIMAL, NUMERIC or MONEY value as a Decimal at its
/// column's scale.
class Variant {
 public:
  Variant() = default;
  Variant(bool value) : value_(value) {}
  Variant(std::int32_t value) : value_(value) {}
  Variant(std::int64_t value) : value_(value) {}
  Variant(Decimal value) : value_(value) {}
  Variant(double value) : value_(value) {}
  Variant(DateValue value) : value_(value) {}
  Variant(std::string value) : value_(std::move(value)) {}
  Variant(const char* value) : value_(std::string(value)) {}
  Variant(std::shared_ptr<Dispatch> value) : value_(std::move(value)) {}

  static Variant Null() {
    Variant v;
    v.value_ = NullTag{};
    return v;
  }

  VariantType Type() const noexcept { return static_cast<VariantType>(value_.index()); }
  bool IsEmpty() const noexcept { return Type() == VariantType::Empty; }
  bool IsNull() const noexcept { return Type() == VariantType::Null; }
  bool IsObject() const noexcept { return Type() == VariantType::Object; }

  bool ToBoolean() const;
  std::int32_t ToLong() const;
  std::int64_t ToLongLong() const;
  double ToDouble() const;
  DateValue ToDate() const;
  std::string ToString() const;
  /// The exact value: a Decimal as it is, an integer at scale 0, a Double as its shortest digits, a text
  /// read as SQL Server reads a number.
  Decimal ToDecimal() const;
  std::shared_ptr<Dispatch> ToObject() const;

  /// True when both hold the same type and value (objects: the same object).
  friend bool operator==(const Variant& left, const Variant& right);

 private:
  struct EmptyTag {
    friend bool operator==(EmptyTag, EmptyTag) { return true; }
  };
  struct NullTag {
    friend bool operator==(NullTag, NullTag) { return true; }
  };
  std::variant<EmptyTag, NullTag, bool, std::int32_t, double, DateValue, std::string,
               std::shared_ptr<Dispatch>, std::int64_t, Decimal>
      value_;
};

/// Days since 1899-12-30 for a calendar date (and optional time).
DateValue MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
/// Splits a date into its calendar parts; seconds are rounded to the nearest whole second.
struct CalendarParts {
  int year, month, day, hour, minute, second;
  int millisecond = 0;
};
CalendarParts SplitDate(DateValue date);
/// "yyyy-mm-dd", the form the close steps put dates into their texts.
std::string FormatDateIso(DateValue date);
/// "yyyy-mm-ddThh:mm:ss.mmm", or with another separator between the date and the time.
std::string FormatDateTimeIso(DateValue date, char separator = 'T');
/// The shortest decimal text with at most 15 significant digits, as the platform writes a Double.
std::string FormatDouble(double value);

}  // namespace closewright
