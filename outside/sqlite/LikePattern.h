#pragma once

#include <optional>
#include <string_view>

namespace closewright::sqlite {

/// Whether `text` matches a T-SQL LIKE `pattern` ("LIKE (Transact-SQL)"): `%` any run of characters, `_`
/// one character, `[abc]` and `[a-c]` one of a set, `[^abc]` one not in it, and `escape` (when given)
/// taking the character after it literally. Letters compare without case, as under the database's
/// default collation. Runs in time proportional to the pattern's length times the text's.
bool MatchesLikePattern(std::string_view text, std::string_view pattern, std::optional<char32_t> escape);

}  // namespace closewright::sqlite
