// The SQL trace holds every text sent to a database, whatever bytes it holds: the escaped text must be
// valid UTF-8 JSON string contents and decode to the input wherever the input was valid UTF-8.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/closewright/TraceWriter.h"

namespace {

// Length of the valid UTF-8 sequence at text[at], or 0; written apart from the code under test.
std::size_t ValidSequence(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  std::uint32_t code = lead & (0x7Fu >> length);
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  const std::uint32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = ValidSequence(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes JSON string contents; aborts on anything a JSON reader would reject.
std::string Decode(std::string_view json) {
  std::string out;
  for (std::size_t at = 0; at < json.size(); ++at) {
    const char c = json[at];
    if (c == '"' || static_cast<unsigned char>(c) < 0x20) std::abort();
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++at >= json.size()) std::abort();
    switch (json[at]) {
      case '"':
        out += '"';
        break;
      case '\\':
        out += '\\';
        break;
      case '/':
        out += '/';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        if (at + 4 >= json.size()) std::abort();
        int code = 0;
        for (int i = 1; i <= 4; ++i) {
          const int digit = HexDigit(json[at + static_cast<std::size_t>(i)]);
          if (digit < 0) std::abort();
          code = code * 16 + digit;
        }
        // The writer escapes only control characters this way.
        if (code >= 0x80) std::abort();
        out += static_cast<char>(code);
        at += 4;
        break;
      }
      default:
        std::abort();
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string escaped = closewright::tool::JsonEscape(text);
  if (!IsValidUtf8(escaped)) std::abort();
  const std::string decoded = Decode(escaped);
  if (IsValidUtf8(text) && decoded != text) std::abort();
  return 0;
}
