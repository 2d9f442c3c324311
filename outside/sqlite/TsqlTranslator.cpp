#include "outside/sqlite/TsqlTranslator.h"

#include <algorithm>
#include <charconv>

#include "outside/Text.h"

namespace closewright::sqlite::translation {

bool InList(std::string_view word, const std::string_view* begin, const std::string_view* end) {
  return std::any_of(begin, end, [&](std::string_view k) { return EqualsIgnoringCase(word, k); });
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

Translator::Translator(BatchTokenizer& tokenizer, std::size_t tokensAtOnce, const ColumnCatalog& catalog)
    : tokenizer_(&tokenizer), tokensAtOnce_(std::max<std::size_t>(tokensAtOnce, 1)), catalog_(catalog) {}

bool Translator::IsNameToken(const Token& t) const {
  return t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName || t.kind == TokenKind::TempName;
}

// [db.][schema.]name, with the schema dbo dropped. Other databases are outside the subset.
Translator::ObjectName Translator::ParseObjectName(std::size_t& pos) const {
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

std::size_t Translator::MatchParen(std::size_t open, std::size_t limit) const {
  int depth = 0;
  for (std::size_t i = open; i < limit; ++i) {
    if (t_[i].IsPunct('(')) ++depth;
    if (t_[i].IsPunct(')') && --depth == 0) return i;
  }
  throw SyntaxError(Emit(t_[open]), t_[open].line);
}

void Translator::CheckVariable(const Token& t) const {
  if (declared_.count(ToUpperAscii(t.text)) == 0) {
    throw TsqlError{137, "42000", "Must declare the scalar variable \"" + t.text + "\".", t.line};
  }
}

std::vector<std::pair<std::size_t, std::size_t>> SplitAtCommas(const std::vector<Token>& tokens,
                                                               std::size_t open, std::size_t close,
                                                               bool keepEmpty) {
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  std::size_t start = open + 1;
  int depth = 0;
  for (std::size_t j = open + 1; j <= close; ++j) {
    if (tokens[j].IsPunct('(')) ++depth;
    if (tokens[j].IsPunct(')')) --depth;
    if ((depth == 0 && tokens[j].IsPunct(',')) || j == close) {
      if (keepEmpty || j > start) ranges.emplace_back(start, j);
      start = j + 1;
    }
  }
  return ranges;
}

std::vector<Translator::Range> Translator::SplitAtCommas(std::size_t open, std::size_t close,
                                                         bool keepEmpty) const {
  return translation::SplitAtCommas(t_, open, close, keepEmpty);
}

}  // namespace closewright::sqlite::translation
