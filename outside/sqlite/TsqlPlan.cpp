#include "outside/sqlite/TsqlPlan.h"
#include "outside/sqlite/NumberConversion.h"

#include <cctype>
#include <charconv>

#include "outside/Text.h"
#include "outside/sqlite/TsqlTranslator.h"

namespace closewright::sqlite {

std::string UnsupportedMessage(std::string_view construct, std::int32_t line) {
  return "Unsupported T-SQL at line " + std::to_string(line) + ": " + std::string(construct) +
         " is outside the subset the embedded provider runs (see docs/tsql-subset.md); nothing of the batch "
         "was run.";
}

TypeInfo TypeFromDeclaration(std::string_view declaredType) {
  TypeInfo info;
  const TypeDeclaration declaration = ReadTypeDeclaration(declaredType);
  const std::string& word = declaration.word;
  const std::vector<std::int32_t>& args = declaration.arguments;
  if (word == "INT" || word == "INTEGER" || word == "SMALLINT" || word == "TINYINT" || word == "BIGINT") {
    info.kind = ValueKind::Integer;
  } else if (word == "BIT") {
    info.kind = ValueKind::Bit;
  } else if (word == "DECIMAL" || word == "NUMERIC" || word == "DEC") {
    info.kind = ValueKind::Decimal;
    info.scale = args.size() >= 2 && args[1] >= 0 ? args[1] : 0;
  } else if (word == "MONEY" || word == "SMALLMONEY") {
    info.kind = ValueKind::Decimal;
    info.scale = 4;
  } else if (word == "FLOAT" || word == "REAL" || word == "DOUBLE") {
    info.kind = ValueKind::Float;
  } else if (word == "VARCHAR" || word == "NVARCHAR" || word == "CHAR" || word == "NCHAR" || word == "TEXT" ||
             word == "NTEXT") {
    info.kind = ValueKind::Text;
    if (!args.empty()) info.length = args[0];
    if ((word == "CHAR" || word == "NCHAR") && args.empty()) info.length = 1;
  } else if (const auto date = DateTypeOf(declaration)) {
    info.kind = ValueKind::DateTime;
    info.date = date;
  }
  if (info.kind == ValueKind::Integer || info.kind == ValueKind::Bit || info.kind == ValueKind::Decimal)
    info.numeric = ExactNumericTypeOf(declaration);
  return info;
}

namespace {

void ForEachSyntaxCheckIn(const Statement& s,
                          const std::function<void(const std::string&, std::int32_t)>& check) {
  if (s.syntaxChecked) check(s.sql, s.line);
  for (const VariableDeclaration& declaration : s.declarations) {
    if (!declaration.initializer.empty()) check(declaration.initializer, declaration.line);
  }
  if (!s.argument.empty()) check(s.argument, s.line);
  if (s.create && !s.create->sql.empty()) check(s.create->sql.front(), s.line);
  for (const Statement& child : s.children) ForEachSyntaxCheckIn(child, check);
}

}  // namespace

void ForEachSyntaxCheck(const Plan& plan,
                        const std::function<void(const std::string&, std::int32_t)>& check) {
  for (const Statement& s : plan.statements) ForEachSyntaxCheckIn(s, check);
}

Plan TranslateBatch(std::string_view batch, std::size_t tokensAtOnce, const ColumnCatalog& catalog) {
  BatchTokenizer tokenizer(batch);
  return translation::Translator(tokenizer, tokensAtOnce, catalog).Run();
}

}  // namespace closewright::sqlite
