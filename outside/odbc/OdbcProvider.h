#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "outside/Database.h"

namespace closewright {

/// The provider name ODBC sessions report as the Source of their errors (followed by the driver's name).
inline constexpr std::string_view kOdbcProviderName = "Closewright.ODBC";
/// The driver that mapped OLE DB strings name unless CLOSEWRIGHT_ODBC_DRIVER names another.
inline constexpr std::string_view kDefaultSqlServerDriver = "FreeTDS";

/// Opens an ODBC session. ODBC strings (`Driver=...`, `DSN=...`) are passed to the driver manager as they
/// are; OLE DB SQL Server strings are first mapped by MapOleDbConnectString with OdbcDriverForMappedStrings.
/// A failed open raises ComError with number kOpenFailed and the driver's message.
std::unique_ptr<DatabaseSession> OpenOdbcSession(const std::string& connectString);

/// True when the string names an OLE DB provider for SQL Server (SQLOLEDB, SQLNCLI*, MSOLEDBSQL*).
bool IsOleDbSqlServerConnectString(std::string_view connectString);

/// Maps an OLE DB SQL Server connect string to ODBC keywords for `driver`: Data Source -> Server (a port
/// stays "host,port", or becomes Port= for FreeTDS), Initial Catalog -> Database, User ID/Password ->
/// UID/PWD, Integrated Security=SSPI -> Trusted_Connection=yes. Keys without an ODBC counterpart are
/// dropped. Pure: reads no environment. Raises ComError (kOpenFailed) when the string does not name an OLE DB
/// SQL Server provider or its port is not a TCP port number.
std::string MapOleDbConnectString(std::string_view oleDbConnectString,
                                  std::string_view driver = kDefaultSqlServerDriver);

/// CLOSEWRIGHT_ODBC_DRIVER when set and not empty, else kDefaultSqlServerDriver.
std::string OdbcDriverForMappedStrings();

/// The connect string with the value of every password key (PWD, Password) replaced by "***", everything
/// else unchanged; safe for errors, traces and logs.
std::string MaskConnectStringPasswords(std::string_view connectString);

}  // namespace closewright
