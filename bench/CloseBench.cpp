// closewright_bench: times a whole close and a whole reopen on the embedded provider against the engine
// alone, i.e. the very statements the provider handed to SQLite replayed through the C API. Every timed run
// is a child process of its own on a fresh copy of the same ledger file, so its peak memory is its own.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/StatementReplay.h"
#include "outside/ComError.h"
#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/ledger/LedgerGenerator.h"

namespace fs = std::filesystem;

namespace closewright::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr tool::Period kClosedPeriod{2011, 3};

std::string DescriptionForFile(const std::string& file) {
  return "ConnectString={Provider=Closewright.SQLite;Data Source=" + file +
         "};DBMS Name=SQLite;DBMS Version=3";
}

double PeakRssMegabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// Rows written into a new place: into history, into the next period, back into the live tables.
std::int64_t RowsMoved(const tool::RunReport& report) {
  std::int64_t rows = 0;
  for (const tool::TableChange& change : report.tables) {
    rows += std::max<std::int64_t>(0, change.closedAfter - change.closedBefore);
    rows += std::max<std::int64_t>(0, change.nextAfter - change.nextBefore);
  }
  return rows;
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// ---- child runs: one close, reopen or replay, reported on stdout as "key=value" words
// -----------------------

int RunComponentChild(const std::string& action, const std::string& file, const std::string& recordFile) {
  std::vector<std::string> recorded;
  std::mutex mutex;
  if (!recordFile.empty()) {
    SetSqliteStatementHook([&](std::string_view sql) {
      std::lock_guard lock(mutex);
      recorded.emplace_back(sql);
    });
  }
  tool::RunOptions options;
  options.description = DescriptionForFile(file);
  options.period = kClosedPeriod;
  const auto began = Clock::now();
  const tool::RunReport report = action == "close" ? tool::RunClose(options) : tool::RunReopen(options);
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  SetSqliteStatementHook(nullptr);
  if (!recordFile.empty()) WriteStatements(recordFile, recorded);
  std::cout << "seconds=" << seconds << " rows=" << RowsMoved(report) << " peak_mb=" << PeakRssMegabytes()
            << " statements=" << recorded.size() << '\n';
  return 0;
}

int RunReplayChild(const std::string& file, const std::string& statementFile) {
  const std::vector<std::string> statements = ReadStatements(statementFile);
  const ReplayOutcome outcome = ReplayStatements(file, statements);
  if (outcome.failed > 0)
    std::cerr << "replay: " << outcome.failed << " failed; first: " << outcome.firstFailure << '\n';
  std::cout << "seconds=" << outcome.seconds << " rows=0 peak_mb=" << PeakRssMegabytes()
            << " statements=" << outcome.statements << " failed=" << outcome.failed << '\n';
  return outcome.failed > 0 ? 1 : 0;
}

// The statements that take longest, for finding what to fix.
int RunProfileChild(const std::string& file, const std::string& statementFile,
                    const std::string& explainList) {
  const std::vector<std::string> statements = ReadStatements(statementFile);
  std::vector<std::size_t> explain;
  std::istringstream list(explainList);
  std::string item;
  while (std::getline(list, item, ',')) explain.push_back(std::stoul(item));
  const ReplayOutcome outcome = ReplayStatements(file, statements, true, explain);
  std::vector<std::size_t> order(statements.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return outcome.statementSeconds[a] > outcome.statementSeconds[b];
  });
  std::cout << "total " << outcome.seconds << " s, " << outcome.statements << " statements\n";
  for (std::size_t i = 0; i < order.size() && i < 25; ++i) {
    std::cout << Format("%8.4f s  ", outcome.statementSeconds[order[i]]) << "#" << order[i] << " "
              << statements[order[i]].substr(0, 400) << "\n";
  }
  return 0;
}

// ---- the parent ------------------------------------------------------------------------------------------

struct ChildResult {
  double seconds = 0;
  std::int64_t rows = 0;
  double peakMegabytes = 0;
  std::int64_t statements = 0;
};

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

ChildResult RunChild(const std::string& self, const std::vector<std::string>& arguments) {
  std::string command = Quoted(self);
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict, GCC bug 105329) about " " + std::string.
  for (const std::string& argument : arguments) {
    command += ' ';
    command += Quoted(argument);
  }
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot start " + command);
  std::string output;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = ::pclose(pipe);
  if (status != 0) throw std::runtime_error("child failed (" + std::to_string(status) + "): " + command);
  ChildResult result;
  std::istringstream words(output);
  std::string word;
  while (words >> word) {
    const auto equals = word.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = word.substr(0, equals);
    const std::string value = word.substr(equals + 1);
    if (key == "seconds") result.seconds = std::stod(value);
    if (key == "rows") result.rows = std::stoll(value);
    if (key == "peak_mb") result.peakMegabytes = std::stod(value);
    if (key == "statements") result.statements = std::stoll(value);
  }
  return result;
}

void RemoveDatabase(const fs::path& file) {
  fs::remove(file);
  fs::remove(file.string() + "-wal");
  fs::remove(file.string() + "-shm");
  fs::remove(file.string() + "-journal");
}

// Everything committed moves into the main file, so that copying the file copies the ledger.
void Checkpoint(const fs::path& file) {
  {
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    const sqlite::DatabaseHandle db(raw);
    if (opened == SQLITE_OK)
      sqlite3_exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr);
  }
  std::error_code ec;
  if (fs::exists(file.string() + "-wal") && fs::file_size(file.string() + "-wal", ec) > 0)
    throw std::runtime_error("the ledger " + file.string() + " keeps a write-ahead log after a checkpoint");
}

// The copy is flushed to disk before the timed run, so that the kernel's writing back of the copy does not
// land inside it.
void FreshCopy(const fs::path& from, const fs::path& to) {
  RemoveDatabase(to);
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  const int descriptor = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0 || ::fsync(descriptor) != 0) {
    if (descriptor >= 0) ::close(descriptor);
    throw std::runtime_error("cannot flush the copy " + to.string());
  }
  ::close(descriptor);
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Measurement {
  std::string action;
  std::int32_t tasks = 0;
  std::int64_t ledgerRows = 0;
  std::int64_t rowsMoved = 0;
  std::int64_t statements = 0;
  double best = 0, median = 0, baselineBest = 0, baselineMedian = 0;
  double peakMegabytes = 0, baselinePeakMegabytes = 0;
  // Each run and its baseline run back to back; the median of their ratios stands up better to a machine
  // busy with other work than the ratio of the best times.
  double pairedRatio = 0;
  double Ratio() const { return baselineBest > 0 ? best / baselineBest : 0; }
  double RowsPerSecond() const { return best > 0 ? static_cast<double>(rowsMoved) / best : 0; }
};

Measurement Measure(const std::string& self, const std::string& action, const fs::path& source,
                    const fs::path& work, std::int32_t tasks, int runs) {
  Measurement m;
  m.action = action;
  m.tasks = tasks;
  const fs::path copy = work / ("run-" + action + ".db");
  const fs::path statements = work / ("statements-" + action + "-" + std::to_string(tasks) + ".txt");
  // The recording run: the statements the provider hands to SQLite, once.
  FreshCopy(source, copy);
  const ChildResult recorded =
      RunChild(self, {"--child", action, "--db", copy.string(), "--record", statements.string()});
  m.statements = recorded.statements;
  std::vector<double> component, baseline;
  for (int run = 0; run < runs; ++run) {
    FreshCopy(source, copy);
    const ChildResult r = RunChild(self, {"--child", action, "--db", copy.string()});
    component.push_back(r.seconds);
    m.rowsMoved = r.rows;
    m.peakMegabytes = std::max(m.peakMegabytes, r.peakMegabytes);
    FreshCopy(source, copy);
    const ChildResult b =
        RunChild(self, {"--child", "replay", "--db", copy.string(), "--statements", statements.string()});
    baseline.push_back(b.seconds);
    m.baselinePeakMegabytes = std::max(m.baselinePeakMegabytes, b.peakMegabytes);
    std::cerr << "  " << action << " " << tasks << " run " << run + 1 << "/" << runs << ": component "
              << r.seconds << " s, baseline " << b.seconds << " s\n";
  }
  RemoveDatabase(copy);
  m.best = *std::min_element(component.begin(), component.end());
  m.median = Median(component);
  m.baselineBest = *std::min_element(baseline.begin(), baseline.end());
  m.baselineMedian = Median(baseline);
  std::vector<double> ratios;
  for (std::size_t i = 0; i < component.size(); ++i) ratios.push_back(component[i] / baseline[i]);
  m.pairedRatio = Median(ratios);
  return m;
}

void PrintTable(const std::vector<Measurement>& measurements) {
  std::printf("%-7s %8s %10s %11s %11s %11s %11s %7s %7s %10s %8s %9s\n", "action", "tasks", "rows moved",
              "best s", "median s", "baseline s", "b. median s", "ratio", "paired", "rows/s", "us/row",
              "peak MB");
  for (const Measurement& m : measurements) {
    std::printf("%-7s %8d %10lld %11.3f %11.3f %11.3f %11.3f %7.2f %7.2f %10.0f %8.2f %9.1f\n",
                m.action.c_str(), m.tasks, static_cast<long long>(m.rowsMoved), m.best, m.median,
                m.baselineBest, m.baselineMedian, m.Ratio(), m.pairedRatio, m.RowsPerSecond(),
                m.rowsMoved > 0 ? m.best * 1e6 / static_cast<double>(m.rowsMoved) : 0.0, m.peakMegabytes);
  }
}

void WriteJson(const fs::path& path, const std::vector<Measurement>& measurements) {
  std::ofstream out(path, std::ios::trunc);
  out << "[\n";
  for (std::size_t i = 0; i < measurements.size(); ++i) {
    const Measurement& m = measurements[i];
    out << "  {\"action\": \"" << m.action << "\", \"tasks\": " << m.tasks
        << ", \"rows_moved\": " << m.rowsMoved << ", \"seconds\": " << Format("%.4f", m.best)
        << ", \"baseline_seconds\": " << Format("%.4f", m.baselineBest)
        << ", \"ratio\": " << Format("%.3f", m.Ratio())
        << ", \"rows_per_s\": " << Format("%.0f", m.RowsPerSecond())
        << ", \"peak_rss_mb\": " << Format("%.1f", m.peakMegabytes)
        << ", \"seconds_median\": " << Format("%.4f", m.median)
        << ", \"baseline_seconds_median\": " << Format("%.4f", m.baselineMedian)
        << ", \"paired_ratio\": " << Format("%.3f", m.pairedRatio)
        << ", \"baseline_peak_rss_mb\": " << Format("%.1f", m.baselinePeakMegabytes)
        << ", \"ledger_rows\": " << m.ledgerRows << ", \"statements\": " << m.statements << "}"
        << (i + 1 < measurements.size() ? "," : "") << "\n";
  }
  out << "]\n";
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

int RunParent(const std::string& self, const std::vector<std::int32_t>& sizes, int runs, const fs::path& work,
              const fs::path& json, bool keepLedgers) {
  fs::create_directories(work);
  std::vector<Measurement> measurements;
  for (const std::int32_t tasks : sizes) {
    const fs::path ledger = work / ("ledger-" + std::to_string(tasks) + ".db");
    const fs::path closed = work / ("closed-" + std::to_string(tasks) + ".db");
    const std::string connectString = ledger::EmbeddedConnectString(ledger.string());
    if (!keepLedgers || !fs::exists(ledger)) {
      std::cerr << "generating a ledger of " << tasks << " tasks\n";
      RemoveDatabase(ledger);
      ledger::CreateSchema(connectString);
      ledger::GenerateLedger(connectString, ledger::LedgerOptions{tasks, 1});
    }
    Checkpoint(ledger);
    std::int64_t ledgerRows = 0;
    std::cout << "ledger of " << tasks << " tasks:";
    for (const ledger::TableCount& count : ledger::CountLedgerRows(connectString)) {
      ledgerRows += count.rows;
      if (count.rows > 0) std::cout << ' ' << count.table << '=' << count.rows;
    }
    std::cout << " (" << ledgerRows << " rows)\n" << std::flush;
    // The reopen starts from the closed ledger.
    FreshCopy(ledger, closed);
    RunChild(self, {"--child", "close", "--db", closed.string()});
    Checkpoint(closed);
    for (const std::string action : {"close", "reopen"}) {
      // A run at 1,000 tasks takes a tenth of a second, in which a few milliseconds of anything else the
      // machine does show, and a run at 100,000 tasks varies by 10-15% with it; small ledgers get more runs.
      const int runsHere = runs > 0 ? runs : (tasks >= 10000 ? 5 : 15);
      Measurement m = Measure(self, action, action == "close" ? ledger : closed, work, tasks, runsHere);
      m.ledgerRows = ledgerRows;
      measurements.push_back(m);
    }
    PrintTable({measurements.end() - 2, measurements.end()});
    std::cout << std::flush;
  }
  std::cout << "\n";
  PrintTable(measurements);
  WriteJson(json, measurements);
  std::cout << "written " << json.string() << "\n";
  return 0;
}

int Main(int argc, char** argv) {
  const std::string self = fs::canonical("/proc/self/exe").string();
  std::vector<std::string> args(argv + 1, argv + argc);
  std::map<std::string, std::string> options;
  bool quick = false;
  bool keepLedgers = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--quick") {
      quick = true;
    } else if (args[i] == "--keep-ledgers") {
      keepLedgers = true;
    } else if (args[i].rfind("--", 0) == 0 && i + 1 < args.size()) {
      options[args[i].substr(2)] = args[i + 1];
      ++i;
    } else {
      std::cerr
          << "usage: closewright_bench [--quick] [--sizes N,N,...] [--runs N] [--work DIR] [--json FILE] "
             "[--keep-ledgers]\n";
      return 2;
    }
  }
  if (options.count("child") != 0) {
    const std::string& child = options["child"];
    if (child == "replay") return RunReplayChild(options.at("db"), options.at("statements"));
    if (child == "profile")
      return RunProfileChild(options.at("db"), options.at("statements"), options["explain"]);
    return RunComponentChild(child, options.at("db"), options["record"]);
  }
  std::vector<std::int32_t> sizes =
      quick ? std::vector<std::int32_t>{1000, 10000} : std::vector<std::int32_t>{1000, 10000, 100000};
  if (options.count("sizes") != 0) {
    sizes.clear();
    std::istringstream list(options["sizes"]);
    std::string item;
    while (std::getline(list, item, ',')) sizes.push_back(static_cast<std::int32_t>(std::stol(item)));
  }
  // 15 runs each below 10,000 tasks, 5 from there on.
  const int runs = options.count("runs") != 0 ? std::stoi(options["runs"]) : 0;
  const fs::path work = options.count("work") != 0 ? fs::path(options["work"]) : fs::path("bench-work");
  const fs::path json = options.count("json") != 0 ? fs::path(options["json"]) : fs::path("results.json");
  return RunParent(self, sizes, runs, work, json, keepLedgers);
}

}  // namespace
}  // namespace closewright::bench

int main(int argc, char** argv) {
  try {
    return closewright::bench::Main(argc, argv);
  } catch (const closewright::ComError& error) {
    std::cerr << error.ToLine() << '\n';
  } catch (const std::exception& error) {
    std::cerr << "error: " << error.what() << '\n';
  }
  return 1;
}
