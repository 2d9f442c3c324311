#include "reliability/ReliabilitySupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright::testing {
namespace {

using sqlite::DatabaseHandle;
using sqlite::StatementHandle;

DatabaseHandle OpenReadOnly(const std::string& file) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  DatabaseHandle db(raw);
  // The ledger's text columns compare with the provider's own collation.
  RegisterSqliteDialect(db.get());
  // Opening may have to roll a killed writer's journal back first; give that a moment.
  sqlite3_busy_timeout(db.get(), 5000);
  return db;
}

StatementHandle Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("cannot prepare ") + sql + ": " + sqlite3_errmsg(db));
  }
  return StatementHandle(raw);
}

std::string Text(sqlite3_stmt* statement, int column) {
  const unsigned char* value = sqlite3_column_text(statement, column);
  if (value == nullptr) return "NULL";
  return std::string(reinterpret_cast<const char*>(value),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

std::vector<char*> ArgumentVector(std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return argv;
}

}  // namespace

std::set<std::string> DefaultLeftOut() {
  return {"closewright_identity", "t_CloseLog"};
}

std::set<std::string> AdvancingByDesign() {
  std::set<std::string> leftOut = DefaultLeftOut();
  leftOut.insert({"FID", "t_BillNoCounter", "OPCostStandardData.FBillNo", "OPCostStandardDataEntry.FDetailID",
                  "ICMaxNum.FMaxNum"});
  return leftOut;
}

ToolRun RunTool(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{CLOSEWRIGHT_TOOL};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = ArgumentVector(all);
  int pipeEnds[2];
  ToolRun run;
  if (::pipe(pipeEnds) != 0) return run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDERR_FILENO);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeEnds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (got > 0) {
      run.output.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeEnds[0]);
  const int status = WaitTool(pid);
  if (status < 0) {
    run.signal = -status;
  } else {
    run.exitCode = status;
  }
  return run;
}

pid_t StartTool(const std::vector<std::string>& arguments) {
  std::vector<std::string> all{CLOSEWRIGHT_TOOL};
  all.insert(all.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv = ArgumentVector(all);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(null, STDERR_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int WaitTool(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -SIGCHLD;
  }
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

std::map<std::string, std::string> LedgerDump(const std::string& file, const std::set<std::string>& leftOut) {
  DatabaseHandle db = OpenReadOnly(file);
  std::map<std::string, std::string> dump;
  // One read transaction, so the dump is one state of the ledger even while a writer runs.
  sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr);
  std::vector<std::string> tables;
  {
    StatementHandle list = Prepare(
        db.get(),
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite_%' ORDER BY name");
    while (sqlite3_step(list.get()) == SQLITE_ROW) tables.push_back(Text(list.get(), 0));
  }
  for (const std::string& table : tables) {
    if (leftOut.count(table) != 0) continue;
    StatementHandle rows = Prepare(db.get(), "SELECT * FROM \"" + table + "\"");
    std::vector<int> columns;
    std::string header;
    for (int column = 0; column < sqlite3_column_count(rows.get()); ++column) {
      const std::string name = sqlite3_column_name(rows.get(), column);
      if (leftOut.count(name) != 0 || leftOut.count(table + "." + name) != 0) continue;
      columns.push_back(column);
      header += name + "|";
    }
    std::vector<std::string> lines;
    while (sqlite3_step(rows.get()) == SQLITE_ROW) {
      std::string line;
      for (int column : columns) line += Text(rows.get(), column) + "|";
      lines.push_back(std::move(line));
    }
    std::sort(lines.begin(), lines.end());
    std::string text = header + "\n";
    for (const std::string& line : lines) text += line + "\n";
    dump[table] = std::move(text);
  }
  sqlite3_exec(db.get(), "COMMIT", nullptr, nullptr, nullptr);
  return dump;
}

std::string DescribeDifferences(const std::map<std::string, std::string>& expected,
                                const std::map<std::string, std::string>& actual) {
  auto lines = [](const std::string& text) {
    std::multiset<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) all.insert(line);
    return all;
  };
  std::ostringstream out;
  for (const auto& [table, text] : expected) {
    const auto other = actual.find(table);
    if (other == actual.end()) {
      out << table << ": missing\n";
      continue;
    }
    if (other->second == text) continue;
    const std::multiset<std::string> a = lines(text), b = lines(other->second);
    std::vector<std::string> onlyExpected, onlyActual;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(onlyExpected));
    std::set_difference(b.begin(), b.end(), a.begin(), a.end(), std::back_inserter(onlyActual));
    out << table << ": " << a.size() << " lines expected, " << b.size() << " found\n";
    for (std::size_t i = 0; i < onlyExpected.size() && i < 5; ++i)
      out << "  missing    " << onlyExpected[i] << "\n";
    for (std::size_t i = 0; i < onlyActual.size() && i < 5; ++i)
      out << "  unexpected " << onlyActual[i] << "\n";
  }
  for (const auto& [table, text] : actual) {
    if (expected.count(table) == 0) out << table << ": unexpected\n";
  }
  return out.str();
}

std::string QueryRow(const std::string& file, const std::string& sql) {
  DatabaseHandle db = OpenReadOnly(file);
  StatementHandle statement = Prepare(db.get(), sql);
  std::string row;
  if (sqlite3_step(statement.get()) == SQLITE_ROW) {
    for (int column = 0; column < sqlite3_column_count(statement.get()); ++column) {
      if (column > 0) row += "|";
      row += Text(statement.get(), column);
    }
  }
  return row;
}

std::string DescriptionFor(const std::string& file) {
  return "ConnectString={Provider=Closewright.SQLite;Data Source=" + file +
         "};DBMS Name=SQLite;DBMS Version=3";
}

void GenerateLedgerFile(const std::string& file, std::int32_t tasks, std::uint64_t seed) {
  const std::string connectString = ledger::EmbeddedConnectString(file);
  ledger::CreateSchema(connectString);
  ledger::LedgerOptions options;
  options.tasks = tasks;
  options.seed = seed;
  ledger::GenerateLedger(connectString, options);
}

int EnvironmentCount(const char* name, int fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr) return fallback;
  const int value = std::atoi(text);
  return value > 0 ? value : fallback;
}

std::int64_t ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atoll(line.c_str() + 6);
  }
  return -1;
}

}  // namespace closewright::testing
