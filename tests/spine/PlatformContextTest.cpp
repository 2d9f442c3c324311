#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "close/CCloseData.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::TemporaryDatabase;

// Stands for COM+'s object context, which exists only on Windows: it notes the votes it receives.
class NotingContext : public PlatformObjectContext {
 public:
  explicit NotingContext(std::vector<std::string>& votes) : votes_(votes) {}
  void SetComplete() override { votes_.push_back("SetComplete"); }
  void SetAbort() override { votes_.push_back("SetAbort"); }

 private:
  std::vector<std::string>& votes_;
};

class PlatformContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPlatformContextLookup([this]() -> std::shared_ptr<PlatformObjectContext> {
      ++lookups;
      return hasPlatformContext ? std::make_shared<NotingContext>(platformVotes) : nullptr;
    });
  }
  void TearDown() override { SetPlatformContextLookup(nullptr); }

  std::int32_t CountRows() {
    Connection connection;
    connection.Open(database.ConnectString());
    Recordset recordset;
    recordset.Open("SELECT COUNT(*) AS n FROM t", connection);
    return recordset.GetFields().Item(0).Value().ToLong();
  }

  TemporaryDatabase database;
  CCloseData closeData;
  bool hasPlatformContext = true;
  int lookups = 0;
  std::vector<std::string> platformVotes;
};

TEST_F(PlatformContextTest, VotesReachThePlatformContextAndTheWorkStillCommitsOrRollsBackWhole) {
  closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT NOT NULL)");
  EXPECT_EQ(platformVotes, std::vector<std::string>{"SetComplete"});
  EXPECT_EQ(lookups, 1);

  platformVotes.clear();
  EXPECT_THROW(closeData.ExecuteSQL(database.Description(),
                                    "INSERT INTO t VALUES (1);\r\nINSERT INTO t VALUES (NULL)"),
               ComError);
  EXPECT_EQ(platformVotes, std::vector<std::string>{"SetAbort"});
  EXPECT_EQ(CountRows(), 0);
}

TEST_F(PlatformContextTest, WithoutAPlatformContextTheLibraryTransactionAloneDecides) {
  hasPlatformContext = false;
  closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT NOT NULL)");
  closeData.ExecuteSQL(database.Description(), "INSERT INTO t VALUES (1)");
  EXPECT_TRUE(platformVotes.empty());
  EXPECT_EQ(CountRows(), 1);
}

}  // namespace
}  // namespace closewright
