#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "outside/sqlite/NumberConversion.h"

namespace closewright::sqlite {

/// What the SQL functions need from the session that registered them.
class FunctionHost {
 public:
  virtual ~FunctionHost() = default;
  /// Records the SQL Server error a function is about to raise; the session reports it instead of SQLite's
  /// text.
  virtual void RaiseServerError(std::int32_t number, std::string sqlState, std::string message) noexcept = 0;
  /// OBJECT_ID: a positive id of the named table, or nullopt.
  virtual std::optional<std::int64_t> ObjectId(std::string_view name) noexcept = 0;
  /// The next identity value of a table prepared for an insert; nullopt after raising an error.
  virtual std::optional<std::int64_t> NextIdentity(std::string_view tableKey) noexcept = 0;
  virtual std::int64_t RowCount() noexcept = 0;
  virtual std::int64_t TransactionCount() noexcept = 0;
  virtual std::optional<std::int64_t> LastIdentity() noexcept = 0;
  /// @@ERROR: the number of the error the last statement raised, 0 after one that succeeded.
  virtual std::int32_t LastError() noexcept = 0;
};

/// What every implementation shares: raising a SQL Server error through the session that registered the
/// function (only SQLite's text when none did), and an argument's text (empty for NULL).
void RaiseFrom(sqlite3_context* ctx, std::int32_t number, const char* sqlState, std::string message);
void Raise(sqlite3_context* ctx, const ConversionError& error);
std::string_view TextOf(sqlite3_value* value);

/// The implementations FunctionCatalogue.cpp names: SQL Server's results, NULLs and errors.
namespace functions {
void Divide(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Modulo(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void CheckNumber(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void ToBit(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void ToFloat(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void ToText(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Left(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Right(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Len(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Like(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void CharIndex(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Replicate(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Space(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void ObjectId(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void NextIdentity(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void RowCount(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void TransactionCount(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void LastIdentity(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void LastError(sqlite3_context* ctx, int argc, sqlite3_value** argv);
// The exact SUM and AVG, as aggregates and window functions.
void SumStep(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void SumInverse(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void SumResult(sqlite3_context* ctx);
void AverageResult(sqlite3_context* ctx);
}  // namespace functions

/// Registers the collations (CI: case and trailing blanks ignored; DT: dates compared as dates), the exact
/// SUM and AVG (aggregate and window), the dividing functions that raise 8134, and the helper functions the
/// translated texts call: every function of the catalogue (FunctionCatalogue.h) that has an implementation.
/// With a null host only what the stored schema needs is registered.
int RegisterSqlServerFunctions(sqlite3* db, FunctionHost* host);

/// OBJECT_ID of a table or view in the database `db`: the argument may carry a "tempdb..", "tempdb.dbo." or
/// "dbo." prefix and one pair of brackets, and a temporary table (#name) is found only through tempdb, as on
/// the server. The id is the table's root page, temporary tables' offset by 1,000,000,000.
std::optional<std::int64_t> ObjectIdOf(sqlite3* db, std::string_view argument) noexcept;

/// SQL Server's comparison of two texts under a case-insensitive collation: case folded, the shorter
/// text padded with blanks.
int CompareIgnoringCaseAndTrailingBlanks(std::string_view left, std::string_view right) noexcept;

}  // namespace closewright::sqlite
