// A comparison of two date columns of different types, at the type of higher precedence.

#include <optional>
#include <utility>

#include "outside/sqlite/DateFunctions.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite::translation {

namespace {

bool IsNamePart(const Token& t) {
  return t.kind == TokenKind::Word || t.kind == TokenKind::QuotedName || t.kind == TokenKind::TempName;
}

bool IsBinaryComparison(const Token& t) {
  return t.kind == TokenKind::Operator &&
         (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
          t.text == "<=" || t.text == ">=");
}

// A comparison `left op right` of two column references (`c`, `t.c`), each the whole of its operand.
struct NameComparison {
  std::pair<std::size_t, std::size_t> left;
  std::pair<std::size_t, std::size_t> right;
};

std::optional<NameComparison> NameComparisonAt(const std::vector<Token>& v, std::size_t op) {
  if (!IsBinaryComparison(v[op]) || op == 0 || op + 1 >= v.size()) return std::nullopt;
  if (!IsNamePart(v[op - 1]) || !IsNamePart(v[op + 1])) return std::nullopt;
  std::size_t first = op - 1;
  while (first >= 2 && v[first - 1].IsPunct('.') && IsNamePart(v[first - 2])) first -= 2;
  // An operator before the name makes the operand an expression (`1 + a.d = b.d`).
  if (first > 0 && (v[first - 1].kind == TokenKind::Operator || v[first - 1].IsPunct('.')))
    return std::nullopt;
  std::size_t last = op + 2;
  while (last + 1 < v.size() && v[last].IsPunct('.') && IsNamePart(v[last + 1])) last += 2;
  if (last < v.size()) {
    const Token& after = v[last];
    if (after.kind == TokenKind::Operator || after.IsPunct('(') || after.IsPunct('.') ||
        after.IsWord("COLLATE"))
      return std::nullopt;
  }
  return NameComparison{{first, op}, {op + 1, last}};
}

// datetime2 > datetime > smalldatetime > date (learn.microsoft.com "Data type precedence (Transact-SQL)");
// of two datetime2 the one with more digits holds the other's values.
std::pair<int, int> Precedence(const DateType& type) {
  switch (type.kind) {
    case DateKind::DateTime2:
      return {3, type.digits};
    case DateKind::DateTime:
      return {2, 0};
    case DateKind::SmallDateTime:
      return {1, 0};
    case DateKind::Date:
      return {0, 0};
  }
  return {0, 0};
}

}  // namespace

bool ComparesTwoNames(const std::vector<Token>& tokens, std::size_t begin, std::size_t end) {
  for (std::size_t i = begin + 1; i + 1 < end; ++i) {
    if (IsBinaryComparison(tokens[i]) && IsNamePart(tokens[i - 1]) && IsNamePart(tokens[i + 1])) return true;
  }
  return false;
}

// SQL Server converts the operand of lower precedence to the other's type; SQLite compares two columns under
// the left one's collation, which takes the right value at the left column's type (a DATE would equal a
// DATETIME on the same day at any time). Where the right column's type is the higher, its collation is named
// after it. The operands' types are the typing's, over the statement's tables.
void CompareDatesAtTheHigherType(std::vector<Token>& tokens, const TypeSources& sources) {
  if (tokens.empty() || tokens[0].IsWord("WITH")) return;  // a common table expression hides the tables
  std::vector<NameComparison> comparisons;
  for (std::size_t i = 1; i + 1 < tokens.size(); ++i) {
    if (auto found = NameComparisonAt(tokens, i)) comparisons.push_back(*found);
  }
  if (comparisons.empty()) return;
  std::vector<std::pair<std::size_t, std::size_t>> operands;
  for (const NameComparison& c : comparisons) {
    operands.push_back(c.left);
    operands.push_back(c.right);
  }
  const std::vector<std::optional<TypeInfo>> types = TypesOfRanges(tokens, operands, sources);
  // From the end, so that an inserted collation leaves the positions before it as they were.
  for (std::size_t k = comparisons.size(); k-- > 0;) {
    const std::optional<TypeInfo>& left = types[2 * k];
    const std::optional<TypeInfo>& right = types[2 * k + 1];
    if (!left || !right || !left->date || !right->date) continue;
    if (Precedence(*right->date) <= Precedence(*left->date)) continue;
    Token collation = MakeToken(TokenKind::Word, "COLLATE " + DateCollation(*right->date), tokens[0].line);
    collation.spaceBefore = true;
    tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(comparisons[k].right.second), collation);
  }
}

}  // namespace closewright::sqlite::translation
