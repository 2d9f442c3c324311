#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "datasource/cDataSource.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "parse/CParse.h"
#include "support/TestDatabase.h"

namespace closewright::testing::datasource {

/// Runs one batch on a connection of its own.
inline void Execute(const TemporaryDatabase& database, std::string_view batch) {
  Connection connection;
  connection.Open(database.ConnectString());
  connection.Execute(batch);
  connection.Close();
}

/// A DBMS name no other test uses: the caches are process-wide and keyed by name and version.
inline std::string UniqueDbmsName(std::string_view tag) {
  static std::atomic<int> counter{0};
  return "Cache" + std::string(tag) + std::to_string(++counter);
}

inline std::string Description(const TemporaryDatabase& database, const std::string& dbmsName,
                               const std::string& dbmsVersion = "1") {
  return "ConnectString={" + database.ConnectString() + "};DBMS Name=" + dbmsName +
         ";DBMS Version=" + dbmsVersion;
}

inline std::unique_ptr<cDataSource> MakeDataSource(const std::string& description) {
  auto parser = std::make_shared<CParse>();
  parser->ParseString(description);
  auto dataSource = std::make_unique<cDataSource>();
  dataSource->SetParseObject(parser);
  return dataSource;
}

/// Collects every text sent to a database while alive.
class SqlTraceRecorder {
 public:
  struct Entry {
    std::string operation;
    std::string text;
  };
  SqlTraceRecorder() {
    SetSqlTraceSink([this](std::int32_t, std::string_view operation, std::string_view text) {
      std::lock_guard lock(mutex_);
      entries_.push_back({std::string(operation), std::string(text)});
    });
  }
  ~SqlTraceRecorder() { SetSqlTraceSink(nullptr); }
  SqlTraceRecorder(const SqlTraceRecorder&) = delete;
  SqlTraceRecorder& operator=(const SqlTraceRecorder&) = delete;

  int CountOf(std::string_view text) const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const Entry& entry : entries_) count += entry.text == text ? 1 : 0;
    return count;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

/// Collects the errors swallowed while alive.
class SwallowedErrorRecorder {
 public:
  struct Entry {
    std::int32_t number;
    std::string description;
    std::string where;
  };
  SwallowedErrorRecorder() {
    SetDiagnosticsSink([this](const ComError& error, std::string_view where) {
      std::lock_guard lock(mutex_);
      entries_.push_back({error.Number(), error.Description(), std::string(where)});
    });
  }
  ~SwallowedErrorRecorder() { SetDiagnosticsSink(nullptr); }
  SwallowedErrorRecorder(const SwallowedErrorRecorder&) = delete;
  SwallowedErrorRecorder& operator=(const SwallowedErrorRecorder&) = delete;

  std::vector<Entry> Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace closewright::testing::datasource
