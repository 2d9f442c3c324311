#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/closewright/CloseDriver.h"

namespace closewright::tool {

/// One check of a preflight: what was checked, what was found and, on failure, what to do about it.
struct CheckResult {
  std::string name;
  bool passed = false;
  /// False when an earlier failure left nothing to run the check on (no connection, a transaction the
  /// server ended); `detail` says why.
  bool ran = true;
  std::string detail;
  std::string advice;
};

struct PreflightOptions {
  std::string description;
  /// A period whose close or reopen to check as well.
  std::optional<Period> period;
};

/// Checks, in order, that the ledger the description names is ready for a close: the connection and driver,
/// the server's version, the database's collation, the reference schema's tables, columns and identities, the
/// permissions the close needs, the close lock, the module's current period and, with a period, whether it
/// can be closed or reopened. Everything runs in one transaction that is always rolled back.
std::vector<CheckResult> RunPreflight(const PreflightOptions& options);

}  // namespace closewright::tool
