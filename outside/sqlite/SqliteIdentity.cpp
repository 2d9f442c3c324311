#include <algorithm>

#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/SqliteSession.h"

namespace closewright::sqlite {

IdentityRegistry& IdentityRegistry::Instance() {
  static IdentityRegistry registry;
  return registry;
}

IdentityRegistry::Consumed* IdentityRegistry::Slot(const std::string& key) {
  std::lock_guard lock(mutex_);
  return &consumed_[key];
}

std::optional<std::int64_t> SqliteSession::NextIdentity(std::string_view tableKey) noexcept {
  try {
    // Called once per inserted row: the table found for the previous row is tried first.
    if (lastIdentityState_ == nullptr || tableKey != lastIdentityKey_) {
      auto it = identities_.find(std::string(tableKey));
      if (it == identities_.end()) {
        RaiseServerError(0, "HY000",
                         "The identity of table '" + std::string(tableKey) + "' was not prepared.");
        return std::nullopt;
      }
      lastIdentityKey_ = std::string(tableKey);
      lastIdentityState_ = &it->second;
    }
    IdentityState& state = *lastIdentityState_;
    std::lock_guard lock(IdentityRegistry::Instance().Mutex());
    IdentityRegistry::Consumed& consumed = *state.consumed;
    const bool ahead = state.increment > 0 ? consumed.last > state.current : consumed.last < state.current;
    if (consumed.epoch == state.epoch && (state.isNull || ahead)) {
      state.current = consumed.last;
      state.isNull = false;
    }
    std::int64_t next = state.current;
    const bool overflows = !state.isNull && __builtin_add_overflow(state.current, state.increment, &next);
    if (overflows || ConvertExact(Decimal::FromInteger(next), state.type, true).error) {
      RaiseServerError(
          8115, "22003",
          "Arithmetic overflow error converting IDENTITY to data type " + state.type.Name() + ".");
      return std::nullopt;
    }
    state.current = next;
    state.isNull = false;
    state.dirty = true;
    consumed = {state.epoch, next};
    lastIdentity_ = next;
    return next;
  } catch (...) {
    return std::nullopt;
  }
}

std::string SqliteSession::RegistryKey(const IdentityState& state) const {
  return (state.schema == "temp" ? temporaryKey_ : registryKey_) + LowerKey(state.table);
}

IdentityState& SqliteSession::PrepareIdentity(const TableInfo& table, const Statement& s) {
  const std::string key = IdentityKey(table);
  if (auto it = identities_.find(key); it != identities_.end()) return it->second;
  StatementHandle load = PrepareInternal("SELECT current, is_null, epoch, increment FROM " + table.schema +
                                         "." + kIdentityTable + " WHERE table_name = ?1");
  sqlite3_bind_text(load.get(), 1, table.name.data(), static_cast<int>(table.name.size()), SQLITE_TRANSIENT);
  if (sqlite3_step(load.get()) != SQLITE_ROW) {
    throw StatementFailure{
        ServerError{0, "HY000", "The identity of table '" + table.name + "' is not recorded."}, s.line};
  }
  IdentityState state;
  state.schema = table.schema;
  state.table = table.name;
  state.current = sqlite3_column_int64(load.get(), 0);
  state.isNull = sqlite3_column_int64(load.get(), 1) != 0;
  state.epoch = sqlite3_column_int64(load.get(), 2);
  state.increment = sqlite3_column_int64(load.get(), 3);
  for (const auto& [name, type] : table.columns) {
    if (EqualsIgnoringCase(name, table.identity->column) && type.numeric) state.type = *type.numeric;
  }
  state.consumed = IdentityRegistry::Instance().Slot(RegistryKey(state));
  return identities_.emplace(key, std::move(state)).first->second;
}

void SqliteSession::FlushIdentities() {
  for (auto& [key, state] : identities_) {
    if (!state.dirty) continue;
    StatementHandle update =
        PrepareInternal("UPDATE " + state.schema + "." + kIdentityTable +
                        " SET current = ?1, is_null = ?2, epoch = ?3 WHERE table_name = ?4");
    sqlite3_bind_int64(update.get(), 1, state.current);
    sqlite3_bind_int(update.get(), 2, state.isNull ? 1 : 0);
    sqlite3_bind_int64(update.get(), 3, state.epoch);
    sqlite3_bind_text(update.get(), 4, state.table.data(), static_cast<int>(state.table.size()),
                      SQLITE_TRANSIENT);
    const int rc = sqlite3_step(update.get());
    if (rc != SQLITE_DONE) throw StatementFailure{MapMessage(rc, sqlite3_errmsg(db_.get()), nullptr), 0};
    state.dirty = false;
  }
}

std::optional<std::int64_t> SqliteSession::MaximumIdentity(const TableInfo& table) {
  StatementHandle max =
      PrepareInternal("SELECT max(" + QuoteName(table.identity->column) + ") FROM " + table.Qualified());
  if (sqlite3_step(max.get()) != SQLITE_ROW || sqlite3_column_type(max.get(), 0) == SQLITE_NULL)
    return std::nullopt;
  return sqlite3_column_int64(max.get(), 0);
}

void SqliteSession::RunInsert(const Statement& s, BatchContext& context) {
  const sqlite::InsertTarget& insert = *s.insert;
  const TableInfo* table = LookupTable(insert.table);
  if (table == nullptr || !table->identity) {
    RunSql(table == nullptr ? s.sql : StoringInsert(*table, s, {}), s, context);
    return;
  }
  const std::string& identityColumn = table->identity->column;
  const bool named = std::any_of(insert.columns.begin(), insert.columns.end(),
                                 [&](const std::string& c) { return EqualsIgnoringCase(c, identityColumn); });
  const bool on = identityInsert_ && *identityInsert_ == IdentityKey(*table);
  if (insert.hasColumnList && named) {
    if (!on) {
      throw StatementFailure{ServerError{544, "23000",
                                         "Cannot insert explicit value for identity column in table '" +
                                             table->name + "' when IDENTITY_INSERT is set to OFF."},
                             s.line};
    }
    RunInsertWithExplicitIdentity(*table, s, context);
    return;
  }
  if (on) {
    if (insert.hasColumnList) {
      throw StatementFailure{
          ServerError{545, "23000",
                      "Explicit value must be specified for identity column in table '" + table->name +
                          "' either when IDENTITY_INSERT is set to ON or when a replication user is "
                          "inserting into a NOT FOR REPLICATION identity column."},
          s.line};
    }
    throw StatementFailure{
        ServerError{8101, "23000",
                    "An explicit value for the identity column in table '" + table->name +
                        "' can only be specified when a column list is used and IDENTITY_INSERT is ON."},
        s.line};
  }
  RunInsertWithNextIdentity(*table, s, context);
}

void SqliteSession::RunInsertWithExplicitIdentity(const TableInfo& table, const Statement& s,
                                                  BatchContext& context) {
  IdentityState& state = PrepareIdentity(table, s);
  RunSql(StoringInsert(table, s, {}), s, context);
  // An explicit value above the current identity becomes the current identity.
  if (sqlite3_changes64(db_.get()) > 0) {
    if (const auto max = MaximumIdentity(table)) {
      if (state.isNull || (state.increment > 0 ? *max > state.current : *max < state.current)) {
        state.current = *max;
        state.isNull = false;
        state.dirty = true;
      }
    }
    // @@IDENTITY and SCOPE_IDENTITY() give the value inserted, an explicit one too.
    StatementHandle inserted = PrepareInternal("SELECT " + QuoteName(table.identity->column) + " FROM " +
                                               table.Qualified() + " WHERE rowid = last_insert_rowid()");
    if (sqlite3_step(inserted.get()) == SQLITE_ROW) lastIdentity_ = sqlite3_column_int64(inserted.get(), 0);
  }
  // Rare (explicit values), so written at once: whoever reads the identity table in this transaction
  // (the benchmark's replay does) sees the jump.
  if (inTransaction_) FlushIdentities();
}

// The identity column is added to the insert, its values drawn row by row from cw_identity_next.
void SqliteSession::RunInsertWithNextIdentity(const TableInfo& table, const Statement& s,
                                              BatchContext& context) {
  const sqlite::InsertTarget& insert = *s.insert;
  const std::string& identityColumn = table.identity->column;
  PrepareIdentity(table, s);
  std::string columns = QuoteName(identityColumn);
  if (insert.hasColumnList) {
    for (const std::string& c : insert.columns) columns += ", " + QuoteName(c);
  } else {
    for (const auto& [name, type] : table.columns) {
      if (!EqualsIgnoringCase(name, identityColumn)) columns += ", " + QuoteName(name);
    }
  }
  const std::string next = "cw_identity_next(" + QuoteSqlText(IdentityKey(table)) + ")";
  std::string sql = insert.head + " (" + columns + ") ";
  if (insert.defaultValues) {
    if (insert.hasColumnList && !insert.columns.empty())
      throw StatementFailure{MapMessage(SQLITE_ERROR, "near \"DEFAULT\": syntax error", nullptr), s.line};
    sql = insert.head + " (" + QuoteName(identityColumn) + ") VALUES (" + next + ")";
  } else {
    sql = StoringInsert(table, s, next);
  }
  try {
    RunSql(sql, s, context);
  } catch (StatementFailure& failure) {
    // Without a column list SQL Server counts the values against the columns other than the identity.
    if (!insert.hasColumnList && failure.error.number == 213) {
      failure.error =
          ServerError{8101, "23000",
                      "An explicit value for the identity column in table '" + table.name +
                          "' can only be specified when a column list is used and IDENTITY_INSERT is ON."};
    }
    throw;
  }
}

// The INSERT with each value bound for an exact numeric column converted as the column stores it (rounded
// to its scale, range-checked): `WITH cw_source(v1, ...) AS (source) INSERT ... SELECT [next identity,]
// cw_convert_number(v1, 'DECIMAL(28,10)'), ... FROM cw_source`. A trigger would do the same per row, but a
// table with an INSERT trigger makes SQLite copy every INSERT ... SELECT through a temporary table first.
// `nextIdentity` (the identity column, drawn per row) goes first when given.
std::string SqliteSession::StoringInsert(const TableInfo& table, const Statement& s,
                                         const std::string& nextIdentity) {
  const sqlite::InsertTarget& insert = *s.insert;
  std::vector<std::pair<std::string, const TypeInfo*>> targets;
  for (const auto& [name, type] : table.columns) {
    if (insert.hasColumnList) continue;
    if (!nextIdentity.empty() && table.identity && EqualsIgnoringCase(name, table.identity->column)) continue;
    targets.emplace_back(name, &type);
  }
  for (const std::string& column : insert.columns) {
    const auto found = std::find_if(table.columns.begin(), table.columns.end(),
                                    [&](const auto& c) { return EqualsIgnoringCase(c.first, column); });
    targets.emplace_back(column, found == table.columns.end() ? nullptr : &found->second);
  }
  const bool converts = std::any_of(targets.begin(), targets.end(), [](const auto& t) {
    return t.second != nullptr && t.second->numeric && t.second->numeric->kind != NumericKind::BigInt;
  });
  if (insert.defaultValues || (!converts && nextIdentity.empty())) return s.sql;
  std::string names;
  std::string values = nextIdentity;
  std::string columns = nextIdentity.empty() ? "" : QuoteName(table.identity->column);
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const std::string v = "\"cw_value" + std::to_string(k + 1) + "\"";
    const TypeInfo* type = targets[k].second;
    const auto separator = [](const std::string& text) { return text.empty() ? "" : ", "; };
    names += separator(names) + v;
    columns += separator(columns) + QuoteName(targets[k].first);
    const bool exact = type != nullptr && type->numeric && type->numeric->kind != NumericKind::BigInt;
    values += separator(values) +
              (exact ? "cw_convert_number(" + v + ", '" + DeclarationOf(*type->numeric) + "')" : v);
  }
  return "WITH \"cw_source\"(" + names + ") AS (" + std::string(sqlite::InsertSource(s)) + ") " +
         insert.head + " (" + columns + ") SELECT " + values + " FROM \"cw_source\"";
}

void SqliteSession::RunSetIdentityInsert(const Statement& s) {
  const TableInfo* table = LookupTable(s.table);
  if (table == nullptr) {
    throw StatementFailure{ServerError{1088, "42S02",
                                       "Cannot find the object \"" + s.table +
                                           "\" because it does not exist or you do not have permissions."},
                           s.line};
  }
  if (!table->identity) {
    throw StatementFailure{
        ServerError{8106, "42000",
                    "Table '" + ServerTableName(*table) +
                        "' does not have the identity property. Cannot perform SET operation."},
        s.line};
  }
  const std::string key = IdentityKey(*table);
  if (s.on) {
    if (identityInsert_ && *identityInsert_ != key) {
      throw StatementFailure{
          ServerError{8107, "42000",
                      "IDENTITY_INSERT is already ON for table '" + identityInsertName_ +
                          "'. Cannot perform SET operation for table '" + table->name + "'."},
          s.line};
    }
    identityInsert_ = key;
    identityInsertName_ = ServerTableName(*table);
  } else if (identityInsert_ && *identityInsert_ == key) {
    identityInsert_.reset();
  }
}

void SqliteSession::RunTruncate(const Statement& s) {
  const TableInfo* table = LookupTable(s.table);
  if (table == nullptr) {
    throw StatementFailure{ServerError{4701, "42S02",
                                       "Cannot find the object \"" + s.table +
                                           "\" because it does not exist or you do not have permissions."},
                           s.line};
  }
  ExecuteInternal("DELETE FROM " + table->Qualified(), s);
  if (table->identity) {
    // TRUNCATE starts the identity again at its seed, as if no row had ever been inserted.
    IdentityState& state = PrepareIdentity(*table, s);
    state.current = table->identity->seed;
    state.isNull = true;
    state.epoch = NewEpoch();
    state.dirty = true;
    FlushIdentities();
  }
  rowCount_ = 0;
}

void SqliteSession::RunCheckIdent(const Statement& s) {
  const TableInfo* table = LookupTable(s.table);
  if (table == nullptr) {
    throw StatementFailure{ServerError{2501, "42S02",
                                       "Cannot find a table or object with the name '" + s.table +
                                           "'. Check the system catalog."},
                           s.line};
  }
  if (!table->identity) {
    throw StatementFailure{
        ServerError{7997, "42000", "'" + table->name + "' does not contain an identity column."}, s.line};
  }
  IdentityState& state = PrepareIdentity(*table, s);
  if (s.checkIdentMode == CheckIdentMode::NoReseed) return;
  if (s.checkIdentMode == CheckIdentMode::Reseed && !s.argument.empty()) {
    const SqlValue value = EvaluateScalar(s.argument, s.line);
    if (value.type == SQLITE_NULL) {
      throw StatementFailure{ServerError{2560, "42000", "Parameter 3 is incorrect for this DBCC statement."},
                             s.line};
    }
    const SqlValue seed = ConvertValue(value, TypeFromDeclaration("BIGINT"), s.line);
    // The next row gets the new value itself when no row was inserted since the table was created or
    // truncated, and the value plus the increment otherwise.
    state.current = seed.integer;
    state.epoch = NewEpoch();
    state.dirty = true;
    FlushIdentities();
    return;
  }
  // RESEED without a value, or a plain check: the current value follows the largest value in the table.
  const auto max = MaximumIdentity(*table);
  if (!max) return;
  const bool reseed = s.checkIdentMode == CheckIdentMode::Reseed;
  if (reseed || state.isNull || (state.increment > 0 ? *max > state.current : *max < state.current)) {
    state.current = *max;
    state.isNull = false;
    state.epoch = NewEpoch();
    state.dirty = true;
    FlushIdentities();
  }
}

}  // namespace closewright::sqlite
