#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outside/sqlite/DateConversion.h"
#include "outside/sqlite/SqlServerTypes.h"
#include "outside/sqlite/TsqlLexer.h"

namespace closewright::sqlite {

/// How SQL Server treats a declared type, as far as the embedded provider needs to know.
enum class ValueKind { Integer, Bit, Decimal, Float, Text, DateTime, Other };

struct TypeInfo {
  ValueKind kind = ValueKind::Other;
  std::int32_t length = -1;  // text: maximum characters, -1 for MAX or unknown
  std::int32_t scale = 0;    // decimal: digits after the point
  /// The exact numeric types (integers, bit, decimal, money) with SQL Server's precision and scale.
  std::optional<NumericType> numeric;
  /// The date types, with their precision.
  std::optional<DateType> date;
};

/// The kind of a declared type name as stored in the SQLite schema ("DECIMAL(28,10)", "DATETIME TEXT", ...).
TypeInfo TypeFromDeclaration(std::string_view declaredType);

struct VariableDeclaration {
  std::string name;  // upper case, with its @
  TypeInfo type;
  std::string initializer;  // a SELECT that yields the initial value, empty when none
  std::int32_t line = 0;
};

struct ColumnDefinition {
  std::string name;
  TypeInfo type;
  bool identity = false;
  std::int64_t seed = 1;
  std::int64_t increment = 1;
};

struct ConstraintDefinition {
  std::string name;
  std::string kind;     // "PK", "UQ" or "CK"
  std::string columns;  // lower-case column names joined by ","
};

enum class StatementKind {
  Sql,     // a statement SQLite runs as translated (SELECT, UPDATE, DELETE, ...)
  Insert,  // INSERT: identity rules are checked when it runs
  Assign,  // SELECT @v = ..., SET @v = ...
  Declare,
  If,
  Block,
  NoOp,  // SET NOCOUNT, SET TRANSACTION ISOLATION LEVEL, PRINT, ...
  SetIdentityInsert,
  Truncate,
  CheckIdent,
  CreateTable,
  DropTable,
  CreateIndex,
  DropIndex,
};

enum class CheckIdentMode { Reseed, NoReseed, Correct };

struct InsertTarget {
  std::string table;
  std::vector<std::string> columns;  // as written, without delimiters; empty without a column list
  bool hasColumnList = false;
  std::string head;  // INSERT INTO "t"
  /// Where the translated VALUES ..., SELECT ... or DEFAULT VALUES begins in the statement's text, which it
  /// ends.
  std::size_t sourceOffset = 0;
  bool defaultValues = false;
  bool valuesSource = false;
};

struct CreateTableDefinition {
  std::string table;
  bool temporary = false;
  std::vector<ColumnDefinition> columns;
  std::vector<ConstraintDefinition> constraints;
  std::string identityColumn;  // empty when the table has none
  std::int64_t seed = 1;
  std::int64_t increment = 1;
  /// The CREATE TABLE statement followed by the indexes and triggers that go with it.
  std::vector<std::string> sql;
};

/// An item of the select list of a SELECT whose rows go to the client, as SQL Server describes its column.
struct ResultColumn {
  bool unnamed = false;          // an expression with no alias: the server sends the empty name
  bool star = false;             // `*` or `t.*`: the columns of its tables, named and typed by them
  std::string name;              // the alias or the column named alone; empty for an unnamed expression
  std::optional<TypeInfo> type;  // nullopt when its type cannot be told
};

struct Statement {
  StatementKind kind = StatementKind::Sql;
  std::int32_t line = 0;
  std::string sql;             // translated text (If: the condition as a SELECT yielding 0 or 1)
  bool syntaxChecked = false;  // sql is a text SQLite parses as written, checked before the batch runs
  bool returnsRows = false;    // a SELECT whose rows go to the client
  bool isUpdate = false;       // an UPDATE (names the statement in error 515)
  std::vector<std::string> updatedColumns;  // UPDATE: the columns its SET assigns, as written
  std::vector<std::string> targets;         // Assign: the variables, in select-list order
  bool readsItsTargets = false;             // Assign: an expression reads a variable the statement assigns
  std::vector<VariableDeclaration> declarations;
  std::vector<Statement> children;  // Block: the statements; If: then and optionally else
  std::optional<InsertTarget> insert;
  std::string table;  // SetIdentityInsert, Truncate, CheckIdent, DropTable, CreateIndex, DropIndex
  bool on = false;    // SetIdentityInsert: ON; DropTable: IF EXISTS given
  CheckIdentMode checkIdentMode = CheckIdentMode::Correct;
  std::string argument;  // CheckIdent: a SELECT yielding the new seed, empty when none
  std::shared_ptr<const CreateTableDefinition> create;
  /// returnsRows: the items of the select list, in order.
  std::vector<ResultColumn> resultColumns;
};

struct Plan {
  std::vector<Statement> statements;
};

/// The translated VALUES ..., SELECT ... or DEFAULT VALUES of an INSERT statement.
inline std::string_view InsertSource(const Statement& insert) {
  return std::string_view(insert.sql).substr(insert.insert ? insert.insert->sourceOffset : insert.sql.size());
}

/// The texts of a plan that SQLite will see as written, with their lines, in the order of the batch: they
/// are checked before anything runs, as SQL Server compiles a whole batch first.
void ForEachSyntaxCheck(const Plan& plan, const std::function<void(const std::string&, std::int32_t)>& check);

/// The columns of a table and their declared types, in order.
using ColumnTypes = std::vector<std::pair<std::string, TypeInfo>>;

/// What translation may ask of the database: the columns of a table that exists, by its name as written
/// (`#t` for a temporary table); nullptr for one that does not. Arithmetic on columns gets SQL Server's
/// types from it; without it only literals and variables are typed.
using ColumnCatalog = std::function<const ColumnTypes*(const std::string& table)>;

/// Reads a T-SQL batch and translates it for SQLite. Throws TsqlError for a construct outside the
/// supported subset, a syntax error the reader can see, or an undeclared variable; nothing has run then.
/// The batch is read `tokensAtOnce` tokens at a time; the plan does not depend on it.
Plan TranslateBatch(std::string_view batch, std::size_t tokensAtOnce = 1024,
                    const ColumnCatalog& catalog = {});

/// The message of an error refusing a construct the embedded provider does not run.
std::string UnsupportedMessage(std::string_view construct, std::int32_t line);

}  // namespace closewright::sqlite
