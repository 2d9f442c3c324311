#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace closewright {

/// Splits a connection description ("key=value;key={value};...") once per call and answers questions
/// about it. Keys are trimmed and compared without regard to case; a key may occur once only.
class CParse {
 public:
  /// The description last given to ParseString, unchanged (empty before).
  const std::string& PropsString() const noexcept { return description_; }
  std::string UserName() const { return GetProperty("UserName"); }
  /// "UserID" converted to a Long: error 13 for text that is not a number, 6 out of range.
  std::int32_t UserID() const;
  std::string ConDBMSName() const { return GetProperty("DBMS Name"); }
  std::string ConDBMSVersion() const { return GetProperty("DBMS Version"); }
  std::string ConStr() const { return GetProperty("ConnectString"); }
  /// The value stored under a key (any case); error 5 when absent.
  std::string GetProperty(std::string_view sPropName) const;
  /// Always True when it returns; a repeated key raises error 457 after the earlier pairs are stored.
  bool ParseString(const std::string& sToParse);
  /// True when "AcctType", upper-cased, is "GY".
  bool IsIndustry() const;
  std::string LanguageID() const { return GetProperty("LANGUAGE"); }

  /// The pairs in the order they were stored.
  const std::vector<std::pair<std::string, std::string>>& Pairs() const noexcept { return properties_; }

 private:
  static std::string GetToken(std::string& working, char delimiter);
  static std::string GetNextKey(std::string& working);
  static std::string GetNextValue(std::string& working);

  std::vector<std::pair<std::string, std::string>> properties_;
  std::string description_;
};

}  // namespace closewright
