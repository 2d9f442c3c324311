// `+` between texts: SQL Server joins them, SQLite adds them as numbers ('a' + 'b' is 0 there). Where a text
// literal or a text variable takes part in a chain of `+`, the chain becomes nested cw_plus calls, which
// decide by what each value is when the statement runs, as the server decides by type: two texts are
// joined, a text beside a number is converted to that number first (245 or 8114 when it is none), two
// numbers are added. Only chains of whole operands (names, literals, variables, calls, parenthesized
// expressions) are taken, so that precedence is never in doubt.

#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

namespace {

constexpr std::string_view kNotOperands[] = {
    "AND", "OR", "NOT",  "CASE",    "WHEN", "THEN", "ELSE", "END",     "SELECT", "FROM",  "WHERE",
    "IS",  "IN", "LIKE", "BETWEEN", "AS",   "ON",   "BY",   "COLLATE", "ESCAPE", "EXISTS"};

bool IsArithmetic(const Token& t) {
  return t.kind == TokenKind::Operator &&
         (t.text == "+" || t.text == "-" || t.text == "*" || t.text == "/" || t.text == "%" || t.text == "~");
}

}  // namespace

// Where the operand that starts at `i` ends, or 0 when no whole operand starts there.
std::size_t Translator::OperandEnd(std::size_t i, std::size_t end) const {
  if (i >= end) return 0;
  const Token& t = t_[i];
  switch (t.kind) {
    case TokenKind::String:
    case TokenKind::Number:
    case TokenKind::Variable:
    case TokenKind::SystemVariable:
      return i + 1;
    case TokenKind::Punct:
      return t.IsPunct('(') ? MatchParen(i, end) + 1 : 0;
    case TokenKind::Word:
      if (InList(t.text, kNotOperands)) return 0;
      [[fallthrough]];
    case TokenKind::QuotedName:
    case TokenKind::TempName: {
      std::size_t next = i + 1;
      while (next + 1 < end && t_[next].IsPunct('.') && IsNameToken(t_[next + 1])) next += 2;
      if (next < end && t_[next].IsPunct('(')) next = MatchParen(next, end) + 1;
      return next;
    }
    default:
      return 0;
  }
}

bool Translator::IsTextOperand(std::size_t begin, std::size_t operandEnd) const {
  if (operandEnd != begin + 1) return false;
  const Token& t = t_[begin];
  if (t.kind == TokenKind::String) return true;
  if (t.kind != TokenKind::Variable) return false;
  const auto declared = declared_.find(ToUpperAscii(t.text));
  return declared != declared_.end() && declared->second.kind == ValueKind::Text;
}

std::optional<std::pair<std::string, std::size_t>> Translator::TextJoinAt(std::size_t i, std::size_t begin,
                                                                          std::size_t end) const {
  if (i > begin && (IsArithmetic(t_[i - 1]) || t_[i - 1].IsPunct('.'))) return std::nullopt;
  std::vector<Range> operands;
  bool anyText = false;
  for (std::size_t at = i;;) {
    const std::size_t operandEnd = OperandEnd(at, end);
    if (operandEnd == 0) return std::nullopt;
    operands.emplace_back(at, operandEnd);
    anyText = anyText || IsTextOperand(at, operandEnd);
    if (operandEnd + 1 >= end || !t_[operandEnd].IsOperator("+")) break;
    at = operandEnd + 1;
  }
  const std::size_t chainEnd = operands.back().second;
  const bool boundTighter = chainEnd < end && (t_[chainEnd].IsOperator("*") || t_[chainEnd].IsOperator("/") ||
                                               t_[chainEnd].IsOperator("%"));
  if (operands.size() < 2 || !anyText || boundTighter) return std::nullopt;
  std::string joined = Translate(operands[0].first, operands[0].second);
  for (std::size_t k = 1; k < operands.size(); ++k)
    joined = "cw_plus(" + joined + ", " + Translate(operands[k].first, operands[k].second) + ")";
  return std::make_pair(std::move(joined), chainEnd);
}

}  // namespace closewright::sqlite::translation
