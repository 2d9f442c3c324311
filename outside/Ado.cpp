#include "outside/Ado.h"

#include <atomic>

#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/ObjectContext.h"
#include "outside/Text.h"

namespace closewright {
namespace {

constexpr std::int32_t kObjectOpen = -2146824583;       // 0x800A0E79, ADO 3705
constexpr std::int32_t kNoCurrentRecord = -2146825267;  // 0x800A0BCD, ADO 3021

std::atomic<std::int32_t> nextTraceId{1};

[[noreturn]] void ObjectClosed(const char* source) {
  throw ComError(error_number::kOperationNotAllowed, source,
                 "Operation is not allowed when the object is closed.");
}

[[noreturn]] void ItemNotFound(const char* source) {
  throw ComError(error_number::kItemNotFound, source,
                 "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

[[noreturn]] void NoCurrentRecord() {
  throw ComError(
      kNoCurrentRecord, "ADODB.Recordset",
      "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires "
      "a current record.");
}

}  // namespace

void Properties::Refresh() {
  DatabaseSession& session = owner_.Session();
  items_.clear();
  for (const std::string& name : session.ProviderPropertyNames()) {
    std::optional<Variant> value = session.ProviderProperty(name);
    items_.emplace_back(name, value ? *value : Variant());
  }
  loaded_ = true;
}

const Property& Properties::Item(std::string_view name) {
  if (!loaded_) Refresh();
  for (const Property& property : items_) {
    if (EqualsIgnoringCase(property.Name(), name)) return property;
  }
  ItemNotFound("ADODB.Properties");
}

std::int32_t Properties::Count() {
  if (!loaded_) Refresh();
  return static_cast<std::int32_t>(items_.size());
}

Connection::Connection() : traceId_(nextTraceId++), properties_(*this) {}

Connection::~Connection() = default;

void Connection::Open(const std::string& connectionString, const std::string& userId,
                      const std::string& password, std::int32_t options) {
  // Credentials travel inside the connect string; the separate arguments stay empty.
  static_cast<void>(userId);
  static_cast<void>(password);
  static_cast<void>(options);
  if (session_)
    throw ComError(kObjectOpen, "ADODB.Connection", "Operation is not allowed when the object is open.");
  std::shared_ptr<DatabaseSession> session = EnlistedSession(connectionString);
  if (!session) session = OpenDatabaseSession(connectionString);
  session_ = std::move(session);
  connectionString_ = connectionString;
}

void Connection::Execute(std::string_view commandText, std::int32_t options) {
  static_cast<void>(options);
  DatabaseSession& session = Session();
  TraceSql(traceId_, "Execute", commandText);
  session.Execute(commandText);
}

void Connection::InsertRows(std::string_view table, const std::vector<std::string>& columns,
                            const std::vector<Variant>& values) {
  DatabaseSession& session = Session();
  if (SqlTraceActive() && !columns.empty()) {
    TraceSql(traceId_, "InsertRows", InsertText(table, columns, values, 0, values.size() / columns.size()));
  }
  session.InsertRows(table, columns, values);
}

void Connection::Close() {
  if (!session_) ObjectClosed("ADODB.Connection");
  session_.reset();
}

DatabaseSession& Connection::Session() const {
  if (!session_) ObjectClosed("ADODB.Connection");
  return *session_;
}

const Field& Fields::Item(std::int32_t position) const {
  if (position < 0 || position >= Count()) ItemNotFound("ADODB.Fields");
  return fields_[static_cast<std::size_t>(position)];
}

const Field& Fields::Item(std::string_view name) const {
  for (const Field& field : fields_) {
    if (EqualsIgnoringCase(field.Name(), name)) return field;
  }
  ItemNotFound("ADODB.Fields");
}

Recordset::Recordset() = default;

Recordset::~Recordset() = default;

void Recordset::Open(std::string_view source, Connection& activeConnection, std::int32_t cursorType,
                     std::int32_t lockType, std::int32_t options) {
  static_cast<void>(cursorType);
  static_cast<void>(lockType);
  static_cast<void>(options);
  Load(activeConnection, source);
}

void Recordset::Open(std::string_view source, const std::string& activeConnectionString,
                     std::int32_t cursorType, std::int32_t lockType, std::int32_t options) {
  static_cast<void>(cursorType);
  static_cast<void>(lockType);
  static_cast<void>(options);
  auto connection = std::make_unique<Connection>();
  connection->Open(activeConnectionString);
  Load(*connection, source);
  ownConnection_ = std::move(connection);
}

void Recordset::Load(Connection& connection, std::string_view source) {
  if (open_)
    throw ComError(kObjectOpen, "ADODB.Recordset", "Operation is not allowed when the object is open.");
  DatabaseSession& session = connection.Session();
  TraceSql(connection.TraceId(), "Recordset.Open", source);
  table_ = session.Query(source);
  position_ = 0;
  open_ = true;
}

bool Recordset::Eof() const {
  if (!open_) ObjectClosed("ADODB.Recordset");
  return position_ >= table_.rows.size();
}

std::int32_t Recordset::RecordCount() const {
  if (!open_) ObjectClosed("ADODB.Recordset");
  return static_cast<std::int32_t>(table_.rows.size());
}

void Recordset::MoveFirst() {
  if (!open_) ObjectClosed("ADODB.Recordset");
  position_ = 0;
}

void Recordset::MoveNext() {
  if (Eof()) NoCurrentRecord();
  ++position_;
}

void Recordset::Close() {
  if (!open_) ObjectClosed("ADODB.Recordset");
  open_ = false;
  table_ = ResultTable{};
  current_.fields_.clear();
  if (ownConnection_) {
    ownConnection_->Close();
    ownConnection_.reset();
  }
}

const Fields& Recordset::GetFields() const {
  if (Eof()) NoCurrentRecord();
  const std::vector<Variant>& row = table_.rows[position_];
  current_.fields_.clear();
  for (std::size_t column = 0; column < table_.columns.size(); ++column) {
    current_.fields_.emplace_back(table_.columns[column], column < row.size() ? row[column] : Variant::Null(),
                                  table_.TypeOf(column));
  }
  return current_;
}

}  // namespace closewright
