#pragma once

// The embedded provider's session, private to outside/sqlite. Its parts live in files of their own:
// running batches (SqliteSession.cpp), identities (SqliteIdentity.cpp), the catalog of tables
// (SqliteCatalog.cpp), SQL Server's errors (SqliteErrors.cpp) and values (SqliteValues.cpp).

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Text.h"
#include "outside/sqlite/SqlServerFunctions.h"
#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "outside/sqlite/TsqlPlan.h"

namespace closewright::sqlite {

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

  static SqlValue From(sqlite3_stmt* statement, int column);
};

/// `v` assigned to a variable of type `type`, as SQL Server converts it; a failure is the statement's at
/// `line`.
SqlValue ConvertValue(const SqlValue& v, const TypeInfo& type, std::int32_t line);

/// A fetched column as the client sees it, given the column's declared type and the type the client is told
/// (`client`): a DECIMAL, NUMERIC or MONEY column's number comes as a Decimal at the column's scale; one that
/// needs more than 38 digits there fails the statement at `line` with the server's overflow.
Variant ToVariant(sqlite3_stmt* row, int column, const TypeInfo& type, const ColumnType& client,
                  std::int32_t line);

/// Binds a client's value for a column of type `type` (nullptr: not known) as an INSERT of its literal
/// stores it: into an exact numeric column converted as cw_convert_number converts (StoresAsItIs, else
/// ConvertValueTo; its error is the statement's at `line`), a Date as its text 'yyyy-mm-dd hh:mm:ss.mmm'
/// (which the datetime columns' trigger reads as the text of a literal), Boolean as 1 or 0, Null and
/// Empty as NULL. An object is a type mismatch (13).
void BindStoredValue(sqlite3_stmt* statement, int index, const Variant& value, const TypeInfo* type,
                     std::int32_t line);

inline std::string LowerKey(std::string_view name) {
  return ToLowerAscii(name);
}
inline bool IsTemporaryName(std::string_view name) {
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
  static IdentityRegistry& Instance();
  /// The record of one table; it stays at the same address while the process lives.
  Consumed* Slot(const std::string& key);
  std::mutex& Mutex() { return mutex_; }

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, Consumed> consumed_;  // node-based: slots never move
};

struct IdentityInfo {
  std::string column;
  std::int64_t seed = 1;
  std::int64_t increment = 1;
  std::string type;  // the column's T-SQL type as recorded ("INT"); empty in files from before it was
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
  /// The identity column's type: a generated value beyond it is an overflow, not a stored number.
  NumericType type = NumericType::Of(NumericKind::BigInt);
  bool dirty = false;
  IdentityRegistry::Consumed* consumed = nullptr;  // what this process handed out for the table
};

inline constexpr const char* kIdentityTable = "closewright_identity";
inline constexpr const char* kConstraintTable = "closewright_constraint";

class SqliteSession final : public DatabaseSession, public FunctionHost {
 public:
  SqliteSession(DatabaseHandle db, std::string path);
  ~SqliteSession() override { Rollback(); }

  void Execute(std::string_view batch) override { RunBatch(batch, nullptr); }
  void InsertRows(std::string_view table, const std::vector<std::string>& columns,
                  const std::vector<Variant>& values) override;
  ResultTable Query(std::string_view text) override;
  void BeginTransaction() override;
  void Commit() override;
  void Rollback() noexcept override;
  std::optional<Variant> ProviderProperty(std::string_view name) override;
  std::vector<std::string> ProviderPropertyNames() override;
  const std::string& ProviderName() const override { return providerName_; }

  // FunctionHost
  void RaiseServerError(std::int32_t number, std::string sqlState, std::string message) noexcept override;
  std::optional<std::int64_t> ObjectId(std::string_view name) noexcept override;
  std::optional<std::int64_t> NextIdentity(std::string_view tableKey) noexcept override;
  std::int64_t RowCount() noexcept override { return rowCount_; }
  std::int64_t TransactionCount() noexcept override { return inTransaction_ ? 1 : 0; }
  std::optional<std::int64_t> LastIdentity() noexcept override { return lastIdentity_; }
  std::int32_t LastError() noexcept override { return lastError_; }

 private:
  struct BatchContext {
    std::string_view text;
    ResultTable* result = nullptr;
    bool captured = false;
    // The first statement-terminating error of the batch, raised when the batch has run to its end.
    std::optional<StatementFailure> firstFailure;
  };
  struct Variable {
    TypeInfo type;
    SqlValue value;
  };

  // ---- batches and statements (SqliteSession.cpp) ----
  void RefreshStatisticsAfterBulkChange() noexcept;
  std::shared_ptr<const Plan> PlanFor(std::string_view batch);
  void RefuseAfterTransactionEnded(const std::string& what, std::string_view text);
  // The schema cookies of the main and temporary databases: a kept plan was typed against the tables as
  // they were, and holds only while neither has changed.
  std::pair<std::int64_t, std::int64_t> SchemaVersions();
  void RunBatch(std::string_view batch, ResultTable* result);
  static bool DoomsTheTransaction(std::int32_t number);
  static bool EndsOnlyTheStatement(std::int32_t number);
  void RunStatement(const Statement& statement, BatchContext& context);
  void RollBackAfter(const ComError& error) noexcept;
  void CheckSyntax(const Plan& plan);
  static bool Writes(const Statement& statement);
  int BeginImmediateWithoutWaiting();
  void RunTopLevel(const Statement& statement, BatchContext& context);
  void RunAutocommitted(std::int32_t line, const std::function<void()>& work);
  void Run(const Statement& s, BatchContext& context);
  StatementHandle Prepare(const std::string& sql, const Statement& s);
  void StepAll(sqlite3_stmt* statement, const Statement& s, const std::function<void(sqlite3_stmt*)>& onRow);
  void RunSql(const std::string& sql, const Statement& s, BatchContext& context);
  SqlValue EvaluateScalar(const std::string& sql, std::int32_t line);
  void RunAssign(const Statement& s);
  void ExecuteInternal(const std::string& sql, const Statement& s);
  StatementHandle PrepareInternal(const std::string& sql);
  void ResetTransactionCaches();

  // ---- values (SqliteValues.cpp) ----
  void BindVariables(sqlite3_stmt* statement, std::int32_t line);

  // ---- the catalog (SqliteCatalog.cpp) ----
  void InvalidateCatalog() { catalog_.clear(); }
  bool MetaTableExists(const std::string& schema, const char* table);
  bool IdentityTypesRecorded(const std::string& schema);
  std::optional<IdentityInfo> ReadIdentity(const std::string& schema, const std::string& table);
  void EnsureMetaTables(const std::string& schema, const Statement& s);
  const TableInfo* LookupTable(const std::string& name);
  std::string ServerTableName(const TableInfo& table) const { return databaseName_ + ".dbo." + table.name; }
  void RunCreateTable(const Statement& s);
  void RunDropTable(const Statement& s);
  std::string ConstraintName(const std::string& table, const std::string& kind, const std::string& columns);
  std::string UniqueIndexName(const std::string& table, const std::string& columns);

  // ---- identities (SqliteIdentity.cpp) ----
  std::string IdentityKey(const TableInfo& table) const { return table.schema + "|" + LowerKey(table.name); }
  std::string RegistryKey(const IdentityState& state) const;
  std::int64_t NewEpoch() { return static_cast<std::int64_t>(random_() >> 1); }
  IdentityState& PrepareIdentity(const TableInfo& table, const Statement& s);
  void NoteExplicitIdentities(const TableInfo& table, IdentityState& state);
  void FlushIdentities();
  std::optional<std::int64_t> MaximumIdentity(const TableInfo& table);
  std::optional<ServerError> IdentityInsertRefusal(const TableInfo& table, bool hasColumnList,
                                                   bool named) const;
  void RefuseIdentityUpdate(const Statement& s);
  void RefuseIdentityUpdates(const std::vector<Statement>& statements);
  void RunInsert(const Statement& s, BatchContext& context);
  /// Rows of InsertRows: `count` rows from the row `first`.
  struct RowSpan {
    std::size_t first = 0;
    std::size_t count = 1;
  };
  void LoadRows(const Statement& s, const std::vector<std::string>& columns,
                const std::vector<Variant>& values, RowSpan& at);
  sqlite3_stmt* LoadStatement(const std::string& sql, const Statement& s);
  void RunInsertWithExplicitIdentity(const TableInfo& table, const Statement& s, BatchContext& context);
  void RunInsertWithNextIdentity(const TableInfo& table, const Statement& s, BatchContext& context);
  std::string StoringInsert(const TableInfo& table, const Statement& s, const std::string& nextIdentity);
  void RunSetIdentityInsert(const Statement& s);
  void RunTruncate(const Statement& s);
  void RunCheckIdent(const Statement& s);

  // ---- errors (SqliteErrors.cpp) ----
  ComError ToComError(const ServerError& error, std::int32_t line, std::string_view batch) const;
  static bool IsBusy(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }
  ServerError LockedServerError() const;
  ComError LockedError(std::string_view text) const;
  ServerError MapError(int rc, const Statement* s);
  ServerError MapMessage(int rc, const std::string& message, const Statement* s);
  std::optional<ServerError> MapConstraintMessage(int rc, const std::string& message, const Statement* s);
  std::string ReferencingTable(const std::string& table);
  ServerError MapUniqueViolation(int rc, const std::string& message);

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
  std::int32_t lastError_ = 0;  // @@ERROR, kept from batch to batch as the server keeps it per session
  std::string lastIdentityKey_;
  IdentityState* lastIdentityState_ = nullptr;
  std::list<std::pair<std::string, std::shared_ptr<const Plan>>> plans_;
  std::pair<std::int64_t, std::int64_t> plansSchema_{-1, -1};
  // Statements of the running batch prepared by the syntax check, by their text (held by the plan).
  std::unordered_map<std::string_view, StatementHandle> checked_;
  // Shapes of statement texts that SQLite parsed without a syntax error.
  std::unordered_set<std::string> parsedShapes_;
  // The INSERTs InsertRows prepared last, newest first: a load comes in calls of some thousand rows each, and
  // preparing one of 50 rows of parameters costs as much as running it a few dozen times.
  std::list<std::pair<std::string, StatementHandle>> loadStatements_;
  std::mt19937_64 random_;
};

}  // namespace closewright::sqlite
