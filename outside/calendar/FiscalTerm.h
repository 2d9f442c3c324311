#pragma once

#include <span>
#include <string_view>

#include "outside/Dispatch.h"

namespace closewright {

/// The accounting calendar stand-in: period n of year y is calendar month n; other periods raise an error.
class FiscalTerm : public Dispatch {
 public:
  /// Arguments (description, period, year, first day, last day); the two dates are written back.
  void GetPeriodStartEnd(std::span<Variant> arguments);

  DispatchId GetIDOfName(std::string_view name) override;
  Variant Invoke(DispatchId id, std::span<Variant> arguments) override;
};

}  // namespace closewright
