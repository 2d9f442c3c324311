#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>

#include "outside/ComError.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/closewright/Commands.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright::tool {
namespace {

struct PeriodOptions : LedgerTarget {
  std::int32_t year = 0;
  std::int32_t period = 0;
  std::int32_t nextYear = 0;
  std::int32_t nextPeriod = 0;
  bool force = false;
  bool preview = false;
  bool json = false;
};

// One line per finished step; on a terminal the line is rewritten in place.
void PrintProgress(int index, int count, const std::string& step, double seconds) {
  static const bool terminal = ::isatty(STDERR_FILENO) != 0;
  char line[128];
  std::snprintf(line, sizeof line, "[%d/%d] %-22s %6.2f s", index, count, step.c_str(), seconds);
  if (terminal) {
    std::cerr << '\r' << line << "\x1b[K" << (index == count ? "\n" : "") << std::flush;
  } else {
    std::cerr << line << '\n';
  }
}

void PrintDiscarded(const std::vector<TableChange>& discarded) {
  std::cerr << "reopening discards:\n";
  for (const TableChange& change : discarded) {
    std::cerr << "  " << change.table << ": " << (change.closedBefore + change.nextBefore) << " rows\n";
  }
}

void PrintReport(const RunReport& report, bool json) {
  if (json) {
    std::cout << ReportAsJson(report) << '\n';
    return;
  }
  std::cout << ReportAsTable(report);
  std::cout << report.action << " of " << ToText(report.period)
            << (report.preview ? " previewed and rolled back" : " done") << " in " << report.seconds
            << " s\n";
}

RunOptions MakeRunOptions(const PeriodOptions& options, const std::string& command) {
  RunOptions run;
  run.description = options.Description(command);
  run.period = Period{options.year, options.period};
  if (options.nextYear != 0 || options.nextPeriod != 0)
    run.next = Period{options.nextYear, options.nextPeriod};
  run.force = options.force;
  run.preview = options.preview;
  run.progress = PrintProgress;
  run.beforeDiscard = PrintDiscarded;
  return run;
}

void AddCloseCommand(CLI::App& app) {
  auto options = std::make_shared<PeriodOptions>();
  CLI::App* command = app.add_subcommand(
      "close",
      "Close a period in one transaction: SetEndBal, SetBegBal, SetStandardData, SetCostDeputyData, "
      "EndHistoryData, EndOpCostHistoryData, AlterIdentitySeed, SetCurrentPeriod. Only the module's current "
      "period can be closed, into the period that follows it (unless --force). Exit codes: 0 done, 1 error, "
      "2 usage, 3 refused.");
  AddLedgerTarget(command, *options);
  command->add_option("--year", options->year, "Year of the period to close")->required()->check(kYears);
  command->add_option("--period", options->period, "The period to close")->required()->check(kPeriods);
  command
      ->add_option("--next-year", options->nextYear,
                   "Year of the next period (default: the following month's)")
      ->check(kYears);
  command->add_option("--next-period", options->nextPeriod, "The next period (default: the following month)")
      ->check(kPeriods);
  command->add_flag("--force", options->force, "Skip the period-order checks");
  command->add_flag("--preview", options->preview, "Run everything, print what would change, and roll back");
  command->add_flag("--json", options->json, "Print the summary as one JSON document");
  command->callback([options] {
    if ((options->nextYear != 0) != (options->nextPeriod != 0)) {
      throw CLI::ValidationError("close", "--next-year and --next-period go together");
    }
    PrintReport(RunClose(MakeRunOptions(*options, "close")), options->json);
  });
}

void AddReopenCommand(CLI::App& app) {
  auto options = std::make_shared<PeriodOptions>();
  CLI::App* command = app.add_subcommand(
      "reopen",
      "Undo the close of a period in one transaction: EndOpCostHistoryData and EndHistoryData restore, "
      "AlterIdentitySeed, SetCurrentPeriod back. Only the period just before the current one can be reopened "
      "(unless --force). Prints what will be discarded before changing anything.");
  AddLedgerTarget(command, *options);
  command->add_option("--year", options->year, "Year of the period to reopen")->required()->check(kYears);
  command->add_option("--period", options->period, "The period to reopen")->required()->check(kPeriods);
  command->add_flag("--force", options->force, "Skip the period-order check");
  command->add_flag("--preview", options->preview, "Run everything, print what would change, and roll back");
  command->add_flag("--json", options->json, "Print the summary as one JSON document");
  command->callback([options] { PrintReport(RunReopen(MakeRunOptions(*options, "reopen")), options->json); });
}

void AddLogCommand(CLI::App& app) {
  auto options = std::make_shared<PeriodOptions>();
  auto limit = std::make_shared<int>(20);
  CLI::App* command = app.add_subcommand("log", "List the close log, newest first.");
  AddLedgerTarget(command, *options);
  command->add_option("--limit", *limit, "How many entries (default 20)");
  command->callback([options, limit] {
    for (const std::string& line : CloseLogLines(options->Description("log"), *limit))
      std::cout << line << '\n';
  });
}

void AddDemoCommand(CLI::App& app) {
  struct DemoOptions {
    std::string databaseFile = "closewright-demo.db";
    std::int32_t tasks = 1000;
    std::uint64_t seed = 1;
  };
  auto options = std::make_shared<DemoOptions>();
  CLI::App* command = app.add_subcommand(
      "demo",
      "Generate a sample ledger, close its current period with progress and summary, reopen it, and show "
      "that "
      "the reopened ledger equals the one before the close. The ledger file is created afresh.");
  command->add_option("--db", options->databaseFile, "Ledger file to create (replaced if it exists)");
  command->add_option("--tasks", options->tasks, "Production tasks to generate (default 1000)");
  command->add_option("--seed", options->seed, "Generator seed (default 1)");
  command->callback([options] {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(options->databaseFile + suffix);
    }
    const std::string connectString = ledger::EmbeddedConnectString(options->databaseFile);
    ledger::CreateSchema(connectString);
    ledger::LedgerOptions ledgerOptions;
    ledgerOptions.tasks = options->tasks;
    ledgerOptions.seed = options->seed;
    const ledger::LedgerSummary summary = ledger::GenerateLedger(connectString, ledgerOptions);
    std::cout << "generated " << options->databaseFile << ": " << options->tasks << " tasks, "
              << summary.TotalRows() << " rows\n";
    const std::string description = DescriptionForDatabaseFile(options->databaseFile);
    const auto before = LedgerChecksums(description);

    RunOptions run;
    run.description = description;
    run.period = Period{ledgerOptions.year, ledgerOptions.period};
    run.progress = PrintProgress;
    run.beforeDiscard = PrintDiscarded;
    std::cout << "\nclosing " << ToText(run.period) << '\n';
    PrintReport(RunClose(run), false);
    std::cout << "\nreopening " << ToText(run.period) << '\n';
    PrintReport(RunReopen(run), false);

    const auto after = LedgerChecksums(description);
    bool same = before.size() == after.size();
    std::cout << "\n"
              << "table checksums before the close and after the reopen:\n";
    for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
      const bool equal = before[i] == after[i];
      same = same && equal;
      std::printf("  %-36s %-28s %s\n", before[i].first.c_str(), before[i].second.c_str(),
                  equal ? "same" : ("DIFFERENT: " + after[i].second).c_str());
    }
    std::cout << std::flush;
    if (!same)
      throw ComError(1, "closewright demo", "the reopened ledger differs from the ledger before the close");
    std::cout << "the reopened ledger equals the ledger before the close\n";
  });
}

}  // namespace

void AddCloseCommands(CLI::App& app, GlobalOptions& /*options*/) {
  AddCloseCommand(app);
  AddReopenCommand(app);
  AddLogCommand(app);
  AddDemoCommand(app);
}

}  // namespace closewright::tool
