#pragma once

// What the parts of the T-SQL translation share: the Translator, which reads a batch's tokens statement by
// statement (TsqlBatchReader.cpp), hands each statement to the parser of its kind (one file per kind) and
// translates the expressions inside them (TsqlExpression.cpp). Private to outside/sqlite.

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outside/sqlite/TsqlLexer.h"
#include "outside/sqlite/TsqlPlan.h"

namespace closewright::sqlite::translation {

bool InList(std::string_view word, const std::string_view* begin, const std::string_view* end);

template <std::size_t N>
bool InList(std::string_view word, const std::string_view (&list)[N]) {
  return InList(word, list, list + N);
}

Token MakeToken(TokenKind kind, std::string text, std::int32_t line);

TsqlError SyntaxError(std::string_view near, std::int32_t line);
TsqlError KeywordError(std::string_view keyword, std::int32_t line);
TsqlError Unsupported(std::string_view construct, std::int32_t line);

/// The SQLite text of one token.
std::string Emit(const Token& t);
/// The SQLite text of tokens [begin, end), blanks where the batch had them.
std::string Join(const std::vector<Token>& tokens, std::size_t begin, std::size_t end);
std::int64_t ParseInteger(std::string_view text, std::int32_t line);

// ---- operands in a token list (TsqlExpression.cpp) ----
/// The index of the `)` matching the `(` at `open`.
std::size_t MatchForward(const std::vector<Token>& v, std::size_t open);
std::size_t MatchBackward(const std::vector<Token>& v, std::size_t close);
/// Whether a token can end an operand, so that an operator after it is binary.
bool EndsOperand(const Token& t);
/// One past the last token of the operand that starts at `i`; the first token of the one that ends at `i`.
std::size_t OperandEndAt(const std::vector<Token>& v, std::size_t i);
std::size_t OperandStartAt(const std::vector<Token>& v, std::size_t i);
/// The ranges between the commas of depth 0 inside the parentheses at `open` and `close`.
std::vector<std::pair<std::size_t, std::size_t>> SplitAtCommas(const std::vector<Token>& tokens,
                                                               std::size_t open, std::size_t close,
                                                               bool keepEmpty);

// ---- SQL Server's types for arithmetic (TsqlTyping.cpp) ----
/// Where the typing of a statement's expressions learns the declared types of its names.
struct TypeSources {
  const std::map<std::string, TypeInfo>* variables = nullptr;  // upper case, with the @
  const ColumnCatalog* catalog = nullptr;
  const std::map<std::string, ColumnTypes>* createdInBatch = nullptr;  // lower case
  std::string target;  // the table an UPDATE or DELETE names before the translated range
};

/// Gives translated arithmetic SQL Server's types: `+ - * / %` between exact numbers become calls that
/// compute exactly at the result type, `+` between texts joins them, SUM of int overflows as int does and
/// ISNULL converts its replacement to the checked value's type. Operands whose types are unknown are left
/// to SQLite.
void TypeArithmetic(std::vector<Token>& tokens, const TypeSources& sources);

/// The items of the select list of translated tokens (a leading SELECT, DISTINCT or ALL skipped): which are
/// a `*`, which unnamed expressions, and the types the typing can tell; no types when a UNION, EXCEPT or
/// INTERSECT combines the lists.
std::vector<ResultColumn> DescribeSelectList(std::vector<Token>& tokens, const TypeSources& sources);
/// The types of the token ranges of one statement, each typed over the tables the statement names; nullopt
/// where a type cannot be told.
std::vector<std::optional<TypeInfo>> TypesOfRanges(
    std::vector<Token>& tokens, const std::vector<std::pair<std::size_t, std::size_t>>& ranges,
    const TypeSources& sources);

// ---- comparisons of two date columns (TsqlDateComparison.cpp) ----
/// Whether tokens [begin, end) compare two names, which CompareDatesAtTheHigherType may need to rearrange.
bool ComparesTwoNames(const std::vector<Token>& tokens, std::size_t begin, std::size_t end);
/// Compares two date columns of different types at the type of higher precedence, by naming its collation.
void CompareDatesAtTheHigherType(std::vector<Token>& tokens, const TypeSources& sources);

class TokenSink;

class Translator {
 public:
  explicit Translator(std::vector<Token> tokens) : t_(std::move(tokens)) {}
  Translator(BatchTokenizer& tokenizer, std::size_t tokensAtOnce, const ColumnCatalog& catalog);

  Plan Run();

 private:
  struct ObjectName {
    std::string name;
    bool temporary = false;
  };

  // A CREATE TABLE as it is being read: the SQLite text of each column and what the table's constraints
  // make of them.
  struct ColumnText {
    std::string name;
    std::string declared;
    std::string collation;
    bool notNull = false;
    bool primaryKey = false;
    std::string primaryKeyName;
    std::string defaultSql;
    std::vector<std::string> extras;  // UNIQUE, CHECK, REFERENCES as SQLite text
  };
  struct TableText {
    std::shared_ptr<CreateTableDefinition> definition;
    std::vector<ColumnText> columns;
    std::vector<std::string> tableConstraints;
    std::vector<std::string> primaryKeyColumns;
    std::string primaryKeyName;
    bool rowidIdentity = false;
    std::size_t end = 0;  // where the statement ends
  };
  using Range = std::pair<std::size_t, std::size_t>;

  // ---- the batch and its statements (TsqlBatchReader.cpp) ----
  bool Complete() const { return tokenizer_ == nullptr || tokenizer_->Done(); }
  void Load(std::size_t size);
  bool HaveToken(std::size_t pos);
  void ReadMore();
  const Token& At(std::size_t i) const;
  std::int32_t LineAt(std::size_t i) const;
  std::size_t StatementEnd(std::size_t begin, std::size_t limit) const;
  Statement ParseStatement(std::size_t& pos, std::size_t limit);
  Statement ParseNested(const std::string& word, std::size_t& pos, std::size_t limit);
  Statement ParsePrint(std::size_t& pos, std::size_t limit);

  // ---- pieces every parser uses (TsqlTranslator.cpp) ----
  bool IsNameToken(const Token& t) const;
  ObjectName ParseObjectName(std::size_t& pos) const;
  std::string QuotedTarget(const ObjectName& name) const { return QuoteName(name.name); }
  std::size_t MatchParen(std::size_t open, std::size_t limit) const;
  void CheckVariable(const Token& t) const;
  // The ranges between the commas of depth 0 inside the parentheses at `open` and `close`.
  std::vector<Range> SplitAtCommas(std::size_t open, std::size_t close, bool keepEmpty) const;

  // ---- expressions (TsqlExpression.cpp) ----
  /// `target`: the table an UPDATE or DELETE names before the range, for the types of its columns.
  /// `selectList`: where the columns of a select list the range holds are described, when wanted.
  std::string Translate(std::size_t begin, std::size_t end, const std::string& target = {},
                        std::vector<ResultColumn>* selectList = nullptr) const;
  bool ComparesWithoutColumn(std::size_t i, std::size_t end) const;
  // ---- `+` between texts (TsqlTextJoin.cpp) ----
  std::size_t OperandEnd(std::size_t i, std::size_t end) const;
  bool IsTextOperand(std::size_t begin, std::size_t operandEnd) const;
  /// The SQLite text of a `+` chain starting at `i` that joins texts, and where the chain ends.
  std::optional<std::pair<std::string, std::size_t>> TextJoinAt(std::size_t i, std::size_t begin,
                                                                std::size_t end) const;
  std::size_t TranslateWord(std::size_t i, std::size_t begin, std::size_t end, TokenSink& sink) const;

  // ---- IF, BEGIN...END (TsqlControlFlow.cpp) ----
  Statement ParseIf(std::size_t& pos, std::size_t limit);
  Statement ParseBegin(std::size_t& pos, std::size_t limit);

  // ---- SELECT, UPDATE, DELETE (TsqlQuery.cpp) ----
  void RefuseSelectExtensions(std::size_t begin, std::size_t end, bool allowTop) const;
  Statement ParseSelect(std::size_t& pos, std::size_t limit);
  Statement ParseUpdate(std::size_t& pos, std::size_t limit);
  std::vector<std::string> UpdatedColumns(std::size_t i, std::size_t end) const;
  Statement ParseDelete(std::size_t& pos, std::size_t limit);

  // ---- INSERT (TsqlInsert.cpp) ----
  Statement ParseInsert(std::size_t& pos, std::size_t limit);

  // ---- DECLARE, SET, SELECT @v = (TsqlVariables.cpp) ----
  Statement ParseAssignment(std::size_t begin, std::size_t end);
  Statement ParseDeclare(std::size_t& pos, std::size_t limit);
  Statement ParseSet(std::size_t& pos, std::size_t limit);

  // ---- DBCC, SET IDENTITY_INSERT, TRUNCATE, DROP, CREATE INDEX (TsqlTableMaintenance.cpp) ----
  Statement ParseSetIdentityInsert(std::size_t begin, std::size_t end, Statement s) const;
  Statement ParseTruncate(std::size_t& pos, std::size_t limit);
  Statement ParseDrop(std::size_t& pos, std::size_t limit);
  Statement ParseDbcc(std::size_t& pos, std::size_t limit);
  Statement ParseCreate(std::size_t& pos, std::size_t limit);

  // ---- CREATE TABLE (TsqlCreateTable.cpp) ----
  Statement ParseCreateTable(std::size_t begin, std::size_t end);
  std::size_t DefaultEnd(std::size_t i, std::size_t limit) const;
  std::size_t SkipIndexOptions(std::size_t j, std::size_t elementEnd) const;
  std::string ColumnListAt(std::size_t open, std::size_t limit, std::vector<std::string>& names) const;
  bool ParseTableConstraint(std::size_t& j, std::size_t elementEnd, TableText& table) const;
  void ParseColumn(std::size_t j, Range element, TableText& table) const;
  std::size_t ParseColumnType(std::size_t j, Range element, ColumnText& column,
                              ColumnDefinition& definition) const;
  std::size_t ParseColumnAttribute(std::size_t j, std::size_t elementEnd, std::string& pendingName,
                                   ColumnText& column, ColumnDefinition& definition, TableText& table) const;
  std::size_t ParseIdentity(std::size_t j, std::size_t elementEnd, const ColumnText& column,
                            ColumnDefinition& definition) const;
  std::size_t ParseReference(std::size_t j, std::size_t elementEnd, ColumnText& column) const;
  void ResolvePrimaryKey(TableText& table, std::int32_t line) const;
  static std::string CreateTableSql(const TableText& table);
  static void AddTableCompanions(const TableText& table);
  static void AddNumberTriggers(CreateTableDefinition& def);

  std::vector<Token> t_;
  BatchTokenizer* tokenizer_ = nullptr;
  std::size_t tokensAtOnce_ = 0;
  static constexpr int kMaxNestingDepth = 128;
  int nestingDepth_ = 0;
  // The variables declared so far, with their types: text variables compare under the database collation,
  // and arithmetic on them is typed.
  std::map<std::string, TypeInfo> declared_;
  ColumnCatalog catalog_;
  // The tables this batch creates, for the types of their columns before they exist.
  std::map<std::string, ColumnTypes> createdInBatch_;
  // The names declared, in order, so that a statement translated again can take its declarations back.
  std::vector<std::string> newlyDeclared_;
};

}  // namespace closewright::sqlite::translation
