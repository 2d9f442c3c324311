#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "outside/ComError.h"
#include "outside/Text.h"
#include "outside/Variant.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/closewright/Commands.h"
#include "tools/closewright/TraceWriter.h"
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
  std::snprintf(line, sizeof line, "[%d/%d] %-22s %9s", index, count, step.c_str(),
                DurationText(seconds).c_str());
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
            << (report.preview ? " previewed and rolled back" : " done") << " in "
            << DurationText(report.seconds) << '\n';
}

// Columns as wide as their widest cell, so that the log reads down as well as across; the error, often
// long, comes last and unpadded.
std::string LogAsTable(const std::vector<CloseLogRow>& rows) {
  std::vector<std::vector<std::string>> cells{
      {"id", "action", "period", "next", "user", "start", "end", "outcome", "duration", "error"}};
  for (const CloseLogRow& row : rows) {
    cells.push_back({std::to_string(row.id), row.action, ToText(row.period), ToText(row.next), row.user,
                     row.start, row.end, row.outcome, DurationText(row.seconds), row.error});
  }
  // Widths in characters, not bytes: a user name may be written in any script.
  std::vector<std::size_t> widths(cells.front().size(), 0);
  for (const auto& line : cells)
    for (std::size_t i = 0; i < line.size(); ++i)
      widths[i] = std::max(widths[i], Utf8CharacterCount(line[i]));
  // Numbers line up on the right, like the figures of the close's summary.
  const auto rightAligned = [](std::size_t column) { return column == 0 || column == 8; };
  std::ostringstream text;
  for (const auto& line : cells) {
    std::string out;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const std::string padding(widths[i] - Utf8CharacterCount(line[i]), ' ');
      if (i + 1 == line.size()) {
        out += line[i];
      } else {
        out += rightAligned(i) ? padding + line[i] : line[i] + padding;
        out += "  ";
      }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    text << out << '\n';
  }
  return text.str();
}

std::string LogAsJson(const std::vector<CloseLogRow>& rows) {
  const auto period = [](Period p) {
    return "{\"year\":" + std::to_string(p.year) + ",\"period\":" + std::to_string(p.period) + "}";
  };
  const auto text = [](const std::string& value) { return "\"" + JsonEscape(value) + "\""; };
  std::ostringstream json;
  json << '[';
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const CloseLogRow& row = rows[i];
    json << (i ? "," : "") << "{\"id\":" << row.id << ",\"action\":" << text(row.action)
         << ",\"period\":" << period(row.period) << ",\"next\":" << period(row.next)
         << ",\"user\":" << text(row.user) << ",\"start\":" << text(row.start) << ",\"end\":" << text(row.end)
         << ",\"outcome\":" << text(row.outcome) << ",\"seconds\":" << FormatDouble(row.seconds)
         << ",\"error\":" << text(row.error) << '}';
  }
  json << ']';
  return json.str();
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
  CLI::App* command = app.add_subcommand(
      "log", "List the close log, newest first: one line per close or reopen, failed ones too.");
  AddLedgerTarget(command, *options);
  command->add_option("--limit", *limit, "How many entries (default 20)")->check(CLI::Range(0, 1000000));
  command->add_flag("--json", options->json, "Print the entries as one JSON array");
  command->callback([options, limit] {
    const std::vector<CloseLogRow> rows = CloseLogRows(options->Description("log"), *limit);
    std::cout << (options->json ? LogAsJson(rows) + "\n" : LogAsTable(rows));
  });
}

void AddDemoCommand(CLI::App& app) {
  struct DemoOptions : LedgerTarget {
    std::int32_t tasks = 1000;
    std::uint64_t seed = 1;
  };
  auto options = std::make_shared<DemoOptions>();
  options->databaseFile = "closewright-demo.db";
  CLI::App* command = app.add_subcommand(
      "demo",
      "Generate a sample ledger, close its current period with progress and summary, reopen it, and show "
      "that "
      "the reopened ledger equals the one before the close. The ledger file is created afresh.");
  AddLedgerTarget(command, *options,
                  "Ledger file to create (replaced if it exists; default closewright-demo.db)");
  command->add_option("--tasks", options->tasks, "Production tasks to generate (default 1000)");
  command->add_option("--seed", options->seed, "Generator seed (default 1)");
  command->callback([options] {
    const std::string file = options->EmbeddedFile("demo");
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      std::filesystem::remove(file + suffix);
    }
    const std::string connectString = ledger::EmbeddedConnectString(file);
    ledger::CreateSchema(connectString);
    ledger::LedgerOptions ledgerOptions;
    ledgerOptions.tasks = options->tasks;
    ledgerOptions.seed = options->seed;
    const ledger::LedgerSummary summary = ledger::GenerateLedger(connectString, ledgerOptions);
    std::cout << "generated " << file << ": " << options->tasks << " tasks, " << summary.TotalRows()
              << " rows\n";
    const std::string description = DescriptionForDatabaseFile(file);
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
