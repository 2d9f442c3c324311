#pragma once

#include <memory>
#include <string>

#include "outside/Ado.h"

namespace closewright {

class CParse;

/// Opens the connections of a call from the parsed description, prepared one fixed way (client cursors,
/// no command time-out, a fixed isolation level), and answers questions about the database system.
class cDataSource {
 public:
  void SetParseObject(std::shared_ptr<CParse> parser) { parseObject_ = std::move(parser); }
  const std::shared_ptr<CParse>& ParseObject() const noexcept { return parseObject_; }

  /// A new open connection, isolation read committed. Each call opens another; the caller owns it.
  std::unique_ptr<Connection> GetConnection() const;
  /// A new open connection, isolation read uncommitted.
  std::unique_ptr<Connection> UnCommittedConnection() const;

  std::string ConnectString() const;
  /// The description's DBMS name (not the cache's).
  std::string DBMSName() const;
  /// True exactly when DBMSName is "Oracle" (case-sensitive).
  bool IsOracle() const { return DBMSName() == "Oracle"; }

 private:
  std::unique_ptr<Connection> OpenWithIsolation(const char* isolationStatement) const;
  const CParse& Parser() const;

  std::shared_ptr<CParse> parseObject_;
};

}  // namespace closewright
