#pragma once

#include <cstddef>
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
/// Removes leading and trailing space characters only: tabs and line breaks stay.
std::string_view TrimSpaces(std::string_view text) noexcept;
/// The number of UTF-8 characters in `text`: every byte that does not continue a character starts one.
std::size_t Utf8CharacterCount(std::string_view text) noexcept;
/// The bytes of the first `characters` UTF-8 characters of `text` (all of it when it has fewer).
std::size_t Utf8PrefixLength(std::string_view text, std::size_t characters) noexcept;
/// `text` with each `quote` character doubled, the one escape inside a SQL quoted literal or name.
std::string DoubleQuoteCharacters(std::string_view text, char quote);
/// `text` between two `quote` characters, each `quote` inside doubled.
std::string EncloseInQuotes(std::string_view text, char quote);
/// A T-SQL string literal of `text`: in single quotes, each quote inside doubled.
std::string QuoteSqlText(std::string_view text);

}  // namespace closewright
