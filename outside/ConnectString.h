#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace closewright {

/// One key=value pair as it stands in a connect string: the value unquoted, plus where its raw form (braces
/// and quotes included) starts and ends, so that it can be replaced in place.
struct ConnectStringPair {
  std::string key;
  std::string value;
  std::size_t valueBegin = 0;
  std::size_t valueEnd = 0;
};

/// How a value may be enclosed so that it can hold ";": ADO accepts braces and quotes, the ODBC driver
/// manager braces only.
enum class ConnectStringEnclosing { BracesAndQuotes, BracesOnly, None };

/// Reads "key=value" pairs separated by ";", in the order they stand, repeated keys included. Keys and
/// unenclosed values are trimmed of blanks, tabs and line breaks; an enclosed value (braces with "}}"
/// standing for "}", or quotes with a doubled quote standing for one) may contain ";" and runs to the end of
/// the text when it is not closed. A segment without "=" and a pair without a key are skipped.
std::vector<ConnectStringPair> ReadConnectString(
    std::string_view text, ConnectStringEnclosing enclosing = ConnectStringEnclosing::BracesAndQuotes);

/// True for the OLE DB providers for SQL Server (SQLOLEDB, SQLNCLI*, MSOLEDBSQL*), blanks around the name
/// ignored; their strings are mapped to the ODBC provider.
bool IsSqlServerOleDbProvider(std::string_view provider) noexcept;

}  // namespace closewright
