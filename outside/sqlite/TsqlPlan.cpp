#include "outside/sqlite/TsqlPlan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <optional>
#include <set>

#include "outside/Text.h"

namespace closewright::sqlite {

namespace {

constexpr std::string_view kStatementKeywords[] = {
    "SELECT",   "INSERT", "UPDATE",    "DELETE", "CREATE", "DROP",     "ALTER",  "TRUNCATE", "DECLARE",
    "SET",      "IF",     "ELSE",      "BEGIN",  "END",    "DBCC",     "PRINT",  "EXEC",     "EXECUTE",
    "WHILE",    "MERGE",  "RETURN",    "GOTO",   "USE",    "GRANT",    "REVOKE", "DENY",     "COMMIT",
    "ROLLBACK", "SAVE",   "RAISERROR", "THROW",  "BREAK",  "CONTINUE", "WAITFOR"};

// Words after which a following operator cannot be binary: they end no operand.
constexpr std::string_view kNonOperandWords[] = {
    "AND",    "OR",       "NOT",     "SELECT", "WHERE",  "THEN",   "ELSE", "WHEN",  "CASE",   "IS",
    "IN",     "LIKE",     "BETWEEN", "ON",     "AS",     "BY",     "FROM", "SET",   "VALUES", "HAVING",
    "RETURN", "DISTINCT", "ALL",     "UNION",  "EXISTS", "ESCAPE", "TOP",  "PRINT", "INTO",   "JOIN"};

constexpr std::string_view kTableHints[] = {
    "NOLOCK",  "READUNCOMMITTED", "READCOMMITTED", "ROWLOCK",  "PAGLOCK",      "TABLOCK",        "TABLOCKX",
    "UPDLOCK", "HOLDLOCK",        "XLOCK",         "READPAST", "SERIALIZABLE", "REPEATABLEREAD", "NOWAIT"};

bool InList(std::string_view word, const std::string_view* begin, const std::string_view* end) {
  return std::any_of(begin, end, [&](std::string_view k) { return EqualsIgnoringCase(word, k); });
}

template <std::size_t N>
bool InList(std::string_view word, const std::string_view (&list)[N]) {
  return InList(word, list, list + N);
}

bool IsStatementKeyword(const Token& t) {
  return t.kind == TokenKind::Word && InList(t.text, kStatementKeywords);
}

Token MakeToken(TokenKind kind, std::string text, std::int32_t line) {
  Token t;
  t.kind = kind;
  t.text = std::move(text);
  t.line = line;
  t.spaceBefore = kind != TokenKind::Punct;
  return t;
}

TsqlError SyntaxError(std::string_view near, std::int32_t line) {
  return TsqlError{102, "42000", "Incorrect syntax near '" + std::string(near) + "'.", line};
}

TsqlError KeywordError(std::string_view keyword, std::int32_t line) {
  return TsqlError{156, "42000", "Incorrect syntax near the keyword '" + ToUpperAscii(keyword) + "'.", line};
}

TsqlError Unsupported(std::string_view construct, std::int32_t line) {
  return TsqlError{0, "HYC00", UnsupportedMessage(construct, line), line};
}

// The SQLite text of one token.
std::string Emit(const Token& t) {
  switch (t.kind) {
    case TokenKind::QuotedName:
    case TokenKind::TempName:
      return QuoteName(t.text);
    case TokenKind::String:
      return QuoteSqlText(t.text);
    case TokenKind::Variable:
      return ToUpperAscii(t.text);
    default:
      return t.text;
  }
}

std::string Join(const std::vector<Token>& tokens, std::size_t begin, std::size_t end) {
  std::string out;
  for (std::size_t i = begin; i < end && i < tokens.size(); ++i) {
    // Blanks stay where the batch had them, so that result columns keep the names SQLite derives from
    // the text as written.
    if (!out.empty() && tokens[i].spaceBefore) out += ' ';
    out += Emit(tokens[i]);
  }
  return out;
}

std::int64_t ParseInteger(std::string_view text, std::int32_t line) {
  std::int64_t value = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || p != text.data() + text.size()) throw SyntaxError(text, line);
  return value;
}

}  // namespace

std::string UnsupportedMessage(std::string_view construct, std::int32_t line) {
  return "Unsupported T-SQL at line " + std::to_string(line) + ": " + std::string(construct) +
         " is outside the subset the embedded provider runs (see docs/tsql-subset.md); nothing of the batch "
         "was run.";
}

TypeInfo TypeFromDeclaration(std::string_view declaredType) {
  TypeInfo info;
  std::string_view text = TrimWhitespace(declaredType);
  std::size_t wordEnd = 0;
  while (wordEnd < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[wordEnd])) != 0 || text[wordEnd] == '_')) {
    ++wordEnd;
  }
  const std::string word = ToUpperAscii(text.substr(0, wordEnd));
  std::vector<std::int32_t> args;
  std::size_t open = text.find('(');
  if (open != std::string_view::npos) {
    std::size_t close = text.find(')', open);
    std::string_view inside =
        text.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
    std::size_t start = 0;
    while (start <= inside.size()) {
      std::size_t comma = inside.find(',', start);
      std::string_view part = TrimWhitespace(
          inside.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
      std::int32_t value = -1;
      std::from_chars(part.data(), part.data() + part.size(), value);
      args.push_back(value);
      if (comma == std::string_view::npos) break;
      start = comma + 1;
    }
  }
  if (word == "INT" || word == "INTEGER" || word == "SMALLINT" || word == "TINYINT" || word == "BIGINT") {
    info.kind = ValueKind::Integer;
  } else if (word == "BIT") {
    info.kind = ValueKind::Bit;
  } else if (word == "DECIMAL" || word == "NUMERIC" || word == "DEC") {
    info.kind = ValueKind::Decimal;
    info.scale = args.size() >= 2 && args[1] >= 0 ? args[1] : 0;
  } else if (word == "MONEY" || word == "SMALLMONEY") {
    info.kind = ValueKind::Decimal;
    info.scale = 4;
  } else if (word == "FLOAT" || word == "REAL" || word == "DOUBLE") {
    info.kind = ValueKind::Float;
  } else if (word == "VARCHAR" || word == "NVARCHAR" || word == "CHAR" || word == "NCHAR" || word == "TEXT" ||
             word == "NTEXT") {
    info.kind = ValueKind::Text;
    if (!args.empty()) info.length = args[0];
    if ((word == "CHAR" || word == "NCHAR") && args.empty()) info.length = 1;
  } else if (word == "DATETIME" || word == "SMALLDATETIME" || word == "DATE" || word == "DATETIME2") {
    info.kind = ValueKind::DateTime;
  }
  return info;
}

namespace {

class Translator {
 public:
  explicit Translator(std::vector<Token> tokens) : t_(std::move(tokens)) {}
  Translator(BatchTokenizer& tokenizer, std::size_t tokensAtOnce)
      : tokenizer_(&tokenizer), tokensAtOnce_(std::max<std::size_t>(tokensAtOnce, 1)) {}

  // Top-level statements are read and translated one after another, with only the tokens of the statement
  // at hand (and a few beyond it) in memory. A statement that met the end of the tokens read so far, or
  // failed there, is translated again with more of the batch: its translation must be the one the whole
  // batch would give, its error too (an unclosed quote further on is the batch's error).
  Plan Run() {
    Plan plan;
    std::size_t pos = 0;
    while (HaveToken(pos)) {
      if (t_[pos].IsPunct(';')) {
        ++pos;
        continue;
      }
      const std::size_t begin = pos;
      const std::size_t declarations = newlyDeclared_.size();
      auto undo = [&] {
        while (newlyDeclared_.size() > declarations) {
          declared_.erase(newlyDeclared_.back());
          newlyDeclared_.pop_back();
        }
        pos = begin;
      };
      std::optional<Statement> statement;
      try {
        statement = ParseStatement(pos, t_.size());
      } catch (const TsqlError&) {
        if (Complete()) throw;
        undo();
        ReadMore();
        continue;
      }
      if (!Complete() && pos + kTokensBeyondStatement > t_.size()) {
        undo();
        ReadMore();
        continue;
      }
      plan.statements.push_back(std::move(*statement));
      if (tokenizer_ != nullptr && pos >= tokensAtOnce_) {
        t_.erase(t_.begin(), t_.begin() + static_cast<std::ptrdiff_t>(pos));
        pos = 0;
      }
    }
    plan.statements.shrink_to_fit();
    return plan;
  }

 private:
  // IF looks one token past its statement for ELSE; a few more keep every such look inside what was read.
  static constexpr std::size_t kTokensBeyondStatement = 8;

  bool Complete() const { return tokenizer_ == nullptr || tokenizer_->Done(); }

  // Reads on until `size` tokens are held or the batch is read to its end.
  void Load(std::size_t size) {
    while (!Complete() && t_.size() < size) tokenizer_->Read(t_, std::min(size - t_.size(), tokensAtOnce_));
  }

  // At least a stretch of tokens from `pos` on, so that most statements are read whole the first time.
  bool HaveToken(std::size_t pos) {
    Load(pos + tokensAtOnce_);
    return pos < t_.size();
  }

  // For a statement longer than what is held: twice as many tokens each time, so that a long statement is
  // translated again only a few times.
  void ReadMore() { Load(t_.size() + std::max(tokensAtOnce_, t_.size())); }

 private:
  const Token& At(std::size_t i) const {
    static const Token kEnd = MakeToken(TokenKind::Punct, "", 0);
    return i < t_.size() ? t_[i] : kEnd;
  }
  std::int32_t LineAt(std::size_t i) const {
    return i < t_.size() ? t_[i].line : (t_.empty() ? 1 : t_.back().line);
  }

  // Index of the first token after `begin` that starts another statement, or `limit`.
  std::size_t StatementEnd(std::size_t begin, std::size_t limit) const {
    const std::string first = ToUpperAscii(t_[begin].text);
    int depth = 0;
    int caseDepth = 0;
    bool insertSourceSeen = false;
    bool updateSetSeen = false;
    for (std::size_t i = begin + 1; i < limit; ++i) {
      const Token& tok = t_[i];
      if (tok.IsPunct('(')) {
        ++depth;
        continue;
      }
      if (tok.IsPunct(')')) {
        if (--depth < 0) return i;
        continue;
      }
      if (depth > 0) continue;
      if (tok.IsPunct(';')) return i;
      if (tok.kind != TokenKind::Word) continue;
      if (tok.IsWord("CASE")) {
        ++caseDepth;
        continue;
      }
      if (tok.IsWord("END")) {
        if (caseDepth > 0) {
          --caseDepth;
          continue;
        }
        return i;
      }
      if (caseDepth > 0) continue;
      if (first == "INSERT" && (tok.IsWord("VALUES") || tok.IsWord("DEFAULT"))) insertSourceSeen = true;
      if (!IsStatementKeyword(tok)) continue;
      const Token& prev = t_[i - 1];
      if (tok.IsWord("SELECT")) {
        if (prev.IsWord("UNION") || prev.IsWord("ALL") || prev.IsWord("EXCEPT") || prev.IsWord("INTERSECT"))
          continue;
        if (first == "INSERT" && !insertSourceSeen) {
          insertSourceSeen = true;
          continue;
        }
      }
      if (tok.IsWord("SET") && first == "UPDATE" && !updateSetSeen) {
        updateSetSeen = true;
        continue;
      }
      if (tok.IsWord("IF") && first == "DROP" && (prev.IsWord("TABLE") || prev.IsWord("INDEX"))) continue;
      return i;
    }
    return limit;
  }

  Statement ParseStatement(std::size_t& pos, std::size_t limit) {
    const Token& head = t_[pos];
    const std::int32_t line = head.line;
    if (head.kind != TokenKind::Word) {
      if (head.IsPunct('(')) throw Unsupported("a statement starting with '('", line);
      throw SyntaxError(Emit(head), line);
    }
    const std::string word = ToUpperAscii(head.text);
    if (word == "SELECT") return ParseSelect(pos, limit);
    if (word == "INSERT") return ParseInsert(pos, limit);
    if (word == "UPDATE") return ParseUpdate(pos, limit);
    if (word == "DELETE") return ParseDelete(pos, limit);
    if (word == "CREATE") return ParseCreate(pos, limit);
    if (word == "DROP") return ParseDrop(pos, limit);
    if (word == "TRUNCATE") return ParseTruncate(pos, limit);
    if (word == "DECLARE") return ParseDeclare(pos, limit);
    if (word == "SET") return ParseSet(pos, limit);
    if (word == "IF" || word == "BEGIN") {
      // IF and BEGIN...END nest by recursion; a hostile batch must meet the server's limit, not the stack's.
      if (nestingDepth_ >= kMaxNestingDepth) {
        throw TsqlError{
            191, "42000",
            "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
            "into smaller queries.",
            line};
      }
      ++nestingDepth_;
      struct Leave {
        int& depth;
        ~Leave() { --depth; }
      } leave{nestingDepth_};
      return word == "IF" ? ParseIf(pos, limit) : ParseBegin(pos, limit);
    }
    if (word == "DBCC") return ParseDbcc(pos, limit);
    if (word == "PRINT") {
      std::size_t end = StatementEnd(pos, limit);
      Translate(pos + 1, end);  // the variables it names must be declared
      Statement s{};
      s.kind = StatementKind::NoOp;
      s.line = line;
      pos = end;
      return s;
    }
    if (word == "ELSE" || word == "END") throw KeywordError(word, line);
    if (word == "EXEC" || word == "EXECUTE") throw Unsupported("EXECUTE", line);
    if (word == "COMMIT" || word == "ROLLBACK" || word == "SAVE")
      throw Unsupported(word + " TRANSACTION", line);
    if (word == "ALTER") throw Unsupported("ALTER " + ToUpperAscii(At(pos + 1).text), line);
    if (IsStatementKeyword(head)) throw Unsupported(word, line);
    throw Unsupported("a statement starting with '" + head.text + "' (a procedure call)", line);
  }

  // ---- shared pieces --------------------------------------------------------------------------------------

  struct ObjectName {
    std::string name;
    bool temporary = false;
  };

  bool IsNameToken(const Token& t) const {
    return t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName || t.kind == TokenKind::TempName;
  }

  // [db.][schema.]name, with the schema dbo dropped. Other databases are outside the subset.
  ObjectName ParseObjectName(std::size_t& pos) const {
    std::vector<std::string> parts;
    const std::int32_t line = LineAt(pos);
    while (true) {
      const Token& t = At(pos);
      if (!IsNameToken(t))
        throw SyntaxError(t.text.empty() ? std::string("the end of the batch") : Emit(t), line);
      parts.push_back(t.text);
      ++pos;
      if (!At(pos).IsPunct('.')) break;
      ++pos;
      while (At(pos).IsPunct('.')) {
        parts.emplace_back();
        ++pos;
      }
    }
    if (parts.size() > 3) throw SyntaxError(parts.back(), line);
    if (parts.size() == 3) {
      if (!EqualsIgnoringCase(parts[0], "tempdb") || parts[2].empty() || parts[2][0] != '#') {
        throw Unsupported("a name in another database ('" + parts[0] + "')", line);
      }
    }
    if (parts.size() >= 2 && !parts[parts.size() - 2].empty() &&
        !EqualsIgnoringCase(parts[parts.size() - 2], "dbo")) {
      throw Unsupported("the schema '" + parts[parts.size() - 2] + "'", line);
    }
    ObjectName name;
    name.name = parts.back();
    name.temporary = !name.name.empty() && name.name[0] == '#';
    if (name.name.size() > 1 && name.name[1] == '#')
      throw Unsupported("the global temporary table " + name.name, line);
    return name;
  }

  std::string QuotedTarget(const ObjectName& name) const { return QuoteName(name.name); }

  std::size_t MatchParen(std::size_t open, std::size_t limit) const {
    int depth = 0;
    for (std::size_t i = open; i < limit; ++i) {
      if (t_[i].IsPunct('(')) ++depth;
      if (t_[i].IsPunct(')') && --depth == 0) return i;
    }
    throw SyntaxError(Emit(t_[open]), t_[open].line);
  }

  void CheckVariable(const Token& t) const {
    if (declared_.count(ToUpperAscii(t.text)) == 0) {
      throw TsqlError{137, "42000", "Must declare the scalar variable \"" + t.text + "\".", t.line};
    }
  }

  // ---- expression translation -----------------------------------------------------------------------------

  static std::size_t MatchForward(const std::vector<Token>& v, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < v.size(); ++i) {
      if (v[i].IsPunct('(')) ++depth;
      if (v[i].IsPunct(')') && --depth == 0) return i;
    }
    return v.size() - 1;
  }

  static std::size_t MatchBackward(const std::vector<Token>& v, std::size_t close) {
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
      if (v[i].IsPunct(')')) ++depth;
      if (v[i].IsPunct('(') && --depth == 0) return i;
    }
    return 0;
  }

  static bool EndsOperand(const Token& t) {
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

  // One past the last token of the operand that starts at `i`.
  static std::size_t OperandEnd(const std::vector<Token>& v, std::size_t i) {
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

  // First token of the operand whose last token is `i`.
  static std::size_t OperandStart(const std::vector<Token>& v, std::size_t i) {
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

  // a / b and a % b become calls that raise SQL Server's divide-by-zero error.
  static void RewriteDivision(std::vector<Token>& v) {
    while (true) {
      std::size_t op = v.size();
      for (std::size_t i = 1; i + 1 < v.size(); ++i) {
        if ((v[i].IsOperator("/") || v[i].IsOperator("%")) && EndsOperand(v[i - 1])) {
          op = i;
          break;
        }
      }
      if (op == v.size()) return;
      std::size_t start = OperandStart(v, op - 1);
      while (start >= 2 && v[start - 1].IsOperator("*") && EndsOperand(v[start - 2])) {
        start = OperandStart(v, start - 2);
      }
      const std::size_t end = OperandEnd(v, op + 1);
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
  static std::vector<Token> CastCall(const std::vector<Token>& expr, const std::vector<Token>& type,
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
    switch (info.kind) {
      case ValueKind::Integer:
        wrap("cw_to_integer", std::nullopt);
        break;
      case ValueKind::Bit:
        wrap("cw_to_bit", std::nullopt);
        break;
      case ValueKind::Decimal:
        wrap("cw_to_decimal", info.scale);
        break;
      case ValueKind::Float:
        wrap("cw_to_float", std::nullopt);
        break;
      case ValueKind::Text:
        wrap("cw_to_text",
             info.length > 0 ? info.length : (typeText.find('(') == std::string::npos ? 30 : -1));
        break;
      case ValueKind::DateTime:
        wrap("cw_datetime", std::nullopt);
        break;
      case ValueKind::Other:
        throw Unsupported("conversion to " + typeText, line);
    }
    return out;
  }

  static void RewriteCasts(std::vector<Token>& v) {
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

  // Translates tokens [begin, end) of an expression or clause into SQLite text.
  std::string Translate(std::size_t begin, std::size_t end) const {
    // Only divisions and conversions need the tokens rearranged; everything else (such as the long VALUES
    // lists of a bulk load) is written straight out.
    bool rearrange = false;
    for (std::size_t i = begin; i < end && !rearrange; ++i) {
      const Token& t = t_[i];
      rearrange = t.IsOperator("/") || t.IsOperator("%") ||
                  (t.kind == TokenKind::Word && (t.IsWord("CAST") || t.IsWord("CONVERT") ||
                                                 t.IsWord("TRY_CAST") || t.IsWord("TRY_CONVERT")));
    }
    std::vector<Token> v;
    std::string out;
    if (rearrange) v.reserve(end - begin + 8);
    // A dropped token leaves its blank to the token after it.
    bool carrySpace = false;
    auto push = [&](const Token& token) {
      const bool space = token.spaceBefore || carrySpace;
      carrySpace = false;
      if (rearrange) {
        v.push_back(token);
        v.back().spaceBefore = space;
        return;
      }
      if (!out.empty() && space) out += ' ';
      if (token.kind == TokenKind::Word || token.kind == TokenKind::Number ||
          token.kind == TokenKind::Operator || token.kind == TokenKind::Punct) {
        out += token.text;
      } else {
        out += Emit(token);
      }
    };
    for (std::size_t i = begin; i < end; ++i) {
      const Token& t = t_[i];
      const bool call = At(i + 1).IsPunct('(');
      switch (t.kind) {
        case TokenKind::Variable:
          CheckVariable(t);
          push(t);
          continue;
        case TokenKind::SystemVariable: {
          const std::string name = ToUpperAscii(t.text);
          std::string replacement;
          if (name == "@@ROWCOUNT")
            replacement = "cw_rowcount()";
          else if (name == "@@IDENTITY")
            replacement = "cw_identity_last()";
          else if (name == "@@TRANCOUNT")
            replacement = "cw_trancount()";
          else if (name == "@@ERROR")
            replacement = "0";
          else
            throw Unsupported(name, t.line);
          push(MakeToken(TokenKind::Word, replacement, t.line));
          continue;
        }
        case TokenKind::TempName:
          if (t.text.size() > 1 && t.text[1] == '#')
            throw Unsupported("the global temporary table " + t.text, t.line);
          push(t);
          continue;
        case TokenKind::Operator:
          if (t.text == "!<") {
            push(MakeToken(TokenKind::Operator, ">=", t.line));
          } else if (t.text == "!>") {
            push(MakeToken(TokenKind::Operator, "<=", t.line));
          } else if (t.text == "+=" || t.text == "-=" || t.text == "*=" || t.text == "/=" || t.text == "%=" ||
                     t.text == "::") {
            throw Unsupported("the operator " + t.text, t.line);
          } else {
            push(t);
          }
          continue;
        case TokenKind::Word:
          break;
        default:
          push(t);
          continue;
      }
      // Words.
      if ((t.IsWord("dbo")) && At(i + 1).IsPunct('.') && IsNameToken(At(i + 2))) {
        ++i;  // drop "dbo."
        carrySpace = t.spaceBefore;
        continue;
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
          i = j;
          carrySpace = t.spaceBefore;
          continue;
        }
      }
      // An alias may be a word SQLite reserves (NOTHING, ACTION, ...): quote it.
      if (i > begin && t_[i - 1].IsWord("AS") && !call && !InList(t.text, kNonOperandWords)) {
        Token alias = t;
        alias.kind = TokenKind::QuotedName;
        push(std::move(alias));
        continue;
      }
      if (t.IsWord("CURRENT_TIMESTAMP")) {
        push(MakeToken(TokenKind::Word, "cw_getdate()", t.line));
        continue;
      }
      if (t.IsWord("OPENROWSET") || t.IsWord("OPENQUERY") || t.IsWord("OPENXML") || t.IsWord("PIVOT") ||
          t.IsWord("UNPIVOT") || t.IsWord("OUTPUT") || t.IsWord("NEWID")) {
        throw Unsupported(ToUpperAscii(t.text), t.line);
      }
      if (t.IsWord("APPLY") && i > begin && (t_[i - 1].IsWord("CROSS") || t_[i - 1].IsWord("OUTER"))) {
        throw Unsupported(ToUpperAscii(t_[i - 1].text) + " APPLY", t.line);
      }
      if (call) {
        static constexpr std::pair<std::string_view, std::string_view> kFunctions[] = {
            {"ISNULL", "ifnull"},
            {"OBJECT_ID", "cw_object_id"},
            {"LEN", "cw_len"},
            {"GETDATE", "cw_getdate"},
            {"LEFT", "cw_left"},
            {"RIGHT", "cw_right"},
            {"SUBSTRING", "substr"},
            {"CHARINDEX", "cw_charindex"},
            {"LOG", "ln"},
            {"YEAR", "cw_year"},
            {"MONTH", "cw_month"},
            {"DAY", "cw_day"},
            {"SCOPE_IDENTITY", "cw_identity_last"},
            {"REPLICATE", "cw_replicate"},
            {"SPACE", "cw_space"}};
        bool renamed = false;
        for (const auto& [from, to] : kFunctions) {
          if (t.IsWord(from)) {
            Token renamedToken = MakeToken(TokenKind::Word, std::string(to), t.line);
            renamedToken.spaceBefore = t.spaceBefore;
            push(std::move(renamedToken));
            renamed = true;
            break;
          }
        }
        if (renamed) continue;
      }
      push(t);
    }
    if (!rearrange) return out;
    RewriteCasts(v);
    RewriteDivision(v);
    return Join(v, 0, v.size());
  }

  // ---- statements -----------------------------------------------------------------------------------------

  void RefuseSelectExtensions(std::size_t begin, std::size_t end, bool allowTop) const {
    int depth = 0;
    for (std::size_t i = begin; i < end; ++i) {
      if (t_[i].IsPunct('(')) ++depth;
      if (t_[i].IsPunct(')')) --depth;
      if (depth != 0) continue;
      if (t_[i].IsWord("INTO")) throw Unsupported("SELECT ... INTO", t_[i].line);
      if (!allowTop && t_[i].IsWord("TOP")) throw Unsupported("TOP", t_[i].line);
      if (t_[i].IsWord("FOR") &&
          (At(i + 1).IsWord("XML") || At(i + 1).IsWord("JSON") || At(i + 1).IsWord("BROWSE"))) {
        throw Unsupported("FOR " + ToUpperAscii(At(i + 1).text), t_[i].line);
      }
    }
  }

  Statement ParseSelect(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.line = t_[begin].line;
    if (At(begin + 1).kind == TokenKind::Variable && At(begin + 2).IsOperator("=")) {
      return ParseAssignment(begin, end);
    }
    RefuseSelectExtensions(begin + 1, end, true);
    // TOP n at the head of a plain SELECT becomes LIMIT n.
    std::size_t topAt = begin + 1;
    if (At(topAt).IsWord("DISTINCT") || At(topAt).IsWord("ALL")) ++topAt;
    std::string limitClause;
    std::string sql;
    if (At(topAt).IsWord("TOP")) {
      std::size_t countAt = topAt + 1;
      std::size_t after = countAt + 1;
      std::string count;
      if (At(countAt).IsPunct('(')) {
        const std::size_t close = MatchParen(countAt, end);
        count = Translate(countAt + 1, close);
        after = close + 1;
      } else if (At(countAt).kind == TokenKind::Number || At(countAt).kind == TokenKind::Variable) {
        count = Translate(countAt, countAt + 1);
      } else {
        throw SyntaxError("TOP", t_[topAt].line);
      }
      if (At(after).IsWord("PERCENT") || (At(after).IsWord("WITH") && At(after + 1).IsWord("TIES"))) {
        throw Unsupported("TOP ... " + ToUpperAscii(At(after).text), t_[topAt].line);
      }
      int depth = 0;
      for (std::size_t i = after; i < end; ++i) {
        if (t_[i].IsPunct('(')) ++depth;
        if (t_[i].IsPunct(')')) --depth;
        if (depth == 0 && (t_[i].IsWord("UNION") || t_[i].IsWord("EXCEPT") || t_[i].IsWord("INTERSECT") ||
                           t_[i].IsWord("TOP"))) {
          throw Unsupported("TOP with " + ToUpperAscii(t_[i].text), t_[i].line);
        }
      }
      sql = Translate(begin, topAt) + " " + Translate(after, end) + " LIMIT " + count;
    } else {
      RefuseSelectExtensions(begin + 1, end, false);
      sql = Translate(begin, end);
    }
    s.kind = StatementKind::Sql;
    s.returnsRows = true;
    s.sql = std::move(sql);
    s.syntaxChecked = true;
    return s;
  }

  // SELECT @a = expr, @b = expr [FROM ...]: runs as SELECT expr, expr [FROM ...]; the last row wins.
  Statement ParseAssignment(std::size_t begin, std::size_t end) {
    Statement s{};
    s.kind = StatementKind::Assign;
    s.line = t_[begin].line;
    std::vector<std::string> items;
    std::size_t i = begin + 1;
    std::size_t clauseAt = end;
    while (i < end) {
      const Token& var = t_[i];
      if (var.kind != TokenKind::Variable || !At(i + 1).IsOperator("=")) {
        throw TsqlError{141, "42000",
                        "A SELECT statement that assigns a value to a variable must not be combined with "
                        "data-retrieval operations.",
                        var.line};
      }
      CheckVariable(var);
      s.targets.push_back(ToUpperAscii(var.text));
      const std::size_t exprBegin = i + 2;
      int depth = 0;
      int caseDepth = 0;
      std::size_t j = exprBegin;
      bool more = false;
      for (; j < end; ++j) {
        const Token& t = t_[j];
        if (t.IsPunct('(')) ++depth;
        if (t.IsPunct(')')) --depth;
        if (depth != 0) continue;
        if (t.IsWord("CASE")) ++caseDepth;
        if (t.IsWord("END") && caseDepth > 0) --caseDepth;
        if (caseDepth > 0) continue;
        if (t.IsPunct(',')) {
          more = true;
          break;
        }
        if (t.IsWord("FROM") || t.IsWord("WHERE") || t.IsWord("GROUP") || t.IsWord("HAVING") ||
            t.IsWord("ORDER") || t.IsWord("UNION") || t.IsWord("EXCEPT") || t.IsWord("INTERSECT") ||
            t.IsWord("INTO")) {
          break;
        }
      }
      if (j == exprBegin) throw SyntaxError("=", var.line);
      items.push_back(Translate(exprBegin, j));
      if (!more) {
        clauseAt = j;
        break;
      }
      i = j + 1;
    }
    RefuseSelectExtensions(clauseAt, end, false);
    std::string sql = "SELECT ";
    for (std::size_t k = 0; k < items.size(); ++k) {
      if (k > 0) sql += ", ";
      sql += items[k];
    }
    if (clauseAt < end) sql += " " + Translate(clauseAt, end);
    s.sql = std::move(sql);
    s.syntaxChecked = true;
    return s;
  }

  Statement ParseInsert(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.kind = StatementKind::Insert;
    s.line = t_[begin].line;
    std::size_t i = begin + 1;
    if (At(i).IsWord("INTO")) ++i;
    if (At(i).IsWord("TOP")) throw Unsupported("INSERT TOP", t_[i].line);
    const ObjectName target = ParseObjectName(i);
    InsertTarget insert;
    insert.table = target.name;
    insert.head = "INSERT INTO " + QuotedTarget(target);
    std::string source;
    if (At(i).IsWord("WITH") && At(i + 1).IsPunct('(')) i = MatchParen(i + 1, end) + 1;
    if (At(i).IsPunct('(')) {
      const std::size_t close = MatchParen(i, end);
      insert.hasColumnList = true;
      for (std::size_t j = i + 1; j < close; ++j) {
        if (t_[j].IsPunct(',')) continue;
        if (t_[j].kind != TokenKind::Word && t_[j].kind != TokenKind::QuotedName)
          throw SyntaxError(Emit(t_[j]), t_[j].line);
        insert.columns.push_back(t_[j].text);
      }
      i = close + 1;
    }
    if (At(i).IsWord("OUTPUT")) throw Unsupported("OUTPUT", t_[i].line);
    if (At(i).IsWord("EXEC") || At(i).IsWord("EXECUTE")) throw Unsupported("INSERT ... EXECUTE", t_[i].line);
    if (At(i).IsWord("DEFAULT") && At(i + 1).IsWord("VALUES")) {
      insert.defaultValues = true;
      source = "DEFAULT VALUES";
      if (i + 2 != end) throw SyntaxError(Emit(At(i + 2)), LineAt(i + 2));
    } else if (At(i).IsWord("VALUES")) {
      insert.valuesSource = true;
      source = Translate(i, end);
    } else if (At(i).IsWord("SELECT") || At(i).IsPunct('(')) {
      RefuseSelectExtensions(i + 1, end, false);
      source = Translate(i, end);
    } else {
      throw SyntaxError(i < end ? Emit(t_[i]) : std::string("the end of the statement"), LineAt(i));
    }
    std::string columnList;
    if (insert.hasColumnList) {
      columnList = "(";
      for (std::size_t k = 0; k < insert.columns.size(); ++k) {
        if (k > 0) columnList += ",";
        columnList += QuoteName(insert.columns[k]);
      }
      columnList += ")";
    }
    s.sql = insert.head + (columnList.empty() ? "" : " " + columnList) + " " + source;
    // The source is the end of the statement's text; a copy script holds thousands of them.
    insert.sourceOffset = s.sql.size() - source.size();
    s.table = insert.table;
    s.insert = std::move(insert);
    s.syntaxChecked = true;
    return s;
  }

  Statement ParseUpdate(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.kind = StatementKind::Sql;
    s.isUpdate = true;
    s.line = t_[begin].line;
    std::size_t i = begin + 1;
    if (At(i).IsWord("TOP")) throw Unsupported("UPDATE TOP", t_[i].line);
    const ObjectName target = ParseObjectName(i);
    s.table = target.name;
    s.sql = "UPDATE " + QuotedTarget(target) + " " + Translate(i, end);
    s.syntaxChecked = true;
    return s;
  }

  Statement ParseDelete(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.kind = StatementKind::Sql;
    s.line = t_[begin].line;
    std::size_t i = begin + 1;
    if (At(i).IsWord("TOP")) throw Unsupported("DELETE TOP", t_[i].line);
    if (At(i).IsWord("FROM")) ++i;  // FROM is optional in T-SQL
    const ObjectName target = ParseObjectName(i);
    if (At(i).IsWord("FROM")) throw Unsupported("DELETE with a second FROM clause", t_[i].line);
    if (At(i).IsWord("OUTPUT")) throw Unsupported("OUTPUT", t_[i].line);
    s.table = target.name;
    s.sql = "DELETE FROM " + QuotedTarget(target) + (i < end ? " " + Translate(i, end) : std::string());
    s.syntaxChecked = true;
    return s;
  }

  Statement ParseTruncate(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    std::size_t i = begin + 1;
    if (!At(i).IsWord("TABLE")) throw SyntaxError(Emit(At(i)), LineAt(i));
    ++i;
    const ObjectName target = ParseObjectName(i);
    if (i != end) throw SyntaxError(Emit(t_[i]), t_[i].line);
    Statement s{};
    s.kind = StatementKind::Truncate;
    s.line = t_[begin].line;
    s.table = target.name;
    return s;
  }

  Statement ParseDrop(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.line = t_[begin].line;
    std::size_t i = begin + 1;
    const bool table = At(i).IsWord("TABLE");
    const bool index = At(i).IsWord("INDEX");
    if (!table && !index) throw Unsupported("DROP " + ToUpperAscii(At(i).text), s.line);
    ++i;
    if (At(i).IsWord("IF") && At(i + 1).IsWord("EXISTS")) {
      s.on = true;
      i += 2;
    }
    if (table) {
      const ObjectName target = ParseObjectName(i);
      if (At(i).IsPunct(',')) throw Unsupported("DROP TABLE of several tables", s.line);
      if (i != end) throw SyntaxError(Emit(t_[i]), t_[i].line);
      s.kind = StatementKind::DropTable;
      s.table = target.name;
      return s;
    }
    // DROP INDEX t.ix or DROP INDEX ix ON t
    std::vector<std::string> parts;
    while (i < end && IsNameToken(t_[i])) {
      parts.push_back(t_[i].text);
      ++i;
      if (At(i).IsPunct('.')) ++i;
    }
    std::string indexName;
    if (At(i).IsWord("ON")) {
      ++i;
      const ObjectName target = ParseObjectName(i);
      if (parts.size() != 1) throw SyntaxError("INDEX", s.line);
      s.table = target.name;
      indexName = parts[0];
    } else {
      if (parts.size() < 2) throw SyntaxError("INDEX", s.line);
      s.table = parts[parts.size() - 2];
      indexName = parts.back();
    }
    if (i != end) throw SyntaxError(Emit(t_[i]), t_[i].line);
    s.kind = StatementKind::DropIndex;
    const bool temporary = !s.table.empty() && s.table[0] == '#';
    s.sql = std::string("DROP INDEX ") + (s.on ? "IF EXISTS " : "") + (temporary ? "temp." : "") +
            QuoteName(s.table + "." + indexName);
    return s;
  }

  Statement ParseDeclare(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.kind = StatementKind::Declare;
    s.line = t_[begin].line;
    std::size_t i = begin + 1;
    while (i < end) {
      const Token& var = t_[i];
      if (var.kind != TokenKind::Variable) {
        if (var.kind == TokenKind::Word && At(i + 1).IsWord("CURSOR")) throw Unsupported("cursors", var.line);
        throw SyntaxError(Emit(var), var.line);
      }
      ++i;
      if (At(i).IsWord("AS")) ++i;
      if (At(i).IsWord("TABLE")) throw Unsupported("table variables", var.line);
      if (At(i).IsWord("CURSOR")) throw Unsupported("cursors", var.line);
      if (At(i).kind != TokenKind::Word) throw SyntaxError(Emit(At(i)), LineAt(i));
      std::string typeText = t_[i].text;
      ++i;
      if (At(i).IsPunct('(')) {
        const std::size_t close = MatchParen(i, end);
        for (std::size_t j = i; j <= close; ++j) typeText += t_[j].text;
        i = close + 1;
      }
      VariableDeclaration declaration;
      declaration.name = ToUpperAscii(var.text);
      declaration.type = TypeFromDeclaration(typeText);
      if (declaration.type.kind == ValueKind::Other)
        throw Unsupported("variables of type " + typeText, var.line);
      if (At(i).IsOperator("=")) {
        std::size_t j = i + 1;
        int depth = 0;
        for (; j < end; ++j) {
          if (t_[j].IsPunct('(')) ++depth;
          if (t_[j].IsPunct(')')) --depth;
          if (depth == 0 && t_[j].IsPunct(',')) break;
        }
        declaration.initializer = "SELECT " + Translate(i + 1, j);
        declaration.line = var.line;
        i = j;
      }
      if (declared_.count(declaration.name) != 0) {
        throw TsqlError{134, "42000",
                        "The variable name '" + var.text +
                            "' has already been declared. Variable names must be unique within a query batch "
                            "or stored procedure.",
                        var.line};
      }
      declared_.insert(declaration.name);
      newlyDeclared_.push_back(declaration.name);
      s.declarations.push_back(std::move(declaration));
      if (At(i).IsPunct(',')) {
        ++i;
        continue;
      }
      if (i != end) throw SyntaxError(Emit(t_[i]), t_[i].line);
    }
    if (s.declarations.empty()) throw SyntaxError("DECLARE", s.line);
    return s;
  }

  Statement ParseSet(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.line = t_[begin].line;
    const Token& option = At(begin + 1);
    if (option.kind == TokenKind::Variable) {
      if (!At(begin + 2).IsOperator("="))
        throw Unsupported("SET " + option.text + " " + At(begin + 2).text, s.line);
      CheckVariable(option);
      s.kind = StatementKind::Assign;
      s.targets.push_back(ToUpperAscii(option.text));
      s.sql = "SELECT " + Translate(begin + 3, end);
      s.syntaxChecked = true;
      s.syntaxChecked = true;
      return s;
    }
    auto words = [&](std::size_t from) {
      std::string text;
      for (std::size_t i = from; i < end; ++i) {
        if (!text.empty()) text += ' ';
        text += ToUpperAscii(t_[i].text);
      }
      return text;
    };
    const std::string name = ToUpperAscii(option.text);
    const std::string rest = words(begin + 2);
    s.kind = StatementKind::NoOp;
    if (name == "NOCOUNT" && (rest == "ON" || rest == "OFF")) return s;
    if (name == "TRANSACTION") {
      static constexpr std::string_view kLevels[] = {
          "ISOLATION LEVEL READ COMMITTED", "ISOLATION LEVEL READ UNCOMMITTED",
          "ISOLATION LEVEL REPEATABLE READ", "ISOLATION LEVEL SERIALIZABLE", "ISOLATION LEVEL SNAPSHOT"};
      if (InList(rest, kLevels)) return s;
      throw SyntaxError(rest, s.line);
    }
    if (name == "IDENTITY_INSERT") {
      std::size_t i = begin + 2;
      const ObjectName target = ParseObjectName(i);
      if (!(At(i).IsWord("ON") || At(i).IsWord("OFF")) || i + 1 != end)
        throw SyntaxError(Emit(At(i)), s.line);
      s.kind = StatementKind::SetIdentityInsert;
      s.table = target.name;
      s.on = At(i).IsWord("ON");
      return s;
    }
    static constexpr std::string_view kHarmlessWhenOn[] = {
        "ANSI_NULLS", "QUOTED_IDENTIFIER", "ANSI_WARNINGS", "ANSI_PADDING", "CONCAT_NULL_YIELDS_NULL",
        "ARITHABORT", "ANSI_NULL_DFLT_ON"};
    if (InList(name, kHarmlessWhenOn) && rest == "ON") return s;
    if (name == "XACT_ABORT" && rest == "OFF") return s;
    throw Unsupported("SET " + name + (rest.empty() ? "" : " " + rest), s.line);
  }

  Statement ParseIf(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    Statement s{};
    s.kind = StatementKind::If;
    s.line = t_[begin].line;
    const std::size_t conditionEnd = StatementEnd(begin, limit);
    if (conditionEnd == begin + 1) throw KeywordError("IF", s.line);
    if (conditionEnd >= limit || t_[conditionEnd].IsPunct(';') || t_[conditionEnd].IsWord("END") ||
        t_[conditionEnd].IsWord("ELSE")) {
      throw SyntaxError(conditionEnd < limit ? Emit(t_[conditionEnd]) : Emit(t_[conditionEnd - 1]),
                        LineAt(conditionEnd));
    }
    s.sql = "SELECT CASE WHEN (" + Translate(begin + 1, conditionEnd) + ") THEN 1 ELSE 0 END";
    s.syntaxChecked = true;
    pos = conditionEnd;
    s.children.push_back(ParseStatement(pos, limit));
    std::size_t next = pos;
    while (next < limit && t_[next].IsPunct(';')) ++next;
    if (next < limit && t_[next].IsWord("ELSE")) {
      pos = next + 1;
      if (pos >= limit) throw KeywordError("ELSE", t_[next].line);
      s.children.push_back(ParseStatement(pos, limit));
    }
    return s;
  }

  Statement ParseBegin(std::size_t& pos, std::size_t limit) {
    const Token& next = At(pos + 1);
    const std::int32_t line = t_[pos].line;
    if (next.IsWord("TRAN") || next.IsWord("TRANSACTION") || next.IsWord("DISTRIBUTED")) {
      throw Unsupported("BEGIN TRANSACTION", line);
    }
    if (next.IsWord("TRY") || next.IsWord("CATCH"))
      throw Unsupported("BEGIN " + ToUpperAscii(next.text), line);
    Statement s{};
    s.kind = StatementKind::Block;
    s.line = line;
    ++pos;
    while (true) {
      while (pos < limit && t_[pos].IsPunct(';')) ++pos;
      if (pos >= limit) throw SyntaxError("BEGIN", line);
      if (t_[pos].IsWord("END")) {
        ++pos;
        break;
      }
      s.children.push_back(ParseStatement(pos, limit));
    }
    return s;
  }

  Statement ParseDbcc(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    Statement s{};
    s.line = t_[begin].line;
    if (!At(begin + 1).IsWord("CHECKIDENT"))
      throw Unsupported("DBCC " + ToUpperAscii(At(begin + 1).text), s.line);
    std::size_t i = begin + 2;
    if (!At(i).IsPunct('(')) throw SyntaxError("CHECKIDENT", s.line);
    const std::size_t close = MatchParen(i, end);
    std::vector<std::pair<std::size_t, std::size_t>> args;
    std::size_t argBegin = i + 1;
    int depth = 0;
    for (std::size_t j = i + 1; j <= close; ++j) {
      if (t_[j].IsPunct('(')) ++depth;
      if (t_[j].IsPunct(')')) --depth;
      if ((depth == 0 && t_[j].IsPunct(',')) || j == close) {
        args.emplace_back(argBegin, j);
        argBegin = j + 1;
      }
    }
    if (args.empty() || args[0].first == args[0].second) throw SyntaxError("(", s.line);
    // The table: a string ('dbo.t') or a name.
    if (t_[args[0].first].kind == TokenKind::String) {
      std::vector<Token> nameTokens = TokenizeBatch(t_[args[0].first].text);
      std::size_t k = 0;
      Translator inner(nameTokens);
      s.table = inner.ParseObjectName(k).name;
    } else {
      std::size_t k = args[0].first;
      s.table = ParseObjectName(k).name;
    }
    s.kind = StatementKind::CheckIdent;
    s.checkIdentMode = CheckIdentMode::Correct;
    if (args.size() >= 2) {
      const Token& mode = t_[args[1].first];
      if (mode.IsWord("RESEED")) {
        s.checkIdentMode = CheckIdentMode::Reseed;
        if (args.size() >= 3) {
          s.argument = "SELECT " + Translate(args[2].first, args[2].second);
        }
      } else if (mode.IsWord("NORESEED")) {
        s.checkIdentMode = CheckIdentMode::NoReseed;
      } else {
        throw SyntaxError(Emit(mode), mode.line);
      }
    }
    if (args.size() > 3) throw SyntaxError(",", s.line);
    i = close + 1;
    if (At(i).IsWord("WITH")) i += 2;
    if (i != end) throw SyntaxError(Emit(At(i)), LineAt(i));
    return s;
  }

  Statement ParseCreate(std::size_t& pos, std::size_t limit) {
    const std::size_t begin = pos;
    const std::size_t end = StatementEnd(pos, limit);
    pos = end;
    std::size_t i = begin + 1;
    if (At(i).IsWord("TABLE")) return ParseCreateTable(begin, end);
    bool unique = false;
    while (At(i).IsWord("UNIQUE") || At(i).IsWord("CLUSTERED") || At(i).IsWord("NONCLUSTERED")) {
      unique = unique || At(i).IsWord("UNIQUE");
      ++i;
    }
    if (!At(i).IsWord("INDEX")) throw Unsupported("CREATE " + ToUpperAscii(At(i).text), t_[begin].line);
    ++i;
    Statement s{};
    s.kind = StatementKind::CreateIndex;
    s.line = t_[begin].line;
    if (!IsNameToken(At(i))) throw SyntaxError(Emit(At(i)), LineAt(i));
    const std::string indexName = t_[i].text;
    ++i;
    if (!At(i).IsWord("ON")) throw SyntaxError(Emit(At(i)), LineAt(i));
    ++i;
    const ObjectName target = ParseObjectName(i);
    if (!At(i).IsPunct('(')) throw SyntaxError(Emit(At(i)), LineAt(i));
    const std::size_t close = MatchParen(i, end);
    std::string columns;
    for (std::size_t j = i + 1; j < close; ++j) {
      const Token& t = t_[j];
      if (t.IsPunct(',')) {
        columns += ", ";
      } else if (t.IsWord("ASC") || t.IsWord("DESC")) {
        columns += " " + ToUpperAscii(t.text);
      } else if (t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName) {
        columns += QuoteName(t.text);
      } else {
        throw SyntaxError(Emit(t), t.line);
      }
    }
    // INCLUDE, WITH (...) and ON <filegroup> only tune storage on the server.
    std::size_t j = close + 1;
    while (j < end) {
      if ((t_[j].IsWord("INCLUDE") || t_[j].IsWord("WITH")) && At(j + 1).IsPunct('(')) {
        j = MatchParen(j + 1, end) + 1;
      } else if (t_[j].IsWord("ON") && IsNameToken(At(j + 1))) {
        j += 2;
      } else if (t_[j].IsWord("WHERE")) {
        throw Unsupported("filtered indexes", t_[j].line);
      } else {
        throw SyntaxError(Emit(t_[j]), t_[j].line);
      }
    }
    s.table = target.name;
    s.sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
            (target.temporary ? "temp." : "") + QuoteName(target.name + "." + indexName) + " ON " +
            QuoteName(target.name) + "(" + columns + ")";
    s.syntaxChecked = true;
    return s;
  }

  // The expression after DEFAULT: a parenthesised expression, a function call, a signed number or one token.
  std::size_t DefaultEnd(std::size_t i, std::size_t limit) const {
    if (At(i).IsPunct('(')) return MatchParen(i, limit) + 1;
    if ((At(i).IsOperator("-") || At(i).IsOperator("+")) && At(i + 1).kind == TokenKind::Number) return i + 2;
    if (At(i).kind == TokenKind::Word && At(i + 1).IsPunct('(')) return MatchParen(i + 1, limit) + 1;
    return i + 1;
  }

  Statement ParseCreateTable(std::size_t begin, std::size_t end) {
    Statement s{};
    s.kind = StatementKind::CreateTable;
    s.line = t_[begin].line;
    std::size_t i = begin + 2;
    const ObjectName target = ParseObjectName(i);
    auto def = std::make_shared<CreateTableDefinition>();
    def->table = target.name;
    def->temporary = target.temporary;
    if (!At(i).IsPunct('(')) throw SyntaxError(Emit(At(i)), LineAt(i));
    const std::size_t close = MatchParen(i, end);
    // Trailing storage clauses (ON [PRIMARY], TEXTIMAGE_ON ...) do not matter here.
    for (std::size_t j = close + 1; j < end; ++j) {
      if (!(t_[j].IsWord("ON") || t_[j].IsWord("TEXTIMAGE_ON") || IsNameToken(t_[j]))) {
        throw SyntaxError(Emit(t_[j]), t_[j].line);
      }
    }
    // Split the elements at commas of depth 1.
    std::vector<std::pair<std::size_t, std::size_t>> elements;
    {
      std::size_t start = i + 1;
      int depth = 0;
      for (std::size_t j = i + 1; j <= close; ++j) {
        if (t_[j].IsPunct('(')) ++depth;
        if (t_[j].IsPunct(')')) --depth;
        if ((depth == 0 && t_[j].IsPunct(',')) || j == close) {
          if (j > start) elements.emplace_back(start, j);
          start = j + 1;
        }
      }
    }
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
    std::vector<ColumnText> columns;
    std::vector<std::string> tableConstraints;
    std::vector<std::string> primaryKeyColumns;
    std::string primaryKeyName;
    auto columnListAt = [&](std::size_t open, std::vector<std::string>& names) {
      const std::size_t closeList = MatchParen(open, end);
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
      return std::make_pair(text + ")", closeList + 1);
    };
    auto joinLower = [](const std::vector<std::string>& names) {
      std::string joined;
      for (const std::string& n : names) {
        if (!joined.empty()) joined += ",";
        joined += ToLowerAscii(n);
      }
      return joined;
    };
    auto skipIndexOptions = [&](std::size_t j, std::size_t elementEnd) {
      while (j < elementEnd && (t_[j].IsWord("CLUSTERED") || t_[j].IsWord("NONCLUSTERED"))) ++j;
      return j;
    };
    for (const auto& [eb, ee] : elements) {
      std::size_t j = eb;
      std::string constraintName;
      if (t_[j].IsWord("CONSTRAINT")) {
        if (!IsNameToken(At(j + 1))) throw SyntaxError("CONSTRAINT", t_[j].line);
        constraintName = t_[j + 1].text;
        j += 2;
      }
      if (t_[j].IsWord("PRIMARY") || t_[j].IsWord("UNIQUE") || t_[j].IsWord("CHECK") ||
          t_[j].IsWord("FOREIGN")) {
        const bool primary = t_[j].IsWord("PRIMARY");
        if (t_[j].IsWord("CHECK")) {
          if (!At(j + 1).IsPunct('(')) throw SyntaxError("CHECK", t_[j].line);
          const std::size_t ce = MatchParen(j + 1, ee);
          if (constraintName.empty()) constraintName = "CK_" + def->table;
          tableConstraints.push_back("CONSTRAINT " + QuoteName(constraintName) + " CHECK (" +
                                     Translate(j + 2, ce) + ")");
          def->constraints.push_back({constraintName, "CK", ""});
          continue;
        }
        if (t_[j].IsWord("FOREIGN")) {
          tableConstraints.push_back(Translate(j, ee));
          continue;
        }
        j += primary ? 2 : 1;
        j = skipIndexOptions(j, ee);
        if (!At(j).IsPunct('(')) throw SyntaxError(Emit(At(j)), LineAt(j));
        std::vector<std::string> names;
        auto [listText, after] = columnListAt(j, names);
        if (primary) {
          primaryKeyColumns = names;
          primaryKeyName = constraintName.empty() ? "PK_" + def->table : constraintName;
        } else {
          if (constraintName.empty()) constraintName = "UQ_" + def->table + "_" + joinLower(names);
          tableConstraints.push_back("CONSTRAINT " + QuoteName(constraintName) + " UNIQUE " + listText);
          def->constraints.push_back({constraintName, "UQ", joinLower(names)});
        }
        (void)after;
        continue;
      }
      // A column.
      ColumnText column;
      ColumnDefinition definition;
      if (t_[j].kind != TokenKind::Word && t_[j].kind != TokenKind::QuotedName)
        throw SyntaxError(Emit(t_[j]), t_[j].line);
      column.name = t_[j].text;
      definition.name = column.name;
      ++j;
      if (At(j).kind != TokenKind::Word || j >= ee) throw SyntaxError(column.name, t_[eb].line);
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
      if (definition.type.kind == ValueKind::DateTime) column.declared += " TEXT";
      if (definition.type.kind == ValueKind::Decimal && !definition.identity) {
        // SQLite takes precision and scale only after the last word: DECIMAL REAL(28,10).
        const auto open = column.declared.find('(');
        column.declared.insert(open == std::string::npos ? column.declared.size() : open, " REAL");
      }
      if (definition.type.kind == ValueKind::Text) column.collation = "CI";
      if (definition.type.kind == ValueKind::DateTime) column.collation = "DT";
      std::string pendingName;
      while (j < ee) {
        const Token& t = t_[j];
        if (t.IsWord("IDENTITY")) {
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
            throw TsqlError{
                2749, "42000",
                "Identity column '" + column.name +
                    "' must be of data type int, bigint, smallint, tinyint, or decimal or numeric with a "
                    "scale of 0, and constrained to be nonnullable.",
                t.line};
          }
        } else if (t.IsWord("NOT") && At(j + 1).IsWord("NULL")) {
          column.notNull = true;
          j += 2;
        } else if (t.IsWord("NULL")) {
          ++j;
        } else if (t.IsWord("CONSTRAINT") && IsNameToken(At(j + 1))) {
          pendingName = t_[j + 1].text;
          j += 2;
        } else if (t.IsWord("DEFAULT")) {
          const std::size_t de = DefaultEnd(j + 1, ee);
          column.defaultSql = "DEFAULT (" + Translate(j + 1, de) + ")";
          j = de;
          pendingName.clear();
        } else if (t.IsWord("PRIMARY") && At(j + 1).IsWord("KEY")) {
          column.primaryKey = true;
          column.primaryKeyName = pendingName.empty() ? "PK_" + def->table : pendingName;
          pendingName.clear();
          j = skipIndexOptions(j + 2, ee);
        } else if (t.IsWord("UNIQUE")) {
          const std::string name =
              pendingName.empty() ? "UQ_" + def->table + "_" + ToLowerAscii(column.name) : pendingName;
          column.extras.push_back("CONSTRAINT " + QuoteName(name) + " UNIQUE");
          def->constraints.push_back({name, "UQ", ToLowerAscii(column.name)});
          pendingName.clear();
          j = skipIndexOptions(j + 1, ee);
        } else if (t.IsWord("CHECK") && At(j + 1).IsPunct('(')) {
          const std::size_t ce = MatchParen(j + 1, ee);
          const std::string name = pendingName.empty() ? "CK_" + def->table + "_" + column.name : pendingName;
          column.extras.push_back("CONSTRAINT " + QuoteName(name) + " CHECK (" + Translate(j + 2, ce) + ")");
          def->constraints.push_back({name, "CK", ToLowerAscii(column.name)});
          pendingName.clear();
          j = ce + 1;
        } else if (t.IsWord("COLLATE") && At(j + 1).kind == TokenKind::Word) {
          if (definition.type.kind == ValueKind::Text) {
            const std::string collation = ToUpperAscii(t_[j + 1].text);
            column.collation =
                (collation.find("_CS_") != std::string::npos || collation.find("_BIN") != std::string::npos)
                    ? "RTRIM"
                    : "CI";
          }
          j += 2;
        } else if (t.IsWord("REFERENCES")) {
          // Enforced as SQL Server does, cascades included: a delete of a header takes its lines along.
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
            reference += " " + ToUpperAscii(t_[k].text);
            ++k;
          }
          column.extras.push_back(reference);
          j = k;
        } else {
          throw Unsupported("the column attribute " + ToUpperAscii(t.text), t.line);
        }
      }
      if (definition.identity) {
        if (!def->identityColumn.empty()) {
          throw TsqlError{2744, "42000",
                          "Multiple identity columns specified for table '" + def->table +
                              "'. Only one identity column per table is allowed.",
                          t_[eb].line};
        }
        def->identityColumn = definition.name;
        def->seed = definition.seed;
        def->increment = definition.increment;
        column.notNull = true;
      }
      columns.push_back(std::move(column));
      def->columns.push_back(std::move(definition));
    }
    if (columns.empty()) throw SyntaxError(")", s.line);
    // Primary key: column-level or table-level; an identity column alone in it becomes SQLite's rowid.
    for (const ColumnText& c : columns) {
      if (c.primaryKey) {
        if (!primaryKeyColumns.empty()) {
          throw TsqlError{8110, "42000",
                          "Cannot add multiple PRIMARY KEY constraints to table '" + def->table + "'.",
                          s.line};
        }
        primaryKeyColumns = {c.name};
        primaryKeyName = c.primaryKeyName;
      }
    }
    const bool rowidIdentity = !def->identityColumn.empty() && primaryKeyColumns.size() == 1 &&
                               EqualsIgnoringCase(primaryKeyColumns[0], def->identityColumn);
    if (!primaryKeyColumns.empty())
      def->constraints.push_back({primaryKeyName, "PK", joinLower(primaryKeyColumns)});
    const std::string qualified = (def->temporary ? "temp." : "") + QuoteName(def->table);
    std::string sql = "CREATE TABLE " + qualified + " (";
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const ColumnText& c = columns[k];
      const ColumnDefinition& d = def->columns[k];
      if (k > 0) sql += ", ";
      sql += QuoteName(c.name) + " ";
      const bool isRowid = rowidIdentity && d.identity;
      sql += isRowid ? std::string("INTEGER") : c.declared;
      if (isRowid) sql += " CONSTRAINT " + QuoteName(primaryKeyName) + " PRIMARY KEY";
      const bool inPrimaryKey =
          std::any_of(primaryKeyColumns.begin(), primaryKeyColumns.end(),
                      [&](const std::string& n) { return EqualsIgnoringCase(n, c.name); });
      if (c.notNull || inPrimaryKey) sql += " NOT NULL";
      if (!c.defaultSql.empty() && !d.identity) sql += " " + c.defaultSql;
      if (!c.collation.empty()) sql += " COLLATE " + c.collation;
      for (const std::string& extra : c.extras) sql += " " + extra;
    }
    if (!primaryKeyColumns.empty() && !rowidIdentity) {
      sql += ", CONSTRAINT " + QuoteName(primaryKeyName) + " PRIMARY KEY (";
      for (std::size_t k = 0; k < primaryKeyColumns.size(); ++k) {
        if (k > 0) sql += ", ";
        sql += QuoteName(primaryKeyColumns[k]);
      }
      sql += ")";
    }
    for (const std::string& constraint : tableConstraints) sql += ", " + constraint;
    // What SQLite does not check by itself: text lengths and numbers given as text.
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const ColumnText& c = columns[k];
      const ColumnDefinition& d = def->columns[k];
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
    def->sql.push_back(sql);
    if (!def->identityColumn.empty() && !rowidIdentity) {
      def->sql.push_back("CREATE INDEX " + std::string(def->temporary ? "temp." : "") +
                         QuoteName(def->table + ".cw_identity") + " ON " + QuoteName(def->table) + "(" +
                         QuoteName(def->identityColumn) + ")");
    }
    if (def->temporary) {
      // Temporary work tables are joined and probed by every column; without indexes SQLite would scan them
      // once per outer row.
      for (const ColumnDefinition& d : def->columns) {
        if (rowidIdentity && d.identity) continue;
        def->sql.push_back("CREATE INDEX temp." + QuoteName(def->table + ".cw_column:" + d.name) + " ON " +
                           QuoteName(def->table) + "(" + QuoteName(d.name) + ")");
      }
    }
    // Dates are stored in one canonical text form so that they sort and compare as dates.
    std::vector<std::string> dateColumns;
    for (const ColumnDefinition& d : def->columns) {
      if (d.type.kind == ValueKind::DateTime) dateColumns.push_back(d.name);
    }
    if (!dateColumns.empty()) {
      std::string when;
      std::string set;
      std::string updateOf;
      for (const std::string& c : dateColumns) {
        if (!when.empty()) {
          when += " OR ";
          set += ", ";
          updateOf += ", ";
        }
        when += "cw_datetime_needs_canonical(NEW." + QuoteName(c) + ")";
        set += QuoteName(c) + " = cw_datetime(" + QuoteName(c) + ")";
        updateOf += QuoteName(c);
      }
      const std::string triggerPrefix =
          std::string(def->temporary ? "CREATE TEMP TRIGGER " : "CREATE TRIGGER ");
      const std::string body = " WHEN " + when + " BEGIN UPDATE " + QuoteName(def->table) + " SET " + set +
                               " WHERE rowid = NEW.rowid; END";
      def->sql.push_back(triggerPrefix + QuoteName(def->table + ".cw_dates_insert") + " AFTER INSERT ON " +
                         QuoteName(def->table) + body);
      def->sql.push_back(triggerPrefix + QuoteName(def->table + ".cw_dates_update") + " AFTER UPDATE OF " +
                         updateOf + " ON " + QuoteName(def->table) + body);
    }
    s.table = def->table;
    s.create = std::move(def);
    return s;
  }

  std::vector<Token> t_;
  BatchTokenizer* tokenizer_ = nullptr;
  std::size_t tokensAtOnce_ = 0;
  static constexpr int kMaxNestingDepth = 128;
  int nestingDepth_ = 0;
  std::set<std::string> declared_;
  // The names declared, in order, so that a statement translated again can take its declarations back.
  std::vector<std::string> newlyDeclared_;
};

}  // namespace

namespace {

void ForEachSyntaxCheckIn(const Statement& s,
                          const std::function<void(const std::string&, std::int32_t)>& check) {
  if (s.syntaxChecked) check(s.sql, s.line);
  for (const VariableDeclaration& declaration : s.declarations) {
    if (!declaration.initializer.empty()) check(declaration.initializer, declaration.line);
  }
  if (!s.argument.empty()) check(s.argument, s.line);
  if (s.create && !s.create->sql.empty()) check(s.create->sql.front(), s.line);
  for (const Statement& child : s.children) ForEachSyntaxCheckIn(child, check);
}

}  // namespace

void ForEachSyntaxCheck(const Plan& plan,
                        const std::function<void(const std::string&, std::int32_t)>& check) {
  for (const Statement& s : plan.statements) ForEachSyntaxCheckIn(s, check);
}

Plan TranslateBatch(std::string_view batch, std::size_t tokensAtOnce) {
  BatchTokenizer tokenizer(batch);
  return Translator(tokenizer, tokensAtOnce).Run();
}

}  // namespace closewright::sqlite
