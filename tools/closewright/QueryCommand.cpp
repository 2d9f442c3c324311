#include <iostream>

#include "outside/Ado.h"
#include "outside/ScaledNumber.h"
#include "parse/CParse.h"
#include "tools/closewright/Commands.h"

namespace closewright::tool {

namespace {

// A decimal or money value at its column's scale, as SQL Server's own client prints it.
std::string Shown(const Field& field) {
  const Variant& value = field.Value();
  if (value.IsNull()) return "NULL";
  const ColumnKind kind = field.Type().kind;
  if (kind == ColumnKind::ExactNumeric || kind == ColumnKind::Money)
    return FormatAtScale(value, field.NumericScale());
  return value.ToString();
}

}  // namespace

void AddQueryCommand(CLI::App& app, GlobalOptions& /*options*/) {
  struct QueryOptions : LedgerTarget {
    std::string text;
  };
  auto query = std::make_shared<QueryOptions>();
  CLI::App* command = app.add_subcommand(
      "query", "Run a query and print its result as tab-separated text with a header line.");
  AddLedgerTarget(command, *query);
  command->add_option("text", query->text, "The query text")->required();
  command->callback([query] {
    CParse parser;
    parser.ParseString(query->Description("query"));
    Connection connection;
    connection.Open(parser.ConStr());
    Recordset recordset;
    recordset.Open(query->text, connection);
    bool header = false;
    while (!recordset.Eof()) {
      const Fields& fields = recordset.GetFields();
      if (!header) {
        for (std::int32_t i = 0; i < fields.Count(); ++i)
          std::cout << (i ? "\t" : "") << fields.Item(i).Name();
        std::cout << '\n';
        header = true;
      }
      for (std::int32_t i = 0; i < fields.Count(); ++i) std::cout << (i ? "\t" : "") << Shown(fields.Item(i));
      std::cout << '\n';
      recordset.MoveNext();
    }
    recordset.Close();
    connection.Close();
  });
}

}  // namespace closewright::tool
