#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "close/CCloseData.h"
#include "close/PubFunction.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "outside/calendar/FiscalTerm.h"
#include "support/GoldenTexts.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

const std::string kIsolation = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";

// The tables the four balance steps read and write, reduced to the columns they name.
const std::vector<std::string> kTables{
    "CREATE TABLE OPCostBalance(FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FYearPeriod VARCHAR(20) NOT "
    "NULL, "
    "FYear INT NOT NULL, FPeriod INT NOT NULL, FICMOInterID INT NOT NULL DEFAULT(0), "
    "FCostCenterID INT NOT NULL DEFAULT(0), FCostItemID INT NOT NULL DEFAULT(0), FTypeID INT NOT NULL, "
    "FQty DECIMAL(28,10) NOT NULL DEFAULT(0), FBegNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0), "
    "FBegBal DECIMAL(28,10) NOT NULL DEFAULT(0), FOnlnQty DECIMAL(28,10) NOT NULL DEFAULT(0), "
    "FNotStockQty DECIMAL(28,10) NOT NULL DEFAULT(0), FEndBal DECIMAL(28,10) NOT NULL DEFAULT(0))",
    "CREATE TABLE ICMO(FInterID INT NOT NULL PRIMARY KEY, FStatus INT NOT NULL, FClosed INT NOT NULL "
    "DEFAULT(0), "
    "FCancellation INT NOT NULL DEFAULT(0), FCloseDate DATETIME NULL)",
    "CREATE TABLE OPCostWIPCheck(FYearPeriod VARCHAR(20) NOT NULL, FICMOInterID INT NOT NULL, "
    "FCostCenterID INT NOT NULL, FWIPQty DECIMAL(28,10) NOT NULL, FNotStockQty DECIMAL(28,10) NOT NULL)",
    "CREATE TABLE OPCostCalinfo(FYearPeriod VARCHAR(20) NOT NULL, FICMOInterID INT NOT NULL, "
    "FCostCenterID INT NOT NULL, FCostItemID INT NOT NULL, FOnlineAmount DECIMAL(28,10) NOT NULL)",
    "CREATE TABLE OPCostCalinfoDetail(FYear INT NOT NULL, FPeriod INT NOT NULL, FICMOInterID INT NOT NULL, "
    "FCostCenterID INT NOT NULL, FCostItemID INT NOT NULL, FMaterielID INT NOT NULL, FBatchNo VARCHAR(50) "
    "NOT NULL, "
    "FOnlineQty DECIMAL(28,10) NOT NULL, FNotStockQty DECIMAL(28,10) NOT NULL, "
    "FOnlineAmount DECIMAL(28,10) NOT NULL)",
    "CREATE TABLE OPCostObjDetail(FYearPeriod VARCHAR(20) NOT NULL, FYear INT NOT NULL, FPeriod INT NOT "
    "NULL, "
    "FICMOInterID INT NOT NULL, FCostCenterID INT NOT NULL, FCostItemID INT NOT NULL, FMaterielID INT NOT "
    "NULL, "
    "FBatchNo VARCHAR(50) NOT NULL DEFAULT(''), FBegUnOutQty DECIMAL(28,10) NOT NULL DEFAULT(0), "
    "FBegUnInQty DECIMAL(28,10) NOT NULL DEFAULT(0), FUsedAmount DECIMAL(28,10) NOT NULL DEFAULT(0), "
    "FPrice DECIMAL(28,10) NOT NULL DEFAULT(0))",
    "CREATE TABLE t_SystemProfile(FCategory VARCHAR(30) NOT NULL, FKey VARCHAR(30) NOT NULL, "
    "FValue VARCHAR(255) NULL)",
    "CREATE TABLE OPCostDeputyInfo(FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FYear INT NOT NULL, "
    "FPeriod INT NOT NULL, FYearPeriod VARCHAR(20) NOT NULL, FCostItemID INT NOT NULL, FProductID INT NOT "
    "NULL, "
    "FAmount DECIMAL(28,10) NOT NULL DEFAULT(0))",
};

// Period 2011/3 as the cost calculation left it, for the ending-balance step. Tasks: 1 open; 2 closed with a
// quantity left; 3 closed, quantities cancelling out but an amount left; 4 closed on the day after the period
// end; 5 closed on the period's last evening with nothing left; 6 and 7 cancelled.
const std::vector<std::string> kEndLedger{
    "INSERT INTO ICMO(FInterID,FStatus,FClosed,FCancellation,FCloseDate) VALUES (1,1,0,0,NULL),"
    "(2,3,0,0,'2011-03-15'),(3,3,0,0,'2011-03-15'),(4,3,0,0,'2011-04-01'),(5,3,0,0,'2011-03-31 23:00:00'),"
    "(6,1,0,1,NULL),(7,3,0,1,'2011-05-10')",
    "INSERT INTO OPCostWIPCheck(FYearPeriod,FICMOInterID,FCostCenterID,FWIPQty,FNotStockQty) VALUES "
    "('2011.03',1,100,4,1),('2011.03',1,200,0,0),('2011.03',2,100,0,3),('2011.03',3,100,5,-5),"
    "('2011.03',4,100,0,0),('2011.03',5,100,0,0),('2011.03',6,100,8,0),('2011.03',7,100,9,0),"
    "('2011.02',1,100,99,0)",
    "INSERT INTO OPCostCalinfo(FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FOnlineAmount) VALUES "
    "('2011.03',1,100,10,12.5),('2011.03',1,100,20,0),('2011.03',2,100,10,0),('2011.03',3,100,10,7),"
    "('2011.03',4,100,10,0),('2011.03',5,100,10,0),('2011.03',6,100,10,3),('2011.03',7,100,10,3),"
    "('2011.02',1,100,10,99)",
    // Earlier ending rows of the period, zero and non-zero, and rows of other kinds and periods.
    "INSERT INTO "
    "OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FTypeID,FQty,FOnlnQty,FEndBal) "
    "VALUES "
    "('2011.03',2011,3,9,100,3,0,0,0),('2011.03',2011,3,1,100,3,0,1,0),('2011.03',2011,3,9,100,4,0,0,0),"
    "('2011.03',2011,3,2,100,4,0,0,5),('2011.03',2011,3,9,100,1,6,0,0),('2011.02',2011,2,9,100,3,0,2,0),"
    "('2011.04',2011,4,9,100,3,0,2,0),('2011.04',2011,4,9,100,4,0,0,2)",
};

// Period 2011/3 closed, for the beginning-balance step into 2011/4. Tasks: 11 finished with amounts summing
// to zero; 12 finished with quantities but no amount row; 13 closed but FClosed set; 14 closed on the next
// period's first day; 15 closed with amounts not summing to zero; 16 open.
const std::vector<std::string> kBeginLedger{
    "INSERT INTO ICMO(FInterID,FStatus,FClosed,FCancellation,FCloseDate) VALUES (11,3,0,0,'2011-03-20'),"
    "(12,3,0,0,'2011-03-20'),(13,3,1,0,'2011-03-20'),(14,3,0,0,'2011-04-01'),(15,3,0,0,'2011-03-20'),"
    "(16,1,0,0,NULL)",
    "INSERT INTO "
    "OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,FOnlnQty,"
    "FNotStockQty,FEndBal,FQty) VALUES "
    "('2011.03',2011,3,11,100,0,3,5,0,0,0),('2011.03',2011,3,12,100,0,3,2,1,0,0),"
    "('2011.03',2011,3,13,100,0,3,1,0,0,0),('2011.03',2011,3,14,100,0,3,0,0,0,0),"
    "('2011.03',2011,3,15,100,0,3,3,0,0,0),('2011.03',2011,3,16,100,0,3,4,2,0,0),"
    "('2011.03',2011,3,11,100,1,4,0,0,0.1,0),('2011.03',2011,3,11,100,2,4,0,0,0.2,0),"
    "('2011.03',2011,3,11,100,3,4,0,0,-0.3,0),('2011.03',2011,3,13,100,1,4,0,0,4,0),"
    "('2011.03',2011,3,13,100,2,4,0,0,-4,0),('2011.03',2011,3,14,100,1,4,0,0,0,0),"
    "('2011.03',2011,3,15,100,1,4,0,0,5,0),('2011.03',2011,3,15,100,2,4,0,0,-3,0),"
    "('2011.03',2011,3,16,100,1,4,0,0,7,0),('2011.03',2011,3,16,100,0,1,0,0,0,50),"
    "('2011.04',2011,4,99,100,0,1,0,0,0,1),('2011.04',2011,4,99,100,1,2,0,0,0,0),"
    "('2011.04',2011,4,98,100,0,3,1,0,0,0),('2011.05',2011,5,97,100,0,1,0,0,0,1)",
    "INSERT INTO "
    "OPCostCalinfoDetail(FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,FBatchNo,"
    "FOnlineQty,FNotStockQty,FOnlineAmount) VALUES "
    "(2011,3,16,100,1,501,'B1',4,0,10),(2011,3,16,100,1,502,'',0,0,0),"
    "(2011,3,16,100,1,503,'',1,-1,3),(2011,3,16,100,1,504,'',0,0,5),(2011,3,15,100,1,505,'',0,2,6),"
    "(2011,3,11,100,1,506,'',2,0,3),(2011,3,12,100,1,507,'',1,0,1),(2011,2,16,100,1,508,'',1,0,1)",
    "INSERT INTO "
    "OPCostObjDetail(FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,"
    "FBegUnOutQty,FUsedAmount,FPrice) VALUES ('2011.04',2011,4,99,100,1,509,1,1,1),"
    "('2011.05',2011,5,97,100,1,510,1,1,1)",
};

const std::vector<std::string> kSettingsLedger{
    "INSERT INTO t_SystemProfile(FCategory,FKey,FValue) VALUES ('OPCost','CurrentYear','2011'),"
    "('OPCost','CurrentPeriod','2'),('GL','CurrentPeriod','7')",
};

const std::vector<std::string> kDeputyLedger{
    "INSERT INTO OPCostDeputyInfo(FYear,FPeriod,FYearPeriod,FCostItemID,FProductID,FAmount) VALUES "
    "(2011,3,'2011.03',1,701,10),(2011,3,'2011.03',2,701,20),(2011,4,'2011.04',9,799,1),"
    "(2011,5,'2011.05',1,701,30),(2010,3,'2010.03',1,701,40),(2011,1,'2011.01',3,700,5)",
};

// The calendar stand-in, except that period 12 of 9999 ends on the evening before the last day a date can
// hold.
class EveningBeforeTheLastDay : public FiscalTerm {
 public:
  Variant Invoke(DispatchId id, std::span<Variant> arguments) override {
    Variant result = FiscalTerm::Invoke(id, arguments);
    if (arguments[1].ToLong() == 12 && arguments[2].ToLong() == 9999)
      arguments[4] = MakeDate(9999, 12, 30, 23, 59);
    return result;
  }
};

class BalanceStepsTest : public ::testing::Test {
 protected:
  void SetUp() override { Run(kTables); }
  void TearDown() override {
    SetSqlTraceSink(nullptr);
    ClassRegistry::Instance().Register(std::string(kCalendarProgId),
                                       [] { return std::make_shared<FiscalTerm>(); });
  }

  void Run(const std::vector<std::string>& statements) {
    Connection cn;
    cn.Open(connectString_);
    for (const std::string& statement : statements) cn.Execute(statement);
    cn.Close();
  }

  // A value as the expectations write it: an exact number by its value, without the zeros its column's
  // scale puts after it (12.5000000000 is 12.5).
  static std::string Shown(const Variant& value) {
    if (value.IsNull()) return "NULL";
    std::string text = value.ToString();
    if (value.Type() == VariantType::Decimal && text.find('.') != std::string::npos) {
      text.erase(text.find_last_not_of('0') + 1);
      if (text.back() == '.') text.pop_back();
    }
    return text;
  }

  // Each row as its values joined by '|'.
  std::vector<std::string> Rows(const std::string& select) {
    Connection cn;
    cn.Open(connectString_);
    Recordset rs;
    rs.Open(select, cn);
    std::vector<std::string> rows;
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string row;
      bool first = true;
      for (const Field& field : rs.GetFields()) {
        if (!first) row += '|';
        first = false;
        row += Shown(field.Value());
      }
      rows.push_back(row);
    }
    rs.Close();
    cn.Close();
    return rows;
  }

  std::vector<std::string> Snapshot() {
    std::vector<std::string> all;
    for (const char* table : {"OPCostBalance", "OPCostObjDetail", "t_SystemProfile", "OPCostDeputyInfo"}) {
      all.push_back(std::string("-- ") + table);
      for (std::string& row : Rows(std::string("SELECT * FROM ") + table)) all.push_back(std::move(row));
    }
    return all;
  }

  // The texts a call sends, in order.
  std::vector<std::string> Traced(const std::function<void()>& call) {
    std::vector<std::string> texts;
    SetSqlTraceSink([&](std::int32_t, std::string_view, std::string_view text) { texts.emplace_back(text); });
    call();
    SetSqlTraceSink(nullptr);
    return texts;
  }

  Variant Call(const std::string& method, std::vector<Variant> arguments) {
    CCloseData object;
    return object.InvokeByName(method, arguments);
  }

  testing::TemporaryDatabase database_;
  const std::string connectString_ = database_.ConnectString();
  const std::string dsn_ = database_.Description();
};

constexpr const char* kBalanceColumns =
    "SELECT "
    "FTypeID,FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FQty,FBegNotStockQty,FBegBal,"
    "FOnlnQty,FNotStockQty,FEndBal FROM OPCostBalance ";

TEST_F(BalanceStepsTest, EndBalancesKeepOnlyTasksThatStillMatterForTheNextPeriod) {
  Run(kEndLedger);
  CCloseData().SetEndBal(dsn_, 2011, 3);
  const std::string query =
      std::string(kBalanceColumns) + "ORDER BY FYear,FPeriod,FTypeID,FICMOInterID,FCostCenterID,FCostItemID";
  // Kind 3: the open task, the task with a quantity left and the one closed after the period; cost item 0.
  // Kind 4: the open task, the task with an amount left and the one closed after the period.
  EXPECT_EQ(Rows(query), (std::vector<std::string>{
                             "3|2011.02|2011|2|9|100|0|0|0|0|2|0|0",
                             "1|2011.03|2011|3|9|100|0|6|0|0|0|0|0",
                             "3|2011.03|2011|3|1|100|0|0|0|0|4|1|0",
                             "3|2011.03|2011|3|1|200|0|0|0|0|0|0|0",
                             "3|2011.03|2011|3|2|100|0|0|0|0|0|3|0",
                             "3|2011.03|2011|3|4|100|0|0|0|0|0|0|0",
                             "4|2011.03|2011|3|1|100|10|0|0|0|0|0|12.5",
                             "4|2011.03|2011|3|1|100|20|0|0|0|0|0|0",
                             "4|2011.03|2011|3|3|100|10|0|0|0|0|0|7",
                             "4|2011.03|2011|3|4|100|10|0|0|0|0|0|0",
                             "3|2011.04|2011|4|9|100|0|0|0|0|2|0|0",
                             "4|2011.04|2011|4|9|100|0|0|0|0|0|0|2",
                         }));

  // Re-running gives the same rows; a period without source rows ends up without ending rows.
  const std::vector<std::string> once = Rows(query);
  CCloseData().SetEndBal(dsn_, 2011, 3);
  EXPECT_EQ(Rows(query), once);
  CCloseData().SetEndBal(dsn_, 2011, 4);
  EXPECT_TRUE(Rows(std::string(kBalanceColumns) + "WHERE FYear=2011 AND FPeriod=4").empty());
}

TEST_F(BalanceStepsTest, ClosingAPeriodTheCalendarCannotResolveFailsBeforeAnythingIsSent) {
  Run(kEndLedger);
  Run(kBeginLedger);
  const std::vector<std::string> before = Snapshot();

  std::vector<std::string> sent = Traced([&] {
    try {
      CCloseData().SetEndBal(dsn_, 2011, 13);
      ADD_FAILURE() << "SetEndBal closed a period the calendar does not know";
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), -2147205051);
      EXPECT_EQ(error.Source(), "CCloseData.SetEndBal");
      EXPECT_NE(error.Description().find("2011"), std::string::npos) << error.Description();
      EXPECT_NE(error.Description().find("13"), std::string::npos) << error.Description();
    }
  });
  EXPECT_TRUE(sent.empty());

  // The beginning step looks the next period up after opening its connection: only the isolation goes out.
  sent = Traced([&] {
    try {
      CCloseData().SetBegBal(dsn_, 2011, 12, 2011, 13);
      ADD_FAILURE() << "SetBegBal opened a period the calendar does not know";
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), -2147205051);
      EXPECT_EQ(error.Source(), "CCloseData.SetBegBal");
    }
  });
  EXPECT_EQ(sent, std::vector<std::string>{kIsolation});
  EXPECT_EQ(Snapshot(), before);

  // The last period of the calendar ends on 9999-12-31: the day after it, which the ending step compares
  // close dates with, is no date, so the period is as unresolvable as one the calendar does not know.
  sent = Traced([&] {
    const ComError error = testing::CaughtError([&] { CCloseData().SetEndBal(dsn_, 9999, 12); });
    EXPECT_EQ(error.Number(), -2147205051);
    EXPECT_EQ(error.Source(), "CCloseData.SetEndBal");
    EXPECT_NE(error.Description().find("9999-12-31"), std::string::npos) << error.Description();
  });
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Snapshot(), before);

  // Ending on the evening before, the period still has a day after it.
  ClassRegistry::Instance().Register(std::string(kCalendarProgId),
                                     [] { return std::make_shared<EveningBeforeTheLastDay>(); });
  sent = Traced([&] { CCloseData().SetEndBal(dsn_, 9999, 12); });
  ASSERT_EQ(sent.size(), 5u);
  EXPECT_NE(sent[2].find("b.fCloseDate>='9999-12-31'"), std::string::npos) << sent[2];
}

TEST_F(BalanceStepsTest, BeginBalancesIntoTheClosedPeriodItselfAreRefusedBeforeAnythingIsSent) {
  Run(kEndLedger);
  Run(kBeginLedger);
  const std::vector<std::string> before = Snapshot();
  const std::vector<std::string> sent = Traced([&] {
    const ComError error = testing::CaughtError([&] { CCloseData().SetBegBal(dsn_, 2011, 3, 2011, 3); });
    EXPECT_EQ(error.Number(), -2147205050);
    EXPECT_EQ(error.Source(), "CCloseData.SetBegBal");
    EXPECT_NE(error.Description().find("2011.03"), std::string::npos) << error.Description();
  });
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(BalanceStepsTest, BeginBalancesLeaveFinishedTasksBehindAndCarryTheRestInFull) {
  Run(kBeginLedger);
  CCloseData().SetBegBal(dsn_, 2011, 3, 2011, 4);
  const std::string balances =
      std::string(kBalanceColumns) +
      "WHERE FYear=2011 AND FPeriod>=4 ORDER BY FPeriod,FTypeID,FICMOInterID,FCostCenterID,FCostItemID";
  const std::string details =
      "SELECT "
      "FYearPeriod,FYear,FPeriod,FICMOInterID,FMaterielID,FBatchNo,FBegUnOutQty,FBegUnInQty,FUsedAmount,"
      "FPrice "
      "FROM OPCostObjDetail ORDER BY FYear,FPeriod,FMaterielID";
  // Tasks 11 and 12 are finished; 13 to 16 are carried. The stale kinds 1 and 2 of task 99 are gone; the
  // next period's kind 3 and the following period stay.
  EXPECT_EQ(Rows(balances), (std::vector<std::string>{
                                "1|2011.04|2011|4|13|100|0|1|0|0|0|0|0",
                                "1|2011.04|2011|4|14|100|0|0|0|0|0|0|0",
                                "1|2011.04|2011|4|15|100|0|3|0|0|0|0|0",
                                "1|2011.04|2011|4|16|100|0|4|2|0|0|0|0",
                                "2|2011.04|2011|4|13|100|1|0|0|4|0|0|0",
                                "2|2011.04|2011|4|13|100|2|0|0|-4|0|0|0",
                                "2|2011.04|2011|4|14|100|1|0|0|0|0|0|0",
                                "2|2011.04|2011|4|15|100|1|0|0|5|0|0|0",
                                "2|2011.04|2011|4|15|100|2|0|0|-3|0|0|0",
                                "2|2011.04|2011|4|16|100|1|0|0|7|0|0|0",
                                "3|2011.04|2011|4|98|100|0|0|0|0|1|0|0",
                                "1|2011.05|2011|5|97|100|0|1|0|0|0|0|0",
                            }));
  // All-zero and finished tasks' details stay behind; quantities that cancel out keep the default price.
  EXPECT_EQ(Rows(details), (std::vector<std::string>{
                               "2011.04|2011|4|16|501|B1|4|0|10|2.5",
                               "2011.04|2011|4|16|503||1|-1|3|0",
                               "2011.04|2011|4|16|504||0|0|5|0",
                               "2011.04|2011|4|15|505||0|2|6|3",
                               "2011.05|2011|5|97|510||1|0|1|1",
                           }));

  // Re-running, even over a finished-task list left on the session by someone else, gives the same rows.
  const std::vector<std::string> once = Rows(balances);
  const std::vector<std::string> onceDetails = Rows(details);
  {
    Transaction transaction;
    CCloseData().ExecuteSQL(dsn_,
                            "CREATE TABLE #OPCostCalinfo(FICMOInterID INT NOT NULL) "
                            "INSERT INTO #OPCostCalinfo(FICMOInterID) VALUES (16)");
    CCloseData().SetBegBal(dsn_, 2011, 3, 2011, 4);
    transaction.Commit();
  }
  EXPECT_EQ(Rows(balances), once);
  EXPECT_EQ(Rows(details), onceDetails);
}

TEST_F(BalanceStepsTest, SwitchingForwardMovesOnlyTheTwoSettings) {
  Run(kSettingsLedger);
  Run(kBeginLedger);
  const std::string settings = "SELECT FCategory,FKey,FValue FROM t_SystemProfile ORDER BY FCategory,FKey";
  const std::string balances = std::string(kBalanceColumns) + "ORDER BY FID";
  const std::vector<std::string> balancesBefore = Rows(balances);

  EXPECT_TRUE(CCloseData().SetCurrentPeriod(dsn_, 2011, 3).IsEmpty());
  EXPECT_EQ(Rows(settings), (std::vector<std::string>{"GL|CurrentPeriod|7", "OPCost|CurrentPeriod|3",
                                                      "OPCost|CurrentYear|2011"}));
  Variant no(false);
  CCloseData().SetCurrentPeriod(dsn_, 2012, 1, &no);
  EXPECT_EQ(Rows(settings)[1], "OPCost|CurrentPeriod|1");
  EXPECT_EQ(Rows(settings)[2], "OPCost|CurrentYear|2012");
  // Late-bound without the optional flag, as a caller that leaves it out.
  EXPECT_TRUE(Call("SetCurrentPeriod", {Variant(dsn_), Variant(2011), Variant(4)}).IsEmpty());
  EXPECT_EQ(Rows(settings)[1], "OPCost|CurrentPeriod|4");
  EXPECT_EQ(Rows(balances), balancesBefore);
}

TEST_F(BalanceStepsTest, ReopeningDiscardsLaterPeriodsAndTheReopenedPeriodsEndingRows) {
  Run(kSettingsLedger);
  std::string insert = "INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FTypeID) VALUES ";
  for (const auto& [year, period] :
       std::vector<std::pair<int, int>>{{2010, 12}, {2011, 9}, {2011, 10}, {2011, 11}, {2012, 1}}) {
    for (int kind = 1; kind <= 4; ++kind) {
      insert += (insert.back() == ' ' ? "" : ",") + std::string("('") +
                CCloseData::FormatYearPeriod(year, period) + "'," + std::to_string(year) + "," +
                std::to_string(period) + ",1," + std::to_string(kind) + ")";
    }
  }
  Run({insert});

  // Any non-zero value counts as True, and the by-reference flag comes back as it went in.
  std::vector<Variant> arguments{Variant(dsn_), Variant(2011), Variant(10), Variant(std::int32_t{1})};
  CCloseData().InvokeByName("SetCurrentPeriod", arguments);
  EXPECT_EQ(arguments[3], Variant(std::int32_t{1}));

  // Period 10 compares as 2011.001: after 9, before 11.
  EXPECT_EQ(Rows("SELECT FYear,FPeriod,FTypeID FROM OPCostBalance ORDER BY FYear,FPeriod,FTypeID"),
            (std::vector<std::string>{"2010|12|1", "2010|12|2", "2010|12|3", "2010|12|4", "2011|9|1",
                                      "2011|9|2", "2011|9|3", "2011|9|4", "2011|10|1", "2011|10|2"}));
  EXPECT_EQ(Rows("SELECT FValue FROM t_SystemProfile WHERE FCategory='OPCost' ORDER BY FKey"),
            (std::vector<std::string>{"10", "2011"}));
}

TEST_F(BalanceStepsTest, DeputyDataReplacesTheNextPeriodAndNothingElse) {
  Run(kDeputyLedger);
  const std::string others =
      "SELECT FYearPeriod,FYear,FPeriod,FCostItemID,FProductID,FAmount FROM OPCostDeputyInfo "
      "WHERE FYearPeriod<>'2011.04' ORDER BY FID";
  const std::string next =
      "SELECT FYearPeriod,FYear,FPeriod,FCostItemID,FProductID,FAmount FROM OPCostDeputyInfo "
      "WHERE FYearPeriod='2011.04' ORDER BY FCostItemID";
  const std::vector<std::string> othersBefore = Rows(others);

  CCloseData().SetCostDeputyData(dsn_, 2011, 3, 2011, 4);
  CCloseData().SetCostDeputyData(dsn_, 2011, 3, 2011, 4);
  EXPECT_EQ(Rows(next), (std::vector<std::string>{"2011.04|2011|4|1|701|10", "2011.04|2011|4|2|701|20"}));
  EXPECT_EQ(Rows(others), othersBefore);

  // An empty closed period empties the next one.
  CCloseData().SetCostDeputyData(dsn_, 2010, 12, 2011, 1);
  EXPECT_TRUE(Rows("SELECT FID FROM OPCostDeputyInfo WHERE FYearPeriod='2011.01'").empty());

  // The closed period named as its own next period is refused before anything is sent.
  const std::vector<std::string> before = Snapshot();
  const std::vector<std::string> sent = Traced([&] {
    try {
      CCloseData().SetCostDeputyData(dsn_, 2011, 3, 2011, 3);
      ADD_FAILURE() << "the closed period was carried onto itself";
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), -2147205050);
      EXPECT_EQ(error.Source(), "CCloseData.SetCostDeputyData");
      EXPECT_NE(error.Description().find("2011.03"), std::string::npos) << error.Description();
    }
  });
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(BalanceStepsTest, AFailureAtAnyStatementLeavesTheDatabaseAsItWas) {
  Run(kEndLedger);
  Run(kBeginLedger);
  Run(kSettingsLedger);
  Run(kDeputyLedger);
  Run(
      {"INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FTypeID) VALUES "
       "('2011.05',2011,5,1,3)"});

  struct Step {
    const char* name;
    int statements;
    std::function<void()> call;
  };
  const std::vector<Step> steps{
      {"SetEndBal", 4, [&] { CCloseData().SetEndBal(dsn_, 2011, 3); }},
      {"SetBegBal", 9, [&] { CCloseData().SetBegBal(dsn_, 2011, 3, 2011, 4); }},
      {"SetCurrentPeriod", 2,
       [&] {
         Variant yes(true);
         CCloseData().SetCurrentPeriod(dsn_, 2011, 3, &yes);
       }},
      {"SetCostDeputyData", 2, [&] { CCloseData().SetCostDeputyData(dsn_, 2011, 3, 2011, 4); }},
  };
  for (const Step& step : steps) {
    const std::vector<std::string> before = Snapshot();
    for (int failing = 1; failing <= step.statements; ++failing) {
      SCOPED_TRACE(std::string(step.name) + ", statement " + std::to_string(failing));
      int count = 0;
      SetSqlTraceSink([&](std::int32_t, std::string_view, std::string_view text) {
        if (text != kIsolation && ++count == failing)
          throw ComError(-1, "BalanceStepsTest", "injected failure");
      });
      EXPECT_THROW(step.call(), ComError);
      SetSqlTraceSink(nullptr);
      EXPECT_EQ(Snapshot(), before);
    }
    // Unhindered, the step does change the ledger, so the comparisons above were not vacuous.
    step.call();
    EXPECT_NE(Snapshot(), before) << step.name;
  }

  // A real server error half-way through: the ending quantities deleted by the first statement come back.
  Run(
      {"INSERT INTO OPCostBalance(FYearPeriod,FYear,FPeriod,FICMOInterID,FTypeID) VALUES "
       "('2011.03',2011,3,1,3)",
       "DROP TABLE OPCostWIPCheck"});
  const std::vector<std::string> before = Snapshot();
  EXPECT_THROW(CCloseData().SetEndBal(dsn_, 2011, 3), ComError);
  EXPECT_EQ(Snapshot(), before);
}

// The texts each step sends, byte for byte, called late-bound as a caller does: the isolation statement of
// the connection, then the step's own texts, as tests/golden records them.
TEST_F(BalanceStepsTest, EachStepSendsItsStatementTextsByteForByte) {
  const auto expectGolden = [](const std::string& golden, const std::vector<std::string>& sent) {
    EXPECT_EQ(sent, testing::GoldenTexts(golden, sent)) << golden;
  };
  const std::vector<std::string> endBal = Traced([&] {
    Call("SetEndBal", {Variant(dsn_), Variant(2011), Variant(3)});
  });
  expectGolden("SetEndBal-2011.03.txt", endBal);
  const std::vector<std::string> begBal = Traced([&] {
    Call("SetBegBal", {Variant(dsn_), Variant(2011), Variant(12), Variant(2012), Variant(1)});
  });
  expectGolden("SetBegBal-2011.12-2012.01.txt", begBal);
  const std::vector<std::string> forward = Traced([&] {
    Call("SetCurrentPeriod", {Variant(dsn_), Variant(2011), Variant(3)});
  });
  expectGolden("SetCurrentPeriod-2011.03.txt", forward);
  const std::vector<std::string> reopen = Traced([&] {
    Call("SetCurrentPeriod", {Variant(dsn_), Variant(2011), Variant(10), Variant(true)});
  });
  expectGolden("SetCurrentPeriod-reopen-2011.10.txt", reopen);
  const std::vector<std::string> deputy = Traced([&] {
    Call("SetCostDeputyData", {Variant(dsn_), Variant(2011), Variant(12), Variant(2012), Variant(1)});
  });
  expectGolden("SetCostDeputyData-2011.12-2012.01.txt", deputy);
  // Periods written into the reopen comparison in their shortest form.
  for (const auto& [period, number] :
       std::vector<std::pair<int, std::string>>{{3, "2011.0003"}, {12, "2011.0012"}}) {
    const std::vector<std::string> sent = Traced([&, period = period] {
      Call("SetCurrentPeriod", {Variant(dsn_), Variant(2011), Variant(period), Variant(true)});
    });
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_NE(sent[2].find("FYear+0.0001*FPeriod > " + number + "\r\n"), std::string::npos) << sent[2];
  }
}

}  // namespace
}  // namespace closewright
