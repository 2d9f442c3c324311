#include "outside/sqlite/SqliteSession.h"

#include <algorithm>
#include <filesystem>

#include "outside/sqlite/FunctionCatalogue.h"

namespace closewright::sqlite {

namespace {

// How long a statement waits for a lock that another connection holds only briefly (WAL recovery, a
// checkpoint). Never applied to taking the write lock: a second close is refused at once.
constexpr int kTransientLockWaitMilliseconds = 10000;

// A result column's type as the client is told it: a DATETIME keeps three digits of a second, a
// SMALLDATETIME and a DATE none.
ColumnType ClientColumnType(const TypeInfo& type) {
  ColumnType column;
  if (type.numeric) {
    column.precision = type.numeric->precision;
    column.scale = type.numeric->scale;
  }
  switch (type.kind) {
    case ValueKind::Integer:
      column.kind = ColumnKind::Integer;
      break;
    case ValueKind::Bit:
      column.kind = ColumnKind::Bit;
      break;
    case ValueKind::Decimal:
      column.kind = type.numeric && (type.numeric->kind == NumericKind::Money ||
                                     type.numeric->kind == NumericKind::SmallMoney)
                        ? ColumnKind::Money
                        : ColumnKind::ExactNumeric;
      break;
    case ValueKind::Float:
      column.kind = ColumnKind::Float;
      break;
    case ValueKind::Text:
      column.kind = ColumnKind::Text;
      column.length = type.length;
      break;
    case ValueKind::DateTime:
      column.kind = type.date ? ColumnKind::Date : ColumnKind::Unknown;
      if (type.date && type.date->kind == DateKind::DateTime) column.scale = 3;
      if (type.date && type.date->kind == DateKind::DateTime2) column.scale = type.date->digits;
      break;
    case ValueKind::Other:
      break;
  }
  return column;
}

// The select item behind each of `columns` result columns; null where none can be told. A single `*`
// stands for the columns the other items leave; with two, which columns are whose is not known here.
std::vector<const ResultColumn*> ItemsOfColumns(const std::vector<ResultColumn>& items, std::size_t columns) {
  const auto stars = static_cast<std::size_t>(
      std::count_if(items.begin(), items.end(), [](const ResultColumn& item) { return item.star; }));
  std::vector<const ResultColumn*> out;
  if (stars > 1 || items.size() - stars > columns || (stars == 0 && items.size() != columns)) {
    out.assign(columns, nullptr);
    return out;
  }
  for (const ResultColumn& item : items) {
    if (!item.star) {
      out.push_back(&item);
      continue;
    }
    out.insert(out.end(), columns - (items.size() - 1), nullptr);
  }
  return out;
}

}  // namespace

SqliteSession::SqliteSession(DatabaseHandle db, std::string path)
    : db_(std::move(db)), path_(std::move(path)) {
  if (path_ == ":memory:" || path_.empty()) {
    databaseName_ = "memory";
    registryKey_ = "memory:" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "|";
  } else {
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path_, ec);
    registryKey_ = (ec ? path_ : canonical.string()) + "|";
    databaseName_ = std::filesystem::path(path_).stem().string();
  }
  temporaryKey_ = "session:" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "|";
  std::random_device device;
  random_.seed((static_cast<std::uint64_t>(device()) << 32) ^ device());
  if (sqlite::RegisterSqlServerFunctions(db_.get(), this) != SQLITE_OK) {
    throw ComError(error_number::kOpenFailed, kSqliteProviderName,
                   std::string("The ledger's SQL Server functions could not be registered: ") +
                       sqlite3_errmsg(db_.get()));
  }
}

ResultTable SqliteSession::Query(std::string_view text) {
  ResultTable result;
  RunBatch(text, &result);
  return result;
}

void SqliteSession::BeginTransaction() {
  if (inTransaction_) {
    throw ComError::Database(error_number::kCommandFailed, ProviderName(),
                             "A transaction is already open on this session.", "25000", 0,
                             "BEGIN TRANSACTION");
  }
  const int rc = BeginImmediateWithoutWaiting();
  if (rc != SQLITE_OK) {
    if (IsBusy(rc)) throw LockedError("BEGIN TRANSACTION");
    throw ComError::Database(error_number::kCommandFailed, ProviderName(),
                             std::string("The transaction could not begin: ") + sqlite3_errmsg(db_.get()),
                             "HY000", 0, "BEGIN TRANSACTION");
  }
  inTransaction_ = true;
  endedAfter_.reset();
  changesAtBegin_ = sqlite3_total_changes64(db_.get());
  ResetTransactionCaches();
}

void SqliteSession::Commit() {
  if (!inTransaction_) {
    throw ComError::Database(error_number::kCommandFailed, ProviderName(),
                             "No transaction is open on this session.", "25000", 0, "COMMIT");
  }
  if (sqlite3_get_autocommit(db_.get()) != 0) {
    const std::string description =
        "The transaction was rolled back by the database after an earlier error, so nothing was "
        "committed. The error: " +
        endedAfter_.value_or("none reported");
    inTransaction_ = false;
    endedAfter_.reset();
    ResetTransactionCaches();
    throw ComError::Database(error_number::kTransactionAborted, ProviderName(), description, "40000", 0,
                             "COMMIT");
  }
  try {
    FlushIdentities();
  } catch (const StatementFailure& failure) {
    Rollback();
    throw ComError::Database(error_number::kTransactionAborted, ProviderName(),
                             "The transaction was rolled back: " + failure.error.message,
                             failure.error.sqlState, failure.error.number, "COMMIT");
  }
  const int rc = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = sqlite3_errmsg(db_.get());
    Rollback();
    throw ComError::Database(error_number::kTransactionAborted, ProviderName(),
                             "The commit failed and the transaction was rolled back: " + message, "40000", 0,
                             "COMMIT");
  }
  inTransaction_ = false;
  ResetTransactionCaches();
  RefreshStatisticsAfterBulkChange();
}

void SqliteSession::Rollback() noexcept {
  if (db_ && sqlite3_get_autocommit(db_.get()) == 0)
    sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  inTransaction_ = false;
  endedAfter_.reset();
  ResetTransactionCaches();
}

std::optional<Variant> SqliteSession::ProviderProperty(std::string_view name) {
  // ODBC-style bitmasks of the scalar functions the translated dialect accepts under their T-SQL names.
  if (EqualsIgnoringCase(name, "DBMS Name")) return Variant(std::string("SQLite"));
  if (EqualsIgnoringCase(name, "DBMS Version")) return Variant(std::string(sqlite3_libversion()));
  // Query returns the first result set of a batch only.
  if (EqualsIgnoringCase(name, "Multiple Results")) return Variant(std::int32_t{0});
  if (EqualsIgnoringCase(name, "Like Escape Clause")) return Variant(std::string("Y"));
  // Foreign keys are parsed but not enforced.
  if (EqualsIgnoringCase(name, "Integrity Enhancement Facility")) return Variant(false);
  if (EqualsIgnoringCase(name, "Numeric Functions"))
    return Variant(FunctionGroupMask(FunctionGroup::Numeric));
  if (EqualsIgnoringCase(name, "String Functions")) return Variant(FunctionGroupMask(FunctionGroup::String));
  if (EqualsIgnoringCase(name, "System Functions")) return Variant(FunctionGroupMask(FunctionGroup::System));
  if (EqualsIgnoringCase(name, "Time/Date Functions"))
    return Variant(FunctionGroupMask(FunctionGroup::TimeDate));
  return std::nullopt;
}

std::vector<std::string> SqliteSession::ProviderPropertyNames() {
  return {"DBMS Name",
          "DBMS Version",
          "Multiple Results",
          "Like Escape Clause",
          "Integrity Enhancement Facility",
          "Numeric Functions",
          "String Functions",
          "System Functions",
          "Time/Date Functions"};
}

// Without statistics SQLite takes the period filters of a close to match a handful of rows and joins the
// close's derived tables by scanning them once per row (4.4's finished-task query went from 0.2 s to 4 s on
// 20,000 tasks). After a transaction that changed many rows, a sampled ANALYZE (about 0.1 s) keeps the
// estimates honest. It runs after the commit and its failure changes nothing.
void SqliteSession::RefreshStatisticsAfterBulkChange() noexcept {
  constexpr std::int64_t kBulkChange = 10'000;
  if (sqlite3_total_changes64(db_.get()) - changesAtBegin_ < kBulkChange) return;
  sqlite3_exec(db_.get(), "PRAGMA analysis_limit=1000; ANALYZE", nullptr, nullptr, nullptr);
}

void SqliteSession::RaiseServerError(std::int32_t number, std::string sqlState,
                                     std::string message) noexcept {
  try {
    pendingError_ = ServerError{number, std::move(sqlState), std::move(message)};
  } catch (...) {
  }
}

std::pair<std::int64_t, std::int64_t> SqliteSession::SchemaVersions() {
  auto read = [&](const char* pragma) -> std::int64_t {
    StatementHandle statement = PrepareInternal(pragma);
    return sqlite3_step(statement.get()) == SQLITE_ROW ? sqlite3_column_int64(statement.get(), 0) : -1;
  };
  return {read("PRAGMA main.schema_version"), read("PRAGMA temp.schema_version")};
}

std::shared_ptr<const Plan> SqliteSession::PlanFor(std::string_view batch) {
  // Translation types arithmetic by the columns' declared types; a plan kept from before a table was
  // created, dropped or changed may have typed it differently.
  if (const auto versions = SchemaVersions(); versions != plansSchema_) {
    plans_.clear();
    plansSchema_ = versions;
  }
  for (auto it = plans_.begin(); it != plans_.end(); ++it) {
    if (it->first == batch) {
      plans_.splice(plans_.begin(), plans_, it);
      return plans_.front().second;
    }
  }
  const sqlite::ColumnCatalog catalog = [this](const std::string& table) -> const sqlite::ColumnTypes* {
    const TableInfo* info = LookupTable(table);
    return info == nullptr ? nullptr : &info->columns;
  };
  auto plan = std::make_shared<const Plan>(sqlite::TranslateBatch(batch, 1024, catalog));
  // Bulk loads send long batches once; keeping them would only hold memory.
  if (batch.size() > 64 * 1024) return plan;
  plans_.emplace_front(std::string(batch), plan);
  if (plans_.size() > 64) plans_.pop_back();
  return plan;
}

// SQLite has rolled the transaction back after an error (a conversion error dooms it, as on the server): the
// work that follows is refused rather than run outside it.
void SqliteSession::RefuseAfterTransactionEnded(const std::string& what, std::string_view text) {
  if (!inTransaction_ || sqlite3_get_autocommit(db_.get()) == 0) return;
  throw ToComError(ServerError{3998, "40000",
                               "The transaction was rolled back by the database after an earlier error, so " +
                                   what + " and nothing of the transaction will be committed. The error: " +
                                   endedAfter_.value_or("none reported")},
                   0, text);
}

void SqliteSession::RunBatch(std::string_view batch, ResultTable* result) {
  std::shared_ptr<const Plan> plan;
  if (!inTransaction_) InvalidateCatalog();
  try {
    plan = PlanFor(batch);
  } catch (const sqlite::TsqlError& error) {
    lastError_ = error.nativeError;
    throw ToComError(ServerError{error.nativeError, error.sqlState, error.message}, error.line, batch);
  }
  RefuseAfterTransactionEnded("this batch was not run", batch);
  variables_.clear();
  // The kept statements are keyed by text the plan holds; none may outlive the batch, however it ends.
  struct ForgetChecked {
    std::unordered_map<std::string_view, StatementHandle>& checked;
    ~ForgetChecked() { checked.clear(); }
  } forget{checked_};
  BatchContext context{batch, result, false, std::nullopt};
  try {
    CheckSyntax(*plan);
    RefuseIdentityUpdates(plan->statements);
    for (const Statement& statement : plan->statements) RunStatement(statement, context);
  } catch (const StatementFailure& failure) {
    lastError_ = failure.error.number;
    ComError error = ToComError(failure.error, failure.line, batch);
    // SQLite itself rolls a transaction back after a few errors (a full disk, say): that too ends it.
    if (inTransaction_ &&
        (DoomsTheTransaction(failure.error.number) || sqlite3_get_autocommit(db_.get()) != 0))
      RollBackAfter(error);
    // A client reading the batch's results in order meets an earlier statement's error first.
    if (context.firstFailure)
      throw ToComError(context.firstFailure->error, context.firstFailure->line, batch);
    throw error;
  }
  if (context.firstFailure) throw ToComError(context.firstFailure->error, context.firstFailure->line, batch);
}

// With XACT_ABORT OFF, the server's default, "only the Transact-SQL statement that raised the error is
// rolled back and the transaction continues processing" for these errors, and the batch goes on with its
// next statement (learn.microsoft.com "SET XACT_ABORT (Transact-SQL)"; all are severity 16, "general errors
// that can be corrected by the user", "Database Engine error severities"): a missing value (515), identity
// refusals (544, 545, 8101, 8107), constraint conflicts (547, 2601, 2627), text too long (8152), and
// division by zero and arithmetic overflow (8134, 8115, 220): "When ANSI_WARNINGS is ON (the default) ...
// Arithmetic errors cause the query to end, but the batch doesn't abort" ("SET ARITHABORT
// (Transact-SQL)"). Any other error ends the batch, as 207 and 208 do at run time.
bool SqliteSession::EndsOnlyTheStatement(std::int32_t number) {
  switch (number) {
    case 220:
    case 515:
    case 544:
    case 545:
    case 547:
    case 2601:
    case 2627:
    case 8101:
    case 8107:
    case 8115:
    case 8134:
    case 8152:
      return true;
    default:
      return false;
  }
}

// One statement of the batch or of a block. @@ERROR "is cleared and reset on each statement executed"
// (learn.microsoft.com "@@ERROR (Transact-SQL)"): 0 after a statement that succeeded, the error's number
// after one that failed. IF resets it once its condition is read; a block leaves it to its statements.
void SqliteSession::RunStatement(const Statement& statement, BatchContext& context) {
  try {
    RunTopLevel(statement, context);
    if (statement.kind != StatementKind::If && statement.kind != StatementKind::Block) lastError_ = 0;
  } catch (const StatementFailure& failure) {
    // SQLite ends the transaction by itself after a few errors (a full disk): nothing may run outside it.
    const bool transactionEnded = inTransaction_ && sqlite3_get_autocommit(db_.get()) != 0;
    if (!EndsOnlyTheStatement(failure.error.number) || transactionEnded) throw;
    lastError_ = failure.error.number;
    if (!context.firstFailure) context.firstFailure = failure;
  }
}

// SQL Server aborts the batch and rolls the open transaction back on a conversion error, whatever
// XACT_ABORT says; other run-time errors end their statement or batch and leave the transaction open.
bool SqliteSession::DoomsTheTransaction(std::int32_t number) {
  return number == 241 || number == 242 || number == 245 || number == 296 || number == 8114;
}

// The rest of the transaction is refused, as SQL Server's would be gone, until the owner rolls back; the
// error is kept to say after what the transaction ended.
void SqliteSession::RollBackAfter(const ComError& error) noexcept {
  if (sqlite3_get_autocommit(db_.get()) == 0) sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
  ResetTransactionCaches();
  InvalidateCatalog();
  try {
    endedAfter_ = error.ToLine();
  } catch (...) {
  }
}

// SQL Server compiles a whole batch before running it: a syntax error runs nothing. A statement SQLite
// prepares here is kept for its run (up to a bound, as a long batch would otherwise hold every statement
// at once), and a shape that parsed before is not parsed again: a copy script repeats two statements with
// new values thousands of times.
void SqliteSession::CheckSyntax(const Plan& plan) {
  constexpr std::size_t kMostKept = 64;
  constexpr std::size_t kMostKeptBytes = 4 << 20;
  constexpr std::size_t kMostShapes = 4096;
  std::size_t keptBytes = 0;
  sqlite::ForEachSyntaxCheck(plan, [&](const std::string& sql, std::int32_t line) {
    std::string shape = sqlite::SyntaxShape(sql);
    if (parsedShapes_.count(shape) != 0) return;
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), 0, &raw, nullptr);
    StatementHandle statement(raw);
    if (rc == SQLITE_OK) {
      if (parsedShapes_.size() >= kMostShapes) parsedShapes_.clear();
      parsedShapes_.insert(std::move(shape));
      if (statement == nullptr) return;
      const auto bytes =
          static_cast<std::size_t>(sqlite3_stmt_status(statement.get(), SQLITE_STMTSTATUS_MEMUSED, 0));
      if (checked_.size() < kMostKept && keptBytes + bytes <= kMostKeptBytes) {
        if (checked_.emplace(std::string_view(sql), std::move(statement)).second) keptBytes += bytes;
      }
      return;
    }
    const std::string message = sqlite3_errmsg(db_.get());
    pendingError_.reset();
    if (message.find("syntax error") != std::string::npos ||
        message.find("incomplete input") != std::string::npos ||
        message.find("unrecognized token") != std::string::npos) {
      throw StatementFailure{MapMessage(rc, message, nullptr), line};
    }
  });
}

bool SqliteSession::Writes(const Statement& statement) {
  switch (statement.kind) {
    case StatementKind::Sql:
      return !statement.returnsRows;
    case StatementKind::Assign:
    case StatementKind::Declare:
    case StatementKind::NoOp:
    case StatementKind::SetIdentityInsert:
      return false;
    default:
      return true;
  }
}

// A second writer is refused at once rather than left waiting; every other lock (a reader meeting another
// connection's WAL recovery or checkpoint) is transient and is waited out.
int SqliteSession::BeginImmediateWithoutWaiting() {
  sqlite3_busy_timeout(db_.get(), 0);
  const int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  sqlite3_busy_timeout(db_.get(), kTransientLockWaitMilliseconds);
  return rc;
}

// Outside a transaction each statement commits by itself, as under the server's autocommit; the statements
// of an IF or a block too, so that an error in one leaves the others done.
void SqliteSession::RunTopLevel(const Statement& statement, BatchContext& context) {
  if (inTransaction_ || !Writes(statement) || statement.kind == StatementKind::If ||
      statement.kind == StatementKind::Block) {
    Run(statement, context);
    return;
  }
  RunAutocommitted(statement.line, [&] { Run(statement, context); });
}

// `work` in a database transaction of its own, committed when it succeeds.
void SqliteSession::RunAutocommitted(std::int32_t line, const std::function<void()>& work) {
  const int rc = BeginImmediateWithoutWaiting();
  if (rc != SQLITE_OK) {
    if (IsBusy(rc)) throw StatementFailure{LockedServerError(), line};
    throw StatementFailure{MapMessage(rc, sqlite3_errmsg(db_.get()), nullptr), line};
  }
  try {
    work();
    FlushIdentities();
    const int commit = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
    if (commit != SQLITE_OK)
      throw StatementFailure{MapMessage(commit, sqlite3_errmsg(db_.get()), nullptr), line};
  } catch (...) {
    if (sqlite3_get_autocommit(db_.get()) == 0)
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    ResetTransactionCaches();
    throw;
  }
  ResetTransactionCaches();
}

void SqliteSession::Run(const Statement& s, BatchContext& context) {
  switch (s.kind) {
    case StatementKind::Sql:
      RefuseIdentityUpdate(s);
      RunSql(s.sql, s, context);
      return;
    case StatementKind::Insert:
      RunInsert(s, context);
      return;
    case StatementKind::Assign:
      RunAssign(s);
      return;
    case StatementKind::Declare:
      for (const auto& declaration : s.declarations) {
        variables_[declaration.name] = Variable{declaration.type, SqlValue{}};
        if (!declaration.initializer.empty()) {
          variables_[declaration.name].value =
              ConvertValue(EvaluateScalar(declaration.initializer, s.line), declaration.type, s.line);
        }
      }
      return;
    case StatementKind::If: {
      const SqlValue condition = EvaluateScalar(s.sql, s.line);
      lastError_ = 0;
      if (condition.type == SQLITE_INTEGER && condition.integer != 0) {
        RunStatement(s.children[0], context);
      } else if (s.children.size() > 1) {
        RunStatement(s.children[1], context);
      }
      return;
    }
    case StatementKind::Block:
      for (const Statement& child : s.children) RunStatement(child, context);
      return;
    case StatementKind::NoOp:
      return;
    case StatementKind::SetIdentityInsert:
      RunSetIdentityInsert(s);
      return;
    case StatementKind::Truncate:
      RunTruncate(s);
      return;
    case StatementKind::CheckIdent:
      RunCheckIdent(s);
      return;
    case StatementKind::CreateTable:
      RunCreateTable(s);
      return;
    case StatementKind::DropTable:
      RunDropTable(s);
      return;
    case StatementKind::CreateIndex:
    case StatementKind::DropIndex:
      ExecuteInternal(s.sql, s);
      InvalidateCatalog();
      return;
  }
}

StatementHandle SqliteSession::Prepare(const std::string& sql, const Statement& s) {
  pendingError_.reset();
  if (auto it = checked_.find(std::string_view(sql)); it != checked_.end()) {
    StatementHandle statement = std::move(it->second);
    checked_.erase(it);
    BindVariables(statement.get(), s.line);
    return statement;
  }
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), 0, &raw, nullptr);
  StatementHandle statement(raw);
  if (rc != SQLITE_OK) throw StatementFailure{MapError(rc, &s), s.line};
  BindVariables(statement.get(), s.line);
  return statement;
}

// Steps a statement to its end; the rows go to `rows` when given.
void SqliteSession::StepAll(sqlite3_stmt* statement, const Statement& s,
                            const std::function<void(sqlite3_stmt*)>& onRow) {
  std::int64_t rows = 0;
  while (true) {
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      ++rows;
      if (onRow) onRow(statement);
      continue;
    }
    if (rc == SQLITE_DONE) break;
    throw StatementFailure{MapError(rc, &s), s.line};
  }
  rowCount_ = sqlite3_column_count(statement) > 0 && sqlite3_stmt_readonly(statement)
                  ? rows
                  : sqlite3_changes64(db_.get());
}

void SqliteSession::RunSql(const std::string& sql, const Statement& s, BatchContext& context) {
  StatementHandle statement = Prepare(sql, s);
  const bool capture = s.returnsRows && context.result != nullptr && !context.captured;
  if (!capture) {
    StepAll(statement.get(), s, nullptr);
    return;
  }
  ResultTable& result = *context.result;
  const int columns = sqlite3_column_count(statement.get());
  const std::vector<const ResultColumn*> items =
      ItemsOfColumns(s.resultColumns, static_cast<std::size_t>(columns));
  std::vector<TypeInfo> types;
  for (int c = 0; c < columns; ++c) {
    const ResultColumn* item = items[static_cast<std::size_t>(c)];
    const char* name = sqlite3_column_name(statement.get(), c);
    result.columns.emplace_back(name == nullptr || (item != nullptr && item->unnamed) ? "" : name);
    const char* declared = sqlite3_column_decltype(statement.get(), c);
    types.push_back(declared == nullptr ? TypeInfo{} : TypeFromDeclaration(declared));
    // A column of a table is described by its declaration; an expression by the translation's typing.
    if (declared != nullptr) {
      result.columnTypes.push_back(ClientColumnType(types.back()));
    } else {
      result.columnTypes.push_back(item != nullptr && item->type ? ClientColumnType(*item->type)
                                                                 : ColumnType{});
    }
  }
  StepAll(statement.get(), s, [&](sqlite3_stmt* row) {
    std::vector<Variant> values;
    values.reserve(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c) {
      const auto index = static_cast<std::size_t>(c);
      values.push_back(ToVariant(row, c, types[index], result.columnTypes[index], s.line));
    }
    result.rows.push_back(std::move(values));
  });
  context.captured = true;
}

SqlValue SqliteSession::EvaluateScalar(const std::string& sql, std::int32_t line) {
  Statement s;
  s.line = line;
  StatementHandle statement = Prepare(sql, s);
  SqlValue value;
  bool first = true;
  StepAll(statement.get(), s, [&](sqlite3_stmt* row) {
    if (first) value = SqlValue::From(row, 0);
    first = false;
  });
  return value;
}

void SqliteSession::RunAssign(const Statement& s) {
  StatementHandle statement = Prepare(s.sql, s);
  std::vector<SqlValue> last;
  bool any = false;
  StepAll(statement.get(), s, [&](sqlite3_stmt* row) {
    // `SELECT @v = @v + x FROM t` over several rows has no defined answer: "DECLARE @local_variable
    // (Transact-SQL)" warns against it, as the expressions "aren't necessarily run exactly once for each
    // output row". Nothing is assigned when it is refused.
    if (any && s.readsItsTargets) {
      throw StatementFailure{
          {0, "HYC00",
           "A SELECT that assigns a variable from its own value over more than one row is outside the subset "
           "the embedded provider runs: SQL Server leaves its result to the query plan; use SUM or "
           "another aggregate instead. Nothing was assigned."},
          s.line};
    }
    last.clear();
    for (std::size_t i = 0; i < s.targets.size(); ++i)
      last.push_back(SqlValue::From(row, static_cast<int>(i)));
    any = true;
  });
  // No row leaves the variables as they were; otherwise the last row wins. A value that does not convert
  // fails the statement before any variable changes, as the batch goes on after some such errors.
  if (!any) return;
  std::vector<SqlValue> converted;
  for (std::size_t i = 0; i < s.targets.size(); ++i)
    converted.push_back(ConvertValue(last[i], variables_.at(s.targets[i]).type, s.line));
  for (std::size_t i = 0; i < s.targets.size(); ++i)
    variables_.at(s.targets[i]).value = std::move(converted[i]);
}

void SqliteSession::ExecuteInternal(const std::string& sql, const Statement& s) {
  StatementHandle statement = Prepare(sql, s);
  StepAll(statement.get(), s, nullptr);
}

StatementHandle SqliteSession::PrepareInternal(const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), 0, &raw, nullptr);
  StatementHandle statement(raw);
  if (rc != SQLITE_OK) throw StatementFailure{MapMessage(rc, sqlite3_errmsg(db_.get()), nullptr), 0};
  return statement;
}

void SqliteSession::ResetTransactionCaches() {
  lastIdentityState_ = nullptr;
  identities_.clear();
  catalog_.clear();
  pendingError_.reset();
}

}  // namespace closewright::sqlite

namespace closewright {

namespace {

std::mutex statementHookMutex;
SqliteStatementHook statementHook;

SqliteStatementHook CurrentStatementHook() {
  std::lock_guard lock(statementHookMutex);
  return statementHook;
}

int ReportStatement(unsigned, void*, void* statement, void* text) {
  // Statements of a trigger arrive as a comment naming the trigger.
  const auto* sql = static_cast<const char*>(text);
  if (sql != nullptr && sql[0] == '-' && sql[1] == '-') return 0;
  char* expanded = sqlite3_expanded_sql(static_cast<sqlite3_stmt*>(statement));
  if (expanded == nullptr) return 0;
  try {
    if (const SqliteStatementHook hook = CurrentStatementHook()) hook(expanded);
  } catch (...) {
  }
  sqlite3_free(expanded);
  return 0;
}

}  // namespace

void SetSqliteStatementHook(SqliteStatementHook hook) {
  std::lock_guard lock(statementHookMutex);
  statementHook = std::move(hook);
}

int RegisterSqliteDialect(sqlite3* db) {
  return sqlite::RegisterSqlServerFunctions(db, nullptr);
}

std::unique_ptr<DatabaseSession> OpenSqliteSession(
    const std::vector<std::pair<std::string, std::string>>& connectStringPairs) {
  std::optional<std::string> path;
  for (const auto& [key, value] : connectStringPairs) {
    if (EqualsIgnoringCase(key, "Data Source")) path = value;
  }
  if (!path || path->empty()) {
    throw ComError(
        error_number::kOpenFailed, kSqliteProviderName,
        "The connect string names no Data Source: give Provider=Closewright.SQLite;Data Source=<file>.");
  }
  // A NUL would end the file name early and open another file than the one named.
  if (path->find('\0') != std::string::npos) {
    throw ComError(error_number::kOpenFailed, kSqliteProviderName,
                   "The Data Source holds a NUL character; no file of that name can be opened.");
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path->c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  sqlite::DatabaseHandle db(raw);
  if (rc != SQLITE_OK) {
    const std::string message = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw ComError(error_number::kOpenFailed, kSqliteProviderName,
                   "The ledger " + *path + " cannot be opened: " + message + ".");
  }
  sqlite3_extended_result_codes(db.get(), 1);
  // A name in double quotes or brackets that names no column would otherwise be taken as a string
  // (sqlite.org "Quirks": double-quoted string literals); SQL Server answers 207.
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
  sqlite3_busy_timeout(db.get(), sqlite::kTransientLockWaitMilliseconds);
  // WAL lets readers go on while a close writes; a second writer is refused at once (no busy wait).
  // A new ledger gets 16 KiB pages. A close or reopen is one transaction, and each page it reads is first
  // looked up in the write-ahead log's index, at a cost that grows with the frames written so far; larger
  // pages mean a quarter of the frames and of the reads (at a million tasks the reopen's time per row went
  // from 1.48 to about 1.05 times that at ten thousand). Only a file without tables takes the setting:
  // existing ledgers keep their page size.
  sqlite3_exec(db.get(), "PRAGMA page_size=16384", nullptr, nullptr, nullptr);
  if (*path != ":memory:") sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // Temporary tables, sorts and statement journals live in temporary files, which the OS caches: held in
  // memory they grow with the rows a statement touches, and a large close would need memory in proportion.
  sqlite3_exec(db.get(),
               "PRAGMA recursive_triggers=OFF; PRAGMA foreign_keys=ON; PRAGMA temp_store=FILE; "
               "PRAGMA cache_size=-65536;",
               nullptr, nullptr, nullptr);
  if (CurrentStatementHook()) sqlite3_trace_v2(db.get(), SQLITE_TRACE_STMT, ReportStatement, nullptr);
  auto session = std::make_unique<sqlite::SqliteSession>(std::move(db), *path);
  return session;
}

}  // namespace closewright
