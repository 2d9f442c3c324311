#pragma once

#include <string>
#include <vector>

namespace closewright::testing {

/// The texts a call is expected to send, kept in tests/golden/<name>, byte for byte as the call sends them.
///
/// A golden file holds each text after a marker line of its own, "=== 1 ===", "=== 2 ===" and so on; the
/// line break before a marker (and the one at the end of the file) is the file's, not the text's. Lines
/// before the first marker are comments. With CLOSEWRIGHT_UPDATE_GOLDEN=1 in the environment the file is
/// written from `sent` first, so that after changing a close step on purpose one run records its new texts
/// (review them with `git diff tests/golden`).
std::vector<std::string> GoldenTexts(const std::string& name, const std::vector<std::string>& sent);
/// The texts tests/golden/<name> holds, never written: for a test that expects some of them.
std::vector<std::string> GoldenTexts(const std::string& name);

}  // namespace closewright::testing
