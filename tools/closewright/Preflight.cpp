#include "tools/closewright/Preflight.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string_view>

#include "close/OpCostHistoryGuard.h"
#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/ObjectContext.h"
#include "outside/Text.h"
#include "outside/sqlite/SqliteProvider.h"
#include "parse/CParse.h"
#include "tools/closewright/CloseLock.h"
#include "tools/ledger/LedgerGenerator.h"

namespace closewright::tool {
namespace {

constexpr std::string_view kSchemaFile = "schema/closewright.sql";

// What the close does to its tables beyond reading them, as far as a permission depends on it. The close
// empties these working tables with TRUNCATE TABLE after archiving them.
const std::vector<std::string> kTruncatedTables{"OPCostCalInfo", "OPCostCalInfoDetail",
                                                "OPCostProductCalInfo", "OPCostWIPCheck", "OPCostWNCalInfo"};
// Moving balances and material details keeps their FID: written under SET IDENTITY_INSERT, then reseeded
// with DBCC CHECKIDENT.
const std::vector<std::string> kIdentityWrittenTables{"OPCostBalance", "OPCostObjDetail"};
const std::set<std::string> kUpdatedTables{"t_SystemProfile", "ICMaxNum", "OPCostObjDetail"};
// Every other table of the reference schema gets rows inserted and deleted by a close or a reopen.
const std::set<std::string> kReadOnlyTables{"t_DataTypeInfo", "t_SupportedProc", "ICMO"};

// A table of the reference schema as its CREATE TABLE statement declares it.
struct ReferenceTable {
  std::string name;
  std::vector<std::pair<std::string, std::string>> columns;  // name, declaration
  std::string identityColumn;                                // empty when it has none
};

std::string StripComments(const std::string& text) {
  std::string stripped;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t dashes = text.find("--", at);
    if (dashes == std::string::npos) {
      stripped.append(text, at, std::string::npos);
      break;
    }
    stripped.append(text, at, dashes - at);
    at = text.find('\n', dashes);
  }
  return stripped;
}

std::string Unbracket(std::string_view name) {
  if (name.size() >= 2 &&
      ((name.front() == '[' && name.back() == ']') || (name.front() == '"' && name.back() == '"')))
    name = name.substr(1, name.size() - 2);
  return std::string(name);
}

// The reference schema is plain CREATE TABLE and CREATE INDEX statements (its own test keeps it so); a column
// is its name and its declaration, a part starting with a constraint keyword declares no column.
std::vector<ReferenceTable> ParseReferenceSchema(const std::string& schema) {
  const std::string text = StripComments(schema);
  const std::string upper = ToUpperAscii(text);
  std::vector<ReferenceTable> tables;
  constexpr std::string_view kCreate = "CREATE TABLE ";
  for (std::size_t at = upper.find(kCreate); at != std::string::npos; at = upper.find(kCreate, at)) {
    at += kCreate.size();
    const std::size_t open = text.find('(', at);
    if (open == std::string::npos) break;
    ReferenceTable table{Unbracket(TrimWhitespace(std::string_view(text).substr(at, open - at))), {}, {}};
    int depth = 0;
    std::size_t partStart = open + 1;
    std::size_t end = open;
    for (std::size_t i = open; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if ((c == ',' && depth == 1) || (c == ')' && depth == 0)) {
        const std::string part(TrimWhitespace(std::string_view(text).substr(partStart, i - partStart)));
        const std::size_t blank = part.find_first_of(" \t\r\n");
        const std::string first = part.substr(0, blank);
        const std::string keyword = ToUpperAscii(first);
        if (!part.empty() && keyword != "PRIMARY" && keyword != "CONSTRAINT" && keyword != "UNIQUE" &&
            keyword != "CHECK" && keyword != "FOREIGN" && keyword != "INDEX") {
          const std::string declaration =
              blank == std::string::npos ? std::string() : std::string(TrimWhitespace(part.substr(blank)));
          table.columns.emplace_back(Unbracket(first), declaration);
          if (ToUpperAscii(declaration).find("IDENTITY") != std::string::npos)
            table.identityColumn = Unbracket(first);
        }
        partStart = i + 1;
      }
      if (c == ')' && depth == 0) {
        end = i;
        break;
      }
    }
    tables.push_back(std::move(table));
    at = end;
  }
  return tables;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

// The server's message with its numbers, which a DBA looks up.
std::string ServerMessage(const ComError& error) {
  // Each check is one line; drivers break their messages over several.
  std::string text;
  for (const char c : TrimWhitespace(error.Description())) {
    if (c == '\r' || c == '\n') {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += c;
    }
  }
  if (error.NativeError() != 0 || !error.SqlState().empty()) {
    text += " (";
    if (error.NativeError() != 0) text += "error " + std::to_string(error.NativeError());
    if (error.NativeError() != 0 && !error.SqlState().empty()) text += ", ";
    if (!error.SqlState().empty()) text += "SQLSTATE " + error.SqlState();
    text += ")";
  }
  return text;
}

// "Invalid object name" on SQL Server and the embedded provider, the ODBC class for a missing table,
// PostgreSQL's undefined_table, SQLite's own text through its ODBC driver.
bool IsMissingTable(const ComError& error) {
  return error.NativeError() == 208 || error.SqlState() == "42S02" || error.SqlState() == "42P01" ||
         ToLowerAscii(error.Description()).find("no such table") != std::string::npos;
}

std::string ProviderFact(Connection& cn, std::string_view name) {
  const std::optional<Variant> value = cn.Session().ProviderProperty(name);
  return value && !value->IsNull() && !value->IsEmpty() ? value->ToString() : std::string();
}

class Preflight {
 public:
  Preflight(Connection& cn, std::vector<CheckResult>& results)
      : cn_(cn),
        results_(results),
        provider_(cn.Session().ProviderName()),
        dbmsName_(ProviderFact(cn, "DBMS Name")),
        dbmsVersion_(ProviderFact(cn, "DBMS Version")),
        sqlServer_(ToLowerAscii(dbmsName_).find("sql server") != std::string::npos),
        embedded_(provider_ == kSqliteProviderName) {}

  void Run(const std::optional<Period>& period) {
    Pass("connection", "opened through " + provider_);
    Guarded("server", [this] { CheckServer(); });
    Guarded("collation", [this] { CheckCollation(); });
    Guarded("schema", [this] { CheckSchema(); });
    Guarded("identity", [this] { CheckIdentities(); });
    Guarded("permissions", [this] { CheckPermissions(); });
    Guarded("close lock", [this] { CheckCloseLock(); });
    Guarded("current period", [this] { CheckCurrentPeriod(); });
    if (period) {
      const std::string name = "period " + ToText(*period);
      if (!current_ && !ended_) {
        NotRun(name, "not run: the module's current period is not known");
      } else {
        Guarded(name, [this, &name, &period] { CheckPeriod(name, *period); });
      }
    }
  }

 private:
  void Pass(const std::string& name, std::string detail) {
    results_.push_back({name, true, true, std::move(detail), {}});
  }
  void Fail(const std::string& name, std::string detail, std::string advice) {
    results_.push_back({name, false, true, std::move(detail), std::move(advice)});
  }
  void NotRun(const std::string& name, std::string why) {
    results_.push_back({name, false, false, std::move(why), {}});
  }

  // A check whose statement fails reports the server's message; the checks after it run if the transaction
  // is still there to run them in.
  void Guarded(const std::string& name, const std::function<void()>& check) {
    if (ended_) {
      NotRun(name, "not run: " + *ended_);
      return;
    }
    try {
      check();
    } catch (const ComError& error) {
      Fail(name, "the query failed: " + ServerMessage(error),
           "correct what the message names and run the check again");
      StillUsable();
    }
  }

  // With XACT_ABORT OFF a statement error on SQL Server ends the statement and leaves the transaction open,
  // though errors of some severities roll it back anyway ("SET XACT_ABORT (Transact-SQL)",
  // learn.microsoft.com); XACT_STATE() is 1 while the transaction can still commit ("XACT_STATE
  // (Transact-SQL)"). PostgreSQL in some of its driver's rollback modes, and the embedded provider after a
  // conversion error, refuse every later statement of the transaction. Asking is the one way to know.
  bool StillUsable() {
    try {
      const ResultTable answer =
          Fetch(sqlServer_ ? "SELECT CASE WHEN @@TRANCOUNT > 0 AND XACT_STATE() = 1 THEN 1 ELSE 0 END"
                           : "SELECT 1");
      if (!answer.rows.empty() && !answer.rows[0].empty() && answer.rows[0][0].ToLong() == 1) return true;
    } catch (const ComError&) {
    }
    ended_ =
        "the failure above ended the check's transaction on " + (dbmsName_.empty() ? provider_ : dbmsName_);
    return false;
  }

  // The driver's own reads go through the same traced path as the component's.
  ResultTable Fetch(const std::string& text) {
    TraceSql(cn_.TraceId(), "Recordset.Open", text);
    return cn_.Session().Query(text);
  }

  void CheckServer() {
    if (!sqlServer_) {
      Pass("server", (dbmsName_.empty() ? std::string("the provider names no DBMS") : dbmsName_) +
                         (dbmsVersion_.empty() ? std::string() : " " + dbmsVersion_));
      return;
    }
    const ResultTable version = Fetch("SELECT @@VERSION");
    std::string text = version.rows.empty() || version.rows[0].empty() ? dbmsName_ + " " + dbmsVersion_
                                                                       : version.rows[0][0].ToString();
    text = std::string(TrimWhitespace(text.substr(0, text.find_first_of("\r\n"))));
    Pass("server", text);
  }

  void CheckCollation() {
    if (embedded_) {
      Pass("collation",
           "text compares without regard to case on the embedded provider by construction "
           "(docs/tsql-subset.md), as the close's comparisons of codes and keys need");
      return;
    }
    if (!sqlServer_) {
      Pass("collation", "not checked on " + (dbmsName_.empty() ? provider_ : dbmsName_) +
                            ": the close compares codes and keys as SQL Server's case-insensitive collations "
                            "do; make sure this database compares them so");
      return;
    }
    const ResultTable answer =
        Fetch("SELECT CONVERT(NVARCHAR(128), DATABASEPROPERTYEX(DB_NAME(), 'Collation'))");
    if (answer.rows.empty() || answer.rows[0].empty() || answer.rows[0][0].IsNull()) {
      Fail("collation", "the database reports no collation", "check that the database is online");
      return;
    }
    // A collation name spells its case sensitivity as _CI or _CS; binary collations (_BIN, _BIN2) compare
    // case-sensitively ("Windows Collation Name", "SQL Server Collation Name (Transact-SQL)",
    // learn.microsoft.com).
    const std::string collation = answer.rows[0][0].ToString();
    if (ToUpperAscii(collation).find("_CI") != std::string::npos) {
      Pass("collation", collation + " compares text without regard to case, as the close's statements need");
    } else {
      Fail("collation",
           collation +
               " compares text with regard to case; the close's statements compare codes and keys as "
               "SQL Server's case-insensitive collations do",
           "keep the ledger in a database with a case-insensitive collation (a name with _CI, such as "
           "SQL_Latin1_General_CP1_CI_AS)");
    }
  }

  void CheckSchema() {
    try {
      reference_ = ParseReferenceSchema(ledger::ReferenceSchema());
    } catch (const ComError& error) {
      Fail("schema", "the reference schema could not be read: " + error.Description(),
           "run the check from an installation that has " + std::string(kSchemaFile));
      return;
    }
    bool complete = true;
    std::vector<std::string> missingTables;
    std::vector<CheckResult> lackingColumns;
    std::string stoppedAfter;
    for (const ReferenceTable& table : reference_) {
      ResultTable empty;
      try {
        empty = Fetch("SELECT * FROM " + table.name + " WHERE 1 = 0");
      } catch (const ComError& error) {
        complete = false;
        if (IsMissingTable(error)) {
          missingTables.push_back(table.name);
        } else {
          Fail("schema", "table " + table.name + " could not be read: " + ServerMessage(error),
               "correct what the message names and run the check again");
        }
        if (!StillUsable()) {
          stoppedAfter = table.name;
          break;
        }
        continue;
      }
      present_.insert(table.name);
      std::vector<std::string> missing, declarations;
      for (const auto& [column, declaration] : table.columns) {
        const bool found =
            std::any_of(empty.columns.begin(), empty.columns.end(),
                        [&](const std::string& live) { return EqualsIgnoringCase(live, column); });
        if (!found) {
          missing.push_back(column);
          declarations.push_back(column + " " + declaration);
        }
      }
      if (!missing.empty()) {
        complete = false;
        const char* them = missing.size() == 1 ? "it" : "them";
        lackingColumns.push_back({"schema", false, true,
                                  "table " + table.name + " lacks column" +
                                      (missing.size() == 1 ? " " : "s ") + JoinNames(missing),
                                  std::string("add ") + them + " as " + std::string(kSchemaFile) +
                                      " declares " + them + ": " + JoinNames(declarations)});
      }
    }
    if (!missingTables.empty() && missingTables.size() == reference_.size()) {
      Fail("schema",
           "none of the " + std::to_string(reference_.size()) + " tables of " + std::string(kSchemaFile) +
               " is there",
           "load " + std::string(kSchemaFile) + " into the ledger's database first");
    } else {
      for (const std::string& table : missingTables) {
        Fail("schema", "table " + table + " is missing",
             "create it as " + std::string(kSchemaFile) + " declares it");
      }
    }
    results_.insert(results_.end(), lackingColumns.begin(), lackingColumns.end());
    if (ended_) {
      NotRun("schema", "not run for the tables after " + stoppedAfter + ": " + *ended_);
      return;
    }
    if (complete) {
      Pass("schema", "all " + std::to_string(reference_.size()) + " tables of " + std::string(kSchemaFile) +
                         " are there with every column it declares");
    }
  }

  // The live tables present whose reference declaration has an identity column.
  std::vector<const ReferenceTable*> IdentityTables() const {
    std::vector<const ReferenceTable*> tables;
    for (const ReferenceTable& table : reference_) {
      if (!table.identityColumn.empty() && present_.count(table.name) != 0) tables.push_back(&table);
    }
    return tables;
  }

  void CheckIdentities() {
    const std::vector<const ReferenceTable*> tables = IdentityTables();
    if (tables.empty()) {
      NotRun("identity", "not run: none of the tables with an identity column could be read");
      return;
    }
    if (!sqlServer_ && !embedded_) {
      Pass("identity", "not checked on " + (dbmsName_.empty() ? provider_ : dbmsName_) +
                           ": the close numbers the rows of " + std::to_string(tables.size()) +
                           " tables through an identity column, which this database must provide");
      return;
    }
    std::vector<std::string> notIdentity;
    if (sqlServer_) {
      // COLUMNPROPERTY(..., 'IsIdentity') is 1 for an identity column, 0 for another column and NULL for a
      // column it cannot find ("COLUMNPROPERTY (Transact-SQL)", learn.microsoft.com).
      std::string query;
      for (const ReferenceTable* table : tables) {
        if (!query.empty()) query += " UNION ALL ";
        query += "SELECT " + QuoteSqlText(table->name) + ", COLUMNPROPERTY(OBJECT_ID(" +
                 QuoteSqlText(table->name) + "), " + QuoteSqlText(table->identityColumn) + ", 'IsIdentity')";
      }
      for (const auto& row : Fetch(query).rows) {
        if (row.size() < 2 || row[1].IsNull() || row[1].ToLong() != 1)
          notIdentity.push_back(row[0].ToString());
      }
    } else {
      // The embedded provider has no catalogue functions; SET IDENTITY_INSERT is refused with error 8106 on a
      // table without an identity (docs/tsql-subset.md) and changes nothing but this session's setting.
      for (const ReferenceTable* table : tables) {
        try {
          cn_.Execute("SET IDENTITY_INSERT " + table->name + " ON SET IDENTITY_INSERT " + table->name +
                      " OFF");
        } catch (const ComError& error) {
          if (error.NativeError() != 8106) throw;
          notIdentity.push_back(table->name);
        }
      }
    }
    if (notIdentity.empty()) {
      Pass("identity", "the " + std::to_string(tables.size()) + " identity columns of " +
                           std::string(kSchemaFile) + " are identities");
      return;
    }
    std::vector<std::string> columns;
    for (const std::string& name : notIdentity) {
      for (const ReferenceTable* table : tables) {
        if (table->name == name) columns.push_back(table->identityColumn + " of " + name);
      }
    }
    Fail("identity", JoinNames(columns) + (columns.size() == 1 ? " is" : " are") + " not an identity column",
         "the close numbers these tables' rows through their identity: recreate them as " +
             std::string(kSchemaFile) + " declares them (IDENTITY(1,1)), keeping their rows");
  }

  void CheckPermissions() {
    if (!sqlServer_) {
      Pass("permissions",
           "not applicable: " + provider_ +
               (embedded_ ? std::string(" has no permissions to check")
                          : " reaches " + (dbmsName_.empty() ? std::string("a DBMS") : dbmsName_) +
                                ", whose permissions are not checked"));
      return;
    }
    bool allGranted = CheckGrantedPermissions();
    if (ended_) return;
    // What can be tried and undone is tried: a setting of this session, a report, a temporary table.
    for (const std::string& table : kIdentityWrittenTables) {
      if (present_.count(table) == 0) continue;
      // "User must own the table or have ALTER permission on the table" ("SET IDENTITY_INSERT
      // (Transact-SQL)", learn.microsoft.com).
      allGranted &= Try("SET IDENTITY_INSERT " + table + " ON\r\nSET IDENTITY_INSERT " + table + " OFF",
                        "SET IDENTITY_INSERT " + table + " ON was refused",
                        "grant ALTER on " + table + " to the close's login (or let it own the table)");
      if (ended_) return;
      // DBCC CHECKIDENT needs the caller to own the schema holding the table or to be a member of sysadmin,
      // db_owner or db_ddladmin ("DBCC CHECKIDENT (Transact-SQL)", Permissions, learn.microsoft.com);
      // NORESEED only reports the identity.
      allGranted &= Try("DBCC CHECKIDENT ('" + table + "', NORESEED) WITH NO_INFOMSGS",
                        "DBCC CHECKIDENT ('" + table + "', NORESEED) was refused",
                        "make the close's login a member of db_ddladmin or the owner of the table's schema; "
                        "without it every close leaves the identity of " +
                            table + " unreseeded");
      if (ended_) return;
    }
    allGranted &= Try("CREATE TABLE #Closewright_Check (FID INT)\r\nDROP TABLE #Closewright_Check",
                      "a temporary table could not be created",
                      "the close's steps create #temporary tables in tempdb; correct what the message names");
    if (ended_) return;
    if (allGranted) {
      Pass("permissions", "SELECT, INSERT, UPDATE, DELETE and ALTER as the close needs them on its " +
                              std::to_string(present_.size()) +
                              " tables; SET IDENTITY_INSERT, DBCC CHECKIDENT (NORESEED) and a temporary "
                              "table tried and undone");
    }
  }

  // TRUNCATE TABLE takes a schema-modification (Sch-M) lock on the table ("TRUNCATE TABLE (Transact-SQL)",
  // learn.microsoft.com), which would block the accountants' readers of a live table until the rollback, so
  // it is not tried; the permission it needs, ALTER on the table (same page, Permissions), is asked of
  // HAS_PERMS_BY_NAME instead, which answers 1 for an effective permission and 0 otherwise
  // ("HAS_PERMS_BY_NAME (Transact-SQL)"). The names stay unqualified, resolved as the close's own statements
  // resolve them.
  bool CheckGrantedPermissions() {
    std::vector<std::pair<std::string, std::string>> wanted;  // table, permission
    for (const ReferenceTable& table : reference_) {
      if (present_.count(table.name) == 0) continue;
      wanted.emplace_back(table.name, "SELECT");
      if (kReadOnlyTables.count(table.name) == 0) {
        wanted.emplace_back(table.name, "INSERT");
        wanted.emplace_back(table.name, "DELETE");
      }
      if (kUpdatedTables.count(table.name) != 0) wanted.emplace_back(table.name, "UPDATE");
      const bool altered =
          std::find(kTruncatedTables.begin(), kTruncatedTables.end(), table.name) != kTruncatedTables.end() ||
          std::find(kIdentityWrittenTables.begin(), kIdentityWrittenTables.end(), table.name) !=
              kIdentityWrittenTables.end();
      if (altered) wanted.emplace_back(table.name, "ALTER");
    }
    if (wanted.empty()) return true;
    std::string query;
    for (const auto& [table, permission] : wanted) {
      if (!query.empty()) query += " UNION ALL ";
      query += "SELECT " + QuoteSqlText(table) + ", " + QuoteSqlText(permission) + ", HAS_PERMS_BY_NAME(" +
               QuoteSqlText(table) + ", 'OBJECT', " + QuoteSqlText(permission) + ")";
    }
    std::map<std::string, std::vector<std::string>> missing;  // permission -> tables
    try {
      for (const auto& row : Fetch(query).rows) {
        if (row.size() < 3 || row[2].IsNull() || row[2].ToLong() != 1)
          missing[row[1].ToString()].push_back(row[0].ToString());
      }
    } catch (const ComError& error) {
      Fail("permissions", "the permissions could not be asked: " + ServerMessage(error),
           "correct what the message names and run the check again");
      StillUsable();
      return false;
    }
    if (missing.empty()) return true;
    std::string found;
    for (const auto& [permission, tables] : missing) {
      if (!found.empty()) found += "; ";
      found += "no " + permission + " on " + JoinNames(tables);
      if (permission == "ALTER") found += " (TRUNCATE TABLE and SET IDENTITY_INSERT need it)";
    }
    // db_datareader reads and db_datawriter changes the data of every user table; db_ddladmin runs any DDL
    // command in the database ("Database-level roles", learn.microsoft.com).
    const auto& [permission, tables] = *missing.begin();
    Fail("permissions", "the close's login has " + found,
         "grant them to the login's database user (GRANT " + permission + " ON " + tables.front() +
             " TO <user>, and so on) or make it a member of db_datareader, db_datawriter and db_ddladmin");
    return false;
  }

  // Runs a text that changes nothing once it has run; on failure reports it and whether the transaction is
  // still there.
  bool Try(const std::string& text, const std::string& what, const std::string& advice) {
    try {
      cn_.Execute(text);
      return true;
    } catch (const ComError& error) {
      Fail("permissions", what + ": " + ServerMessage(error), advice);
      StillUsable();
      return false;
    }
  }

  void CheckCloseLock() {
    CloseLockOutcome outcome;
    try {
      outcome = TakeCloseLock(cn_);
    } catch (const ComError& error) {
      Fail("close lock", ServerMessage(error), "correct what the message names and run the check again");
      StillUsable();
      return;
    }
    if (outcome == CloseLockOutcome::Taken) {
      Pass("close lock", "taken, and released with the check's rollback");
    } else {
      Fail("close lock", "another close or reopen is running",
           "run the check again when it has finished (closewright log lists the runs)");
    }
  }

  void CheckCurrentPeriod() {
    if (!reference_.empty() && present_.count("t_SystemProfile") == 0) {
      NotRun("current period", "not run: the module keeps it in t_SystemProfile, which could not be read");
      return;
    }
    Period current;
    try {
      current = ModuleCurrentPeriod(cn_);
    } catch (const Refused& refusal) {
      Fail("current period", refusal.what(),
           "insert them with the ledger's open period: INSERT INTO t_SystemProfile (FCategory, FKey, FValue) "
           "VALUES ('OPCost', 'CurrentYear', '<year>'), ('OPCost', 'CurrentPeriod', '<period>')");
      return;
    } catch (const ComError& error) {
      // The values are text; one that is no number cannot be read as a period.
      if (error.Number() != error_number::kTypeMismatch && error.Number() != error_number::kOverflow) throw;
      Fail("current period", "t_SystemProfile's CurrentYear or CurrentPeriod of 'OPCost' is no period number",
           "correct FValue of those rows to the ledger's open period");
      return;
    }
    if (current.year < 1 || current.year > 9999 || current.period < 1 || current.period > 12) {
      Fail("current period",
           ToText(current) + " is not a period the calendar knows (periods 1 to 12 of years 1 to 9999)",
           "correct FValue of the 'OPCost' CurrentYear and CurrentPeriod rows of t_SystemProfile");
      return;
    }
    current_ = current;
    Pass("current period", ToText(current) + " (t_SystemProfile, 'OPCost' CurrentYear and CurrentPeriod)");
  }

  void CheckPeriod(const std::string& name, Period period) {
    const Period current = *current_;
    const bool canClose = period == current;
    const bool canReopen = FollowingPeriod(period) == current;
    if (!canClose && !canReopen) {
      Fail(name,
           ToText(period) + " can be neither closed nor reopened: the current period is " + ToText(current),
           "close " + ToText(current) + " (the current period) or reopen " +
               ToText(PrecedingPeriod(current)) + " (the last closed one)");
      return;
    }
    const std::vector<RowsOutsidePeriod> found =
        FindRowsOutsidePeriod(cn_, period.year, period.period, canClose);
    if (!found.empty()) {
      Fail(
          name, DescribeRowsOutsidePeriod(found, period.year, period.period, canClose),
          "find out where those rows came from and move them to their own period's history tables (or delete "
          "them) before " +
              std::string(canClose ? "closing " : "reopening ") + ToText(period));
      return;
    }
    if (canClose) {
      Pass(name, ToText(period) + " is the current period and can be closed into " +
                     ToText(FollowingPeriod(period)) + "; its working tables hold no rows of other periods");
    } else {
      Pass(name, ToText(period) +
                     " is the period just before the current one and can be reopened; no live "
                     "table holds rows of it or earlier that the restore would lose");
    }
  }

  Connection& cn_;
  std::vector<CheckResult>& results_;
  const std::string provider_;
  const std::string dbmsName_;
  const std::string dbmsVersion_;
  const bool sqlServer_;
  const bool embedded_;
  std::vector<ReferenceTable> reference_;
  std::set<std::string> present_;
  std::optional<Period> current_;
  std::optional<std::string> ended_;  // why the transaction is gone, once it is
};

std::string ConnectStringOf(const std::string& description) {
  CParse parser;
  parser.ParseString(description);
  return parser.ConStr();
}

}  // namespace

std::vector<CheckResult> RunPreflight(const PreflightOptions& options) {
  std::vector<CheckResult> results;
  Transaction transaction;
  Connection cn;
  try {
    cn.Open(ConnectStringOf(options.description));
  } catch (const ComError& error) {
    // The embedded provider begins the transaction, and so takes the ledger's write lock, as it opens.
    const std::string advice =
        error.NativeError() == 1222
            ? "another close or reopen holds the ledger; run the check again when it has finished"
            : "check the description, the ODBC driver it names (odbcinst -q -d lists them), the server and "
              "the "
              "login";
    results.push_back({"connection", false, true, ServerMessage(error),
                       advice + ". The other checks need the connection and were not run"});
    return results;
  }
  Preflight(cn, results).Run(options.period);
  cn.Close();
  transaction.Rollback();
  return results;
}

}  // namespace closewright::tool
