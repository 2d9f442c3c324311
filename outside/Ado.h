#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "outside/Database.h"
#include "outside/Variant.h"

namespace closewright {

inline constexpr std::int32_t kStateClosed = 0;
inline constexpr std::int32_t kStateOpen = 1;
inline constexpr std::int32_t kUseClient = 3;
inline constexpr std::int32_t kOpenForwardOnly = 0;
inline constexpr std::int32_t kLockReadOnly = 1;
inline constexpr std::int32_t kCmdText = 1;
inline constexpr std::int32_t kUnspecified = -1;

/// A provider fact read through a connection's Properties collection.
class Property {
 public:
  Property(std::string name, Variant value) : name_(std::move(name)), value_(std::move(value)) {}
  const std::string& Name() const { return name_; }
  const Variant& Value() const { return value_; }

 private:
  std::string name_;
  Variant value_;
};

class Connection;

/// The Properties collection of a connection.
class Properties {
 public:
  explicit Properties(Connection& owner) : owner_(owner) {}
  void Refresh();
  /// The property by name; ADO's item-not-found error when the provider does not offer it.
  const Property& Item(std::string_view name);
  std::int32_t Count();

 private:
  Connection& owner_;
  std::vector<Property> items_;
  bool loaded_ = false;
};

/// The ADO connection the component uses: Open, Execute (batch, result dropped), Close, State,
/// ConnectionString, CursorLocation, CommandTimeout and Properties. Inside a transaction of the transaction
/// layer it is a handle on the session enlisted for its connect string; closing it does not end the session.
class Connection {
 public:
  Connection();
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Open(const std::string& connectionString, const std::string& userId = {},
            const std::string& password = {}, std::int32_t options = kUnspecified);
  /// Sends one command text; rows it returns are dropped unread.
  void Execute(std::string_view commandText, std::int32_t options = kUnspecified);
  /// Inserts rows into the named columns of a table without SQL text where the provider can
  /// (DatabaseSession::InsertRows); the SQL trace gets the INSERT text that stands for them.
  void InsertRows(std::string_view table, const std::vector<std::string>& columns,
                  const std::vector<Variant>& values);
  void Close();
  std::int32_t State() const noexcept { return session_ ? kStateOpen : kStateClosed; }
  const std::string& ConnectionString() const noexcept { return connectionString_; }

  void SetCursorLocation(std::int32_t location) { cursorLocation_ = location; }
  std::int32_t CursorLocation() const noexcept { return cursorLocation_; }
  void SetCommandTimeout(std::int32_t seconds) { commandTimeout_ = seconds; }
  std::int32_t CommandTimeout() const noexcept { return commandTimeout_; }

  Properties& GetProperties() { return properties_; }

  /// The open session; ADO's operation-not-allowed error when closed.
  DatabaseSession& Session() const;
  /// The number the SQL trace shows for this connection.
  std::int32_t TraceId() const noexcept { return traceId_; }

 private:
  std::shared_ptr<DatabaseSession> session_;
  std::string connectionString_;
  std::int32_t cursorLocation_ = 2;
  std::int32_t commandTimeout_ = 30;
  std::int32_t traceId_;
  Properties properties_;
};

/// A field of the current row: its column's name (empty for an unaliased expression) and type, and the value.
class Field {
 public:
  Field(std::string name, Variant value, ColumnType type = {})
      : name_(std::move(name)), value_(std::move(value)), type_(type) {}
  const std::string& Name() const { return name_; }
  const Variant& Value() const { return value_; }
  /// The column's digits and the digits after the point for an exact number (a MONEY is 19 and 4); 0 when
  /// the provider did not tell them.
  std::uint8_t Precision() const { return static_cast<std::uint8_t>(type_.precision); }
  std::uint8_t NumericScale() const { return static_cast<std::uint8_t>(type_.scale); }
  const ColumnType& Type() const { return type_; }

 private:
  std::string name_;
  Variant value_;
  ColumnType type_;
};

/// The fields of the current row.
class Fields {
 public:
  std::int32_t Count() const { return static_cast<std::int32_t>(fields_.size()); }
  /// By zero-based position or by column name (without regard to case); ADO's item-not-found error else.
  const Field& Item(std::int32_t position) const;
  const Field& Item(std::string_view name) const;
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }

 private:
  friend class Recordset;
  std::vector<Field> fields_;
};

/// A recordset fetched whole on open (client-side cursor semantics): exact RecordCount, MoveFirst,
/// MoveNext, EOF. Its active connection is an open Connection or a connect string, in which case it opens
/// a connection of its own (enlisted like any other).
class Recordset {
 public:
  Recordset();
  ~Recordset();
  void SetCursorLocation(std::int32_t location) { cursorLocation_ = location; }
  void Open(std::string_view source, Connection& activeConnection, std::int32_t cursorType = kUnspecified,
            std::int32_t lockType = kUnspecified, std::int32_t options = kUnspecified);
  void Open(std::string_view source, const std::string& activeConnectionString,
            std::int32_t cursorType = kUnspecified, std::int32_t lockType = kUnspecified,
            std::int32_t options = kUnspecified);
  bool Eof() const;
  std::int32_t RecordCount() const;
  void MoveFirst();
  void MoveNext();
  void Close();
  std::int32_t State() const noexcept { return open_ ? kStateOpen : kStateClosed; }
  /// The current row's fields; ADO's either-BOF-or-EOF error when there is no current row.
  const Fields& GetFields() const;

 private:
  void Load(Connection& connection, std::string_view source);
  std::unique_ptr<Connection> ownConnection_;
  ResultTable table_;
  std::size_t position_ = 0;
  std::int32_t cursorLocation_ = 2;
  bool open_ = false;
  mutable Fields current_;
};

}  // namespace closewright
