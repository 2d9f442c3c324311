#include "outside/Database.h"

#include "outside/ComError.h"
#include "outside/Text.h"
#if CLOSEWRIGHT_WITH_SQLITE
#include "outside/sqlite/SqliteProvider.h"
#endif
#if CLOSEWRIGHT_WITH_ODBC
#include "outside/odbc/OdbcProvider.h"
#endif

namespace closewright {
namespace {

bool IsSqlServerOleDbProvider(std::string_view provider) {
  return EqualsIgnoringCase(provider, "SQLOLEDB") || StartsWithIgnoringCase(provider, "SQLOLEDB.") ||
         StartsWithIgnoringCase(provider, "SQLNCLI") || StartsWithIgnoringCase(provider, "MSOLEDBSQL");
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SplitConnectString(std::string_view connectString) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t at = 0;
  while (at < connectString.size()) {
    const std::size_t equals = connectString.find('=', at);
    if (equals == std::string_view::npos) break;
    std::string key(TrimWhitespace(connectString.substr(at, equals - at)));
    at = equals + 1;
    while (at < connectString.size() && connectString[at] == ' ') ++at;
    std::string value;
    const char open = at < connectString.size() ? connectString[at] : '\0';
    if (open == '{' || open == '"' || open == '\'') {
      const char close = open == '{' ? '}' : open;
      std::size_t end = connectString.find(close, at + 1);
      // "}}" inside a braced ODBC value stands for one "}".
      while (close == '}' && end != std::string_view::npos && end + 1 < connectString.size() &&
             connectString[end + 1] == '}') {
        value.append(connectString.substr(at + 1, end + 1 - (at + 1)));
        at = end + 1;
        end = connectString.find(close, at + 1);
      }
      if (end == std::string_view::npos) end = connectString.size();
      value.append(connectString.substr(at + 1, end - (at + 1)));
      at = connectString.find(';', end);
      at = at == std::string_view::npos ? connectString.size() : at + 1;
    } else {
      std::size_t end = connectString.find(';', at);
      if (end == std::string_view::npos) end = connectString.size();
      value = std::string(TrimWhitespace(connectString.substr(at, end - at)));
      at = end + 1;
    }
    if (key.empty()) continue;
    bool replaced = false;
    for (auto& pair : pairs) {
      if (EqualsIgnoringCase(pair.first, key)) {
        pair.second = value;
        replaced = true;
      }
    }
    if (!replaced) pairs.emplace_back(std::move(key), std::move(value));
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
#else
  static_cast<void>(IsSqlServerOleDbProvider);
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
