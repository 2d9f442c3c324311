#include "outside/odbc/OdbcText.h"

#include <cstdint>

#include "outside/Text.h"

namespace closewright::odbc_text {

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8, std::size_t* badByte) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t at = 0;
  const auto fail = [&]() -> std::optional<std::u16string> {
    if (badByte != nullptr) *badByte = at;
    return std::nullopt;
  };
  while (at < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[at]);
    std::uint32_t codePoint = 0;
    std::size_t length = 0;
    if (lead < 0x80) {
      codePoint = lead;
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      codePoint = lead & 0x1Fu;
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      codePoint = lead & 0x0Fu;
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      codePoint = lead & 0x07u;
      length = 4;
    } else {
      return fail();
    }
    if (at + length > utf8.size()) return fail();
    for (std::size_t i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(utf8[at + i]);
      if ((next & 0xC0u) != 0x80u) return fail();
      codePoint = (codePoint << 6) | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((length == 3 && codePoint < 0x800) ||
        (length == 4 && (codePoint < 0x10000 || codePoint > 0x10FFFF)) ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return fail();
    }
    if (codePoint < 0x10000) {
      out.push_back(static_cast<char16_t>(codePoint));
    } else {
      codePoint -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (codePoint >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (codePoint & 0x3FFu)));
    }
    at += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t at = 0; at < utf16.size(); ++at) {
    std::uint32_t codePoint = utf16[at];
    if (codePoint >= 0xD800 && codePoint <= 0xDBFF && at + 1 < utf16.size() && utf16[at + 1] >= 0xDC00 &&
        utf16[at + 1] <= 0xDFFF) {
      codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (utf16[at + 1] - 0xDC00u);
      ++at;
    } else if (codePoint >= 0xD800 && codePoint <= 0xDFFF) {
      codePoint = 0xFFFD;
    }
    if (codePoint < 0x80) {
      out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
      out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
      out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
      out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
  }
  return out;
}

std::string_view WithoutComponentTags(std::string_view message) {
  while (!message.empty() && message.front() == '[') {
    const std::size_t close = message.find(']');
    if (close == std::string_view::npos) break;
    message.remove_prefix(close + 1);
  }
  return TrimWhitespace(message);
}

std::optional<std::string> IsolationLevelStatement(std::string_view text) {
  std::string_view trimmed = TrimWhitespace(text);
  if (!trimmed.empty() && trimmed.back() == ';')
    trimmed = TrimWhitespace(trimmed.substr(0, trimmed.size() - 1));
  std::string words;
  bool blank = false;
  for (char c : trimmed) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      blank = true;
      continue;
    }
    if (blank && !words.empty()) words.push_back(' ');
    blank = false;
    words.push_back(c);
  }
  words = ToUpperAscii(words);
  constexpr std::string_view kPrefix = "SET TRANSACTION ISOLATION LEVEL ";
  if (words.rfind(kPrefix, 0) != 0) return std::nullopt;
  std::string level = words.substr(kPrefix.size());
  for (std::string_view known : {"READ UNCOMMITTED", "READ COMMITTED", "REPEATABLE READ", "SERIALIZABLE"}) {
    if (level == known) return level;
  }
  return std::nullopt;
}

}  // namespace closewright::odbc_text
