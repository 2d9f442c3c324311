#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace closewright {

__extension__ typedef unsigned __int128 DecimalCoefficient;

/// An exact decimal number as SQL Server holds DECIMAL, NUMERIC, MONEY and SMALLMONEY: a coefficient of at
/// most 38 digits and a scale, the count of those digits after the point. SQL Server keeps the same
/// 128-bit integer and scale, so the same values fit and the same ones overflow; the arithmetic is exact
/// and rounds only where a result type says so, half away from zero, as the server rounds.
class Decimal {
 public:
  static constexpr int kMaxPrecision = 38;

  Decimal() = default;

  enum class ParseStatus { Ok, NotANumber, TooManyDigits };
  struct ParseResult;
  /// Reads `[blanks][+|-]digits[.digits][blanks]` (digits on at least one side of the point), the form SQL
  /// Server converts from text. `allowExponent` also takes `E[+|-]n`, as the shortest form of a double has.
  static ParseResult Parse(std::string_view text, bool allowExponent = false);
  static Decimal FromInteger(std::int64_t value);
  /// The value `coefficient` / 10^scale, negated when `negative`; nullopt beyond 38 digits or a scale
  /// outside 0..38.
  static std::optional<Decimal> FromParts(bool negative, DecimalCoefficient coefficient, int scale);
  /// The decimal a double stands for: its shortest form that reads back as the same double. nullopt for
  /// infinities, NaN and magnitudes beyond 38 digits.
  static std::optional<Decimal> FromDouble(double value);

  bool IsNegative() const { return negative_; }
  bool IsZero() const { return coefficient_ == 0; }
  /// The digits without the point or the sign: 123.45 has 12345.
  DecimalCoefficient Coefficient() const { return coefficient_; }
  int Scale() const { return scale_; }
  /// Digits of the coefficient, at least 1: 123.45 has 5, 0.05 has 1.
  int Digits() const;
  /// Digits left of the point, at least 0.
  int IntegralDigits() const { return Digits() > scale_ ? Digits() - scale_ : 0; }
  /// The smallest DECIMAL(p,s) holding the value at its own scale, as SQL Server types a literal: 2.345 is
  /// DECIMAL(4,3), 0.05 DECIMAL(2,2).
  int Precision() const { return Digits() > scale_ ? Digits() : (scale_ == 0 ? 1 : scale_); }

  /// The value at `scale` places, rounded half away from zero; nullopt when that needs more than 38 digits.
  std::optional<Decimal> Rescaled(int scale) const;
  /// Whether the value, at its scale, fits DECIMAL(precision, scale) without losing integral digits.
  bool FitsPrecision(int precision) const { return IntegralDigits() <= precision - scale_; }

  /// The value at its scale: "123.46", "-0.50", "2.5000", "0".
  std::string ToString() const;
  /// The nearest double.
  double ToDouble() const;
  /// The integral part (truncated toward zero, as CAST to an integer type does); nullopt beyond 64 bits.
  std::optional<std::int64_t> TruncatedToInteger() const;

  /// Exact arithmetic, then rounded to `resultScale`; nullopt when the result needs more than 38 digits
  /// (SQL Server's arithmetic overflow). Divide and Modulo need a divisor that is not zero.
  static std::optional<Decimal> Add(const Decimal& a, const Decimal& b, int resultScale);
  static std::optional<Decimal> Subtract(const Decimal& a, const Decimal& b, int resultScale);
  static std::optional<Decimal> Multiply(const Decimal& a, const Decimal& b, int resultScale);
  /// Division rounds half away from zero unless told to cut the digits beyond `resultScale` off, as the
  /// server's decimal division does.
  enum class Cut { Round, Truncate };
  static std::optional<Decimal> Divide(const Decimal& a, const Decimal& b, int resultScale,
                                       Cut cut = Cut::Round);
  /// The remainder with the dividend's sign, at the larger of the two scales.
  static std::optional<Decimal> Modulo(const Decimal& a, const Decimal& b);

  /// Compares values, whatever their scales: 1.50 equals 1.5.
  friend int Compare(const Decimal& a, const Decimal& b);
  friend bool operator==(const Decimal& a, const Decimal& b) { return Compare(a, b) == 0; }

 private:
  Decimal(bool negative, DecimalCoefficient coefficient, int scale)
      : coefficient_(coefficient), scale_(scale), negative_(negative && coefficient != 0) {}

  // The widest member first: a Variant holding a Decimal is then no larger than one holding a text.
  DecimalCoefficient coefficient_ = 0;
  int scale_ = 0;
  bool negative_ = false;

  friend class DecimalArithmetic;
};

struct Decimal::ParseResult {
  ParseStatus status = ParseStatus::NotANumber;
  Decimal value;
};

}  // namespace closewright
