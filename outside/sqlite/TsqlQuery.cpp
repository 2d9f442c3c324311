#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

void Translator::RefuseSelectExtensions(std::size_t begin, std::size_t end, bool allowTop) const {
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

Statement Translator::ParseSelect(std::size_t& pos, std::size_t limit) {
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
    sql = Translate(begin, topAt) + " " + Translate(after, end, {}, &s.resultColumns) + " LIMIT " + count;
  } else {
    RefuseSelectExtensions(begin + 1, end, false);
    sql = Translate(begin, end, {}, &s.resultColumns);
  }
  s.kind = StatementKind::Sql;
  s.returnsRows = true;
  s.sql = std::move(sql);
  s.syntaxChecked = true;
  return s;
}

Statement Translator::ParseUpdate(std::size_t& pos, std::size_t limit) {
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
  s.updatedColumns = UpdatedColumns(i, end);
  s.sql = "UPDATE " + QuotedTarget(target) + " " + Translate(i, end, target.name);
  s.syntaxChecked = true;
  return s;
}

// The columns the SET clause from `i` assigns: `c = ...` and `t.c = ...`.
std::vector<std::string> Translator::UpdatedColumns(std::size_t i, std::size_t end) const {
  std::vector<std::string> columns;
  while (i < end && !t_[i].IsWord("SET")) ++i;
  const auto isName = [](const Token& t) {
    return t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName || t.kind == TokenKind::TempName;
  };
  bool itemStarts = true;
  int depth = 0;
  for (++i; i < end; ++i) {
    const Token& t = t_[i];
    if (t.IsPunct('(')) ++depth;
    if (t.IsPunct(')')) --depth;
    if (depth != 0 || t.IsPunct(')')) {
      itemStarts = false;
      continue;
    }
    if (t.IsWord("FROM") || t.IsWord("WHERE") || t.IsWord("OPTION")) break;
    if (t.IsPunct(',')) {
      itemStarts = true;
      continue;
    }
    if (!itemStarts) continue;
    itemStarts = false;
    std::size_t name = i;
    while (isName(At(name)) && At(name + 1).IsPunct('.')) name += 2;
    if (isName(At(name)) && At(name + 1).IsOperator("=")) columns.push_back(At(name).text);
  }
  return columns;
}

Statement Translator::ParseDelete(std::size_t& pos, std::size_t limit) {
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
  s.sql = "DELETE FROM " + QuotedTarget(target);
  if (i < end) {
    s.sql += ' ';
    s.sql += Translate(i, end, target.name);
  }
  s.syntaxChecked = true;
  return s;
}

}  // namespace closewright::sqlite::translation
