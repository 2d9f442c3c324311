#include "parse/CParse.h"

#include <algorithm>

#include "outside/ComError.h"
#include "outside/Text.h"
#include "outside/Variant.h"

namespace closewright {

std::string CParse::GetToken(std::string& working, char delimiter) {
  const auto at = working.find(delimiter);
  if (at == std::string::npos) {
    std::string whole = std::move(working);
    working.clear();
    return whole;
  }
  std::string first = working.substr(0, at);
  working.erase(0, at + 1);
  return first;
}

std::string CParse::GetNextKey(std::string& working) {
  return std::string(TrimSpaces(GetToken(working, '=')));
}

std::string CParse::GetNextValue(std::string& working) {
  // The description trims the space character only, not tabs or line breaks.
  working = std::string(TrimSpaces(working));
  std::string value;
  if (!working.empty() && working.front() == '{') {
    working.erase(0, 1);
    value = GetToken(working, '}');
    GetToken(working, ';');
  } else {
    value = GetToken(working, ';');
  }
  return std::string(TrimSpaces(value));
}

bool CParse::ParseString(const std::string& sToParse) {
  std::string working = sToParse;
  description_ = sToParse;
  properties_.clear();
  for (;;) {
    std::string key = GetNextKey(working);
    std::string value = GetNextValue(working);
    if (key.empty()) break;
    const bool repeated = std::any_of(properties_.begin(), properties_.end(),
                                      [&](const auto& pair) { return EqualsIgnoringCase(pair.first, key); });
    if (repeated) throw ComError::Runtime(error_number::kKeyAlreadyAssociated);
    properties_.emplace_back(std::move(key), std::move(value));
  }
  return true;
}

std::string CParse::GetProperty(std::string_view sPropName) const {
  for (const auto& [key, value] : properties_) {
    if (EqualsIgnoringCase(key, sPropName)) return value;
  }
  throw ComError::Runtime(error_number::kInvalidProcedureCall);
}

std::int32_t CParse::UserID() const {
  return Variant(GetProperty("UserID")).ToLong();
}

bool CParse::IsIndustry() const {
  return ToUpperAscii(GetProperty("AcctType")) == "GY";
}

}  // namespace closewright
