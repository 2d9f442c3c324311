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
//   cw_add(a, b, 'DECIMAL(p,s)'), cw_subtract, cw_multiply, and cw_divide and cw_modulo with a third
//   argument: the operation computed exactly at the result type the translation worked out, overflowing
//   (8115) beyond it; a quotient is cut off at the type's scale.
void Add(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Subtract(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void Multiply(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void TypedDivide(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void TypedModulo(sqlite3_context* ctx, int argc, sqlite3_value** argv);
//   cw_round(x, length[, function[, 'DECIMAL(p,s)']]): ROUND, rounding half away from zero (or cutting off)
//   at `length` places, left of the point when negative, and overflowing (8115) beyond x's type.
void Round(sqlite3_context* ctx, int argc, sqlite3_value** argv);

}  // namespace closewright::sqlite::functions
