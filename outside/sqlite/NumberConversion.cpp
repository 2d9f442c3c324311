#include "outside/sqlite/NumberConversion.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "outside/Text.h"

namespace closewright::sqlite {

namespace {

ConversionResult Failed(std::int32_t number, std::string sqlState, std::string message) {
  ConversionResult result;
  result.error = ConversionError{number, std::move(sqlState), std::move(message)};
  return result;
}

// learn.microsoft.com "Database engine events and errors": 8115 "Arithmetic overflow error converting %ls
// to data type %ls.", 220 "Arithmetic overflow error for data type %ls, value = %ld.".
ConversionResult Overflow(const Decimal& value, NumericType target, bool fromInteger) {
  const bool small = target.kind == NumericKind::TinyInt || target.kind == NumericKind::SmallInt;
  if (small && fromInteger) {
    return Failed(
        220, "22003",
        "Arithmetic overflow error for data type " + target.Name() + ", value = " + value.ToString() + ".");
  }
  return Failed(8115, "22003",
                std::string("Arithmetic overflow error converting ") +
                    (fromInteger ? "expression" : "numeric") + " to data type " + target.Name() + ".");
}

ConversionResult ToInteger(const Decimal& value, NumericType target, bool fromInteger) {
  const auto whole = value.TruncatedToInteger();
  if (target.kind == NumericKind::Bit) {
    ConversionResult result;
    result.value = {true, value.IsZero() ? 0 : 1, 0};
    return result;
  }
  if (!whole || !IntegerFits(target.kind, *whole)) return Overflow(value, target, fromInteger);
  ConversionResult result;
  result.value = {true, *whole, 0};
  return result;
}

ConversionResult FromText(std::string_view text, NumericType target) {
  if (target.kind == NumericKind::Bit) {
    const std::string word = ToUpperAscii(TrimWhitespace(text));
    if (word == "TRUE" || word == "FALSE") {
      ConversionResult result;
      result.value = {true, word == "TRUE" ? 1 : 0, 0};
      return result;
    }
  }
  const Decimal::ParseResult parsed = Decimal::Parse(text);
  const bool whole = parsed.status == Decimal::ParseStatus::Ok && text.find('.') == std::string_view::npos;
  if (target.IsInteger() && !whole) {
    return Failed(245, "22018",
                  "Conversion failed when converting the varchar value '" + std::string(text) +
                      "' to data type " + target.Name() + ".");
  }
  if (parsed.status != Decimal::ParseStatus::Ok)
    return Failed(8114, "37000", "Error converting data type varchar to " + target.Name() + ".");
  return ConvertExact(parsed.value, target, whole);
}

}  // namespace

ConversionResult ConvertValueTo(const SourceValue& value, NumericType target) {
  switch (value.storage) {
    case SourceValue::Storage::Integer:
      return ConvertExact(Decimal::FromInteger(value.integer), target, true);
    case SourceValue::Storage::Real: {
      const auto exact = Decimal::FromDouble(value.real);
      if (!exact) {
        return Failed(8115, "22003",
                      "Arithmetic overflow error converting float to data type " + target.Name() + ".");
      }
      return ConvertExact(*exact, target, false);
    }
    case SourceValue::Storage::Text:
      break;
  }
  return FromText(value.text, target);
}

ConversionResult ConvertExact(const Decimal& value, NumericType target, bool fromInteger) {
  if (target.IsInteger()) return ToInteger(value, target, fromInteger);
  const auto rounded = value.Rescaled(target.scale);
  if (!rounded || !rounded->FitsPrecision(target.precision)) return Overflow(value, target, fromInteger);
  const double real = rounded->ToDouble();
  const auto back = Decimal::FromDouble(real);
  if (!back || Compare(*back, *rounded) != 0) {
    return Failed(
        0, "HYC00",
        "The value " + rounded->ToString() +
            " has more significant digits than the embedded provider "
            "holds exactly (it keeps numbers as doubles, exact to 15 digits); SQL Server would store it "
            "as " +
            target.Name() + "(" + std::to_string(target.precision) + "," + std::to_string(target.scale) +
            "). Nothing of the statement was kept.");
  }
  ConversionResult result;
  result.value = {false, 0, real};
  return result;
}

namespace {

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                   1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kExactPowers = 22;  // 10^22 is the largest power of ten a double holds exactly
constexpr double kExactIntegers = 9007199254740992.0;  // 2^53

}  // namespace

bool IsStoredForm(double value, NumericType target) {
  if (!std::isfinite(value)) return false;
  if (target.IsInteger()) return false;  // a double in an integer column is always converted
  const int integral = target.precision - target.scale;
  if (target.scale <= kExactPowers && integral <= kExactPowers) {
    // k = value * 10^s rounded is the coefficient if the value has at most s places: then k / 10^s, rounded
    // once, is the double nearest that decimal, which is the value itself. A value with more places gives
    // a different double. Cheap enough for every row a statement stores.
    const double scaled = value * kPowersOfTen[target.scale];
    if (std::fabs(scaled) < kExactIntegers) {
      return std::round(scaled) / kPowersOfTen[target.scale] == value &&
             std::fabs(value) < kPowersOfTen[integral];
    }
  }
  // The shortest form's digits after the point decide the scale.
  char buffer[64];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return false;
  const std::string_view text(buffer, static_cast<std::size_t>(end - buffer));
  if (text.find_first_of("eE") != std::string_view::npos) return false;
  const std::size_t point = text.find('.');
  const std::size_t places = point == std::string_view::npos ? 0 : text.size() - point - 1;
  if (places > static_cast<std::size_t>(target.scale)) return false;
  const std::size_t sign = text.front() == '-' ? 1 : 0;
  std::size_t digitsBefore = (point == std::string_view::npos ? text.size() : point) - sign;
  if (digitsBefore == 1 && text[sign] == '0') digitsBefore = 0;
  return digitsBefore <= static_cast<std::size_t>(integral);
}

bool StoresAsItIs(const SourceValue& value, NumericType target) {
  switch (value.storage) {
    case SourceValue::Storage::Integer:
      return target.IsInteger() && target.kind != NumericKind::Bit && IntegerFits(target.kind, value.integer);
    case SourceValue::Storage::Real:
      return IsStoredForm(value.real, target);
    case SourceValue::Storage::Text:
      break;
  }
  return false;
}

std::string DeclarationOf(NumericType type) {
  if (type.kind == NumericKind::Decimal)
    return "DECIMAL(" + std::to_string(type.precision) + "," + std::to_string(type.scale) + ")";
  return ToUpperAscii(type.Name());
}

TypeDeclaration ReadTypeDeclaration(std::string_view declaredType) {
  TypeDeclaration declaration;
  const std::string_view text = TrimWhitespace(declaredType);
  std::size_t wordEnd = 0;
  while (wordEnd < text.size() &&
         (std::isalnum(static_cast<unsigned char>(text[wordEnd])) != 0 || text[wordEnd] == '_')) {
    ++wordEnd;
  }
  declaration.word = ToUpperAscii(text.substr(0, wordEnd));
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos) return declaration;
  const std::size_t close = text.find(')', open);
  const std::string_view inside =
      text.substr(open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1);
  for (std::size_t start = 0; start <= inside.size();) {
    const std::size_t comma = inside.find(',', start);
    const std::string_view part = TrimWhitespace(
        inside.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    std::int32_t value = -1;
    std::from_chars(part.data(), part.data() + part.size(), value);
    declaration.arguments.push_back(value);
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return declaration;
}

std::optional<NumericType> ExactNumericTypeOf(const TypeDeclaration& declaration) {
  static constexpr std::pair<std::string_view, NumericKind> kFixed[] = {
      {"BIT", NumericKind::Bit},           {"TINYINT", NumericKind::TinyInt},
      {"SMALLINT", NumericKind::SmallInt}, {"INT", NumericKind::Int},
      {"INTEGER", NumericKind::Int},       {"BIGINT", NumericKind::BigInt},
      {"MONEY", NumericKind::Money},       {"SMALLMONEY", NumericKind::SmallMoney}};
  for (const auto& [name, kind] : kFixed) {
    if (declaration.word == name) return NumericType::Of(kind);
  }
  const std::string& word = declaration.word;
  if (word != "DECIMAL" && word != "NUMERIC" && word != "DEC") return std::nullopt;
  // DECIMAL alone is DECIMAL(18,0); DECIMAL(p) has scale 0.
  const std::vector<std::int32_t>& arguments = declaration.arguments;
  const int precision = arguments.empty() || arguments[0] < 0 ? 18 : arguments[0];
  const int scale = arguments.size() > 1 && arguments[1] >= 0 ? arguments[1] : 0;
  return NumericType::DecimalOf(precision, scale);
}

}  // namespace closewright::sqlite
