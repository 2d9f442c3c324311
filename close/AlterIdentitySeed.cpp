#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "close/CCloseData.h"
#include "datasource/cDataSource.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dictionary.h"
#include "outside/ObjectContext.h"

namespace closewright {
namespace {

constexpr std::string_view kWhere = "CCloseData.AlterIdentitySeed";

// For each kept-FID table: the larger of (history max FID + 1) and (live max FID + 1), 1 when empty, and
// RESEED the live table to it, so new live rows take FIDs held by no row of either table.
// clang-format off
constexpr std::string_view kReseedBatch =
    R"(SET NOCOUNT ON )" "\r\n"
    R"(--期初余额表 )" "\r\n"
    R"(DECLARE @MAXFID INT )" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostBalance_History )" "\r\n"
    R"(SELECT @MAXFID=(CASE WHEN @MAXFID<ISNULL(MAX(FID)+1,1) THEN ISNULL(MAX(FID)+1,1)ELSE @MAXFID END)  FROM OPCostBalance )" "\r\n"
    R"(DBCC CHECKIDENT('OPCostBalance',RESEED,@MAXFID) )" "\r\n"
    R"(--期初余额材料明细表 )" "\r\n"
    R"(SELECT @MAXFID=ISNULL(MAX(FID)+1,1) FROM OPCostObjDetail_History )" "\r\n"
    R"(SELECT @MAXFID=(CASE WHEN @MAXFID<ISNULL(MAX(FID)+1,1) THEN ISNULL(MAX(FID)+1,1)ELSE @MAXFID END)  FROM OPCostObjDetail )" "\r\n"
    R"(DBCC CHECKIDENT('OPCostObjDetail',RESEED,@MAXFID) )" "\r\n"
    R"( )" "\r\n";
// clang-format on

// Runs one step, passing over its error: callers rely on this method never failing, so the error only goes
// to the host's diagnostics sink. False when the step failed.
template <typename Step>
bool PassOver(const Step& step) {
  try {
    step();
    return true;
  } catch (const ComError& error) {
    ReportSwallowedError(error, kWhere);
    return false;
  }
}

}  // namespace

void CCloseData::AlterIdentitySeed(const std::string& sDsn) {
  RunInObjectContext([&] {
    std::unique_ptr<Connection> cn;
    // A description that fails to parse must not fall back on the data source of an earlier call.
    if (PassOver([&] { InitDataEnv(sDsn); })) PassOver([&] { cn = dataSource_->GetConnection(); });
    StringBuilder script;
    script.Append(kReseedBatch);
    if (cn) {
      PassOver([&] { cn->Execute(script.Text()); });
      PassOver([&] {
        if (cn->State() == kStateOpen) cn->Close();
      });
      cn.reset();
    }
    PassOver([] { GetObjectContext().SetComplete(); });
  });
}

namespace step_texts {

// The step's statement templates by name, for the tests that run them with sample values
// (tests/close/StepTexts.h).
std::vector<std::pair<std::string_view, std::string_view>> AlterIdentitySeed() {
  return {{"ReseedBatch", kReseedBatch}};
}

}  // namespace step_texts

}  // namespace closewright
