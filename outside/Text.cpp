#include "outside/Text.h"

#include <algorithm>

namespace closewright {

char ToLowerAscii(char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string ToLowerAscii(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), [](char c) { return ToLowerAscii(c); });
  return result;
}

std::string ToUpperAscii(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; });
  return result;
}

bool EqualsIgnoringCase(std::string_view left, std::string_view right) noexcept {
  return left.size() == right.size() &&
         std::equal(left.begin(), left.end(), right.begin(),
                    [](char a, char b) { return ToLowerAscii(a) == ToLowerAscii(b); });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept {
  return text.size() >= prefix.size() && EqualsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimWhitespace(std::string_view text) noexcept {
  constexpr std::string_view kWhitespace = " \t\r\n";
  const auto first = text.find_first_not_of(kWhitespace);
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(kWhitespace);
  return text.substr(first, last - first + 1);
}

std::string_view TrimSpaces(std::string_view text) noexcept {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::size_t Utf8CharacterCount(std::string_view text) noexcept {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::size_t Utf8PrefixLength(std::string_view text, std::size_t characters) noexcept {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (seen == characters) return i;
    ++seen;
  }
  return text.size();
}

std::string DoubleQuoteCharacters(std::string_view text, char quote) {
  std::string doubled;
  doubled.reserve(text.size());
  for (char c : text) {
    doubled += c;
    if (c == quote) doubled += quote;
  }
  return doubled;
}

std::string EncloseInQuotes(std::string_view text, char quote) {
  std::string quoted(1, quote);
  quoted += DoubleQuoteCharacters(text, quote);
  quoted += quote;
  return quoted;
}

std::string QuoteSqlText(std::string_view text) {
  return EncloseInQuotes(text, '\'');
}

}  // namespace closewright
