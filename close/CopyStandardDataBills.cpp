#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/PubFunction.h"
#include "close/SqlText.h"
#include "outside/ComError.h"
#include "outside/Dictionary.h"
#include "outside/Text.h"
#include "outside/Variant.h"

namespace closewright {
namespace {

constexpr std::int32_t kStandardDataBillType = 1011111;

// The queries and the pieces of the copy script, in the order they are used. Lines are joined with CR LF
// and every blank at the start or end of a line belongs to the text.
// clang-format off
constexpr std::string_view kSourceBills =
    R"( Select  FID, FClassTypeID, FBillNo, FStandardID, FStandardNum, FStandardName, FWorkProcStep, FYearPeriod, FISImport from OPCostStandardData Where FYearPeriod ='{YearPeriod}' Order by FID)";

constexpr std::string_view kIdCounter = R"(select FMaxNum from ICMaxNum where FTableName='OPCostStandardData')";

constexpr std::string_view kDeleteNextPeriodBills =
    R"( Delete from OPCostStandardData Where FYearPeriod ='{NextYearPeriod}')" "\r\n";

constexpr std::string_view kCopyBillHeader =
    R"( Insert into OPCostStandardData (FID,FClassTypeID,FBillNo,FStandardNum,FStandardID,FStandardName,FWorkProcStep,FYearPeriod))" "\r\n"
    R"( Select {NewID}, FClassTypeID,'{BillNo}',FStandardNum,FStandardID,FStandardName,FWorkProcStep,'{NextYearPeriod}' From OPCostStandardData)" "\r\n"
    R"( Where FID = {SourceFID})" "\r\n";

constexpr std::string_view kCopyBillLines =
    R"( Insert into OPCostStandardDataEntry (FID,FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,FQty,FICMOInterID,FICMONo,FOperSN))" "\r\n"
    R"( Select {NewID}, t1.FIndex,t1.FCostObjNum,t1.FDeptNum,t1.FCostCenter,t1.FCostCenterName,t1.FWorkProcNum,t1.FQty,t1.FICMOInterID,t1.FICMONo,t1.FOperSN From OPCostStandardDataEntry t1 LEFT JOIN ICMO mo ON t1.FICMOInterID=mo.FInterID AND mo.FStatus=3 AND mo.FCloseDate<'{DayAfterPeriodEnd}')" "\r\n"
    R"( Where t1.FID = {SourceFID} AND mo.FInterID is null)" "\r\n";

constexpr std::string_view kAdvanceIdCounter =
    R"( Update ICMaxNum set FMaxNum ={LastID} Where FTableName= 'OPCostStandardData')";
// clang-format on

// The numbers of a tab-separated list; the tab after the last number ends it and opens no further element.
std::vector<std::string> SplitBillNumbers(const std::string& text) {
  std::vector<std::string> numbers;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t tab = text.find('\t', from);
    if (tab == std::string::npos) tab = text.size();
    numbers.push_back(text.substr(from, tab - from));
    from = tab + 1;
  }
  return numbers;
}

// 32-bit id arithmetic, as the counter column holds them: a result beyond it is an overflow.
std::int32_t CheckedId(std::int64_t value) {
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
    throw ComError::Runtime(error_number::kOverflow);
  }
  return static_cast<std::int32_t>(value);
}

void OpenOnOwnConnection(Recordset& recordset, std::string_view source, const Connection& cn) {
  recordset.SetCursorLocation(kUseClient);
  recordset.Open(source, cn.ConnectionString());
}

}  // namespace

void CCloseData::CopyStandardDataBills(const std::string& sDsn, Connection& cn, std::int32_t lYear,
                                       std::int32_t lPeriod, std::int32_t lNextYear,
                                       std::int32_t lNextPeriod) {
  // On the zero date no task would count as closed and every line would be copied, so a period the
  // calendar cannot resolve stops the copy before its script is built.
  DateValue periodStart;
  DateValue dayAfterPeriodEnd;
  RequirePeriodBounds(sDsn, lYear, lPeriod, periodStart, dayAfterPeriodEnd, "CCloseData.SetStandardData");
  const std::string yearPeriod = FormatYearPeriod(lYear, lPeriod);

  Recordset sourceBills;
  OpenOnOwnConnection(sourceBills, FillPlaceholders(kSourceBills, {{"YearPeriod", yearPeriod}}), cn);
  const std::int32_t count = sourceBills.RecordCount();
  if (count == 0) {
    sourceBills.Close();
    return;
  }

  Recordset idCounter;
  OpenOnOwnConnection(idCounter, kIdCounter, cn);
  if (idCounter.Eof()) {
    idCounter.Close();
    sourceBills.Close();
    return;
  }
  const std::int32_t firstId =
      CheckedId(std::int64_t{idCounter.GetFields().Item("FMaxNum").Value().ToLong()} + 1);
  const std::int32_t lastId = CheckedId(std::int64_t{firstId} + count - 1);

  const std::vector<std::string> billNumbers =
      SplitBillNumbers(GetNewBillNumbers(kStandardDataBillType, true, count, true));
  // Copying with fewer numbers than bills would give bills an empty or repeated number; stop before
  // anything is sent.
  if (billNumbers.size() < static_cast<std::size_t>(count)) {
    throw ComError(error_number::kSubscriptOutOfRange, "CCloseData.SetStandardData",
                   "Subscript out of range: the bill numbering gave " + std::to_string(billNumbers.size()) +
                       " new bill numbers, " + std::to_string(count) + " were needed");
  }

  const std::string nextYearPeriod = FormatYearPeriod(lNextYear, lNextPeriod);
  const std::string dayAfterPeriodEndText = FormatDateIso(dayAfterPeriodEnd);
  sourceBills.MoveFirst();
  StringBuilder script;
  script.Append(FillPlaceholders(kDeleteNextPeriodBills, {{"NextYearPeriod", nextYearPeriod}}));
  for (std::int32_t newId = firstId; newId <= lastId; ++newId) {
    const std::string newIdText = std::to_string(newId);
    const std::string sourceId = std::to_string(sourceBills.GetFields().Item("FID").Value().ToLong());
    // The header's text holds the bill number's quotes; a quote inside the number must not end the literal.
    script.Append(FillPlaceholders(
        kCopyBillHeader,
        {{"NewID", newIdText},
         {"BillNo", DoubleQuoteCharacters(billNumbers[static_cast<std::size_t>(newId - firstId)], '\'')},
         {"NextYearPeriod", nextYearPeriod},
         {"SourceFID", sourceId}}));
    script.Append(FillPlaceholders(
        kCopyBillLines,
        {{"NewID", newIdText}, {"DayAfterPeriodEnd", dayAfterPeriodEndText}, {"SourceFID", sourceId}}));
    if (!sourceBills.Eof()) sourceBills.MoveNext();
  }
  script.Append(FillPlaceholders(kAdvanceIdCounter, {{"LastID", std::to_string(lastId)}}));
  cn.Execute(script.Text());

  sourceBills.Close();
  idCounter.Close();
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> CopyStandardDataBills() {
  return {{"SourceBills", kSourceBills},
          {"IdCounter", kIdCounter},
          {"DeleteNextPeriodBills", kDeleteNextPeriodBills},
          {"CopyBillHeader", kCopyBillHeader},
          {"CopyBillLines", kCopyBillLines},
          {"AdvanceIdCounter", kAdvanceIdCounter}};
}

}  // namespace step_texts

}  // namespace closewright
