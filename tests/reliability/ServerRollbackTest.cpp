// An error that a step passes over by design must never end in a half-commit or a false success: when the
// database rolls the transaction back after such an error, the run fails whole and says after what.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <span>
#include <string>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Dictionary.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "outside/numbering/Numerist.h"
#include "reliability/ReliabilitySupport.h"
#include "support/TestDatabase.h"
#include "tools/closewright/CloseDriver.h"

namespace closewright::testing {
namespace {

using ::testing::HasSubstr;

// A bill numbering component that keeps a usage note it does not insist on: the note's statement meets
// SQL Server's conversion error 245, which rolls the transaction back whatever XACT_ABORT says, and the
// component passes that over and hands out its numbers.
class DamagedCounterNumbering : public Dispatch {
 public:
  explicit DamagedCounterNumbering(std::string connectString) : connectString_(std::move(connectString)) {}
  DispatchId GetIDOfName(std::string_view name) override {
    static constexpr DispatchMember members[]{{"GetNewBillID", 1}};
    return FindDispatchMember(members, name);
  }
  Variant Invoke(DispatchId, std::span<Variant> arguments) override {
    Connection note;
    note.Open(connectString_);
    try {
      note.Execute("SELECT CONVERT(INT, 'x') AS FUsage");
    } catch (const ComError&) {
    }
    const std::int32_t wanted = arguments[1].ToObject()->InvokeByName("Item", key_).ToLong();
    auto result = std::dynamic_pointer_cast<Dictionary>(arguments[3].ToObject());
    for (std::int32_t i = 1; i <= wanted; ++i) result->Add(std::to_string(i), "B-" + std::to_string(++next_));
    return Variant("");
  }

 private:
  std::string connectString_;
  std::array<Variant, 1> key_{Variant("BillNumber")};
  std::int32_t next_ = 0;
};

// Runs `text` inside a call that passes its error over, as the identity realignment does.
void PassOver(const std::string& connectString, const std::string& text) {
  RunInObjectContext([&] {
    Connection cn;
    cn.Open(connectString);
    try {
      cn.Execute(text);
    } catch (const ComError&) {
    }
  });
}

std::int32_t Rows(const TemporaryDatabase& database) {
  Connection cn;
  cn.Open(database.ConnectString());
  return cn.Session().Query("SELECT COUNT(*) FROM t").rows.at(0).at(0).ToLong();
}

TEST(ServerRollback, OnlyAnErrorThatEndsTheTransactionFailsTheCommitAndItIsNamed) {
  TemporaryDatabase database;
  RunInObjectContext([&] {
    Connection cn;
    cn.Open(database.ConnectString());
    cn.Execute("CREATE TABLE t (FID INT NOT NULL)");
  });

  // A NULL into a NOT NULL column ends that statement only: the transaction goes on and commits.
  {
    Transaction transaction;
    PassOver(database.ConnectString(), "INSERT INTO t VALUES (1)");
    PassOver(database.ConnectString(), "INSERT INTO t VALUES (NULL)");
    transaction.Commit();
  }
  EXPECT_EQ(Rows(database), 1);

  // A conversion error rolls it back: later work is refused unsent, and the commit fails naming the error.
  Transaction transaction;
  PassOver(database.ConnectString(), "INSERT INTO t VALUES (2)");
  PassOver(database.ConnectString(), "INSERT INTO t SELECT CONVERT(INT, 'x')");
  try {
    RunInObjectContext([&] {
      Connection cn;
      cn.Open(database.ConnectString());
      cn.Execute("INSERT INTO t VALUES (3)");
    });
    ADD_FAILURE() << "work went on in a transaction the database had rolled back";
  } catch (const ComError& error) {
    EXPECT_EQ(error.NativeError(), 3998);
    EXPECT_THAT(error.Description(), HasSubstr("Conversion failed"));
  }
  EXPECT_THROW(transaction.Commit(), ComError);
  EXPECT_EQ(Rows(database), 1);
}

TEST(ServerRollback, AClosePassingOverATransactionEndingErrorFailsWholeAndTheLogSaysWhy) {
  TemporaryDatabase database;
  GenerateLedgerFile(database.File(), 40);
  const auto before = LedgerDump(database.File());
  auto numbering = std::make_shared<DamagedCounterNumbering>(database.ConnectString());
  ClassRegistry::Instance().Register(std::string(kNumberingProgId), [numbering] { return numbering; });
  tool::RunOptions options;
  options.description = DescriptionFor(database.File());
  options.period = tool::Period{2011, 3};
  try {
    tool::RunClose(options);
    ADD_FAILURE() << "the close reported success";
  } catch (const ComError& error) {
    EXPECT_THAT(error.Description(), HasSubstr("rolled back"));
    EXPECT_THAT(error.Description(), HasSubstr("Conversion failed"));
  }
  RegisterNumberingComponent(ClassRegistry::Instance());

  const auto after = LedgerDump(database.File());
  EXPECT_TRUE(after == before) << DescribeDifferences(before, after);
  const std::string logged =
      QueryRow(database.File(), "SELECT FOutcome, FError FROM t_CloseLog ORDER BY FID DESC LIMIT 1");
  EXPECT_THAT(logged, HasSubstr("failed in SetStandardData"));
  EXPECT_THAT(logged, HasSubstr("Conversion failed"));
}

}  // namespace
}  // namespace closewright::testing
