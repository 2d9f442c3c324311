#include "outside/sqlite/SqlServerTypes.h"

#include <algorithm>
#include <limits>

#include "outside/Decimal.h"

namespace closewright::sqlite {

namespace {

constexpr int kMaxPrecision = Decimal::kMaxPrecision;

// Where a decimal result needs more than 38 digits, the server keeps the integral digits and gives up
// scale, but keeps at least 6 places (or the scale itself when it was smaller): learn.microsoft.com
// "Precision, scale, and length (Transact-SQL)", the rules for results whose precision exceeds 38.
NumericType Reduced(int precision, int scale) {
  if (precision <= kMaxPrecision) return NumericType::DecimalOf(precision, scale);
  const int integral = precision - scale;
  const int kept = std::max(std::min(scale, kMaxPrecision - integral), std::min(scale, 6));
  return NumericType::DecimalOf(kMaxPrecision, kept);
}

NumericType AsDecimal(NumericType t) {
  return t.kind == NumericKind::Decimal ? t : NumericType::DecimalOf(t.precision, t.scale);
}

NumericType DecimalResult(NumericType a, ArithmeticOperator op, NumericType b) {
  const int p1 = a.precision;
  const int s1 = a.scale;
  const int p2 = b.precision;
  const int s2 = b.scale;
  switch (op) {
    case ArithmeticOperator::Add:
    case ArithmeticOperator::Subtract:
      return Reduced(std::max(s1, s2) + std::max(p1 - s1, p2 - s2) + 1, std::max(s1, s2));
    case ArithmeticOperator::Multiply:
      return Reduced(p1 + p2 + 1, s1 + s2);
    case ArithmeticOperator::Divide: {
      const int scale = std::max(6, s1 + p2 + 1);
      return Reduced(p1 - s1 + s2 + scale, scale);
    }
    case ArithmeticOperator::Modulo:
      return Reduced(std::min(p1 - s1, p2 - s2) + std::max(s1, s2), std::max(s1, s2));
  }
  return a;
}

}  // namespace

NumericType NumericType::Of(NumericKind kind) {
  switch (kind) {
    case NumericKind::Bit:
      return {kind, 1, 0};
    case NumericKind::TinyInt:
      return {kind, 3, 0};
    case NumericKind::SmallInt:
      return {kind, 5, 0};
    case NumericKind::Int:
      return {kind, 10, 0};
    case NumericKind::BigInt:
      return {kind, 19, 0};
    case NumericKind::SmallMoney:
      return {kind, 10, 4};
    case NumericKind::Money:
      return {kind, 19, 4};
    case NumericKind::Decimal:
      return {kind, 18, 0};
    case NumericKind::Real:
      return {kind, 24, 0};
    case NumericKind::Float:
      return {kind, 53, 0};
  }
  return {};
}

std::string NumericType::Name() const {
  switch (kind) {
    case NumericKind::Bit:
      return "bit";
    case NumericKind::TinyInt:
      return "tinyint";
    case NumericKind::SmallInt:
      return "smallint";
    case NumericKind::Int:
      return "int";
    case NumericKind::BigInt:
      return "bigint";
    case NumericKind::SmallMoney:
      return "smallmoney";
    case NumericKind::Money:
      return "money";
    case NumericKind::Decimal:
      return "numeric";
    case NumericKind::Real:
      return "real";
    case NumericKind::Float:
      return "float";
  }
  return "numeric";
}

std::optional<NumericType> LiteralType(std::string_view literal) {
  if (literal.find_first_of("eE") != std::string_view::npos) {
    const Decimal::ParseResult parsed = Decimal::Parse(literal, true);
    if (parsed.status == Decimal::ParseStatus::NotANumber) return std::nullopt;
    return NumericType::Of(NumericKind::Float);
  }
  const Decimal::ParseResult parsed = Decimal::Parse(literal);
  if (parsed.status != Decimal::ParseStatus::Ok) return std::nullopt;
  const Decimal& value = parsed.value;
  if (literal.find('.') == std::string_view::npos) {
    const auto whole = value.TruncatedToInteger();
    if (whole && IntegerFits(NumericKind::Int, *whole)) return NumericType::Of(NumericKind::Int);
  }
  return NumericType::DecimalOf(value.Precision(), value.Scale());
}

NumericType ResultType(NumericType left, ArithmeticOperator op, NumericType right) {
  const NumericType higher = left.kind >= right.kind ? left : right;
  if (higher.kind == NumericKind::Decimal) return DecimalResult(AsDecimal(left), op, AsDecimal(right));
  // Arithmetic on the small integer types is carried out in int, and int's range decides overflow.
  if (higher.IsInteger()) return NumericType::Of(std::max(higher.kind, NumericKind::Int));
  // money with money or with an integer stays money; smallmoney with smallmoney stays smallmoney.
  return NumericType::Of(higher.kind);
}

NumericType CombinedType(NumericType left, NumericType right) {
  const NumericType higher = left.kind >= right.kind ? left : right;
  if (higher.kind != NumericKind::Decimal) return NumericType::Of(higher.kind);
  const NumericType a = AsDecimal(left);
  const NumericType b = AsDecimal(right);
  const int scale = std::max(a.scale, b.scale);
  return Reduced(scale + std::max(a.precision - a.scale, b.precision - b.scale), scale);
}

NumericType SumType(NumericType column) {
  switch (column.kind) {
    case NumericKind::Bit:
    case NumericKind::TinyInt:
    case NumericKind::SmallInt:
    case NumericKind::Int:
      return NumericType::Of(NumericKind::Int);
    case NumericKind::SmallMoney:
      return NumericType::Of(NumericKind::Money);
    case NumericKind::Decimal:
      return NumericType::DecimalOf(kMaxPrecision, column.scale);
    case NumericKind::Real:
      return NumericType::Of(NumericKind::Float);
    default:
      return NumericType::Of(column.kind);
  }
}

NumericType AverageType(NumericType column) {
  if (column.kind == NumericKind::Decimal)
    return NumericType::DecimalOf(kMaxPrecision, std::max(column.scale, 6));
  return SumType(column);
}

bool IntegerFits(NumericKind kind, std::int64_t value) {
  switch (kind) {
    case NumericKind::Bit:
      return true;  // any value other than 0 becomes 1
    case NumericKind::TinyInt:
      return value >= 0 && value <= 255;
    case NumericKind::SmallInt:
      return value >= std::numeric_limits<std::int16_t>::min() &&
             value <= std::numeric_limits<std::int16_t>::max();
    case NumericKind::Int:
      return value >= std::numeric_limits<std::int32_t>::min() &&
             value <= std::numeric_limits<std::int32_t>::max();
    default:
      return true;
  }
}

}  // namespace closewright::sqlite
