#pragma once

// The bill numbering component "Numerist.clsNumerist".
//
// It keeps one counter per bill type in the table t_BillNoCounter (FBillType INT primary key, FCurrentNo INT:
// the last number handed out) of the database that the caller's connection description names. The table
// is created on first use. The counter is advanced over a connection opened on the description's connect
// string, so inside a transaction it is the caller's own session: numbers drawn by a close that rolls back
// are given back, and two writers cannot draw the same number (the second waits for, or is refused by, the
// first one's write transaction).
//
// Number format: the bill type in decimal, "-", and the counter value with at least six digits, e.g.
// "1011111-000101" for the 101st number of bill type 1011111. Within one bill type the numbers sort as text
// in the order they were handed out up to 999999.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "outside/Dispatch.h"

namespace closewright {

inline constexpr std::string_view kNumberingProgId = "Numerist.clsNumerist";

/// The bill number text for a bill type and a counter value ("1011111-000101").
std::string FormatBillNumber(std::int32_t billType, std::int64_t counter);

/// Hands out bill numbers. One method, called late-bound:
///   GetNewBillID(PropsString, request, bFlag, result) -> the (first) new number as text
/// `PropsString` is a connection description (ConnectString=...). `request` is a keyed dictionary with
/// "FBillType" (required), "BillNumber" (how many, default 1), "MoreBillID" (True: fill `result` with the
/// numbers under the keys "1".."n"; False: draw one number and only return it), "AutoUpdateCurNo" (False:
/// show the next numbers without using them up; default True) and "FDate" (not used: numbers do not depend
/// on the date). `bFlag` is set to True when numbers were handed out. Errors are raised with the Source
/// "Numerist.clsNumerist".
class Numerist : public Dispatch {
 public:
  std::string GetNewBillID(const std::string& propsString, Variant& request, Variant& bFlag, Variant& result);

  DispatchId GetIDOfName(std::string_view name) override;
  Variant Invoke(DispatchId id, std::span<Variant> arguments) override;
};

/// Registers the numbering component under "Numerist.clsNumerist".
void RegisterNumberingComponent(ClassRegistry& registry);

}  // namespace closewright
