#pragma once

// The T-SQL functions the embedded provider runs, in one table: how the translator renames each, what the
// session registers with SQLite for it, what the provider's function properties report, and how the
// translation types its result. A function SQL
// Server has and SQLite lacks is one entry here plus its implementation in SqlServerFunctions.cpp.

#include <cstdint>
#include <span>
#include <string_view>

struct sqlite3_context;
struct sqlite3_value;

namespace closewright::sqlite {

using ScalarImplementation = void (*)(sqlite3_context*, int, sqlite3_value**);

/// An aggregate that runs as a window function too.
struct WindowImplementation {
  void (*step)(sqlite3_context*, int, sqlite3_value**);
  void (*final)(sqlite3_context*);
  void (*value)(sqlite3_context*);
  void (*inverse)(sqlite3_context*, int, sqlite3_value**);
};

/// What the session registers for a function; nothing when SQLite's own function runs it.
struct Implementation {
  constexpr Implementation() = default;
  constexpr Implementation(ScalarImplementation function) : scalar(function) {}
  constexpr Implementation(const WindowImplementation& aggregate) : window(&aggregate) {}

  ScalarImplementation scalar = nullptr;
  const WindowImplementation* window = nullptr;
  /// False for a function whose result depends on more than its arguments (the clock, the session).
  bool deterministic = true;
};

/// A scalar implementation whose result SQLite must not reuse between calls with equal arguments.
constexpr Implementation Volatile(ScalarImplementation function) {
  Implementation implementation(function);
  implementation.deterministic = false;
  return implementation;
}

/// How T-SQL writes the function.
enum class Spelling {
  Call,      // NAME(...)
  Niladic,   // without parentheses: @@ROWCOUNT, CURRENT_TIMESTAMP
  Operator,  // a / b, a % b
  Internal,  // not at all: only the translated texts call it (conversions, identities, checks)
};

/// The groups of the provider's "Numeric Functions", "String Functions", ... properties: ODBC bitmasks
/// of the functions the dialect accepts under their T-SQL names.
enum class FunctionGroup { None, Numeric, String, System, TimeDate };

/// How the translation types a call's result, after each function's page, "Return types". The rules are
/// worked in TsqlTyping.cpp; a function without one leaves arithmetic on its result untyped.
enum class ResultRule {
  Unknown,
  Declared,          // the result type the translation appended as the last argument (cw_add, cw_divide)
  FirstArgument,     // MIN, MAX, ABS, ISNULL, NULLIF
  Int,               // COUNT, LEN, CHARINDEX, YEAR, ...
  BigInt,            // ROW_NUMBER, RANK, DENSE_RANK
  Float,             // LOG, SQRT
  Text,              // LEFT, UPPER, REPLACE, ...
  Sum,               // int for the small integers, decimal(38, s) for decimal(p, s)
  Average,           // decimal(38, max(s, 6)) for decimal(p, s)
  Whole,             // CEILING, FLOOR: decimal(p, 0) for decimal(p, s)
  Rounded,           // ROUND: the argument's type, int for the small integers
  Power,             // POWER: decimal(38, s) for decimal(p, s), int for the small integers
  HighestOfAll,      // COALESCE: the type of highest precedence among the arguments
  HighestOfResults,  // IIF: among the arguments after the condition
  Date,              // a conversion to a date type: DATETIME, or the type named as the second argument
};

struct FunctionEntry {
  std::string_view tsqlName;    // upper case; empty for an internal function
  std::string_view sqliteName;  // what the translated text calls
  int minArguments = 0;
  int maxArguments = 0;    // -1: any number
  std::string_view types;  // arguments -> result
  Implementation implementation;
  Spelling spelling = Spelling::Call;
  FunctionGroup group = FunctionGroup::None;
  std::int32_t odbcBit = 0;  // the function's bit in its group's mask
  ResultRule result = ResultRule::Unknown;
};

std::span<const FunctionEntry> FunctionCatalogue();

/// The entry of a T-SQL name (any case) written in `spelling`, or nullptr.
const FunctionEntry* FindTsqlFunction(std::string_view name, Spelling spelling);

/// The first entry a translated text calls by `sqliteName` (lower case), or nullptr.
const FunctionEntry* FindTranslatedFunction(std::string_view sqliteName);

/// The bitmask of a group: the bits of its entries.
std::int32_t FunctionGroupMask(FunctionGroup group);

}  // namespace closewright::sqlite
