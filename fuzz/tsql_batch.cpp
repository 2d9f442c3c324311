// The embedded provider reads every batch sent to it: any text must be tokenized and translated or
// refused with a TsqlError before anything runs, and the same way however much of it is read at a time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "outside/Text.h"
#include "outside/sqlite/TsqlLexer.h"
#include "outside/sqlite/TsqlPlan.h"

using namespace closewright::sqlite;

namespace {

void OutlineStatement(const Statement& s, std::string& out) {
  out += std::to_string(static_cast<int>(s.kind)) + '@' + std::to_string(s.line) + ':' + s.sql + '\n';
  for (const VariableDeclaration& d : s.declarations) out += d.name + '=' + d.initializer + '\n';
  for (const Statement& child : s.children) OutlineStatement(child, out);
}

std::string Outline(std::string_view batch, std::size_t tokensAtOnce) {
  std::string out;
  try {
    const Plan plan = TranslateBatch(batch, tokensAtOnce);
    for (const Statement& s : plan.statements) OutlineStatement(s, out);
    ForEachSyntaxCheck(plan, [&](const std::string& sql, std::int32_t line) {
      out += "check " + std::to_string(line) + ' ' + sql + '\n';
    });
  } catch (const TsqlError& error) {
    out =
        "error " + std::to_string(error.nativeError) + ' ' + std::to_string(error.line) + ' ' + error.message;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view batch(reinterpret_cast<const char*>(data), size);
  try {
    for (const Token& token : TokenizeBatch(batch)) {
      if (token.line < 1) std::abort();
    }
  } catch (const TsqlError&) {
  }
  // Reading the batch a few tokens at a time must give the translation, or the error, of the whole batch.
  const std::string whole = Outline(batch, std::size_t{1} << 30);
  if (Outline(batch, 3) != whole) std::abort();
  // A value quoted for the database reads back as one string token holding the value.
  try {
    const auto tokens = TokenizeBatch(closewright::QuoteSqlText(batch));
    if (tokens.size() != 1 || tokens[0].kind != TokenKind::String || tokens[0].text != batch) std::abort();
  } catch (const TsqlError&) {
    std::abort();
  }
  TypeFromDeclaration(batch);
  return 0;
}
