#pragma once

#include <CLI/CLI.hpp>

namespace closewright::tool {

/// Options every subcommand shares.
struct GlobalOptions {
  std::string traceSqlFile;
};

// Each subcommand lives in its own file and adds itself to the application.
void AddCallCommand(CLI::App& app, GlobalOptions& options);
void AddQueryCommand(CLI::App& app, GlobalOptions& options);
void AddInitCommand(CLI::App& app, GlobalOptions& options);
void AddCloseCommands(CLI::App& app, GlobalOptions& options);

/// The connection description for `--db FILE` (the embedded provider) or `--dsn DESCRIPTION`.
std::string DescriptionForDatabaseFile(const std::string& file);

}  // namespace closewright::tool
