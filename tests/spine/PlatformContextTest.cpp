#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "close/CCloseData.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "support/TestDatabase.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright {
namespace {

using testing::CaughtError;
using testing::ErrorNumberOf;
using testing::TemporaryDatabase;
using Texts = std::vector<std::string>;

// Stands for COM+'s object context, which exists only on Windows: it says what COM+ would say of the
// context's transaction, notes the votes it receives and the objects it is asked to create, and makes those
// from the library's class registry as COM+ makes a registered class.
class NotingContext : public PlatformObjectContext {
 public:
  NotingContext(Texts& votes, Texts& created, PlatformTransaction transaction)
      : votes_(votes), created_(created), transaction_(transaction) {}
  void SetComplete() override { votes_.push_back("SetComplete"); }
  void SetAbort() override { votes_.push_back("SetAbort"); }
  PlatformTransaction TransactionStatus() override { return transaction_; }
  std::shared_ptr<Dispatch> CreateInstance(std::string_view progId) override {
    created_.emplace_back(progId);
    return CreateObject(progId);
  }

 private:
  Texts& votes_;
  Texts& created_;
  PlatformTransaction transaction_;
};

class PlatformContextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetPlatformContextLookup([this]() -> std::shared_ptr<PlatformObjectContext> {
      ++lookups;
      return hasPlatformContext ? std::make_shared<NotingContext>(platformVotes, created, platformTransaction)
                                : nullptr;
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

  // Counted on a session of its own, as another program sees the table: work held in an uncommitted
  // transaction does not show.
  std::int32_t CountRowsFromOutside(const std::string& table) {
    std::unique_ptr<DatabaseSession> session = OpenDatabaseSession(database.ConnectString());
    return session->Query("SELECT COUNT(*) AS n FROM " + table).rows.at(0).at(0).ToLong();
  }

  TemporaryDatabase database;
  CCloseData closeData;
  bool hasPlatformContext = true;
  PlatformTransaction platformTransaction = PlatformTransaction::kNone;
  int lookups = 0;
  Texts platformVotes;
  Texts created;
};

// A platform context without a transaction, or none at all: the library's own transaction decides.

TEST_F(PlatformContextTest, VotesReachThePlatformContextAndTheWorkStillCommitsOrRollsBackWhole) {
  closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT NOT NULL)");
  EXPECT_EQ(platformVotes, Texts{"SetComplete"});
  EXPECT_EQ(lookups, 1);

  platformVotes.clear();
  EXPECT_THROW(closeData.ExecuteSQL(database.Description(),
                                    "INSERT INTO t VALUES (1);\r\nINSERT INTO t VALUES (NULL)"),
               ComError);
  EXPECT_EQ(platformVotes, Texts{"SetAbort"});
  EXPECT_EQ(CountRows(), 0);
}

TEST_F(PlatformContextTest, WithoutAPlatformContextTheLibraryTransactionAloneDecides) {
  hasPlatformContext = false;
  closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT NOT NULL)");
  closeData.ExecuteSQL(database.Description(), "INSERT INTO t VALUES (1)");
  EXPECT_TRUE(platformVotes.empty());
  EXPECT_EQ(CountRows(), 1);
}

// A platform context with a transaction: the platform's distributed transaction holds the work (on Windows
// the Driver Manager has enlisted the connection in it), and the library begins, commits and rolls back
// nothing. Here, with no distributed transaction behind the stand-in, each statement therefore stands as
// soon as it has run.

TEST_F(PlatformContextTest, InAPlatformTransactionTheLibraryNeitherBeginsNorEndsADatabaseTransaction) {
  closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT NOT NULL)");
  platformTransaction = PlatformTransaction::kActive;
  platformVotes.clear();

  RunInObjectContext([&] {
    Connection connection;
    connection.Open(database.ConnectString());
    connection.Execute("INSERT INTO t VALUES (1)");
    EXPECT_EQ(CountRowsFromOutside("t"), 1) << "a local transaction holds the call's work back";
    // A vote to abort is the platform's to act on: the call still ends normally.
    GetObjectContext().SetAbort();
  });
  EXPECT_EQ(platformVotes, Texts{"SetAbort"});

  // A failing batch is not rolled back by the library either; the guarded frame's vote goes to the platform.
  platformVotes.clear();
  const ComError failed = CaughtError([&] {
    closeData.ExecuteSQL(database.Description(), "INSERT INTO t VALUES (2);\r\nINSERT INTO t VALUES (NULL)");
  });
  EXPECT_EQ(failed.Number(), error_number::kCommandFailed);
  EXPECT_EQ(platformVotes, Texts{"SetAbort"});
  EXPECT_EQ(CountRowsFromOutside("t"), 2);
}

TEST_F(PlatformContextTest, InAPlatformTransactionOneCallKeepsOneSessionPerConnectString) {
  platformTransaction = PlatformTransaction::kActive;
  RunInObjectContext([&] {
    Connection first;
    first.Open(database.ConnectString());
    first.Execute("CREATE TABLE #Work (FID INT)");
    first.Execute("INSERT INTO #Work VALUES (7)");
    first.Close();
    // A temporary table lives in its session only: a second connection and a recordset that opens its own
    // connection both see it.
    Connection second;
    second.Open(database.ConnectString());
    second.Execute("INSERT INTO #Work VALUES (8)");
    Recordset own;
    own.Open("SELECT COUNT(*) AS n FROM #Work", database.ConnectString());
    EXPECT_EQ(own.GetFields().Item(0).Value().ToLong(), 2);
    own.Close();
    second.Execute("DROP TABLE #Work");
  });
}

TEST_F(PlatformContextTest, EndHistoryDataMakesItsSubObjectsThroughThePlatformContextInItsTransaction) {
  ledger::CreateSchema(database.ConnectString());
  closeData.ExecuteSQL(
      database.Description(),
      "INSERT INTO OPCostMaterielInfo (FYear, FPeriod, FYearPeriod) VALUES (2011, 3, '2011.03')");
  // The expense sub-call fails after the material sub-call has moved its rows.
  closeData.ExecuteSQL(database.Description(), "DROP TABLE OPCostExpenseDistributeInfo_History");
  platformTransaction = PlatformTransaction::kActive;
  platformVotes.clear();
  lookups = 0;

  EXPECT_THROW(closeData.EndHistoryData(database.Description(), 2011, 3, true), ComError);
  const std::string progId(kCloseDataProgId);
  EXPECT_EQ(created, (Texts{progId, progId}));
  // The driver's call and each sub-object's call look up a context of their own.
  EXPECT_EQ(lookups, 3);
  // The material sub-object votes; the failing expense call and the driver cast no vote.
  EXPECT_EQ(platformVotes, Texts{"SetComplete"});
  // Nothing was rolled back locally: only the caller's platform transaction can take the material rows back.
  EXPECT_EQ(CountRowsFromOutside("OPCostMaterielInfo_History"), 1);
  EXPECT_EQ(CountRowsFromOutside("OPCostMaterielInfo"), 0);
}

TEST_F(PlatformContextTest, ACallThePlatformTransactionCannotTakeFailsAtOnceAndSendsNothing) {
  testing::Recorder recorder;
  const auto createTable = [&] { closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT)"); };

  platformTransaction = PlatformTransaction::kDoomed;
  const ComError doomed = CaughtError(createTable);
  EXPECT_EQ(doomed.Number(), error_number::kContextAborting);

  // A participant's vote to abort dooms the platform transaction for the rest of the call.
  platformTransaction = PlatformTransaction::kActive;
  RunInObjectContext([&] {
    GetObjectContext().SetAbort();
    EXPECT_EQ(ErrorNumberOf(createTable), error_number::kContextAborting);
  });

  // A host's transaction and the platform's cannot both hold a call.
  {
    Transaction host;
    EXPECT_EQ(ErrorNumberOf(createTable), error_number::kTransactionExists);
  }

  EXPECT_TRUE(recorder.texts.empty());
  EXPECT_EQ(recorder.votes, Texts{"SetAbort"});
  EXPECT_EQ(platformVotes, Texts{"SetAbort"});
}

}  // namespace
}  // namespace closewright
