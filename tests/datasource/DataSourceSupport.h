#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
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

namespace closewright::testing {

/// An embedded database in a file of its own, removed with its journal files at the end of the test.
class TempDatabase {
 public:
  TempDatabase() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("closewright-datasource-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + ".db");
    Remove();
  }
  ~TempDatabase() { Remove(); }
  TempDatabase(const TempDatabase&) = delete;
  TempDatabase& operator=(const TempDatabase&) = delete;

  std::string ConnectString() const { return "Provider=Closewright.SQLite;Data Source=" + path_.string(); }

  /// Runs one batch on a connection of its own.
  void Execute(std::string_view batch) const {
    Connection connection;
    connection.Open(ConnectString());
    connection.Execute(batch);
    connection.Close();
  }

 private:
  void Remove() const {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(path_.string() + suffix, ignored);
    }
  }
  std::filesystem::path path_;
};

/// A DBMS name no other test uses: the caches are process-wide and keyed by name and version.
inline std::string UniqueDbmsName(std::string_view tag) {
  static std::atomic<int> counter{0};
  return "Cache" + std::string(tag) + std::to_string(++counter);
}

inline std::string Description(const TempDatabase& database, const std::string& dbmsName,
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

}  // namespace closewright::testing
