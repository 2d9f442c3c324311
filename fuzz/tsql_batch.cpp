// The embedded provider reads every batch sent to it: any text must be tokenized and translated or
// refused with a TsqlError before anything runs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "outside/sqlite/TsqlLexer.h"
#include "outside/sqlite/TsqlPlan.h"

using namespace closewright::sqlite;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view batch(reinterpret_cast<const char*>(data), size);
  try {
    for (const Token& token : TokenizeBatch(batch)) {
      if (token.line < 1) std::abort();
    }
  } catch (const TsqlError&) {
  }
  try {
    TranslateBatch(batch);
  } catch (const TsqlError&) {
  }
  // A value quoted for the database reads back as one string token holding the value.
  try {
    const auto tokens = TokenizeBatch(QuoteText(batch));
    if (tokens.size() != 1 || tokens[0].kind != TokenKind::String || tokens[0].text != batch) std::abort();
  } catch (const TsqlError&) {
    std::abort();
  }
  TypeFromDeclaration(batch);
  return 0;
}
