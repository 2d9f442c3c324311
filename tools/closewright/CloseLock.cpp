#include "tools/closewright/CloseLock.h"

#include <optional>
#include <string>
#include <string_view>

#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Diagnostics.h"
#include "outside/Text.h"

namespace closewright::tool {
namespace {

// sp_getapplock with the transaction as owner "must be executed from within a transaction"; the server
// releases such a lock "when the transaction commits or rolls back" and when the session ends
// (learn.microsoft.com, "sp_getapplock (Transact-SQL)"). Under SQL Server's ODBC drivers with autocommit off
// the session runs with implicit transactions, where EXECUTE does not open a transaction ("SET
// IMPLICIT_TRANSACTIONS"); the ODBC provider opens one when the run's transaction begins, and the lock batch
// refuses to run outside one rather than let sp_getapplock answer -999. A timeout of 0 answers at once
// instead of waiting for another close to finish. The return code comes back as a row: -1 means another
// session holds the lock, the other negative codes that the call itself failed.
constexpr std::string_view kSqlServerLock =
    "DECLARE @result INT\r\n"
    "IF @@TRANCOUNT = 0 SELECT @result = -1000\r\n"
    "ELSE EXEC @result = sp_getapplock @Resource = 'Closewright.Close', @LockMode = 'Exclusive', "
    "@LockOwner = 'Transaction', @LockTimeout = 0\r\n"
    "SELECT @result AS LockResult";

// PostgreSQL's transaction-level advisory lock goes with the transaction likewise; the try form answers at
// once (postgresql.org, "Advisory Lock Functions").
constexpr std::string_view kPostgresLock =
    "SELECT CASE WHEN pg_try_advisory_xact_lock(hashtext('Closewright.Close')) THEN 0 ELSE -1 END AS "
    "LockResult";

constexpr std::int32_t kNoTransaction = -1000;
constexpr std::int32_t kTimedOut = -1;
constexpr std::int32_t kLockTimeoutError = 1222;  // "Lock request time out period exceeded."

std::string DbmsName(Connection& cn) {
  const std::optional<Variant> name = cn.Session().ProviderProperty("DBMS Name");
  return name && !name->IsNull() ? ToLowerAscii(name->ToString()) : std::string();
}

std::string MeaningOf(std::int32_t code) {
  switch (code) {
    case -2:
      return "the lock request was cancelled";
    case -3:
      return "the lock request was chosen as a deadlock victim";
    case -999:
      return "a parameter or call error";
    case kNoTransaction:
      return "the session has no open transaction to own the lock";
    default:
      return "an unexpected answer";
  }
}

}  // namespace

CloseLockOutcome TakeCloseLock(Connection& cn) {
  const std::string dbms = DbmsName(cn);
  std::string_view text;
  if (dbms.find("sql server") != std::string::npos) {
    text = kSqlServerLock;
  } else if (dbms.find("postgresql") != std::string::npos) {
    text = kPostgresLock;
  } else {
    // The embedded provider took the ledger's write lock when the transaction began, and refused at once if
    // another close held it; other databases serialise writers with their own locks.
    return CloseLockOutcome::Taken;
  }
  ResultTable answer;
  TraceSql(cn.TraceId(), "Recordset.Open", text);
  try {
    answer = cn.Session().Query(text);
  } catch (const ComError& error) {
    if (error.NativeError() == kLockTimeoutError) return CloseLockOutcome::HeldByAnother;
    throw ComError::Database(error.Number(), error.Source(),
                             "The close lock could not be taken: " + error.Description(), error.SqlState(),
                             error.NativeError(), error.FailingText());
  }
  if (answer.rows.empty() || answer.rows[0].empty() || answer.rows[0][0].IsNull()) {
    throw ComError(error_number::kCommandFailed, "closewright", "The close lock call returned no answer.");
  }
  const std::int32_t code = answer.rows[0][0].ToLong();
  if (code >= 0) return CloseLockOutcome::Taken;
  if (code == kTimedOut) return CloseLockOutcome::HeldByAnother;
  throw ComError(error_number::kCommandFailed, "closewright",
                 "The close lock could not be taken: " + MeaningOf(code) + " (lock call answered " +
                     std::to_string(code) + ").");
}

}  // namespace closewright::tool
