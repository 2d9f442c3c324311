#include "support/TestDatabase.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

namespace closewright::testing {

ComError CaughtError(const std::function<void()>& action) {
  try {
    action();
  } catch (const ComError& error) {
    return error;
  }
  ADD_FAILURE() << "no error was raised";
  return ComError(0, "", "");
}

ComError FailureOf(DatabaseSession& session, const std::string& batch) {
  try {
    session.Execute(batch);
  } catch (const ComError& error) {
    return error;
  }
  ADD_FAILURE() << "ran without error: " << batch;
  return ComError(0, "", "");
}

std::int32_t ErrorNumberOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ComError& error) {
    return error.Number();
  }
  return 0;
}

TemporaryDatabase::TemporaryDatabase() {
  static std::atomic<int> counter{0};
  folder_ = std::filesystem::temp_directory_path() /
            ("closewright-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(folder_);
  file_ = (folder_ / "ledger.db").string();
}

TemporaryDatabase::~TemporaryDatabase() {
  std::error_code ignored;
  std::filesystem::remove_all(folder_, ignored);
}

std::string TemporaryDatabase::ConnectString() const {
  return "Provider=Closewright.SQLite;Data Source=" + file_;
}

std::string TemporaryDatabase::Description() const {
  return "ConnectString={" + ConnectString() + "};DBMS Name=SQLite;DBMS Version=3";
}

Recorder::Recorder() {
  SetSqlTraceSink([this](std::int32_t connection, std::string_view operation, std::string_view text) {
    texts.push_back(SentText{connection, std::string(operation), std::string(text)});
  });
  SetVoteSink([this](std::string_view vote) { votes.emplace_back(vote); });
}

Recorder::~Recorder() {
  SetSqlTraceSink(nullptr);
  SetVoteSink(nullptr);
}

std::vector<std::string> Recorder::ExecutedStatements() const {
  std::vector<std::string> statements;
  for (const SentText& sent : texts) {
    if (sent.operation == "Execute" && sent.text.rfind("SET TRANSACTION ISOLATION LEVEL", 0) != 0) {
      statements.push_back(sent.text);
    }
  }
  return statements;
}

}  // namespace closewright::testing
