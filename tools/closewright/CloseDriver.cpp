#include "tools/closewright/CloseDriver.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <sstream>

#include "close/CCloseData.h"
#include "close/OpCostHistoryGuard.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/ObjectContext.h"
#include "outside/Text.h"
#include "parse/CParse.h"
#include "tools/closewright/CloseLock.h"
#include "tools/closewright/TraceWriter.h"

namespace closewright::tool {
namespace {

using Clock = std::chrono::steady_clock;

// The tables whose rows a close archives and a reopen restores; each has a "_History" twin.
const std::vector<std::string> kArchivedTables{
    "OPCostBalance",       "OPCostObjDetail",      "OPCostCalInfo",
    "OPCostCalInfoDetail", "OPCostProductCalInfo", "OPCostWIPCheck",
    "OPCostWNCalInfo",     "OPCostMaterielInfo",   "OPCostExpenseDistributeInfo",
};

// Tables a close carries into the next period (or adjusts) without archiving them.
const std::vector<std::string> kCarriedTables{
    "OPCostBalanceAdjust",      "OPCostObjDetailAdjust",   "OPCostDeputyInfo",
    "OPCostRationStandardInfo", "OPCostTaxonStandardInfo", "OPCostStandardSet",
    "OPCostTaxonSet",           "OPCostStandardSetOnPro",  "OPCostStandardData",
};

std::vector<std::string> SummaryTables() {
  std::vector<std::string> tables;
  for (const std::string& table : kArchivedTables) {
    tables.push_back(table);
    tables.push_back(table + "_History");
  }
  tables.insert(tables.end(), kCarriedTables.begin(), kCarriedTables.end());
  return tables;
}

std::string YearPeriodKey(Period period) {
  return CCloseData::FormatYearPeriod(period.year, period.period);
}

// The driver's own reads go through the same traced path as the component's.
ResultTable Fetch(Connection& cn, const std::string& text) {
  TraceSql(cn.TraceId(), "Recordset.Open", text);
  return cn.Session().Query(text);
}

double NumberAt(const ResultTable& table, std::size_t row, std::size_t column) {
  if (row >= table.rows.size() || column >= table.rows[row].size()) return 0;
  const Variant& value = table.rows[row][column];
  return value.IsNull() || value.IsEmpty() ? 0 : value.ToDouble();
}

std::string ConnectStringOf(const std::string& description) {
  CParse parser;
  parser.ParseString(description);
  return parser.ConStr();
}

// Opening the run's transaction meets another close's lock as error 1222 on the embedded provider (its
// write lock) and as SQLite's own "database is locked" through SQLite's ODBC driver. Nothing else counts: a
// login refused because an account "is locked out" is an error, not a busy ledger.
bool IsLockConflict(const ComError& error) {
  return error.NativeError() == 1222 ||
         ToLowerAscii(error.Description()).find("database is locked") != std::string::npos;
}

Period CurrentPeriod(Connection& cn) {
  const ResultTable table =
      Fetch(cn,
            "SELECT FKey, FValue FROM t_SystemProfile WHERE FCategory = 'OPCost' AND FKey IN "
            "('CurrentYear', 'CurrentPeriod')");
  Period current{-1, -1};
  for (const auto& row : table.rows) {
    if (EqualsIgnoringCase(row[0].ToString(), "CurrentYear")) current.year = row[1].ToLong();
    if (EqualsIgnoringCase(row[0].ToString(), "CurrentPeriod")) current.period = row[1].ToLong();
  }
  if (current.year < 0 || current.period < 0) {
    throw Refused(
        "the ledger has no current period of the module (t_SystemProfile 'OPCost' CurrentYear and "
        "CurrentPeriod)");
  }
  return current;
}

// Rows of each summary table in two periods, one query per table.
std::vector<TableChange> CountPeriods(Connection& cn, Period first, Period second, bool asBefore) {
  std::vector<TableChange> changes;
  const std::string a = QuoteSqlText(YearPeriodKey(first));
  const std::string b = QuoteSqlText(YearPeriodKey(second));
  for (const std::string& table : SummaryTables()) {
    const ResultTable counts =
        Fetch(cn, "SELECT SUM(CASE WHEN FYearPeriod = " + a + " THEN 1 ELSE 0 END), " +
                      "SUM(CASE WHEN FYearPeriod = " + b + " THEN 1 ELSE 0 END) FROM " + table +
                      " WHERE FYearPeriod IN (" + a + ", " + b + ")");
    TableChange change{table};
    const auto inFirst = static_cast<std::int64_t>(NumberAt(counts, 0, 0));
    const auto inSecond = static_cast<std::int64_t>(NumberAt(counts, 0, 1));
    (asBefore ? change.closedBefore : change.closedAfter) = inFirst;
    (asBefore ? change.nextBefore : change.nextAfter) = inSecond;
    changes.push_back(change);
  }
  return changes;
}

void MergeAfter(std::vector<TableChange>& before, const std::vector<TableChange>& after) {
  for (std::size_t i = 0; i < before.size() && i < after.size(); ++i) {
    before[i].closedAfter = after[i].closedAfter;
    before[i].nextAfter = after[i].nextAfter;
  }
}

ControlTotals ComputeTotals(Connection& cn, Period closed, Period next) {
  const std::string closedKey = QuoteSqlText(YearPeriodKey(closed));
  const std::string nextKey = QuoteSqlText(YearPeriodKey(next));
  // After a close the closed period's balances live in the history twin; before it, in the live table.
  const std::string ending =
      "(SELECT FICMOInterID, FTypeID, FOnlnQty, FNotStockQty, FEndBal FROM OPCostBalance "
      "WHERE FYearPeriod = " +
      closedKey +
      " UNION ALL SELECT FICMOInterID, FTypeID, FOnlnQty, FNotStockQty, FEndBal FROM "
      "OPCostBalance_History WHERE FYearPeriod = " +
      closedKey + ")";
  ControlTotals totals;
  ResultTable result = Fetch(
      cn,
      "SELECT SUM(CASE WHEN e.FTypeID = 3 THEN e.FOnlnQty + e.FNotStockQty ELSE 0 END), "
      "SUM(CASE WHEN e.FTypeID = 4 THEN e.FEndBal ELSE 0 END), "
      "SUM(CASE WHEN e.FTypeID = 3 AND n.FICMOInterID IS NULL THEN e.FOnlnQty + "
      "e.FNotStockQty ELSE 0 END), "
      "SUM(CASE WHEN e.FTypeID = 4 AND n.FICMOInterID IS NULL THEN e.FEndBal ELSE 0 END) "
      "FROM " +
          ending + " e LEFT JOIN (SELECT DISTINCT FICMOInterID FROM OPCostBalance WHERE FYearPeriod = " +
          nextKey + " AND FTypeID IN (1, 2)) n ON n.FICMOInterID = e.FICMOInterID");
  totals.endingQuantity = NumberAt(result, 0, 0);
  totals.endingAmount = NumberAt(result, 0, 1);
  totals.finishedQuantity = NumberAt(result, 0, 2);
  totals.finishedAmount = NumberAt(result, 0, 3);
  result =
      Fetch(cn,
            "SELECT SUM(CASE WHEN FTypeID = 1 THEN FQty + FBegNotStockQty ELSE 0 END), "
            "SUM(CASE WHEN FTypeID = 2 THEN FBegBal ELSE 0 END) FROM OPCostBalance WHERE FYearPeriod = " +
                nextKey);
  totals.beginningQuantity = NumberAt(result, 0, 0);
  totals.beginningAmount = NumberAt(result, 0, 1);
  return totals;
}

// Rows that a reopen of `period` discards, by table: every row of a later period in the tables the reopen
// restores or adjusts (the carried standards and by-product rows stay), and the period's own ending balances.
std::vector<TableChange> LaterPeriodRows(Connection& cn, Period period) {
  std::vector<std::string> tables = kArchivedTables;
  tables.insert(tables.end(), {"OPCostBalanceAdjust", "OPCostObjDetailAdjust"});
  const std::string periodNumber =
      std::to_string(static_cast<std::int64_t>(period.year) * 10000 + period.period);
  std::vector<TableChange> discarded;
  for (const std::string& table : tables) {
    const ResultTable later =
        Fetch(cn, "SELECT COUNT(*) FROM " + table + " WHERE FYear * 10000 + FPeriod > " + periodNumber);
    TableChange change{table + " (later periods)"};
    change.nextBefore = static_cast<std::int64_t>(NumberAt(later, 0, 0));
    if (change.nextBefore > 0) discarded.push_back(change);
  }
  const ResultTable ending = Fetch(cn, "SELECT COUNT(*) FROM OPCostBalance_History WHERE FYearPeriod = " +
                                           QuoteSqlText(YearPeriodKey(period)) + " AND FTypeID IN (3, 4)");
  TableChange own{"OPCostBalance (ending rows of " + YearPeriodKey(period) + ")"};
  own.closedBefore = static_cast<std::int64_t>(NumberAt(ending, 0, 0));
  discarded.push_back(own);
  return discarded;
}

// Archiving empties the renumbered working tables whole and restoring deletes the live balances of every
// period; the component refuses either while rows would go unkept. The run asks first, so that it is refused
// (forced or not) before it changes anything.
void RefuseIfRowsWouldBeLost(Connection& cn, Period period, bool archive) {
  const std::vector<RowsOutsidePeriod> found = FindRowsOutsidePeriod(cn, period.year, period.period, archive);
  if (!found.empty()) throw Refused(DescribeRowsOutsidePeriod(found, period.year, period.period, archive));
}

std::string UserOf(const std::string& description) {
  CParse parser;
  parser.ParseString(description);
  for (const auto& [key, value] : parser.Pairs()) {
    if (EqualsIgnoringCase(key, "UserName") && !value.empty()) return value;
  }
  if (const char* user = std::getenv("USER"); user && *user) return user;
  char name[256];
  if (::getlogin_r(name, sizeof name) == 0) return name;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_name != nullptr) {
    return entry->pw_name;
  }
  return "uid " + std::to_string(::getuid());
}

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string StepsText(const RunReport& report) {
  std::ostringstream text;
  for (const StepTiming& step : report.steps) {
    text << step.step << ' ' << DurationText(step.seconds) << "; ";
  }
  for (const TableChange& change : report.tables) {
    if (change.closedBefore != change.closedAfter || change.nextBefore != change.nextAfter) {
      text << change.table << ' ' << change.closedBefore << "->" << change.closedAfter << '/'
           << change.nextBefore << "->" << change.nextAfter << "; ";
    }
  }
  return text.str();
}

void WriteLog(Connection& cn, const RunReport& report, const std::string& user, const std::string& start,
              const std::string& outcome, const std::string& errorText) {
  cn.Execute(
      "INSERT INTO t_CloseLog (FAction, FYear, FPeriod, FNextYear, FNextPeriod, FUser, FStartTime, FEndTime, "
      "FOutcome, FSeconds, FSteps, FError) VALUES (" +
      QuoteSqlText(report.action) + ", " + std::to_string(report.period.year) + ", " +
      std::to_string(report.period.period) + ", " + std::to_string(report.next.year) + ", " +
      std::to_string(report.next.period) + ", " + QuoteSqlText(user) + ", " + QuoteSqlText(start) + ", " +
      QuoteSqlText(Timestamp()) + ", " + QuoteSqlText(outcome) + ", " + FormatDouble(report.seconds) + ", " +
      QuoteSqlText(StepsText(report)) + ", " + QuoteSqlText(errorText) + ")");
}

struct Step {
  std::string name;
  std::function<void(CCloseData&)> run;
};

RunReport Run(const RunOptions& options, const std::string& action, const std::vector<Step>& steps,
              const std::function<Period(Period current)>& check) {
  const std::string connectString = ConnectStringOf(options.description);
  RunReport report;
  report.action = action;
  report.period = options.period;
  report.preview = options.preview;
  const std::string user = UserOf(options.description);
  const std::string start = Timestamp();
  const auto began = Clock::now();
  std::string failedStep;
  try {
    Transaction transaction;
    // The first enlisted connection begins the run's transaction (on the embedded provider: takes the
    // ledger's write lock, refused at once while another close holds it); the close lock then belongs to
    // that transaction and goes with it however the run ends.
    Connection cn;
    try {
      cn.Open(connectString);
    } catch (const ComError& error) {
      if (IsLockConflict(error)) {
        throw Refused("another close or reopen is running on this ledger (" + error.Description() + ")");
      }
      throw;
    }
    if (TakeCloseLock(cn) == CloseLockOutcome::HeldByAnother) {
      throw Refused("another close or reopen is running on this ledger: its close lock is held");
    }
    const Period current = CurrentPeriod(cn);
    report.next = check(current);
    RefuseIfRowsWouldBeLost(cn, report.period, action == "close");
    if (action == "close") {
      report.tables = CountPeriods(cn, report.period, report.next, true);
    } else {
      report.discarded = LaterPeriodRows(cn, report.period);
      report.tables = CountPeriods(cn, report.period, FollowingPeriod(report.period), true);
      if (options.beforeDiscard) options.beforeDiscard(report.discarded);
    }
    CCloseData closeData;
    int index = 0;
    for (const Step& step : steps) {
      failedStep = step.name;
      const auto stepBegan = Clock::now();
      step.run(closeData);
      const double seconds = std::chrono::duration<double>(Clock::now() - stepBegan).count();
      report.steps.push_back(StepTiming{step.name, seconds});
      if (options.progress) options.progress(++index, static_cast<int>(steps.size()), step.name, seconds);
    }
    failedStep.clear();
    const Period countedNext = action == "close" ? report.next : FollowingPeriod(report.period);
    MergeAfter(report.tables, CountPeriods(cn, report.period, countedNext, false));
    if (action == "close") report.totals = ComputeTotals(cn, report.period, report.next);
    report.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    if (options.preview) {
      cn.Close();
      transaction.Rollback();
      return report;
    }
    WriteLog(cn, report, user, start, "done", "");
    cn.Close();
    transaction.Commit();
    return report;
  } catch (const Refused&) {
    throw;
  } catch (const ComError& error) {
    if (options.preview) throw;
    // The run's transaction is gone; the failure goes on record in a transaction of its own.
    report.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    try {
      Transaction logTransaction;
      Connection cn;
      cn.Open(connectString);
      const std::string where = failedStep.empty() ? std::string("checks") : failedStep;
      WriteLog(cn, report, user, start, "failed in " + where, error.ToLine());
      cn.Close();
      logTransaction.Commit();
    } catch (const ComError& logError) {
      ReportSwallowedError(logError, "close log");
    }
    throw;
  }
}

}  // namespace

Period FollowingPeriod(Period period) {
  return period.period >= 12 ? Period{period.year + 1, 1} : Period{period.year, period.period + 1};
}

Period PrecedingPeriod(Period period) {
  return period.period <= 1 ? Period{period.year - 1, 12} : Period{period.year, period.period - 1};
}

std::string ToText(Period period) {
  return std::to_string(period.year) + "/" + std::to_string(period.period);
}

Period ModuleCurrentPeriod(Connection& cn) {
  return CurrentPeriod(cn);
}

RunReport RunClose(const RunOptions& options) {
  const Period closed = options.period;
  const Period next = options.next.value_or(FollowingPeriod(closed));
  const std::string& d = options.description;
  const std::vector<Step> steps{
      {"SetEndBal", [&](CCloseData& c) { c.SetEndBal(d, closed.year, closed.period); }},
      {"SetBegBal",
       [&](CCloseData& c) { c.SetBegBal(d, closed.year, closed.period, next.year, next.period); }},
      {"SetStandardData",
       [&](CCloseData& c) { c.SetStandardData(d, closed.year, closed.period, next.year, next.period); }},
      {"SetCostDeputyData",
       [&](CCloseData& c) { c.SetCostDeputyData(d, closed.year, closed.period, next.year, next.period); }},
      {"EndHistoryData", [&](CCloseData& c) { c.EndHistoryData(d, closed.year, closed.period, true); }},
      {"EndOpCostHistoryData",
       [&](CCloseData& c) { c.EndOpCostHistoryData(d, closed.year, closed.period, true); }},
      {"AlterIdentitySeed", [&](CCloseData& c) { c.AlterIdentitySeed(d); }},
      {"SetCurrentPeriod", [&](CCloseData& c) { c.SetCurrentPeriod(d, next.year, next.period); }},
  };
  return Run(options, "close", steps, [&](Period current) {
    if (!options.force) {
      if (!(current == closed)) {
        throw Refused("period " + ToText(closed) + " is not the module's current period (" + ToText(current) +
                      "); only the current period can be closed");
      }
      if (!(next == FollowingPeriod(closed))) {
        throw Refused("the next period " + ToText(next) + " does not follow the closed period " +
                      ToText(closed));
      }
    }
    return next;
  });
}

RunReport RunReopen(const RunOptions& options) {
  const Period period = options.period;
  const std::string& d = options.description;
  const std::vector<Step> steps{
      {"EndOpCostHistoryData",
       [&](CCloseData& c) { c.EndOpCostHistoryData(d, period.year, period.period, false); }},
      {"EndHistoryData", [&](CCloseData& c) { c.EndHistoryData(d, period.year, period.period, false); }},
      {"AlterIdentitySeed", [&](CCloseData& c) { c.AlterIdentitySeed(d); }},
      {"SetCurrentPeriod",
       [&](CCloseData& c) {
         Variant unClosed(true);
         c.SetCurrentPeriod(d, period.year, period.period, &unClosed);
       }},
  };
  return Run(options, "reopen", steps, [&](Period current) {
    if (!options.force && !(FollowingPeriod(period) == current)) {
      throw Refused("period " + ToText(period) + " is not the period just before the current one (" +
                    ToText(current) + "); only the last closed period can be reopened");
    }
    return current;
  });
}

std::vector<std::pair<std::string, std::string>> LedgerChecksums(const std::string& description) {
  const std::string connectString = ConnectStringOf(description);
  Connection cn;
  cn.Open(connectString);
  std::vector<std::string> tables{"t_SystemProfile"};
  for (const std::string& table : kArchivedTables) {
    tables.push_back(table);
    tables.push_back(table + "_History");
  }
  std::vector<std::pair<std::string, std::string>> checksums;
  for (const std::string& table : tables) {
    const ResultTable rows = Fetch(cn, "SELECT * FROM " + table);
    std::vector<std::string> lines;
    for (const auto& row : rows.rows) {
      std::string line;
      for (std::size_t column = 0; column < row.size(); ++column) {
        // Archiving and restoring renumber FIDs; the rows are compared by their content.
        if (EqualsIgnoringCase(rows.columns[column], "FID")) continue;
        line += row[column].IsNull() ? std::string("\x01") : row[column].ToString();
        line += '\x1F';
      }
      lines.push_back(std::move(line));
    }
    std::sort(lines.begin(), lines.end());
    std::uint64_t hash = 1469598103934665603ull;
    for (const std::string& line : lines) {
      for (char c : line) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
      hash = (hash ^ 0x0Au) * 1099511628211ull;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%zu rows %016llx", lines.size(), static_cast<unsigned long long>(hash));
    checksums.emplace_back(table, text);
  }
  cn.Close();
  return checksums;
}

std::vector<CloseLogRow> CloseLogRows(const std::string& description, int limit) {
  Connection cn;
  cn.Open(ConnectStringOf(description));
  const ResultTable rows =
      Fetch(cn,
            "SELECT FID, FAction, FYear, FPeriod, FNextYear, FNextPeriod, FUser, FStartTime, "
            "FEndTime, FOutcome, FSeconds, FError FROM t_CloseLog ORDER BY FID DESC");
  const auto text = [](const Variant& value) { return value.IsNull() ? std::string() : value.ToString(); };
  const auto number = [](const Variant& value) { return value.IsNull() ? 0 : value.ToLong(); };
  std::vector<CloseLogRow> log;
  for (const auto& row : rows.rows) {
    if (static_cast<int>(log.size()) >= limit) break;
    CloseLogRow entry;
    entry.id = number(row[0]);
    entry.action = text(row[1]);
    entry.period = Period{number(row[2]), number(row[3])};
    entry.next = Period{number(row[4]), number(row[5])};
    entry.user = text(row[6]);
    entry.start = text(row[7]);
    entry.end = text(row[8]);
    entry.outcome = text(row[9]);
    entry.seconds = row[10].IsNull() ? 0.0 : row[10].ToDouble();
    entry.error = text(row[11]);
    log.push_back(std::move(entry));
  }
  cn.Close();
  return log;
}

std::string DurationText(double seconds) {
  if (!(seconds > 0)) seconds = 0;  // a clock step back, or no value at all
  // The precision follows the value as it will print, so that 999.7 ms reads 1.00 s and not 1000 ms.
  const double milliseconds = seconds * 1000;
  const bool inSeconds = milliseconds >= 999.5;
  const double value = inSeconds ? seconds : milliseconds;
  const int decimals = value < 0.9995 ? 3 : value < 9.995 ? 2 : value < 99.95 ? 1 : 0;
  char text[48];
  std::snprintf(text, sizeof text, "%.*f %s", decimals, value, inSeconds ? "s" : "ms");
  return text;
}

std::string ReportAsJson(const RunReport& report) {
  std::ostringstream json;
  json << "{\"action\":\"" << report.action << "\",\"period\":{\"year\":" << report.period.year
       << ",\"period\":" << report.period.period << "},\"next\":{\"year\":" << report.next.year
       << ",\"period\":" << report.next.period << "},\"preview\":" << (report.preview ? "true" : "false")
       << ",\"seconds\":" << FormatDouble(report.seconds) << ",\"steps\":[";
  for (std::size_t i = 0; i < report.steps.size(); ++i) {
    json << (i ? "," : "") << "{\"step\":\"" << report.steps[i].step
         << "\",\"seconds\":" << FormatDouble(report.steps[i].seconds) << "}";
  }
  json << "],\"tables\":[";
  for (std::size_t i = 0; i < report.tables.size(); ++i) {
    const TableChange& t = report.tables[i];
    json << (i ? "," : "") << "{\"table\":\"" << JsonEscape(t.table)
         << "\",\"closed_before\":" << t.closedBefore << ",\"closed_after\":" << t.closedAfter
         << ",\"next_before\":" << t.nextBefore << ",\"next_after\":" << t.nextAfter << "}";
  }
  json << "]";
  if (report.totals) {
    const ControlTotals& c = *report.totals;
    json << ",\"totals\":{\"ending_quantity\":" << FormatDouble(c.endingQuantity)
         << ",\"ending_amount\":" << FormatDouble(c.endingAmount)
         << ",\"beginning_quantity\":" << FormatDouble(c.beginningQuantity)
         << ",\"beginning_amount\":" << FormatDouble(c.beginningAmount)
         << ",\"finished_quantity\":" << FormatDouble(c.finishedQuantity)
         << ",\"finished_amount\":" << FormatDouble(c.finishedAmount) << "}";
  }
  if (!report.discarded.empty()) {
    json << ",\"discarded\":[";
    for (std::size_t i = 0; i < report.discarded.size(); ++i) {
      const TableChange& t = report.discarded[i];
      json << (i ? "," : "") << "{\"table\":\"" << JsonEscape(t.table)
           << "\",\"rows\":" << (t.closedBefore + t.nextBefore) << "}";
    }
    json << "]";
  }
  json << "}";
  return json.str();
}

std::string ReportAsTable(const RunReport& report) {
  std::ostringstream out;
  const std::string closedKey = YearPeriodKey(report.period);
  const std::string nextKey =
      YearPeriodKey(report.action == "close" ? report.next : FollowingPeriod(report.period));
  char line[256];
  std::snprintf(line, sizeof line, "%-36s %12s %12s %12s %12s\n", "table", (closedKey + " before").c_str(),
                (closedKey + " after").c_str(), (nextKey + " before").c_str(), (nextKey + " after").c_str());
  out << line;
  for (const TableChange& t : report.tables) {
    std::snprintf(line, sizeof line, "%-36s %12lld %12lld %12lld %12lld\n", t.table.c_str(),
                  static_cast<long long>(t.closedBefore), static_cast<long long>(t.closedAfter),
                  static_cast<long long>(t.nextBefore), static_cast<long long>(t.nextAfter));
    out << line;
  }
  if (report.totals) {
    const ControlTotals& c = *report.totals;
    std::snprintf(line, sizeof line, "\n%-36s %20s %20s\n", "control totals", "quantity", "amount");
    out << line;
    std::snprintf(line, sizeof line, "%-36s %20.4f %20.4f\n", ("ending " + closedKey).c_str(),
                  c.endingQuantity, c.endingAmount);
    out << line;
    std::snprintf(line, sizeof line, "%-36s %20.4f %20.4f\n", ("beginning " + nextKey).c_str(),
                  c.beginningQuantity, c.beginningAmount);
    out << line;
    std::snprintf(line, sizeof line, "%-36s %20.4f %20.4f\n", "finished tasks left out", c.finishedQuantity,
                  c.finishedAmount);
    out << line;
    std::snprintf(line, sizeof line, "%-36s %20.4f %20.4f\n", "unexplained difference",
                  c.endingQuantity - c.beginningQuantity - c.finishedQuantity,
                  c.endingAmount - c.beginningAmount - c.finishedAmount);
    out << line;
  }
  return out.str();
}

}  // namespace closewright::tool
