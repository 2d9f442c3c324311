// A host of the installed library: creates the close component, runs ExecuteSQL on an embedded ledger and
// reads the rows back, once through the component's own transaction and once inside the host's.
// Prints "ok" and exits 0 when everything reads back as written.
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>

#include "close/CCloseData.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"

namespace {

int Fail(std::string_view what) {
  std::cerr << "consumer: " << what << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return Fail("usage: closewright_consumer LEDGER-FILE");
  const std::string file = argv[1];
  std::filesystem::remove(file);
  const std::string connectString = "Provider=Closewright.SQLite;Data Source=" + file;
  const std::string description = "ConnectString={" + connectString + "};DBMS Name=SQLite;DBMS Version=3";

  int swallowed = 0;
  closewright::SetDiagnosticsSink([&](const closewright::ComError&, std::string_view) { ++swallowed; });
  try {
    if (!closewright::ClassRegistry::Instance().IsRegistered(closewright::kCloseDataProgId))
      return Fail("Closewright.CCloseData is not registered when the library is loaded");

    closewright::CCloseData close;
    close.ExecuteSQL(description,
                     "CREATE TABLE t_Probe (FID INT NOT NULL PRIMARY KEY, FName NVARCHAR(20) NOT NULL); "
                     "INSERT INTO t_Probe (FID, FName) VALUES (1, N'one')");
    {
      closewright::Transaction transaction;
      close.ExecuteSQL(description, "INSERT INTO t_Probe (FID, FName) VALUES (2, N'two')");
      transaction.Commit();
    }
    {
      closewright::Transaction transaction;
      close.ExecuteSQL(description, "INSERT INTO t_Probe (FID, FName) VALUES (3, N'rolled back')");
      transaction.Rollback();
    }

    closewright::Recordset rows;
    rows.Open("SELECT FID, FName FROM t_Probe ORDER BY FID", connectString);
    std::string seen;
    for (; !rows.Eof(); rows.MoveNext()) {
      const closewright::Fields& fields = rows.GetFields();
      seen += fields.Item("FID").Value().ToString() + "=" + fields.Item("FName").Value().ToString() + ";";
    }
    rows.Close();
    if (seen != "1=one;2=two;") return Fail("read back " + seen + " instead of 1=one;2=two;");

    // An error reaches the host as a ComError with the component's number and source.
    try {
      close.ExecuteSQL(description, "UPDATE t_NoSuchTable SET FID = 1");
      return Fail("an UPDATE of a missing table succeeded");
    } catch (const closewright::ComError& error) {
      if (error.Number() == 0 || error.Description().empty()) return Fail("an error without number or text");
    }
  } catch (const closewright::ComError& error) {
    return Fail("error " + std::to_string(error.Number()) + " from " + error.Source() + ": " +
                error.Description());
  }
  if (swallowed != 0) return Fail("ExecuteSQL passed over an error");
  std::cout << "ok\n";
  return EXIT_SUCCESS;
}
