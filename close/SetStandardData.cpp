#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "close/SqlText.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"

namespace closewright {
namespace {

// The five allocation-standard setting tables, in the order they are copied: the delete of the next period
// and the insert that copies the closed period's rows into it. Lines are joined with CR LF and every blank
// belongs to the text (two before FROM in all copies but the fourth).
// clang-format off
constexpr std::string_view kDeleteNextPeriod = R"(Delete FROM {Table} WHERE FYear={lNextYear} AND FPeriod={lNextPeriod})";

struct SettingTable {
  std::string_view table;
  std::string_view copy;
};

constexpr std::array kSettingTables{
    SettingTable{
        "OPCostRationStandardInfo",
        R"(Insert INTO OPCostRationStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID))" "\r\n"
        R"( SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,FTraceTypeID,FICMOInterID  FROM OPCostRationStandardInfo)" "\r\n"
        R"( WHERE FYear={lYear})" "\r\n"
        R"( AND FPeriod={lPeriod})"},
    SettingTable{
        "OPCostTaxonStandardInfo",
        R"(Insert INTO OPCostTaxonStandardInfo(FYearPeriod,FYear,FPeriod,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty))" "\r\n"
        R"( SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty  FROM OPCostTaxonStandardInfo)" "\r\n"
        R"( WHERE FYear={lYear})" "\r\n"
        R"( AND FPeriod={lPeriod})"},
    SettingTable{
        "OPCostStandardSet",
        R"(Insert INTO OPCostStandardSet(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType))" "\r\n"
        R"( SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType  FROM OPCostStandardSet)" "\r\n"
        R"( WHERE FYear={lYear})" "\r\n"
        R"( AND FPeriod={lPeriod})"},
    SettingTable{
        "OPCostTaxonSet",
        R"(Insert INTO OPCostTaxonSet(FYearPeriod,FYear,FPeriod,FCostObjID,FStandardID,FDeptAll))" "\r\n"
        R"( SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FCostObjID,FStandardID,FDeptAll FROM OPCostTaxonSet)" "\r\n"
        R"( WHERE FYear={lYear})" "\r\n"
        R"( AND FPeriod={lPeriod})"},
    SettingTable{
        "OPCostStandardSetOnPro",
        R"(Insert INTO OPCostStandardSetOnPro(FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID))" "\r\n"
        R"( SELECT '{NextYearPeriod}',{lNextYear},{lNextPeriod},FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType,FMaterialAssignID  FROM OPCostStandardSetOnPro)" "\r\n"
        R"( WHERE FYear={lYear})" "\r\n"
        R"( AND FPeriod={lPeriod})"},
};
// clang-format on

}  // namespace

void CCloseData::SetStandardData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                                 std::int32_t lNextYear, std::int32_t lNextPeriod) {
  RunInObjectContext([&] {
    // Deleting the next period's rows first would wipe the very rows that are to be copied.
    if (lYear == lNextYear && lPeriod == lNextPeriod) {
      throw ComError(error_number::kNextPeriodIsClosedPeriod, "CCloseData.SetStandardData",
                     "The next period " + FormatYearPeriod(lNextYear, lNextPeriod) +
                         " is the closed period itself; its standards cannot be carried into it.");
    }
    RunPlainFrame(sDsn, [&](Connection& cn) {
      const std::string nextYearPeriod = FormatYearPeriod(lNextYear, lNextPeriod);
      for (const SettingTable& setting : kSettingTables) {
        cn.Execute(FillPlaceholders(kDeleteNextPeriod, {{"Table", std::string(setting.table)},
                                                        {"lNextYear", std::to_string(lNextYear)},
                                                        {"lNextPeriod", std::to_string(lNextPeriod)}}));
        cn.Execute(FillPlaceholders(setting.copy, {{"NextYearPeriod", nextYearPeriod},
                                                   {"lNextYear", std::to_string(lNextYear)},
                                                   {"lNextPeriod", std::to_string(lNextPeriod)},
                                                   {"lYear", std::to_string(lYear)},
                                                   {"lPeriod", std::to_string(lPeriod)}}));
      }
      CopyStandardDataBills(sDsn, cn, lYear, lPeriod, lNextYear, lNextPeriod);
    });
  });
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> SetStandardData() {
  std::vector<std::pair<std::string_view, std::string_view>> texts{{"DeleteNextPeriod", kDeleteNextPeriod}};
  for (const SettingTable& setting : kSettingTables) texts.emplace_back(setting.table, setting.copy);
  return texts;
}

}  // namespace step_texts

}  // namespace closewright
