#pragma once

#include <cstdint>
#include <string>

#include "close/CCloseData.h"

namespace closewright {

/// Reaches the private steps of CCloseData that no public method exposes on their own.
class CCloseDataTestPeer {
 public:
  /// GetNewBillNumbers as the bill copy calls it, after the description has been parsed as a public
  /// method would.
  static std::string GetNewBillNumbers(CCloseData& object, const std::string& sDsn, std::int32_t lBillType,
                                       bool bMoreBillID, std::int32_t lBillNumber, bool bFlag) {
    object.InitDataEnv(sDsn);
    return object.GetNewBillNumbers(lBillType, bMoreBillID, lBillNumber, bFlag);
  }
};

}  // namespace closewright
