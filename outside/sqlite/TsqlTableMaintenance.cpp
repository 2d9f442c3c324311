#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

Statement Translator::ParseSetIdentityInsert(std::size_t begin, std::size_t end, Statement s) const {
  std::size_t i = begin + 2;
  const ObjectName target = ParseObjectName(i);
  if (!(At(i).IsWord("ON") || At(i).IsWord("OFF")) || i + 1 != end) throw SyntaxError(Emit(At(i)), s.line);
  s.kind = StatementKind::SetIdentityInsert;
  s.table = target.name;
  s.on = At(i).IsWord("ON");
  return s;
}

Statement Translator::ParseTruncate(std::size_t& pos, std::size_t limit) {
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

Statement Translator::ParseDrop(std::size_t& pos, std::size_t limit) {
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

Statement Translator::ParseDbcc(std::size_t& pos, std::size_t limit) {
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
  const std::vector<Range> args = SplitAtCommas(i, close, true);
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

Statement Translator::ParseCreate(std::size_t& pos, std::size_t limit) {
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
      columns += ' ';
      columns += ToUpperAscii(t.text);
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
  s.sql = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + (target.temporary ? "temp." : "") +
          QuoteName(target.name + "." + indexName) + " ON " + QuoteName(target.name) + "(" + columns + ")";
  s.syntaxChecked = true;
  return s;
}

}  // namespace closewright::sqlite::translation
