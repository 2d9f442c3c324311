#include <iostream>
#include <vector>

#include "close/CCloseData.h"
#include "outside/ObjectContext.h"
#include "outside/Text.h"
#include "tools/closewright/Commands.h"

namespace closewright::tool {

void AddCallCommand(CLI::App& app, GlobalOptions& /*options*/) {
  struct CallOptions : LedgerTarget {
    std::string method;
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
  AddLedgerTarget(command, *call);
  command->add_option("arguments", call->arguments, "The method's remaining parameters");
  command->callback([call] {
    // A caller's own SQL may be what makes the ledger; every close step needs one that exists.
    const std::string description = call->Description("call", EqualsIgnoringCase(call->method, "ExecuteSQL"));
    auto object = CreateObject(kCloseDataProgId);
    std::vector<Variant> arguments{Variant(description)};
    for (const std::string& argument : call->arguments) arguments.emplace_back(argument);
    const Variant result = object->InvokeByName(call->method, arguments);
    if (!result.IsEmpty() && !result.IsNull()) std::cout << result.ToString() << '\n';
  });
}

}  // namespace closewright::tool
