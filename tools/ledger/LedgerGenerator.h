#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace closewright::ledger {

/// What to generate: `tasks` production tasks, the period about to be closed (`year`, `period`, the module's
/// current period) with two earlier periods already archived, everything drawn from `seed`.
struct LedgerOptions {
  std::int32_t tasks = 1000;
  std::uint64_t seed = 1;
  std::int32_t year = 2011;
  std::int32_t period = 3;
};

/// The states of a production task that the close tells apart. Every ledger of at least as many tasks as
/// there are states holds each of them.
enum class TaskState {
  Open,                    // released or started, not closed
  ClosedWithRemainder,     // closed within the period with quantities still in process or not stocked
  ClosedWithoutRemainder,  // closed within the period, nothing left
  ClosedAmountsCancel,     // closed within the period, no quantities, amounts that add up to exactly zero
  ClosedByHand,          // closed within the period and marked closed (FClosed 1), amounts adding up to zero
  ClosedAfterPeriodEnd,  // closed on the day after the period's end or later
  Cancelled,             // cancelled, whatever its status
  ClosedEarlier,         // closed in an earlier period; found only in the history tables
};
inline constexpr int kTaskStateCount = 8;

struct TableCount {
  std::string table;
  std::int64_t rows = 0;
};

/// What a generation wrote: rows per table in schema order, and a checksum of every row written.
struct LedgerSummary {
  std::vector<TableCount> tables;
  std::uint64_t checksum = 0;
  std::int64_t TotalRows() const;
};

/// `Provider=Closewright.SQLite;Data Source=<file>`.
std::string EmbeddedConnectString(const std::string& file);

/// The reference schema's text: schema/closewright.sql byte for byte, built into the library.
std::string ReferenceSchema();
/// The tables the reference schema creates, in its order.
std::vector<std::string> SchemaTableNames();

/// Creates every table of the reference schema, sending the schema as one batch. Joins the thread's open
/// transaction if there is one, else runs in a transaction of its own.
void CreateSchema(const std::string& connectString);

/// Fills a ledger whose tables exist and are empty. All of it is written in one transaction (the thread's
/// open one, if any), the rows handed over as values (Connection::InsertRows); the same options always give
/// the same rows.
LedgerSummary GenerateLedger(const std::string& connectString, const LedgerOptions& options);

/// The state of the task with this internal id in a ledger made with these options.
TaskState StateOfTask(const LedgerOptions& options, std::int32_t interId);
/// The internal id of the first task, and of the first task in each state (0 when the ledger has none).
std::int32_t FirstTaskId();
std::int32_t FirstTaskInState(const LedgerOptions& options, TaskState state);

/// Rows now in every schema table, by COUNT(*).
std::vector<TableCount> CountLedgerRows(const std::string& connectString);

}  // namespace closewright::ledger
