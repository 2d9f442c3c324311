#include "datasource/cDataSource.h"

#include "outside/ComError.h"
#include "parse/CParse.h"

namespace closewright {

const CParse& cDataSource::Parser() const {
  // The platform reports a member call on an unset object reference as error 91.
  if (!parseObject_) throw ComError(91, "cDataSource", "Object variable or With block variable not set");
  return *parseObject_;
}

std::unique_ptr<Connection> cDataSource::OpenWithIsolation(const char* isolationStatement) const {
  auto connection = std::make_unique<Connection>();
  connection->Open(ConnectString(), "", "", kUnspecified);
  connection->SetCursorLocation(kUseClient);
  connection->SetCommandTimeout(0);
  connection->Execute(isolationStatement);
  return connection;
}

std::unique_ptr<Connection> cDataSource::GetConnection() const {
  return OpenWithIsolation("SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
}

std::unique_ptr<Connection> cDataSource::UnCommittedConnection() const {
  return OpenWithIsolation("SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED");
}

std::string cDataSource::ConnectString() const { return Parser().ConStr(); }

std::string cDataSource::DBMSName() const { return Parser().ConDBMSName(); }

}  // namespace closewright
