#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outside/Database.h"

struct sqlite3;

namespace closewright {

/// The provider name of the embedded database, as connect strings name it and as its errors' Source.
inline constexpr const char* kSqliteProviderName = "Closewright.SQLite";

/// Opens an embedded-database session for the pairs of `Provider=Closewright.SQLite;Data Source=<file>`.
/// The file is created when missing; `:memory:` gives a private in-memory database. The session runs the
/// component's T-SQL batches with SQL Server's semantics (docs/tsql-subset.md lists the subset).
std::unique_ptr<DatabaseSession> OpenSqliteSession(
    const std::vector<std::pair<std::string, std::string>>& connectStringPairs);

/// Makes a plain SQLite connection able to read and write an embedded ledger: registers the collations
/// and functions its schema names (CI text columns, DT date columns, checks and date triggers). Returns an
/// SQLite result code. Tools that open the file with the SQLite API directly call it after opening.
int RegisterSqliteDialect(sqlite3* db);

/// Receives each statement an embedded session hands to SQLite as it starts to run, with the values bound
/// to its parameters written in as literals, so that a plain SQLite connection can run the same work again.
/// Statements run by triggers are not reported (the statement that fired them is).
using SqliteStatementHook = std::function<void(std::string_view sql)>;

/// Sets the process-wide statement hook; an empty hook switches it off. Sessions opened while a hook is set
/// report to it; sessions opened without one pay nothing.
void SetSqliteStatementHook(SqliteStatementHook hook);

}  // namespace closewright
