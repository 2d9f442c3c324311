#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outside/Variant.h"

namespace closewright {

/// What a result column holds, as SQL Server would describe it to its client.
enum class ColumnKind {
  Unknown,  // the provider cannot tell: the values are all there is
  Integer,  // tinyint, smallint, int, bigint
  Bit,
  ExactNumeric,  // decimal and numeric
  Money,         // money and smallmoney, scale 4
  Float,         // float and real
  Text,
  Date,  // date, datetime, smalldatetime, datetime2
};

/// The type of a result column. Precision and scale are SQL Server's for the exact numbers (an int is
/// (10,0), a MONEY (19,4)); for a date, the scale is its fractional second digits. Length is a text's
/// maximum characters, -1 for MAX or when not told.
struct ColumnType {
  ColumnKind kind = ColumnKind::Unknown;
  std::int32_t precision = 0;
  std::int32_t scale = 0;
  std::int32_t length = -1;
};

/// A result fetched whole: column names in order and every row. A column computed by an expression and
/// given no alias has the empty name, as SQL Server sends it. `columnTypes` runs beside `columns`, one
/// type per column; a provider that describes no columns leaves it empty, which reads as all Unknown.
struct ResultTable {
  std::vector<std::string> columns;
  std::vector<std::vector<Variant>> rows;
  std::vector<ColumnType> columnTypes;

  /// The type of column `index`; Unknown when the provider did not describe it.
  ColumnType TypeOf(std::size_t index) const {
    return index < columnTypes.size() ? columnTypes[index] : ColumnType{};
  }
};

/// One physical database session of a provider. The transaction layer owns sessions; the ADO-style
/// `Connection` objects the component opens are handles on them. Errors are raised as ComError with the
/// provider as Source, the server's message, SQLSTATE, native error and the failing text.
class DatabaseSession {
 public:
  virtual ~DatabaseSession() = default;

  /// Runs a whole batch of one or more statements; rows it returns are discarded. The first failing
  /// statement ends the batch.
  virtual void Execute(std::string_view batch) = 0;
  /// Runs a text and returns the first result set it produces, fetched whole.
  virtual ResultTable Query(std::string_view text) = 0;

  virtual void BeginTransaction() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() noexcept = 0;

  /// A provider fact by its ADO property name ("DBMS Name", "Like Escape Clause", ...); nullopt when the
  /// provider does not offer it.
  virtual std::optional<Variant> ProviderProperty(std::string_view name) = 0;
  /// The names of every provider fact offered, in a stable order.
  virtual std::vector<std::string> ProviderPropertyNames() = 0;

  /// The provider's name, used as the Source of its errors.
  virtual const std::string& ProviderName() const = 0;

  /// Inserts rows into the named columns of `table`, as `INSERT INTO table (columns) VALUES (...)` of the
  /// same values would, in this session's transaction (under autocommit, in one of its own): identity
  /// rules, conversions and errors as that statement's; explicit values for an identity column need
  /// `SET IDENTITY_INSERT table ON` sent first. `values` holds the rows one after another, one value per
  /// column (its size a multiple of the columns'); texts are texts, Null and Empty are NULL, Boolean is 1
  /// or 0, a Date is a datetime.
  ///
  /// This default sends InsertText statements of at most 50 rows through Execute, in batches of about
  /// 200 KB: a failure ends its batch, and what earlier batches stored stays until the caller's
  /// transaction rolls back. The embedded provider binds the values into prepared INSERTs of up to 50 rows
  /// of parameters, with no text to translate or parse, and keeps nothing of the call when a row fails.
  virtual void InsertRows(std::string_view table, const std::vector<std::string>& columns,
                          const std::vector<Variant>& values);
};

/// A value as a T-SQL literal: NULL (Null and Empty), 1 or 0 (Boolean), the digits of a Long, a Double in
/// the fewest digits that read back as it (decimal notation, a float literal when very large or small), a
/// text in quotes ('it''s', N'...' when it holds a byte outside ASCII), a Date as
/// 'yyyy-mm-ddThh:mm:ss.mmm'. An object has no literal: error 13, type mismatch.
std::string SqlLiteral(const Variant& value);
/// `INSERT INTO table (c1,c2) VALUES\n(v1,v2),\n(...)` for `rowCount` rows of `values` from row `firstRow`.
std::string InsertText(std::string_view table, const std::vector<std::string>& columns,
                       const std::vector<Variant>& values, std::size_t firstRow, std::size_t rowCount);

/// Opens a session for an ADO-style connect string: `Provider=Closewright.SQLite;Data Source=<file>` selects
/// the embedded provider; `Driver=`, `DSN=` or an OLE DB SQL Server provider select ODBC. Anything else
/// fails with an error naming the connect string's provider.
std::unique_ptr<DatabaseSession> OpenDatabaseSession(const std::string& connectString);

/// Splits an ADO/ODBC connect string into key-value pairs as ReadConnectString reads them (keys and values
/// trimmed, braces and quotes removed); later keys replace earlier ones, keys compared without regard to
/// case.
std::vector<std::pair<std::string, std::string>> SplitConnectString(std::string_view connectString);
/// The value of a key in a split connect string (case-insensitive key); nullopt when absent.
std::optional<std::string> ConnectStringValue(const std::vector<std::pair<std::string, std::string>>& pairs,
                                              std::string_view key);

}  // namespace closewright
