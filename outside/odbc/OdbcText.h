#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Text conversions of the ODBC provider, kept free of ODBC headers. The provider talks to drivers through
// the wide (UTF-16) entry points so that text reaches the server unchanged whatever the process locale.
namespace closewright::odbc_text {

/// UTF-8 to UTF-16; nullopt with the offset of the first bad byte in `badByte` when the text is not UTF-8.
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8, std::size_t* badByte = nullptr);
/// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

/// A driver message without the bracketed component tags ("[unixODBC][FreeTDS][SQL Server]") in front.
std::string_view WithoutComponentTags(std::string_view message);

/// The isolation level a text asks for when it is nothing but "SET TRANSACTION ISOLATION LEVEL <level>"
/// (any case and spacing, optional ";"); the level in upper case with single blanks, else nullopt.
std::optional<std::string> IsolationLevelStatement(std::string_view text);

}  // namespace closewright::odbc_text
