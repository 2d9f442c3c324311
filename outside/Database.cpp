#include "outside/Database.h"

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
