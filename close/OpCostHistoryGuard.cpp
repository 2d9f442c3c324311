#include "close/OpCostHistoryGuard.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "close/CCloseData.h"
#include "close/SqlText.h"

namespace closewright {
namespace {

// One count per table, the counts joined by UNION ALL into one query. An archive copies the rows of one key
// and truncates the rest, so the count is the complement of the archive's own filter (FYearPeriod compared
// as the archive compares it). A restore deletes the live rows of every period; those of later periods are
// the ones undoing a close means to discard, so the count takes the restored period and earlier ones,
// numerically so that period 10 comes after period 9. FYear, FPeriod and FYearPeriod are NOT NULL in the
// reference schema, so every row either counts or is one the call moves or means to discard.
// clang-format off
constexpr std::string_view kArchiveCount =
    R"(SELECT '{Table}' AS FTableName,COUNT(*) AS FRows FROM {Table} WHERE FYearPeriod<>'{YearPeriod}')";

constexpr std::string_view kRestoreCount =
    R"(SELECT '{Table}' AS FTableName,COUNT(*) AS FRows FROM {Table} WHERE FYear*100+FPeriod<={YearPeriodNumber})";

constexpr std::string_view kUnionAll = "\r\nUNION ALL\r\n";
// clang-format on

// The tables each direction empties whole: the archive truncates the five renumbered ones (the balances and
// material details it deletes by key); the restore also deletes the balances and material details unfiltered.
constexpr std::array<std::string_view, 5> kArchivedWhole{
    "OPCostCalInfo", "OPCostCalInfoDetail", "OPCostProductCalInfo", "OPCostWIPCheck", "OPCostWNCalInfo"};
constexpr std::array<std::string_view, 7> kRestoredWhole{
    "OPCostBalance",        "OPCostObjDetail", "OPCostCalInfo",  "OPCostCalInfoDetail",
    "OPCostProductCalInfo", "OPCostWIPCheck",  "OPCostWNCalInfo"};

std::string CountedRows(std::int64_t rows) {
  return std::to_string(rows) + (rows == 1 ? " row" : " rows");
}

}  // namespace

std::string RowsOutsidePeriodQuery(std::int32_t lYear, std::int32_t lPeriod, bool bEnd) {
  const std::string yearPeriod = CCloseData::FormatYearPeriod(lYear, lPeriod);
  // Wide enough that no year the caller passes wraps around.
  const std::string yearPeriodNumber = std::to_string(std::int64_t{lYear} * 100 + lPeriod);
  std::string query;
  for (const std::string_view table : bEnd ? std::span<const std::string_view>(kArchivedWhole)
                                           : std::span<const std::string_view>(kRestoredWhole)) {
    if (!query.empty()) query.append(kUnionAll);
    query.append(FillPlaceholders(
        bEnd ? kArchiveCount : kRestoreCount,
        {{"Table", std::string(table)}, {"YearPeriod", yearPeriod}, {"YearPeriodNumber", yearPeriodNumber}}));
  }
  return query;
}

std::vector<RowsOutsidePeriod> FindRowsOutsidePeriod(Connection& cn, std::int32_t lYear, std::int32_t lPeriod,
                                                     bool bEnd) {
  Recordset counts;
  counts.SetCursorLocation(kUseClient);
  counts.Open(RowsOutsidePeriodQuery(lYear, lPeriod, bEnd), cn);
  std::vector<RowsOutsidePeriod> found;
  for (; !counts.Eof(); counts.MoveNext()) {
    const Fields& fields = counts.GetFields();
    const auto rows = static_cast<std::int64_t>(std::llround(fields.Item("FRows").Value().ToDouble()));
    if (rows > 0) found.push_back({fields.Item("FTableName").Value().ToString(), rows});
  }
  counts.Close();
  return found;
}

std::string DescribeRowsOutsidePeriod(const std::vector<RowsOutsidePeriod>& found, std::int32_t lYear,
                                      std::int32_t lPeriod, bool bEnd) {
  if (found.empty()) return {};
  const std::string yearPeriod = CCloseData::FormatYearPeriod(lYear, lPeriod);
  std::string text;
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (i > 0) text += i + 1 == found.size() ? " and " : ", ";
    text += found[i].table + " holds " + CountedRows(found[i].rows);
  }
  if (bEnd) {
    text += " of periods other than " + yearPeriod + "; archiving " + yearPeriod +
            " would delete them without archiving them.";
  } else {
    text += " of period " + yearPeriod + " or earlier; restoring " + yearPeriod +
            " would delete them without keeping them anywhere.";
  }
  return text;
}

}  // namespace closewright
