// Batches and connect strings a hostile or careless caller might send: refused with an error, never a crash
// and never a different file than the one named.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "outside/ComError.h"
#include "outside/sqlite/SqliteProvider.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::CaughtError;

std::string Repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

TEST(HostileBatch, DeepNestingIsRefusedWithTheServersErrorBeforeAnythingRuns) {
  auto session = OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", ":memory:"}});
  session->Execute("CREATE TABLE t (FID INT NOT NULL)");
  for (const std::string& batch :
       {"INSERT INTO t (FID) VALUES (1)\r\n" + Repeat("IF 1=1 ", 5000) + "SELECT 1",
        "INSERT INTO t (FID) VALUES (1)\r\n" + Repeat("BEGIN ", 10000) + "SELECT 1" +
            Repeat(" END", 10000)}) {
    const ComError error = CaughtError([&] { session->Execute(batch); });
    EXPECT_EQ(error.NativeError(), 191);
    EXPECT_EQ(error.SqlState(), "42000");
  }
  EXPECT_EQ(session->Query("SELECT COUNT(*) FROM t").rows[0][0].ToLong(), 0);
  // Nesting a close could plausibly use still runs.
  session->Execute(Repeat("IF 1=1 ", 50) + "INSERT INTO t (FID) VALUES (2)");
  EXPECT_EQ(session->Query("SELECT COUNT(*) FROM t").rows[0][0].ToLong(), 1);
}

TEST(HostileBatch, ADataSourceHoldingANulIsRefusedRatherThanCutShort) {
  testing::TemporaryDatabase database;
  const std::string path = database.File() + std::string(1, '\0') + ".other";
  const ComError error = CaughtError([&] {
    OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", path}});
  });
  EXPECT_EQ(error.Number(), error_number::kOpenFailed);
  EXPECT_FALSE(std::filesystem::exists(database.File()));
}

}  // namespace
}  // namespace closewright
