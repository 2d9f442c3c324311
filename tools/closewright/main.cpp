// closewright: the command-line close driver. Every public method by name, a whole close and reopen in one
// transaction, a ledger generator for trying it out, and a trace of every text sent to the database.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/closewright/Commands.h"
#include "tools/closewright/TraceWriter.h"

namespace closewright::tool {

std::string DescriptionForDatabaseFile(const std::string& file) {
  return "ConnectString={Provider=Closewright.SQLite;Data Source=" + file +
         "};DBMS Name=SQLite;DBMS Version=3";
}

std::string LedgerTarget::Description(const std::string& command) const {
  if (description.empty() && databaseFile.empty()) {
    throw CLI::ValidationError(command, "--dsn or --db is required");
  }
  return description.empty() ? DescriptionForDatabaseFile(databaseFile) : description;
}

void AddLedgerTarget(CLI::App* command, LedgerTarget& target) {
  auto* dsn = command->add_option("--dsn", target.description, "Connection description of the ledger");
  auto* db = command->add_option("--db", target.databaseFile, "Embedded ledger file (instead of --dsn)");
  dsn->excludes(db);
}

}  // namespace closewright::tool

int main(int argc, char** argv) {
  using namespace closewright;
  using namespace closewright::tool;

  CLI::App app{
      "closewright: period-end close of an operation-based production-cost ledger.\n"
      "A connection description is a text of key=value pairs, e.g.\n"
      "  ConnectString={Provider=Closewright.SQLite;Data Source=ledger.db};DBMS Name=SQLite;DBMS Version=3\n"
      "On failure one line goes to stderr: error <Number> (0x<hex>) from <Source>: <Description>; exit 1."};
  app.require_subcommand(1);
  app.fallthrough();
  GlobalOptions options;
  app.add_option("--trace-sql", options.traceSqlFile,
                 "Append every text sent to a database to FILE as JSON Lines: "
                 "{\"seq\":N,\"conn\":C,\"op\":\"Execute\"|\"Recordset.Open\",\"text\":\"...\"}");
  AddCallCommand(app, options);
  AddQueryCommand(app, options);
  AddInitCommand(app, options);
  AddCloseCommands(app, options);
  AddCheckCommand(app, options);

  std::unique_ptr<TraceWriter> trace;
  app.parse_complete_callback([&] {
    if (!options.traceSqlFile.empty()) {
      trace = std::make_unique<TraceWriter>(options.traceSqlFile);
      SetSqlTraceSink([&trace](std::int32_t connection, std::string_view operation, std::string_view text) {
        trace->Write(connection, operation, text);
      });
    }
    SetDiagnosticsSink([](const ComError& error, std::string_view where) {
      std::cerr << "warning: " << where << " passed over " << error.ToLine() << '\n';
    });
  });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version requests end well; every other parse failure is a usage error.
    return app.exit(error) == 0 ? 0 : 2;
  } catch (const Refused& refusal) {
    std::cerr << "refused: " << refusal.what() << '\n';
    return 3;
  } catch (const ComError& error) {
    std::cerr << error.ToLine() << '\n';
    return 1;
  } catch (const std::exception& error) {
    std::cerr << "error: " << error.what() << '\n';
    return 1;
  }
  SetSqlTraceSink(nullptr);
  return options.exitCode;
}
