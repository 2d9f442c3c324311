// closewright: the command-line close driver. Every public method by name, a whole close and reopen in one
// transaction, a ledger generator for trying it out, and a trace of every text sent to the database.
#include <CLI/CLI.hpp>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Diagnostics.h"
#include "outside/Text.h"
#include "outside/sqlite/SqliteProvider.h"
#include "parse/CParse.h"
#include "tools/closewright/CloseDriver.h"
#include "tools/closewright/Commands.h"
#include "tools/closewright/TraceWriter.h"

namespace closewright::tool {

std::string DescriptionForDatabaseFile(const std::string& file) {
  return "ConnectString={Provider=Closewright.SQLite;Data Source=" + file +
         "};DBMS Name=SQLite;DBMS Version=3";
}

namespace {

// The file a description names when its connect string selects the embedded provider. Any other description
// (ODBC, OLE DB) names a ledger that only the server can find, and one that does not parse is the
// component's to report, with its own error number.
std::optional<std::string> EmbeddedFileOf(const std::string& description) {
  try {
    CParse parser;
    parser.ParseString(description);
    const auto pairs = SplitConnectString(parser.ConStr());
    const std::optional<std::string> provider = ConnectStringValue(pairs, "Provider");
    if (!provider || !EqualsIgnoringCase(*provider, kSqliteProviderName)) return std::nullopt;
    return ConnectStringValue(pairs, "Data Source").value_or("");
  } catch (const ComError&) {
    return std::nullopt;
  }
}

// The embedded provider creates a missing file on open, so a mistyped ledger name would meet an empty
// database and fail on its first table, leaving the empty file behind; it is refused here instead, creating
// nothing. An empty file (what that mistake used to leave) is no ledger either, unless its write-ahead log
// beside it still holds the pages.
void RequireExistingLedger(const std::string& description) {
  const std::optional<std::string> file = EmbeddedFileOf(description);
  if (!file || file->empty() || *file == ":memory:") return;
  namespace fs = std::filesystem;
  std::error_code error;
  const char* missing = nullptr;
  if (!fs::exists(*file, error)) {
    missing = "it does not exist";
  } else if (fs::is_regular_file(*file, error) && fs::file_size(*file, error) == 0 &&
             !fs::exists(*file + "-wal", error)) {
    missing = "the file is empty";
  }
  if (missing == nullptr) return;
  throw std::runtime_error("no ledger at " + *file + " (" + missing +
                           "); create one with closewright init --db " + *file);
}

}  // namespace

std::string LedgerTarget::Description(const std::string& command, bool mayCreate) const {
  if (description.empty() && databaseFile.empty()) {
    throw CLI::ValidationError(command, "--dsn or --db is required");
  }
  std::string chosen = description.empty() ? DescriptionForDatabaseFile(databaseFile) : description;
  if (!mayCreate) RequireExistingLedger(chosen);
  return chosen;
}

std::string LedgerTarget::EmbeddedFile(const std::string& command) const {
  const std::optional<std::string> file = EmbeddedFileOf(Description(command, true));
  if (!file || file->empty()) {
    throw CLI::ValidationError(command,
                               "makes embedded ledgers only: give --db FILE or a --dsn whose "
                               "ConnectString is Provider=Closewright.SQLite;Data Source=FILE");
  }
  return *file;
}

void AddLedgerTarget(CLI::App* command, LedgerTarget& target, const std::string& fileHelp) {
  auto* dsn = command->add_option("--dsn", target.description, "Connection description of the ledger");
  auto* db = command->add_option("--db", target.databaseFile, fileHelp);
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
