#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outside/Decimal.h"
#include "outside/sqlite/SqlServerTypes.h"

namespace closewright::sqlite {

/// A SQL Server error a conversion raises.
struct ConversionError {
  std::int32_t number = 0;
  std::string sqlState;
  std::string message;
};

/// A number in the form SQLite stores it: whole numbers of the integer types as 64-bit integers, the exact
/// types (DECIMAL, NUMERIC, MONEY, SMALLMONEY) as the double that reads back as exactly the stored decimal.
struct StoredNumber {
  bool isInteger = false;
  std::int64_t integer = 0;
  double real = 0;
};

struct ConversionResult {
  std::optional<ConversionError> error;
  StoredNumber value;
};

/// Converts an exact value to `target` as SQL Server does when it stores into a column or variable or runs
/// CAST: to DECIMAL(p,s) and the money types rounded half away from zero to the scale, 8115 when the
/// integral digits do not fit; to the integer types truncated toward zero, 220 (tinyint, smallint from a
/// whole number) or 8115 when out of range; to bit 1 for anything but zero. `fromInteger` tells a whole
/// number (int, bigint) from a decimal, which the overflow message names.
///
/// SQLite holds a non-integral number only as a double. Rather than keep a nearby value, a decimal whose
/// digits a double cannot give back exactly (more than 15 to 17 significant digits) is refused (native
/// error 0, SQLSTATE HYC00), naming the value: the embedded provider never stores a different amount.
ConversionResult ConvertExact(const Decimal& value, NumericType target, bool fromInteger);

/// A value in one of SQLite's storage classes, to be converted to an exact numeric type.
struct SourceValue {
  enum class Storage { Integer, Real, Text } storage = Storage::Integer;
  std::int64_t integer = 0;
  double real = 0;
  std::string_view text;
};

/// Converts what SQLite holds as ConvertExact does; text is read as SQL Server reads it (a whole number for
/// the integer types, else 245; a decimal for the others, else 8114; 'true' and 'false' for bit).
ConversionResult ConvertValueTo(const SourceValue& value, NumericType target);

/// Whether storing `value` into a column of `target` keeps it as it is, without ConvertValueTo: an integer
/// within an integer type other than bit, a double in stored form (IsStoredForm). What cw_convert_number,
/// and so every INSERT into an exact numeric column, decides first.
bool StoresAsItIs(const SourceValue& value, NumericType target);

/// Whether a double already holds a value of `target` as it would be stored: at most the type's scale,
/// within its range. Cheap for the common case, so that a trigger can skip rows that need nothing.
bool IsStoredForm(double value, NumericType target);

/// The declaration ExactNumericTypeOf reads back: "DECIMAL(28,10)", "MONEY", "INT", ...
std::string DeclarationOf(NumericType type);

/// A declared type as written: its first word in upper case and the numbers in its parentheses, -1 for one
/// that is no number (MAX). "DECIMAL REAL(28,10)", as the SQLite schema keeps it, reads as DECIMAL, 28, 10.
struct TypeDeclaration {
  std::string word;
  std::vector<std::int32_t> arguments;
};
TypeDeclaration ReadTypeDeclaration(std::string_view declaredType);

/// The target type of a column or variable from its declared name: "DECIMAL(28,10)", "money", "int"...
/// nullopt for the types that are not exact numbers (float, text, dates).
std::optional<NumericType> ExactNumericTypeOf(const TypeDeclaration& declaration);
inline std::optional<NumericType> ExactNumericTypeOf(std::string_view declaredType) {
  return ExactNumericTypeOf(ReadTypeDeclaration(declaredType));
}

}  // namespace closewright::sqlite
