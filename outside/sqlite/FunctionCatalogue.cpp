#include "outside/sqlite/FunctionCatalogue.h"

#include <algorithm>

#include "outside/Text.h"
#include "outside/sqlite/DateFunctions.h"
#include "outside/sqlite/NumberFunctions.h"
#include "outside/sqlite/SqlServerFunctions.h"

namespace closewright::sqlite {

namespace {

using enum FunctionGroup;
using enum Spelling;
using enum ResultRule;

constexpr WindowImplementation kExactSum{functions::SumStep, functions::SumResult, functions::SumResult,
                                         functions::SumInverse};
constexpr WindowImplementation kExactAverage{functions::SumStep, functions::AverageResult,
                                             functions::AverageResult, functions::SumInverse};
// SQLite's own function runs it.
constexpr Implementation kBuiltIn{};

// Each row: T-SQL name, SQLite name, fewest and most arguments, types, implementation, how T-SQL writes it,
// the group and bit the provider's function properties report it under, and how its result is typed.
constexpr FunctionEntry kCatalogue[] = {
    // Aggregates: exact over decimals, as SQL Server's are.
    {"SUM", "sum", 1, 1, "number -> number", kExactSum, Call, None, 0, Sum},
    {"AVG", "avg", 1, 1, "number -> number", kExactAverage, Call, None, 0, Average},
    {"COUNT", "count", 1, 1, "value -> int", kBuiltIn, Call, None, 0, Int},
    {"MIN", "min", 1, 1, "value -> value", kBuiltIn, Call, None, 0, FirstArgument},
    {"MAX", "max", 1, 1, "value -> value", kBuiltIn, Call, None, 0, FirstArgument},
    {"ROW_NUMBER", "row_number", 0, 0, "-> bigint, with OVER", kBuiltIn, Call, None, 0, BigInt},
    {"RANK", "rank", 0, 0, "-> bigint, with OVER", kBuiltIn, Call, None, 0, BigInt},
    {"DENSE_RANK", "dense_rank", 0, 0, "-> bigint, with OVER", kBuiltIn, Call, None, 0, BigInt},
    // Numbers.
    {"ABS", "abs", 1, 1, "number -> number", kBuiltIn, Call, Numeric, 0x1, FirstArgument},
    {"CEILING", "ceiling", 1, 1, "number -> number", kBuiltIn, Call, Numeric, 0x20, Whole},
    {"FLOOR", "floor", 1, 1, "number -> number", kBuiltIn, Call, Numeric, 0x200, Whole},
    {"LOG", "ln", 1, 1, "float -> float", kBuiltIn, Call, Numeric, 0x400, Float},
    {"SIGN", "sign", 1, 1, "number -> int", kBuiltIn, Call, Numeric, 0x1000},
    {"SQRT", "sqrt", 1, 1, "float -> float", kBuiltIn, Call, Numeric, 0x4000, Float},
    {"POWER", "power", 2, 2, "number, number -> number", kBuiltIn, Call, Numeric, 0x100000, Power},
    {"ROUND", "cw_round", 2, 3, "number, int, int -> number", functions::Round, Call, Numeric, 0x400000,
     Rounded},
    {"/", "cw_divide", 2, 3, "number, number[, result type] -> number; error 8134 on zero", functions::Divide,
     Operator, None, 0, Declared},
    {"%", "cw_modulo", 2, 3, "number, number[, result type] -> number; error 8134 on zero", functions::Modulo,
     Operator, Numeric, 0x800, Declared},
    // Texts.
    {"LEFT", "cw_left", 2, 2, "text, int -> text", functions::Left, Call, String, 0x4, Text},
    {"LTRIM", "ltrim", 1, 1, "text -> text", kBuiltIn, Call, String, 0x8, Text},
    {"LEN", "cw_len", 1, 1, "text -> int, trailing blanks not counted", functions::Len, Call, String, 0x10,
     Int},
    {"CHARINDEX", "cw_charindex", 2, 3, "text, text, int -> int", functions::CharIndex, Call, String, 0x20,
     Int},
    {"LOWER", "lower", 1, 1, "text -> text", kBuiltIn, Call, String, 0x40, Text},
    {"REPLICATE", "cw_replicate", 2, 2, "text, int -> text", functions::Replicate, Call, String, 0x80, Text},
    {"REPLACE", "replace", 3, 3, "text, text, text -> text", kBuiltIn, Call, String, 0x100, Text},
    {"RIGHT", "cw_right", 2, 2, "text, int -> text", functions::Right, Call, String, 0x200, Text},
    {"RTRIM", "rtrim", 1, 1, "text -> text", kBuiltIn, Call, String, 0x400, Text},
    {"SUBSTRING", "substr", 3, 3, "text, int, int -> text", kBuiltIn, Call, String, 0x800, Text},
    {"UPPER", "upper", 1, 1, "text -> text", kBuiltIn, Call, String, 0x1000, Text},
    {"SPACE", "cw_space", 1, 1, "int -> text", functions::Space, Call, String, 0x40000, Text},
    // Dates.
    {"GETDATE", "cw_getdate", 0, 0, "-> datetime", Volatile(functions::GetDate), Call, TimeDate, 0x1},
    {"CURRENT_TIMESTAMP", "cw_getdate", 0, 0, "-> datetime", Volatile(functions::GetDate), Niladic, None, 0},
    {"DAY", "cw_day", 1, 1, "datetime -> int", functions::Day, Call, TimeDate, 0x4, Int},
    {"MONTH", "cw_month", 1, 1, "datetime -> int", functions::Month, Call, TimeDate, 0x20, Int},
    {"YEAR", "cw_year", 1, 1, "datetime -> int", functions::Year, Call, TimeDate, 0x100, Int},
    // The session.
    {"COALESCE", "coalesce", 2, -1, "values -> value", kBuiltIn, Call, None, 0, HighestOfAll},
    {"NULLIF", "nullif", 2, 2, "value, value -> value", kBuiltIn, Call, None, 0, FirstArgument},
    {"IIF", "iif", 3, 3, "condition, value, value -> value", kBuiltIn, Call, None, 0, HighestOfResults},
    {"ISNULL", "ifnull", 2, 2, "value, value -> value", kBuiltIn, Call, System, 0x4, FirstArgument},
    {"OBJECT_ID", "cw_object_id", 1, 2, "text, text -> int", Volatile(functions::ObjectId), Call, None, 0,
     Int},
    {"SCOPE_IDENTITY", "cw_identity_last", 0, 0, "-> bigint", Volatile(functions::LastIdentity), Call, None,
     0},
    {"@@IDENTITY", "cw_identity_last", 0, 0, "-> bigint", Volatile(functions::LastIdentity), Niladic, None,
     0},
    {"@@ROWCOUNT", "cw_rowcount", 0, 0, "-> int", Volatile(functions::RowCount), Niladic, None, 0},
    {"@@TRANCOUNT", "cw_trancount", 0, 0, "-> int", Volatile(functions::TransactionCount), Niladic, None, 0},
    {"@@ERROR", "cw_error", 0, 0, "-> int", Volatile(functions::LastError), Niladic, None, 0},
    // What the translated texts call: CAST and CONVERT, identity values, the checks of CREATE TABLE.
    {"", "cw_convert_number", 2, 2, "value, type declaration -> exact number", functions::ConvertNumber,
     Internal, None, 0, Declared},
    // The LIKE operator: SQLite calls like(pattern, text[, escape]); T-SQL's sets [a-c] and [^a] included.
    {"", "like", 2, 3, "pattern, text, escape -> bit", functions::Like, Internal, None, 0},
    {"", "cw_add", 3, 3, "number, number, result type -> number", functions::Add, Internal, None, 0,
     Declared},
    {"", "cw_subtract", 3, 3, "number, number, result type -> number", functions::Subtract, Internal, None, 0,
     Declared},
    {"", "cw_multiply", 3, 3, "number, number, result type -> number", functions::Multiply, Internal, None, 0,
     Declared},
    {"", "cw_round", 4, 4, "number, int, int, result type -> number", functions::Round, Internal, None, 0,
     Rounded},
    {"", "cw_plus", 2, 2, "text or number, text or number -> text or number", functions::Plus, Internal, None,
     0},
    {"", "cw_numbers_unstored", 2, -1, "type declarations, values -> bit", functions::NumbersUnstored,
     Internal, None, 0},
    {"", "cw_to_bit", 1, 1, "value -> bit", functions::ToBit, Internal, None, 0},
    {"", "cw_to_float", 1, 1, "value -> float", functions::ToFloat, Internal, None, 0, Float},
    {"", "cw_to_text", 2, 2, "value, length -> text", functions::ToText, Internal, None, 0, Text},
    {"", "cw_datetime", 1, 3, "value[, date type[, explicit]] -> date text", functions::DateTime, Internal,
     None, 0, Date},
    {"", "cw_datetime_needs_canonical", 1, 2, "value[, date type] -> bit", functions::DateTimeNeedsCanonical,
     Internal, None, 0},
    {"", "cw_check_number", 2, 2, "text, type name -> bit", functions::CheckNumber, Internal, None, 0},
    {"", "cw_identity_next", 1, 1, "table key -> bigint", Volatile(functions::NextIdentity), Internal, None,
     0},
};

}  // namespace

std::span<const FunctionEntry> FunctionCatalogue() {
  return kCatalogue;
}

const FunctionEntry* FindTsqlFunction(std::string_view name, Spelling spelling) {
  const auto* found = std::find_if(std::begin(kCatalogue), std::end(kCatalogue), [&](const FunctionEntry& e) {
    return e.spelling == spelling && !e.tsqlName.empty() && EqualsIgnoringCase(e.tsqlName, name);
  });
  return found == std::end(kCatalogue) ? nullptr : found;
}

const FunctionEntry* FindTranslatedFunction(std::string_view sqliteName) {
  const auto* found = std::find_if(std::begin(kCatalogue), std::end(kCatalogue),
                                   [&](const FunctionEntry& e) { return e.sqliteName == sqliteName; });
  return found == std::end(kCatalogue) ? nullptr : found;
}

std::int32_t FunctionGroupMask(FunctionGroup group) {
  std::int32_t mask = 0;
  for (const FunctionEntry& entry : kCatalogue) {
    if (entry.group == group) mask |= entry.odbcBit;
  }
  return mask;
}

}  // namespace closewright::sqlite
