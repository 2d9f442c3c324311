#pragma once

#include <CLI/CLI.hpp>

namespace closewright::tool {

/// Options every subcommand shares.
struct GlobalOptions {
  std::string traceSqlFile;
  /// The process's exit code when a command ends without an error (`check` sets 1 when a check failed).
  int exitCode = 0;
};

// Each subcommand lives in its own file and adds itself to the application.
void AddCallCommand(CLI::App& app, GlobalOptions& options);
void AddQueryCommand(CLI::App& app, GlobalOptions& options);
void AddInitCommand(CLI::App& app, GlobalOptions& options);
void AddCloseCommands(CLI::App& app, GlobalOptions& options);
void AddCheckCommand(CLI::App& app, GlobalOptions& options);

/// The connection description for `--db FILE` (the embedded provider) or `--dsn DESCRIPTION`.
std::string DescriptionForDatabaseFile(const std::string& file);

/// The ledger a command works on: `--dsn DESCRIPTION` or `--db FILE`, one of them.
struct LedgerTarget {
  std::string description;
  std::string databaseFile;
  /// The description to connect with; a usage error naming `command` when neither option was given. An
  /// embedded ledger file that does not exist is refused (opening it would create an empty one) unless the
  /// command may create it.
  std::string Description(const std::string& command, bool mayCreate = false) const;
  /// The embedded ledger file a creating command (init, demo) makes: `--db FILE`, or the Data Source of a
  /// `--dsn` that names the embedded provider; a usage error for any other description.
  std::string EmbeddedFile(const std::string& command) const;
};
void AddLedgerTarget(CLI::App* command, LedgerTarget& target,
                     const std::string& fileHelp = "Embedded ledger file (instead of --dsn)");

// Calendar-month periods of four-digit years: the period arithmetic (period 12 + 1, year + 1) stays within
// range and every key the close writes is one the calendar knows.
inline const CLI::Range kYears(1, 9999);
inline const CLI::Range kPeriods(1, 12);

}  // namespace closewright::tool
