#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "close/CCloseData.h"
#include "close/CCloseDataTestPeer.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dictionary.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "outside/numbering/Numerist.h"
#include "support/GoldenTexts.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::Recorder;
using testing::SentText;
using testing::TemporaryDatabase;

const std::string kIsolation = "SET TRANSACTION ISOLATION LEVEL READ COMMITTED";

// What SetStandardData sends for closed period 2011/12 and next period 2012/1 over three source bills: the
// isolation statement, the ten setting-table statements, the source-bill and id-counter queries, the bill
// script.
const std::string kGolden = "SetStandardData-2011.12-2012.01.txt";
constexpr std::size_t kSourceBillsQuery = 11;
constexpr std::size_t kIdCounterQuery = 12;

// clang-format off
// Period 2011/3 and its neighbours. Tasks: 1 closed mid-period; 2 closed on the day after the period end;
// 3 closed later; 4 open; 5 closed on the period's last evening; 6 open though it carries a close date.
const std::vector<std::string> kLedger{
    "INSERT INTO ICMO(FInterID,FStatus,FCloseDate) VALUES (1,3,'2011-03-15'),(2,3,'2011-04-01'),"
      "(3,3,'2011-05-10'),(4,1,NULL),(5,3,'2011-03-31 18:00:00'),(6,1,'2011-03-10')",
    "INSERT INTO OPCostStandardData(FID,FClassTypeID,FBillNo,FStandardID,FStandardNum,FStandardName,FWorkProcStep,FYearPeriod,FISImport) VALUES "
      "(9,1,'SD-9',19,'N9','Nine',3,'2011.03',1),(5,1,'SD-5',15,'N5','Five',1,'2011.03',0),"
      "(7,2,'SD-7',17,'N7','Seven',2,'2011.03',0),(1,1,'SD-1',11,'N1','One',1,'2011.02',0),"
      "(50,1,'SD-50',150,'N50','Old',1,'2011.04',0)",
    "INSERT INTO OPCostStandardDataEntry(FID,FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,FQty,FICMOInterID,FICMONo,FOperSN) VALUES "
      "(5,1,'C51','D51','CC51','Center 51','W51',1.5,1,'MO1',10),(5,2,'C52','D52','CC52','Center 52','W52',2.25,2,'MO2',20),"
      "(5,3,'C53','D53','CC53','Center 53','W53',3,0,'',30),(7,1,'C71','D71','CC71','Center 71','W71',4,5,'MO5',10),"
      "(9,1,'C91','D91','CC91','Center 91','W91',5,3,'MO3',10),(9,2,'C92','D92','CC92','Center 92','W92',6,4,'MO4',20),"
      "(9,3,'C93','D93','CC93','Center 93','W93',7,6,'MO6',30),(1,1,'C11','D11','CC11','Center 11','W11',8,4,'MO4',10),"
      "(50,1,'C501','D501','CC501','Center 501','W501',9,4,'MO4',10)",
    "INSERT INTO ICMaxNum(FTableName,FMaxNum) VALUES ('OPCostStandardData',100),('OPCostBalance',7)",
    "INSERT INTO OPCostRationStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID) VALUES "
      "('2011.03',2011,3,1,2,3,4,5.5,6,7),('2011.03',2011,3,11,12,13,14,15,16,17),('2011.04',2011,4,91,92,93,94,95,96,97),"
      "('2011.05',2011,5,81,82,83,84,85,86,87)",
    "INSERT INTO OPCostTaxonStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty) VALUES "
      "('2011.03',2011,3,1,2,3,4,5,6.25),('2011.04',2011,4,91,92,93,94,95,96)",
    "INSERT INTO OPCostStandardSet(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType) VALUES "
      "('2011.03',2011,3,1,2,3,4,1,5),('2011.03',2011,3,11,12,13,14,0,15)",
    // No rows of the closed period: the next period's old row must go all the same.
    "INSERT INTO OPCostTaxonSet(FYearPeriod,FYear,FPeriod,FCostObjID,FStandardID,FDeptAll) VALUES "
      "('2011.04',2011,4,91,92,1),('2011.02',2011,2,81,82,0)",
    "INSERT INTO OPCostStandardSetOnPro(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID) VALUES "
      "('2011.03',2011,3,1,2,3,4,1,5,6),('2011.04',2011,4,91,92,93,94,0,95,96)",
};
// clang-format on

struct SettingTable {
  const char* name;
  const char* copiedColumns;
};

const std::vector<SettingTable> kSettingTables{
    {"OPCostRationStandardInfo",
     "FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID"},
    {"OPCostTaxonStandardInfo", "FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty"},
    {"OPCostStandardSet", "FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType"},
    {"OPCostTaxonSet", "FCostObjID,FStandardID,FDeptAll"},
    {"OPCostStandardSetOnPro",
     "FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID"},
};

const char* const kLineColumns =
    "FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,FQty,FICMOInterID,FICMONo,FOperSN";

// A numbering component that answers as the test says, standing in for the registered one while it lives.
class ScriptedNumbering : public Dispatch {
 public:
  using Answer = std::function<Variant(std::span<Variant> arguments)>;
  explicit ScriptedNumbering(Answer answer) : answer_(std::move(answer)) {}
  DispatchId GetIDOfName(std::string_view name) override {
    static constexpr DispatchMember members[]{{"GetNewBillID", 1}};
    return FindDispatchMember(members, name);
  }
  Variant Invoke(DispatchId, std::span<Variant> arguments) override { return answer_(arguments); }

 private:
  Answer answer_;
};

class NumberingReplacement {
 public:
  explicit NumberingReplacement(ScriptedNumbering::Answer answer) {
    auto numbering = std::make_shared<ScriptedNumbering>(std::move(answer));
    ClassRegistry::Instance().Register(std::string(kNumberingProgId), [numbering] { return numbering; });
  }
  ~NumberingReplacement() { RegisterNumberingComponent(ClassRegistry::Instance()); }
  NumberingReplacement(const NumberingReplacement&) = delete;
  NumberingReplacement& operator=(const NumberingReplacement&) = delete;
};

// Fills the result dictionary with the given numbers under "1".."n".
ScriptedNumbering::Answer Answering(std::vector<std::string> numbers, Variant returned = Variant("ignored")) {
  return [numbers = std::move(numbers), returned](std::span<Variant> arguments) {
    auto result = std::dynamic_pointer_cast<Dictionary>(arguments[3].ToObject());
    for (std::size_t i = 0; i < numbers.size(); ++i) result->Add(std::to_string(i + 1), numbers[i]);
    return returned;
  };
}

class StandardStepsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterNumberingComponent(ClassRegistry::Instance());
    std::ifstream schema(CLOSEWRIGHT_SOURCE_DIR "/schema/closewright.sql", std::ios::binary);
    std::stringstream text;
    text << schema.rdbuf();
    Run({text.str()});
  }

  void TearDown() override {
    SetSqlTraceSink(nullptr);
    SetDiagnosticsSink(nullptr);
  }

  void Run(const std::vector<std::string>& statements) {
    Connection cn;
    cn.Open(db_.ConnectString());
    for (const std::string& statement : statements) cn.Execute(statement);
    cn.Close();
  }

  // Each row as its values joined by '|'.
  std::vector<std::string> Rows(const std::string& select) {
    Recordset rs;
    rs.Open(select, db_.ConnectString());
    std::vector<std::string> rows;
    for (; !rs.Eof(); rs.MoveNext()) {
      std::string row;
      for (const Field& field : rs.GetFields()) {
        if (!row.empty()) row += '|';
        row += field.Value().IsNull() ? "NULL" : field.Value().ToString();
      }
      rows.push_back(row);
    }
    rs.Close();
    return rows;
  }

  // Every table the step reads or writes, the numbering counters included once they exist.
  std::vector<std::string> Snapshot() {
    std::vector<std::string> all;
    auto add = [&](const std::string& select) {
      all.push_back("-- " + select);
      for (const std::string& row : Rows(select)) all.push_back(row);
    };
    for (const SettingTable& table : kSettingTables) {
      add(std::string("SELECT FID,FYearPeriod,FYear,FPeriod,") + table.copiedColumns + " FROM " + table.name +
          " ORDER BY FID");
    }
    add("SELECT * FROM OPCostStandardData ORDER BY FID");
    add("SELECT * FROM OPCostStandardDataEntry ORDER BY FDetailID");
    add("SELECT * FROM ICMaxNum ORDER BY FTableName");
    try {
      add("SELECT * FROM t_BillNoCounter ORDER BY FBillType");
    } catch (const ComError&) {
      all.push_back("-- no number counters yet");
    }
    return all;
  }

  // The copied columns of one setting table's rows of one period, in row order.
  std::vector<std::string> Settings(const SettingTable& table, int year, int period) {
    return Rows(std::string("SELECT FYearPeriod,") + table.copiedColumns + " FROM " + table.name +
                " WHERE FYear=" + std::to_string(year) + " AND FPeriod=" + std::to_string(period) +
                " ORDER BY FID");
  }

  std::vector<std::string> Lines(const std::string& where) {
    return Rows(std::string("SELECT ") + kLineColumns + " FROM OPCostStandardDataEntry WHERE " + where +
                " ORDER BY FIndex");
  }

  TemporaryDatabase db_;
  std::string dsn_ = db_.Description();
};

TEST_F(StandardStepsTest, SendsTheTenStatementsAndTheBillScriptByteForByte) {
  Run({"INSERT INTO OPCostStandardData(FID,FYearPeriod) VALUES (9,'2011.12'),(5,'2011.12'),(7,'2011.12')",
       "INSERT INTO ICMaxNum(FTableName,FMaxNum) VALUES ('OPCostStandardData',100)"});
  Recorder recorder;
  auto object = std::make_shared<CCloseData>();
  std::vector<Variant> arguments{Variant(dsn_), Variant(2011), Variant(12), Variant(2012), Variant(1)};
  object->InvokeByName("SetStandardData", arguments);

  // The numbering component's own texts are its business; the rest is the step's.
  std::vector<SentText> sent;
  for (const SentText& text : recorder.texts) {
    if (text.text.find("t_BillNoCounter") == std::string::npos) sent.push_back(text);
  }
  ASSERT_EQ(sent.size(), 14u);
  std::vector<std::string> sentTexts;
  for (const SentText& text : sent) sentTexts.push_back(text.text);
  EXPECT_EQ(sentTexts, testing::GoldenTexts(kGolden, sentTexts));
  EXPECT_EQ(sent[0].text, kIsolation);
  for (std::size_t i = 1; i <= 10; ++i) {
    EXPECT_EQ(sent[i].operation, "Execute");
    EXPECT_EQ(sent[i].connection, sent[0].connection);
  }
  EXPECT_EQ(sent[11].operation, "Recordset.Open");
  EXPECT_EQ(sent[12].operation, "Recordset.Open");
  // The recordsets read over connections of their own; the script goes over the step's connection.
  EXPECT_NE(sent[11].connection, sent[0].connection);
  EXPECT_NE(sent[12].connection, sent[0].connection);
  EXPECT_EQ(sent[13].operation, "Execute");
  EXPECT_EQ(sent[13].connection, sent[0].connection);
  EXPECT_EQ(recorder.votes, std::vector<std::string>{"SetComplete"});
}

TEST_F(StandardStepsTest, SettingTablesOfTheNextPeriodBecomeCopiesOfTheClosedPeriod) {
  Run(kLedger);
  std::vector<std::vector<std::string>> closed, later;
  for (const SettingTable& table : kSettingTables) {
    closed.push_back(Settings(table, 2011, 3));
    later.push_back(Settings(table, 2011, 5));
  }

  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
    for (std::size_t i = 0; i < kSettingTables.size(); ++i) {
      std::vector<std::string> expected = closed[i];
      for (std::string& row : expected) row.replace(0, 7, "2011.04");
      EXPECT_EQ(Settings(kSettingTables[i], 2011, 4), expected) << kSettingTables[i].name;
      EXPECT_EQ(Settings(kSettingTables[i], 2011, 3), closed[i]) << kSettingTables[i].name;
      EXPECT_EQ(Settings(kSettingTables[i], 2011, 5), later[i]) << kSettingTables[i].name;
    }
  }
  // The table without rows of the closed period lost the next period's old row and kept the others.
  EXPECT_TRUE(Settings(kSettingTables[3], 2011, 4).empty());
  EXPECT_EQ(Settings(kSettingTables[3], 2011, 2).size(), 1u);
}

TEST_F(StandardStepsTest, BillsAreCopiedWithNewIdsAndNumbersLeavingOutLinesOfTasksClosedInThePeriod) {
  Run(kLedger);
  CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);

  // Ids 101-103 in source-id order, numbers in the order drawn, FISImport not carried; the old header of
  // 2011.04 is gone.
  EXPECT_EQ(
      Rows("SELECT FID,FClassTypeID,FBillNo,FStandardID,FStandardNum,FStandardName,FWorkProcStep,FISImport "
           "FROM OPCostStandardData WHERE FYearPeriod='2011.04' ORDER BY FID"),
      (std::vector<std::string>{"101|1|1011111-000001|15|N5|Five|1|0", "102|2|1011111-000002|17|N7|Seven|2|0",
                                "103|1|1011111-000003|19|N9|Nine|3|0"}));
  EXPECT_EQ(Rows("SELECT FMaxNum FROM ICMaxNum ORDER BY FTableName"), (std::vector<std::string>{"7", "103"}));
  EXPECT_EQ(Rows("SELECT FCurrentNo FROM t_BillNoCounter WHERE FBillType=1011111"),
            std::vector<std::string>{"3"});

  // Bill 5: the line of the task closed mid-period is left out; the task closed on the day after the period
  // end and the line without a task stay. Bill 7 keeps its header without its only line (task closed on
  // the period's last evening). Bill 9: later-closed and open tasks stay.
  EXPECT_EQ(Lines("FID=101"), Lines("FID=5 AND FIndex IN (2,3)"));
  EXPECT_TRUE(Lines("FID=102").empty());
  EXPECT_EQ(Lines("FID=103"), Lines("FID=9"));
  EXPECT_EQ(Lines("FID=103").size(), 3u);

  // The closed period's bills and their lines are as they were.
  EXPECT_EQ(Rows("SELECT FID,FBillNo FROM OPCostStandardData WHERE FYearPeriod='2011.03' ORDER BY FID"),
            (std::vector<std::string>{"5|SD-5", "7|SD-7", "9|SD-9"}));
  EXPECT_EQ(Lines("FID=5").size(), 3u);
}

// The copy script deletes the next period's old headers only; their lines go with them because the schema
// ties each line to its header with a cascading delete.
TEST_F(StandardStepsTest, RunningTheCloseAgainLeavesOneCopyAndNoOrphanedLines) {
  std::ifstream schema(CLOSEWRIGHT_SOURCE_DIR "/schema/closewright.sql", std::ios::binary);
  std::stringstream text;
  text << schema.rdbuf();
  if (text.str().find("REFERENCES OPCostStandardData") == std::string::npos) {
    GTEST_SKIP() << "the reference schema does not yet tie OPCostStandardDataEntry.FID to its header";
  }
  Run(kLedger);
  CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
  CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
  EXPECT_EQ(Rows("SELECT FID,FBillNo FROM OPCostStandardData WHERE FYearPeriod='2011.04' ORDER BY FID"),
            (std::vector<std::string>{"104|1011111-000004", "105|1011111-000005", "106|1011111-000006"}));
  EXPECT_EQ(Rows("SELECT e.FID FROM OPCostStandardDataEntry e LEFT JOIN OPCostStandardData h ON h.FID=e.FID "
                 "WHERE h.FID IS NULL"),
            std::vector<std::string>{});
  EXPECT_EQ(Lines("FID=104"), Lines("FID=5 AND FIndex IN (2,3)"));
}

TEST_F(StandardStepsTest, WithoutSourceBillsNoScriptIsSentAndTheIdCounterIsNotRead) {
  Run({"INSERT INTO ICMaxNum(FTableName,FMaxNum) VALUES ('OPCostStandardData',100)",
       "INSERT INTO OPCostStandardData(FID,FYearPeriod) VALUES (50,'2012.01')"});
  Recorder recorder;
  CCloseData().SetStandardData(dsn_, 2011, 12, 2012, 1);
  // The five tables were empty, yet the bill copy ran: it looked for bills and found none.
  ASSERT_EQ(recorder.texts.size(), 12u);
  EXPECT_EQ(recorder.texts.back().operation, "Recordset.Open");
  EXPECT_EQ(recorder.texts.back().text, testing::GoldenTexts(kGolden).at(kSourceBillsQuery));
  EXPECT_EQ(Rows("SELECT FID FROM OPCostStandardData"), std::vector<std::string>{"50"});
  EXPECT_EQ(Rows("SELECT FMaxNum FROM ICMaxNum"), std::vector<std::string>{"100"});
}

TEST_F(StandardStepsTest, WithoutAnIdCounterRowNothingIsCopiedAndNoErrorIsRaised) {
  Run(kLedger);
  Run({"DELETE FROM ICMaxNum WHERE FTableName='OPCostStandardData'"});
  Recorder recorder;
  CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
  EXPECT_EQ(recorder.texts.back().text, testing::GoldenTexts(kGolden).at(kIdCounterQuery));
  EXPECT_EQ(Rows("SELECT FID FROM OPCostStandardData WHERE FYearPeriod='2011.04'"),
            std::vector<std::string>{"50"});
  EXPECT_EQ(Settings(kSettingTables[0], 2011, 4).size(), 2u);
}

TEST_F(StandardStepsTest, NextPeriodEqualToTheClosedPeriodIsRefusedBeforeAnythingIsDeleted) {
  Run(kLedger);
  const std::vector<std::string> before = Snapshot();
  Recorder recorder;
  try {
    CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 3);
    FAIL() << "equal periods must be refused";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), -2147205050);
    EXPECT_EQ(error.Source(), "CCloseData.SetStandardData");
    EXPECT_NE(error.Description().find("2011.03"), std::string::npos);
  }
  EXPECT_TRUE(recorder.texts.empty());
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(StandardStepsTest, APeriodTheCalendarCannotResolveStopsTheStepAndUndoesIt) {
  Run(kLedger);
  Run({"INSERT INTO OPCostStandardSet(FYearPeriod,FYear,FPeriod,FDeptID) VALUES ('2012.01',2012,1,42)"});
  const std::vector<std::string> before = Snapshot();
  Recorder recorder;
  try {
    CCloseData().SetStandardData(dsn_, 2011, 13, 2012, 1);
    FAIL() << "period 13 has no dates";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kPeriodDatesUnavailable);
    EXPECT_EQ(error.Source(), "CCloseData.SetStandardData");
  }
  // The ten statements went out; no bill was looked at.
  EXPECT_EQ(recorder.ExecutedStatements().size(), 10u);
  for (const SentText& text : recorder.texts) EXPECT_NE(text.operation, "Recordset.Open");
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(StandardStepsTest, TooFewBillNumbersRaiseSubscriptOutOfRangeAndSendNoScript) {
  Run(kLedger);
  const std::vector<std::string> before = Snapshot();
  NumberingReplacement numbering(Answering({"A-1", "A-2"}));
  Recorder recorder;
  try {
    CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
    FAIL() << "two numbers cannot number three bills";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kSubscriptOutOfRange);
    EXPECT_NE(error.Description().find("2 new bill numbers, 3 were needed"), std::string::npos)
        << error.Description();
  }
  EXPECT_EQ(recorder.ExecutedStatements().size(), 10u);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(StandardStepsTest, BillNumbersHoldingQuotesAreStoredAsGiven) {
  Run(kLedger);
  NumberingReplacement numbering(Answering({"O'Brien-1", "X-2", "'"}));
  CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
  EXPECT_EQ(Rows("SELECT FBillNo FROM OPCostStandardData WHERE FYearPeriod='2011.04' ORDER BY FID"),
            (std::vector<std::string>{"O'Brien-1", "X-2", "'"}));
}

TEST_F(StandardStepsTest, AFailureAnywhereLeavesTheLedgerAndTheNumberCountersAsTheyWere) {
  Run(kLedger);
  // Let the counter table exist and hold a value, so that its rollback can be seen.
  ASSERT_EQ(
      CCloseDataTestPeer::GetNewBillNumbers(*std::make_shared<CCloseData>(), dsn_, 1011111, true, 2, true),
      "1011111-000001\t1011111-000002\t");
  const std::vector<std::string> before = Snapshot();

  std::size_t sends = 0;
  {
    Recorder recorder;
    Transaction preview;
    CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
    sends = recorder.texts.size();
  }
  ASSERT_EQ(Snapshot(), before);
  ASSERT_GE(sends, 15u);  // isolation, ten statements, two queries, the numbering's texts, the script

  for (std::size_t failing = 1; failing <= sends; ++failing) {
    SCOPED_TRACE("text " + std::to_string(failing));
    std::size_t count = 0;
    SetSqlTraceSink([&](std::int32_t, std::string_view, std::string_view) {
      if (++count == failing) throw ComError(-1, "StandardStepsTest", "injected failure");
    });
    EXPECT_THROW(CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4), ComError);
    SetSqlTraceSink(nullptr);
    EXPECT_EQ(Snapshot(), before);
  }
  CCloseData().SetStandardData(dsn_, 2011, 3, 2011, 4);
  EXPECT_NE(Snapshot(), before);
  EXPECT_EQ(Rows("SELECT FBillNo FROM OPCostStandardData WHERE FID=101"),
            std::vector<std::string>{"1011111-000003"});
}

// GetNewBillNumbers against numbering components that answer in each way the close meets.
TEST_F(StandardStepsTest, BillNumbersArePackedFromTheResultDictionaryInKeyOrder) {
  std::vector<Variant> received;
  NumberingReplacement numbering([&](std::span<Variant> arguments) {
    received.assign(arguments.begin(), arguments.end());
    auto result = std::dynamic_pointer_cast<Dictionary>(arguments[3].ToObject());
    result->Add("2", "N-2");
    result->Add("1", " N-1");
    result->Add("3", "N-3 ");
    return Variant("returned");
  });
  CCloseData object;
  EXPECT_EQ(CCloseDataTestPeer::GetNewBillNumbers(object, dsn_, 1011111, true, 3, true), "N-1\tN-2\tN-3 \t");

  ASSERT_EQ(received.size(), 4u);
  EXPECT_EQ(received[0], Variant(dsn_));
  EXPECT_EQ(received[2], Variant(true));
  auto request = std::dynamic_pointer_cast<Dictionary>(received[1].ToObject());
  ASSERT_TRUE(request);
  ASSERT_EQ(request->Count(), 5);
  const auto& entries = request->Entries();
  EXPECT_EQ(entries[0].first, "FDate");
  EXPECT_EQ(entries[0].second.Type(), VariantType::Date);
  const double days = entries[0].second.ToDate().days;
  EXPECT_EQ(days, static_cast<double>(static_cast<long long>(days)));  // date only
  EXPECT_EQ(entries[1], (std::pair<std::string, Variant>{"FBillType", Variant(1011111)}));
  EXPECT_EQ(entries[2], (std::pair<std::string, Variant>{"BillNumber", Variant(3)}));
  EXPECT_EQ(entries[3], (std::pair<std::string, Variant>{"AutoUpdateCurNo", Variant(true)}));
  EXPECT_EQ(entries[4], (std::pair<std::string, Variant>{"MoreBillID", Variant(true)}));
}

TEST_F(StandardStepsTest, BillNumberTextFallsBackQuietlyWhenTheNumberingFails) {
  std::vector<std::string> swallowed;
  SetDiagnosticsSink([&](const ComError& error, std::string_view where) {
    swallowed.push_back(std::to_string(error.Number()) + " " + std::string(where));
  });
  CCloseData object;
  {
    NumberingReplacement numbering(Answering({}));
    EXPECT_EQ(CCloseDataTestPeer::GetNewBillNumbers(object, dsn_, 1011111, true, 3, true), "");
  }
  {
    NumberingReplacement numbering(Answering({"unused"}, Variant("  7-000042  ")));
    EXPECT_EQ(CCloseDataTestPeer::GetNewBillNumbers(object, dsn_, 1011111, false, 1, true), "7-000042");
  }
  EXPECT_TRUE(swallowed.empty());
  {
    // A value that cannot be read ends the reading: the numbers read so far come back, untrimmed.
    NumberingReplacement numbering([](std::span<Variant> arguments) {
      auto result = std::dynamic_pointer_cast<Dictionary>(arguments[3].ToObject());
      result->Add("1", "N-1 ");
      result->Add("2", Variant::Null());
      result->Add("3", "N-3");
      return Variant();
    });
    EXPECT_EQ(CCloseDataTestPeer::GetNewBillNumbers(object, dsn_, 1011111, true, 3, true), "N-1 \t");
  }
  ClassRegistry::Instance().Unregister(kNumberingProgId);
  EXPECT_EQ(CCloseDataTestPeer::GetNewBillNumbers(object, dsn_, 1011111, true, 3, true), "");
  RegisterNumberingComponent(ClassRegistry::Instance());
  EXPECT_EQ(swallowed, (std::vector<std::string>{"94 CCloseData.GetNewBillNumbers",
                                                 "429 CCloseData.GetNewBillNumbers"}));
}

}  // namespace
}  // namespace closewright
