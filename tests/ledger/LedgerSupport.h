#pragma once

#include <string>
#include <vector>

#include "outside/Ado.h"
#include "outside/ObjectContext.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright::testing {

/// Every row a query returns, each value as text ("NULL" for Null).
inline std::vector<std::vector<std::string>> QueryRows(const std::string& connectString,
                                                       const std::string& sql) {
  Connection connection;
  connection.Open(connectString);
  Recordset rows;
  rows.SetCursorLocation(kUseClient);
  rows.Open(sql, connection);
  std::vector<std::vector<std::string>> result;
  for (; !rows.Eof(); rows.MoveNext()) {
    std::vector<std::string> row;
    for (const Field& field : rows.GetFields())
      row.push_back(field.Value().IsNull() ? "NULL" : field.Value().ToString());
    result.push_back(std::move(row));
  }
  rows.Close();
  connection.Close();
  return result;
}

/// The first value of the first row, as a number.
inline long long QueryNumber(const std::string& connectString, const std::string& sql) {
  Connection connection;
  connection.Open(connectString);
  Recordset rows;
  rows.SetCursorLocation(kUseClient);
  rows.Open(sql, connection);
  const long long value = static_cast<long long>(rows.GetFields().Item(0).Value().ToDouble());
  rows.Close();
  connection.Close();
  return value;
}

/// Sends each text by its own Execute on one connection, all in one transaction that commits at the end.
inline void ExecuteInOneTransaction(const std::string& connectString, const std::vector<std::string>& texts) {
  Transaction transaction;
  Connection connection;
  connection.Open(connectString);
  for (const std::string& text : texts) connection.Execute(text);
  connection.Close();
  transaction.Commit();
}

/// Lines joined by CR LF, with a CR LF after the last one too when `finalBreak`.
inline std::string CrLf(const std::vector<std::string>& lines, bool finalBreak = false) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || finalBreak) text += "\r\n";
  }
  return text;
}

}  // namespace closewright::testing
