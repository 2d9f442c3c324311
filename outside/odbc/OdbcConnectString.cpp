// Connect-string handling of the ODBC provider: mapping OLE DB SQL Server strings to ODBC keywords and
// masking passwords. Kept free of ODBC headers so that it can be exercised on its own.

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outside/ComError.h"
#include "outside/ConnectString.h"
#include "outside/Text.h"
#include "outside/odbc/OdbcProvider.h"

namespace closewright {
namespace {

// The value of the last pair whose key is one of `names` (later pairs replace earlier ones, as in ADO).
std::optional<std::string> LastValue(const std::vector<ConnectStringPair>& pairs,
                                     std::initializer_list<std::string_view> names) {
  std::optional<std::string> found;
  for (const ConnectStringPair& pair : pairs) {
    for (std::string_view name : names) {
      if (EqualsIgnoringCase(pair.key, name)) found = pair.value;
    }
  }
  return found;
}

bool IsPasswordKey(std::string_view key) {
  return EqualsIgnoringCase(key, "PWD") || EqualsIgnoringCase(key, "Password");
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
  const std::optional<std::string> provider = LastValue(ReadConnectString(connectString), {"Provider"});
  return provider && IsSqlServerOleDbProvider(*provider);
}

std::string MapOleDbConnectString(std::string_view oleDbConnectString, std::string_view driver) {
  const std::vector<ConnectStringPair> pairs = ReadConnectString(oleDbConnectString);
  const std::optional<std::string> provider = LastValue(pairs, {"Provider"});
  if (!provider || !IsSqlServerOleDbProvider(*provider)) {
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
  for (ConnectStringEnclosing enclosing :
       {ConnectStringEnclosing::BracesAndQuotes, ConnectStringEnclosing::BracesOnly,
        ConnectStringEnclosing::None}) {
    std::string next;
    std::size_t copied = 0;
    for (const ConnectStringPair& pair : ReadConnectString(masked, enclosing)) {
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
