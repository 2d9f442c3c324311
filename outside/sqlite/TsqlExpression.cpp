#include <algorithm>
#include <charconv>
#include <optional>

#include "outside/Text.h"
#include "outside/sqlite/FunctionCatalogue.h"
#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

namespace {

// Words after which a following operator cannot be binary: they end no operand.
constexpr std::string_view kNonOperandWords[] = {
    "AND",    "OR",       "NOT",     "SELECT", "WHERE",  "THEN",   "ELSE", "WHEN",  "CASE",   "IS",
    "IN",     "LIKE",     "BETWEEN", "ON",     "AS",     "BY",     "FROM", "SET",   "VALUES", "HAVING",
    "RETURN", "DISTINCT", "ALL",     "UNION",  "EXISTS", "ESCAPE", "TOP",  "PRINT", "INTO",   "JOIN"};

constexpr std::string_view kTableHints[] = {
    "NOLOCK",  "READUNCOMMITTED", "READCOMMITTED", "ROWLOCK",  "PAGLOCK",      "TABLOCK",        "TABLOCKX",
    "UPDLOCK", "HOLDLOCK",        "XLOCK",         "READPAST", "SERIALIZABLE", "REPEATABLEREAD", "NOWAIT"};

}  // namespace

std::size_t MatchForward(const std::vector<Token>& v, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < v.size(); ++i) {
    if (v[i].IsPunct('(')) ++depth;
    if (v[i].IsPunct(')') && --depth == 0) return i;
  }
  return v.size() - 1;
}

std::size_t MatchBackward(const std::vector<Token>& v, std::size_t close) {
  int depth = 0;
  for (std::size_t i = close + 1; i-- > 0;) {
    if (v[i].IsPunct(')')) ++depth;
    if (v[i].IsPunct('(') && --depth == 0) return i;
  }
  return 0;
}

bool EndsOperand(const Token& t) {
  switch (t.kind) {
    case TokenKind::Number:
    case TokenKind::String:
    case TokenKind::Variable:
    case TokenKind::SystemVariable:
    case TokenKind::QuotedName:
    case TokenKind::TempName:
      return true;
    case TokenKind::Punct:
      return t.IsPunct(')');
    case TokenKind::Word:
      return !InList(t.text, kNonOperandWords);
    default:
      return false;
  }
}

std::size_t OperandEndAt(const std::vector<Token>& v, std::size_t i) {
  while (i < v.size() && (v[i].IsOperator("-") || v[i].IsOperator("+") || v[i].IsOperator("~"))) ++i;
  if (i >= v.size()) return i;
  if (v[i].IsPunct('(')) return MatchForward(v, i) + 1;
  if (v[i].IsWord("CASE")) {
    int depth = 0;
    for (std::size_t j = i; j < v.size(); ++j) {
      if (v[j].IsWord("CASE")) ++depth;
      if (v[j].IsWord("END") && --depth == 0) return j + 1;
    }
    return v.size();
  }
  std::size_t j = i + 1;
  if (v[i].kind == TokenKind::Word || v[i].kind == TokenKind::QuotedName ||
      v[i].kind == TokenKind::TempName) {
    while (j + 1 < v.size() && v[j].IsPunct('.')) j += 2;
    if (j < v.size() && v[j].IsPunct('(')) {
      j = MatchForward(v, j) + 1;
      if (j + 1 < v.size() && v[j].IsWord("OVER") && v[j + 1].IsPunct('(')) j = MatchForward(v, j + 1) + 1;
    }
  }
  if (j + 1 < v.size() && v[j].IsWord("COLLATE")) j += 2;
  return j;
}

std::size_t OperandStartAt(const std::vector<Token>& v, std::size_t i) {
  std::size_t s = i;
  if (v[i].IsPunct(')')) {
    s = MatchBackward(v, i);
    if (s >= 2 && v[s - 1].IsWord("OVER") && v[s - 2].IsPunct(')')) s = MatchBackward(v, s - 2);
    if (s >= 1 && (v[s - 1].kind == TokenKind::Word || v[s - 1].kind == TokenKind::QuotedName) &&
        !InList(v[s - 1].text, kNonOperandWords)) {
      --s;
    }
  } else if (v[i].IsWord("END")) {
    int depth = 0;
    for (std::size_t j = i + 1; j-- > 0;) {
      if (v[j].IsWord("END")) ++depth;
      if (v[j].IsWord("CASE") && --depth == 0) {
        s = j;
        break;
      }
    }
  }
  while (s >= 2 && v[s - 1].IsPunct('.') && v[s - 2].kind != TokenKind::Punct) s -= 2;
  return s;
}

namespace {

// a / b and a % b become calls that raise SQL Server's divide-by-zero error.
void RewriteDivision(std::vector<Token>& v) {
  while (true) {
    std::size_t op = v.size();
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
      if ((v[i].IsOperator("/") || v[i].IsOperator("%")) && EndsOperand(v[i - 1])) {
        op = i;
        break;
      }
    }
    if (op == v.size()) return;
    std::size_t start = OperandStartAt(v, op - 1);
    while (start >= 2 && v[start - 1].IsOperator("*") && EndsOperand(v[start - 2])) {
      start = OperandStartAt(v, start - 2);
    }
    const std::size_t end = OperandEndAt(v, op + 1);
    std::vector<Token> call;
    const std::int32_t line = v[op].line;
    call.push_back(MakeToken(TokenKind::Word, v[op].IsOperator("/") ? "cw_divide" : "cw_modulo", line));
    call.back().spaceBefore = v[start].spaceBefore;
    call.push_back(MakeToken(TokenKind::Punct, "(", line));
    call.insert(call.end(), v.begin() + static_cast<std::ptrdiff_t>(start),
                v.begin() + static_cast<std::ptrdiff_t>(op));
    call[2].spaceBefore = false;
    call.push_back(MakeToken(TokenKind::Punct, ",", line));
    call.insert(call.end(), v.begin() + static_cast<std::ptrdiff_t>(op + 1),
                v.begin() + static_cast<std::ptrdiff_t>(end));
    call.push_back(MakeToken(TokenKind::Punct, ")", line));
    v.erase(v.begin() + static_cast<std::ptrdiff_t>(start), v.begin() + static_cast<std::ptrdiff_t>(end));
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(start), call.begin(), call.end());
  }
}

// The SQLite form of a CAST or CONVERT target type applied to `expr`.
std::vector<Token> CastCall(const std::vector<Token>& expr, const std::vector<Token>& type,
                            std::int32_t line) {
  std::string typeText;
  for (const Token& t : type) typeText += t.text;
  const TypeInfo info = TypeFromDeclaration(typeText);
  std::vector<Token> out;
  auto word = [&](std::string text) { out.push_back(MakeToken(TokenKind::Word, std::move(text), line)); };
  auto punct = [&](std::string text) { out.push_back(MakeToken(TokenKind::Punct, std::move(text), line)); };
  auto wrap = [&](std::string function, std::optional<std::int64_t> extra) {
    word(std::move(function));
    punct("(");
    out.insert(out.end(), expr.begin(), expr.end());
    if (extra) {
      punct(",");
      out.push_back(MakeToken(TokenKind::Number, std::to_string(*extra), line));
    }
    punct(")");
  };
  // Exact numbers go through the conversion a column of that type stores with: rounded half away from zero
  // to the scale, integers truncated, SQL Server's overflow errors.
  auto exact = [&](const NumericType& target) {
    word("cw_convert_number");
    punct("(");
    out.insert(out.end(), expr.begin(), expr.end());
    punct(",");
    out.push_back(MakeToken(TokenKind::String, DeclarationOf(target), line));
    punct(")");
  };
  switch (info.kind) {
    case ValueKind::Integer:
      exact(*ExactNumericTypeOf(typeText));
      break;
    case ValueKind::Bit:
      wrap("cw_to_bit", std::nullopt);
      break;
    case ValueKind::Decimal:
      exact(*ExactNumericTypeOf(typeText));
      break;
    case ValueKind::Float:
      wrap("cw_to_float", std::nullopt);
      break;
    case ValueKind::Text:
      wrap("cw_to_text", info.length > 0 ? info.length : (typeText.find('(') == std::string::npos ? 30 : -1));
      break;
    case ValueKind::DateTime:
      // To DATETIME as the stored DATETIME columns convert; to the other date types at their precision, as
      // an explicit conversion (a number to DATE or DATETIME2 is 529, not the storing 206).
      if (info.date->kind == DateKind::DateTime) {
        wrap("cw_datetime", std::nullopt);
        break;
      }
      word("cw_datetime");
      punct("(");
      out.insert(out.end(), expr.begin(), expr.end());
      punct(",");
      out.push_back(MakeToken(TokenKind::String, info.date->Declaration(), line));
      punct(",");
      out.push_back(MakeToken(TokenKind::Number, "1", line));
      punct(")");
      break;
    case ValueKind::Other:
      throw Unsupported("conversion to " + typeText, line);
  }
  return out;
}

void RewriteCasts(std::vector<Token>& v) {
  for (std::size_t i = v.size(); i-- > 0;) {
    const bool isCast = v[i].IsWord("CAST");
    const bool isConvert = v[i].IsWord("CONVERT") || v[i].IsWord("TRY_CONVERT") || v[i].IsWord("TRY_CAST");
    if ((!isCast && !isConvert) || i + 1 >= v.size() || !v[i + 1].IsPunct('(')) continue;
    if (v[i].IsWord("TRY_CONVERT") || v[i].IsWord("TRY_CAST"))
      throw Unsupported(ToUpperAscii(v[i].text), v[i].line);
    const std::size_t close = MatchForward(v, i + 1);
    std::vector<Token> expr;
    std::vector<Token> type;
    if (isCast) {
      std::size_t as = close;
      int depth = 0;
      for (std::size_t j = i + 2; j < close; ++j) {
        if (v[j].IsPunct('(')) ++depth;
        if (v[j].IsPunct(')')) --depth;
        if (depth == 0 && v[j].IsWord("AS")) as = j;
      }
      if (as == close) throw SyntaxError("CAST", v[i].line);
      expr.assign(v.begin() + static_cast<std::ptrdiff_t>(i + 2),
                  v.begin() + static_cast<std::ptrdiff_t>(as));
      type.assign(v.begin() + static_cast<std::ptrdiff_t>(as + 1),
                  v.begin() + static_cast<std::ptrdiff_t>(close));
    } else {
      std::size_t comma = close;
      int depth = 0;
      std::vector<std::size_t> commas;
      for (std::size_t j = i + 2; j < close; ++j) {
        if (v[j].IsPunct('(')) ++depth;
        if (v[j].IsPunct(')')) --depth;
        if (depth == 0 && v[j].IsPunct(',')) commas.push_back(j);
      }
      if (commas.empty()) throw SyntaxError("CONVERT", v[i].line);
      comma = commas[0];
      const std::size_t exprEnd = commas.size() > 1 ? commas[1] : close;
      type.assign(v.begin() + static_cast<std::ptrdiff_t>(i + 2),
                  v.begin() + static_cast<std::ptrdiff_t>(comma));
      expr.assign(v.begin() + static_cast<std::ptrdiff_t>(comma + 1),
                  v.begin() + static_cast<std::ptrdiff_t>(exprEnd));
    }
    std::vector<Token> call = CastCall(expr, type, v[i].line);
    v.erase(v.begin() + static_cast<std::ptrdiff_t>(i), v.begin() + static_cast<std::ptrdiff_t>(close + 1));
    v.insert(v.begin() + static_cast<std::ptrdiff_t>(i), call.begin(), call.end());
  }
}

// Only arithmetic, conversions and the functions whose types matter need the tokens rearranged; everything
// else (such as the long VALUES lists of a bulk load, whose signs are no arithmetic) is written straight out.
bool NeedsRearranging(const std::vector<Token>& tokens, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin; i < end; ++i) {
    const Token& t = tokens[i];
    if (t.kind == TokenKind::Operator && i > begin && EndsOperand(tokens[i - 1]) &&
        (t.text == "/" || t.text == "%" || t.text == "+" || t.text == "-" || t.text == "*")) {
      return true;
    }
    if (t.kind == TokenKind::Word && (t.IsWord("CAST") || t.IsWord("CONVERT") || t.IsWord("TRY_CAST") ||
                                      t.IsWord("TRY_CONVERT") || t.IsWord("SUM") || t.IsWord("ISNULL"))) {
      return true;
    }
  }
  return false;
}

// @@ROWCOUNT and the like become calls of the functions that answer them.
Token SystemVariableToken(const Token& t) {
  const std::string name = ToUpperAscii(t.text);
  const FunctionEntry* entry = FindTsqlFunction(name, Spelling::Niladic);
  if (entry == nullptr) throw Unsupported(name, t.line);
  return MakeToken(TokenKind::Word, std::string(entry->sqliteName) + "()", t.line);
}

// SQLite reads a literal with a point as a double; one with more digits than a double keeps exactly would
// become a nearby number before any conversion sees it. Such a literal is handed over as its text, typed
// as SQL Server types it, and the conversion refuses it unless the double gives the same digits back.
Token NumberToken(const Token& t) {
  int significant = 0;
  bool leading = true;
  for (char c : t.text) {
    if (c == 'e' || c == 'E') return t;  // a float literal: a double on the server too
    if (c < '0' || c > '9' || (leading && c == '0')) continue;
    leading = false;
    ++significant;
  }
  if (significant <= 15) return t;
  const auto type = LiteralType(t.text);
  if (!type) {
    throw TsqlError{
        1007, "22003",
        "The number '" + t.text + "' is out of the range for numeric representation (maximum precision 38).",
        t.line};
  }
  if (type->IsInteger()) return t;
  std::int64_t whole = 0;
  const auto [end, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), whole);
  if (ec == std::errc() && end == t.text.data() + t.text.size())
    return t;  // SQLite's 64-bit integers are exact
  Token call =
      MakeToken(TokenKind::Word,
                "cw_convert_number(" + QuoteSqlText(t.text) + ", '" + DeclarationOf(*type) + "')", t.line);
  call.spaceBefore = t.spaceBefore;
  return call;
}

// Keywords and type names a parenthesis may follow: no function calls.
constexpr std::string_view kWordsBeforeParenthesis[] = {
    "ALL",     "AND",       "ANY",       "AS",         "BETWEEN",     "BY",        "CASE",   "CAST",
    "CHAR",    "CHECK",     "COLLATE",   "CONSTRAINT", "CONVERT",     "DATETIME2", "DEC",    "DECIMAL",
    "DEFAULT", "DELETE",    "DISTINCT",  "ELSE",       "END",         "ESCAPE",    "EXCEPT", "EXISTS",
    "FLOAT",   "FROM",      "GROUP",     "HAVING",     "IDENTITY",    "IF",        "IN",     "INCLUDE",
    "INDEX",   "INSERT",    "INTERSECT", "INTO",       "IS",          "JOIN",      "KEY",    "LIKE",
    "NCHAR",   "NOT",       "NULL",      "NUMERIC",    "NVARCHAR",    "ON",        "OR",     "ORDER",
    "OVER",    "PARTITION", "PRINT",     "REFERENCES", "RETURN",      "SELECT",    "SET",    "SOME",
    "TABLE",   "THEN",      "TOP",       "TRY_CAST",   "TRY_CONVERT", "UNION",     "UNIQUE", "UPDATE",
    "USING",   "VALUES",    "VARBINARY", "VARCHAR",    "WHEN",        "WHERE",     "WHILE",  "WITH"};

Token DatabaseCollation(std::int32_t line) {
  return MakeToken(TokenKind::Word, "COLLATE CI", line);
}

bool IsComparison(const Token& t) {
  static constexpr std::string_view kOperators[] = {"=", "<>", "!=", "<", ">", "<=", ">=", "!<", "!>"};
  if (t.kind == TokenKind::Operator) {
    for (std::string_view op : kOperators)
      if (t.text == op) return true;
  }
  return t.IsWord("IN") || t.IsWord("BETWEEN");
}

Token OperatorToken(const Token& t) {
  if (t.text == "!<") return MakeToken(TokenKind::Operator, ">=", t.line);
  if (t.text == "!>") return MakeToken(TokenKind::Operator, "<=", t.line);
  if (t.text == "+=" || t.text == "-=" || t.text == "*=" || t.text == "/=" || t.text == "%=" ||
      t.text == "::") {
    throw Unsupported("the operator " + t.text, t.line);
  }
  return t;
}

}  // namespace

// The translated text as it grows: written straight out, or held as tokens when they must be rearranged.
class TokenSink {
 public:
  TokenSink(bool rearrange, std::size_t tokens, const TypeSources& types,
            std::vector<ResultColumn>* selectList)
      : rearrange_(rearrange || selectList != nullptr), types_(types), selectList_(selectList) {
    if (rearrange_) tokens_.reserve(tokens + 8);
  }

  // A dropped token leaves its blank to the token after it.
  void DropSpace(bool spaceBefore) { carrySpace_ = spaceBefore; }

  void Push(const Token& token) {
    const bool space = token.spaceBefore || carrySpace_;
    carrySpace_ = false;
    if (rearrange_) {
      tokens_.push_back(token);
      tokens_.back().spaceBefore = space;
      return;
    }
    if (!out_.empty() && space) out_ += ' ';
    if (token.kind == TokenKind::Word || token.kind == TokenKind::Number ||
        token.kind == TokenKind::Operator || token.kind == TokenKind::Punct) {
      out_ += token.text;
    } else {
      out_ += Emit(token);
    }
  }

  std::string Finish() {
    if (!rearrange_) return std::move(out_);
    RewriteCasts(tokens_);
    RewriteDivision(tokens_);
    CompareDatesAtTheHigherType(tokens_, types_);
    TypeArithmetic(tokens_, types_);
    if (selectList_ != nullptr) *selectList_ = DescribeSelectList(tokens_, types_);
    return Join(tokens_, 0, tokens_.size());
  }

 private:
  bool rearrange_;
  const TypeSources& types_;
  std::vector<ResultColumn>* selectList_;
  bool carrySpace_ = false;
  std::vector<Token> tokens_;
  std::string out_;
};

// SQL Server compares text under the database's default collation, case insensitive, when no column takes
// part; SQLite would compare byte by byte. So the left operand of a comparison of two literals or
// variables (text variables, an IN list of literals) takes the CI collation explicitly. Beside a column,
// the column's own collation decides on both engines, and nothing is added: an explicit collation would
// override a date column's.
bool Translator::ComparesWithoutColumn(std::size_t i, std::size_t end) const {
  const Token& t = t_[i];
  if (t.kind == TokenKind::Variable) {
    const auto declared = declared_.find(ToUpperAscii(t.text));
    if (declared == declared_.end() || declared->second.kind != ValueKind::Text) return false;
  }
  std::size_t op = i + 1;
  if (op < end && t_[op].IsWord("NOT")) ++op;
  if (op + 1 >= end || !IsComparison(t_[op])) return false;
  std::size_t right = op + 1;
  if (t_[op].IsWord("IN")) {
    if (!t_[right].IsPunct('(')) return false;
    ++right;
  }
  if (right >= end) return false;
  const Token& other = t_[right];
  if (other.kind == TokenKind::String) return true;
  if (other.kind != TokenKind::Variable) return false;
  const auto declared = declared_.find(ToUpperAscii(other.text));
  return declared != declared_.end() && declared->second.kind == ValueKind::Text;
}

// Translates tokens [begin, end) of an expression or clause into SQLite text.
// In a select list T-SQL writes an alias before its expression too: `name = expr`, `'name' = expr`. SQLite
// knows only `expr AS name`, and would read the first form as a comparison; the alias is held back and
// written after its expression, where the item ends.
class SelectListAliases {
 public:
  // Whether the token at `i` was taken: an alias with its `=`, which `i` then points past.
  bool Take(const std::vector<Token>& t, std::size_t& i, std::size_t end, TokenSink& sink) {
    const Token& token = t[i];
    if (token.IsPunct('(')) ++depth_;
    if (token.IsPunct(')')) {
      if (InSelectList()) End(sink);
      --depth_;
      return false;
    }
    if (token.IsWord("SELECT")) {
      lists_.push_back({depth_, true, {}});
      return false;
    }
    if (!InSelectList()) return false;
    List& list = lists_.back();
    if (token.kind == TokenKind::Word && InList(token.text, kListEnds)) {
      End(sink);
      return false;
    }
    if (token.IsPunct(',')) {
      Flush(sink);
      list.atItemStart = true;
      return false;
    }
    if (!list.atItemStart || token.IsWord("DISTINCT") || token.IsWord("ALL")) return false;
    list.atItemStart = false;
    const bool name = token.kind == TokenKind::Word || token.kind == TokenKind::QuotedName ||
                      token.kind == TokenKind::String;
    if (!name || i + 2 >= end || !t[i + 1].IsOperator("=")) return false;
    list.alias = token;
    list.alias->kind = TokenKind::QuotedName;
    ++i;  // past the `=`
    return true;
  }
  void Finish(TokenSink& sink) {
    while (!lists_.empty()) End(sink);
  }

 private:
  struct List {
    int depth = 0;
    bool atItemStart = true;
    std::optional<Token> alias;
  };
  static constexpr std::string_view kListEnds[] = {"FROM",   "WHERE",     "GROUP", "ORDER", "HAVING", "UNION",
                                                   "EXCEPT", "INTERSECT", "INTO",  "FOR",   "OPTION"};
  bool InSelectList() const { return !lists_.empty() && lists_.back().depth == depth_; }
  void Flush(TokenSink& sink) {
    std::optional<Token>& alias = lists_.back().alias;
    if (!alias) return;
    sink.Push(MakeToken(TokenKind::Word, "AS", alias->line));
    alias->spaceBefore = true;
    sink.Push(*alias);
    alias.reset();
  }
  void End(TokenSink& sink) {
    Flush(sink);
    lists_.pop_back();
  }

  int depth_ = 0;
  std::vector<List> lists_;
};

std::string Translator::Translate(std::size_t begin, std::size_t end, const std::string& target,
                                  std::vector<ResultColumn>* selectList) const {
  const TypeSources types{&declared_, catalog_ ? &catalog_ : nullptr, &createdInBatch_, target};
  TokenSink sink(NeedsRearranging(t_, begin, end) || ComparesTwoNames(t_, begin, end), end - begin, types,
                 selectList);
  SelectListAliases aliases;
  // Only a range with a `+` can join texts; the long VALUES lists of a bulk load have none to look for.
  const bool mayJoinTexts = std::any_of(t_.begin() + static_cast<std::ptrdiff_t>(begin),
                                        t_.begin() + static_cast<std::ptrdiff_t>(end),
                                        [](const Token& t) { return t.IsOperator("+"); });
  for (std::size_t i = begin; i < end; ++i) {
    if (aliases.Take(t_, i, end, sink)) continue;
    const Token& t = t_[i];
    if (const auto joined = mayJoinTexts ? TextJoinAt(i, begin, end) : std::nullopt) {
      Token call = MakeToken(TokenKind::Word, joined->first, t.line);
      call.spaceBefore = t.spaceBefore;
      sink.Push(call);
      i = joined->second - 1;
      continue;
    }
    switch (t.kind) {
      case TokenKind::Variable:
        CheckVariable(t);
        sink.Push(t);
        if (ComparesWithoutColumn(i, end)) sink.Push(DatabaseCollation(t.line));
        break;
      case TokenKind::String:
        sink.Push(t);
        if (ComparesWithoutColumn(i, end)) sink.Push(DatabaseCollation(t.line));
        break;
      case TokenKind::SystemVariable:
        sink.Push(SystemVariableToken(t));
        break;
      case TokenKind::TempName:
        if (t.text.size() > 1 && t.text[1] == '#')
          throw Unsupported("the global temporary table " + t.text, t.line);
        sink.Push(t);
        break;
      case TokenKind::Operator:
        sink.Push(OperatorToken(t));
        break;
      case TokenKind::Number:
        sink.Push(NumberToken(t));
        break;
      case TokenKind::Word:
        i = TranslateWord(i, begin, end, sink);
        break;
      default:
        sink.Push(t);
        break;
    }
  }
  aliases.Finish(sink);
  return sink.Finish();
}

// Returns the last token the word took with it.
std::size_t Translator::TranslateWord(std::size_t i, std::size_t begin, std::size_t end,
                                      TokenSink& sink) const {
  const Token& t = t_[i];
  const bool call = At(i + 1).IsPunct('(');
  if ((t.IsWord("dbo")) && At(i + 1).IsPunct('.') && IsNameToken(At(i + 2))) {
    sink.DropSpace(t.spaceBefore);  // drop "dbo."
    return i + 1;
  }
  if (t.IsWord("WITH") && call) {
    const Token& hint = At(i + 2);
    if (hint.kind == TokenKind::Word && InList(hint.text, kTableHints)) {
      int depth = 0;
      std::size_t j = i + 1;
      for (; j < end; ++j) {
        if (t_[j].IsPunct('(')) ++depth;
        if (t_[j].IsPunct(')') && --depth == 0) break;
      }
      sink.DropSpace(t.spaceBefore);
      return j;
    }
  }
  // An alias may be a word SQLite reserves (NOTHING, ACTION, ...): quote it.
  if (i > begin && t_[i - 1].IsWord("AS") && !call && !InList(t.text, kNonOperandWords)) {
    Token alias = t;
    alias.kind = TokenKind::QuotedName;
    sink.Push(alias);
    return i;
  }
  if (const FunctionEntry* niladic = FindTsqlFunction(t.text, Spelling::Niladic)) {
    sink.Push(MakeToken(TokenKind::Word, std::string(niladic->sqliteName) + "()", t.line));
    return i;
  }
  if (t.IsWord("OPENROWSET") || t.IsWord("OPENQUERY") || t.IsWord("OPENXML") || t.IsWord("PIVOT") ||
      t.IsWord("UNPIVOT") || t.IsWord("OUTPUT") || t.IsWord("NEWID")) {
    throw Unsupported(ToUpperAscii(t.text), t.line);
  }
  if (t.IsWord("APPLY") && i > begin && (t_[i - 1].IsWord("CROSS") || t_[i - 1].IsWord("OUTER"))) {
    throw Unsupported(ToUpperAscii(t_[i - 1].text) + " APPLY", t.line);
  }
  // A function SQLite runs under the T-SQL name itself keeps the name as written.
  const FunctionEntry* function = call ? FindTsqlFunction(t.text, Spelling::Call) : nullptr;
  // SQL Server compiles the batch first, so an unknown function fails it before anything runs; SQLite's own
  // functions of the same name (FORMAT, LENGTH, ...) answer differently and are not reached.
  if (call && function == nullptr && !InList(t.text, kWordsBeforeParenthesis)) {
    throw TsqlError{195, "42000",
                    "'" + ToUpperAscii(t.text) + "' is not a recognized built-in function name.", t.line};
  }
  if (function != nullptr && !EqualsIgnoringCase(function->tsqlName, function->sqliteName)) {
    Token renamed = MakeToken(TokenKind::Word, std::string(function->sqliteName), t.line);
    renamed.spaceBefore = t.spaceBefore;
    sink.Push(renamed);
    return i;
  }
  sink.Push(t);
  return i;
}

}  // namespace closewright::sqlite::translation
