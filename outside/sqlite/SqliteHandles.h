#pragma once

#include <sqlite3.h>

#include <memory>

namespace closewright::sqlite {

// sqlite3_close_v2 and not sqlite3_close: a connection closed while a statement is still alive is closed
// when that statement is finalized instead of staying open for good.
struct DatabaseCloser {
  void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* statement) const noexcept { sqlite3_finalize(statement); }
};

/// The one owner of an open SQLite connection.
using DatabaseHandle = std::unique_ptr<sqlite3, DatabaseCloser>;
/// The one owner of a prepared SQLite statement.
using StatementHandle = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

}  // namespace closewright::sqlite
