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

// Why an INSERT into `table` may not run as written: 544 for an explicit identity value while
// IDENTITY_INSERT is OFF, 545 or 8101 for none while it is ON; nullopt when it may.
std::optional<ServerError> SqliteSession::IdentityInsertRefusal(const TableInfo& table, bool hasColumnList,
                                                                bool named) const {
  const bool on = identityInsert_ && *identityInsert_ == IdentityKey(table);
  if (hasColumnList && named) {
    if (on) return std::nullopt;
    return ServerError{544, "23000",
                       "Cannot insert explicit value for identity column in table '" + table.name +
                           "' when IDENTITY_INSERT is set to OFF."};
  }
  if (!on) return std::nullopt;
  if (hasColumnList) {
    return ServerError{545, "23000",
                       "Explicit value must be specified for identity column in table '" + table.name +
                           "' either when IDENTITY_INSERT is set to ON or when a replication user is "
                           "inserting into a NOT FOR REPLICATION identity column."};
  }
  return ServerError{8101, "23000",
                     "An explicit value for the identity column in table '" + table.name +
                         "' can only be specified when a column list is used and IDENTITY_INSERT is ON."};
}

// An identity column keeps the values it was given: SQL Server refuses an UPDATE that assigns one with 8102
// (learn.microsoft.com "Database engine events and errors", 8000-8999) when it compiles the statement.
void SqliteSession::RefuseIdentityUpdate(const Statement& s) {
  if (!s.isUpdate || s.updatedColumns.empty()) return;
  const TableInfo* table = LookupTable(s.table);
  if (table == nullptr || !table->identity) return;
  for (const std::string& column : s.updatedColumns) {
    if (!EqualsIgnoringCase(column, table->identity->column)) continue;
    throw StatementFailure{
        ServerError{8102, "42000", "Cannot update identity column '" + table->identity->column + "'."},
        s.line};
  }
}

// The server compiles a batch whole, so an UPDATE of an identity column of a table that exists runs
// nothing of its batch; one of a table the batch creates is refused when it is reached.
void SqliteSession::RefuseIdentityUpdates(const std::vector<Statement>& statements) {
  for (const Statement& s : statements) {
    RefuseIdentityUpdate(s);
    RefuseIdentityUpdates(s.children);
  }
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
  if (auto refusal = IdentityInsertRefusal(*table, insert.hasColumnList, named))
    throw StatementFailure{std::move(*refusal), s.line};
  if (insert.hasColumnList && named) {
    RunInsertWithExplicitIdentity(*table, s, context);
    return;
  }
  RunInsertWithNextIdentity(*table, s, context);
}

sqlite3_stmt* SqliteSession::LoadStatement(const std::string& sql, const Statement& s) {
  constexpr std::size_t kMostKept = 8;
  for (auto it = loadStatements_.begin(); it != loadStatements_.end(); ++it) {
    if (it->first != sql) continue;
    loadStatements_.splice(loadStatements_.begin(), loadStatements_, it);
    return loadStatements_.front().second.get();
  }
  StatementHandle statement = Prepare(sql, s);
  loadStatements_.emplace_front(sql, std::move(statement));
  if (loadStatements_.size() > kMostKept) loadStatements_.pop_back();
  return loadStatements_.front().second.get();
}

void SqliteSession::InsertRows(std::string_view tableName, const std::vector<std::string>& columns,
                               const std::vector<Variant>& values) {
  if (columns.empty() || values.size() % columns.size() != 0) {
    throw ComError(error_number::kInvalidArgument, ProviderName(),
                   "InsertRows takes one value per column for every row: " + std::to_string(values.size()) +
                       " values for " + std::to_string(columns.size()) + " columns.");
  }
  if (values.empty()) return;
  Statement s;
  s.kind = StatementKind::Insert;
  s.line = 1;
  s.table = std::string(tableName);
  RowSpan failing;
  // The text that stands for the load in an error: the INSERT of the rows that failed.
  const auto failingText = [&] {
    return InsertText(tableName, columns, values, failing.first, failing.count);
  };
  if (inTransaction_ && sqlite3_get_autocommit(db_.get()) != 0)
    RefuseAfterTransactionEnded("these rows were not inserted", failingText());
  if (!inTransaction_) InvalidateCatalog();
  try {
    if (inTransaction_) {
      LoadRows(s, columns, values, failing);
    } else {
      RunAutocommitted(s.line, [&] { LoadRows(s, columns, values, failing); });
    }
  } catch (const StatementFailure& failure) {
    ComError error = ToComError(failure.error, failure.line, failingText());
    if (inTransaction_ &&
        (DoomsTheTransaction(failure.error.number) || sqlite3_get_autocommit(db_.get()) != 0))
      RollBackAfter(error);
    throw error;
  }
}

// The rows of InsertRows as one statement: a row that fails undoes the rows before it. They are bound into
// a prepared INSERT of up to 50 rows of parameters at a time (fewer when a table is wide: SQLite takes a
// limited number of parameters), so that the statement's fixed costs (opening a cursor on the table and
// each index, ending) are spread over many rows. `at` is where a failure lies: the row whose value could not
// be converted, or the rows of the INSERT that failed.
void SqliteSession::LoadRows(const Statement& s, const std::vector<std::string>& columns,
                             const std::vector<Variant>& values, RowSpan& at) {
  const TableInfo* found = LookupTable(s.table);
  if (found == nullptr)
    throw StatementFailure{ServerError{208, "42S02", "Invalid object name '" + s.table + "'."}, s.line};
  const TableInfo& table = *found;
  std::string names;
  std::string nextIdentity;
  bool explicitIdentity = false;
  if (table.identity) {
    const bool named = std::any_of(columns.begin(), columns.end(), [&](const std::string& c) {
      return EqualsIgnoringCase(c, table.identity->column);
    });
    if (auto refusal = IdentityInsertRefusal(table, true, named))
      throw StatementFailure{std::move(*refusal), s.line};
    PrepareIdentity(table, s);
    explicitIdentity = named;
    if (!named) {
      // Drawn row by row, as RunInsertWithNextIdentity draws them.
      names = QuoteName(table.identity->column);
      nextIdentity = "cw_identity_next(" + QuoteSqlText(IdentityKey(table)) + ")";
    }
  }
  std::vector<const TypeInfo*> types;
  for (const std::string& name : columns) {
    const auto column = std::find_if(table.columns.begin(), table.columns.end(),
                                     [&](const auto& t) { return EqualsIgnoringCase(t.first, name); });
    types.push_back(column == table.columns.end() ? nullptr : &column->second);
    names += (names.empty() ? "" : ", ") + QuoteName(name);
  }
  const std::size_t width = columns.size();
  const std::size_t rows = values.size() / width;
  const auto mostParameters =
      static_cast<std::size_t>(std::max(1, sqlite3_limit(db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1)));
  const std::size_t perStatement = std::clamp<std::size_t>(mostParameters / width, 1, 50);
  const auto statementFor = [&](std::size_t count) {
    std::string sql = "INSERT INTO " + table.Qualified() + " (" + names + ") VALUES ";
    std::size_t parameter = 0;
    for (std::size_t r = 0; r < count; ++r) {
      sql += r == 0 ? "(" : ", (";
      if (!nextIdentity.empty()) sql += nextIdentity + ", ";
      for (std::size_t c = 0; c < width; ++c) sql += (c == 0 ? "?" : ", ?") + std::to_string(++parameter);
      sql += ")";
    }
    return LoadStatement(sql, s);
  };
  sqlite3_stmt* full = nullptr;
  sqlite3_stmt* last = nullptr;
  // Rows go into their own savepoint, so that a failing one takes the earlier ones with it.
  ExecuteInternal("SAVEPOINT cw_insert_rows", s);
  struct Savepoint {
    sqlite3* db;
    bool released = false;
    ~Savepoint() {
      if (released) return;
      sqlite3_exec(db, "ROLLBACK TO cw_insert_rows", nullptr, nullptr, nullptr);
      sqlite3_exec(db, "RELEASE cw_insert_rows", nullptr, nullptr, nullptr);
    }
  } savepoint{db_.get()};
  pendingError_.reset();
  for (std::size_t first = 0; first < rows; first += perStatement) {
    const std::size_t count = std::min(perStatement, rows - first);
    sqlite3_stmt*& insert = count == perStatement ? full : last;
    if (insert == nullptr) insert = statementFor(count);
    for (std::size_t r = 0; r < count; ++r) {
      at = {first + r, 1};
      for (std::size_t c = 0; c < width; ++c) {
        BindStoredValue(insert, static_cast<int>(r * width + c + 1), values[(first + r) * width + c],
                        types[c], s.line);
      }
    }
    at = {first, count};
    const int rc = sqlite3_step(insert);
    if (rc != SQLITE_DONE) {
      ServerError error = MapError(rc, &s);
      sqlite3_reset(insert);
      throw StatementFailure{std::move(error), s.line};
    }
    sqlite3_reset(insert);
  }
  ExecuteInternal("RELEASE cw_insert_rows", s);
  savepoint.released = true;
  rowCount_ = static_cast<std::int64_t>(rows);
  if (!explicitIdentity) return;
  // As after an INSERT statement with explicit identities.
  NoteExplicitIdentities(table, PrepareIdentity(table, s));
  if (inTransaction_) FlushIdentities();
}

// An explicit value above the current identity becomes the current identity, and @@IDENTITY and
// SCOPE_IDENTITY() give the value inserted, an explicit one too.
void SqliteSession::NoteExplicitIdentities(const TableInfo& table, IdentityState& state) {
  if (const auto max = MaximumIdentity(table)) {
    if (state.isNull || (state.increment > 0 ? *max > state.current : *max < state.current)) {
      state.current = *max;
      state.isNull = false;
      state.dirty = true;
    }
  }
  StatementHandle inserted = PrepareInternal("SELECT " + QuoteName(table.identity->column) + " FROM " +
                                             table.Qualified() + " WHERE rowid = last_insert_rowid()");
  if (sqlite3_step(inserted.get()) == SQLITE_ROW) lastIdentity_ = sqlite3_column_int64(inserted.get(), 0);
}

void SqliteSession::RunInsertWithExplicitIdentity(const TableInfo& table, const Statement& s,
                                                  BatchContext& context) {
  IdentityState& state = PrepareIdentity(table, s);
  RunSql(StoringInsert(table, s, {}), s, context);
  if (sqlite3_changes64(db_.get()) > 0) NoteExplicitIdentities(table, state);
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
