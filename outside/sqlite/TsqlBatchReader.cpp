#include <algorithm>
#include <optional>

#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

namespace {

constexpr std::string_view kStatementKeywords[] = {
    "SELECT",   "INSERT", "UPDATE",    "DELETE", "CREATE", "DROP",     "ALTER",  "TRUNCATE", "DECLARE",
    "SET",      "IF",     "ELSE",      "BEGIN",  "END",    "DBCC",     "PRINT",  "EXEC",     "EXECUTE",
    "WHILE",    "MERGE",  "RETURN",    "GOTO",   "USE",    "GRANT",    "REVOKE", "DENY",     "COMMIT",
    "ROLLBACK", "SAVE",   "RAISERROR", "THROW",  "BREAK",  "CONTINUE", "WAITFOR"};

bool IsStatementKeyword(const Token& t) {
  return t.kind == TokenKind::Word && InList(t.text, kStatementKeywords);
}

// IF looks one token past its statement for ELSE; a few more keep every such look inside what was read.
constexpr std::size_t kTokensBeyondStatement = 8;

}  // namespace

// Top-level statements are read and translated one after another, with only the tokens of the statement
// at hand (and a few beyond it) in memory. A statement that met the end of the tokens read so far, or
// failed there, is translated again with more of the batch: its translation must be the one the whole
// batch would give, its error too (an unclosed quote further on is the batch's error).
Plan Translator::Run() {
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

// Reads on until `size` tokens are held or the batch is read to its end.
void Translator::Load(std::size_t size) {
  while (!Complete() && t_.size() < size) tokenizer_->Read(t_, std::min(size - t_.size(), tokensAtOnce_));
}

// At least a stretch of tokens from `pos` on, so that most statements are read whole the first time.
bool Translator::HaveToken(std::size_t pos) {
  Load(pos + tokensAtOnce_);
  return pos < t_.size();
}

// For a statement longer than what is held: twice as many tokens each time, so that a long statement is
// translated again only a few times.
void Translator::ReadMore() {
  Load(t_.size() + std::max(tokensAtOnce_, t_.size()));
}

const Token& Translator::At(std::size_t i) const {
  static const Token kEnd = MakeToken(TokenKind::Punct, "", 0);
  return i < t_.size() ? t_[i] : kEnd;
}
std::int32_t Translator::LineAt(std::size_t i) const {
  return i < t_.size() ? t_[i].line : (t_.empty() ? 1 : t_.back().line);
}

// Index of the first token after `begin` that starts another statement, or `limit`.
std::size_t Translator::StatementEnd(std::size_t begin, std::size_t limit) const {
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

Statement Translator::ParseStatement(std::size_t& pos, std::size_t limit) {
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
  if (word == "IF" || word == "BEGIN") return ParseNested(word, pos, limit);
  if (word == "DBCC") return ParseDbcc(pos, limit);
  if (word == "PRINT") return ParsePrint(pos, limit);
  if (word == "ELSE" || word == "END") throw KeywordError(word, line);
  if (word == "EXEC" || word == "EXECUTE") throw Unsupported("EXECUTE", line);
  if (word == "COMMIT" || word == "ROLLBACK" || word == "SAVE")
    throw Unsupported(word + " TRANSACTION", line);
  if (word == "ALTER") throw Unsupported("ALTER " + ToUpperAscii(At(pos + 1).text), line);
  if (IsStatementKeyword(head)) throw Unsupported(word, line);
  throw Unsupported("a statement starting with '" + head.text + "' (a procedure call)", line);
}

// IF and BEGIN...END nest by recursion; a hostile batch must meet the server's limit, not the stack's.
Statement Translator::ParseNested(const std::string& word, std::size_t& pos, std::size_t limit) {
  if (nestingDepth_ >= kMaxNestingDepth) {
    throw TsqlError{191, "42000",
                    "Some part of your SQL statement is nested too deeply. Rewrite the query or break it up "
                    "into smaller queries.",
                    t_[pos].line};
  }
  ++nestingDepth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{nestingDepth_};
  return word == "IF" ? ParseIf(pos, limit) : ParseBegin(pos, limit);
}

Statement Translator::ParsePrint(std::size_t& pos, std::size_t limit) {
  const std::int32_t line = t_[pos].line;
  std::size_t end = StatementEnd(pos, limit);
  Translate(pos + 1, end);  // the variables it names must be declared
  Statement s{};
  s.kind = StatementKind::NoOp;
  s.line = line;
  pos = end;
  return s;
}

}  // namespace closewright::sqlite::translation
