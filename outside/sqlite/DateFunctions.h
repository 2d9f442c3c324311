#pragma once

#include <string>

#include "outside/sqlite/DateConversion.h"

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace closewright::sqlite {

/// The collation a column of `type` compares with: its values, and a text compared with them, are taken as
/// that type takes them (rounded to its precision) and compared as instants. DT is DATETIME's.
std::string DateCollation(DateType type);

/// Registers the collation of every date type on `db`; an SQLite result code.
int RegisterDateCollations(sqlite3* db);

}  // namespace closewright::sqlite

namespace closewright::sqlite::functions {

// The functions over dates (rows of FunctionCatalogue):
//   cw_datetime(value[, 'DATE'[, 1]]): the value converted to the type named (DATETIME without one), as the
//       stored text; the third argument marks an explicit conversion (CAST, CONVERT), which words errors so.
//   cw_datetime_needs_canonical(value[, 'DATE']): 1 when a stored value is not yet in that type's text.
// Both raise SQL Server's conversion and range errors through the session's FunctionHost.
void DateTime(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void DateTimeNeedsCanonical(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void GetDate(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Year(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Month(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Day(sqlite3_context* ctx, int argc, sqlite3_value** argv);

}  // namespace closewright::sqlite::functions
