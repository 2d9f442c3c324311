// Connect-string handling of the ODBC provider: mapping OLE DB SQL Server strings to ODBC keywords and
// masking passwords. Kept free of ODBC headers so that it can be exercised on its own.

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outside/ComError.h"
#include "outside/Text.h"
#include "outside/odbc/OdbcProvider.h"

namespace closewright {
namespace {

// One key=value pair as it stands in the text: the value unquoted, plus where its raw form (braces and
// quotes included) starts and ends, so that it can be replaced in place.
struct RawPair {
  std::string key;
  std::string value;
  std::size_t valueBegin = 0;
  std::size_t valueEnd = 0;
};

// How a value may be enclosed so that it can hold ";": ADO accepts braces and quotes, the ODBC driver
// manager braces only.
enum class Enclosing { BracesAndQuotes, BracesOnly, None };

// Reads "key=value" pairs separated by ";"; an enclosed value (braces with "}}" standing for "}", or
// quotes) may contain ";". A segment without "=" is skipped.
std::vector<RawPair> ReadPairs(std::string_view text, Enclosing enclosing = Enclosing::BracesAndQuotes) {
  std::vector<RawPair> pairs;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t keyEnd = text.find_first_of("=;", at);
    if (keyEnd == std::string_view::npos) break;
    if (text[keyEnd] == ';') {
      at = keyEnd + 1;
      continue;
    }
    RawPair pair;
    pair.key = std::string(TrimWhitespace(text.substr(at, keyEnd - at)));
    std::size_t position = keyEnd + 1;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) ++position;
    pair.valueBegin = position;
    const char open = position < text.size() ? text[position] : '\0';
    const bool enclosed = (enclosing != Enclosing::None && open == '{') ||
                          (enclosing == Enclosing::BracesAndQuotes && (open == '"' || open == '\''));
    if (enclosed) {
      const char close = open == '{' ? '}' : open;
      std::size_t scan = position + 1;
      while (scan < text.size()) {
        if (text[scan] == close) {
          if (scan + 1 < text.size() && text[scan + 1] == close) {
            pair.value.push_back(close);
            scan += 2;
            continue;
          }
          break;
        }
        pair.value.push_back(text[scan]);
        ++scan;
      }
      // An unclosed brace or quote runs to the end of the text.
      pair.valueEnd = scan < text.size() ? scan + 1 : text.size();
      const std::size_t separator = text.find(';', pair.valueEnd);
      at = separator == std::string_view::npos ? text.size() : separator + 1;
    } else {
      std::size_t separator = text.find(';', position);
      if (separator == std::string_view::npos) separator = text.size();
      std::size_t end = separator;
      while (end > position && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
      pair.value = std::string(text.substr(position, end - position));
      pair.valueEnd = end;
      at = separator + 1;
    }
    if (!pair.key.empty()) pairs.push_back(std::move(pair));
  }
  return pairs;
}

// The value of the last pair whose key is one of `names` (later pairs replace earlier ones, as in ADO).
std::optional<std::string> LastValue(const std::vector<RawPair>& pairs,
                                     std::initializer_list<std::string_view> names) {
  std::optional<std::string> found;
  for (const RawPair& pair : pairs) {
    for (std::string_view name : names) {
      if (EqualsIgnoringCase(pair.key, name)) found = pair.value;
    }
  }
  return found;
}

bool IsPasswordKey(std::string_view key) {
  return EqualsIgnoringCase(key, "PWD") || EqualsIgnoringCase(key, "Password");
}

bool IsSqlServerOleDbProviderName(std::string_view provider) {
  provider = TrimWhitespace(provider);
  return EqualsIgnoringCase(provider, "SQLOLEDB") || StartsWithIgnoringCase(provider, "SQLOLEDB.") ||
         StartsWithIgnoringCase(provider, "SQLNCLI") || StartsWithIgnoringCase(provider, "MSOLEDBSQL");
}

bool IsTrue(std::string_view value) {
  value = TrimWhitespace(value);
  return EqualsIgnoringCase(value, "SSPI") || EqualsIgnoringCase(value, "true") ||
         EqualsIgnoringCase(value, "yes");
}

bool IsFreeTdsDriver(std::string_view driver) {
  const std::string lower = ToLowerAscii(driver);
  return lower.find("freetds") != std::string::npos || lower.find("tdsodbc") != std::string::npos;
}

// An ODBC value needs braces when it holds a separator, a brace or blanks the driver manager would trim.
std::string OdbcValue(std::string_view value) {
  const bool needsBraces = value.find_first_of(";{}=") != std::string_view::npos ||
                           (!value.empty() && (value.front() == ' ' || value.back() == ' '));
  if (!needsBraces) return std::string(value);
  std::string braced = "{";
  for (char c : value) {
    braced.push_back(c);
    if (c == '}') braced.push_back('}');
  }
  braced.push_back('}');
  return braced;
}

void AppendPair(std::string& out, std::string_view key, std::string_view value) {
  if (!out.empty()) out.push_back(';');
  out.append(key);
  out.push_back('=');
  out.append(OdbcValue(value));
}

}  // namespace

bool IsOleDbSqlServerConnectString(std::string_view connectString) {
  const std::optional<std::string> provider = LastValue(ReadPairs(connectString), {"Provider"});
  return provider && IsSqlServerOleDbProviderName(*provider);
}

std::string MapOleDbConnectString(std::string_view oleDbConnectString, std::string_view driver) {
  const std::vector<RawPair> pairs = ReadPairs(oleDbConnectString);
  const std::optional<std::string> provider = LastValue(pairs, {"Provider"});
  if (!provider || !IsSqlServerOleDbProviderName(*provider)) {
    throw ComError::Database(error_number::kOpenFailed, std::string(kOdbcProviderName),
                             "The connect string names no OLE DB provider for SQL Server (provider: " +
                                 (provider ? "'" + *provider + "'" : std::string("none")) +
                                 "); only SQLOLEDB, SQLNCLI* and MSOLEDBSQL* strings are mapped to ODBC",
                             "IM002", 0, MaskConnectStringPasswords(oleDbConnectString));
  }
  const bool freeTds = IsFreeTdsDriver(driver);

  // "host[\\instance][,port]", optionally after a protocol prefix. The OLE DB providers connect to this
  // machine when no host is named.
  std::string host(TrimWhitespace(
      LastValue(pairs, {"Data Source", "Server", "Address", "Addr", "Network Address"}).value_or("")));
  std::string prefix;
  if (StartsWithIgnoringCase(host, "tcp:")) {
    prefix = host.substr(0, 4);
    host.erase(0, 4);
  }
  std::string port;
  if (const std::size_t comma = host.rfind(','); comma != std::string::npos) {
    port = std::string(TrimWhitespace(std::string_view(host).substr(comma + 1)));
    host = std::string(TrimWhitespace(std::string_view(host).substr(0, comma)));
    const bool numeric = !port.empty() && port.size() <= 5 &&
                         port.find_first_not_of("0123456789") == std::string::npos && std::stoi(port) > 0 &&
                         std::stoi(port) <= 65535;
    if (!numeric) {
      throw ComError::Database(error_number::kOpenFailed, std::string(kOdbcProviderName),
                               "The data source's port '" + port + "' is not a TCP port number", "HY000", 0,
                               MaskConnectStringPasswords(oleDbConnectString));
    }
  }
  if (host.empty()) host = "(local)";
  // "(local)" and "." name this machine; ODBC drivers on this platform only know it by name.
  for (std::string_view local : {"(local)", "."}) {
    if (StartsWithIgnoringCase(host, local) && (host.size() == local.size() || host[local.size()] == '\\')) {
      host = "localhost" + host.substr(local.size());
      break;
    }
  }

  std::string odbc;
  AppendPair(odbc, "Driver", driver);
  if (freeTds) {
    // Protocol prefixes belong to Microsoft's client; FreeTDS takes the port as a keyword of its own.
    AppendPair(odbc, "Server", host);
    if (!port.empty()) AppendPair(odbc, "Port", port);
  } else {
    AppendPair(odbc, "Server", prefix + host + (port.empty() ? "" : "," + port));
  }
  if (auto database = LastValue(pairs, {"Initial Catalog", "Database"}); database && !database->empty()) {
    AppendPair(odbc, "Database", *database);
  }
  const std::optional<std::string> integrated =
      LastValue(pairs, {"Integrated Security", "Trusted_Connection"});
  if (integrated && IsTrue(*integrated)) {
    // With integrated security the OLE DB providers ignore any user name and password given alongside.
    AppendPair(odbc, "Trusted_Connection", "yes");
  } else {
    if (auto user = LastValue(pairs, {"User ID", "UID", "User"})) AppendPair(odbc, "UID", *user);
    if (auto password = LastValue(pairs, {"Password", "PWD"})) AppendPair(odbc, "PWD", *password);
  }
  if (auto application = LastValue(pairs, {"Application Name", "APP"})) AppendPair(odbc, "APP", *application);
  if (auto workstation = LastValue(pairs, {"Workstation ID", "WSID"})) AppendPair(odbc, "WSID", *workstation);
  if (auto encrypt = LastValue(pairs, {"Encrypt", "Use Encryption for Data"})) {
    AppendPair(odbc, "Encrypt", *encrypt);
  }
  if (auto trust = LastValue(pairs, {"TrustServerCertificate", "Trust Server Certificate"})) {
    AppendPair(odbc, "TrustServerCertificate", *trust);
  }
  // FreeTDS converts text with the client's locale unless told otherwise; the library works in UTF-8.
  if (freeTds) AppendPair(odbc, "ClientCharset", "UTF-8");
  return odbc;
}

std::string OdbcDriverForMappedStrings() {
  const char* named = std::getenv("CLOSEWRIGHT_ODBC_DRIVER");
  if (named != nullptr && !TrimWhitespace(named).empty()) return std::string(TrimWhitespace(named));
  return std::string(kDefaultSqlServerDriver);
}

std::string MaskConnectStringPasswords(std::string_view connectString) {
  // A password must not survive whichever way the text is read: ADO, the driver manager and a plain
  // split on ";" disagree on quotes and braces, so mask under each reading in turn. Masking only ever
  // replaces, so a later reading cannot undo an earlier one.
  std::string masked(connectString);
  for (Enclosing enclosing : {Enclosing::BracesAndQuotes, Enclosing::BracesOnly, Enclosing::None}) {
    std::string next;
    std::size_t copied = 0;
    for (const RawPair& pair : ReadPairs(masked, enclosing)) {
      if (!IsPasswordKey(pair.key)) continue;
      next.append(masked, copied, pair.valueBegin - copied);
      next.append("***");
      copied = pair.valueEnd;
    }
    next.append(masked, copied);
    masked = std::move(next);
  }
  return masked;
}

}  // namespace closewright
