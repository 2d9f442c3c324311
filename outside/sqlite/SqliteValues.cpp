#include <charconv>
#include <cmath>
#include <limits>

#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/SqliteSession.h"

namespace closewright::sqlite {

SqlValue SqlValue::From(sqlite3_stmt* statement, int column) {
  SqlValue v;
  v.type = sqlite3_column_type(statement, column);
  switch (v.type) {
    case SQLITE_INTEGER:
      v.integer = sqlite3_column_int64(statement, column);
      break;
    case SQLITE_FLOAT:
      v.real = sqlite3_column_double(statement, column);
      break;
    case SQLITE_NULL:
      break;
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      v.text.assign(text == nullptr ? "" : text,
                    static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
      v.type = SQLITE_TEXT;
    }
  }
  return v;
}

namespace {

// A variable of an exact numeric type holds what a column of that type would store.
SqlValue ExactNumberValue(const SqlValue& v, NumericType type, std::int32_t line) {
  SourceValue source{SourceValue::Storage::Text, v.integer, v.real, v.text};
  if (v.type == SQLITE_INTEGER) source.storage = SourceValue::Storage::Integer;
  if (v.type == SQLITE_FLOAT) source.storage = SourceValue::Storage::Real;
  const ConversionResult converted = ConvertValueTo(source, type);
  if (converted.error) {
    throw StatementFailure{
        ServerError{converted.error->number, converted.error->sqlState, converted.error->message}, line};
  }
  SqlValue out;
  out.type = converted.value.isInteger ? SQLITE_INTEGER : SQLITE_FLOAT;
  out.integer = converted.value.integer;
  out.real = converted.value.real;
  return out;
}

}  // namespace

SqlValue ConvertValue(const SqlValue& v, const TypeInfo& type, std::int32_t line) {
  if (v.type == SQLITE_NULL) return v;
  if (type.numeric) return ExactNumberValue(v, *type.numeric, line);
  SqlValue out;
  switch (type.kind) {
    case ValueKind::Float:
      if (v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT) return v;
      {
        std::string_view text = TrimWhitespace(v.text);
        out.type = SQLITE_FLOAT;
        auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out.real);
        if (text.empty() || ec != std::errc() || p != text.data() + text.size()) {
          throw StatementFailure{ServerError{8114, "37000", "Error converting data type varchar to numeric."},
                                 line};
        }
      }
      return out;
    case ValueKind::Text: {
      out.type = SQLITE_TEXT;
      if (v.type == SQLITE_INTEGER) {
        out.text = std::to_string(v.integer);
      } else if (v.type == SQLITE_FLOAT) {
        char buffer[64];
        auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.real);
        out.text.assign(buffer, ec == std::errc() ? end : buffer);
      } else {
        out.text = v.text;
      }
      // Assigning to a shorter variable cuts the text, silently, after whole characters.
      if (type.length > 0) out.text.resize(Utf8PrefixLength(out.text, static_cast<std::size_t>(type.length)));
      return out;
    }
    case ValueKind::DateTime: {
      const DateType target = type.date.value_or(DateType::Of(DateKind::DateTime));
      const DateConversion converted =
          v.type == SQLITE_TEXT
              ? ConvertDateText(v.text, target)
              : ConvertDaysToDate(v.type == SQLITE_INTEGER ? static_cast<double>(v.integer) : v.real,
                                  v.type == SQLITE_INTEGER, target, false);
      if (converted.error) {
        throw StatementFailure{
            ServerError{converted.error->number, converted.error->sqlState, converted.error->message}, line};
      }
      out.type = SQLITE_TEXT;
      out.text = FormatDate(converted.ticks, target);
      return out;
    }
    default:
      return v;
  }
}

namespace {

// SQL Server sends a DECIMAL, NUMERIC, MONEY or SMALLMONEY value with every digit of its column's scale, and
// its client holds it as a decimal (learn.microsoft.com ADO "DataTypeEnum": adNumeric, "an exact numeric
// value with a fixed precision and scale"): MONEY 2.5 is 2.5000. The engine stores an exact value as an
// integer or as the double whose shortest digits are the value.
Variant ExactNumberVariant(sqlite3_stmt* row, int column, int storage, std::int32_t scale,
                           std::int32_t line) {
  const std::optional<Decimal> stored =
      storage == SQLITE_INTEGER
          ? std::optional<Decimal>(Decimal::FromInteger(sqlite3_column_int64(row, column)))
          : Decimal::FromDouble(sqlite3_column_double(row, column));
  const std::optional<Decimal> atScale = stored ? stored->Rescaled(scale) : std::nullopt;
  if (!atScale) {
    throw StatementFailure{
        ServerError{8115, "22003", "Arithmetic overflow error converting float to data type numeric."}, line};
  }
  return Variant(*atScale);
}

}  // namespace

Variant ToVariant(sqlite3_stmt* row, int column, const TypeInfo& type, const ColumnType& client,
                  std::int32_t line) {
  const int storage = sqlite3_column_type(row, column);
  if (storage == SQLITE_NULL) return Variant::Null();
  if ((client.kind == ColumnKind::ExactNumeric || client.kind == ColumnKind::Money) &&
      (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)) {
    return ExactNumberVariant(row, column, storage, client.scale, line);
  }
  switch (type.kind) {
    case ValueKind::Bit:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
        return Variant(sqlite3_column_double(row, column) != 0);
      break;
    case ValueKind::Float:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
        return Variant(sqlite3_column_double(row, column));
      break;
    case ValueKind::DateTime:
      if (storage == SQLITE_TEXT) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
        const DateType target = type.date.value_or(DateType::Of(DateKind::DateTime));
        const DateConversion converted = ConvertDateText(text == nullptr ? "" : text, target);
        if (converted.error) break;
        // The platform's date is a double of days: it gives DATETIME, SMALLDATETIME and DATE back to the
        // millisecond, all they show, but holds DATETIME2's 100 ns only to about a microsecond (tens of them
        // near 9999). A DATETIME2 comes back as its text, which keeps every digit of the type and which
        // Variant::ToDate reads; SQL Server hands datetime2 to down-level clients as that same text
        // ("datetime2 (Transact-SQL)", Backward Compatibility for Down-level Clients).
        if (target.kind == DateKind::DateTime2) return Variant(FormatDate(converted.ticks, target));
        return Variant(DateValue{DateValueDays(converted.ticks)});
      }
      break;
    case ValueKind::Text: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
      return Variant(std::string(text == nullptr ? "" : text,
                                 static_cast<std::size_t>(sqlite3_column_bytes(row, column))));
    }
    default:
      break;
  }
  switch (storage) {
    case SQLITE_INTEGER: {
      const std::int64_t v = sqlite3_column_int64(row, column);
      if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max()) {
        return Variant(static_cast<std::int32_t>(v));
      }
      // A BIGINT beyond 32 bits keeps every digit, as ADO's adBigInt, "an eight-byte signed integer"
      // ("DataTypeEnum"), does; a double would not.
      return Variant(v);
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(row, column));
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
      return Variant(std::string(text == nullptr ? "" : text,
                                 static_cast<std::size_t>(sqlite3_column_bytes(row, column))));
    }
  }
}

namespace {

void BindNumber(sqlite3_stmt* statement, int index, const SourceValue& source, NumericType type,
                std::int32_t line) {
  if (StoresAsItIs(source, type)) {
    if (source.storage == SourceValue::Storage::Integer) {
      sqlite3_bind_int64(statement, index, source.integer);
    } else {
      sqlite3_bind_double(statement, index, source.real);
    }
    return;
  }
  const ConversionResult converted = ConvertValueTo(source, type);
  if (converted.error) {
    throw StatementFailure{
        ServerError{converted.error->number, converted.error->sqlState, converted.error->message}, line};
  }
  if (converted.value.isInteger) {
    sqlite3_bind_int64(statement, index, converted.value.integer);
  } else {
    sqlite3_bind_double(statement, index, converted.value.real);
  }
}

}  // namespace

void BindStoredValue(sqlite3_stmt* statement, int index, const Variant& value, const TypeInfo* type,
                     std::int32_t line) {
  // The exact numeric types but bigint, as SqliteSession::StoringInsert converts them.
  std::optional<NumericType> exact;
  if (type != nullptr && type->numeric && type->numeric->kind != NumericKind::BigInt) exact = type->numeric;
  SourceValue source;
  std::string text;
  switch (value.Type()) {
    case VariantType::Empty:
    case VariantType::Null:
      sqlite3_bind_null(statement, index);
      return;
    case VariantType::Boolean:
    case VariantType::Long:
      source = {SourceValue::Storage::Integer,
                value.Type() == VariantType::Boolean ? (value.ToBoolean() ? 1 : 0) : value.ToLong(),
                0,
                {}};
      break;
    case VariantType::Double:
      source = {SourceValue::Storage::Real, 0, value.ToDouble(), {}};
      break;
    case VariantType::Date:
      text = FormatDateTimeIso(value.ToDate(), ' ');
      source = {SourceValue::Storage::Text, 0, 0, text};
      break;
    case VariantType::String:
      text = value.ToString();
      source = {SourceValue::Storage::Text, 0, 0, text};
      break;
    case VariantType::LongLong:
      source = {SourceValue::Storage::Integer, value.ToLongLong(), 0, {}};
      break;
    case VariantType::Decimal: {
      // Into an exact column the digits are converted as SQL Server converts the literal; elsewhere the
      // value is stored as the engine stores a number.
      const Decimal number = value.ToDecimal();
      text = number.ToString();
      source = {SourceValue::Storage::Text, 0, 0, text};
      const std::optional<std::int64_t> whole = number.TruncatedToInteger();
      if (!exact && number.Scale() == 0 && whole) source = {SourceValue::Storage::Integer, *whole, 0, {}};
      if (!exact && source.storage == SourceValue::Storage::Text)
        source = {SourceValue::Storage::Real, 0, number.ToDouble(), {}};
      break;
    }
    case VariantType::Object:
      throw ComError::Runtime(error_number::kTypeMismatch);
  }
  if (exact) return BindNumber(statement, index, source, *exact, line);
  switch (source.storage) {
    case SourceValue::Storage::Integer:
      sqlite3_bind_int64(statement, index, source.integer);
      return;
    case SourceValue::Storage::Real:
      sqlite3_bind_double(statement, index, source.real);
      return;
    case SourceValue::Storage::Text:
      sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      return;
  }
}

void SqliteSession::BindVariables(sqlite3_stmt* statement, std::int32_t line) {
  const int count = sqlite3_bind_parameter_count(statement);
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(statement, i);
    if (name == nullptr || name[0] != '@') continue;
    auto it = variables_.find(name);
    if (it == variables_.end()) {
      throw StatementFailure{
          ServerError{137, "42000", std::string("Must declare the scalar variable \"") + name + "\"."}, line};
    }
    const SqlValue& v = it->second.value;
    switch (v.type) {
      case SQLITE_INTEGER:
        sqlite3_bind_int64(statement, i, v.integer);
        break;
      case SQLITE_FLOAT:
        sqlite3_bind_double(statement, i, v.real);
        break;
      case SQLITE_TEXT:
        sqlite3_bind_text(statement, i, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
        break;
      default:
        sqlite3_bind_null(statement, i);
    }
  }
}

}  // namespace closewright::sqlite
