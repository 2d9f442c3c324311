#pragma once

#include <string>
#include <string_view>

namespace closewright {

/// ASCII case folding: identifiers, keys and ProgIDs of this system are ASCII.
char ToLowerAscii(char c) noexcept;
std::string ToLowerAscii(std::string_view text);
std::string ToUpperAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view left, std::string_view right) noexcept;
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) noexcept;
/// Removes leading and trailing blanks, tabs and line breaks.
std::string_view TrimWhitespace(std::string_view text) noexcept;
/// A T-SQL string literal of `text`: in single quotes, each quote inside doubled.
std::string QuoteSqlText(std::string_view text);

}  // namespace closewright
