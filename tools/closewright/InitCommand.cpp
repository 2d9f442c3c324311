#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>

#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/closewright/Commands.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright::tool {
namespace {

namespace fs = std::filesystem;

struct InitOptions : LedgerTarget {
  ledger::LedgerOptions ledger;
  bool force = false;
};

// The files SQLite keeps beside a database.
void RemoveDatabaseFiles(const fs::path& file) {
  std::error_code ignored;
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    fs::remove(fs::path(file.string() + suffix), ignored);
}

void RunInit(const InitOptions& options) {
  const std::string database = options.EmbeddedFile("init");
  const fs::path target(database);
  std::error_code error;
  if (fs::is_directory(target, error)) throw Refused(database + " is a directory");
  if (fs::exists(target, error) && fs::file_size(target, error) > 0 && !options.force) {
    throw Refused(database + " already exists and is not empty; pass --force to replace it");
  }

  // The ledger is built beside the target and moved over it only once complete, so that a failure leaves
  // an existing file as it was and no half-made ledger behind.
  const fs::path partial(target.string() + ".partial");
  RemoveDatabaseFiles(partial);
  const auto started = std::chrono::steady_clock::now();
  ledger::LedgerSummary summary;
  try {
    const std::string connectString = ledger::EmbeddedConnectString(partial.string());
    Transaction transaction;
    ledger::CreateSchema(connectString);
    if (options.ledger.tasks > 0) summary = ledger::GenerateLedger(connectString, options.ledger);
    transaction.Commit();
  } catch (...) {
    RemoveDatabaseFiles(partial);
    throw;
  }
  // Every handle on the new file is closed by now, so its write-ahead log has been folded into it; a log
  // left beside it would be lost by the move.
  if (fs::exists(fs::path(partial.string() + "-wal"), error)) {
    RemoveDatabaseFiles(partial);
    throw std::runtime_error("the new ledger " + partial.string() + " is still in use; nothing was changed");
  }
  // The move replaces the old file in one step; logs the old file left beside it would otherwise be read
  // as the new one's.
  fs::rename(partial, target, error);
  if (error) {
    RemoveDatabaseFiles(partial);
    throw std::runtime_error("cannot move the new ledger to " + database + ": " + error.message());
  }
  for (const char* suffix : {"-wal", "-shm", "-journal"})
    fs::remove(fs::path(target.string() + suffix), error);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const auto tables = ledger::SchemaTableNames();
  if (options.ledger.tasks == 0) {
    std::printf("Created %s: %zu tables of the reference schema, no ledger rows (%s)\n", database.c_str(),
                tables.size(), DurationText(seconds).c_str());
    return;
  }
  std::printf(
      "Created %s: %zu tables, %d production tasks (seed %llu), current period %d.%02d, %lld rows (%s)\n",
      database.c_str(), tables.size(), options.ledger.tasks,
      static_cast<unsigned long long>(options.ledger.seed), options.ledger.year, options.ledger.period,
      static_cast<long long>(summary.TotalRows()), DurationText(seconds).c_str());
  for (const ledger::TableCount& table : summary.tables) {
    std::printf("  %-38s %10lld\n", table.table.c_str(), static_cast<long long>(table.rows));
  }
}

}  // namespace

void AddInitCommand(CLI::App& app, GlobalOptions& /*options*/) {
  auto init = std::make_shared<InitOptions>();
  CLI::App* command = app.add_subcommand(
      "init", "Create a ledger database: the reference schema and a generated sample ledger");
  AddLedgerTarget(command, *init, "Database file to create (embedded provider)");
  command->add_option("--tasks", init->ledger.tasks, "Number of production tasks; 0 creates the schema only")
      ->check(CLI::Range(0, 10'000'000))
      ->capture_default_str();
  command->add_option("--seed", init->ledger.seed, "Seed of the generated data")->capture_default_str();
  command->add_option("--year", init->ledger.year, "Year of the current (open) period")
      ->check(CLI::Range(1901, 9998))
      ->capture_default_str();
  command->add_option("--period", init->ledger.period, "Current (open) period, a calendar month")
      ->check(CLI::Range(1, 12))
      ->capture_default_str();
  command->add_flag("--force", init->force, "Replace an existing non-empty database file");
  command->callback([init] { RunInit(*init); });
}

}  // namespace closewright::tool
