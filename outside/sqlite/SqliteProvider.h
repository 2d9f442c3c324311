#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "outside/Database.h"

namespace closewright {

/// Opens the embedded provider on the file named by the connect string's "Data Source" (created when
/// missing; ":memory:" for a private in-memory database).
std::unique_ptr<DatabaseSession> OpenSqliteSession(
    const std::vector<std::pair<std::string, std::string>>& connectStringPairs);

}  // namespace closewright
