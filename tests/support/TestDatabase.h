#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Diagnostics.h"

namespace closewright::testing {

/// The error an action raised; a test failure (and an empty error) when it raised none.
ComError CaughtError(const std::function<void()>& action);
/// The error a batch raised; a test failure (and an empty error) when it ran without one.
ComError FailureOf(DatabaseSession& session, const std::string& batch);
/// The Number of the error an action raised; 0 when it raised none.
std::int32_t ErrorNumberOf(const std::function<void()>& action);

/// A fresh embedded ledger file in a private temporary folder, removed with the object.
class TemporaryDatabase {
 public:
  TemporaryDatabase();
  ~TemporaryDatabase();
  TemporaryDatabase(const TemporaryDatabase&) = delete;
  TemporaryDatabase& operator=(const TemporaryDatabase&) = delete;

  const std::string& File() const { return file_; }
  /// `Provider=Closewright.SQLite;Data Source=<file>`.
  std::string ConnectString() const;
  /// A connection description naming this database.
  std::string Description() const;

 private:
  std::filesystem::path folder_;
  std::string file_;
};

struct SentText {
  std::int32_t connection;
  std::string operation;
  std::string text;
};

/// Records every text sent to a database and every vote cast while it lives.
class Recorder {
 public:
  Recorder();
  ~Recorder();
  std::vector<SentText> texts;
  std::vector<std::string> votes;
  /// The texts sent by Execute, leaving out the isolation statement each connection opens with.
  std::vector<std::string> ExecutedStatements() const;
};

}  // namespace closewright::testing
