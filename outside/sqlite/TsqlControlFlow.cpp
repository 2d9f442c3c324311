#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

Statement Translator::ParseIf(std::size_t& pos, std::size_t limit) {
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

Statement Translator::ParseBegin(std::size_t& pos, std::size_t limit) {
  const Token& next = At(pos + 1);
  const std::int32_t line = t_[pos].line;
  if (next.IsWord("TRAN") || next.IsWord("TRANSACTION") || next.IsWord("DISTRIBUTED")) {
    throw Unsupported("BEGIN TRANSACTION", line);
  }
  if (next.IsWord("TRY") || next.IsWord("CATCH")) throw Unsupported("BEGIN " + ToUpperAscii(next.text), line);
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

}  // namespace closewright::sqlite::translation
