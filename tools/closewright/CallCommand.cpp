#include <iostream>
#include <vector>

#include "close/CCloseData.h"
#include "outside/ObjectContext.h"
#include "tools/closewright/Commands.h"

namespace closewright::tool {

void AddCallCommand(CLI::App& app, GlobalOptions& /*options*/) {
  struct CallOptions {
    std::string method;
    std::string description;
    std::string databaseFile;
    std::vector<std::string> arguments;
  };
  auto call = std::make_shared<CallOptions>();
  CLI::App* command = app.add_subcommand(
      "call",
      "Call a public method of Closewright.CCloseData by name, late-bound. The description comes first; the "
      "remaining parameters follow in interface order: Long as decimal, Boolean as true/false or -1/0.\n"
      "  closewright call SetEndBal --dsn D 2011 3\n"
      "  closewright call ExecuteSQL --db ledger.db \"DELETE FROM t SELECT 1\"");
  command->add_option("method", call->method, "Method name (ExecuteSQL, SetEndBal, ...)")->required();
  auto* dsn = command->add_option("--dsn", call->description, "Connection description");
  auto* db = command->add_option("--db", call->databaseFile, "Embedded ledger file (instead of --dsn)");
  dsn->excludes(db);
  command->add_option("arguments", call->arguments, "The method's remaining parameters");
  command->callback([call] {
    if (call->description.empty() && call->databaseFile.empty()) {
      throw CLI::ValidationError("call", "--dsn or --db is required");
    }
    const std::string description =
        call->description.empty() ? DescriptionForDatabaseFile(call->databaseFile) : call->description;
    auto object = CreateObject(kCloseDataProgId);
    std::vector<Variant> arguments{Variant(description)};
    for (const std::string& argument : call->arguments) arguments.emplace_back(argument);
    const Variant result = object->InvokeByName(call->method, arguments);
    if (!result.IsEmpty() && !result.IsNull()) std::cout << result.ToString() << '\n';
  });
}

}  // namespace closewright::tool
