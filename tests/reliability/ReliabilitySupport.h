#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace closewright::testing {

/// How a run of the command-line tool ended: its exit code, or the signal that ended it.
struct ToolRun {
  int exitCode = -1;
  int signal = 0;
  std::string output;  // stdout and stderr together
  bool Crashed() const { return signal != 0 || exitCode > 3; }
};

/// Runs the tool with these arguments (no shell in between, so any byte but NUL reaches it as given).
ToolRun RunTool(const std::vector<std::string>& arguments);
/// Starts the tool in the background with its output discarded.
pid_t StartTool(const std::vector<std::string>& arguments);
/// Waits for a started tool: exit code, or minus the signal that ended it.
int WaitTool(pid_t pid);

/// The provider's identity counters and the close log: they advance even when a run rolls back.
std::set<std::string> DefaultLeftOut();

/// What a close and reopen change by design, left aside when ledgers are compared: the row numbers that
/// archiving renumbers, and the ids, bill numbers and counter of the standard-data bills each close copies.
std::set<std::string> AdvancingByDesign();

/// Every row of every table of an embedded ledger as sorted text lines, table by table, read with SQLite's
/// own C API in one read transaction. `leftOut` names tables ("t_CloseLog") and columns ("FID",
/// "OPCostStandardSet.FBillNo") whose contents advance by design and are not compared.
std::map<std::string, std::string> LedgerDump(const std::string& file,
                                              const std::set<std::string>& leftOut = DefaultLeftOut());

/// The tables whose dumps differ, each with its first differing line on both sides.
std::string DescribeDifferences(const std::map<std::string, std::string>& expected,
                                const std::map<std::string, std::string>& actual);

/// The result of one SQL statement's first row, fields joined by "|", read with SQLite's C API.
std::string QueryRow(const std::string& file, const std::string& sql);

/// A connection description whose connect string names this embedded ledger file.
std::string DescriptionFor(const std::string& file);

/// A sample ledger of `tasks` production tasks (current period 2011/3) written to `file`.
void GenerateLedgerFile(const std::string& file, std::int32_t tasks, std::uint64_t seed = 7);

/// A positive number from the environment, or `fallback` when unset or not a positive number.
int EnvironmentCount(const char* name, int fallback);

/// The process's resident set size in KiB.
std::int64_t ResidentKilobytes();

}  // namespace closewright::testing
