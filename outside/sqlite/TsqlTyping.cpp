// SQL Server types every expression before it runs it: an operation's result type follows from its operands'
// types (learn.microsoft.com "Precision, scale, and length (Transact-SQL)", "Data type precedence
// (Transact-SQL)"), and the value is computed at that type. SQLite keeps no such types: it adds doubles and
// 64-bit integers. Here the translated tokens of a statement are typed from what is declared (literals,
// variables, the columns of the tables the statement names), and an operation whose operand types are known
// becomes a call that computes at SQL Server's result type: `1/3.0` is 0.333333, `0.1 + 0.2 - 0.3` is 0.0,
// int arithmetic overflows at 32 bits, `'a' + col` between text columns joins them. A CASE and a derived
// table's columns are typed from their results and select list. An operand whose type cannot be told (a
// derived table with a `*`, a function not listed here) leaves its operation to SQLite, as before.

#include <algorithm>
#include <optional>

#include "outside/Text.h"
#include "outside/sqlite/FunctionCatalogue.h"
#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

namespace {

using Type = std::optional<TypeInfo>;

bool IsExact(const Type& t) {
  return t && t->numeric &&
         (t->kind == ValueKind::Integer || t->kind == ValueKind::Bit || t->kind == ValueKind::Decimal);
}
bool IsText(const Type& t) {
  return t && t->kind == ValueKind::Text;
}

TypeInfo FromNumeric(NumericType numeric) {
  TypeInfo info;
  if (numeric.kind == NumericKind::Real || numeric.kind == NumericKind::Float) {
    info.kind = ValueKind::Float;
    return info;
  }
  info.kind = numeric.kind == NumericKind::Bit ? ValueKind::Bit
              : numeric.IsInteger()            ? ValueKind::Integer
                                               : ValueKind::Decimal;
  info.scale = numeric.scale;
  info.numeric = numeric;
  return info;
}

TypeInfo TextType(std::int32_t length) {
  TypeInfo info;
  info.kind = ValueKind::Text;
  info.length = length;
  return info;
}

bool SameType(const TypeInfo& a, const TypeInfo& b) {
  if (a.kind != b.kind || a.length != b.length || a.numeric.has_value() != b.numeric.has_value())
    return false;
  return !a.numeric || (a.numeric->kind == b.numeric->kind && a.numeric->precision == b.numeric->precision &&
                        a.numeric->scale == b.numeric->scale);
}

Type DeclaredType(std::string_view declaration) {
  const auto numeric = ExactNumericTypeOf(declaration);
  if (!numeric) return std::nullopt;
  return FromNumeric(*numeric);
}

// The type of a literal of many digits, translated into one word: cw_convert_number('...', 'DECIMAL(p,s)').
Type ConversionCallType(std::string_view call) {
  if (call.size() < 4 || call.substr(call.size() - 2) != "')") return std::nullopt;
  const std::string_view inner = call.substr(0, call.size() - 2);
  const std::size_t quote = inner.rfind('\'');
  return quote == std::string_view::npos ? std::nullopt : DeclaredType(inner.substr(quote + 1));
}

// The type declaration a typed call carries as its last argument: cw_add(a, b, 'DECIMAL(5,2)').
Type TrailingDeclaration(const std::vector<Token>& v, std::size_t close) {
  if (close < 2 || v[close - 1].kind != TokenKind::String || !v[close - 2].IsPunct(',')) return std::nullopt;
  return DeclaredType(v[close - 1].text);
}

constexpr std::string_view kClauseWords[] = {
    "WHERE", "GROUP",    "ORDER",  "HAVING", "UNION",  "EXCEPT", "INTERSECT", "ON",      "JOIN",
    "INNER", "LEFT",     "RIGHT",  "FULL",   "OUTER",  "CROSS",  "SET",       "AS",      "WITH",
    "LIMIT", "FROM",     "SELECT", "VALUES", "OPTION", "WHEN",   "THEN",      "ELSE",    "END",
    "AND",   "OR",       "NOT",    "IS",     "NULL",   "IN",     "LIKE",      "BETWEEN", "EXISTS",
    "CASE",  "DISTINCT", "ALL",    "TOP",    "BY",     "INTO"};

bool IsNameLike(const Token& t) {
  return t.kind == TokenKind::QuotedName || t.kind == TokenKind::TempName ||
         (t.kind == TokenKind::Word && !InList(t.text, kClauseWords));
}

enum class Operation { Add, Subtract, Multiply, Other };

Operation OperationOf(const Token& t) {
  if (t.kind != TokenKind::Operator) return Operation::Other;
  if (t.text == "+") return Operation::Add;
  if (t.text == "-") return Operation::Subtract;
  if (t.text == "*") return Operation::Multiply;
  return Operation::Other;
}

bool IsArithmetic(const Token& t) {
  return t.kind == TokenKind::Operator && (t.text == "+" || t.text == "-" || t.text == "*" || t.text == "/" ||
                                           t.text == "%" || t.text == "&" || t.text == "|" || t.text == "^");
}

bool IsBinaryAt(const std::vector<Token>& v, std::size_t i) {
  return i > 0 && IsArithmetic(v[i]) && EndsOperand(v[i - 1]);
}

class Typer {
 public:
  Typer(std::vector<Token>& tokens, const TypeSources& sources) : v_(tokens), sources_(sources) {
    FindTables();
  }

  void Run() {
    TypeDivisions();
    TypeOperators();
    TypeFunctions();
  }

  std::vector<Type> TypesOf(const std::vector<std::pair<std::size_t, std::size_t>>& ranges) const {
    std::vector<Type> types;
    for (const auto& [begin, end] : ranges) types.push_back(TypeOf(begin, end));
    return types;
  }

  std::vector<ResultColumn> DescribeSelectList() const {
    std::size_t i = 0;
    if (i < v_.size() && v_[i].IsWord("SELECT")) ++i;
    if (i < v_.size() && (v_[i].IsWord("DISTINCT") || v_[i].IsWord("ALL"))) ++i;
    const auto [items, combined] = SelectItems(i);
    std::vector<ResultColumn> columns;
    for (const auto& [begin, end] : items) {
      if (begin >= end) return {};
      ResultColumn column;
      if (IsStar(begin, end)) {
        column.star = true;
        columns.push_back(std::move(column));
        continue;
      }
      std::size_t expressionEnd = end;
      if (end - begin >= 2 && IsAlias(v_[end - 1])) {
        if (v_[end - 2].IsWord("AS")) {
          expressionEnd = end - 2;
        } else if (EndsOperand(v_[end - 2]) && !v_[end - 2].IsPunct('.')) {
          expressionEnd = end - 1;  // `expr alias`
        }
      }
      // A column named alone keeps its name; anything else unaliased is nameless on the server.
      column.unnamed = expressionEnd == end && !IsColumnReference(begin, end);
      if (!column.unnamed) column.name = v_[end - 1].text;
      if (!combined) column.type = TypeOf(begin, expressionEnd);
      columns.push_back(std::move(column));
    }
    return columns;
  }

 private:
  struct TableInScope {
    std::string name;
    std::string alias;
    const ColumnTypes* columns = nullptr;
    // A derived table: its columns as its select list names and types them.
    std::optional<std::vector<std::pair<std::string, Type>>> selected;
  };
  struct Lookup {
    bool found = false;
    Type type;
  };

  // ---- the tables the statement names ----

  const ColumnTypes* ColumnsOf(const std::string& table) const {
    if (sources_.createdInBatch != nullptr) {
      const auto found = sources_.createdInBatch->find(ToLowerAscii(table));
      if (found != sources_.createdInBatch->end()) return &found->second;
    }
    return sources_.catalog != nullptr && *sources_.catalog ? (*sources_.catalog)(table) : nullptr;
  }

  // The select list of the query between `begin` and `end`, as the columns of a table: nullopt when one of
  // them has no name or is a `*`, whose columns the tokens do not tell.
  std::optional<std::vector<std::pair<std::string, Type>>> SelectedColumns(std::size_t begin,
                                                                           std::size_t end) const {
    std::vector<Token> query(v_.begin() + static_cast<std::ptrdiff_t>(begin),
                             v_.begin() + static_cast<std::ptrdiff_t>(end));
    TypeSources inner = sources_;
    inner.target.clear();
    std::vector<std::pair<std::string, Type>> columns;
    for (ResultColumn& column : Typer(query, inner).DescribeSelectList()) {
      if (column.star || column.name.empty()) return std::nullopt;
      columns.emplace_back(std::move(column.name), std::move(column.type));
    }
    if (columns.empty()) return std::nullopt;
    return columns;
  }

  // The alias after a table reference that ends before `j`, or empty.
  std::string AliasAt(std::size_t j) const {
    if (j < v_.size() && v_[j].IsWord("AS")) ++j;
    if (j < v_.size() && IsNameLike(v_[j]) && !v_[j].IsPunct('(')) return v_[j].text;
    return {};
  }

  // The names after FROM, JOIN and the commas of a FROM list, with their aliases, and the derived tables
  // there. A table whose columns cannot be told hides which table an unqualified name belongs to: then
  // only qualified names of the others are typed.
  void FindTables() {
    if (!sources_.target.empty())
      tables_.push_back({sources_.target, {}, ColumnsOf(sources_.target), std::nullopt});
    std::vector<int> fromDepths;
    int depth = 0;
    for (std::size_t i = 0; i < v_.size(); ++i) {
      const Token& t = v_[i];
      if (t.IsPunct('(')) ++depth;
      if (t.IsPunct(')')) {
        --depth;
        while (!fromDepths.empty() && fromDepths.back() > depth) fromDepths.pop_back();
      }
      const bool inFromList = !fromDepths.empty() && fromDepths.back() == depth;
      if (inFromList && t.kind == TokenKind::Word && InList(t.text, kClauseWords) && !t.IsWord("JOIN") &&
          !t.IsWord("AS") && !t.IsWord("INNER") && !t.IsWord("LEFT") && !t.IsWord("RIGHT") &&
          !t.IsWord("FULL") && !t.IsWord("OUTER") && !t.IsWord("CROSS")) {
        fromDepths.pop_back();
      }
      const bool startsReference = t.IsWord("FROM") || t.IsWord("JOIN") || (inFromList && t.IsPunct(','));
      if (t.IsWord("FROM")) fromDepths.push_back(depth);
      if (!startsReference || i + 1 >= v_.size()) continue;
      if (v_[i + 1].IsPunct('(')) {
        const std::size_t close = MatchForward(v_, i + 1);
        TableInScope derived{{}, AliasAt(close + 1), nullptr, std::nullopt};
        // `(query) AS d (columns)` renames its columns: left untyped.
        const bool renamed = close + 2 < v_.size() && v_[close + 2].IsPunct('(');
        if (i + 2 < close && v_[i + 2].IsWord("SELECT") && !derived.alias.empty() && !renamed)
          derived.selected = SelectedColumns(i + 2, close);
        tables_.push_back(std::move(derived));
        continue;
      }
      if (!IsNameLike(v_[i + 1])) continue;
      TableInScope table{v_[i + 1].text, AliasAt(i + 2), ColumnsOf(v_[i + 1].text), std::nullopt};
      tables_.push_back(std::move(table));
    }
  }

  static Lookup ColumnIn(const TableInScope& table, std::string_view column) {
    if (table.selected) {
      for (const auto& [name, type] : *table.selected) {
        if (EqualsIgnoringCase(name, column)) return {true, type};
      }
      return {};
    }
    if (table.columns == nullptr) return {};
    for (const auto& [name, type] : *table.columns) {
      if (EqualsIgnoringCase(name, column)) return {true, type};
    }
    return {};
  }

  Type QualifiedColumn(std::string_view qualifier, std::string_view column) const {
    for (const TableInScope& table : tables_) {
      if (EqualsIgnoringCase(table.alias.empty() ? table.name : table.alias, qualifier))
        return ColumnIn(table, column).type;
    }
    return std::nullopt;
  }

  // An unqualified name is typed when every table that has such a column gives it the same type.
  Type UnqualifiedColumn(std::string_view column) const {
    Type found;
    for (const TableInScope& table : tables_) {
      if (table.columns == nullptr && !table.selected)
        return std::nullopt;  // one we cannot see might have it
      const Lookup lookup = ColumnIn(table, column);
      if (!lookup.found) continue;
      if (!lookup.type || (found && !SameType(*found, *lookup.type))) return std::nullopt;
      found = lookup.type;
    }
    return found;
  }

  // ---- the select list ----

  // The ranges of the items of the select list from `listStart`, and whether a set operator combines it
  // with another list (the first list names the columns; their types are the lists' combined types).
  std::pair<std::vector<std::pair<std::size_t, std::size_t>>, bool> SelectItems(std::size_t listStart) const {
    static constexpr std::string_view kListEnds[] = {"FROM",  "WHERE",  "GROUP",     "ORDER", "HAVING",
                                                     "UNION", "EXCEPT", "INTERSECT", "LIMIT", "OPTION"};
    std::vector<std::pair<std::size_t, std::size_t>> items;
    std::size_t start = listStart;
    std::size_t j = listStart;
    int depth = 0;
    for (; j < v_.size(); ++j) {
      if (v_[j].IsPunct('(')) ++depth;
      if (v_[j].IsPunct(')')) --depth;
      if (depth != 0) continue;
      if (v_[j].kind == TokenKind::Word && InList(v_[j].text, kListEnds)) break;
      if (v_[j].IsPunct(',')) {
        items.emplace_back(start, j);
        start = j + 1;
      }
    }
    items.emplace_back(start, j);
    bool combined = false;
    for (; j < v_.size(); ++j) {
      if (v_[j].IsPunct('(')) ++depth;
      if (v_[j].IsPunct(')')) --depth;
      if (depth == 0 && (v_[j].IsWord("UNION") || v_[j].IsWord("EXCEPT") || v_[j].IsWord("INTERSECT")))
        combined = true;
    }
    return {std::move(items), combined};
  }

  bool IsStar(std::size_t begin, std::size_t end) const {
    return v_[end - 1].text == "*" && (end - begin == 1 || v_[end - 2].IsPunct('.'));
  }

  // A word that is a name and not a call, a keyword or a translated function (`cw_getdate()`, `COLLATE CI`).
  static bool IsPlainName(const Token& t) {
    if (t.kind == TokenKind::QuotedName) return true;
    return t.kind == TokenKind::Word && IsNameLike(t) && !t.text.empty() && !IsDigit(t.text.front()) &&
           t.text.find_first_of("( ") == std::string::npos;
  }
  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsAlias(const Token& t) { return IsPlainName(t) || t.kind == TokenKind::String; }

  bool IsColumnReference(std::size_t begin, std::size_t end) const {
    if (end - begin == 1) return IsPlainName(v_[begin]);
    return end - begin == 3 && IsPlainName(v_[begin]) && v_[begin + 1].IsPunct('.') &&
           IsPlainName(v_[begin + 2]);
  }

  // ---- the type of a range of tokens ----

  Type TypeOf(std::size_t begin, std::size_t end, int depth = 0) const {
    if (begin >= end || depth > 64) return std::nullopt;
    if (v_[begin].IsPunct('(') && MatchForward(v_, begin) == end - 1)
      return TypeOf(begin + 1, end - 1, depth + 1);
    // The operator that applies last: the rightmost of the lowest precedence, outside parentheses.
    std::size_t additive = end;
    std::size_t multiplicative = end;
    int level = 0;
    for (std::size_t i = begin; i < end; ++i) {
      const Token& t = v_[i];
      if (t.IsPunct('(')) ++level;
      if (t.IsPunct(')')) --level;
      if (level != 0) continue;
      if (t.IsWord("CASE")) {
        i = OperandEndAt(v_, i) - 1;  // its WHEN and THEN parts are not this range's operators
        continue;
      }
      if (!IsBinaryAt(v_, i) || i == begin) continue;
      if (t.text == "*" || t.text == "/" || t.text == "%") {
        multiplicative = i;
      } else {
        additive = i;
      }
    }
    const std::size_t op = additive != end ? additive : multiplicative;
    if (op != end) return Combined(TypeOf(begin, op, depth + 1), v_[op].text, TypeOf(op + 1, end, depth + 1));
    if (v_[begin].IsOperator("-") || v_[begin].IsOperator("+")) return TypeOf(begin + 1, end, depth + 1);
    return PrimaryType(begin, end, depth);
  }

  static Type Combined(const Type& left, std::string_view op, const Type& right) {
    if (IsExact(left) && IsExact(right)) {
      static constexpr std::pair<std::string_view, ArithmeticOperator> kOperators[] = {
          {"+", ArithmeticOperator::Add},
          {"-", ArithmeticOperator::Subtract},
          {"*", ArithmeticOperator::Multiply},
          {"/", ArithmeticOperator::Divide},
          {"%", ArithmeticOperator::Modulo}};
      for (const auto& [text, arithmetic] : kOperators) {
        if (op == text) return FromNumeric(ResultType(*left->numeric, arithmetic, *right->numeric));
      }
      return std::nullopt;
    }
    if (op == "+" && IsText(left) && IsText(right)) {
      const bool unbounded = left->length < 0 || right->length < 0;
      return TextType(unbounded ? -1 : std::min(left->length + right->length, 8000));
    }
    return std::nullopt;
  }

  Type PrimaryType(std::size_t begin, std::size_t end, int depth) const {
    const Token& t = v_[begin];
    if (end == begin + 1) {
      switch (t.kind) {
        case TokenKind::Number: {
          const auto literal = LiteralType(t.text);
          return literal ? Type(FromNumeric(*literal)) : std::nullopt;
        }
        case TokenKind::String:
          return TextType(static_cast<std::int32_t>(Utf8CharacterCount(t.text)));
        case TokenKind::Variable: {
          if (sources_.variables == nullptr) return std::nullopt;
          const auto found = sources_.variables->find(ToUpperAscii(t.text));
          return found == sources_.variables->end() ? std::nullopt : Type(found->second);
        }
        case TokenKind::Word:
          // A literal of many digits, translated into its conversion: cw_convert_number('...',
          // 'DECIMAL(..)').
          if (StartsWithIgnoringCase(t.text, "cw_convert_number(")) return ConversionCallType(t.text);
          if (StartsWithIgnoringCase(t.text, "cw_plus(")) return TextType(-1);
          if (t.text.find('(') != std::string::npos || InList(t.text, kClauseWords)) return std::nullopt;
          return UnqualifiedColumn(t.text);
        case TokenKind::QuotedName:
          return UnqualifiedColumn(t.text);
        default:
          return std::nullopt;
      }
    }
    if (t.IsWord("CASE") && OperandEndAt(v_, begin) == end) return CaseType(begin, end, depth);
    if (end == begin + 3 && IsNameLike(t) && v_[begin + 1].IsPunct('.') && IsNameLike(v_[begin + 2]))
      return QualifiedColumn(t.text, v_[begin + 2].text);
    if (t.kind == TokenKind::Word && v_[begin + 1].IsPunct('(') && MatchForward(v_, begin + 1) == end - 1)
      return CallType(begin, end - 1, depth);
    return std::nullopt;
  }

  // "CASE (Transact-SQL)": the result is the type of highest precedence among the THEN and ELSE results.
  Type CaseType(std::size_t begin, std::size_t end, int depth) const {
    std::vector<std::pair<std::size_t, std::size_t>> results;
    std::size_t start = begin + 1;
    bool inResult = false;
    int level = 0;
    for (std::size_t i = begin + 1; i < end; ++i) {
      const Token& t = v_[i];
      if (t.IsPunct('(')) ++level;
      if (t.IsPunct(')')) --level;
      if (level != 0) continue;
      if (t.IsWord("CASE")) {
        i = OperandEndAt(v_, i) - 1;
        continue;
      }
      if (!(t.IsWord("WHEN") || t.IsWord("THEN") || t.IsWord("ELSE") || t.IsWord("END"))) continue;
      if (inResult) results.emplace_back(start, i);
      inResult = t.IsWord("THEN") || t.IsWord("ELSE");
      start = i + 1;
    }
    return HighestOf(results, depth);
  }

  // The type a set of results share (CASE, IIF, COALESCE; "Data type precedence (Transact-SQL)"): exact
  // numbers combine to one wide enough for each, a float among numbers makes a float, texts make a text as
  // long as the longest. A bare NULL takes the others' type; anything else unknown leaves the whole unknown.
  Type HighestOf(const std::vector<std::pair<std::size_t, std::size_t>>& ranges, int depth) const {
    std::vector<TypeInfo> types;
    for (const auto& [begin, end] : ranges) {
      if (end == begin + 1 && v_[begin].IsWord("NULL")) continue;
      const Type type = TypeOf(begin, end, depth + 1);
      if (!type) return std::nullopt;
      types.push_back(*type);
    }
    if (types.empty()) return std::nullopt;
    const auto all = [&](auto predicate) { return std::all_of(types.begin(), types.end(), predicate); };
    if (all([](const TypeInfo& t) { return IsExact(t); })) {
      NumericType combined = *types.front().numeric;
      for (const TypeInfo& t : types) combined = CombinedType(combined, *t.numeric);
      return FromNumeric(combined);
    }
    if (all([](const TypeInfo& t) { return IsExact(t) || t.kind == ValueKind::Float; })) {
      TypeInfo info;
      info.kind = ValueKind::Float;
      return info;
    }
    if (all([](const TypeInfo& t) { return IsText(t); })) {
      std::int32_t longest = 0;
      for (const TypeInfo& t : types)
        longest = t.length < 0 || longest < 0 ? -1 : std::max(longest, t.length);
      return TextType(longest);
    }
    if (all([&](const TypeInfo& t) { return SameType(t, types.front()); })) return types.front();
    return std::nullopt;
  }

  std::vector<std::pair<std::size_t, std::size_t>> Arguments(std::size_t open, std::size_t close) const {
    return SplitAtCommas(v_, open, close, false);
  }

  // A call's result type, by its function's rule in the catalogue (learn.microsoft.com, each function's
  // page, "Return types").
  Type CallType(std::size_t name, std::size_t close, int depth) const {
    const std::string function = ToLowerAscii(v_[name].text);
    const FunctionEntry* entry = FindTranslatedFunction(function);
    if (entry == nullptr) return std::nullopt;
    const auto arguments = Arguments(name + 1, close);
    auto argument = [&](std::size_t k) -> Type {
      return k < arguments.size() ? TypeOf(arguments[k].first, arguments[k].second, depth + 1) : std::nullopt;
    };
    switch (entry->result) {
      case ResultRule::Unknown:
        return std::nullopt;
      case ResultRule::Declared:
        if (const Type declared = TrailingDeclaration(v_, close)) return declared;
        if (function == "cw_divide" || function == "cw_modulo")
          return Combined(argument(0), function == "cw_divide" ? "/" : "%", argument(1));
        return std::nullopt;
      case ResultRule::FirstArgument:
        return argument(0);
      case ResultRule::Int:
        return FromNumeric(NumericType::Of(NumericKind::Int));
      case ResultRule::BigInt:
        return FromNumeric(NumericType::Of(NumericKind::BigInt));
      case ResultRule::Float:
        return FromNumeric(NumericType::Of(NumericKind::Float));
      case ResultRule::Text:
        return TextType(-1);
      case ResultRule::Sum:
      case ResultRule::Average: {
        const Type column = argument(0);
        if (!IsExact(column)) return std::nullopt;
        return FromNumeric(entry->result == ResultRule::Sum ? SumType(*column->numeric)
                                                            : AverageType(*column->numeric));
      }
      case ResultRule::Whole:
        return WholeType(argument(0));
      case ResultRule::Power: {
        // "POWER (Transact-SQL)": decimal(p, s) gives decimal(38, s), the small integers int, bit float.
        const Type base = WholeType(argument(0));
        if (!IsExact(base) || base->numeric->kind != NumericKind::Decimal) return base;
        return FromNumeric(NumericType::DecimalOf(Decimal::kMaxPrecision, argument(0)->numeric->scale));
      }
      case ResultRule::Rounded:
        if (const Type declared = TrailingDeclaration(v_, close); declared && arguments.size() == 4)
          return declared;
        return RoundedType(argument(0));
      case ResultRule::HighestOfAll:
        return HighestOf(arguments, depth);
      case ResultRule::HighestOfResults:
        if (arguments.size() != 3) return std::nullopt;
        return HighestOf({arguments.begin() + 1, arguments.end()}, depth);
      case ResultRule::Date: {
        // CAST to DATETIME is cw_datetime(x); to another date type cw_datetime(x, 'DATE', 1).
        if (arguments.size() != 1 && arguments.size() != 3) return std::nullopt;
        const TypeInfo date = TypeFromDeclaration(arguments.size() == 1 ? std::string_view("DATETIME")
                                                                        : v_[arguments[1].first].text);
        return date.date ? Type(date) : std::nullopt;
      }
    }
    return std::nullopt;
  }

  static bool IsSmallInteger(const Type& t) {
    return IsExact(t) &&
           (t->numeric->kind == NumericKind::TinyInt || t->numeric->kind == NumericKind::SmallInt);
  }

  // "CEILING (Transact-SQL)", "FLOOR (Transact-SQL)": decimal(p, s) gives decimal(p, 0), the small integers
  // int, bit float, the others their own type.
  static Type WholeType(const Type& argument) {
    if (IsSmallInteger(argument)) return FromNumeric(NumericType::Of(NumericKind::Int));
    if (!IsExact(argument)) return argument;
    const NumericType type = *argument->numeric;
    if (type.kind == NumericKind::Decimal) return FromNumeric(NumericType::DecimalOf(type.precision, 0));
    if (type.kind == NumericKind::Bit) return FromNumeric(NumericType::Of(NumericKind::Float));
    return argument;
  }

  // "ROUND (Transact-SQL)": the argument's type, int for tinyint and smallint.
  static Type RoundedType(const Type& argument) {
    return IsSmallInteger(argument) ? Type(FromNumeric(NumericType::Of(NumericKind::Int))) : argument;
  }

  // ---- rewriting ----

  void Replace(std::size_t begin, std::size_t end, std::vector<Token> replacement) {
    replacement.front().spaceBefore = v_[begin].spaceBefore;
    v_.erase(v_.begin() + static_cast<std::ptrdiff_t>(begin), v_.begin() + static_cast<std::ptrdiff_t>(end));
    v_.insert(v_.begin() + static_cast<std::ptrdiff_t>(begin), replacement.begin(), replacement.end());
  }

  std::vector<Token> Call(std::string_view function, std::int32_t at,
                          const std::vector<std::pair<std::size_t, std::size_t>>& arguments,
                          const std::string& declaration) const {
    std::vector<Token> call{MakeToken(TokenKind::Word, std::string(function), at),
                            MakeToken(TokenKind::Punct, "(", at)};
    for (const auto& [begin, end] : arguments) {
      if (call.size() > 2) call.push_back(MakeToken(TokenKind::Punct, ",", at));
      call.insert(call.end(), v_.begin() + static_cast<std::ptrdiff_t>(begin),
                  v_.begin() + static_cast<std::ptrdiff_t>(end));
    }
    call[2].spaceBefore = false;
    if (!declaration.empty()) {
      call.push_back(MakeToken(TokenKind::Punct, ",", at));
      call.push_back(MakeToken(TokenKind::String, declaration, at));
    }
    call.push_back(MakeToken(TokenKind::Punct, ")", at));
    return call;
  }

  // cw_divide(a, b) of two exact numbers carries the quotient's type: SQL Server divides at that scale.
  void TypeDivisions() {
    for (std::size_t i = 0; i + 1 < v_.size(); ++i) {
      if (!(v_[i].IsWord("cw_divide") || v_[i].IsWord("cw_modulo")) || !v_[i + 1].IsPunct('(')) continue;
      const std::size_t close = MatchForward(v_, i + 1);
      if (TrailingDeclaration(v_, close)) continue;
      const Type type = CallType(i, close, 0);
      if (!IsExact(type) || Arguments(i + 1, close).size() != 2) continue;
      const auto line = v_[i].line;
      v_.insert(v_.begin() + static_cast<std::ptrdiff_t>(close),
                {MakeToken(TokenKind::Punct, ",", line),
                 MakeToken(TokenKind::String, DeclarationOf(*type->numeric), line)});
    }
  }

  // The operands of the binary `+`, `-` or `*` at `op`: `*` binds its neighbours, `+` and `-` everything
  // of higher precedence beside them, and everything to their left (they associate to the left).
  std::pair<std::size_t, std::size_t> OperandsOf(std::size_t op) const {
    const bool multiply = v_[op].text == "*";
    std::size_t start = OperandStartAt(v_, op - 1);
    while (
        start >= 2 && IsBinaryAt(v_, start - 1) &&
        (!multiply || v_[start - 1].text == "*" || v_[start - 1].text == "/" || v_[start - 1].text == "%")) {
      start = OperandStartAt(v_, start - 2);
    }
    while (start >= 1 && (v_[start - 1].IsOperator("-") || v_[start - 1].IsOperator("+")) &&
           (start == 1 || !EndsOperand(v_[start - 2]))) {
      --start;
    }
    std::size_t end = OperandEndAt(v_, op + 1);
    while (!multiply && end < v_.size() && IsBinaryAt(v_, end) && v_[end].text == "*") {
      end = OperandEndAt(v_, end + 1);
    }
    return {start, end};
  }

  void TypeOperators() {
    for (std::size_t i = 1; i < v_.size(); ++i) {
      const Operation operation = OperationOf(v_[i]);
      if (operation == Operation::Other || !IsBinaryAt(v_, i)) continue;
      const auto [start, end] = OperandsOf(i);
      const Type left = TypeOf(start, i);
      const Type right = TypeOf(i + 1, end);
      const std::vector<std::pair<std::size_t, std::size_t>> operands{{start, i}, {i + 1, end}};
      const std::int32_t line = v_[i].line;
      if (IsExact(left) && IsExact(right)) {
        const Type result = Combined(left, v_[i].text, right);
        static constexpr std::string_view kNames[] = {"cw_add", "cw_subtract", "cw_multiply"};
        Replace(start, end,
                Call(kNames[static_cast<int>(operation)], line, operands, DeclarationOf(*result->numeric)));
        i = start + 1;
      } else if (operation == Operation::Add &&
                 ((IsText(left) && (IsText(right) || IsExact(right))) || (IsExact(left) && IsText(right)))) {
        // Texts are joined; a text beside a number is converted to it, as the server converts to the type
        // of higher precedence.
        Replace(start, end, Call("cw_plus", line, operands, {}));
        i = start + 1;
      }
    }
  }

  // SUM over int is int and overflows as int does; ISNULL's replacement takes the checked value's type
  // (learn.microsoft.com "SUM (Transact-SQL)", "ISNULL (Transact-SQL)").
  void TypeFunctions() {
    for (std::size_t i = 0; i + 1 < v_.size(); ++i) {
      if (!v_[i].IsPunct('(') || i == 0) continue;
      const std::size_t name = i - 1;
      // An int SUM and a POWER of an exact number are computed wider (SUM in 64 bits, POWER in floating
      // point) and converted to their result type, which rounds or overflows as the server's does.
      const bool converted = v_[name].IsWord("sum") || v_[name].IsWord("power");
      const bool isNull = v_[name].IsWord("ifnull");
      const bool round = v_[name].IsWord("cw_round");
      if (!converted && !isNull && !round) continue;
      const std::size_t close = MatchForward(v_, i);
      if (round) {
        TypeRound(name, close);
        continue;
      }
      const auto arguments = Arguments(i, close);
      if (converted) {
        const Type type = CallType(name, close, 0);
        if (!IsExact(type) || (v_[name].IsWord("sum") && type->numeric->kind != NumericKind::Int)) continue;
        std::size_t end = close + 1;
        if (end + 1 < v_.size() && v_[end].IsWord("OVER") && v_[end + 1].IsPunct('('))
          end = MatchForward(v_, end + 1) + 1;
        Replace(name, end,
                Call("cw_convert_number", v_[name].line, {{name, end}}, DeclarationOf(*type->numeric)));
        i = name + 3;  // past the parenthesis of the call, now inside the conversion
      } else if (arguments.size() == 2) {
        const Type checked = TypeOf(arguments[0].first, arguments[0].second);
        const Type replacement = TypeOf(arguments[1].first, arguments[1].second);
        if (!IsExact(checked) || !IsExact(replacement) || SameType(*checked, *replacement)) continue;
        Replace(arguments[1].first, arguments[1].second,
                Call("cw_convert_number", v_[i].line, {arguments[1]}, DeclarationOf(*checked->numeric)));
      }
    }
  }

  // ROUND of an exact number carries its result type, so that it overflows where the server's does.
  void TypeRound(std::size_t name, std::size_t close) {
    const auto arguments = Arguments(name + 1, close);
    if (arguments.size() != 2 && arguments.size() != 3) return;
    const Type type = CallType(name, close, 0);
    if (!IsExact(type)) return;
    const auto line = v_[name].line;
    std::vector<Token> added;
    if (arguments.size() == 2) {
      added.push_back(MakeToken(TokenKind::Punct, ",", line));
      added.push_back(MakeToken(TokenKind::Number, "0", line));
    }
    added.push_back(MakeToken(TokenKind::Punct, ",", line));
    added.push_back(MakeToken(TokenKind::String, DeclarationOf(*type->numeric), line));
    v_.insert(v_.begin() + static_cast<std::ptrdiff_t>(close), added.begin(), added.end());
  }

  std::vector<Token>& v_;
  const TypeSources& sources_;
  std::vector<TableInScope> tables_;
};

}  // namespace

void TypeArithmetic(std::vector<Token>& tokens, const TypeSources& sources) {
  Typer(tokens, sources).Run();
}

std::vector<ResultColumn> DescribeSelectList(std::vector<Token>& tokens, const TypeSources& sources) {
  return Typer(tokens, sources).DescribeSelectList();
}

std::vector<std::optional<TypeInfo>> TypesOfRanges(
    std::vector<Token>& tokens, const std::vector<std::pair<std::size_t, std::size_t>>& ranges,
    const TypeSources& sources) {
  return Typer(tokens, sources).TypesOf(ranges);
}

}  // namespace closewright::sqlite::translation
