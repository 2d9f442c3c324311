#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <thread>

#include "reliability/ReliabilitySupport.h"
#include "support/TestDatabase.h"

namespace closewright::testing {
namespace {

// Lines written so far to a SQL trace file: one per text the close has sent.
std::size_t TraceLines(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::size_t lines = 0;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    lines += static_cast<std::size_t>(std::count(buffer, buffer + in.gcount(), '\n'));
  }
  return lines;
}

std::string CloseLogDone(const std::string& file) {
  return QueryRow(file, "SELECT COUNT(*) FROM t_CloseLog WHERE FOutcome = 'done'");
}

// A close killed outright, whether between two statements, inside one or while it commits, must leave the
// ledger as it was (the database's journal undoes the unfinished transaction) or, if the kill came after
// the commit, as a finished close left it; and the next close must run.
TEST(CloseKilledAtAnyPoint, LeavesTheLedgerAsBeforeAndTheNextCloseSucceeds) {
  const int repeats = EnvironmentCount("CLOSEWRIGHT_CRASH_REPEATS", 20);
  TemporaryDatabase database;
  GenerateLedgerFile(database.File(), 40);
  const std::string db = database.File();
  const std::string trace = db + ".trace";
  const std::vector<std::string> close{"--trace-sql", trace,  "close",    "--db", db,
                                       "--year",      "2011", "--period", "3"};
  const std::vector<std::string> reopen{"reopen", "--db", db, "--year", "2011", "--period", "3"};

  // A whole close once, to learn how many texts it sends and how long it takes, and what it leaves.
  const auto began = std::chrono::steady_clock::now();
  ToolRun reference = RunTool(close);
  const auto closeTime = std::chrono::steady_clock::now() - began;
  ASSERT_EQ(reference.exitCode, 0) << reference.output;
  const std::size_t texts = TraceLines(trace);
  ASSERT_GT(texts, 20u);
  const auto closed = LedgerDump(db, AdvancingByDesign());
  ASSERT_EQ(RunTool(reopen).exitCode, 0);

  std::mt19937 random(12);
  std::set<std::size_t> killedAfterTexts;
  int killedBeforeCommit = 0, killedAfterCommit = 0, finishedFirst = 0;
  for (int attempt = 0; attempt < repeats; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    const auto before = LedgerDump(db);
    const std::string doneBefore = CloseLogDone(db);
    std::remove(trace.c_str());
    const pid_t pid = StartTool(close);
    ASSERT_GT(pid, 0);
    if (attempt % 2 == 0) {
      // Kill once the close has sent a chosen text: spread evenly over the whole close.
      const std::size_t target =
          1 + static_cast<std::size_t>(attempt / 2) * texts / static_cast<std::size_t>((repeats + 1) / 2);
      while (TraceLines(trace) < target && ::waitpid(pid, nullptr, WNOHANG) == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    } else {
      // Kill after a random delay up to a little past a whole close: catches statements and commits mid-way.
      std::uniform_int_distribution<long long> delay(
          0, std::chrono::duration_cast<std::chrono::microseconds>(closeTime).count() * 6 / 5);
      std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    }
    ::kill(pid, SIGKILL);
    const int ended = WaitTool(pid);
    killedAfterTexts.insert(TraceLines(trace));

    if (ended == 0 || CloseLogDone(db) != doneBefore) {
      // The close finished (or committed just before the kill): the ledger is the closed one.
      ++(ended == 0 ? finishedFirst : killedAfterCommit);
      const auto now = LedgerDump(db, AdvancingByDesign());
      EXPECT_TRUE(now == closed) << DescribeDifferences(closed, now);
      ToolRun undo = RunTool(reopen);
      ASSERT_EQ(undo.exitCode, 0) << undo.output;
      continue;
    }
    ++killedBeforeCommit;
    ASSERT_EQ(ended, -SIGKILL);
    const auto after = LedgerDump(db);
    ASSERT_TRUE(after == before) << DescribeDifferences(before, after);

    ToolRun next = RunTool({"close", "--db", db, "--year", "2011", "--period", "3"});
    ASSERT_EQ(next.exitCode, 0) << next.output;
    const auto now = LedgerDump(db, AdvancingByDesign());
    EXPECT_TRUE(now == closed) << DescribeDifferences(closed, now);
    ToolRun undo = RunTool(reopen);
    ASSERT_EQ(undo.exitCode, 0) << undo.output;
  }
  EXPECT_GE(killedBeforeCommit, repeats / 2);
  std::cout << "[ crash    ] " << repeats << " kills: " << killedBeforeCommit << " before the commit at "
            << killedAfterTexts.size() << " different points of " << texts << " texts, " << killedAfterCommit
            << " after it, " << finishedFirst << " finished first\n";
}

}  // namespace
}  // namespace closewright::testing
