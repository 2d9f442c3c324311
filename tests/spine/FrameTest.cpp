#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <thread>

#include "close/CCloseData.h"
#include "close/PubFunction.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/ObjectContext.h"
#include "outside/calendar/FiscalTerm.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::CaughtError;

using testing::Recorder;
using testing::TemporaryDatabase;

std::int32_t CountRows(const TemporaryDatabase& database, const std::string& table) {
  Connection connection;
  connection.Open(database.ConnectString());
  Recordset recordset;
  recordset.Open("SELECT COUNT(*) AS n FROM " + table, connection);
  return recordset.GetFields().Item(0).Value().ToLong();
}

class ExecuteSqlTest : public ::testing::Test {
 protected:
  void SetUp() override { closeData.ExecuteSQL(database.Description(), "CREATE TABLE t (FID INT NOT NULL)"); }
  TemporaryDatabase database;
  CCloseData closeData;
};

TEST_F(ExecuteSqlTest, EmptyTextSendsNothingYetConnectsAndVotesComplete) {
  Recorder recorder;
  EXPECT_TRUE(closeData.ExecuteSQL(database.Description(), "").IsEmpty());
  ASSERT_EQ(recorder.texts.size(), 1u);
  EXPECT_EQ(recorder.texts[0].text, "SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
  EXPECT_EQ(recorder.votes, std::vector<std::string>{"SetComplete"});
}

TEST_F(ExecuteSqlTest, SeveralStatementsGoOutAsOneExecuteAfterTheIsolationStatement) {
  Recorder recorder;
  const std::string text = "INSERT INTO t (FID) VALUES (1)\r\nINSERT INTO t (FID) VALUES (2)  ";
  closeData.ExecuteSQL(database.Description(), text);
  ASSERT_EQ(recorder.texts.size(), 2u);
  EXPECT_EQ(recorder.texts[0].text, "SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
  EXPECT_EQ(recorder.texts[1].operation, "Execute");
  EXPECT_EQ(recorder.texts[1].text, text);
  EXPECT_EQ(recorder.texts[0].connection, recorder.texts[1].connection);
  EXPECT_EQ(CountRows(database, "t"), 2);
}

TEST_F(ExecuteSqlTest, FailingTextVotesAbortRollsBackAndPassesTheServerErrorOn) {
  Recorder recorder;
  const ComError error = CaughtError([&] {
    closeData.ExecuteSQL(database.Description(),
                         "INSERT INTO t (FID) VALUES (1)\r\nINSERT INTO missing VALUES (2)");
  });
  EXPECT_EQ(error.Number(), error_number::kCommandFailed);
  EXPECT_EQ(error.NativeError(), 208);
  EXPECT_NE(error.Description().find("missing"), std::string::npos);
  EXPECT_EQ(recorder.votes, std::vector<std::string>{"SetAbort"});
  EXPECT_EQ(CountRows(database, "t"), 0);
}

TEST_F(ExecuteSqlTest, UnopenableConnectStringVotesAbortAndRaisesTheOpenError) {
  Recorder recorder;
  const ComError error = CaughtError(
      [&] { closeData.ExecuteSQL("ConnectString={Provider=Nobody.Knows;Data Source=x}", "SELECT 1"); });
  EXPECT_EQ(error.Number(), error_number::kOpenFailed);
  EXPECT_NE(error.Description().find("Nobody.Knows"), std::string::npos);
  EXPECT_TRUE(recorder.texts.empty());
  EXPECT_EQ(recorder.votes, std::vector<std::string>{"SetAbort"});
}

TEST_F(ExecuteSqlTest, RepeatedKeyInTheDescriptionVotesAbortThenRaises457) {
  Recorder recorder;
  const ComError error = CaughtError([&] {
    closeData.ExecuteSQL(database.Description() + ";connectstring={x}", "INSERT INTO t VALUES (1)");
  });
  EXPECT_EQ(error.Number(), 457);
  EXPECT_EQ(recorder.votes, std::vector<std::string>{"SetAbort"});
  EXPECT_TRUE(recorder.texts.empty());
}

TEST_F(ExecuteSqlTest, TwoCallsOnOneObjectEachUseTheirOwnDescription) {
  TemporaryDatabase other;
  closeData.ExecuteSQL(other.Description(), "CREATE TABLE u (FID INT)");
  closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (7)");
  EXPECT_EQ(CountRows(database, "t"), 1);
  EXPECT_EQ(CountRows(other, "u"), 0);
}

TEST_F(ExecuteSqlTest, CallableLateBoundByNameAndThroughTheDispatchId) {
  auto object = CreateObject(kCloseDataProgId);
  std::array<Variant, 2> arguments{Variant(database.Description()),
                                   Variant("INSERT INTO t (FID) VALUES (3)")};
  EXPECT_TRUE(object->InvokeByName("ExecuteSQL", arguments).IsEmpty());
  EXPECT_TRUE(object->Invoke(0x60030013, arguments).IsEmpty());
  EXPECT_EQ(CountRows(database, "t"), 2);
  std::array<Variant, 1> tooFew{Variant(database.Description())};
  EXPECT_EQ(CaughtError([&] { object->InvokeByName("ExecuteSQL", tooFew); }).Number(), 449);
}

TEST_F(ExecuteSqlTest, HostTransactionCommitsBothCallsOrNeither) {
  {
    Transaction transaction;
    closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (1)");
    closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (2)");
    transaction.Commit();
  }
  EXPECT_EQ(CountRows(database, "t"), 2);
  {
    Transaction transaction;
    closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (3)");
    EXPECT_THROW(closeData.ExecuteSQL(database.Description(), "INSERT INTO nowhere VALUES (4)"), ComError);
    EXPECT_TRUE(transaction.IsDoomed());
    const ComError error = CaughtError([&] { transaction.Commit(); });
    EXPECT_EQ(error.Number(), error_number::kTransactionAborted);
  }
  EXPECT_EQ(CountRows(database, "t"), 2);
  {
    Transaction transaction;
    closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (5)");
    // Released without a commit: rolled back.
  }
  EXPECT_EQ(CountRows(database, "t"), 2);
}

TEST_F(ExecuteSqlTest, ASecondCommitIsAnError) {
  Transaction transaction;
  closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (1)");
  transaction.Commit();
  EXPECT_THROW(transaction.Commit(), ComError);
  EXPECT_EQ(CountRows(database, "t"), 1);
}

TEST_F(ExecuteSqlTest, ConnectionsOfOneTransactionShareOneSession) {
  Transaction transaction;
  closeData.ExecuteSQL(database.Description(), "INSERT INTO t (FID) VALUES (1)");
  // A reader inside the transaction sees the uncommitted row; one outside does not.
  EXPECT_EQ(CountRows(database, "t"), 1);
  std::int32_t outside = -1;
  std::thread reader([&] { outside = CountRows(database, "t"); });
  reader.join();
  EXPECT_EQ(outside, 0);
  transaction.Commit();
}

TEST(GetObjectContext, OutsideAnyCallIsAnError) {
  EXPECT_THROW(GetObjectContext(), ComError);
}

TEST(FormatYearPeriod, WritesThePeriodWithAtLeastTwoDigits) {
  EXPECT_EQ(CCloseData::FormatYearPeriod(2011, 1), "2011.01");
  EXPECT_EQ(CCloseData::FormatYearPeriod(2011, 3), "2011.03");
  EXPECT_EQ(CCloseData::FormatYearPeriod(2011, 10), "2011.10");
  EXPECT_EQ(CCloseData::FormatYearPeriod(2011, 12), "2011.12");
  EXPECT_EQ(CCloseData::FormatYearPeriod(2011, 0), "2011.00");
  EXPECT_EQ(CCloseData::FormatYearPeriod(2011, 100), "2011.100");
  EXPECT_EQ(CCloseData::FormatYearPeriod(-5, 3), "-5.03");
}

class PeriodBoundsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ClassRegistry::Instance().Register(std::string(kCalendarProgId), saved);
    SetDiagnosticsSink(nullptr);
  }
  ClassFactory saved = [] { return std::make_shared<FiscalTerm>(); };
  DateValue start{-1.0};
  DateValue dayAfterEnd{-1.0};
};

TEST_F(PeriodBoundsTest, DayAfterTheLastDayRollsIntoTheNextMonthAndYear) {
  ASSERT_TRUE(GetPeriodBounds("", 2011, 3, start, dayAfterEnd));
  EXPECT_EQ(FormatDateIso(start), "2011-03-01");
  EXPECT_EQ(FormatDateIso(dayAfterEnd), "2011-04-01");
  ASSERT_TRUE(GetPeriodBounds("", 2011, 12, start, dayAfterEnd));
  EXPECT_EQ(FormatDateIso(dayAfterEnd), "2012-01-01");
  ASSERT_TRUE(GetPeriodBounds("", 2012, 2, start, dayAfterEnd));
  EXPECT_EQ(FormatDateIso(dayAfterEnd), "2012-03-01");
}

TEST_F(PeriodBoundsTest, FailuresGiveFalseLeaveOutputsAndReachTheDiagnosticsSink) {
  std::vector<std::string> reported;
  SetDiagnosticsSink([&](const ComError&, std::string_view where) { reported.emplace_back(where); });
  EXPECT_FALSE(GetPeriodBounds("", 2011, 13, start, dayAfterEnd));
  EXPECT_EQ(start.days, -1.0);
  EXPECT_EQ(dayAfterEnd.days, -1.0);
  ClassRegistry::Instance().Unregister(kCalendarProgId);
  EXPECT_FALSE(GetPeriodBounds("", 2011, 3, start, dayAfterEnd));
  EXPECT_EQ(start.days, -1.0);
  EXPECT_EQ(reported.size(), 2u);
}

TEST_F(PeriodBoundsTest, RequiredBoundsRaiseANamedErrorInsteadOfTheZeroDate) {
  const ComError error =
      CaughtError([&] { RequirePeriodBounds("", 2011, 13, start, dayAfterEnd, "CCloseData.SetEndBal"); });
  EXPECT_EQ(error.Number(), error_number::kPeriodDatesUnavailable);
  EXPECT_EQ(error.Source(), "CCloseData.SetEndBal");
  EXPECT_NE(error.Description().find("period 13 of year 2011"), std::string::npos);
  EXPECT_NE(error.Description().find("not in the calendar"), std::string::npos);
}

}  // namespace
}  // namespace closewright
