#include "bench/StatementReplay.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "outside/Text.h"
#include "outside/sqlite/SqlServerFunctions.h"
#include "outside/sqlite/SqliteHandles.h"

namespace closewright::bench {
namespace {

using sqlite::DatabaseHandle;
using sqlite::StatementHandle;

StatementHandle PrepareOrNull(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr);
  return StatementHandle(raw);
}

// What the translated statements ask of their session, answered from the database itself: identities from
// the provider's identity table (the recorded statements keep it up to date), object ids from the catalog.
class ReplayHost final : public sqlite::FunctionHost {
 public:
  explicit ReplayHost(sqlite3* db) : db_(db) {}

  void RaiseServerError(std::int32_t number, std::string, std::string message) noexcept override {
    try {
      error_ = "server error " + std::to_string(number) + ": " + message;
    } catch (...) {
    }
  }

  std::optional<std::int64_t> ObjectId(std::string_view name) noexcept override {
    return sqlite::ObjectIdOf(db_, name);
  }

  std::optional<std::int64_t> NextIdentity(std::string_view tableKey) noexcept override {
    try {
      const std::string key(tableKey);
      auto it = identities_.find(key);
      if (it == identities_.end()) {
        const auto bar = key.find('|');
        if (bar == std::string::npos) return std::nullopt;
        StatementHandle load =
            PrepareOrNull(db_, "SELECT current, is_null, increment FROM " + key.substr(0, bar) +
                                   ".closewright_identity WHERE table_name = ?1");
        if (!load) return std::nullopt;
        const std::string table = key.substr(bar + 1);
        sqlite3_bind_text(load.get(), 1, table.data(), static_cast<int>(table.size()), SQLITE_TRANSIENT);
        if (sqlite3_step(load.get()) != SQLITE_ROW) return std::nullopt;
        Identity identity{sqlite3_column_int64(load.get(), 0), sqlite3_column_int64(load.get(), 1) != 0,
                          sqlite3_column_int64(load.get(), 2)};
        it = identities_.emplace(key, identity).first;
      }
      Identity& identity = it->second;
      if (!identity.isNull) identity.current += identity.increment;
      identity.isNull = false;
      last_ = identity.current;
      return identity.current;
    } catch (...) {
      return std::nullopt;
    }
  }

  std::int64_t RowCount() noexcept override { return rowCount_; }
  std::int64_t TransactionCount() noexcept override { return 1; }
  std::optional<std::int64_t> LastIdentity() noexcept override { return last_; }
  // Only statements that ran without an error are recorded, and the close reads no @@ERROR.
  std::int32_t LastError() noexcept override { return 0; }

  /// A statement wrote the identity table: the table it names is read again on next use. The provider writes
  /// the row of a table whenever it sets the identity other than by handing out the next value, and only
  /// then; rows of other tables may lag behind the values handed out, so they are kept.
  void ForgetIdentity(const std::string& sql) {
    const std::string marker = "table_name = '";
    const auto at = sql.find(marker);
    const auto end = at == std::string::npos ? at : sql.find('\'', at + marker.size());
    if (end == std::string::npos) {
      identities_.clear();
      return;
    }
    const std::string table = sql.substr(at + marker.size(), end - at - marker.size());
    for (auto it = identities_.begin(); it != identities_.end();) {
      const auto bar = it->first.find('|');
      if (EqualsIgnoringCase(std::string_view(it->first).substr(bar + 1), table)) {
        it = identities_.erase(it);
      } else {
        ++it;
      }
    }
  }
  void SetRowCount(std::int64_t rows) { rowCount_ = rows; }
  std::string TakeError() { return std::exchange(error_, std::string()); }

 private:
  struct Identity {
    std::int64_t current = 0;
    bool isNull = true;
    std::int64_t increment = 1;
  };
  sqlite3* db_;
  std::map<std::string, Identity> identities_;
  std::optional<std::int64_t> last_;
  std::int64_t rowCount_ = 0;
  std::string error_;
};

bool IsTransactionControl(const std::string& sql) {
  const std::string_view text = TrimWhitespace(sql);
  return StartsWithIgnoringCase(text, "BEGIN") || StartsWithIgnoringCase(text, "COMMIT") ||
         StartsWithIgnoringCase(text, "ROLLBACK") || StartsWithIgnoringCase(text, "SAVEPOINT") ||
         StartsWithIgnoringCase(text, "RELEASE") || StartsWithIgnoringCase(text, "END");
}

// The engine's plan of a statement, as EXPLAIN QUERY PLAN gives it.
void PrintPlan(sqlite3* db, std::size_t index, const std::string& sql) {
  std::cout << "#" << index << " " << sql.substr(0, 300) << "\n";
  StatementHandle plan = PrepareOrNull(db, "EXPLAIN QUERY PLAN " + sql);
  if (!plan) {
    std::cout << "  (no plan: " << sqlite3_errmsg(db) << ")\n";
    return;
  }
  while (sqlite3_step(plan.get()) == SQLITE_ROW) {
    std::cout << "  " << sqlite3_column_int(plan.get(), 0) << "/" << sqlite3_column_int(plan.get(), 1) << " "
              << reinterpret_cast<const char*>(sqlite3_column_text(plan.get(), 3)) << "\n";
  }
}

}  // namespace

void WriteStatements(const std::string& path, const std::vector<std::string>& statements) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& statement : statements) out << statement.size() << '\n' << statement << '\n';
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::vector<std::string> ReadStatements(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<std::string> statements;
  std::size_t size = 0;
  while (in >> size) {
    in.get();
    std::string statement(size, '\0');
    in.read(statement.data(), static_cast<std::streamsize>(size));
    in.get();
    if (!in) throw std::runtime_error("truncated statement file " + path);
    statements.push_back(std::move(statement));
  }
  return statements;
}

ReplayOutcome ReplayStatements(const std::string& file, const std::vector<std::string>& statements,
                               bool timeEachStatement, const std::vector<std::size_t>& explain) {
  using Clock = std::chrono::steady_clock;
  ReplayOutcome outcome;
  const auto began = Clock::now();
  {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    DatabaseHandle db(raw);
    if (rc != SQLITE_OK) throw std::runtime_error("cannot open " + file);
    // The embedded provider's connection settings.
    sqlite3_exec(db.get(),
                 "PRAGMA journal_mode=WAL; PRAGMA recursive_triggers=OFF; PRAGMA foreign_keys=ON; "
                 "PRAGMA temp_store=FILE; PRAGMA cache_size=-65536;",
                 nullptr, nullptr, nullptr);
    ReplayHost host(db.get());
    if (sqlite::RegisterSqlServerFunctions(db.get(), &host) != SQLITE_OK)
      throw std::runtime_error("cannot register the ledger's functions");
    if (sqlite3_exec(db.get(), "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot begin: ") + sqlite3_errmsg(db.get()));
    for (std::size_t index = 0; index < statements.size(); ++index) {
      const std::string& sql = statements[index];
      if (std::find(explain.begin(), explain.end(), index) != explain.end()) PrintPlan(db.get(), index, sql);
      const auto statementBegan = Clock::now();
      if (IsTransactionControl(sql)) {
        if (timeEachStatement) outcome.statementSeconds.push_back(0);
        continue;
      }
      ++outcome.statements;
      sqlite3_stmt* prepared = nullptr;
      int rc2 = sqlite3_prepare_v2(db.get(), sql.c_str(), static_cast<int>(sql.size()), &prepared, nullptr);
      StatementHandle statement(prepared);
      if (rc2 == SQLITE_OK && statement) {
        do rc2 = sqlite3_step(statement.get());
        while (rc2 == SQLITE_ROW);
        if (rc2 == SQLITE_DONE) rc2 = SQLITE_OK;
      }
      std::string error = host.TakeError();
      if (rc2 != SQLITE_OK) {
        ++outcome.failed;
        if (outcome.firstFailure.empty()) {
          outcome.firstFailure =
              (error.empty() ? std::string(sqlite3_errmsg(db.get())) : error) + " in: " + sql.substr(0, 300);
        }
      }
      host.SetRowCount(sqlite3_changes64(db.get()));
      const std::string_view head = TrimWhitespace(sql);
      if (sql.find("closewright_identity") != std::string::npos &&
          (StartsWithIgnoringCase(head, "UPDATE") || StartsWithIgnoringCase(head, "INSERT") ||
           StartsWithIgnoringCase(head, "DELETE")))
        host.ForgetIdentity(sql);
      if (timeEachStatement)
        outcome.statementSeconds.push_back(
            std::chrono::duration<double>(Clock::now() - statementBegan).count());
    }
    if (sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(std::string("cannot commit: ") + sqlite3_errmsg(db.get()));
  }
  outcome.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  return outcome;
}

}  // namespace closewright::bench
