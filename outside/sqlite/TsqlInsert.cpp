#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

Statement Translator::ParseInsert(std::size_t& pos, std::size_t limit) {
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

}  // namespace closewright::sqlite::translation
