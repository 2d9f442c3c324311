#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/SqliteSession.h"

namespace closewright::sqlite {

std::optional<std::int64_t> SqliteSession::ObjectId(std::string_view name) noexcept {
  return sqlite::ObjectIdOf(db_.get(), name);
}

bool SqliteSession::MetaTableExists(const std::string& schema, const char* table) {
  StatementHandle statement = PrepareInternal(
      "SELECT 1 FROM " + schema + ".sqlite_master WHERE type = 'table' AND name = '" + table + "'");
  return sqlite3_step(statement.get()) == SQLITE_ROW;
}

// Whether the identity table records each identity column's T-SQL type: files written before it did have
// no column_type.
bool SqliteSession::IdentityTypesRecorded(const std::string& schema) {
  StatementHandle columns = PrepareInternal("PRAGMA " + schema + ".table_info(" + kIdentityTable + ")");
  while (sqlite3_step(columns.get()) == SQLITE_ROW) {
    const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1));
    if (name != nullptr && EqualsIgnoringCase(name, "column_type")) return true;
  }
  return false;
}

void SqliteSession::EnsureMetaTables(const std::string& schema, const Statement& s) {
  ExecuteInternal(
      "CREATE TABLE IF NOT EXISTS " + schema + "." + kIdentityTable +
          " (table_name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, column_name TEXT NOT NULL, seed "
          "INTEGER NOT NULL, increment INTEGER NOT NULL, current INTEGER NOT NULL, is_null INTEGER NOT "
          "NULL, epoch INTEGER NOT NULL, column_type TEXT NULL)",
      s);
  // An older file gains the column; its identities keep no type (NULL) and behave as they did.
  if (!IdentityTypesRecorded(schema))
    ExecuteInternal("ALTER TABLE " + schema + "." + kIdentityTable + " ADD COLUMN column_type TEXT NULL", s);
  ExecuteInternal(
      "CREATE TABLE IF NOT EXISTS " + schema + "." + kConstraintTable +
          " (table_name TEXT NOT NULL COLLATE NOCASE, constraint_name TEXT NOT NULL, kind TEXT NOT "
          "NULL, columns TEXT NOT NULL)",
      s);
}

std::optional<IdentityInfo> SqliteSession::ReadIdentity(const std::string& schema, const std::string& table) {
  if (!MetaTableExists(schema, kIdentityTable)) return std::nullopt;
  const bool typed = IdentityTypesRecorded(schema);
  StatementHandle identity =
      PrepareInternal(std::string("SELECT column_name, seed, increment") + (typed ? ", column_type" : "") +
                      " FROM " + schema + "." + kIdentityTable + " WHERE table_name = ?1");
  sqlite3_bind_text(identity.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(identity.get()) != SQLITE_ROW) return std::nullopt;
  IdentityInfo info{reinterpret_cast<const char*>(sqlite3_column_text(identity.get(), 0)),
                    sqlite3_column_int64(identity.get(), 1),
                    sqlite3_column_int64(identity.get(), 2),
                    {}};
  if (typed && sqlite3_column_type(identity.get(), 3) == SQLITE_TEXT)
    info.type = reinterpret_cast<const char*>(sqlite3_column_text(identity.get(), 3));
  return info;
}

const TableInfo* SqliteSession::LookupTable(const std::string& name) {
  const std::string key = LowerKey(name);
  if (auto it = catalog_.find(key); it != catalog_.end()) return &it->second;
  const std::string schema = IsTemporaryName(name) ? "temp" : "main";
  StatementHandle find = PrepareInternal("SELECT name FROM " + schema +
                                         ".sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  sqlite3_bind_text(find.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return nullptr;
  TableInfo info;
  info.schema = schema;
  info.name = reinterpret_cast<const char*>(sqlite3_column_text(find.get(), 0));
  info.identity = ReadIdentity(schema, info.name);
  StatementHandle columns = PrepareInternal("PRAGMA " + schema + ".table_info(" + QuoteName(info.name) + ")");
  while (sqlite3_step(columns.get()) == SQLITE_ROW) {
    const auto* column = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1));
    const auto* declared = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 2));
    TypeInfo type = TypeFromDeclaration(declared == nullptr ? "" : declared);
    // A rowid identity is declared INTEGER whatever its T-SQL type was; the identity table gives the type
    // back. One recorded without it (an older file) keeps SQLite's 64-bit range. Any other INTEGER column,
    // the primary key too, is T-SQL's INTEGER, which is INT.
    const bool identity =
        info.identity && column != nullptr && EqualsIgnoringCase(column, info.identity->column);
    if (identity && sqlite3_column_int(columns.get(), 5) == 1 &&
        EqualsIgnoringCase(declared == nullptr ? "" : declared, "INTEGER")) {
      if (!info.identity->type.empty()) {
        type = TypeFromDeclaration(info.identity->type);
      } else {
        type.numeric = NumericType::Of(NumericKind::BigInt);
      }
    }
    info.columns.emplace_back(column == nullptr ? "" : column, std::move(type));
  }
  return &catalog_.emplace(key, std::move(info)).first->second;
}

void SqliteSession::RunCreateTable(const Statement& s) {
  const sqlite::CreateTableDefinition& def = *s.create;
  const std::string schema = def.temporary ? "temp" : "main";
  for (const std::string& sql : def.sql) ExecuteInternal(sql, s);
  if (!def.identityColumn.empty() || !def.constraints.empty()) EnsureMetaTables(schema, s);
  if (!def.identityColumn.empty()) {
    StatementHandle insert = Prepare(
        "INSERT INTO " + schema + "." + kIdentityTable +
            " (table_name, column_name, seed, increment, current, is_null, epoch, column_type) VALUES "
            "(?1, ?2, ?3, ?4, ?3, 1, ?5, ?6)",
        s);
    // The identity column's T-SQL type, which a rowid's INTEGER declaration does not keep.
    std::string type;
    for (const sqlite::ColumnDefinition& column : def.columns) {
      if (column.identity && column.type.numeric) type = DeclarationOf(*column.type.numeric);
    }
    sqlite3_bind_text(insert.get(), 6, type.data(), static_cast<int>(type.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 1, def.table.data(), static_cast<int>(def.table.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 2, def.identityColumn.data(), static_cast<int>(def.identityColumn.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_int64(insert.get(), 3, def.seed);
    sqlite3_bind_int64(insert.get(), 4, def.increment);
    sqlite3_bind_int64(insert.get(), 5, NewEpoch());
    StepAll(insert.get(), s, nullptr);
  }
  for (const auto& constraint : def.constraints) {
    StatementHandle insert =
        Prepare("INSERT INTO " + schema + "." + kConstraintTable +
                    " (table_name, constraint_name, kind, columns) VALUES (?1, ?2, ?3, ?4)",
                s);
    sqlite3_bind_text(insert.get(), 1, def.table.data(), static_cast<int>(def.table.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 2, constraint.name.data(), static_cast<int>(constraint.name.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 3, constraint.kind.data(), static_cast<int>(constraint.kind.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 4, constraint.columns.data(), static_cast<int>(constraint.columns.size()),
                      SQLITE_TRANSIENT);
    StepAll(insert.get(), s, nullptr);
  }
  InvalidateCatalog();
  lastIdentityState_ = nullptr;
  identities_.erase(schema + "|" + LowerKey(def.table));
}

void SqliteSession::RunDropTable(const Statement& s) {
  const TableInfo* table = LookupTable(s.table);
  if (table == nullptr) {
    if (s.on) return;
    throw StatementFailure{ServerError{3701, "42S02",
                                       "Cannot drop the table '" + s.table +
                                           "', because it does not exist or you do not have permission."},
                           s.line};
  }
  const std::string schema = table->schema;
  const std::string name = table->name;
  const std::string key = IdentityKey(*table);
  ExecuteInternal("DROP TABLE " + table->Qualified(), s);
  if (MetaTableExists(schema, kIdentityTable)) {
    ExecuteInternal(
        "DELETE FROM " + schema + "." + kIdentityTable + " WHERE table_name = " + QuoteSqlText(name), s);
  }
  if (MetaTableExists(schema, kConstraintTable)) {
    ExecuteInternal(
        "DELETE FROM " + schema + "." + kConstraintTable + " WHERE table_name = " + QuoteSqlText(name), s);
  }
  if (identityInsert_ && *identityInsert_ == key) identityInsert_.reset();
  lastIdentityState_ = nullptr;
  identities_.erase(key);
  InvalidateCatalog();
}

std::string SqliteSession::ConstraintName(const std::string& table, const std::string& kind,
                                          const std::string& columns) {
  const std::string schema = IsTemporaryName(table) ? "temp" : "main";
  if (!MetaTableExists(schema, kConstraintTable)) return {};
  StatementHandle find =
      PrepareInternal("SELECT constraint_name FROM " + schema + "." + kConstraintTable +
                      " WHERE table_name = ?1 AND kind = ?2 AND (?3 = '' OR columns = ?3)");
  sqlite3_bind_text(find.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(find.get(), 2, kind.data(), static_cast<int>(kind.size()), SQLITE_TRANSIENT);
  sqlite3_bind_text(find.get(), 3, columns.data(), static_cast<int>(columns.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(find.get()) != SQLITE_ROW) return {};
  return reinterpret_cast<const char*>(sqlite3_column_text(find.get(), 0));
}

// The unique index of `table` over exactly `columns` (lower case, comma-joined), as SQL Server names it.
std::string SqliteSession::UniqueIndexName(const std::string& table, const std::string& columns) {
  const std::string schema = IsTemporaryName(table) ? "temp" : "main";
  StatementHandle indexes =
      PrepareInternal("SELECT name FROM " + schema +
                      ".sqlite_master WHERE type = 'index' AND tbl_name = ?1 COLLATE NOCASE "
                      "AND sql LIKE 'CREATE UNIQUE%'");
  sqlite3_bind_text(indexes.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
  while (sqlite3_step(indexes.get()) == SQLITE_ROW) {
    const std::string index = reinterpret_cast<const char*>(sqlite3_column_text(indexes.get(), 0));
    StatementHandle info = PrepareInternal("PRAGMA " + schema + ".index_info(" + QuoteName(index) + ")");
    std::string indexColumns;
    while (sqlite3_step(info.get()) == SQLITE_ROW) {
      if (!indexColumns.empty()) indexColumns += ",";
      const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 2));
      indexColumns += LowerKey(name == nullptr ? "" : name);
    }
    if (indexColumns == columns) {
      const auto dot = index.find('.');
      return dot == std::string::npos ? index : index.substr(dot + 1);
    }
  }
  return {};
}

}  // namespace closewright::sqlite
