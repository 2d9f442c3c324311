#include <iostream>

#include "outside/Ado.h"
#include "parse/CParse.h"
#include "tools/closewright/Commands.h"

namespace closewright::tool {

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
      for (std::int32_t i = 0; i < fields.Count(); ++i) {
        const Variant& value = fields.Item(i).Value();
        std::cout << (i ? "\t" : "") << (value.IsNull() ? "NULL" : value.ToString());
      }
      std::cout << '\n';
      recordset.MoveNext();
    }
    recordset.Close();
    connection.Close();
  });
}

}  // namespace closewright::tool
