#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace closewright::bench {

/// Statements as the embedded provider handed them to SQLite, one after another.
void WriteStatements(const std::string& path, const std::vector<std::string>& statements);
std::vector<std::string> ReadStatements(const std::string& path);

struct ReplayOutcome {
  double seconds = 0;
  std::int64_t statements = 0;
  std::int64_t failed = 0;
  std::string firstFailure;
  /// Seconds of each statement, in order, when asked for.
  std::vector<double> statementSeconds;
};

/// Runs `statements` on the ledger `file` through the SQLite C API alone, in one transaction: the same
/// connection settings and the same collations and functions as the embedded provider, no translation, no
/// bookkeeping. Transaction control among the statements is left out. Timed from opening to closing.
ReplayOutcome ReplayStatements(const std::string& file, const std::vector<std::string>& statements,
                               bool timeEachStatement = false, const std::vector<std::size_t>& explain = {});

}  // namespace closewright::bench
