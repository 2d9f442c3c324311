#include "outside/ScaledNumber.h"

#include <charconv>
#include <cmath>

namespace closewright {

namespace {

// Adds one to the last digit of `digits`, carrying leftwards; a carry out of the first digit adds one.
void IncrementDigits(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  digits.insert(digits.begin(), '1');
}

// `text` is a plain decimal (digits, an optional point, no sign or exponent).
std::string AtScale(const std::string& text, bool negative, std::size_t scale) {
  const std::size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  std::string fraction = point == std::string::npos ? std::string() : text.substr(point + 1);
  if (fraction.size() > scale) {
    const bool roundUp = fraction[scale] >= '5';
    fraction.resize(scale);
    if (roundUp) {
      std::string digits = whole + fraction;
      IncrementDigits(digits);
      whole = digits.substr(0, digits.size() - scale);
      fraction = digits.substr(digits.size() - scale);
    }
  }
  fraction.append(scale - fraction.size(), '0');
  const bool zero = whole.find_first_not_of('0') == std::string::npos &&
                    fraction.find_first_not_of('0') == std::string::npos;
  std::string out = negative && !zero ? "-" : "";
  out += whole.empty() ? "0" : whole;
  if (scale > 0) out += '.' + fraction;
  return out;
}

}  // namespace

std::string FormatAtScale(const Variant& value, std::int32_t scale) {
  const std::size_t digits = scale > 0 ? static_cast<std::size_t>(scale) : 0;
  if (value.Type() == VariantType::Long) {
    const std::int64_t whole = value.ToLong();
    const std::string text = std::to_string(whole < 0 ? -whole : whole);
    return AtScale(text, whole < 0, digits);
  }
  if (value.Type() != VariantType::Double) return value.ToString();
  const double number = value.ToDouble();
  if (!std::isfinite(number)) return value.ToString();
  // Fixed notation at the fewest digits that read back as the double: its 1e308 needs some 310 places.
  char text[400];
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, std::fabs(number), std::chars_format::fixed);
  if (error != std::errc()) return value.ToString();
  return AtScale(std::string(text, end), number < 0, digits);
}

}  // namespace closewright
