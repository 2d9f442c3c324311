#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <list>
#include <map>
#include <mutex>
#include <random>
#include <unordered_map>
#include <unordered_set>

#include "outside/ComError.h"
#include "outside/Text.h"
#include "outside/sqlite/SqlServerFunctions.h"
#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "outside/sqlite/TsqlPlan.h"

namespace closewright {

namespace {

// How long a statement waits for a lock that another connection holds only briefly (WAL recovery, a
// checkpoint). Never applied to taking the write lock: a second close is refused at once.
constexpr int kTransientLockWaitMilliseconds = 10000;

using sqlite::CheckIdentMode;
using sqlite::FormatDateTime;
using sqlite::ParseDateTimeText;
using sqlite::Plan;
using sqlite::QuoteName;
using sqlite::Statement;
using sqlite::StatementKind;
using sqlite::TypeFromDeclaration;
using sqlite::TypeInfo;
using sqlite::ValueKind;

using sqlite::DatabaseHandle;
using sqlite::StatementHandle;

/// An error as SQL Server reports it.
struct ServerError {
  std::int32_t number = 0;
  std::string sqlState;
  std::string message;
};

/// A server error raised by the statement at `line`.
struct StatementFailure {
  ServerError error;
  std::int32_t line = 0;
};

/// A value of a variable or a fetched column.
struct SqlValue {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::string text;

  static SqlValue From(sqlite3_stmt* statement, int column) {
    SqlValue v;
    v.type = sqlite3_column_type(statement, column);
    switch (v.type) {
      case SQLITE_INTEGER:
        v.integer = sqlite3_column_int64(statement, column);
        break;
      case SQLITE_FLOAT:
        v.real = sqlite3_column_double(statement, column);
        break;
      case SQLITE_NULL:
        break;
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        v.text.assign(text == nullptr ? "" : text,
                      static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
        v.type = SQLITE_TEXT;
      }
    }
    return v;
  }
};

std::string LowerKey(std::string_view name) {
  return ToLowerAscii(name);
}
bool IsTemporaryName(std::string_view name) {
  return !name.empty() && name[0] == '#';
}

/// Identity values handed out in this process, kept outside every transaction so that a rolled-back insert
/// never gives its values again (SQL Server does not reuse them either).
class IdentityRegistry {
 public:
  struct Consumed {
    std::int64_t epoch = 0;
    std::int64_t last = 0;
  };
  static IdentityRegistry& Instance() {
    static IdentityRegistry registry;
    return registry;
  }
  /// The record of one table; it stays at the same address while the process lives.
  Consumed* Slot(const std::string& key) {
    std::lock_guard lock(mutex_);
    return &consumed_[key];
  }
  std::mutex& Mutex() { return mutex_; }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, Consumed> consumed_;  // node-based: slots never move
};

struct IdentityInfo {
  std::string column;
  std::int64_t seed = 1;
  std::int64_t increment = 1;
};

struct TableInfo {
  std::string schema;  // main or temp
  std::string name;    // as stored
  std::vector<std::pair<std::string, TypeInfo>> columns;
  std::optional<IdentityInfo> identity;
  std::string Qualified() const { return schema + "." + QuoteName(name); }
};

/// The identity of one table as this transaction sees it: the current value and whether a row was ever
/// inserted since the table was created or truncated.
struct IdentityState {
  std::string schema;
  std::string table;
  std::int64_t current = 0;
  bool isNull = true;
  std::int64_t epoch = 0;
  std::int64_t increment = 1;
  bool dirty = false;
  IdentityRegistry::Consumed* consumed = nullptr;  // what this process handed out for the table
};

constexpr const char* kIdentityTable = "closewright_identity";
constexpr const char* kConstraintTable = "closewright_constraint";

class SqliteSession final : public DatabaseSession, public sqlite::FunctionHost {
 public:
  SqliteSession(DatabaseHandle db, std::string path) : db_(std::move(db)), path_(std::move(path)) {
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

  ~SqliteSession() override { Rollback(); }

  void Execute(std::string_view batch) override { RunBatch(batch, nullptr); }

  ResultTable Query(std::string_view text) override {
    ResultTable result;
    RunBatch(text, &result);
    return result;
  }

  void BeginTransaction() override {
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

  void Commit() override {
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
                               "The commit failed and the transaction was rolled back: " + message, "40000",
                               0, "COMMIT");
    }
    inTransaction_ = false;
    ResetTransactionCaches();
    RefreshStatisticsAfterBulkChange();
  }

  void Rollback() noexcept override {
    if (db_ && sqlite3_get_autocommit(db_.get()) == 0)
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    inTransaction_ = false;
    endedAfter_.reset();
    ResetTransactionCaches();
  }

  std::optional<Variant> ProviderProperty(std::string_view name) override {
    // ODBC-style bitmasks of the scalar functions the translated dialect accepts under their T-SQL names.
    constexpr std::int32_t kNumeric =
        0x1 | 0x20 | 0x200 | 0x400 | 0x800 | 0x1000 | 0x4000 | 0x100000 | 0x400000;
    constexpr std::int32_t kString =
        0x4 | 0x8 | 0x10 | 0x20 | 0x40 | 0x80 | 0x100 | 0x200 | 0x400 | 0x800 | 0x1000 | 0x40000;
    constexpr std::int32_t kSystem = 0x4;
    constexpr std::int32_t kTimeDate = 0x1 | 0x4 | 0x20 | 0x100;
    if (EqualsIgnoringCase(name, "DBMS Name")) return Variant(std::string("SQLite"));
    if (EqualsIgnoringCase(name, "DBMS Version")) return Variant(std::string(sqlite3_libversion()));
    // Query returns the first result set of a batch only.
    if (EqualsIgnoringCase(name, "Multiple Results")) return Variant(std::int32_t{0});
    if (EqualsIgnoringCase(name, "Like Escape Clause")) return Variant(std::string("Y"));
    // Foreign keys are parsed but not enforced.
    if (EqualsIgnoringCase(name, "Integrity Enhancement Facility")) return Variant(false);
    if (EqualsIgnoringCase(name, "Numeric Functions")) return Variant(kNumeric);
    if (EqualsIgnoringCase(name, "String Functions")) return Variant(kString);
    if (EqualsIgnoringCase(name, "System Functions")) return Variant(kSystem);
    if (EqualsIgnoringCase(name, "Time/Date Functions")) return Variant(kTimeDate);
    return std::nullopt;
  }

  std::vector<std::string> ProviderPropertyNames() override {
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

  const std::string& ProviderName() const override { return providerName_; }

  // Without statistics SQLite takes the period filters of a close to match a handful of rows and joins the
  // close's derived tables by scanning them once per row (4.4's finished-task query went from 0.2 s to 4 s on
  // 20,000 tasks). After a transaction that changed many rows, a sampled ANALYZE (about 0.1 s) keeps the
  // estimates honest. It runs after the commit and its failure changes nothing.
  void RefreshStatisticsAfterBulkChange() noexcept {
    constexpr std::int64_t kBulkChange = 10'000;
    if (sqlite3_total_changes64(db_.get()) - changesAtBegin_ < kBulkChange) return;
    sqlite3_exec(db_.get(), "PRAGMA analysis_limit=1000; ANALYZE", nullptr, nullptr, nullptr);
  }

  // ---- FunctionHost ---------------------------------------------------------------------------------------

  void RaiseServerError(std::int32_t number, std::string sqlState, std::string message) noexcept override {
    try {
      pendingError_ = ServerError{number, std::move(sqlState), std::move(message)};
    } catch (...) {
    }
  }

  std::optional<std::int64_t> ObjectId(std::string_view name) noexcept override {
    return sqlite::ObjectIdOf(db_.get(), name);
  }

  std::optional<std::int64_t> NextIdentity(std::string_view tableKey) noexcept override {
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
      if (!state.isNull && __builtin_add_overflow(state.current, state.increment, &next)) {
        RaiseServerError(8115, "22003", "Arithmetic overflow error converting IDENTITY to data type bigint.");
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

  std::int64_t RowCount() noexcept override { return rowCount_; }
  std::int64_t TransactionCount() noexcept override { return inTransaction_ ? 1 : 0; }
  std::optional<std::int64_t> LastIdentity() noexcept override { return lastIdentity_; }

 private:
  // ---- batches --------------------------------------------------------------------------------------------

  struct BatchContext {
    std::string_view text;
    ResultTable* result = nullptr;
    bool captured = false;
  };

  std::shared_ptr<const Plan> PlanFor(std::string_view batch) {
    for (auto it = plans_.begin(); it != plans_.end(); ++it) {
      if (it->first == batch) {
        plans_.splice(plans_.begin(), plans_, it);
        return plans_.front().second;
      }
    }
    auto plan = std::make_shared<const Plan>(sqlite::TranslateBatch(batch));
    // Bulk loads send long batches once; keeping them would only hold memory.
    if (batch.size() > 64 * 1024) return plan;
    plans_.emplace_front(std::string(batch), plan);
    if (plans_.size() > 64) plans_.pop_back();
    return plan;
  }

  ComError ToComError(const ServerError& error, std::int32_t line, std::string_view batch) const {
    ComError e = ComError::Database(error_number::kCommandFailed, ProviderName(), error.message,
                                    error.sqlState, error.number, std::string(batch));
    e.SetFailingLine(line);
    return e;
  }

  void RunBatch(std::string_view batch, ResultTable* result) {
    std::shared_ptr<const Plan> plan;
    try {
      plan = PlanFor(batch);
    } catch (const sqlite::TsqlError& error) {
      throw ToComError(ServerError{error.nativeError, error.sqlState, error.message}, error.line, batch);
    }
    if (inTransaction_ && sqlite3_get_autocommit(db_.get()) != 0) {
      throw ToComError(
          ServerError{3998, "40000",
                      "The transaction was rolled back by the database after an earlier error, so "
                      "this batch was not run and nothing of the transaction will be committed. "
                      "The error: " +
                          endedAfter_.value_or("none reported")},
          0, batch);
    }
    if (!inTransaction_) InvalidateCatalog();
    variables_.clear();
    // The kept statements are keyed by text the plan holds; none may outlive the batch, however it ends.
    struct ForgetChecked {
      std::unordered_map<std::string_view, StatementHandle>& checked;
      ~ForgetChecked() { checked.clear(); }
    } forget{checked_};
    try {
      CheckSyntax(*plan);
      BatchContext context{batch, result, false};
      for (const Statement& statement : plan->statements) RunTopLevel(statement, context);
    } catch (const StatementFailure& failure) {
      ComError error = ToComError(failure.error, failure.line, batch);
      // SQLite itself rolls a transaction back after a few errors (a full disk, say): that too ends it.
      if (inTransaction_ &&
          (DoomsTheTransaction(failure.error.number) || sqlite3_get_autocommit(db_.get()) != 0))
        RollBackAfter(error);
      throw error;
    }
  }

  // SQL Server aborts the batch and rolls the open transaction back on a conversion error, whatever
  // XACT_ABORT says; other run-time errors end their statement or batch and leave the transaction open.
  static bool DoomsTheTransaction(std::int32_t number) {
    return number == 241 || number == 242 || number == 245 || number == 8114;
  }

  // The rest of the transaction is refused, as SQL Server's would be gone, until the owner rolls back; the
  // error is kept to say after what the transaction ended.
  void RollBackAfter(const ComError& error) noexcept {
    if (sqlite3_get_autocommit(db_.get()) == 0)
      sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
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
  void CheckSyntax(const Plan& plan) {
    constexpr std::size_t kMostKept = 64;
    constexpr std::size_t kMostKeptBytes = 4 << 20;
    constexpr std::size_t kMostShapes = 4096;
    std::size_t keptBytes = 0;
    sqlite::ForEachSyntaxCheck(plan, [&](const std::string& sql, std::int32_t line) {
      std::string shape = sqlite::SyntaxShape(sql);
      if (parsedShapes_.count(shape) != 0) return;
      sqlite3_stmt* raw = nullptr;
      const int rc =
          sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), 0, &raw, nullptr);
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

  static bool Writes(const Statement& statement) {
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
  int BeginImmediateWithoutWaiting() {
    sqlite3_busy_timeout(db_.get(), 0);
    const int rc = sqlite3_exec(db_.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    sqlite3_busy_timeout(db_.get(), kTransientLockWaitMilliseconds);
    return rc;
  }

  // Outside a transaction each statement commits by itself, as under the server's autocommit.
  void RunTopLevel(const Statement& statement, BatchContext& context) {
    if (inTransaction_ || !Writes(statement)) {
      Run(statement, context);
      return;
    }
    const int rc = BeginImmediateWithoutWaiting();
    if (rc != SQLITE_OK) {
      if (IsBusy(rc)) throw StatementFailure{LockedServerError(), statement.line};
      throw StatementFailure{MapMessage(rc, sqlite3_errmsg(db_.get()), nullptr), statement.line};
    }
    try {
      Run(statement, context);
      FlushIdentities();
      const int commit = sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
      if (commit != SQLITE_OK)
        throw StatementFailure{MapMessage(commit, sqlite3_errmsg(db_.get()), nullptr), statement.line};
    } catch (...) {
      if (sqlite3_get_autocommit(db_.get()) == 0)
        sqlite3_exec(db_.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      ResetTransactionCaches();
      throw;
    }
    ResetTransactionCaches();
  }

  void Run(const Statement& s, BatchContext& context) {
    switch (s.kind) {
      case StatementKind::Sql:
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
                Convert(EvaluateScalar(declaration.initializer, s.line), declaration.type, s.line);
          }
        }
        return;
      case StatementKind::If: {
        const SqlValue condition = EvaluateScalar(s.sql, s.line);
        if (condition.type == SQLITE_INTEGER && condition.integer != 0) {
          Run(s.children[0], context);
        } else if (s.children.size() > 1) {
          Run(s.children[1], context);
        }
        return;
      }
      case StatementKind::Block:
        for (const Statement& child : s.children) Run(child, context);
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

  // ---- running statements ---------------------------------------------------------------------------------

  StatementHandle Prepare(const std::string& sql, const Statement& s) {
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

  void BindVariables(sqlite3_stmt* statement, std::int32_t line) {
    const int count = sqlite3_bind_parameter_count(statement);
    for (int i = 1; i <= count; ++i) {
      const char* name = sqlite3_bind_parameter_name(statement, i);
      if (name == nullptr || name[0] != '@') continue;
      auto it = variables_.find(name);
      if (it == variables_.end()) {
        throw StatementFailure{
            ServerError{137, "42000", std::string("Must declare the scalar variable \"") + name + "\"."},
            line};
      }
      const SqlValue& v = it->second.value;
      switch (v.type) {
        case SQLITE_INTEGER:
          sqlite3_bind_int64(statement, i, v.integer);
          break;
        case SQLITE_FLOAT:
          sqlite3_bind_double(statement, i, v.real);
          break;
        case SQLITE_TEXT:
          sqlite3_bind_text(statement, i, v.text.data(), static_cast<int>(v.text.size()), SQLITE_TRANSIENT);
          break;
        default:
          sqlite3_bind_null(statement, i);
      }
    }
  }

  // Steps a statement to its end; the rows go to `rows` when given.
  void StepAll(sqlite3_stmt* statement, const Statement& s, const std::function<void(sqlite3_stmt*)>& onRow) {
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

  void RunSql(const std::string& sql, const Statement& s, BatchContext& context) {
    StatementHandle statement = Prepare(sql, s);
    const bool capture = s.returnsRows && context.result != nullptr && !context.captured;
    if (!capture) {
      StepAll(statement.get(), s, nullptr);
      return;
    }
    ResultTable& result = *context.result;
    const int columns = sqlite3_column_count(statement.get());
    std::vector<TypeInfo> types;
    for (int c = 0; c < columns; ++c) {
      const char* name = sqlite3_column_name(statement.get(), c);
      result.columns.emplace_back(name == nullptr ? "" : name);
      const char* declared = sqlite3_column_decltype(statement.get(), c);
      types.push_back(declared == nullptr ? TypeInfo{} : TypeFromDeclaration(declared));
    }
    StepAll(statement.get(), s, [&](sqlite3_stmt* row) {
      std::vector<Variant> values;
      values.reserve(static_cast<std::size_t>(columns));
      for (int c = 0; c < columns; ++c)
        values.push_back(ToVariant(row, c, types[static_cast<std::size_t>(c)]));
      result.rows.push_back(std::move(values));
    });
    context.captured = true;
  }

  static Variant ToVariant(sqlite3_stmt* row, int column, const TypeInfo& type) {
    const int storage = sqlite3_column_type(row, column);
    if (storage == SQLITE_NULL) return Variant::Null();
    switch (type.kind) {
      case ValueKind::Bit:
        if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
          return Variant(sqlite3_column_double(row, column) != 0);
        break;
      case ValueKind::Decimal:
      case ValueKind::Float:
        if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
          return Variant(sqlite3_column_double(row, column));
        break;
      case ValueKind::DateTime:
        if (storage == SQLITE_TEXT) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
          if (const auto ms = ParseDateTimeText(text == nullptr ? "" : text)) {
            return Variant(DateValue{static_cast<double>(*ms) / 86'400'000.0});
          }
        }
        break;
      case ValueKind::Text: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
        return Variant(std::string(text == nullptr ? "" : text,
                                   static_cast<std::size_t>(sqlite3_column_bytes(row, column))));
      }
      default:
        break;
    }
    switch (storage) {
      case SQLITE_INTEGER: {
        const std::int64_t v = sqlite3_column_int64(row, column);
        if (v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max()) {
          return Variant(static_cast<std::int32_t>(v));
        }
        return Variant(static_cast<double>(v));
      }
      case SQLITE_FLOAT:
        return Variant(sqlite3_column_double(row, column));
      default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
        return Variant(std::string(text == nullptr ? "" : text,
                                   static_cast<std::size_t>(sqlite3_column_bytes(row, column))));
      }
    }
  }

  SqlValue EvaluateScalar(const std::string& sql, std::int32_t line) {
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

  void RunAssign(const Statement& s) {
    StatementHandle statement = Prepare(s.sql, s);
    std::vector<SqlValue> last;
    bool any = false;
    StepAll(statement.get(), s, [&](sqlite3_stmt* row) {
      last.clear();
      for (std::size_t i = 0; i < s.targets.size(); ++i)
        last.push_back(SqlValue::From(row, static_cast<int>(i)));
      any = true;
    });
    // No row leaves the variables as they were; otherwise the last row wins.
    if (!any) return;
    for (std::size_t i = 0; i < s.targets.size(); ++i) {
      Variable& variable = variables_.at(s.targets[i]);
      variable.value = Convert(last[i], variable.type, s.line);
    }
  }

  SqlValue Convert(const SqlValue& v, const TypeInfo& type, std::int32_t line) const {
    if (v.type == SQLITE_NULL) return v;
    SqlValue out;
    auto conversionFailed = [&](const char* typeName) {
      return StatementFailure{ServerError{245, "22018",
                                          "Conversion failed when converting the varchar value '" + v.text +
                                              "' to data type " + typeName + "."},
                              line};
    };
    switch (type.kind) {
      case ValueKind::Integer:
      case ValueKind::Bit:
        out.type = SQLITE_INTEGER;
        if (v.type == SQLITE_INTEGER) {
          out.integer = v.integer;
        } else if (v.type == SQLITE_FLOAT) {
          out.integer = static_cast<std::int64_t>(std::trunc(v.real));
        } else {
          std::string_view text = TrimWhitespace(v.text);
          auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out.integer);
          if (text.empty() || ec != std::errc() || p != text.data() + text.size()) {
            throw conversionFailed(type.kind == ValueKind::Bit ? "bit" : "int");
          }
        }
        if (type.kind == ValueKind::Bit) out.integer = out.integer != 0 ? 1 : 0;
        return out;
      case ValueKind::Decimal:
      case ValueKind::Float:
        if (v.type == SQLITE_INTEGER || v.type == SQLITE_FLOAT) return v;
        {
          std::string_view text = TrimWhitespace(v.text);
          out.type = SQLITE_FLOAT;
          auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), out.real);
          if (text.empty() || ec != std::errc() || p != text.data() + text.size()) {
            throw StatementFailure{
                ServerError{8114, "37000", "Error converting data type varchar to numeric."}, line};
          }
        }
        return out;
      case ValueKind::Text: {
        out.type = SQLITE_TEXT;
        if (v.type == SQLITE_INTEGER) {
          out.text = std::to_string(v.integer);
        } else if (v.type == SQLITE_FLOAT) {
          char buffer[64];
          auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v.real);
          out.text.assign(buffer, ec == std::errc() ? end : buffer);
        } else {
          out.text = v.text;
        }
        // Assigning to a shorter variable cuts the text, silently.
        if (type.length > 0 && out.text.size() > static_cast<std::size_t>(type.length)) {
          out.text.resize(static_cast<std::size_t>(type.length));
        }
        return out;
      }
      case ValueKind::DateTime: {
        out.type = SQLITE_TEXT;
        if (v.type == SQLITE_TEXT) {
          bool outOfRange = false;
          const auto ms = ParseDateTimeText(v.text, &outOfRange);
          if (!ms) {
            throw StatementFailure{outOfRange ? ServerError{242, "22007",
                                                            "The conversion of a varchar data type to a "
                                                            "datetime data type resulted in an "
                                                            "out-of-range value."}
                                              : ServerError{241, "22007",
                                                            "Conversion failed when converting date and/or "
                                                            "time from character string."},
                                   line};
          }
          out.text = FormatDateTime(*ms);
        } else {
          const double days = v.type == SQLITE_INTEGER ? static_cast<double>(v.integer) : v.real;
          out.text = FormatDateTime(static_cast<std::int64_t>(std::llround((days + 2) * 86'400'000.0)));
        }
        return out;
      }
      default:
        return v;
    }
  }

  void ExecuteInternal(const std::string& sql, const Statement& s) {
    StatementHandle statement = Prepare(sql, s);
    StepAll(statement.get(), s, nullptr);
  }

  StatementHandle PrepareInternal(const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()), 0, &raw, nullptr);
    StatementHandle statement(raw);
    if (rc != SQLITE_OK) throw StatementFailure{MapMessage(rc, sqlite3_errmsg(db_.get()), nullptr), 0};
    return statement;
  }

  // ---- catalog --------------------------------------------------------------------------------------------

  void InvalidateCatalog() { catalog_.clear(); }

  void ResetTransactionCaches() {
    lastIdentityState_ = nullptr;
    identities_.clear();
    catalog_.clear();
    pendingError_.reset();
  }

  bool MetaTableExists(const std::string& schema, const char* table) {
    StatementHandle statement = PrepareInternal(
        "SELECT 1 FROM " + schema + ".sqlite_master WHERE type = 'table' AND name = '" + table + "'");
    return sqlite3_step(statement.get()) == SQLITE_ROW;
  }

  void EnsureMetaTables(const std::string& schema, const Statement& s) {
    ExecuteInternal(
        "CREATE TABLE IF NOT EXISTS " + schema + "." + kIdentityTable +
            " (table_name TEXT NOT NULL PRIMARY KEY COLLATE NOCASE, column_name TEXT NOT NULL, seed "
            "INTEGER NOT NULL, increment INTEGER NOT NULL, current INTEGER NOT NULL, is_null INTEGER NOT "
            "NULL, epoch INTEGER NOT NULL)",
        s);
    ExecuteInternal(
        "CREATE TABLE IF NOT EXISTS " + schema + "." + kConstraintTable +
            " (table_name TEXT NOT NULL COLLATE NOCASE, constraint_name TEXT NOT NULL, kind TEXT NOT "
            "NULL, columns TEXT NOT NULL)",
        s);
  }

  const TableInfo* LookupTable(const std::string& name) {
    const std::string key = LowerKey(name);
    if (auto it = catalog_.find(key); it != catalog_.end()) return &it->second;
    const std::string schema = IsTemporaryName(name) ? "temp" : "main";
    StatementHandle find = PrepareInternal(
        "SELECT name FROM " + schema + ".sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
    sqlite3_bind_text(find.get(), 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
    if (sqlite3_step(find.get()) != SQLITE_ROW) return nullptr;
    TableInfo info;
    info.schema = schema;
    info.name = reinterpret_cast<const char*>(sqlite3_column_text(find.get(), 0));
    StatementHandle columns =
        PrepareInternal("PRAGMA " + schema + ".table_info(" + QuoteName(info.name) + ")");
    while (sqlite3_step(columns.get()) == SQLITE_ROW) {
      const auto* column = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 1));
      const auto* declared = reinterpret_cast<const char*>(sqlite3_column_text(columns.get(), 2));
      info.columns.emplace_back(column == nullptr ? "" : column,
                                TypeFromDeclaration(declared == nullptr ? "" : declared));
    }
    if (MetaTableExists(schema, kIdentityTable)) {
      StatementHandle identity = PrepareInternal("SELECT column_name, seed, increment FROM " + schema + "." +
                                                 kIdentityTable + " WHERE table_name = ?1");
      sqlite3_bind_text(identity.get(), 1, info.name.data(), static_cast<int>(info.name.size()),
                        SQLITE_TRANSIENT);
      if (sqlite3_step(identity.get()) == SQLITE_ROW) {
        info.identity =
            IdentityInfo{reinterpret_cast<const char*>(sqlite3_column_text(identity.get(), 0)),
                         sqlite3_column_int64(identity.get(), 1), sqlite3_column_int64(identity.get(), 2)};
      }
    }
    return &catalog_.emplace(key, std::move(info)).first->second;
  }

  std::string ServerTableName(const TableInfo& table) const { return databaseName_ + ".dbo." + table.name; }

  // ---- identity -------------------------------------------------------------------------------------------

  std::string IdentityKey(const TableInfo& table) const { return table.schema + "|" + LowerKey(table.name); }

  std::string RegistryKey(const IdentityState& state) const {
    return (state.schema == "temp" ? temporaryKey_ : registryKey_) + LowerKey(state.table);
  }

  std::int64_t NewEpoch() { return static_cast<std::int64_t>(random_() >> 1); }

  IdentityState& PrepareIdentity(const TableInfo& table, const Statement& s) {
    const std::string key = IdentityKey(table);
    if (auto it = identities_.find(key); it != identities_.end()) return it->second;
    StatementHandle load = PrepareInternal("SELECT current, is_null, epoch, increment FROM " + table.schema +
                                           "." + kIdentityTable + " WHERE table_name = ?1");
    sqlite3_bind_text(load.get(), 1, table.name.data(), static_cast<int>(table.name.size()),
                      SQLITE_TRANSIENT);
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
    state.consumed = IdentityRegistry::Instance().Slot(RegistryKey(state));
    return identities_.emplace(key, std::move(state)).first->second;
  }

  void FlushIdentities() {
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

  std::optional<std::int64_t> MaximumIdentity(const TableInfo& table) {
    StatementHandle max =
        PrepareInternal("SELECT max(" + QuoteName(table.identity->column) + ") FROM " + table.Qualified());
    if (sqlite3_step(max.get()) != SQLITE_ROW || sqlite3_column_type(max.get(), 0) == SQLITE_NULL)
      return std::nullopt;
    return sqlite3_column_int64(max.get(), 0);
  }

  void RunInsert(const Statement& s, BatchContext& context) {
    const sqlite::InsertTarget& insert = *s.insert;
    const TableInfo* table = LookupTable(insert.table);
    if (table == nullptr || !table->identity) {
      RunSql(s.sql, s, context);
      return;
    }
    const std::string& identityColumn = table->identity->column;
    const bool named = std::any_of(insert.columns.begin(), insert.columns.end(), [&](const std::string& c) {
      return EqualsIgnoringCase(c, identityColumn);
    });
    const bool on = identityInsert_ && *identityInsert_ == IdentityKey(*table);
    if (insert.hasColumnList && named) {
      if (!on) {
        throw StatementFailure{ServerError{544, "23000",
                                           "Cannot insert explicit value for identity column in table '" +
                                               table->name + "' when IDENTITY_INSERT is set to OFF."},
                               s.line};
      }
      IdentityState& state = PrepareIdentity(*table, s);
      RunSql(s.sql, s, context);
      // An explicit value above the current identity becomes the current identity.
      if (sqlite3_changes64(db_.get()) > 0) {
        if (const auto max = MaximumIdentity(*table)) {
          if (state.isNull || (state.increment > 0 ? *max > state.current : *max < state.current)) {
            state.current = *max;
            state.isNull = false;
            state.dirty = true;
          }
        }
        lastIdentity_ = state.current;
      }
      // Rare (explicit values), so written at once: whoever reads the identity table in this transaction
      // (the benchmark's replay does) sees the jump.
      if (inTransaction_) FlushIdentities();
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
    PrepareIdentity(*table, s);
    std::string columns = QuoteName(identityColumn);
    if (insert.hasColumnList) {
      for (const std::string& c : insert.columns) columns += ", " + QuoteName(c);
    } else {
      for (const auto& [name, type] : table->columns) {
        if (!EqualsIgnoringCase(name, identityColumn)) columns += ", " + QuoteName(name);
      }
    }
    const std::string next = "cw_identity_next(" + QuoteSqlText(IdentityKey(*table)) + ")";
    std::string sql = insert.head + " (" + columns + ") ";
    if (insert.defaultValues) {
      if (insert.hasColumnList && !insert.columns.empty())
        throw StatementFailure{MapMessage(SQLITE_ERROR, "near \"DEFAULT\": syntax error", nullptr), s.line};
      sql = insert.head + " (" + QuoteName(identityColumn) + ") VALUES (" + next + ")";
    } else {
      sql += "SELECT " + next + ", * FROM (";
      sql += sqlite::InsertSource(s);
      sql += ")";
    }
    try {
      RunSql(sql, s, context);
    } catch (StatementFailure& failure) {
      // Without a column list SQL Server counts the values against the columns other than the identity.
      if (!insert.hasColumnList && failure.error.number == 213) {
        failure.error =
            ServerError{8101, "23000",
                        "An explicit value for the identity column in table '" + table->name +
                            "' can only be specified when a column list is used and IDENTITY_INSERT is ON."};
      }
      throw;
    }
  }

  void RunSetIdentityInsert(const Statement& s) {
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

  void RunTruncate(const Statement& s) {
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

  void RunCheckIdent(const Statement& s) {
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
        throw StatementFailure{
            ServerError{2560, "42000", "Parameter 3 is incorrect for this DBCC statement."}, s.line};
      }
      const SqlValue seed = Convert(value, TypeInfo{ValueKind::Integer, -1, 0}, s.line);
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

  void RunCreateTable(const Statement& s) {
    const sqlite::CreateTableDefinition& def = *s.create;
    const std::string schema = def.temporary ? "temp" : "main";
    for (const std::string& sql : def.sql) ExecuteInternal(sql, s);
    if (!def.identityColumn.empty() || !def.constraints.empty()) EnsureMetaTables(schema, s);
    if (!def.identityColumn.empty()) {
      StatementHandle insert =
          Prepare("INSERT INTO " + schema + "." + kIdentityTable +
                      " (table_name, column_name, seed, increment, current, is_null, epoch) VALUES "
                      "(?1, ?2, ?3, ?4, ?3, 1, ?5)",
                  s);
      sqlite3_bind_text(insert.get(), 1, def.table.data(), static_cast<int>(def.table.size()),
                        SQLITE_TRANSIENT);
      sqlite3_bind_text(insert.get(), 2, def.identityColumn.data(),
                        static_cast<int>(def.identityColumn.size()), SQLITE_TRANSIENT);
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
      sqlite3_bind_text(insert.get(), 4, constraint.columns.data(),
                        static_cast<int>(constraint.columns.size()), SQLITE_TRANSIENT);
      StepAll(insert.get(), s, nullptr);
    }
    InvalidateCatalog();
    lastIdentityState_ = nullptr;
    identities_.erase(schema + "|" + LowerKey(def.table));
  }

  void RunDropTable(const Statement& s) {
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

  // ---- errors ---------------------------------------------------------------------------------------------

  static bool IsBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

  ServerError LockedServerError() const {
    return ServerError{
        1222, "HYT00",
        "The ledger " + path_ +
            " is locked by another session (a close or reopen is running); try again when it has "
            "finished."};
  }

  ComError LockedError(std::string_view text) const {
    const ServerError e = LockedServerError();
    return ComError::Database(error_number::kCommandFailed, ProviderName(), e.message, e.sqlState, e.number,
                              std::string(text));
  }

  ServerError MapError(int rc, const Statement* s) {
    if (pendingError_) {
      ServerError error = std::move(*pendingError_);
      pendingError_.reset();
      return error;
    }
    return MapMessage(sqlite3_extended_errcode(db_.get()) != 0 ? sqlite3_extended_errcode(db_.get()) : rc,
                      sqlite3_errmsg(db_.get()), s);
  }

  static std::string AfterPrefix(const std::string& message, std::string_view prefix) {
    std::string rest = message.substr(message.find(prefix) + prefix.size());
    return rest;
  }

  static std::string Unqualified(std::string name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(dot + 1);
  }

  std::string ConstraintName(const std::string& table, const std::string& kind, const std::string& columns) {
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
  std::string UniqueIndexName(const std::string& table, const std::string& columns) {
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

  ServerError MapMessage(int rc, const std::string& message, const Statement* s) {
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
    if (rc == SQLITE_CONSTRAINT_NOTNULL) {
      const std::string qualified = AfterPrefix(message, "NOT NULL constraint failed: ");
      const auto dot = qualified.rfind('.');
      const std::string table = dot == std::string::npos ? qualified : qualified.substr(0, dot);
      const std::string column = dot == std::string::npos ? qualified : qualified.substr(dot + 1);
      const bool update = s != nullptr && s->isUpdate;
      return {515, "23000",
              "Cannot insert the value NULL into column '" + column + "', table '" + databaseName_ + ".dbo." +
                  table + "'; column does not allow nulls. " + (update ? "UPDATE" : "INSERT") + " fails."};
    }
    if (rc == SQLITE_CONSTRAINT_PRIMARYKEY || rc == SQLITE_CONSTRAINT_UNIQUE) {
      // "UNIQUE constraint failed: t.a, t.b"
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
                "Violation of UNIQUE KEY constraint '" + name +
                    "'. Cannot insert duplicate key in object 'dbo." + table + "'."};
      }
      return {2601, "23000",
              "Cannot insert duplicate key row in object 'dbo." + table + "' with unique index '" +
                  UniqueIndexName(table, columns) + "'."};
    }
    if (rc == SQLITE_CONSTRAINT_FOREIGNKEY) {
      const std::string table = s != nullptr ? s->table : std::string();
      const bool update = s != nullptr && s->isUpdate;
      return {
          547, "23000",
          std::string("The ") + (update ? "UPDATE" : "INSERT") +
              " statement conflicted with the FOREIGN KEY constraint. The conflict occurred in database \"" +
              databaseName_ + "\", table \"dbo." + table + "\"."};
    }
    if (rc == SQLITE_CONSTRAINT_CHECK) {
      const std::string name = AfterPrefix(message, "CHECK constraint failed: ");
      if (name.rfind("cw_length:", 0) == 0)
        return {8152, "22001", "String or binary data would be truncated."};
      const std::string table = s != nullptr ? s->table : std::string();
      const bool update = s != nullptr && s->isUpdate;
      return {547, "23000",
              std::string("The ") + (update ? "UPDATE" : "INSERT") +
                  " statement conflicted with the CHECK constraint \"" + name +
                  "\". The conflict occurred in database \"" + databaseName_ + "\", table \"dbo." + table +
                  "\"."};
    }
    const auto near = message.find("near \"");
    if (near != std::string::npos && message.find("syntax error") != std::string::npos) {
      const std::string rest = message.substr(near + 6);
      return {102, "42000", "Incorrect syntax near '" + rest.substr(0, rest.find('"')) + "'."};
    }
    if (message.find("incomplete input") != std::string::npos) {
      return {102, "42000", "Incorrect syntax near the end of the statement."};
    }
    if (message.rfind("ambiguous column name: ", 0) == 0) {
      return {
          209, "42000",
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
      if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
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

  struct Variable {
    TypeInfo type;
    SqlValue value;
  };

  DatabaseHandle db_;
  std::string path_;
  std::string databaseName_;
  std::string registryKey_;
  std::string temporaryKey_;
  std::string providerName_ = kSqliteProviderName;
  bool inTransaction_ = false;
  // The error after which the database rolled the open transaction back.
  std::optional<std::string> endedAfter_;
  std::int64_t changesAtBegin_ = 0;
  std::optional<std::string> identityInsert_;
  std::string identityInsertName_;
  std::unordered_map<std::string, TableInfo> catalog_;
  std::unordered_map<std::string, IdentityState> identities_;
  std::unordered_map<std::string, Variable> variables_;
  std::optional<ServerError> pendingError_;
  std::int64_t rowCount_ = 0;
  std::optional<std::int64_t> lastIdentity_;
  std::string lastIdentityKey_;
  IdentityState* lastIdentityState_ = nullptr;
  std::list<std::pair<std::string, std::shared_ptr<const Plan>>> plans_;
  // Statements of the running batch prepared by the syntax check, by their text (held by the plan).
  std::unordered_map<std::string_view, StatementHandle> checked_;
  // Shapes of statement texts that SQLite parsed without a syntax error.
  std::unordered_set<std::string> parsedShapes_;
  std::mt19937_64 random_;
};

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
  DatabaseHandle db(raw);
  if (rc != SQLITE_OK) {
    const std::string message = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    throw ComError(error_number::kOpenFailed, kSqliteProviderName,
                   "The ledger " + *path + " cannot be opened: " + message + ".");
  }
  sqlite3_extended_result_codes(db.get(), 1);
  sqlite3_busy_timeout(db.get(), kTransientLockWaitMilliseconds);
  // WAL lets readers go on while a close writes; a second writer is refused at once (no busy wait).
  if (*path != ":memory:") sqlite3_exec(db.get(), "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  // Temporary tables, sorts and statement journals live in temporary files, which the OS caches: held in
  // memory they grow with the rows a statement touches, and a large close would need memory in proportion.
  sqlite3_exec(db.get(),
               "PRAGMA recursive_triggers=OFF; PRAGMA foreign_keys=ON; PRAGMA temp_store=FILE; "
               "PRAGMA cache_size=-65536;",
               nullptr, nullptr, nullptr);
  if (CurrentStatementHook()) sqlite3_trace_v2(db.get(), SQLITE_TRACE_STMT, ReportStatement, nullptr);
  auto session = std::make_unique<SqliteSession>(std::move(db), *path);
  return session;
}

}  // namespace closewright
