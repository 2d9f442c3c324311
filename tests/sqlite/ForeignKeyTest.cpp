// Foreign keys on the embedded provider behave as on SQL Server: a line must name an existing header, and
// a header declared ON DELETE CASCADE takes its lines along when it is deleted.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "outside/ComError.h"
#include "outside/sqlite/SqliteProvider.h"

namespace closewright {
namespace {

class ForeignKeyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session = OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", ":memory:"}});
    session->Execute(
        "CREATE TABLE Bill (FID INT NOT NULL PRIMARY KEY, FYearPeriod VARCHAR(20) NOT NULL)\r\n"
        "CREATE TABLE BillLine (FDetailID INT IDENTITY(1,1) NOT NULL PRIMARY KEY,\r\n"
        "  FID INT NOT NULL REFERENCES Bill (FID) ON DELETE CASCADE, FQty DECIMAL(28,10) NOT NULL "
        "DEFAULT(0))\r\n"
        "INSERT INTO Bill (FID, FYearPeriod) VALUES (1, '2011.04')\r\n"
        "INSERT INTO Bill (FID, FYearPeriod) VALUES (2, '2011.03')\r\n"
        "INSERT INTO BillLine (FID, FQty) VALUES (1, 5) INSERT INTO BillLine (FID, FQty) VALUES (1, 6)\r\n"
        "INSERT INTO BillLine (FID, FQty) VALUES (2, 7)");
  }
  std::int32_t Lines() { return session->Query("SELECT COUNT(*) FROM BillLine").rows[0][0].ToLong(); }
  std::unique_ptr<DatabaseSession> session;
};

TEST_F(ForeignKeyTest, DeletingAHeaderDeletesItsLinesOnly) {
  session->Execute("Delete from Bill Where FYearPeriod ='2011.04'");
  EXPECT_EQ(Lines(), 1);
}

TEST_F(ForeignKeyTest, ALineNamingNoHeaderIsRefusedWith547AndNothingIsAdded) {
  try {
    session->Execute("INSERT INTO BillLine (FID, FQty) VALUES (9, 1)");
    ADD_FAILURE() << "an orphaned line was accepted";
  } catch (const ComError& error) {
    EXPECT_EQ(error.NativeError(), 547);
    EXPECT_EQ(error.SqlState(), "23000");
    EXPECT_NE(error.Description().find("FOREIGN KEY"), std::string::npos);
  }
  EXPECT_EQ(Lines(), 3);
  // Without ON DELETE CASCADE a referenced header stays, and the error names the DELETE, the REFERENCE
  // side and the table still pointing at it, as the server's 547 does.
  session->Execute("CREATE TABLE Note (FID INT NOT NULL REFERENCES Bill (FID)) INSERT INTO Note VALUES (2)");
  try {
    session->Execute("DELETE FROM Bill WHERE FID = 2");
    ADD_FAILURE() << "a referenced header was deleted";
  } catch (const ComError& error) {
    EXPECT_EQ(error.NativeError(), 547);
    EXPECT_NE(error.Description().find("The DELETE statement conflicted with the REFERENCE constraint"),
              std::string::npos)
        << error.Description();
    EXPECT_NE(error.Description().find("table \"dbo.Note\""), std::string::npos) << error.Description();
  }
  EXPECT_EQ(Lines(), 3);
}

// The server keeps no foreign key on a temporary table (message 1756, "Skipping FOREIGN KEY constraint"):
// its rows may name headers that do not exist, and a reference to a permanent table does not fail them.
TEST_F(ForeignKeyTest, ATemporaryTableKeepsNoForeignKey) {
  session->Execute(
      "CREATE TABLE #Work (FID INT NOT NULL REFERENCES Bill (FID), FOther INT NULL,\r\n"
      "  FOREIGN KEY (FOther) REFERENCES Bill (FID))\r\n"
      "INSERT INTO #Work (FID, FOther) VALUES (9, 8) INSERT INTO #Work (FID, FOther) VALUES (1, 2)");
  EXPECT_EQ(session->Query("SELECT COUNT(*) FROM #Work").rows[0][0].ToLong(), 2);
  session->Execute("DELETE FROM Bill WHERE FID = 2");
  EXPECT_EQ(Lines(), 2);
}

}  // namespace
}  // namespace closewright
