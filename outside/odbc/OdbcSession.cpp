// The ODBC provider: one DatabaseSession per ODBC connection, through the driver manager (unixODBC).
// Text goes through the wide entry points in UTF-16 so that it reaches the server unchanged.

#include <sql.h>
#include <sqlext.h>

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Text.h"
#include "outside/Variant.h"
#include "outside/odbc/OdbcProvider.h"
#include "outside/odbc/OdbcText.h"

namespace closewright {
namespace {

using odbc_text::Utf16ToUtf8;
using odbc_text::Utf8ToUtf16;

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t), "the driver manager must use UTF-16 for wide text");

// Owns one ODBC handle of one kind; freed in the destructor, which never throws.
template <SQLSMALLINT Kind>
class OdbcHandle {
 public:
  OdbcHandle() = default;
  ~OdbcHandle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(Kind, handle_);
  }
  OdbcHandle(OdbcHandle&& other) noexcept : handle_(std::exchange(other.handle_, SQL_NULL_HANDLE)) {}
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(Kind, handle_);
      handle_ = std::exchange(other.handle_, SQL_NULL_HANDLE);
    }
    return *this;
  }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE Get() const noexcept { return handle_; }
  SQLHANDLE* Out() noexcept { return &handle_; }

 private:
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

using EnvironmentHandle = OdbcHandle<SQL_HANDLE_ENV>;
using ConnectionHandle = OdbcHandle<SQL_HANDLE_DBC>;
using StatementHandle = OdbcHandle<SQL_HANDLE_STMT>;

// A connection handle that has been connected: disconnects before the handle is freed. A half-built
// session holds it from the moment SQLDriverConnect succeeds, so a failing set-up step still disconnects.
class ConnectedLink {
 public:
  ConnectedLink() = default;
  ~ConnectedLink() {
    if (connected_) SQLDisconnect(handle_.Get());
  }
  ConnectedLink(const ConnectedLink&) = delete;
  ConnectedLink& operator=(const ConnectedLink&) = delete;

  ConnectionHandle& Handle() noexcept { return handle_; }
  SQLHDBC Get() const noexcept { return handle_.Get(); }
  void MarkConnected() noexcept { connected_ = true; }

 private:
  ConnectionHandle handle_;
  bool connected_ = false;
};

// What SQLDescribeCol tells of a result column besides its name.
struct ColumnDescription {
  SQLSMALLINT type = 0;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
};

struct DiagnosticRecord {
  std::string sqlState;
  std::int32_t nativeError = 0;
  std::string message;
};

// The wide and the narrow entry points, so that one template serves both kinds of driver.
SQLRETURN GetDiagRec(SQLSMALLINT kind, SQLHANDLE handle, SQLSMALLINT number, SQLWCHAR* state,
                     SQLINTEGER* nativeError, SQLWCHAR* message, SQLSMALLINT capacity, SQLSMALLINT* length) {
  return SQLGetDiagRecW(kind, handle, number, state, nativeError, message, capacity, length);
}
SQLRETURN GetDiagRec(SQLSMALLINT kind, SQLHANDLE handle, SQLSMALLINT number, SQLCHAR* state,
                     SQLINTEGER* nativeError, SQLCHAR* message, SQLSMALLINT capacity, SQLSMALLINT* length) {
  return SQLGetDiagRec(kind, handle, number, state, nativeError, message, capacity, length);
}
SQLRETURN GetInfo(SQLHDBC connection, SQLUSMALLINT infoType, SQLWCHAR* buffer, SQLSMALLINT bytes,
                  SQLSMALLINT* length) {
  return SQLGetInfoW(connection, infoType, buffer, bytes, length);
}
SQLRETURN GetInfo(SQLHDBC connection, SQLUSMALLINT infoType, SQLCHAR* buffer, SQLSMALLINT bytes,
                  SQLSMALLINT* length) {
  return SQLGetInfo(connection, infoType, buffer, bytes, length);
}
SQLRETURN DescribeCol(SQLHSTMT statement, SQLUSMALLINT column, SQLWCHAR* name, SQLSMALLINT capacity,
                      SQLSMALLINT* length, ColumnDescription* described) {
  SQLSMALLINT nullable = 0;
  return SQLDescribeColW(statement, column, name, capacity, length, &described->type, &described->size,
                         &described->digits, &nullable);
}
SQLRETURN DescribeCol(SQLHSTMT statement, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT capacity,
                      SQLSMALLINT* length, ColumnDescription* described) {
  SQLSMALLINT nullable = 0;
  return SQLDescribeCol(statement, column, name, capacity, length, &described->type, &described->size,
                        &described->digits, &nullable);
}

// A column as SQLDescribeCol tells it, in our terms: a decimal's column size is its precision and its
// decimal digits its scale, a timestamp's decimal digits those of its second ("SQLDescribeCol Function";
// learn.microsoft.com "Column Size, Decimal Digits, Transfer Octet Length, and Display Size").
ColumnType ClientColumnType(const ColumnDescription& described) {
  ColumnType column;
  switch (described.type) {
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      column.kind = ColumnKind::ExactNumeric;
      column.precision = static_cast<std::int32_t>(described.size);
      column.scale = described.digits;
      break;
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
      column.kind = ColumnKind::Integer;
      column.precision = static_cast<std::int32_t>(described.size);
      break;
    case SQL_BIT:
      column.kind = ColumnKind::Bit;
      break;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      column.kind = ColumnKind::Float;
      break;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
      column.kind = ColumnKind::Text;
      // A MAX column has no size (0): "the maximum column size is not known".
      column.length = described.size == 0 ? -1 : static_cast<std::int32_t>(described.size);
      break;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
      column.kind = ColumnKind::Date;
      column.scale = described.digits;
      break;
    default:
      break;
  }
  return column;
}
constexpr SQLSMALLINT CharacterType(const SQLWCHAR*) {
  return SQL_C_WCHAR;
}
constexpr SQLSMALLINT CharacterType(const SQLCHAR*) {
  return SQL_C_CHAR;
}

// Narrow text from a driver is taken as UTF-8, the only encoding this library speaks.
std::string ToUtf8(const SQLWCHAR* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}
std::string ToUtf8(const SQLCHAR* text, std::size_t length) {
  return std::string(reinterpret_cast<const char*>(text), length);
}

std::size_t ClampLength(SQLLEN length, std::size_t capacity) {
  return std::min(static_cast<std::size_t>(std::max<SQLLEN>(length, 0)), capacity);
}

template <typename Char>
std::vector<DiagnosticRecord> ReadDiagnosticsAs(SQLSMALLINT kind, SQLHANDLE handle) {
  std::vector<DiagnosticRecord> records;
  if (handle == SQL_NULL_HANDLE) return records;
  for (SQLSMALLINT number = 1;; ++number) {
    std::array<Char, 6> state{};
    SQLINTEGER nativeError = 0;
    std::vector<Char> message(1024);
    SQLSMALLINT length = 0;
    SQLRETURN rc = GetDiagRec(kind, handle, number, state.data(), &nativeError, message.data(),
                              static_cast<SQLSMALLINT>(message.size()), &length);
    if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
      message.resize(static_cast<std::size_t>(length) + 1);
      rc = GetDiagRec(kind, handle, number, state.data(), &nativeError, message.data(),
                      static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(rc)) break;
    DiagnosticRecord record;
    record.sqlState = ToUtf8(state.data(), 5);
    while (!record.sqlState.empty() && record.sqlState.back() == '\0') record.sqlState.pop_back();
    record.nativeError = static_cast<std::int32_t>(nativeError);
    record.message = ToUtf8(message.data(), ClampLength(length, message.size() - 1));
    records.push_back(std::move(record));
  }
  return records;
}

std::vector<DiagnosticRecord> ReadDiagnostics(SQLSMALLINT kind, SQLHANDLE handle, bool wide) {
  return wide ? ReadDiagnosticsAs<SQLWCHAR>(kind, handle) : ReadDiagnosticsAs<SQLCHAR>(kind, handle);
}

// Classes 00 (success), 01 (warning) and 02 (no data) report no failure: drivers attach them to
// SQL_SUCCESS_WITH_INFO for PRINT output, "changed database context" and the like.
bool IsFailureState(std::string_view sqlState) {
  return !(sqlState.starts_with("00") || sqlState.starts_with("01") || sqlState.starts_with("02"));
}

bool IsConnectionState(std::string_view sqlState) {
  return sqlState.starts_with("08");
}

// What the records say as one error: every failure message in order, the first failure's SQLSTATE and
// native error. Records that are only warnings are used when no failure record was given.
ComError ErrorFromRecords(std::int32_t number, const std::string& source,
                          const std::vector<DiagnosticRecord>& records, std::string failingText,
                          bool maskPasswords = false) {
  std::vector<const DiagnosticRecord*> chosen;
  for (const DiagnosticRecord& record : records) {
    if (IsFailureState(record.sqlState)) chosen.push_back(&record);
  }
  if (chosen.empty()) {
    for (const DiagnosticRecord& record : records) chosen.push_back(&record);
  }
  std::string description;
  std::string_view previous;
  for (const DiagnosticRecord* record : chosen) {
    // Drivers repeat a message on the way up through their layers; once is enough.
    const std::string_view message = odbc_text::WithoutComponentTags(record->message);
    if (message == previous) continue;
    previous = message;
    if (!description.empty()) description.push_back('\n');
    description.append(message);
  }
  if (description.empty()) description = "The ODBC driver reported a failure without a diagnostic record";
  if (maskPasswords) description = MaskConnectStringPasswords(description);
  return ComError::Database(number, source, std::move(description),
                            chosen.empty() ? "HY000" : chosen.front()->sqlState,
                            chosen.empty() ? 0 : chosen.front()->nativeError, std::move(failingText));
}

bool HasFailureRecord(const std::vector<DiagnosticRecord>& records) {
  for (const DiagnosticRecord& record : records) {
    if (IsFailureState(record.sqlState)) return true;
  }
  return false;
}

std::vector<SQLWCHAR> WideText(std::string_view utf8, const std::string& source, std::int32_t number,
                               const std::string& failingText) {
  std::size_t badByte = 0;
  const std::optional<std::u16string> utf16 = Utf8ToUtf16(utf8, &badByte);
  if (!utf16) {
    throw ComError::Database(
        number, source,
        "The text is not valid UTF-8 (byte " + std::to_string(badByte) + "); nothing was sent", "22018", 0,
        failingText);
  }
  std::vector<SQLWCHAR> wide(utf16->begin(), utf16->end());
  wide.push_back(0);
  return wide;
}

// With autocommit off SQL Server's ODBC drivers run the session with implicit transactions: the server opens
// a transaction at the first statement that needs one and opens a fresh one after the server itself rolled
// the last one back ("SET IMPLICIT_TRANSACTIONS", learn.microsoft.com). @@TRANCOUNT alone cannot tell the
// fresh one from the one the session began. A temporary table created as the transaction's first statement
// can: the server drops it again when it rolls that transaction back, DDL being part of the transaction.
constexpr std::string_view kSqlServerBeginMarker = "CREATE TABLE #Closewright_Transaction (FBegun INT)";
constexpr std::string_view kSqlServerDropMarker = "DROP TABLE #Closewright_Transaction";
// XACT_STATE() is 1 while the transaction can commit, -1 once it is doomed ("XACT_STATE (Transact-SQL)").
constexpr std::string_view kSqlServerTransactionProbe =
    "SELECT CASE WHEN @@TRANCOUNT > 0 AND XACT_STATE() = 1 AND "
    "OBJECT_ID('tempdb..#Closewright_Transaction') IS NOT NULL THEN 1 ELSE 0 END AS FTransactionOpen";
// PostgreSQL refuses every statement of a transaction after its first error with SQLSTATE 25P02 ("in
// failed SQL transaction") and answers a COMMIT of it by rolling back. Its ODBC driver may instead roll the
// transaction back itself and open a fresh one at the next statement (psqlODBC's "Level of rollback on
// errors", Protocol=7.4-1), so the transaction's own id is kept to tell the two apart.
constexpr std::string_view kPostgresTransactionId = "SELECT txid_current() AS FTransactionId";
constexpr std::string_view kPostgresFailedTransaction = "25P02";

SQLPOINTER AttributeValue(SQLULEN value) {
  return reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(value));
}

std::optional<SQLULEN> IsolationAttributeValue(std::string_view level) {
  if (level == "READ UNCOMMITTED") return SQL_TXN_READ_UNCOMMITTED;
  if (level == "READ COMMITTED") return SQL_TXN_READ_COMMITTED;
  if (level == "REPEATABLE READ") return SQL_TXN_REPEATABLE_READ;
  if (level == "SERIALIZABLE") return SQL_TXN_SERIALIZABLE;
  return std::nullopt;
}

// How a provider fact is read from SQLGetInfo and shown, following the types an OLE DB provider for ODBC
// gives these properties: names and versions as text, the escape flag as "Y"/"N" text, the integrity flag
// as a Boolean, multiple results as a number (1 supported, 0 not) and the function sets as bitmasks.
enum class InfoShape { Text, YesNoText, YesNoBoolean, YesNoNumber, Bitmask };

struct InfoProperty {
  std::string_view name;
  SQLUSMALLINT infoType;
  InfoShape shape;
};

constexpr std::array<InfoProperty, 9> kInfoProperties{{
    {"DBMS Name", SQL_DBMS_NAME, InfoShape::Text},
    {"DBMS Version", SQL_DBMS_VER, InfoShape::Text},
    {"Multiple Results", SQL_MULT_RESULT_SETS, InfoShape::YesNoNumber},
    {"Like Escape Clause", SQL_LIKE_ESCAPE_CLAUSE, InfoShape::YesNoText},
    {"Integrity Enhancement Facility", SQL_INTEGRITY, InfoShape::YesNoBoolean},
    {"Numeric Functions", SQL_NUMERIC_FUNCTIONS, InfoShape::Bitmask},
    {"String Functions", SQL_STRING_FUNCTIONS, InfoShape::Bitmask},
    {"System Functions", SQL_SYSTEM_FUNCTIONS, InfoShape::Bitmask},
    {"Time/Date Functions", SQL_TIMEDATE_FUNCTIONS, InfoShape::Bitmask},
}};

template <typename Char>
std::optional<std::string> InfoTextAs(SQLHDBC connection, SQLUSMALLINT infoType) {
  std::vector<Char> buffer(256);
  SQLSMALLINT bytes = 0;
  SQLRETURN rc = GetInfo(connection, infoType, buffer.data(),
                         static_cast<SQLSMALLINT>(buffer.size() * sizeof(Char)), &bytes);
  if (SQL_SUCCEEDED(rc) && static_cast<std::size_t>(bytes) >= (buffer.size() - 1) * sizeof(Char)) {
    buffer.resize(static_cast<std::size_t>(bytes) / sizeof(Char) + 1);
    rc = GetInfo(connection, infoType, buffer.data(), static_cast<SQLSMALLINT>(buffer.size() * sizeof(Char)),
                 &bytes);
  }
  if (!SQL_SUCCEEDED(rc)) return std::nullopt;
  return ToUtf8(buffer.data(), ClampLength(bytes, (buffer.size() - 1) * sizeof(Char)) / sizeof(Char));
}

std::optional<std::string> InfoText(SQLHDBC connection, SQLUSMALLINT infoType, bool wide) {
  return wide ? InfoTextAs<SQLWCHAR>(connection, infoType) : InfoTextAs<SQLCHAR>(connection, infoType);
}

std::optional<std::uint32_t> InfoBitmask(SQLHDBC connection, SQLUSMALLINT infoType) {
  SQLUINTEGER value = 0;
  if (!SQL_SUCCEEDED(SQLGetInfoW(connection, infoType, &value, sizeof(value), nullptr))) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

DateValue DateFromParts(int year, int month, int day, int hour, int minute, int second,
                        std::uint64_t nanoseconds) {
  DateValue date = MakeDate(year, month, day, hour, minute, second);
  const double fraction = static_cast<double>(nanoseconds) / 1e9 / 86400.0;
  // Before the epoch the day is negative but the time of day still counts forward, as the platform keeps it.
  date.days += date.days < 0 ? -fraction : fraction;
  return date;
}

// A driver without wide entry points gets wide text converted by the driver manager through the process
// locale, which loses everything outside ASCII in the "C" locale. Asking the driver to echo a text through
// SQLNativeSqlW shows whether it comes back whole; a driver that cannot echo is taken at its word.
bool DriverKeepsWideText(SQLHDBC connection) {
  std::array<SQLWCHAR, 12> probe{u'S', u'E', u'L', u'E', u'C', u'T', u' ', u'\'', 0x671F, 0x672B, u'\'', 0};
  std::array<SQLWCHAR, 64> echoed{};
  SQLINTEGER echoedLength = 0;
  const SQLRETURN rc = SQLNativeSqlW(connection, probe.data(), static_cast<SQLINTEGER>(probe.size() - 1),
                                     echoed.data(), static_cast<SQLINTEGER>(echoed.size()), &echoedLength);
  if (!SQL_SUCCEEDED(rc)) return true;
  return echoedLength == static_cast<SQLINTEGER>(probe.size() - 1) &&
         std::equal(probe.begin(), probe.end() - 1, echoed.begin());
}

class OdbcSession final : public DatabaseSession {
 public:
  explicit OdbcSession(const std::string& connectString);
  ~OdbcSession() override;
  OdbcSession(const OdbcSession&) = delete;
  OdbcSession& operator=(const OdbcSession&) = delete;

  void Execute(std::string_view batch) override;
  ResultTable Query(std::string_view text) override;
  void BeginTransaction() override;
  void Commit() override;
  void Rollback() noexcept override;
  std::optional<Variant> ProviderProperty(std::string_view name) override;
  std::vector<std::string> ProviderPropertyNames() override;
  const std::string& ProviderName() const override { return providerName_; }

 private:
  // Runs a text to its end: every result is visited and SQLMoreResults is called until no data is left,
  // because errors of later statements in a batch only surface there. The first result set with columns
  // is fetched into `table` when one is given. The first failure met is raised after the batch is drained.
  void Run(std::string_view text, ResultTable* table);
  ResultTable FetchResultSet(SQLHSTMT statement, std::string_view text);
  Variant FetchValue(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT type, std::int32_t scale,
                     std::string_view text);
  Variant FetchDecimal(SQLHSTMT statement, SQLUSMALLINT column, std::int32_t scale, std::string_view text);
  template <typename Char>
  Variant FetchText(SQLHSTMT statement, SQLUSMALLINT column, std::string_view text);
  template <typename Char>
  std::string ColumnName(SQLHSTMT statement, SQLUSMALLINT column, ColumnDescription* described,
                         std::string_view text);
  ComError StatementError(SQLHSTMT statement, std::string_view text);
  ComError ConnectionError(std::int32_t number, std::string_view what);
  void NoteConnectionLoss(const std::vector<DiagnosticRecord>& records) noexcept;
  void ApplyIsolationLevel(const std::string& level);
  void SetAutocommit(bool on);
  void VerifyBeforeCommit();
  // Whether the server still runs the transaction this session began; nullopt when the DBMS gives no way
  // to tell (its errors never end a transaction by themselves).
  std::optional<bool> ServerTransactionIsOpen();
  void NoteWhetherTheServerEndedTheTransaction(const ComError& failure) noexcept;
  ComError EndedByServerError(bool atCommit, const std::string& failingText) const;

  EnvironmentHandle environment_;
  ConnectedLink link_;
  std::string providerName_{kOdbcProviderName};
  // Whether the driver itself takes wide text; otherwise the driver manager would squeeze it through the
  // process locale, and UTF-8 goes through the narrow entry points as it is.
  bool wideText_ = true;
  bool isSqlServer_ = false;
  bool isPostgres_ = false;
  bool inTransaction_ = false;
  bool connectionLost_ = false;
  // Set when the server was found to have ended the transaction: the error after which it was found.
  std::optional<std::string> endedAfter_;
  std::string transactionId_;  // PostgreSQL's id of the transaction this session began
  bool probing_ = false;
};

OdbcSession::OdbcSession(const std::string& connectString) {
  const std::string masked = MaskConnectStringPasswords(connectString);
  const auto openError = [&](SQLSMALLINT kind, SQLHANDLE handle, std::string_view what) {
    std::vector<DiagnosticRecord> records = ReadDiagnostics(kind, handle, true);
    if (records.empty()) records.push_back({"HY000", 0, std::string(what)});
    return ErrorFromRecords(error_number::kOpenFailed, providerName_, records, masked, true);
  };
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, environment_.Out()))) {
    throw openError(SQL_HANDLE_ENV, SQL_NULL_HANDLE,
                    "The ODBC driver manager could not allocate an environment");
  }
  if (!SQL_SUCCEEDED(
          SQLSetEnvAttr(environment_.Get(), SQL_ATTR_ODBC_VERSION, AttributeValue(SQL_OV_ODBC3), 0))) {
    throw openError(SQL_HANDLE_ENV, environment_.Get(), "The ODBC driver manager refused ODBC 3 behaviour");
  }
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, environment_.Get(), link_.Handle().Out()))) {
    throw openError(SQL_HANDLE_ENV, environment_.Get(),
                    "The ODBC driver manager could not allocate a connection");
  }
  std::vector<SQLWCHAR> wide = WideText(connectString, providerName_, error_number::kOpenFailed, masked);
  std::array<SQLWCHAR, 1024> completed{};
  SQLSMALLINT completedLength = 0;
  const SQLRETURN rc = SQLDriverConnectW(
      link_.Get(), nullptr, wide.data(), static_cast<SQLSMALLINT>(wide.size() - 1), completed.data(),
      static_cast<SQLSMALLINT>(completed.size()), &completedLength, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(rc)) {
    throw openError(SQL_HANDLE_DBC, link_.Get(), "The ODBC driver refused the connection");
  }
  link_.MarkConnected();
  wideText_ = DriverKeepsWideText(link_.Get());

  if (auto driver = InfoText(link_.Get(), SQL_DRIVER_NAME, wideText_); driver && !driver->empty()) {
    providerName_ += " (" + *driver + ")";
  }
  const std::string dbmsName = InfoText(link_.Get(), SQL_DBMS_NAME, wideText_).value_or("");
  isSqlServer_ = dbmsName.find("SQL Server") != std::string::npos;
  isPostgres_ = dbmsName.find("PostgreSQL") != std::string::npos;
  if (isSqlServer_) {
    // The server's default, which the close's statements were written for: a statement error ends that
    // statement (some errors its batch) and leaves the transaction open, so an error the component passes
    // over by design costs nothing else, and every error it raises rolls the whole call back through the
    // transaction layer. ON would make such a passed-over error roll the whole close back on the server
    // ("SET XACT_ABORT (Transact-SQL)", learn.microsoft.com). It is sent rather than assumed because a
    // server's "user options" can change the default.
    constexpr std::string_view kXactAbort = "SET XACT_ABORT OFF";
    TraceSql(0, "Session.Open", kXactAbort);
    Run(kXactAbort, nullptr);
  }
}

OdbcSession::~OdbcSession() {
  if (inTransaction_ && !connectionLost_) SQLEndTran(SQL_HANDLE_DBC, link_.Get(), SQL_ROLLBACK);
}

ComError OdbcSession::StatementError(SQLHSTMT statement, std::string_view text) {
  const std::vector<DiagnosticRecord> records = ReadDiagnostics(SQL_HANDLE_STMT, statement, wideText_);
  NoteConnectionLoss(records);
  return ErrorFromRecords(error_number::kCommandFailed, providerName_, records, std::string(text));
}

ComError OdbcSession::ConnectionError(std::int32_t number, std::string_view what) {
  std::vector<DiagnosticRecord> records = ReadDiagnostics(SQL_HANDLE_DBC, link_.Get(), wideText_);
  NoteConnectionLoss(records);
  if (records.empty()) records.push_back({"HY000", 0, std::string(what)});
  return ErrorFromRecords(number, providerName_, records, {});
}

void OdbcSession::NoteConnectionLoss(const std::vector<DiagnosticRecord>& records) noexcept {
  for (const DiagnosticRecord& record : records) {
    if (IsConnectionState(record.sqlState)) connectionLost_ = true;
  }
}

void OdbcSession::Execute(std::string_view batch) {
  if (!isSqlServer_) {
    if (std::optional<std::string> level = odbc_text::IsolationLevelStatement(batch)) {
      ApplyIsolationLevel(*level);
      return;
    }
  }
  Run(batch, nullptr);
}

ResultTable OdbcSession::Query(std::string_view text) {
  ResultTable table;
  Run(text, &table);
  return table;
}

void OdbcSession::Run(std::string_view text, ResultTable* table) {
  const std::string failingText(text);
  if (endedAfter_) throw EndedByServerError(false, failingText);
  std::vector<SQLWCHAR> wide = WideText(text, providerName_, error_number::kCommandFailed, failingText);
  std::string narrow(text);
  StatementHandle statement;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, link_.Get(), statement.Out()))) {
    throw ConnectionError(error_number::kCommandFailed, "The ODBC driver could not allocate a statement");
  }
  std::optional<ComError> failure;
  const auto noteFailure = [&](const std::vector<DiagnosticRecord>& records) {
    if (!failure) {
      failure = ErrorFromRecords(error_number::kCommandFailed, providerName_, records, failingText);
    }
  };
  bool fetched = false;
  SQLRETURN rc = wideText_
                     ? SQLExecDirectW(statement.Get(), wide.data(), static_cast<SQLINTEGER>(wide.size() - 1))
                     : SQLExecDirect(statement.Get(), reinterpret_cast<SQLCHAR*>(narrow.data()),
                                     static_cast<SQLINTEGER>(narrow.size()));
  // A driver that keeps reporting the same failure must not hold the session for ever.
  constexpr int kMaxResults = 100'000;
  for (int visited = 0;; ++visited) {
    if (rc == SQL_INVALID_HANDLE) {
      noteFailure({{"HY000", 0, "The ODBC driver reported an invalid handle"}});
      break;
    }
    if (rc == SQL_ERROR || rc == SQL_SUCCESS_WITH_INFO) {
      const std::vector<DiagnosticRecord> records =
          ReadDiagnostics(SQL_HANDLE_STMT, statement.Get(), wideText_);
      // Out of sequence: the driver has no further result to offer after an earlier one ended the text.
      if (rc == SQL_ERROR && visited > 0 && !records.empty() && records.front().sqlState == "HY010") break;
      NoteConnectionLoss(records);
      // A failure in a statement that is not the last may come as SQL_SUCCESS_WITH_INFO with an error state.
      if (rc == SQL_ERROR || HasFailureRecord(records)) noteFailure(records);
      if (connectionLost_) break;
    }
    // A searched UPDATE or DELETE that touches no rows gives SQL_NO_DATA from the execution; statements
    // after it may still follow, so only SQLMoreResults' SQL_NO_DATA ends the text.
    if ((rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO) && table != nullptr && !fetched && !failure) {
      SQLSMALLINT columns = 0;
      if (SQL_SUCCEEDED(SQLNumResultCols(statement.Get(), &columns)) && columns > 0) {
        try {
          *table = FetchResultSet(statement.Get(), text);
          fetched = true;
        } catch (const ComError& error) {
          failure = error;
          if (connectionLost_) break;
        }
      }
    }
    if (visited >= kMaxResults) {
      noteFailure({{"HY000", 0, "The ODBC driver did not finish the batch"}});
      break;
    }
    rc = SQLMoreResults(statement.Get());
    if (rc == SQL_NO_DATA) break;
  }
  if (failure) {
    NoteWhetherTheServerEndedTheTransaction(*failure);
    throw *failure;
  }
}

std::optional<bool> OdbcSession::ServerTransactionIsOpen() {
  if (!isSqlServer_ && !isPostgres_) return std::nullopt;
  const std::string_view probe = isSqlServer_ ? kSqlServerTransactionProbe : kPostgresTransactionId;
  probing_ = true;
  struct ProbeEnd {
    bool& probing;
    ~ProbeEnd() { probing = false; }
  } probeEnd{probing_};
  TraceSql(0, "Session.CheckTransaction", probe);
  try {
    ResultTable answer;
    Run(probe, &answer);
    if (answer.rows.empty() || answer.rows[0].empty()) return false;
    if (isSqlServer_) return answer.rows[0][0] == Variant(std::int32_t{1});
    return answer.rows[0][0].ToString() == transactionId_;
  } catch (const ComError& error) {
    if (isPostgres_ && error.SqlState() == kPostgresFailedTransaction) return false;
    throw;
  }
}

// An error the component passes over by design (the identity realignment's, a failed lookup's) must not
// leave the run going on in a transaction the server has already rolled back, with a commit at the end that
// would make only the later statements durable. So after any failure inside a transaction the server is
// asked whether the transaction is still there; once it is not, nothing more is sent and the commit fails.
void OdbcSession::NoteWhetherTheServerEndedTheTransaction(const ComError& failure) noexcept {
  if (!inTransaction_ || probing_ || connectionLost_ || endedAfter_) return;
  try {
    if (ServerTransactionIsOpen() == false) endedAfter_ = failure.ToLine();
  } catch (...) {
    // The failure being raised is what the caller must see; a probe that fails says nothing either way.
  }
}

ComError OdbcSession::EndedByServerError(bool atCommit, const std::string& failingText) const {
  const std::string what = atCommit
                               ? "so nothing was committed"
                               : "so this text was not sent and nothing of the transaction will be committed";
  return ComError::Database(error_number::kTransactionAborted, providerName_,
                            "The server rolled the transaction back after an earlier error, " + what +
                                ". The error: " + endedAfter_.value_or("none reported"),
                            "40000", 0, failingText);
}

ResultTable OdbcSession::FetchResultSet(SQLHSTMT statement, std::string_view text) {
  ResultTable table;
  SQLSMALLINT columnCount = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(statement, &columnCount))) throw StatementError(statement, text);
  std::vector<SQLSMALLINT> types;
  for (SQLUSMALLINT column = 1; column <= static_cast<SQLUSMALLINT>(columnCount); ++column) {
    ColumnDescription described;
    table.columns.push_back(wideText_ ? ColumnName<SQLWCHAR>(statement, column, &described, text)
                                      : ColumnName<SQLCHAR>(statement, column, &described, text));
    table.columnTypes.push_back(ClientColumnType(described));
    types.push_back(described.type);
  }
  for (;;) {
    const SQLRETURN rc = SQLFetch(statement);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) throw StatementError(statement, text);
    std::vector<Variant> row;
    row.reserve(types.size());
    for (std::size_t index = 0; index < types.size(); ++index) {
      row.push_back(FetchValue(statement, static_cast<SQLUSMALLINT>(index + 1), types[index],
                               table.columnTypes[index].scale, text));
    }
    table.rows.push_back(std::move(row));
  }
  return table;
}

Variant OdbcSession::FetchValue(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT type, std::int32_t scale,
                                std::string_view text) {
  SQLLEN indicator = 0;
  const auto get = [&](SQLSMALLINT cType, SQLPOINTER target, SQLLEN size) {
    if (!SQL_SUCCEEDED(SQLGetData(statement, column, cType, target, size, &indicator))) {
      throw StatementError(statement, text);
    }
    return indicator != SQL_NULL_DATA;
  };
  switch (type) {
    case SQL_BIT: {
      unsigned char value = 0;
      if (!get(SQL_C_BIT, &value, sizeof(value))) return Variant::Null();
      return Variant(value != 0);
    }
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: {
      std::int64_t value = 0;
      if (!get(SQL_C_SBIGINT, &value, sizeof(value))) return Variant::Null();
      if (value >= std::numeric_limits<std::int32_t>::min() &&
          value <= std::numeric_limits<std::int32_t>::max()) {
        return Variant(static_cast<std::int32_t>(value));
      }
      return Variant(value);
    }
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return FetchDecimal(statement, column, scale, text);
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: {
      double value = 0;
      if (!get(SQL_C_DOUBLE, &value, sizeof(value))) return Variant::Null();
      return Variant(value);
    }
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIMESTAMP: {
      SQL_TIMESTAMP_STRUCT value{};
      if (!get(SQL_C_TYPE_TIMESTAMP, &value, sizeof(value))) return Variant::Null();
      return Variant(DateFromParts(value.year, value.month, value.day, value.hour, value.minute, value.second,
                                   value.fraction));
    }
    case SQL_TYPE_TIME:
    case SQL_TIME: {
      // Converting a time to a timestamp would put today's date in front of it.
      SQL_TIME_STRUCT value{};
      if (!get(SQL_C_TYPE_TIME, &value, sizeof(value))) return Variant::Null();
      return Variant(DateFromParts(1899, 12, 30, value.hour, value.minute, value.second, 0));
    }
    default:
      return wideText_ ? FetchText<SQLWCHAR>(statement, column, text)
                       : FetchText<SQLCHAR>(statement, column, text);
  }
}

// A decimal is fetched as the driver's text, which carries every digit the server sent: as a double it would
// keep only about 15 (learn.microsoft.com "SQL to C Data Conversion Examples": SQL_DECIMAL 1234.56 to
// SQL_C_CHAR is "1234.56"; a buffer too short for the fraction cuts digits off with 01004, which is
// refused here). A text with fewer places than the column's scale is given the scale, so that MONEY 2.5 is
// 2.5000 whichever driver sent it; digits are never rounded off.
Variant OdbcSession::FetchDecimal(SQLHSTMT statement, SQLUSMALLINT column, std::int32_t scale,
                                  std::string_view text) {
  // 38 digits, a sign, a point and the terminator; more only from a driver's exponent form.
  std::array<char, 128> buffer{};
  SQLLEN indicator = 0;
  const SQLRETURN rc = SQLGetData(statement, column, SQL_C_CHAR, buffer.data(),
                                  static_cast<SQLLEN>(buffer.size()), &indicator);
  if (!SQL_SUCCEEDED(rc)) throw StatementError(statement, text);
  if (indicator == SQL_NULL_DATA) return Variant::Null();
  const bool cut = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(buffer.size());
  const std::string_view digits(buffer.data(), ClampLength(indicator, buffer.size() - 1));
  const Decimal::ParseResult parsed = Decimal::Parse(digits, true);
  if (cut || parsed.status != Decimal::ParseStatus::Ok) {
    throw ComError(error_number::kOverflow, ProviderName(),
                   "The driver sent the decimal \"" + std::string(digits) +
                       "\", which is no number of at most 38 digits.");
  }
  if (scale > parsed.value.Scale()) {
    if (const std::optional<Decimal> padded = parsed.value.Rescaled(scale)) return Variant(*padded);
  }
  return Variant(parsed.value);
}

template <typename Char>
std::string OdbcSession::ColumnName(SQLHSTMT statement, SQLUSMALLINT column, ColumnDescription* described,
                                    std::string_view text) {
  std::vector<Char> name(256);
  SQLSMALLINT length = 0;
  SQLRETURN rc =
      DescribeCol(statement, column, name.data(), static_cast<SQLSMALLINT>(name.size()), &length, described);
  if (SQL_SUCCEEDED(rc) && length >= static_cast<SQLSMALLINT>(name.size())) {
    name.resize(static_cast<std::size_t>(length) + 1);
    rc = DescribeCol(statement, column, name.data(), static_cast<SQLSMALLINT>(name.size()), &length,
                     described);
  }
  if (!SQL_SUCCEEDED(rc)) throw StatementError(statement, text);
  return ToUtf8(name.data(), ClampLength(length, name.size() - 1));
}

template <typename Char>
Variant OdbcSession::FetchText(SQLHSTMT statement, SQLUSMALLINT column, std::string_view text) {
  std::vector<Char> collected;
  std::array<Char, 4096> buffer{};
  constexpr auto kBufferBytes = static_cast<SQLLEN>(sizeof(buffer));
  constexpr std::size_t kBufferCharacters = buffer.size() - 1;
  for (;;) {
    SQLLEN indicator = 0;
    const SQLRETURN rc =
        SQLGetData(statement, column, CharacterType(buffer.data()), buffer.data(), kBufferBytes, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!SQL_SUCCEEDED(rc)) throw StatementError(statement, text);
    if (indicator == SQL_NULL_DATA) return Variant::Null();
    // Long values come in pieces: a full buffer with SQL_SUCCESS_WITH_INFO means more follows.
    const bool more =
        rc == SQL_SUCCESS_WITH_INFO &&
        (indicator == SQL_NO_TOTAL || indicator >= kBufferBytes - static_cast<SQLLEN>(sizeof(Char)));
    const std::size_t characters =
        more ? kBufferCharacters : ClampLength(indicator, kBufferBytes) / sizeof(Char);
    collected.insert(collected.end(), buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(characters));
    if (!more) break;
  }
  return Variant(ToUtf8(collected.data(), collected.size()));
}

void OdbcSession::ApplyIsolationLevel(const std::string& level) {
  // Only SQL Server takes the isolation statement as SQL; other DBMSs get the level as a connection
  // attribute. A driver that cannot take it now (a transaction is open) or at all keeps its own level.
  const std::string asked = "SET TRANSACTION ISOLATION LEVEL " + level;
  const std::optional<SQLULEN> value = IsolationAttributeValue(level);
  if (value &&
      SQL_SUCCEEDED(SQLSetConnectAttrW(link_.Get(), SQL_ATTR_TXN_ISOLATION, AttributeValue(*value), 0))) {
    TraceSql(0, "Session.SetConnectAttr", "SQL_ATTR_TXN_ISOLATION " + level + " in place of: " + asked);
    return;
  }
  const std::vector<DiagnosticRecord> records = ReadDiagnostics(SQL_HANDLE_DBC, link_.Get(), wideText_);
  std::string reason = records.empty()
                           ? std::string("no reason given")
                           : records.front().sqlState + " " +
                                 std::string(odbc_text::WithoutComponentTags(records.front().message));
  TraceSql(0, "Session.SetConnectAttr",
           "not applied, the session keeps its isolation level (" + reason + "): " + asked);
}

void OdbcSession::SetAutocommit(bool on) {
  const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  if (!SQL_SUCCEEDED(
          SQLSetConnectAttrW(link_.Get(), SQL_ATTR_AUTOCOMMIT, AttributeValue(value), SQL_IS_UINTEGER))) {
    throw ConnectionError(error_number::kCommandFailed, "The ODBC driver refused to change autocommit");
  }
}

void OdbcSession::BeginTransaction() {
  if (inTransaction_) {
    throw ComError::Database(error_number::kCommandFailed, providerName_,
                             "A transaction is already open on this session", "25000", 0, {});
  }
  // With autocommit off the driver opens a transaction before the next statement and keeps it open until
  // SQLEndTran; between transactions the session runs in autocommit so that nothing is left pending.
  SetAutocommit(false);
  inTransaction_ = true;
  endedAfter_.reset();
  if (!isSqlServer_ && !isPostgres_) return;
  const std::string_view begin = isSqlServer_ ? kSqlServerBeginMarker : kPostgresTransactionId;
  TraceSql(0, "Session.BeginTransaction", begin);
  try {
    ResultTable answer;
    Run(begin, isPostgres_ ? &answer : nullptr);
    if (isPostgres_) transactionId_ = answer.rows.at(0).at(0).ToString();
  } catch (const std::exception&) {
    Rollback();
    throw;
  }
}

void OdbcSession::Commit() {
  if (!inTransaction_) {
    throw ComError::Database(error_number::kCommandFailed, providerName_,
                             "No transaction is open on this session", "25000", 0, {});
  }
  VerifyBeforeCommit();
  inTransaction_ = false;
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, link_.Get(), SQL_COMMIT);
  if (SQL_SUCCEEDED(rc)) {
    // The work is committed; a driver that will not switch back to autocommit must not make it look failed.
    try {
      SetAutocommit(true);
    } catch (const ComError& error) {
      ReportSwallowedError(error, "OdbcSession.Commit");
    }
    return;
  }
  std::vector<DiagnosticRecord> records = ReadDiagnostics(SQL_HANDLE_DBC, link_.Get(), wideText_);
  NoteConnectionLoss(records);
  bool rolledBack = !records.empty();
  for (const DiagnosticRecord& record : records) {
    if (IsFailureState(record.sqlState) && !record.sqlState.starts_with("40")) rolledBack = false;
  }
  if (rolledBack) {
    // Class 40: the server rolled the transaction back instead of committing it.
    ComError error = ErrorFromRecords(error_number::kTransactionAborted, providerName_, records, "COMMIT");
    try {
      SetAutocommit(true);
    } catch (const ComError& ignored) {
      ReportSwallowedError(ignored, "OdbcSession.Commit");
    }
    throw error;
  }
  // The commit may or may not have reached the server before the failure: say so, never success.
  if (records.empty())
    records.push_back({"HY000", 0, "The ODBC driver reported a failure without a diagnostic record"});
  ComError cause = ErrorFromRecords(error_number::kOutcomeUnknown, providerName_, records, "COMMIT");
  throw ComError::Database(
      error_number::kOutcomeUnknown, providerName_,
      "The outcome of the commit is unknown: the transaction may or may not have been committed (" +
          cause.Description() + ")",
      cause.SqlState(), cause.NativeError(), "COMMIT");
}

// The commit goes ahead only while the server still runs the transaction this session began; a transaction
// the server rolled back (or a fresh one it opened since) is rolled back here and the commit fails.
void OdbcSession::VerifyBeforeCommit() {
  std::optional<bool> open;
  if (!endedAfter_) {
    try {
      open = ServerTransactionIsOpen();
      if (open == true && isSqlServer_) {
        TraceSql(0, "Session.Commit", kSqlServerDropMarker);
        Run(kSqlServerDropMarker, nullptr);
      }
    } catch (const ComError& error) {
      // No COMMIT is sent after a check that did not answer; the rollback (or, on a lost connection, the
      // server ending the session) undoes the transaction.
      Rollback();
      throw ComError::Database(error_number::kTransactionAborted, providerName_,
                               "The check before the commit failed, so the transaction was rolled back and "
                               "nothing was committed: " +
                                   error.Description(),
                               error.SqlState(), error.NativeError(), "COMMIT");
    }
  }
  if (!endedAfter_ && open != false) return;
  const ComError error =
      endedAfter_
          ? EndedByServerError(true, "COMMIT")
          : ComError::Database(error_number::kTransactionAborted, providerName_,
                               "The transaction this session began is no longer open on the server: a "
                               "statement ended it or the server rolled it back. Whatever ran after it "
                               "has been rolled back; nothing was committed by this commit.",
                               "40000", 0, "COMMIT");
  Rollback();
  throw error;
}

void OdbcSession::Rollback() noexcept {
  if (!inTransaction_) return;
  inTransaction_ = false;
  endedAfter_.reset();
  if (connectionLost_) return;
  try {
    if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, link_.Get(), SQL_ROLLBACK))) {
      ReportSwallowedError(
          ConnectionError(error_number::kCommandFailed, "The ODBC driver could not roll back"),
          "OdbcSession.Rollback");
    }
    SetAutocommit(true);
  } catch (const ComError& error) {
    ReportSwallowedError(error, "OdbcSession.Rollback");
  } catch (...) {
    // Nothing may leave a rollback; the session is unusable at worst and its owner will drop it.
  }
}

std::optional<Variant> OdbcSession::ProviderProperty(std::string_view name) {
  for (const InfoProperty& property : kInfoProperties) {
    if (!EqualsIgnoringCase(property.name, name)) continue;
    if (property.shape == InfoShape::Bitmask) {
      const std::optional<std::uint32_t> mask = InfoBitmask(link_.Get(), property.infoType);
      if (!mask) return std::nullopt;
      return Variant(static_cast<std::int32_t>(*mask));
    }
    const std::optional<std::string> value = InfoText(link_.Get(), property.infoType, wideText_);
    if (!value) return std::nullopt;
    switch (property.shape) {
      case InfoShape::YesNoBoolean:
        return Variant(*value == "Y");
      case InfoShape::YesNoNumber:
        return Variant(static_cast<std::int32_t>(*value == "Y" ? 1 : 0));
      default:
        return Variant(*value);
    }
  }
  return std::nullopt;
}

std::vector<std::string> OdbcSession::ProviderPropertyNames() {
  std::vector<std::string> names;
  for (const InfoProperty& property : kInfoProperties) names.emplace_back(property.name);
  return names;
}

}  // namespace

std::unique_ptr<DatabaseSession> OpenOdbcSession(const std::string& connectString) {
  if (IsOleDbSqlServerConnectString(connectString)) {
    return std::make_unique<OdbcSession>(MapOleDbConnectString(connectString, OdbcDriverForMappedStrings()));
  }
  return std::make_unique<OdbcSession>(connectString);
}

}  // namespace closewright
