#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "reliability/ReliabilitySupport.h"
#include "support/TestDatabase.h"

namespace closewright::testing {
namespace {

// One statement, so one snapshot: the current period and the rows a close moves, in both periods and both
// places. A close shows either all of it moved or none of it.
const std::string kLedgerState =
    "SELECT (SELECT FValue FROM t_SystemProfile WHERE FCategory = 'OPCost' AND FKey = 'CurrentPeriod'), "
    "(SELECT COUNT(*) FROM OPCostCalInfo WHERE FYearPeriod = '2011.03'), "
    "(SELECT COUNT(*) FROM OPCostCalInfo_History WHERE FYearPeriod = '2011.03'), "
    "(SELECT COUNT(*) FROM OPCostWIPCheck WHERE FYearPeriod = '2011.03'), "
    "(SELECT COUNT(*) FROM OPCostBalance WHERE FYearPeriod = '2011.04'), "
    "(SELECT COUNT(*) FROM OPCostBalance_History WHERE FYearPeriod = '2011.03')";

// The same question through the library's own read path.
std::string LedgerStateThroughLibrary(Connection& cn) {
  const ResultTable table = cn.Session().Query(kLedgerState);
  std::string row;
  for (std::size_t column = 0; column < table.rows.at(0).size(); ++column) {
    if (column > 0) row += "|";
    row += table.rows[0][column].ToString();
  }
  return row;
}

// Readers on their own threads, each recording every state it sees and every error it meets.
class Readers {
 public:
  explicit Readers(std::string file) : file_(std::move(file)) {
    threads_.emplace_back([this] {
      try {
        while (!stop_) Record(QueryRow(file_, kLedgerState));
      } catch (const std::exception& error) {
        std::lock_guard lock(mutex_);
        errors_.emplace_back(error.what());
      }
    });
    threads_.emplace_back([this] {
      try {
        Connection cn;
        cn.Open("Provider=Closewright.SQLite;Data Source=" + file_);
        while (!stop_) Record(LedgerStateThroughLibrary(cn));
        cn.Close();
      } catch (const ComError& error) {
        std::lock_guard lock(mutex_);
        errors_.push_back(error.ToLine());
      }
    });
  }
  ~Readers() { Stop(); }
  void Stop() {
    stop_ = true;
    for (std::thread& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  std::set<std::string> Seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  std::vector<std::string> Errors() {
    std::lock_guard lock(mutex_);
    return errors_;
  }
  long Reads() const { return reads_; }

 private:
  void Record(const std::string& state) {
    ++reads_;
    std::lock_guard lock(mutex_);
    seen_.insert(state);
  }
  std::string file_;
  std::atomic<bool> stop_{false};
  std::atomic<long> reads_{0};
  std::mutex mutex_;
  std::set<std::string> seen_;
  std::vector<std::string> errors_;
  std::vector<std::thread> threads_;
};

class ConcurrentClose : public ::testing::Test {
 protected:
  void SetUp() override {
    GenerateLedgerFile(database.File(), 60);
    open = QueryRow(database.File(), kLedgerState);
  }
  std::vector<std::string> Close() const {
    return {"close", "--db", database.File(), "--year", "2011", "--period", "3"};
  }
  std::vector<std::string> Reopen() const {
    return {"reopen", "--db", database.File(), "--year", "2011", "--period", "3"};
  }
  TemporaryDatabase database;
  std::string open;  // the ledger's state before any close
};

TEST_F(ConcurrentClose, ReadersDuringClosesAndReopensSeeOnlyWholeStates) {
  ASSERT_EQ(open.substr(0, 2), "3|");
  Readers readers(database.File());
  std::string closed;
  for (int cycle = 0; cycle < 3; ++cycle) {
    ToolRun close = RunTool(Close());
    ASSERT_EQ(close.exitCode, 0) << close.output;
    if (cycle == 0) closed = QueryRow(database.File(), kLedgerState);
    ToolRun reopen = RunTool(Reopen());
    ASSERT_EQ(reopen.exitCode, 0) << reopen.output;
  }
  readers.Stop();
  EXPECT_EQ(closed.substr(0, 2), "4|");
  EXPECT_TRUE(readers.Errors().empty()) << readers.Errors().front();
  EXPECT_GT(readers.Reads(), 0);
  for (const std::string& state : readers.Seen()) {
    EXPECT_TRUE(state == open || state == closed)
        << "half-closed state seen: " << state << "\nopen:   " << open << "\nclosed: " << closed;
  }
}

// A close stopped mid-way holds the ledger: it is made to wait on its own SQL trace, written to a pipe
// that is not read. Meanwhile a second close must be refused without waiting for the first, and readers
// must see the ledger as it was. Then the first close goes on and finishes.
TEST_F(ConcurrentClose, ACloseHeldMidwayRefusesASecondAtOnceAndHidesItsWork) {
  const std::string fifo = database.File() + ".fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  // The smallest pipe, so the close blocks on its trace soon after the reads below stop.
  ::fcntl(reader, F_SETPIPE_SZ, 4096);
  std::vector<std::string> traced{"--trace-sql", fifo};
  for (const std::string& argument : Close()) traced.push_back(argument);
  const pid_t first = StartTool(traced);

  // Read until the close has started its steps (it holds the write lock from its first connection on).
  std::string seen;
  char buffer[512];
  while (seen.find("OPCostWIPCheck") == std::string::npos) {
    const ssize_t got = ::read(reader, buffer, sizeof buffer);
    if (got > 0) seen.append(buffer, static_cast<std::size_t>(got));
    if (got == 0 && ::waitpid(first, nullptr, WNOHANG) != 0) break;
    if (got <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_NE(seen.find("OPCostWIPCheck"), std::string::npos) << seen;

  // The first close cannot finish until its trace is read, so whatever the second does happens meanwhile.
  ToolRun second = RunTool(Close());
  EXPECT_EQ(second.exitCode, 3) << second.output;
  EXPECT_NE(second.output.find("another close or reopen"), std::string::npos) << second.output;
  EXPECT_EQ(QueryRow(database.File(), kLedgerState), open);
  {
    Connection cn;
    cn.Open("Provider=Closewright.SQLite;Data Source=" + database.File());
    EXPECT_EQ(LedgerStateThroughLibrary(cn), open);
    cn.Close();
  }

  // Let the first close go on by reading its trace to the end.
  ::fcntl(reader, F_SETFL, 0);
  while (::read(reader, buffer, sizeof buffer) > 0) {
  }
  ::close(reader);
  EXPECT_EQ(WaitTool(first), 0);
  EXPECT_EQ(QueryRow(database.File(), kLedgerState).substr(0, 2), "4|");
  ::unlink(fifo.c_str());
}

TEST_F(ConcurrentClose, TwoClosesStartedTogetherOneFinishesTheOtherIsRefused) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ToolRun a, b;
    std::thread first([&] { a = RunTool(Close()); });
    std::thread second([&] { b = RunTool(Close()); });
    first.join();
    second.join();
    // One wins; the other is refused, by the lock while the winner runs or by the period check after it.
    EXPECT_EQ(std::min(a.exitCode, b.exitCode), 0) << a.output << b.output;
    EXPECT_EQ(std::max(a.exitCode, b.exitCode), 3) << a.output << b.output;
    const std::string closed = QueryRow(database.File(), kLedgerState);
    EXPECT_EQ(closed.substr(0, 2), "4|");
    ToolRun reopen = RunTool(Reopen());
    ASSERT_EQ(reopen.exitCode, 0) << reopen.output;
    EXPECT_EQ(QueryRow(database.File(), kLedgerState), open);
  }
}

}  // namespace
}  // namespace closewright::testing
