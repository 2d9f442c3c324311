#include <algorithm>

#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

// SELECT @a = expr, @b = expr [FROM ...]: runs as SELECT expr, expr [FROM ...]; the last row wins.
Statement Translator::ParseAssignment(std::size_t begin, std::size_t end) {
  Statement s{};
  s.kind = StatementKind::Assign;
  s.line = t_[begin].line;
  std::vector<std::string> items;
  std::vector<std::size_t> targetTokens;
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
    targetTokens.push_back(i);
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
  for (std::size_t k = begin + 1; k < clauseAt && !s.readsItsTargets; ++k) {
    const Token& t = t_[k];
    s.readsItsTargets =
        t.kind == TokenKind::Variable &&
        std::find(targetTokens.begin(), targetTokens.end(), k) == targetTokens.end() &&
        std::find(s.targets.begin(), s.targets.end(), ToUpperAscii(t.text)) != s.targets.end();
  }
  std::string sql = "SELECT ";
  for (std::size_t k = 0; k < items.size(); ++k) {
    if (k > 0) sql += ", ";
    sql += items[k];
  }
  if (clauseAt < end) {
    sql += ' ';
    sql += Translate(clauseAt, end);
  }
  s.sql = std::move(sql);
  s.syntaxChecked = true;
  return s;
}

Statement Translator::ParseDeclare(std::size_t& pos, std::size_t limit) {
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
    if (At(i).kind != TokenKind::Word && At(i).kind != TokenKind::QuotedName)
      throw SyntaxError(Emit(At(i)), LineAt(i));
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
    declared_.emplace(declaration.name, declaration.type);
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

Statement Translator::ParseSet(std::size_t& pos, std::size_t limit) {
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
  if (name == "IDENTITY_INSERT") return ParseSetIdentityInsert(begin, end, std::move(s));
  static constexpr std::string_view kHarmlessWhenOn[] = {
      "ANSI_NULLS", "QUOTED_IDENTIFIER", "ANSI_WARNINGS", "ANSI_PADDING", "CONCAT_NULL_YIELDS_NULL",
      "ARITHABORT", "ANSI_NULL_DFLT_ON"};
  if (InList(name, kHarmlessWhenOn) && rest == "ON") return s;
  if (name == "XACT_ABORT" && rest == "OFF") return s;
  throw Unsupported("SET " + name + (rest.empty() ? "" : " " + rest), s.line);
}

}  // namespace closewright::sqlite::translation
