#include "outside/ConnectString.h"

#include "outside/Text.h"

namespace closewright {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::vector<ConnectStringPair> ReadConnectString(std::string_view text, ConnectStringEnclosing enclosing) {
  std::vector<ConnectStringPair> pairs;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t keyEnd = text.find_first_of("=;", at);
    if (keyEnd == std::string_view::npos) break;
    if (text[keyEnd] == ';') {
      at = keyEnd + 1;
      continue;
    }
    ConnectStringPair pair;
    pair.key = std::string(TrimWhitespace(text.substr(at, keyEnd - at)));
    std::size_t position = keyEnd + 1;
    while (position < text.size() && IsBlank(text[position])) ++position;
    pair.valueBegin = position;
    const char open = position < text.size() ? text[position] : '\0';
    const bool enclosed =
        (enclosing != ConnectStringEnclosing::None && open == '{') ||
        (enclosing == ConnectStringEnclosing::BracesAndQuotes && (open == '"' || open == '\''));
    if (enclosed) {
      const char close = open == '{' ? '}' : open;
      std::size_t scan = position + 1;
      while (scan < text.size()) {
        if (text[scan] == close) {
          if (scan + 1 < text.size() && text[scan + 1] == close) {
            pair.value.push_back(close);
            scan += 2;
            continue;
          }
          break;
        }
        pair.value.push_back(text[scan]);
        ++scan;
      }
      pair.valueEnd = scan < text.size() ? scan + 1 : text.size();
      const std::size_t separator = text.find(';', pair.valueEnd);
      at = separator == std::string_view::npos ? text.size() : separator + 1;
    } else {
      std::size_t separator = text.find(';', position);
      if (separator == std::string_view::npos) separator = text.size();
      std::size_t end = separator;
      while (end > position && IsBlank(text[end - 1])) --end;
      pair.value = std::string(text.substr(position, end - position));
      pair.valueEnd = end;
      at = separator + 1;
    }
    if (!pair.key.empty()) pairs.push_back(std::move(pair));
  }
  return pairs;
}

bool IsSqlServerOleDbProvider(std::string_view provider) noexcept {
  provider = TrimWhitespace(provider);
  return EqualsIgnoringCase(provider, "SQLOLEDB") || StartsWithIgnoringCase(provider, "SQLOLEDB.") ||
         StartsWithIgnoringCase(provider, "SQLNCLI") || StartsWithIgnoringCase(provider, "MSOLEDBSQL");
}

}  // namespace closewright
