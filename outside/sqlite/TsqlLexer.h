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

/// Splits a T-SQL batch into tokens. Comments vanish (they only separate tokens); strings keep their
/// value; lines are counted over LF, CR LF and lone CR. A line holding only GO is reported as such because
/// it is a client-tool separator, not T-SQL.
std::vector<Token> TokenizeBatch(std::string_view batch);

/// Quotes a name for SQLite: "name" with embedded double quotes doubled.
std::string QuoteName(std::string_view name);
/// Quotes a text value for SQLite: 'value' with embedded single quotes doubled.
std::string QuoteText(std::string_view value);

/// A SQLite statement text with the values of its literals blurred: every string literal becomes '' and
/// every digit of a plain decimal number becomes 1. Two texts of one shape parse alike, so a statement
/// repeated with other values needs its syntax checked once. Names, parameters, hexadecimal numbers and
/// anything the scan is unsure of stay as written, which only makes shapes differ more often.
std::string SyntaxShape(std::string_view sqliteText);

}  // namespace closewright::sqlite
