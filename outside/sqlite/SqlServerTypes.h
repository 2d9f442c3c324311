#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace closewright::sqlite {

/// SQL Server's numeric types, in its order of data type precedence, lowest first (learn.microsoft.com,
/// "Data type precedence (Transact-SQL)": float > real > decimal > money > smallmoney > bigint > int >
/// smallint > tinyint > bit). An operation on two of them yields the higher one.
enum class NumericKind { Bit, TinyInt, SmallInt, Int, BigInt, SmallMoney, Money, Decimal, Real, Float };

/// A numeric type with the precision and scale SQL Server gives it: DECIMAL(p,s) as declared, the integer
/// types as DECIMAL(3,0) (tinyint) ... DECIMAL(19,0) (bigint), MONEY as (19,4), SMALLMONEY as (10,4).
struct NumericType {
  NumericKind kind = NumericKind::Int;
  int precision = 10;
  int scale = 0;

  static NumericType Of(NumericKind kind);
  static NumericType DecimalOf(int precision, int scale) { return {NumericKind::Decimal, precision, scale}; }
  bool IsInteger() const { return kind <= NumericKind::BigInt; }
  bool IsExact() const { return kind <= NumericKind::Decimal; }
  /// "int", "numeric", "money", ... as SQL Server's messages name the type.
  std::string Name() const;
};

/// The type SQL Server gives a numeric literal: a whole number within int's range is int, a longer one
/// DECIMAL(p,0); one with a point DECIMAL(p,s) with p the digits written and s those after the point
/// (2.345 is DECIMAL(4,3)); one with an exponent float. nullopt when the text is no number.
std::optional<NumericType> LiteralType(std::string_view literal);

enum class ArithmeticOperator { Add, Subtract, Multiply, Divide, Modulo };

/// The result type of `left op right`, by learn.microsoft.com "Precision, scale, and length
/// (Transact-SQL)": the higher type by precedence; for decimals
///   + and -: p = max(s1, s2) + max(p1 - s1, p2 - s2) + 1, s = max(s1, s2)
///   *      : p = p1 + p2 + 1,                              s = s1 + s2
///   /      : p = p1 - s1 + s2 + max(6, s1 + p2 + 1),       s = max(6, s1 + p2 + 1)
///   %      : p = min(p1 - s1, p2 - s2) + max(s1, s2),      s = max(s1, s2)
/// and, where p exceeds 38, the scale given up to keep the integral digits as that page says.
NumericType ResultType(NumericType left, ArithmeticOperator op, NumericType right);

/// UNION, CASE and COALESCE over two numeric types: p = max(s1, s2) + max(p1 - s1, p2 - s2), s = max(s1, s2)
/// for decimals, the higher type otherwise.
NumericType CombinedType(NumericType left, NumericType right);

/// SUM and AVG of a column of this type (learn.microsoft.com "SUM (Transact-SQL)", "AVG (Transact-SQL)"):
/// tinyint, smallint and int give int, bigint bigint, decimal(p,s) decimal(38,s) for SUM and decimal(38,
/// max(s,6)) for AVG, money money, real and float float. MIN and MAX keep the column's type.
NumericType SumType(NumericType column);
NumericType AverageType(NumericType column);

/// The range check of storing a whole number in an integer type: false when it is out of range
/// (tinyint 0..255, smallint and int and bigint their two's-complement ranges).
bool IntegerFits(NumericKind kind, std::int64_t value);

}  // namespace closewright::sqlite
