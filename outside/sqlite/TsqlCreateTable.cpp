#include <algorithm>

#include "outside/Text.h"
#include "outside/sqlite/DateFunctions.h"
#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

namespace {

std::string JoinLower(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& n : names) {
    if (!joined.empty()) joined += ",";
    joined += ToLowerAscii(n);
  }
  return joined;
}

}  // namespace

Statement Translator::ParseCreateTable(std::size_t begin, std::size_t end) {
  Statement s{};
  s.kind = StatementKind::CreateTable;
  s.line = t_[begin].line;
  std::size_t i = begin + 2;
  const ObjectName target = ParseObjectName(i);
  TableText table;
  table.end = end;
  table.definition = std::make_shared<CreateTableDefinition>();
  table.definition->table = target.name;
  table.definition->temporary = target.temporary;
  if (!At(i).IsPunct('(')) throw SyntaxError(Emit(At(i)), LineAt(i));
  const std::size_t close = MatchParen(i, end);
  // Trailing storage clauses (ON [PRIMARY], TEXTIMAGE_ON ...) do not matter here.
  for (std::size_t j = close + 1; j < end; ++j) {
    if (!(t_[j].IsWord("ON") || t_[j].IsWord("TEXTIMAGE_ON") || IsNameToken(t_[j]))) {
      throw SyntaxError(Emit(t_[j]), t_[j].line);
    }
  }
  for (const Range& element : SplitAtCommas(i, close, false)) {
    std::size_t j = element.first;
    if (!ParseTableConstraint(j, element.second, table)) ParseColumn(j, element, table);
  }
  if (table.columns.empty()) throw SyntaxError(")", s.line);
  ResolvePrimaryKey(table, s.line);
  ColumnTypes& types = createdInBatch_[ToLowerAscii(target.name)];
  types.clear();
  for (const ColumnDefinition& column : table.definition->columns)
    types.emplace_back(column.name, column.type);
  table.definition->sql.push_back(CreateTableSql(table));
  AddTableCompanions(table);
  s.table = table.definition->table;
  s.create = std::move(table.definition);
  return s;
}

// The expression after DEFAULT: a parenthesised expression, a function call, a signed number or one token.
std::size_t Translator::DefaultEnd(std::size_t i, std::size_t limit) const {
  if (At(i).IsPunct('(')) return MatchParen(i, limit) + 1;
  if ((At(i).IsOperator("-") || At(i).IsOperator("+")) && At(i + 1).kind == TokenKind::Number) return i + 2;
  if (At(i).kind == TokenKind::Word && At(i + 1).IsPunct('(')) return MatchParen(i + 1, limit) + 1;
  return i + 1;
}

std::size_t Translator::SkipIndexOptions(std::size_t j, std::size_t elementEnd) const {
  while (j < elementEnd && (t_[j].IsWord("CLUSTERED") || t_[j].IsWord("NONCLUSTERED"))) ++j;
  return j;
}

// The column list in parentheses at `open`, as SQLite text; the names go to `names`.
std::string Translator::ColumnListAt(std::size_t open, std::size_t limit,
                                     std::vector<std::string>& names) const {
  const std::size_t closeList = MatchParen(open, limit);
  std::string text = "(";
  for (std::size_t j = open + 1; j < closeList; ++j) {
    const Token& t = t_[j];
    if (t.IsPunct(',')) {
      text += ", ";
    } else if (t.IsWord("ASC") || t.IsWord("DESC")) {
      continue;
    } else if (t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName) {
      names.push_back(t.text);
      text += QuoteName(t.text);
    } else {
      throw SyntaxError(Emit(t), t.line);
    }
  }
  return text + ")";
}

// A table-level PRIMARY KEY, UNIQUE, CHECK or FOREIGN KEY; false for a column. A CONSTRAINT name before
// either is read here and passed over.
bool Translator::ParseTableConstraint(std::size_t& j, std::size_t elementEnd, TableText& table) const {
  CreateTableDefinition& def = *table.definition;
  std::string constraintName;
  if (t_[j].IsWord("CONSTRAINT")) {
    if (!IsNameToken(At(j + 1))) throw SyntaxError("CONSTRAINT", t_[j].line);
    constraintName = t_[j + 1].text;
    j += 2;
  }
  if (!(t_[j].IsWord("PRIMARY") || t_[j].IsWord("UNIQUE") || t_[j].IsWord("CHECK") ||
        t_[j].IsWord("FOREIGN")))
    return false;
  const bool primary = t_[j].IsWord("PRIMARY");
  if (t_[j].IsWord("CHECK")) {
    if (!At(j + 1).IsPunct('(')) throw SyntaxError("CHECK", t_[j].line);
    const std::size_t ce = MatchParen(j + 1, elementEnd);
    if (constraintName.empty()) constraintName = "CK_" + def.table;
    table.tableConstraints.push_back("CONSTRAINT " + QuoteName(constraintName) + " CHECK (" +
                                     Translate(j + 2, ce) + ")");
    def.constraints.push_back({constraintName, "CK", ""});
    return true;
  }
  if (t_[j].IsWord("FOREIGN")) {
    // SQL Server keeps no foreign key on a temporary table: it creates the table and says so with the
    // informational message 1756, "Skipping FOREIGN KEY constraint ... FOREIGN KEY constraints are not
    // enforced on local or global temporary tables" (learn.microsoft.com "Database engine events and
    // errors"). A reference to a permanent table would otherwise fail each insert here.
    if (!def.temporary) table.tableConstraints.push_back(Translate(j, elementEnd));
    return true;
  }
  j += primary ? 2 : 1;
  j = SkipIndexOptions(j, elementEnd);
  if (!At(j).IsPunct('(')) throw SyntaxError(Emit(At(j)), LineAt(j));
  std::vector<std::string> names;
  const std::string listText = ColumnListAt(j, table.end, names);
  if (primary) {
    table.primaryKeyColumns = names;
    table.primaryKeyName = constraintName.empty() ? "PK_" + def.table : constraintName;
  } else {
    if (constraintName.empty()) constraintName = "UQ_" + def.table + "_" + JoinLower(names);
    table.tableConstraints.push_back("CONSTRAINT " + QuoteName(constraintName) + " UNIQUE " + listText);
    def.constraints.push_back({constraintName, "UQ", JoinLower(names)});
  }
  return true;
}

void Translator::ParseColumn(std::size_t j, Range element, TableText& table) const {
  const auto [eb, ee] = element;
  CreateTableDefinition& def = *table.definition;
  ColumnText column;
  ColumnDefinition definition;
  if (t_[j].kind != TokenKind::Word && t_[j].kind != TokenKind::QuotedName)
    throw SyntaxError(Emit(t_[j]), t_[j].line);
  column.name = t_[j].text;
  definition.name = column.name;
  j = ParseColumnType(j + 1, element, column, definition);
  std::string pendingName;
  while (j < ee) j = ParseColumnAttribute(j, ee, pendingName, column, definition, table);
  if (definition.identity) {
    if (!def.identityColumn.empty()) {
      throw TsqlError{2744, "42000",
                      "Multiple identity columns specified for table '" + def.table +
                          "'. Only one identity column per table is allowed.",
                      t_[eb].line};
    }
    def.identityColumn = definition.name;
    def.seed = definition.seed;
    def.increment = definition.increment;
    column.notNull = true;
  }
  table.columns.push_back(std::move(column));
  def.columns.push_back(std::move(definition));
}

// The column's type at `j`; returns where its attributes begin.
std::size_t Translator::ParseColumnType(std::size_t j, Range element, ColumnText& column,
                                        ColumnDefinition& definition) const {
  const auto [eb, ee] = element;
  // A type name may be delimited, as [int] or [varchar](20).
  const bool named = At(j).kind == TokenKind::Word || At(j).kind == TokenKind::QuotedName;
  if (!named || j >= ee) throw SyntaxError(column.name, t_[eb].line);
  std::string typeText = ToUpperAscii(t_[j].text);
  const std::int32_t typeLine = t_[j].line;
  ++j;
  if (j < ee && t_[j].IsPunct('(')) {
    const std::size_t ce = MatchParen(j, ee);
    typeText += "(";
    for (std::size_t k = j + 1; k < ce; ++k) typeText += ToUpperAscii(t_[k].text);
    typeText += ")";
    j = ce + 1;
  }
  definition.type = TypeFromDeclaration(typeText);
  if (definition.type.kind == ValueKind::Other) throw Unsupported("the data type " + typeText, typeLine);
  // The declared type stays in the schema (the session reads it back), followed where needed by a word
  // that gives SQLite the storage SQL Server's type needs: dates as text, decimals always as real numbers
  // (so that 10 / 3 on decimal columns is not an integer division).
  column.declared = typeText;
  // SQLite reads only numbers in a type's parentheses: VARCHAR(MAX) is kept as VARCHAR MAX.
  if (const auto max = column.declared.find("(MAX)"); max != std::string::npos)
    column.declared.replace(max, 5, " MAX");
  // SQLite takes precision and scale only after the last word: DECIMAL REAL(28,10), DATETIME2 TEXT(3).
  auto storageWord = [&](const char* word) {
    const auto open = column.declared.find('(');
    column.declared.insert(open == std::string::npos ? column.declared.size() : open, word);
  };
  if (definition.type.kind == ValueKind::DateTime) storageWord(" TEXT");
  if (definition.type.kind == ValueKind::Decimal && !definition.identity) storageWord(" REAL");
  if (definition.type.kind == ValueKind::Text) column.collation = "CI";
  if (definition.type.date) column.collation = DateCollation(*definition.type.date);
  return j;
}

// One attribute of a column (IDENTITY, NULL, DEFAULT, a constraint, ...) at `j`; returns where the next
// begins. A CONSTRAINT name waits in `pendingName` for the constraint it names.
std::size_t Translator::ParseColumnAttribute(std::size_t j, std::size_t ee, std::string& pendingName,
                                             ColumnText& column, ColumnDefinition& definition,
                                             TableText& table) const {
  CreateTableDefinition& def = *table.definition;
  const Token& t = t_[j];
  if (t.IsWord("IDENTITY")) return ParseIdentity(j, ee, column, definition);
  if (t.IsWord("NOT") && At(j + 1).IsWord("NULL")) {
    column.notNull = true;
    return j + 2;
  }
  if (t.IsWord("NULL")) return j + 1;
  if (t.IsWord("CONSTRAINT") && IsNameToken(At(j + 1))) {
    pendingName = t_[j + 1].text;
    return j + 2;
  }
  if (t.IsWord("DEFAULT")) {
    const std::size_t de = DefaultEnd(j + 1, ee);
    column.defaultSql = "DEFAULT (" + Translate(j + 1, de) + ")";
    pendingName.clear();
    return de;
  }
  if (t.IsWord("PRIMARY") && At(j + 1).IsWord("KEY")) {
    column.primaryKey = true;
    column.primaryKeyName = pendingName.empty() ? "PK_" + def.table : pendingName;
    pendingName.clear();
    return SkipIndexOptions(j + 2, ee);
  }
  if (t.IsWord("UNIQUE")) {
    const std::string name =
        pendingName.empty() ? "UQ_" + def.table + "_" + ToLowerAscii(column.name) : pendingName;
    column.extras.push_back("CONSTRAINT " + QuoteName(name) + " UNIQUE");
    def.constraints.push_back({name, "UQ", ToLowerAscii(column.name)});
    pendingName.clear();
    return SkipIndexOptions(j + 1, ee);
  }
  if (t.IsWord("CHECK") && At(j + 1).IsPunct('(')) {
    const std::size_t ce = MatchParen(j + 1, ee);
    const std::string name = pendingName.empty() ? "CK_" + def.table + "_" + column.name : pendingName;
    column.extras.push_back("CONSTRAINT " + QuoteName(name) + " CHECK (" + Translate(j + 2, ce) + ")");
    def.constraints.push_back({name, "CK", ToLowerAscii(column.name)});
    pendingName.clear();
    return ce + 1;
  }
  if (t.IsWord("COLLATE") && At(j + 1).kind == TokenKind::Word) {
    if (definition.type.kind == ValueKind::Text) {
      const std::string collation = ToUpperAscii(t_[j + 1].text);
      column.collation =
          (collation.find("_CS_") != std::string::npos || collation.find("_BIN") != std::string::npos)
              ? "RTRIM"
              : "CI";
    }
    return j + 2;
  }
  if (t.IsWord("REFERENCES")) {
    const std::size_t next = ParseReference(j, ee, column);
    if (table.definition->temporary) column.extras.pop_back();  // as for FOREIGN KEY, above
    return next;
  }
  throw Unsupported("the column attribute " + ToUpperAscii(t.text), t.line);
}

std::size_t Translator::ParseIdentity(std::size_t j, std::size_t ee, const ColumnText& column,
                                      ColumnDefinition& definition) const {
  const Token& t = t_[j];
  definition.identity = true;
  ++j;
  if (At(j).IsPunct('(')) {
    const std::size_t ce = MatchParen(j, ee);
    std::vector<std::string> numbers;
    std::string current;
    for (std::size_t k = j + 1; k < ce; ++k) {
      if (t_[k].IsPunct(',')) {
        numbers.push_back(current);
        current.clear();
      } else {
        current += t_[k].text;
      }
    }
    numbers.push_back(current);
    if (numbers.size() != 2) throw SyntaxError("IDENTITY", t.line);
    definition.seed = ParseInteger(numbers[0], t.line);
    definition.increment = ParseInteger(numbers[1], t.line);
    if (definition.increment == 0) throw SyntaxError("IDENTITY", t.line);
    j = ce + 1;
  }
  if (definition.type.kind != ValueKind::Integer &&
      !(definition.type.kind == ValueKind::Decimal && definition.type.scale == 0)) {
    throw TsqlError{2749, "42000",
                    "Identity column '" + column.name +
                        "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric with a "
                        "scale of 0, and constrained to be nonnullable.",
                    t.line};
  }
  return j;
}

// Enforced as SQL Server does, cascades included: a delete of a header takes its lines along.
std::size_t Translator::ParseReference(std::size_t j, std::size_t ee, ColumnText& column) const {
  std::size_t k = j + 1;
  const ObjectName parent = ParseObjectName(k);
  std::string reference = "REFERENCES " + QuoteName(parent.name);
  if (At(k).IsPunct('(')) {
    const std::size_t referenceEnd = MatchParen(k, ee);
    std::string referenced;
    for (std::size_t c = k + 1; c < referenceEnd; ++c) {
      if (t_[c].IsPunct(',')) {
        referenced += ", ";
      } else if (IsNameToken(t_[c])) {
        referenced += QuoteName(t_[c].text);
      } else {
        throw SyntaxError(Emit(t_[c]), t_[c].line);
      }
    }
    reference += " (" + referenced + ")";
    k = referenceEnd + 1;
  }
  while (k < ee && (t_[k].IsWord("ON") || t_[k].IsWord("DELETE") || t_[k].IsWord("UPDATE") ||
                    t_[k].IsWord("CASCADE") || t_[k].IsWord("NO") || t_[k].IsWord("ACTION") ||
                    t_[k].IsWord("SET") || t_[k].IsWord("NULL") || t_[k].IsWord("DEFAULT"))) {
    reference += ' ';
    reference += ToUpperAscii(t_[k].text);
    ++k;
  }
  column.extras.push_back(reference);
  return k;
}

// Primary key: column-level or table-level; an identity column alone in it becomes SQLite's rowid.
void Translator::ResolvePrimaryKey(TableText& table, std::int32_t line) const {
  CreateTableDefinition& def = *table.definition;
  for (const ColumnText& c : table.columns) {
    if (c.primaryKey) {
      if (!table.primaryKeyColumns.empty()) {
        throw TsqlError{8110, "42000",
                        "Cannot add multiple PRIMARY KEY constraints to table '" + def.table + "'.", line};
      }
      table.primaryKeyColumns = {c.name};
      table.primaryKeyName = c.primaryKeyName;
    }
  }
  table.rowidIdentity = !def.identityColumn.empty() && table.primaryKeyColumns.size() == 1 &&
                        EqualsIgnoringCase(table.primaryKeyColumns[0], def.identityColumn);
  if (!table.primaryKeyColumns.empty())
    def.constraints.push_back({table.primaryKeyName, "PK", JoinLower(table.primaryKeyColumns)});
}

std::string Translator::CreateTableSql(const TableText& table) {
  const CreateTableDefinition& def = *table.definition;
  const std::vector<ColumnText>& columns = table.columns;
  const std::vector<std::string>& primaryKeyColumns = table.primaryKeyColumns;
  const std::string qualified = (def.temporary ? "temp." : "") + QuoteName(def.table);
  std::string sql = "CREATE TABLE " + qualified + " (";
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const ColumnText& c = columns[k];
    const ColumnDefinition& d = def.columns[k];
    if (k > 0) sql += ", ";
    sql += QuoteName(c.name) + " ";
    const bool isRowid = table.rowidIdentity && d.identity;
    sql += isRowid ? std::string("INTEGER") : c.declared;
    if (isRowid) sql += " CONSTRAINT " + QuoteName(table.primaryKeyName) + " PRIMARY KEY";
    const bool inPrimaryKey =
        std::any_of(primaryKeyColumns.begin(), primaryKeyColumns.end(),
                    [&](const std::string& n) { return EqualsIgnoringCase(n, c.name); });
    if (c.notNull || inPrimaryKey) sql += " NOT NULL";
    if (!c.defaultSql.empty() && !d.identity) sql += " " + c.defaultSql;
    if (!c.collation.empty()) sql += " COLLATE " + c.collation;
    for (const std::string& extra : c.extras) sql += " " + extra;
  }
  if (!primaryKeyColumns.empty() && !table.rowidIdentity) {
    sql += ", CONSTRAINT " + QuoteName(table.primaryKeyName) + " PRIMARY KEY (";
    for (std::size_t k = 0; k < primaryKeyColumns.size(); ++k) {
      if (k > 0) sql += ", ";
      sql += QuoteName(primaryKeyColumns[k]);
    }
    sql += ")";
  }
  for (const std::string& constraint : table.tableConstraints) sql += ", " + constraint;
  // What SQLite does not check by itself: text lengths and numbers given as text.
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const ColumnText& c = columns[k];
    const ColumnDefinition& d = def.columns[k];
    const std::string q = QuoteName(c.name);
    if (d.type.kind == ValueKind::Text && d.type.length > 0) {
      sql += ", CONSTRAINT " + QuoteName("cw_length:" + c.name) + " CHECK (length(" + q +
             ") <= " + std::to_string(d.type.length) + ")";
    }
    if (!d.identity && (d.type.kind == ValueKind::Integer || d.type.kind == ValueKind::Bit ||
                        d.type.kind == ValueKind::Decimal || d.type.kind == ValueKind::Float)) {
      const char* kind = d.type.kind == ValueKind::Integer ? "int"
                         : d.type.kind == ValueKind::Bit   ? "bit"
                                                           : "numeric";
      sql += ", CONSTRAINT " + QuoteName("cw_number:" + c.name) + " CHECK (typeof(" + q +
             ") <> 'text' OR cw_check_number(" + q + ", '" + kind + "'))";
    }
  }
  sql += ")";
  return sql;
}

// Exact numbers are stored as SQL Server stores them: rounded to the column's scale, integers truncated and
// range-checked, bit as 0 or 1. SQLite has no conversion of its own to hook, so a trigger converts the rows
// whose values are not yet in stored form, and its check raises the overflow a value meets. An INSERT
// converts its values in its own text instead (SqliteSession::StoringInsert). Identity values
// are the engine's own and need none.
void Translator::AddNumberTriggers(CreateTableDefinition& def) {
  std::string types;
  std::string values;
  std::string set;
  std::string updateOf;
  for (const ColumnDefinition& d : def.columns) {
    if (!d.type.numeric || d.identity) continue;
    const std::string q = QuoteName(d.name);
    const std::string declaration = DeclarationOf(*d.type.numeric);
    const std::string separator = types.empty() ? "" : ", ";
    types += (types.empty() ? "" : "|") + declaration;
    values += ", NEW." + q;
    set += separator + q + " = cw_convert_number(" + q + ", '" + declaration + "')";
    updateOf += separator + q;
  }
  if (types.empty()) return;
  const std::string triggerPrefix = std::string(def.temporary ? "CREATE TEMP TRIGGER " : "CREATE TRIGGER ");
  const std::string body = " WHEN cw_numbers_unstored('" + types + "'" + values + ") BEGIN UPDATE " +
                           QuoteName(def.table) + " SET " + set + " WHERE rowid = NEW.rowid; END";
  def.sql.push_back(triggerPrefix + QuoteName(def.table + ".cw_numbers_update") + " AFTER UPDATE OF " +
                    updateOf + " ON " + QuoteName(def.table) + body);
}

// The indexes and triggers that go with the table.
void Translator::AddTableCompanions(const TableText& table) {
  CreateTableDefinition& def = *table.definition;
  if (!def.identityColumn.empty() && !table.rowidIdentity) {
    def.sql.push_back("CREATE INDEX " + std::string(def.temporary ? "temp." : "") +
                      QuoteName(def.table + ".cw_identity") + " ON " + QuoteName(def.table) + "(" +
                      QuoteName(def.identityColumn) + ")");
  }
  if (def.temporary) {
    // Temporary work tables are joined and probed by every column; without indexes SQLite would scan them
    // once per outer row.
    for (const ColumnDefinition& d : def.columns) {
      if (table.rowidIdentity && d.identity) continue;
      def.sql.push_back("CREATE INDEX temp." + QuoteName(def.table + ".cw_column:" + d.name) + " ON " +
                        QuoteName(def.table) + "(" + QuoteName(d.name) + ")");
    }
  }
  AddNumberTriggers(def);
  // Dates are stored in their type's one text form (rounded to its precision) so that they sort and compare
  // as dates. A DATETIME column calls the functions without a type, as every date column of older files
  // does.
  std::string when;
  std::string set;
  std::string updateOf;
  for (const ColumnDefinition& d : def.columns) {
    if (!d.type.date) continue;
    const std::string type =
        d.type.date->kind == DateKind::DateTime ? "" : ", " + QuoteSqlText(d.type.date->Declaration());
    const std::string separator = when.empty() ? "" : ", ";
    when += (when.empty() ? "" : " OR ") + std::string("cw_datetime_needs_canonical(NEW.") +
            QuoteName(d.name) + type + ")";
    set += separator + QuoteName(d.name) + " = cw_datetime(" + QuoteName(d.name) + type + ")";
    updateOf += separator + QuoteName(d.name);
  }
  if (when.empty()) return;
  const std::string triggerPrefix = std::string(def.temporary ? "CREATE TEMP TRIGGER " : "CREATE TRIGGER ");
  const std::string body = " WHEN " + when + " BEGIN UPDATE " + QuoteName(def.table) + " SET " + set +
                           " WHERE rowid = NEW.rowid; END";
  def.sql.push_back(triggerPrefix + QuoteName(def.table + ".cw_dates_insert") + " AFTER INSERT ON " +
                    QuoteName(def.table) + body);
  def.sql.push_back(triggerPrefix + QuoteName(def.table + ".cw_dates_update") + " AFTER UPDATE OF " +
                    updateOf + " ON " + QuoteName(def.table) + body);
}

}  // namespace closewright::sqlite::translation
