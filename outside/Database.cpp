#include "outside/Database.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "outside/ComError.h"
#include "outside/ConnectString.h"
#include "outside/Text.h"
#if CLOSEWRIGHT_WITH_SQLITE
#include "outside/sqlite/SqliteProvider.h"
#endif
#if CLOSEWRIGHT_WITH_ODBC
#include "outside/odbc/OdbcProvider.h"
#endif

namespace closewright {

// One reading for the provider choice and for the ODBC mapping, so that the two never disagree on a string.
std::vector<std::pair<std::string, std::string>> SplitConnectString(std::string_view connectString) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (ConnectStringPair& read : ReadConnectString(connectString)) {
    bool replaced = false;
    for (auto& pair : pairs) {
      if (EqualsIgnoringCase(pair.first, read.key)) {
        pair.second = read.value;
        replaced = true;
      }
    }
    if (!replaced) pairs.emplace_back(std::move(read.key), std::move(read.value));
  }
  return pairs;
}

std::optional<std::string> ConnectStringValue(const std::vector<std::pair<std::string, std::string>>& pairs,
                                              std::string_view key) {
  for (const auto& [name, value] : pairs) {
    if (EqualsIgnoringCase(name, key)) return value;
  }
  return std::nullopt;
}

std::string SqlLiteral(const Variant& value) {
  switch (value.Type()) {
    case VariantType::Empty:
    case VariantType::Null:
      return "NULL";
    case VariantType::Boolean:
      return value.ToBoolean() ? "1" : "0";
    case VariantType::Long:
      return std::to_string(value.ToLong());
    case VariantType::Double: {
      const double number = value.ToDouble();
      if (!std::isfinite(number)) throw ComError::Runtime(error_number::kOverflow);
      // Decimal notation is an exact numeric literal; a float literal only where that would be long.
      const double magnitude = std::fabs(number);
      const bool plain = number == 0 || (magnitude >= 1e-6 && magnitude < 1e15);
      char text[64];
      const auto [end, ec] = std::to_chars(text, text + sizeof text, number,
                                           plain ? std::chars_format::fixed : std::chars_format::scientific);
      if (ec != std::errc()) throw ComError::Runtime(error_number::kOverflow);
      return std::string(text, end);
    }
    case VariantType::Date:
      return QuoteSqlText(FormatDateTimeIso(value.ToDate()));
    case VariantType::String: {
      const std::string text = value.ToString();
      const bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
      // Appended, not "N" + text: GCC 12 warns falsely (-Wrestrict) about that at -O2.
      std::string literal = ascii ? "" : "N";
      literal += QuoteSqlText(text);
      return literal;
    }
    case VariantType::LongLong:
      return std::to_string(value.ToLongLong());
    case VariantType::Decimal:
      // The digits at their scale are the exact numeric literal of the same value and type.
      return value.ToDecimal().ToString();
    case VariantType::Object:
      break;
  }
  throw ComError::Runtime(error_number::kTypeMismatch);
}

std::string InsertText(std::string_view table, const std::vector<std::string>& columns,
                       const std::vector<Variant>& values, std::size_t firstRow, std::size_t rowCount) {
  std::string text = "INSERT INTO ";
  text += table;
  text += " (";
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) text += ',';
    text += columns[c];
  }
  text += ") VALUES";
  for (std::size_t row = firstRow; row < firstRow + rowCount; ++row) {
    text += row == firstRow ? "\n(" : ",\n(";
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) text += ',';
      text += SqlLiteral(values.at(row * columns.size() + c));
    }
    text += ')';
  }
  return text;
}

// Statements of 50 rows in batches of about 200 KB, as the ledger generator sent its rows before there was a
// path without text: SQL Server takes at most 1000 rows in one VALUES list, and the syntax check of the
// embedded provider keeps the shape of every statement it passed.
void DatabaseSession::InsertRows(std::string_view table, const std::vector<std::string>& columns,
                                 const std::vector<Variant>& values) {
  constexpr std::size_t kRowsPerStatement = 50;
  constexpr std::size_t kBatchBytes = 200 * 1000;
  if (columns.empty() || values.size() % columns.size() != 0) {
    throw ComError(error_number::kInvalidArgument, ProviderName(),
                   "InsertRows takes one value per column for every row: " + std::to_string(values.size()) +
                       " values for " + std::to_string(columns.size()) + " columns.");
  }
  const std::size_t rows = values.size() / columns.size();
  std::string batch;
  for (std::size_t first = 0; first < rows; first += kRowsPerStatement) {
    batch += InsertText(table, columns, values, first, std::min(kRowsPerStatement, rows - first));
    batch += '\n';
    if (batch.size() >= kBatchBytes || first + kRowsPerStatement >= rows) {
      Execute(batch);
      batch.clear();
    }
  }
}

std::unique_ptr<DatabaseSession> OpenDatabaseSession(const std::string& connectString) {
  const auto pairs = SplitConnectString(connectString);
  const std::optional<std::string> provider = ConnectStringValue(pairs, "Provider");
#if CLOSEWRIGHT_WITH_SQLITE
  if (provider && EqualsIgnoringCase(*provider, "Closewright.SQLite")) return OpenSqliteSession(pairs);
#endif
#if CLOSEWRIGHT_WITH_ODBC
  const bool odbcString =
      !provider && (ConnectStringValue(pairs, "Driver") || ConnectStringValue(pairs, "DSN") ||
                    ConnectStringValue(pairs, "FILEDSN"));
  if (odbcString || (provider && IsSqlServerOleDbProvider(*provider))) return OpenOdbcSession(connectString);
#endif
  const std::string named = provider ? "'" + *provider + "'" : "none named";
  throw ComError::Database(
      error_number::kOpenFailed, "ADODB.Connection",
      "Provider cannot be found. It may not be properly installed. (provider: " + named +
          "; use Provider=Closewright.SQLite;Data Source=<file>, an ODBC Driver= or DSN= "
          "string, or an OLE DB SQL Server provider)",
      "IM002", 0, {});
}

}  // namespace closewright
