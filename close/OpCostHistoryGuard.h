#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outside/Ado.h"

namespace closewright {

/// Rows of one table that an operation-cost archive or restore would delete without moving them.
struct RowsOutsidePeriod {
  std::string table;
  std::int64_t rows = 0;
};

/// The tables that `EndOpCostHistoryData` empties whole, with the rows they hold that the call would lose:
/// archiving (`bEnd`) truncates the renumbered working tables after copying one period, so rows of any other
/// period count; restoring deletes the live balances and working rows of every period, so rows of the
/// restored period or an earlier one count (those of later periods are what undoing a close discards).
/// One query; tables without such rows are left out.
std::vector<RowsOutsidePeriod> FindRowsOutsidePeriod(Connection& cn, std::int32_t lYear, std::int32_t lPeriod,
                                                     bool bEnd);

/// The one query FindRowsOutsidePeriod sends: per table, the count of the rows the call would lose.
std::string RowsOutsidePeriodQuery(std::int32_t lYear, std::int32_t lPeriod, bool bEnd);

/// One sentence naming the tables, their row counts and the period, for an error or a refusal; empty when
/// nothing was found.
std::string DescribeRowsOutsidePeriod(const std::vector<RowsOutsidePeriod>& found, std::int32_t lYear,
                                      std::int32_t lPeriod, bool bEnd);

}  // namespace closewright
