#include "outside/Decimal.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace closewright {

namespace {

__extension__ typedef unsigned __int128 Limb2;

// An unsigned integer of 512 bits, enough for any intermediate of two 38-digit operands: a quotient's
// dividend is at most a 38-digit coefficient times 10^76 (about 2^380).
struct Wide {
  static constexpr std::size_t kLimbs = 8;
  std::array<std::uint64_t, kLimbs> limb{};  // least significant first

  static Wide From(DecimalCoefficient v) {
    Wide w;
    w.limb[0] = static_cast<std::uint64_t>(v);
    w.limb[1] = static_cast<std::uint64_t>(v >> 64);
    return w;
  }
  bool IsZero() const {
    for (std::uint64_t l : limb)
      if (l != 0) return false;
    return true;
  }
  // Multiplies by a small factor; false when the product does not fit.
  bool MultiplySmall(std::uint64_t factor) {
    Limb2 carry = 0;
    for (std::uint64_t& l : limb) {
      const Limb2 product = static_cast<Limb2>(l) * factor + carry;
      l = static_cast<std::uint64_t>(product);
      carry = product >> 64;
    }
    return carry == 0;
  }
  // Divides by a small divisor, returning the remainder.
  std::uint64_t DivideSmall(std::uint64_t divisor) {
    Limb2 remainder = 0;
    for (std::size_t i = kLimbs; i-- > 0;) {
      const Limb2 current = (remainder << 64) | limb[i];
      limb[i] = static_cast<std::uint64_t>(current / divisor);
      remainder = current % divisor;
    }
    return static_cast<std::uint64_t>(remainder);
  }
  bool AddInPlace(const Wide& other) {
    Limb2 carry = 0;
    for (std::size_t i = 0; i < kLimbs; ++i) {
      const Limb2 sum = static_cast<Limb2>(limb[i]) + other.limb[i] + carry;
      limb[i] = static_cast<std::uint64_t>(sum);
      carry = sum >> 64;
    }
    return carry == 0;
  }
  // Requires *this >= other.
  void SubtractInPlace(const Wide& other) {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < kLimbs; ++i) {
      const std::uint64_t before = limb[i];
      const std::uint64_t subtrahend = other.limb[i] + borrow;
      const bool wraps = subtrahend < borrow;  // other.limb[i] was all ones and borrow 1
      limb[i] = before - subtrahend;
      borrow = (wraps || before < subtrahend) ? 1 : 0;
    }
  }
  friend int CompareWide(const Wide& a, const Wide& b) {
    for (std::size_t i = kLimbs; i-- > 0;) {
      if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
  }
  void ShiftLeftOne() {
    for (std::size_t i = kLimbs; i-- > 1;) limb[i] = (limb[i] << 1) | (limb[i - 1] >> 63);
    limb[0] <<= 1;
  }
  bool Bit(std::size_t n) const { return ((limb[n / 64] >> (n % 64)) & 1) != 0; }
  void SetBit(std::size_t n) { limb[n / 64] |= std::uint64_t{1} << (n % 64); }

  static Wide Multiply(DecimalCoefficient a, DecimalCoefficient b) {
    const std::uint64_t x[2] = {static_cast<std::uint64_t>(a), static_cast<std::uint64_t>(a >> 64)};
    const std::uint64_t y[2] = {static_cast<std::uint64_t>(b), static_cast<std::uint64_t>(b >> 64)};
    Wide w;
    for (std::size_t i = 0; i < 2; ++i) {
      Limb2 carry = 0;
      for (std::size_t j = 0; j < 2; ++j) {
        const Limb2 product = static_cast<Limb2>(x[i]) * y[j] + w.limb[i + j] + carry;
        w.limb[i + j] = static_cast<std::uint64_t>(product);
        carry = product >> 64;
      }
      w.limb[i + 2] = static_cast<std::uint64_t>(carry);
    }
    return w;
  }

  // Long division, one bit at a time: plenty fast for the few values a statement converts.
  static Wide DivideWithRemainder(const Wide& dividend, const Wide& divisor, Wide& remainder) {
    Wide quotient;
    remainder = Wide{};
    for (std::size_t n = kLimbs * 64; n-- > 0;) {
      remainder.ShiftLeftOne();
      if (dividend.Bit(n)) remainder.limb[0] |= 1;
      if (CompareWide(remainder, divisor) >= 0) {
        remainder.SubtractInPlace(divisor);
        quotient.SetBit(n);
      }
    }
    return quotient;
  }

  std::optional<DecimalCoefficient> Narrow() const {
    for (std::size_t i = 2; i < kLimbs; ++i)
      if (limb[i] != 0) return std::nullopt;
    return (static_cast<DecimalCoefficient>(limb[1]) << 64) | limb[0];
  }
};

bool ScaleUp(Wide& w, int places) {
  for (int i = 0; i < places; ++i)
    if (!w.MultiplySmall(10)) return false;
  return true;
}

// Divides by 10^places, rounding half away from zero.
void ScaleDownRounding(Wide& w, int places) {
  if (places <= 0) return;
  // Half away from zero looks only at the first digit dropped, the last one divided off.
  std::uint64_t last = 0;
  for (int i = 0; i < places; ++i) last = w.DivideSmall(10);
  if (last >= 5) w.AddInPlace(Wide::From(1));
}

DecimalCoefficient PowerOfTen(int n) {
  DecimalCoefficient p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

const DecimalCoefficient kLimit = PowerOfTen(Decimal::kMaxPrecision);  // 10^38: one past the largest

}  // namespace

// The operations that need the coefficient and the wide intermediate together.
class DecimalArithmetic {
 public:
  static std::optional<Decimal> Make(bool negative, const Wide& magnitude, int scale) {
    const auto narrow = magnitude.Narrow();
    if (!narrow || *narrow >= kLimit) return std::nullopt;
    return Decimal(negative, *narrow, scale);
  }

  // a.coefficient and b.coefficient brought to their common (larger) scale.
  static int Align(const Decimal& a, const Decimal& b, Wide& x, Wide& y) {
    const int scale = a.scale_ > b.scale_ ? a.scale_ : b.scale_;
    x = Wide::From(a.coefficient_);
    y = Wide::From(b.coefficient_);
    ScaleUp(x, scale - a.scale_);
    ScaleUp(y, scale - b.scale_);
    return scale;
  }

  static std::optional<Decimal> Rounded(bool negative, Wide magnitude, int scale, int resultScale) {
    if (resultScale >= scale) {
      if (!ScaleUp(magnitude, resultScale - scale)) return std::nullopt;
    } else {
      ScaleDownRounding(magnitude, scale - resultScale);
    }
    return Make(negative, magnitude, resultScale);
  }

  static std::optional<Decimal> AddSigned(const Decimal& a, bool bNegative, const Decimal& b,
                                          int resultScale) {
    Wide x;
    Wide y;
    const int scale = Align(a, b, x, y);
    if (a.negative_ == bNegative) {
      x.AddInPlace(y);
      return Rounded(a.negative_, x, scale, resultScale);
    }
    if (CompareWide(x, y) >= 0) {
      x.SubtractInPlace(y);
      return Rounded(a.negative_, x, scale, resultScale);
    }
    y.SubtractInPlace(x);
    return Rounded(bNegative, y, scale, resultScale);
  }

  static std::optional<Decimal> Multiply(const Decimal& a, const Decimal& b, int resultScale) {
    return Rounded(a.negative_ != b.negative_, Wide::Multiply(a.coefficient_, b.coefficient_),
                   a.scale_ + b.scale_, resultScale);
  }

  // a / b at resultScale: a's coefficient times 10^(resultScale + b.scale - a.scale), divided by b's, with
  // one more digit kept for the rounding.
  static std::optional<Decimal> Divide(const Decimal& a, const Decimal& b, int resultScale,
                                       Decimal::Cut cut) {
    Wide dividend = Wide::From(a.coefficient_);
    const int shift = resultScale + 1 + b.scale_ - a.scale_;
    Wide divisor = Wide::From(b.coefficient_);
    if (shift >= 0) {
      if (!ScaleUp(dividend, shift)) return std::nullopt;
    } else if (!ScaleUp(divisor, -shift)) {
      return Make(false, Wide{}, resultScale);
    }
    Wide remainder;
    Wide quotient = Wide::DivideWithRemainder(dividend, divisor, remainder);
    const std::uint64_t last = quotient.DivideSmall(10);
    if (cut == Decimal::Cut::Round && last >= 5) quotient.AddInPlace(Wide::From(1));
    return Make(a.negative_ != b.negative_, quotient, resultScale);
  }

  static std::optional<Decimal> Modulo(const Decimal& a, const Decimal& b) {
    Wide x;
    Wide y;
    const int scale = Align(a, b, x, y);
    Wide remainder;
    Wide::DivideWithRemainder(x, y, remainder);
    return Make(a.negative_, remainder, scale);
  }

  static int Compare(const Decimal& a, const Decimal& b) {
    if (a.negative_ != b.negative_) return a.negative_ ? -1 : 1;
    Wide x;
    Wide y;
    Align(a, b, x, y);
    const int magnitude = CompareWide(x, y);
    return a.negative_ ? -magnitude : magnitude;
  }
};

Decimal::ParseResult Decimal::Parse(std::string_view text, bool allowExponent) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  ParseResult result;
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  DecimalCoefficient coefficient = 0;
  int digits = 0;  // significant digits taken into the coefficient
  int scale = 0;
  bool anyDigit = false;
  bool tooMany = false;
  bool afterPoint = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !afterPoint) {
      afterPoint = true;
      continue;
    }
    if (c < '0' || c > '9') break;
    anyDigit = true;
    if (coefficient == 0 && c == '0') {
      if (afterPoint) ++scale;
      continue;
    }
    if (digits == kMaxPrecision) {
      tooMany = true;
      continue;
    }
    coefficient = coefficient * 10 + static_cast<unsigned>(c - '0');
    ++digits;
    if (afterPoint) ++scale;
  }
  int exponent = 0;
  if (allowExponent && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    const char* begin = text.data() + i;
    if (i < text.size() && text[i] == '+') ++begin;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), exponent);
    if (ec != std::errc() || end == begin) return result;
    i = static_cast<std::size_t>(end - text.data());
  }
  if (!anyDigit || i != text.size()) return result;
  if (tooMany) {
    result.status = ParseStatus::TooManyDigits;
    return result;
  }
  // An exponent moves the point: 1.5e-5 is 0.000015, 1.5e3 is 1500.
  scale -= exponent;
  if (scale < 0) {
    for (; scale < 0; ++scale) {
      if (coefficient >= kLimit / 10) {
        result.status = ParseStatus::TooManyDigits;
        return result;
      }
      coefficient *= 10;
    }
  }
  if (scale > kMaxPrecision) {
    // Digits beyond 38 places are rounded away, as SQL Server does converting a long fraction.
    Wide w = Wide::From(coefficient);
    ScaleDownRounding(w, scale - kMaxPrecision);
    coefficient = *w.Narrow();
    scale = kMaxPrecision;
  }
  result.status = ParseStatus::Ok;
  result.value = Decimal(negative, coefficient, scale);
  return result;
}

Decimal Decimal::FromInteger(std::int64_t value) {
  const bool negative = value < 0;
  const DecimalCoefficient magnitude =
      negative ? static_cast<DecimalCoefficient>(-(value + 1)) + 1 : static_cast<DecimalCoefficient>(value);
  return Decimal(negative, magnitude, 0);
}

std::optional<Decimal> Decimal::FromParts(bool negative, DecimalCoefficient coefficient, int scale) {
  if (coefficient >= kLimit || scale < 0 || scale > kMaxPrecision) return std::nullopt;
  return Decimal(negative, coefficient, scale);
}

std::optional<Decimal> Decimal::FromDouble(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return std::nullopt;
  const ParseResult parsed = Parse(std::string_view(buffer, static_cast<std::size_t>(end - buffer)), true);
  if (parsed.status != ParseStatus::Ok) return std::nullopt;
  return parsed.value;
}

int Decimal::Digits() const {
  int digits = 1;
  for (DecimalCoefficient c = coefficient_ / 10; c != 0; c /= 10) ++digits;
  return digits;
}

std::optional<Decimal> Decimal::Rescaled(int scale) const {
  return DecimalArithmetic::Rounded(negative_, Wide::From(coefficient_), scale_, scale);
}

std::string Decimal::ToString() const {
  std::string digits;
  for (DecimalCoefficient c = coefficient_; c != 0; c /= 10)
    digits.insert(digits.begin(), static_cast<char>('0' + c % 10));
  if (digits.size() <= static_cast<std::size_t>(scale_))
    digits.insert(0, static_cast<std::size_t>(scale_) + 1 - digits.size(), '0');
  if (scale_ > 0) digits.insert(digits.size() - static_cast<std::size_t>(scale_), 1, '.');
  return negative_ ? "-" + digits : digits;
}

double Decimal::ToDouble() const {
  const std::string text = ToString();
  return std::strtod(text.c_str(), nullptr);
}

std::optional<std::int64_t> Decimal::TruncatedToInteger() const {
  DecimalCoefficient whole = coefficient_;
  for (int i = 0; i < scale_; ++i) whole /= 10;
  const DecimalCoefficient limit = static_cast<DecimalCoefficient>(INT64_MAX) + (negative_ ? 1 : 0);
  if (whole > limit) return std::nullopt;
  if (negative_) return whole == limit ? INT64_MIN : -static_cast<std::int64_t>(whole);
  return static_cast<std::int64_t>(whole);
}

std::optional<Decimal> Decimal::Add(const Decimal& a, const Decimal& b, int resultScale) {
  return DecimalArithmetic::AddSigned(a, b.negative_, b, resultScale);
}

std::optional<Decimal> Decimal::Subtract(const Decimal& a, const Decimal& b, int resultScale) {
  return DecimalArithmetic::AddSigned(a, !b.negative_, b, resultScale);
}

std::optional<Decimal> Decimal::Multiply(const Decimal& a, const Decimal& b, int resultScale) {
  return DecimalArithmetic::Multiply(a, b, resultScale);
}

std::optional<Decimal> Decimal::Divide(const Decimal& a, const Decimal& b, int resultScale, Cut cut) {
  if (b.IsZero()) return std::nullopt;
  return DecimalArithmetic::Divide(a, b, resultScale, cut);
}

std::optional<Decimal> Decimal::Modulo(const Decimal& a, const Decimal& b) {
  if (b.IsZero()) return std::nullopt;
  return DecimalArithmetic::Modulo(a, b);
}

int Compare(const Decimal& a, const Decimal& b) {
  return DecimalArithmetic::Compare(a, b);
}

}  // namespace closewright
