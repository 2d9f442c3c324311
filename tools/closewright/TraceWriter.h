#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

namespace closewright::tool {

/// JSON string contents for arbitrary bytes: quotes, backslashes and control characters escaped, valid UTF-8
/// kept as it is, each byte of an invalid sequence replaced by U+FFFD.
std::string JsonEscape(std::string_view text);

/// Appends one JSON object per text sent to a database:
/// {"seq":N,"conn":C,"op":"Execute"|"Recordset.Open","text":"..."}.
class TraceWriter {
 public:
  explicit TraceWriter(const std::string& path);
  void Write(std::int32_t connection, std::string_view operation, std::string_view text);

 private:
  std::ofstream out_;
  std::int64_t sequence_ = 0;
};

}  // namespace closewright::tool
