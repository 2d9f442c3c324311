#include <array>
#include <ctime>
#include <exception>
#include <memory>
#include <string>

#include "close/CCloseData.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dictionary.h"
#include "outside/Text.h"
#include "outside/numbering/Numerist.h"
#include "parse/CParse.h"

namespace closewright {
namespace {

DateValue Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return MakeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

}  // namespace

std::string CCloseData::GetNewBillNumbers(std::int32_t lBillType, bool bMoreBillID, std::int32_t lBillNumber,
                                          bool bFlag) {
  std::string numbers;
  // The caller finds out about a failure from a short list; the error itself goes to the diagnostics sink.
  try {
    auto request = std::make_shared<Dictionary>();
    request->Add("FDate", Today());
    request->Add("FBillType", lBillType);
    request->Add("BillNumber", lBillNumber);
    request->Add("AutoUpdateCurNo", true);
    request->Add("MoreBillID", bMoreBillID);
    std::shared_ptr<Dispatch> numbering = CreateObject(kNumberingProgId);

    std::array<Variant, 4> arguments{Variant(parser_->PropsString()),
                                     Variant(std::shared_ptr<Dispatch>(request)), Variant(bFlag),
                                     Variant(std::shared_ptr<Dispatch>(std::make_shared<Dictionary>()))};
    numbers = numbering->InvokeByName("GetNewBillID", arguments).ToString();
    if (bMoreBillID) {
      numbers.clear();
      // The component may have put another dictionary in place of ours: read the one it left.
      std::shared_ptr<Dispatch> result = arguments[3].ToObject();
      if (!result) throw ComError::Runtime(91);
      const std::int32_t count = result->InvokeByName("Count", {}).ToLong();
      for (std::int32_t i = 1; i <= count; ++i) {
        std::array<Variant, 1> key{Variant(std::to_string(i))};
        numbers += result->InvokeByName("Item", key).ToString();
        numbers += '\t';
      }
    }
    numbers = std::string(TrimSpaces(numbers));
  } catch (const ComError& error) {
    ReportSwallowedError(error, "CCloseData.GetNewBillNumbers");
  } catch (const std::exception& error) {
    ReportSwallowedError(
        ComError(error_number::kInvalidProcedureCall, "CCloseData.GetNewBillNumbers", error.what()),
        "CCloseData.GetNewBillNumbers");
  }
  return numbers;
}

}  // namespace closewright
