#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "reliability/ReliabilitySupport.h"
#include "support/TestDatabase.h"
#include "tools/closewright/CloseDriver.h"

namespace closewright::testing {
namespace {

// Many close and reopen cycles of one period in one process: after the last the ledger equals the ledger
// after the first, and memory does not grow with the cycles. CLOSEWRIGHT_SOAK_CYCLES and
// CLOSEWRIGHT_SOAK_TASKS make it longer (tools/soak); the suite runs a short one.
TEST(Soak, CloseAndReopenCyclesLeaveTheLedgerAsAfterTheFirstWithFlatMemory) {
  const int cycles = EnvironmentCount("CLOSEWRIGHT_SOAK_CYCLES", 10);
  const int tasks = EnvironmentCount("CLOSEWRIGHT_SOAK_TASKS", 60);
  TemporaryDatabase database;
  GenerateLedgerFile(database.File(), tasks);
  tool::RunOptions options;
  options.description = DescriptionFor(database.File());
  options.period = tool::Period{2011, 3};

  std::map<std::string, std::string> afterFirst;
  std::int64_t residentAfterFirst = 0, residentAfterSecond = 0, residentPeak = 0;
  double seconds = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    const auto began = std::chrono::steady_clock::now();
    tool::RunClose(options);
    tool::RunReopen(options);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    const std::int64_t resident = ResidentKilobytes();
    residentPeak = std::max(residentPeak, resident);
    if (cycle == 1) {
      afterFirst = LedgerDump(database.File(), AdvancingByDesign());
      residentAfterFirst = resident;
    }
    if (cycle == 2) residentAfterSecond = resident;
    if (cycle % 50 == 0 || cycle == cycles) {
      std::printf("[ soak     ] cycle %d: %.3f s per cycle, RSS %lld KiB\n", cycle, seconds / cycle,
                  static_cast<long long>(resident));
    }
  }
  const auto afterLast = LedgerDump(database.File(), AdvancingByDesign());
  EXPECT_TRUE(afterLast == afterFirst) << DescribeDifferences(afterFirst, afterLast);
  const std::int64_t residentLast = ResidentKilobytes();
  std::printf(
      "[ soak     ] %d cycles of %d tasks: %.3f s per cycle; RSS after cycle 1 %lld KiB, cycle 2 %lld KiB, "
      "last %lld KiB, peak %lld KiB\n",
      cycles, tasks, seconds / cycles, static_cast<long long>(residentAfterFirst),
      static_cast<long long>(residentAfterSecond), static_cast<long long>(residentLast),
      static_cast<long long>(residentPeak));
  std::fflush(stdout);
}

}  // namespace
}  // namespace closewright::testing
