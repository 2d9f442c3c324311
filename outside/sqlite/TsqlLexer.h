#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace closewright::sqlite {

/// An error found while reading or translating a batch, before anything of it runs. The session turns it
/// into a ComError carrying the batch.
struct TsqlError {
  std::int32_t nativeError = 0;
  std::string sqlState;
  std::string message;
  std::int32_t line = 0;
};

enum class TokenKind {
  Word,        // keyword or plain identifier
  QuotedName,  // [name] or "name"; text holds the name without delimiters
  String,      // 'text' or N'text'; text holds the value with '' undone
  Number,
  Variable,        // @name
  SystemVariable,  // @@name
  TempName,        // #name or ##name
  Operator,        // one- or two-character operator: = <> <= >= != !< !> || + - * / % < > & | ^ ~
  Punct,           // ( ) , . ;
};

struct Token {
  TokenKind kind = TokenKind::Word;
  std::string text;
  std::int32_t line = 1;
  /// True when a comment or whitespace stood right before the token in the batch.
  bool spaceBefore = false;

  bool IsWord(std::string_view upperWord) const;
  bool IsPunct(char c) const { return kind == TokenKind::Punct && text.size() == 1 && text[0] == c; }
  bool IsOperator(std::string_view op) const { return kind == TokenKind::Operator && text == op; }
};

/// Reads a T-SQL batch's tokens a stretch at a time, so that a long batch is never held as tokens whole.
/// Comments vanish (they only separate tokens); strings keep their value; lines are counted over LF, CR LF
/// and lone CR; a line holding only GO is refused, because GO is a client-tool separator, not T-SQL.
class BatchTokenizer {
 public:
  explicit BatchTokenizer(std::string_view text);
  /// Appends up to `count` further tokens; false once the batch has been read to its end.
  bool Read(std::vector<Token>& tokens, std::size_t count);
  bool Done() const { return done_; }

 private:
  void CheckGoLine() const;

  std::string_view text_;
  std::size_t position_ = 0;
  std::int32_t line_ = 1;
  bool space_ = false;
  int tokensOnLine_ = 0;
  bool lastIsGo_ = false;
  std::int32_t lastLine_ = 1;
  bool done_ = false;
};

/// All of a batch's tokens at once.
std::vector<Token> TokenizeBatch(std::string_view batch);

/// Quotes a name for SQLite: "name" with embedded double quotes doubled.
std::string QuoteName(std::string_view name);

/// A SQLite statement text with the values of its literals blurred: every string literal becomes '' and
/// every digit of a plain decimal number becomes 1. Two texts of one shape parse alike, so a statement
/// repeated with other values needs its syntax checked once. Names, parameters, hexadecimal numbers and
/// anything the scan is unsure of stay as written, which only makes shapes differ more often.
std::string SyntaxShape(std::string_view sqliteText);

}  // namespace closewright::sqlite
