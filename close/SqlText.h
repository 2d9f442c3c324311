#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace closewright {

/// A value for the {Name} placeholder of a statement template.
struct Placeholder {
  std::string_view name;
  std::string value;
};

/// Fills the {Name} placeholders of a statement template in one pass from left to right: a value put in is
/// never searched for placeholders itself, and a brace pair whose name is not listed stays as it is.
inline std::string FillPlaceholders(std::string_view text, std::initializer_list<Placeholder> values) {
  std::string result;
  result.reserve(text.size() + 64);
  std::size_t position = 0;
  while (position < text.size()) {
    const std::size_t open = text.find('{', position);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('}', open + 1);
    if (close == std::string_view::npos) break;
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const Placeholder* match = nullptr;
    for (const Placeholder& value : values) {
      if (value.name == name) match = &value;
    }
    result.append(text.substr(position, open - position));
    if (match != nullptr) {
      result.append(match->value);
      position = close + 1;
    } else {
      result.push_back('{');
      position = open + 1;
    }
  }
  result.append(text.substr(position));
  return result;
}

}  // namespace closewright
