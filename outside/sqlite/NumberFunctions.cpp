#include "outside/sqlite/NumberFunctions.h"

#include <sqlite3.h>

#include <charconv>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outside/Text.h"
#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/SqlServerFunctions.h"

namespace closewright::sqlite::functions {

namespace {

void Raise(sqlite3_context* ctx, const ConversionError& error) {
  sqlite3_result_error(ctx, error.message.c_str(), -1);
  if (auto* host = static_cast<FunctionHost*>(sqlite3_user_data(ctx)))
    host->RaiseServerError(error.number, error.sqlState, error.message);
}

std::string_view TextOf(sqlite3_value* value) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
  return text == nullptr ? std::string_view()
                         : std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(value)));
}

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
  // Most values are stored as they are: an integer in range, a double at the scale.
  const int storage = sqlite3_value_type(argv[0]);
  const bool asItIs = storage == SQLITE_INTEGER
                          ? target.IsInteger() && target.kind != NumericKind::Bit &&
                                IntegerFits(target.kind, sqlite3_value_int64(argv[0]))
                          : storage == SQLITE_FLOAT && IsStoredForm(sqlite3_value_double(argv[0]), target);
  if (asItIs) return sqlite3_result_value(ctx, argv[0]);
  const auto source = SourceOf(argv[0]);
  if (!source) return sqlite3_result_null(ctx);
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

}  // namespace closewright::sqlite::functions
