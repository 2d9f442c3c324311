#pragma once

struct sqlite3_context;
struct sqlite3_value;

namespace closewright::sqlite::functions {

// The functions that give numbers SQL Server's exact types (rows of FunctionCatalogue):
//   cw_convert_number(value, 'DECIMAL(5,2)'): the value as stored into, or cast to, that type;
//   cw_numbers_unstored('T1|T2|...', v1, v2, ...): 1 when a value of a row needs converting to its
//       column's type, 0 when all are stored as they are; raises the overflow a value would meet.
// Both raise SQL Server's conversion and overflow errors through the session's FunctionHost.
void ConvertNumber(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void NumbersUnstored(sqlite3_context* ctx, int argc, sqlite3_value** argv);
//   cw_plus(a, b): `+` where a text takes part: texts joined, a text beside a number converted to it.
void Plus(sqlite3_context* ctx, int argc, sqlite3_value** argv);

}  // namespace closewright::sqlite::functions
