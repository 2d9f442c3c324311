#include "outside/sqlite/SqliteSession.h"

namespace closewright::sqlite {

namespace {

std::string AfterPrefix(const std::string& message, std::string_view prefix) {
  std::string rest = message.substr(message.find(prefix) + prefix.size());
  return rest;
}

std::string Unqualified(std::string name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(dot + 1);
}

}  // namespace

ComError SqliteSession::ToComError(const ServerError& error, std::int32_t line,
                                   std::string_view batch) const {
  ComError e = ComError::Database(error_number::kCommandFailed, ProviderName(), error.message, error.sqlState,
                                  error.number, std::string(batch));
  e.SetFailingLine(line);
  return e;
}

ServerError SqliteSession::LockedServerError() const {
  return ServerError{
      1222, "HYT00",
      "The ledger " + path_ +
          " is locked by another session (a close or reopen is running); try again when it has "
          "finished."};
}

ComError SqliteSession::LockedError(std::string_view text) const {
  const ServerError e = LockedServerError();
  return ComError::Database(error_number::kCommandFailed, ProviderName(), e.message, e.sqlState, e.number,
                            std::string(text));
}

ServerError SqliteSession::MapError(int rc, const Statement* s) {
  if (pendingError_) {
    ServerError error = std::move(*pendingError_);
    pendingError_.reset();
    return error;
  }
  return MapMessage(sqlite3_extended_errcode(db_.get()) != 0 ? sqlite3_extended_errcode(db_.get()) : rc,
                    sqlite3_errmsg(db_.get()), s);
}

ServerError SqliteSession::MapMessage(int rc, const std::string& message, const Statement* s) {
  const int primary = rc & 0xFF;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return LockedServerError();
  if (message.rfind("no such table: ", 0) == 0) {
    return {208, "42S02",
            "Invalid object name '" + Unqualified(AfterPrefix(message, "no such table: ")) + "'."};
  }
  if (message.rfind("no such column: ", 0) == 0) {
    return {207, "42S22",
            "Invalid column name '" + Unqualified(AfterPrefix(message, "no such column: ")) + "'."};
  }
  if (message.find(" has no column named ") != std::string::npos) {
    return {207, "42S22", "Invalid column name '" + AfterPrefix(message, " has no column named ") + "'."};
  }
  if (auto constraint = MapConstraintMessage(rc, message, s)) return std::move(*constraint);
  const auto near = message.find("near \"");
  if (near != std::string::npos && message.find("syntax error") != std::string::npos) {
    const std::string rest = message.substr(near + 6);
    return {102, "42000", "Incorrect syntax near '" + rest.substr(0, rest.find('"')) + "'."};
  }
  if (message.find("incomplete input") != std::string::npos) {
    return {102, "42000", "Incorrect syntax near the end of the statement."};
  }
  if (message.rfind("ambiguous column name: ", 0) == 0) {
    return {209, "42000",
            "Ambiguous column name '" + Unqualified(AfterPrefix(message, "ambiguous column name: ")) + "'."};
  }
  if (message.rfind("no such function: ", 0) == 0) {
    return {
        195, "42000",
        "'" + AfterPrefix(message, "no such function: ") + "' is not a recognized built-in function name."};
  }
  if (message.find(" already exists") != std::string::npos) {
    std::string name = message.substr(0, message.find(" already exists"));
    name = name.substr(name.find(' ') + 1);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    return {2714, "42S01", "There is already an object named '" + Unqualified(name) + "' in the database."};
  }
  if (message.find(" values for ") != std::string::npos && message.find(" columns") != std::string::npos) {
    return {213, "21S01", "Column name or number of supplied values does not match table definition."};
  }
  if (message.rfind("no such index: ", 0) == 0) {
    return {3701, "42S02",
            "Cannot drop the index '" + Unqualified(AfterPrefix(message, "no such index: ")) +
                "', because it does not exist or you do not have permission."};
  }
  if (message == "integer overflow")
    return {8115, "22003", "Arithmetic overflow error converting expression to data type bigint."};
  return {0, "HY000", "SQLite: " + message};
}

// The first table with a foreign key to `table` that can refuse its delete (no cascade, no SET NULL), or
// `table` itself when none is found.
std::string SqliteSession::ReferencingTable(const std::string& table) {
  try {
    StatementHandle tables = PrepareInternal(
        "SELECT m.name FROM sqlite_master m, pragma_foreign_key_list(m.name) k WHERE m.type = 'table' AND "
        "k.\"table\" = ?1 COLLATE NOCASE AND k.on_delete IN ('NO ACTION', 'RESTRICT') ORDER BY m.name LIMIT "
        "1");
    sqlite3_bind_text(tables.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(tables.get()) == SQLITE_ROW)
      return reinterpret_cast<const char*>(sqlite3_column_text(tables.get(), 0));
  } catch (const StatementFailure&) {
  }
  return table;
}

// A violated NOT NULL, key, foreign key or check, as SQL Server words it; nullopt for any other error.
std::optional<ServerError> SqliteSession::MapConstraintMessage(int rc, const std::string& message,
                                                               const Statement* s) {
  if (rc == SQLITE_CONSTRAINT_NOTNULL) {
    const std::string qualified = AfterPrefix(message, "NOT NULL constraint failed: ");
    const auto dot = qualified.rfind('.');
    const std::string table = dot == std::string::npos ? qualified : qualified.substr(0, dot);
    const std::string column = dot == std::string::npos ? qualified : qualified.substr(dot + 1);
    const bool update = s != nullptr && s->isUpdate;
    return ServerError{515, "23000",
                       "Cannot insert the value NULL into column '" + column + "', table '" + databaseName_ +
                           ".dbo." + table + "'; column does not allow nulls. " +
                           (update ? "UPDATE" : "INSERT") + " fails."};
  }
  if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE)
    return MapUniqueViolation(rc, message);
  if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) {
    const std::string table = s != nullptr ? s->table : std::string();
    const bool update = s != nullptr && s->isUpdate;
    // A referenced row's delete: the server names the REFERENCE side and the table whose rows still point
    // at it ("The DELETE statement conflicted with the REFERENCE constraint ...").
    if (s != nullptr && StartsWithIgnoringCase(s->sql, "DELETE")) {
      return ServerError{
          547, "23000",
          "The DELETE statement conflicted with the REFERENCE constraint. The conflict occurred "
          "in database \"" +
              databaseName_ + "\", table \"dbo." + ReferencingTable(table) + "\"."};
    }
    return ServerError{
        547, "23000",
        std::string("The ") + (update ? "UPDATE" : "INSERT") +
            " statement conflicted with the FOREIGN KEY constraint. The conflict occurred in database \"" +
            databaseName_ + "\", table \"dbo." + table + "\"."};
  }
  if (rc == SQLITE_CONSTRAINT_CHECK) {
    const std::string name = AfterPrefix(message, "CHECK constraint failed: ");
    if (name.rfind("cw_length:", 0) == 0)
      return ServerError{8152, "22001", "String or binary data would be truncated."};
    const std::string table = s != nullptr ? s->table : std::string();
    const bool update = s != nullptr && s->isUpdate;
    return ServerError{547, "23000",
                       std::string("The ") + (update ? "UPDATE" : "INSERT") +
                           " statement conflicted with the CHECK constraint \"" + name +
                           "\". The conflict occurred in database \"" + databaseName_ + "\", table \"dbo." +
                           table + "\"."};
  }
  return std::nullopt;
}

// "UNIQUE constraint failed: t.a, t.b": the key or unique constraint the table was made with, or else the
// unique index over those columns.
ServerError SqliteSession::MapUniqueViolation(int rc, const std::string& message) {
  const std::string list = AfterPrefix(message, "constraint failed: ");
  std::string table;
  std::string columns;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t comma = list.find(", ", start);
    const std::string item =
        list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const auto dot = item.rfind('.');
    table = item.substr(0, dot);
    if (!columns.empty()) columns += ",";
    columns += LowerKey(item.substr(dot + 1));
    if (comma == std::string::npos) break;
    start = comma + 2;
  }
  if (rc == SQLITE_CONSTRAINT_PRIMARYKEY) {
    std::string name = ConstraintName(table, "PK", "");
    if (name.empty()) name = "PK_" + table;
    return {2627, "23000",
            "Violation of PRIMARY KEY constraint '" + name +
                "'. Cannot insert duplicate key in object 'dbo." + table + "'."};
  }
  if (std::string name = ConstraintName(table, "UQ", columns); !name.empty()) {
    return {2627, "23000",
            "Violation of UNIQUE KEY constraint '" + name + "'. Cannot insert duplicate key in object 'dbo." +
                table + "'."};
  }
  return {2601, "23000",
          "Cannot insert duplicate key row in object 'dbo." + table + "' with unique index '" +
              UniqueIndexName(table, columns) + "'."};
}

}  // namespace closewright::sqlite
