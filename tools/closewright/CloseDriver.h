#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace closewright {
class Connection;
}

namespace closewright::tool {

struct Period {
  std::int32_t year = 0;
  std::int32_t period = 0;
  friend bool operator==(const Period&, const Period&) = default;
};

/// Calendar-month periods: period 12 is followed by period 1 of the next year.
Period FollowingPeriod(Period period);
Period PrecedingPeriod(Period period);
std::string ToText(Period period);

/// The module's current period, as t_SystemProfile holds it (FCategory 'OPCost', FKey 'CurrentYear' and
/// 'CurrentPeriod'); Refused when the ledger has none, ComError when the query fails.
Period ModuleCurrentPeriod(Connection& cn);

/// Rows of one table in the closed and the next period, before and after the run.
struct TableChange {
  std::string table;
  std::int64_t closedBefore = 0, closedAfter = 0, nextBefore = 0, nextAfter = 0;
};

/// Control totals of the balances: what the closed period ends with, what the next begins with, and the part
/// of the difference that belongs to tasks finished in the closed period (not carried forward).
struct ControlTotals {
  double endingQuantity = 0, endingAmount = 0;
  double beginningQuantity = 0, beginningAmount = 0;
  double finishedQuantity = 0, finishedAmount = 0;
};

struct StepTiming {
  std::string step;
  double seconds = 0;
};

struct RunReport {
  std::string action;  // "close" or "reopen"
  Period period, next;
  bool preview = false;
  std::vector<StepTiming> steps;
  std::vector<TableChange> tables;
  std::optional<ControlTotals> totals;
  std::vector<TableChange> discarded;  // reopen: rows of later periods that go
  double seconds = 0;
};

struct RunOptions {
  std::string description;
  Period period;
  std::optional<Period> next;
  bool force = false;
  bool preview = false;
  /// Called after each step finishes: index (1-based), count, name, seconds.
  std::function<void(int, int, const std::string&, double)> progress;
  /// Called before a reopen changes anything, with the rows it will discard.
  std::function<void(const std::vector<TableChange>&)> beforeDiscard;
};

/// A run refused by a check (wrong period, ledger busy): nothing was changed.
class Refused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Closes `period` and opens the next one in one transaction; `preview` rolls it back.
RunReport RunClose(const RunOptions& options);
/// Undoes the close of `period` in one transaction; `preview` rolls it back.
RunReport RunReopen(const RunOptions& options);

/// Per-table checksums of the rows that a close archives and a reopen restores (live and history), and of
/// t_SystemProfile; FIDs of renumbered tables left out.
std::vector<std::pair<std::string, std::string>> LedgerChecksums(const std::string& description);

/// One run recorded in t_CloseLog.
struct CloseLogRow {
  std::int64_t id = 0;
  std::string action;  // "close" or "reopen"
  Period period, next;
  std::string user, start, end;
  std::string outcome;  // "done" or "failed in <step>"
  double seconds = 0;
  std::string error;  // the failure's error line; empty when done
};

/// The close log, newest first, at most `limit` runs.
std::vector<CloseLogRow> CloseLogRows(const std::string& description, int limit);

/// A duration as a person reads it: three digits, in milliseconds below a second ("85.3 ms") and in seconds
/// from there ("1.23 s", "12.3 s", "123 s").
std::string DurationText(double seconds);

std::string ReportAsJson(const RunReport& report);
std::string ReportAsTable(const RunReport& report);

}  // namespace closewright::tool
