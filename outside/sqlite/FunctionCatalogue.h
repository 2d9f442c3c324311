#pragma once

// The T-SQL functions the embedded provider runs, in one table: how the translator renames each, what the
// session registers with SQLite for it, and what the provider's function properties report. A function SQL
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
};

std::span<const FunctionEntry> FunctionCatalogue();

/// The entry of a T-SQL name (any case) written in `spelling`, or nullptr.
const FunctionEntry* FindTsqlFunction(std::string_view name, Spelling spelling);

/// The bitmask of a group: the bits of its entries.
std::int32_t FunctionGroupMask(FunctionGroup group);

}  // namespace closewright::sqlite
