// Connection descriptions come from users and configuration files: any text must parse or raise the
// component's own error, and what parses must obey the parser's rules.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "outside/ComError.h"
#include "outside/Text.h"
#include "parse/CParse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string description(reinterpret_cast<const char*>(data), size);
  closewright::CParse parser;
  try {
    parser.ParseString(description);
  } catch (const closewright::ComError&) {
    return 0;  // a repeated key
  }
  if (parser.PropsString() != description) std::abort();
  const auto& pairs = parser.Pairs();
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    const std::string& key = pairs[i].first;
    if (key.empty() || key.front() == ' ' || key.back() == ' ') std::abort();
    if (key.find('=') != std::string::npos) std::abort();
    for (std::size_t j = 0; j < i; ++j) {
      if (closewright::EqualsIgnoringCase(pairs[j].first, key)) std::abort();
    }
    // Every stored key answers with its own value, whatever its case.
    if (parser.GetProperty(closewright::ToUpperAscii(key)) != pairs[i].second) std::abort();
  }
  for (auto ask : {&closewright::CParse::ConStr, &closewright::CParse::ConDBMSName,
                   &closewright::CParse::ConDBMSVersion, &closewright::CParse::UserName}) {
    try {
      (parser.*ask)();
    } catch (const closewright::ComError&) {
    }
  }
  try {
    parser.UserID();
  } catch (const closewright::ComError&) {
  }
  try {
    parser.IsIndustry();
  } catch (const closewright::ComError&) {
  }
  return 0;
}
