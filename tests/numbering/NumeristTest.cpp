#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Dictionary.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "outside/numbering/Numerist.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::TemporaryDatabase;

class NumeristTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterNumberingComponent(ClassRegistry::Instance()); }

  struct Answer {
    std::string returned;
    std::vector<std::string> numbers;  // the result dictionary's entries "1".."n", in key order
    bool flag = false;
  };

  // One request as the close makes it, late-bound on a component created by its ProgID.
  Answer Draw(std::int32_t billType, std::int32_t count, bool moreBillId = true, Variant autoUpdate = true) {
    auto request = std::make_shared<Dictionary>();
    request->Add("FDate", MakeDate(2011, 4, 1));
    request->Add("FBillType", billType);
    request->Add("BillNumber", count);
    if (!autoUpdate.IsEmpty()) request->Add("AutoUpdateCurNo", autoUpdate);
    request->Add("MoreBillID", moreBillId);
    auto result = std::make_shared<Dictionary>();
    std::array<Variant, 4> arguments{Variant(db_.Description()), Variant(std::shared_ptr<Dispatch>(request)),
                                     Variant(false), Variant(std::shared_ptr<Dispatch>(result))};
    Answer answer;
    answer.returned = CreateObject(kNumberingProgId)->InvokeByName("GetNewBillID", arguments).ToString();
    answer.flag = arguments[2].ToBoolean();
    for (std::int32_t i = 1; i <= result->Count(); ++i) {
      answer.numbers.push_back(result->Item(std::to_string(i)).ToString());
    }
    return answer;
  }

  std::vector<std::string> Counters() {
    Recordset rs;
    rs.Open("SELECT FBillType, FCurrentNo FROM t_BillNoCounter ORDER BY FBillType", db_.ConnectString());
    std::vector<std::string> rows;
    for (; !rs.Eof(); rs.MoveNext()) {
      rows.push_back(rs.GetFields().Item(0).Value().ToString() + "=" +
                     rs.GetFields().Item(1).Value().ToString());
    }
    return rows;
  }

  TemporaryDatabase db_;
};

TEST_F(NumeristTest, NumbersAreHandedOutInOrderOneCounterPerBillType) {
  const Answer first = Draw(1011111, 3);
  EXPECT_EQ(first.numbers, (std::vector<std::string>{"1011111-000001", "1011111-000002", "1011111-000003"}));
  EXPECT_EQ(first.returned, "1011111-000001");
  EXPECT_TRUE(first.flag);

  EXPECT_EQ(Draw(42, 1).numbers, std::vector<std::string>{"42-000001"});
  EXPECT_EQ(Draw(1011111, 2).numbers, (std::vector<std::string>{"1011111-000004", "1011111-000005"}));
  // One number only: the return value carries it and the result dictionary stays empty.
  const Answer single = Draw(1011111, 7, false);
  EXPECT_EQ(single.returned, "1011111-000006");
  EXPECT_TRUE(single.numbers.empty());
  EXPECT_EQ(Counters(), (std::vector<std::string>{"42=1", "1011111=6"}));
}

TEST_F(NumeristTest, ShowingTheNextNumbersDoesNotUseThemUp) {
  EXPECT_EQ(Draw(5, 2, true, false).numbers, (std::vector<std::string>{"5-000001", "5-000002"}));
  EXPECT_EQ(Draw(5, 1).numbers, std::vector<std::string>{"5-000001"});
  EXPECT_EQ(Draw(5, 1, true, false).numbers, std::vector<std::string>{"5-000002"});
  // Without the key the numbers are used up.
  EXPECT_EQ(Draw(5, 1, true, Variant()).numbers, std::vector<std::string>{"5-000002"});
  EXPECT_EQ(Counters(), std::vector<std::string>{"5=2"});
}

TEST_F(NumeristTest, ARolledBackTransactionGivesItsNumbersBack) {
  {
    Transaction transaction;
    EXPECT_EQ(Draw(7, 2).numbers, (std::vector<std::string>{"7-000001", "7-000002"}));
    transaction.Rollback();
  }
  {
    Transaction transaction;
    EXPECT_EQ(Draw(7, 1).numbers, std::vector<std::string>{"7-000001"});
    EXPECT_EQ(Draw(7, 1).numbers, std::vector<std::string>{"7-000002"});
    transaction.Commit();
  }
  EXPECT_EQ(Draw(7, 1).numbers, std::vector<std::string>{"7-000003"});
}

TEST_F(NumeristTest, BadRequestsAreRefusedAndUseUpNothing) {
  Draw(9, 1);
  for (std::int32_t count : {0, -3}) {
    try {
      Draw(9, count);
      FAIL() << count << " numbers must be refused";
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), error_number::kInvalidProcedureCall);
      EXPECT_EQ(error.Source(), "Numerist.clsNumerist");
    }
  }
  auto request = std::make_shared<Dictionary>();
  request->Add("MoreBillID", true);
  std::array<Variant, 4> arguments{Variant(db_.Description()), Variant(std::shared_ptr<Dispatch>(request)),
                                   Variant(false),
                                   Variant(std::shared_ptr<Dispatch>(std::make_shared<Dictionary>()))};
  try {
    CreateObject(kNumberingProgId)->InvokeByName("GetNewBillID", arguments);
    FAIL() << "a request without a bill type must be refused";
  } catch (const ComError& error) {
    EXPECT_NE(error.Description().find("FBillType"), std::string::npos);
    EXPECT_FALSE(arguments[2].ToBoolean());
  }
  EXPECT_EQ(Counters(), std::vector<std::string>{"9=1"});
}

// Two processes drawing from one counter at once: the second writer waits its turn or is refused and
// retries, and no number is handed out twice.
TEST_F(NumeristTest, ConcurrentProcessesNeverGetTheSameNumber) {
  constexpr int kDraws = 25;
  Draw(3, 1);  // the counter table exists before the race
  std::vector<pid_t> children;
  for (int child = 0; child < 2; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::ofstream out(db_.File() + ".numbers" + std::to_string(child));
      int drawn = 0;
      for (int attempt = 0; drawn < kDraws && attempt < 100000; ++attempt) {
        try {
          out << Draw(3, 1).numbers.at(0) << '\n';
          ++drawn;
        } catch (const ComError&) {
          ::usleep(500);
        }
      }
      out.close();
      ::_exit(drawn == kDraws ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> all;
  for (int child = 0; child < 2; ++child) {
    std::ifstream in(db_.File() + ".numbers" + std::to_string(child));
    std::vector<std::string> numbers;
    for (std::string line; std::getline(in, line);) numbers.push_back(line);
    EXPECT_EQ(numbers.size(), static_cast<std::size_t>(kDraws));
    EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));  // each process sees its numbers rise
    all.insert(numbers.begin(), numbers.end());
  }
  EXPECT_EQ(all.size(), static_cast<std::size_t>(2 * kDraws));
  EXPECT_EQ(*all.begin(), "3-000002");
  EXPECT_EQ(*all.rbegin(), FormatBillNumber(3, 2 * kDraws + 1));
}

}  // namespace
}  // namespace closewright
