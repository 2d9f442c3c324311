#include "outside/sqlite/NumberFunctions.h"

#include <sqlite3.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outside/Text.h"
#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/SqlServerFunctions.h"

namespace closewright::sqlite::functions {

namespace {

// The types named by a text argument, read once per statement: SQLite keeps them with the argument.
const std::vector<NumericType>* TypesOf(sqlite3_context* ctx, int argument, sqlite3_value* value) {
  if (auto* cached = static_cast<std::vector<NumericType>*>(sqlite3_get_auxdata(ctx, argument)))
    return cached;
  auto types = std::make_unique<std::vector<NumericType>>();
  for (std::string_view rest = TextOf(value); !rest.empty();) {
    const std::size_t bar = rest.find('|');
    const auto type = ExactNumericTypeOf(rest.substr(0, bar));
    // A column that is no exact number (float) needs nothing; Float marks it so.
    types->push_back(type.value_or(NumericType{NumericKind::Float, 53, 0}));
    rest = bar == std::string_view::npos ? std::string_view() : rest.substr(bar + 1);
  }
  sqlite3_set_auxdata(ctx, argument, types.release(),
                      [](void* p) { delete static_cast<std::vector<NumericType>*>(p); });
  return static_cast<std::vector<NumericType>*>(sqlite3_get_auxdata(ctx, argument));
}

// The argument as a conversion's source; nullopt for NULL (and for a blob, which no number is).
std::optional<SourceValue> SourceOf(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return SourceValue{SourceValue::Storage::Integer, sqlite3_value_int64(value), 0, {}};
    case SQLITE_FLOAT:
      return SourceValue{SourceValue::Storage::Real, 0, sqlite3_value_double(value), {}};
    case SQLITE_TEXT:
      return SourceValue{SourceValue::Storage::Text, 0, 0, TextOf(value)};
    default:
      return std::nullopt;
  }
}

void ResultNumber(sqlite3_context* ctx, const StoredNumber& number) {
  if (number.isInteger) return sqlite3_result_int64(ctx, number.integer);
  sqlite3_result_double(ctx, number.real);
}

// Whether one stored value needs converting; raises (and answers nullopt) when converting would fail.
std::optional<bool> NeedsConverting(sqlite3_context* ctx, sqlite3_value* value, NumericType target) {
  const int storage = sqlite3_value_type(value);
  if (target.kind == NumericKind::Float || storage == SQLITE_NULL || storage == SQLITE_TEXT ||
      storage == SQLITE_BLOB) {
    return false;  // text in a number column is the number check's to refuse
  }
  if (storage == SQLITE_INTEGER && target.IsInteger()) {
    const std::int64_t v = sqlite3_value_int64(value);
    if (target.kind == NumericKind::Bit) return v != 0 && v != 1;
    if (IntegerFits(target.kind, v)) return false;
  } else if (storage == SQLITE_FLOAT && IsStoredForm(sqlite3_value_double(value), target)) {
    return false;
  }
  const ConversionResult converted = ConvertValueTo(*SourceOf(value), target);
  if (converted.error) {
    Raise(ctx, *converted.error);
    return std::nullopt;
  }
  return true;
}

}  // namespace

void ConvertNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const std::vector<NumericType>* types = TypesOf(ctx, 1, argv[1]);
  if (types == nullptr || types->size() != 1) return sqlite3_result_error_nomem(ctx);
  const NumericType target = types->front();
  if (target.kind == NumericKind::Float) return sqlite3_result_value(ctx, argv[0]);
  const auto source = SourceOf(argv[0]);
  if (!source) return sqlite3_result_null(ctx);
  // Most values are stored as they are: an integer in range, a double at the scale.
  if (StoresAsItIs(*source, target)) return sqlite3_result_value(ctx, argv[0]);
  const ConversionResult converted = ConvertValueTo(*source, target);
  if (converted.error) return Raise(ctx, *converted.error);
  ResultNumber(ctx, converted.value);
}

void NumbersUnstored(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const std::vector<NumericType>* types = TypesOf(ctx, 0, argv[0]);
  if (types == nullptr || types->size() + 1 != static_cast<std::size_t>(argc))
    return sqlite3_result_error(ctx, "cw_numbers_unstored: one type per value", -1);
  bool any = false;
  for (std::size_t i = 0; i < types->size(); ++i) {
    const auto needs = NeedsConverting(ctx, argv[i + 1], (*types)[i]);
    if (!needs) return;
    any = any || *needs;
  }
  sqlite3_result_int(ctx, any ? 1 : 0);
}

// `a + b` where a text takes part: texts are joined; a text beside a number is first converted to that
// number's type, as the server converts to the type of higher precedence; two numbers are added.
void Plus(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int left = sqlite3_value_type(argv[0]);
  const int right = sqlite3_value_type(argv[1]);
  if (left == SQLITE_NULL || right == SQLITE_NULL) return sqlite3_result_null(ctx);
  if (left == SQLITE_TEXT && right == SQLITE_TEXT) {
    std::string joined(TextOf(argv[0]));
    joined += TextOf(argv[1]);
    return sqlite3_result_text(ctx, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
  }
  double real[2] = {0, 0};
  std::int64_t integer[2] = {0, 0};
  bool allIntegers = true;
  for (int k = 0; k < 2; ++k) {
    sqlite3_value* value = argv[k];
    const int storage = sqlite3_value_type(value);
    if (storage == SQLITE_TEXT) {
      const int other = sqlite3_value_type(argv[1 - k]);
      const NumericType target =
          other == SQLITE_INTEGER ? NumericType::Of(NumericKind::Int) : NumericType::DecimalOf(38, 10);
      const ConversionResult converted = ConvertValueTo(*SourceOf(value), target);
      if (converted.error) return Raise(ctx, *converted.error);
      integer[k] = converted.value.integer;
      real[k] =
          converted.value.isInteger ? static_cast<double>(converted.value.integer) : converted.value.real;
      allIntegers = allIntegers && converted.value.isInteger;
    } else {
      integer[k] = sqlite3_value_int64(value);
      real[k] = sqlite3_value_double(value);
      allIntegers = allIntegers && storage == SQLITE_INTEGER;
    }
  }
  std::int64_t sum = 0;
  if (allIntegers && !__builtin_add_overflow(integer[0], integer[1], &sum))
    return sqlite3_result_int64(ctx, sum);
  if (allIntegers) {
    return Raise(ctx,
                 {8115, "22003", "Arithmetic overflow error converting expression to data type bigint."});
  }
  sqlite3_result_double(ctx, real[0] + real[1]);
}

// ---- arithmetic at SQL Server's result type ---------------------------------------------------------------

namespace {

enum class Arithmetic { Add, Subtract, Multiply, Divide, Modulo };

ConversionError OverflowOf(NumericType type) {
  return {8115, "22003", "Arithmetic overflow error converting expression to data type " + type.Name() + "."};
}

ConversionError DivideByZero() {
  return {8134, "22012", "Divide by zero error encountered."};
}

struct ArithmeticResult {
  std::optional<ConversionError> error;
  std::int64_t integer = 0;
  double real = 0;
};

std::optional<std::int64_t> WholeNumber(sqlite3_value* value, std::optional<ConversionError>& error) {
  if (sqlite3_value_type(value) == SQLITE_INTEGER) return sqlite3_value_int64(value);
  const ConversionResult converted = ConvertValueTo(*SourceOf(value), NumericType::Of(NumericKind::BigInt));
  if (converted.error) {
    error = converted.error;
    return std::nullopt;
  }
  return converted.value.integer;
}

// Integer operands at an integer type: 64-bit arithmetic, then the type's own range.
ArithmeticResult IntegerArithmetic(Arithmetic op, sqlite3_value* left, sqlite3_value* right,
                                   NumericType type) {
  ArithmeticResult result;
  const auto x = WholeNumber(left, result.error);
  const auto y = x ? WholeNumber(right, result.error) : std::nullopt;
  if (!x || !y) return result;
  bool overflow = false;
  switch (op) {
    case Arithmetic::Add:
      overflow = __builtin_add_overflow(*x, *y, &result.integer);
      break;
    case Arithmetic::Subtract:
      overflow = __builtin_sub_overflow(*x, *y, &result.integer);
      break;
    case Arithmetic::Multiply:
      overflow = __builtin_mul_overflow(*x, *y, &result.integer);
      break;
    case Arithmetic::Divide:
    case Arithmetic::Modulo:
      if (*y == 0) {
        result.error = DivideByZero();
        return result;
      }
      overflow = *x == std::numeric_limits<std::int64_t>::min() && *y == -1;
      if (*y == -1)
        result.integer = op == Arithmetic::Divide ? -*x : 0;
      else
        result.integer = op == Arithmetic::Divide ? *x / *y : *x % *y;
      if (op == Arithmetic::Modulo) overflow = false;
      break;
  }
  if (overflow || !IntegerFits(type.kind, result.integer)) result.error = OverflowOf(type);
  return result;
}

std::optional<Decimal> ExactOperand(sqlite3_value* value, std::optional<ConversionError>& error) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_INTEGER:
      return Decimal::FromInteger(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      if (auto exact = Decimal::FromDouble(sqlite3_value_double(value))) return exact;
      error =
          ConversionError{8115, "22003", "Arithmetic overflow error converting float to data type numeric."};
      return std::nullopt;
    default: {
      const Decimal::ParseResult parsed = Decimal::Parse(TextOf(value));
      if (parsed.status == Decimal::ParseStatus::Ok) return parsed.value;
      error = ConversionError{8114, "37000", "Error converting data type varchar to numeric."};
      return std::nullopt;
    }
  }
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr double kExactIntegers = 9007199254740992.0;  // 2^53

// The coefficient of a stored value at `scale` places, when it has no more places and is small enough for a
// double to hold it whole: then sums of coefficients are exact, and dividing one by 10^scale gives the
// double nearest the decimal, which is how a decimal is stored.
std::optional<double> Coefficient(sqlite3_value* value, int scale) {
  if (scale >= static_cast<int>(std::size(kPowersOfTen))) return std::nullopt;
  const int storage = sqlite3_value_type(value);
  if (storage != SQLITE_INTEGER && storage != SQLITE_FLOAT) return std::nullopt;
  const double x = sqlite3_value_double(value);
  if (storage == SQLITE_INTEGER && std::fabs(x) >= kExactIntegers) return std::nullopt;
  const double scaled = std::round(x * kPowersOfTen[scale]);
  if (!(std::fabs(scaled) < kExactIntegers) || scaled / kPowersOfTen[scale] != x) return std::nullopt;
  return scaled;
}

ArithmeticResult DecimalArithmetic(Arithmetic op, sqlite3_value* left, sqlite3_value* right,
                                   NumericType type) {
  ArithmeticResult result;
  if (op == Arithmetic::Add || op == Arithmetic::Subtract) {
    const auto x = Coefficient(left, type.scale);
    const auto y = x ? Coefficient(right, type.scale) : std::nullopt;
    const double k = x && y ? (op == Arithmetic::Add ? *x + *y : *x - *y) : 0;
    if (x && y && std::fabs(k) < kExactIntegers &&
        (type.precision >= 16 || std::fabs(k) < kPowersOfTen[type.precision])) {
      result.real = k / kPowersOfTen[type.scale];
      return result;
    }
  }
  const auto x = ExactOperand(left, result.error);
  const auto y = x ? ExactOperand(right, result.error) : std::nullopt;
  if (!x || !y) return result;
  std::optional<Decimal> exact;
  switch (op) {
    case Arithmetic::Add:
      exact = Decimal::Add(*x, *y, type.scale);
      break;
    case Arithmetic::Subtract:
      exact = Decimal::Subtract(*x, *y, type.scale);
      break;
    case Arithmetic::Multiply:
      exact = Decimal::Multiply(*x, *y, type.scale);
      break;
    case Arithmetic::Divide:
      if (y->IsZero()) {
        result.error = DivideByZero();
        return result;
      }
      // The server cuts a quotient off at the result's scale: 1.67574 / 10000 at six places is 0.000167.
      exact = Decimal::Divide(*x, *y, type.scale, Decimal::Cut::Truncate);
      break;
    case Arithmetic::Modulo:
      if (y->IsZero()) {
        result.error = DivideByZero();
        return result;
      }
      exact = Decimal::Modulo(*x, *y);
      if (exact) exact = exact->Rescaled(type.scale);
      break;
  }
  if (!exact || !exact->FitsPrecision(type.precision)) {
    result.error = OverflowOf(type);
    return result;
  }
  // A result a double cannot give back digit for digit is held as the nearest double, as the engine held
  // every result before; storing it into a column converts it again.
  result.real = exact->ToDouble();
  return result;
}

void Compute(sqlite3_context* ctx, int argc, sqlite3_value** argv, Arithmetic op) {
  if (argc != 3) return sqlite3_result_error(ctx, "typed arithmetic takes two operands and a type", -1);
  const std::vector<NumericType>* types = TypesOf(ctx, 2, argv[2]);
  if (types == nullptr || types->size() != 1) return sqlite3_result_error_nomem(ctx);
  const NumericType type = types->front();
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL)
    return sqlite3_result_null(ctx);
  if (type.IsInteger()) {
    const ArithmeticResult result = IntegerArithmetic(op, argv[0], argv[1], type);
    if (result.error) return Raise(ctx, *result.error);
    return sqlite3_result_int64(ctx, result.integer);
  }
  const ArithmeticResult result = DecimalArithmetic(op, argv[0], argv[1], type);
  if (result.error) return Raise(ctx, *result.error);
  sqlite3_result_double(ctx, result.real);
}

// `x` at `places` places, rounded half away from zero or cut off; left of the point when negative.
std::optional<Decimal> RoundedAt(const Decimal& x, std::int64_t places, bool cutOff) {
  const Decimal::Cut cut = cutOff ? Decimal::Cut::Truncate : Decimal::Cut::Round;
  if (places >= x.Scale()) return x;
  if (places >= 0) return Decimal::Divide(x, Decimal::FromInteger(1), static_cast<int>(places), cut);
  if (places < -Decimal::kMaxPrecision) return Decimal::FromInteger(0);
  const Decimal unit = Decimal::Parse("1" + std::string(static_cast<std::size_t>(-places), '0')).value;
  const auto units = Decimal::Divide(x, unit, 0, cut);
  return units ? Decimal::Multiply(*units, unit, 0) : std::nullopt;
}

}  // namespace

// "ROUND (Transact-SQL)": the result keeps the argument's type (int for tinyint and smallint), so
// ROUND(748.58, -1) is 750.00 and ROUND(748.58, -3) overflows decimal(5,2); ROUND(150.75, 0, 1) cuts off
// to 150.00. A value whose type the translation could not tell is rounded as the decimal it stands for
// (SQLite's own round takes a negative length as 0 and rounds the binary double).
void Round(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 2 || argc > 4) return sqlite3_result_error(ctx, "cw_round takes two to four arguments", -1);
  for (int k = 0; k < std::min(argc, 3); ++k) {
    if (sqlite3_value_type(argv[k]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  }
  std::optional<NumericType> type;
  if (argc == 4) {
    const std::vector<NumericType>* types = TypesOf(ctx, 3, argv[3]);
    if (types == nullptr || types->size() != 1) return sqlite3_result_error_nomem(ctx);
    type = types->front();
  }
  const bool integer = type ? type->IsInteger() : sqlite3_value_type(argv[0]) == SQLITE_INTEGER;
  std::optional<ConversionError> error;
  const auto x = ExactOperand(argv[0], error);
  if (!x) return Raise(ctx, *error);
  auto rounded = RoundedAt(*x, sqlite3_value_int64(argv[1]), argc > 2 && sqlite3_value_int64(argv[2]) != 0);
  if (rounded && type) rounded = rounded->Rescaled(type->scale);
  if (!rounded || (type && !rounded->FitsPrecision(type->precision)))
    return Raise(ctx, OverflowOf(type.value_or(NumericType::DecimalOf(38, 0))));
  if (integer) {
    const auto whole = rounded->TruncatedToInteger();
    if (whole && (!type || IntegerFits(type->kind, *whole))) return sqlite3_result_int64(ctx, *whole);
    return Raise(ctx, OverflowOf(type.value_or(NumericType::Of(NumericKind::BigInt))));
  }
  sqlite3_result_double(ctx, rounded->ToDouble());
}

void Add(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Compute(ctx, argc, argv, Arithmetic::Add);
}
void Subtract(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Compute(ctx, argc, argv, Arithmetic::Subtract);
}
void Multiply(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Compute(ctx, argc, argv, Arithmetic::Multiply);
}
void TypedDivide(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Compute(ctx, argc, argv, Arithmetic::Divide);
}
void TypedModulo(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Compute(ctx, argc, argv, Arithmetic::Modulo);
}

}  // namespace closewright::sqlite::functions
