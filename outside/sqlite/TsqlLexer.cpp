#include "outside/sqlite/TsqlLexer.h"

#include <algorithm>
#include <cctype>

#include "outside/Text.h"
#include "outside/sqlite/TsqlPlan.h"

namespace closewright::sqlite {

namespace {

bool IsNameStart(unsigned char c) {
  return std::isalpha(c) != 0 || c == '_' || c >= 0x80;
}
bool IsNamePart(unsigned char c) {
  return std::isalnum(c) != 0 || c == '_' || c == '$' || c >= 0x80;
}

TsqlError LexError(std::int32_t native, std::string message, std::int32_t line) {
  return TsqlError{native, "42000", std::move(message), line};
}

}  // namespace

bool Token::IsWord(std::string_view upperWord) const {
  return kind == TokenKind::Word && EqualsIgnoringCase(text, upperWord);
}

std::string QuoteName(std::string_view name) {
  return EncloseInQuotes(name, '"');
}

std::string SyntaxShape(std::string_view text) {
  std::string shape;
  shape.reserve(text.size());
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(text[i]);
    const unsigned char before =
        i > 0 ? static_cast<unsigned char>(text[i - 1]) : static_cast<unsigned char>(' ');
    if ((c == '-' && i + 1 < n && text[i + 1] == '-') || (c == '/' && i + 1 < n && text[i + 1] == '*')) {
      // A comment, kept whole: a quote inside it opens no literal.
      const std::size_t end = c == '-' ? text.find('\n', i) : text.find("*/", i + 2);
      const std::size_t j = end == std::string_view::npos ? n : end + (c == '-' ? 0 : 2);
      shape.append(text.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '"' || c == '[' || c == '`') {
      // A quoted name, kept whole: a quote or digit inside it is part of the name.
      const char close = c == '[' ? ']' : static_cast<char>(c);
      std::size_t j = i + 1;
      while (j < n) {
        if (text[j] == close) {
          if (close != ']' && j + 1 < n && text[j + 1] == close) {
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        ++j;
      }
      shape.append(text.substr(i, j - i));
      i = j;
      continue;
    }
    if (c == '\'') {
      // A string literal right after a name character (X'0F' is a blob whose digits matter) stays whole, as
      // does one left open.
      std::size_t j = i + 1;
      bool closed = false;
      while (j < n) {
        if (text[j] == '\'') {
          if (j + 1 < n && text[j + 1] == '\'') {
            j += 2;
            continue;
          }
          ++j;
          closed = true;
          break;
        }
        ++j;
      }
      if (closed && !IsNamePart(before)) {
        shape.append("''");
      } else {
        shape.append(text.substr(i, j - i));
      }
      i = j;
      continue;
    }
    if (std::isdigit(c) != 0 && !IsNamePart(before) && before != '.' && before != '?' && before != '@' &&
        before != ':' && before != '#') {
      std::size_t j = i;
      while (j < n && IsNamePart(static_cast<unsigned char>(text[j]))) ++j;
      const std::string_view number = text.substr(i, j - i);
      const bool plainDigits = std::all_of(number.begin(), number.end(), [](char d) {
        return std::isdigit(static_cast<unsigned char>(d)) != 0;
      });
      if (plainDigits) {
        shape.append(number.size(), '1');
      } else {
        shape.append(number);
      }
      i = j;
      continue;
    }
    if (IsNamePart(c)) {
      std::size_t j = i;
      while (j < n && IsNamePart(static_cast<unsigned char>(text[j]))) ++j;
      shape.append(text.substr(i, j - i));
      i = j;
      continue;
    }
    shape.push_back(static_cast<char>(c));
    ++i;
  }
  return shape;
}

BatchTokenizer::BatchTokenizer(std::string_view text) : text_(text) {}

void BatchTokenizer::CheckGoLine() const {
  if (tokensOnLine_ == 1 && lastIsGo_) {
    throw TsqlError{
        0, "HYC00",
        UnsupportedMessage("GO (a separator of client tools; send each batch by itself)", lastLine_),
        lastLine_};
  }
}

bool BatchTokenizer::Read(std::vector<Token>& tokens, std::size_t count) {
  const std::string_view text = text_;
  const std::size_t n = text.size();
  std::size_t& i = position_;
  std::int32_t& line = line_;
  bool& space = space_;
  auto newLine = [&] {
    ++line;
    tokensOnLine_ = 0;
  };
  std::size_t produced = 0;
  while (i < n && produced < count) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\n' || c == '\r') {
      CheckGoLine();
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
      ++i;
      newLine();
      space = true;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\f' || c == '\v') {
      ++i;
      space = true;
      continue;
    }
    if (c == '-' && i + 1 < n && text[i + 1] == '-') {
      while (i < n && text[i] != '\n' && text[i] != '\r') ++i;
      space = true;
      continue;
    }
    if (c == '/' && i + 1 < n && text[i + 1] == '*') {
      // T-SQL block comments nest.
      const std::int32_t startLine = line;
      int depth = 0;
      while (i < n) {
        if (text[i] == '/' && i + 1 < n && text[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (text[i] == '*' && i + 1 < n && text[i + 1] == '/') {
          --depth;
          i += 2;
          if (depth == 0) break;
        } else {
          if (text[i] == '\n' || (text[i] == '\r' && !(i + 1 < n && text[i + 1] == '\n'))) newLine();
          ++i;
        }
      }
      if (depth != 0) throw LexError(113, "Missing end comment mark '*/'.", startLine);
      space = true;
      continue;
    }
    Token token;
    token.line = line;
    token.spaceBefore = space;
    space = false;
    // A token that spans lines (a string holding a line break) counts on none of the lines after its first.
    bool spansLines = false;
    auto readQuoted = [&](char close, TokenKind kind, std::size_t start) {
      std::string value;
      std::size_t j = start;
      const std::int32_t startLine = line;
      while (true) {
        if (j >= n) {
          throw LexError(105, "Unclosed quotation mark after the character string '" + value + "'.",
                         startLine);
        }
        const char d = text[j];
        if (d == close) {
          if (j + 1 < n && text[j + 1] == close) {
            value += close;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        if (d == '\n' || (d == '\r' && !(j + 1 < n && text[j + 1] == '\n'))) {
          ++line;
          spansLines = true;
        }
        value += d;
        ++j;
      }
      token.kind = kind;
      token.text = std::move(value);
      i = j;
    };
    if (c == '\'') {
      readQuoted('\'', TokenKind::String, i + 1);
    } else if ((c == 'N' || c == 'n') && i + 1 < n && text[i + 1] == '\'') {
      readQuoted('\'', TokenKind::String, i + 2);
    } else if (c == '[') {
      readQuoted(']', TokenKind::QuotedName, i + 1);
    } else if (c == '"') {
      readQuoted('"', TokenKind::QuotedName, i + 1);
    } else if (c == '@' || c == '#') {
      std::size_t j = i + 1;
      token.kind = c == '#' ? TokenKind::TempName : TokenKind::Variable;
      if (j < n && text[j] == c) {
        ++j;
        if (c == '@') token.kind = TokenKind::SystemVariable;
      }
      while (j < n && IsNamePart(static_cast<unsigned char>(text[j]))) ++j;
      token.text = std::string(text.substr(i, j - i));
      i = j;
    } else if (IsNameStart(c)) {
      std::size_t j = i + 1;
      while (j < n && IsNamePart(static_cast<unsigned char>(text[j]))) ++j;
      token.kind = TokenKind::Word;
      token.text = std::string(text.substr(i, j - i));
      i = j;
    } else if (std::isdigit(c) != 0 ||
               (c == '.' && i + 1 < n && std::isdigit(static_cast<unsigned char>(text[i + 1])))) {
      std::size_t j = i;
      if (c == '0' && j + 1 < n && (text[j + 1] == 'x' || text[j + 1] == 'X')) {
        j += 2;
        while (j < n && std::isxdigit(static_cast<unsigned char>(text[j])) != 0) ++j;
      } else {
        while (j < n && std::isdigit(static_cast<unsigned char>(text[j])) != 0) ++j;
        if (j < n && text[j] == '.') {
          ++j;
          while (j < n && std::isdigit(static_cast<unsigned char>(text[j])) != 0) ++j;
        }
        if (j < n && (text[j] == 'e' || text[j] == 'E')) {
          std::size_t k = j + 1;
          if (k < n && (text[k] == '+' || text[k] == '-')) ++k;
          if (k < n && std::isdigit(static_cast<unsigned char>(text[k])) != 0) {
            j = k;
            while (j < n && std::isdigit(static_cast<unsigned char>(text[j])) != 0) ++j;
          }
        }
      }
      token.kind = TokenKind::Number;
      token.text = std::string(text.substr(i, j - i));
      i = j;
    } else if (c == '(' || c == ')' || c == ',' || c == '.' || c == ';') {
      token.kind = TokenKind::Punct;
      token.text = std::string(1, static_cast<char>(c));
      ++i;
    } else {
      static constexpr std::string_view kTwoCharacter[] = {"<>", "<=", ">=", "!=", "!<", "!>", "||",
                                                           "==", "+=", "-=", "*=", "/=", "%=", "::"};
      token.kind = TokenKind::Operator;
      std::string_view two = text.substr(i, 2);
      bool matched = false;
      for (std::string_view op : kTwoCharacter) {
        if (two == op) {
          token.text = std::string(op);
          i += 2;
          matched = true;
          break;
        }
      }
      if (!matched) {
        static constexpr std::string_view kOne = "=<>+-*/%&|^~!";
        if (kOne.find(static_cast<char>(c)) == std::string_view::npos) {
          throw LexError(102, std::string("Incorrect syntax near '") + static_cast<char>(c) + "'.", line);
        }
        token.text = std::string(1, static_cast<char>(c));
        ++i;
      }
    }
    lastIsGo_ = token.IsWord("GO");
    lastLine_ = token.line;
    tokens.push_back(std::move(token));
    ++produced;
    tokensOnLine_ = spansLines ? 0 : tokensOnLine_ + 1;
  }
  if (i >= n && !done_) {
    CheckGoLine();
    done_ = true;
  }
  return !done_;
}

std::vector<Token> TokenizeBatch(std::string_view text) {
  std::vector<Token> tokens;
  BatchTokenizer tokenizer(text);
  while (tokenizer.Read(tokens, 1 << 16)) {
  }
  return tokens;
}

}  // namespace closewright::sqlite
