#include "tests/windows/client/ValueConversions.h"

#include <cstdint>

#include "registration/windows/ComConversions.h"

namespace {

using closewright::ComError;
using closewright::Decimal;
using closewright::Variant;
using closewright::windows::FromVariant;
using closewright::windows::ToVariant;

// Owns a VARIANT for the length of a check.
struct HeldVariant {
  VARIANT value;
  HeldVariant() { VariantInit(&value); }
  ~HeldVariant() { VariantClear(&value); }
  HeldVariant(const HeldVariant&) = delete;
  HeldVariant& operator=(const HeldVariant&) = delete;
};

// The DECIMAL the platform reads from text, with the invariant locale's point.
DECIMAL PlatformDecimal(const wchar_t* text) {
  DECIMAL out{};
  if (FAILED(VarDecFromStr(const_cast<OLECHAR*>(text), LOCALE_INVARIANT, 0, &out))) out.scale = 255;
  return out;
}

std::int32_t ErrorNumberOfToVariant(const Variant& value) {
  HeldVariant out;
  try {
    ToVariant(value, &out.value);
  } catch (const ComError& error) {
    return error.Number();
  }
  return 0;
}

}  // namespace

void CheckValueConversions(void (*check)(bool passed, const char* what)) {
  // 2^53 + 1: a double would give ...992.
  HeldVariant big;
  ToVariant(Variant(std::int64_t{9007199254740993}), &big.value);
  check(V_VT(&big.value) == VT_I8 && V_I8(&big.value) == 9007199254740993, "a LongLong goes out as VT_I8");
  HeldVariant bigText;
  check(SUCCEEDED(VariantChangeType(&bigText.value, &big.value, 0, VT_BSTR)) &&
            FromVariant(bigText.value).ToString() == "9007199254740993",
        "the platform reads every digit of that VT_I8");
  check(FromVariant(big.value) == Variant(std::int64_t{9007199254740993}),
        "a VT_I8 comes back as a LongLong");

  // Sign, scale and the 96-bit coefficient as the platform lays a DECIMAL out.
  HeldVariant money;
  ToVariant(Variant(Decimal::Parse("-123.4500").value), &money.value);
  DECIMAL expected = PlatformDecimal(L"-123.45");
  check(V_VT(&money.value) == VT_DECIMAL && VarDecCmp(&V_DECIMAL(&money.value), &expected) == VARCMP_EQ,
        "a Decimal goes out as a VT_DECIMAL the platform finds equal to its own -123.45");
  HeldVariant asDouble;
  check(SUCCEEDED(VariantChangeType(&asDouble.value, &money.value, 0, VT_R8)) &&
            V_R8(&asDouble.value) == -123.45,
        "the platform converts that VT_DECIMAL to the double -123.45");
  check(FromVariant(money.value).ToString() == "-123.4500", "a VT_DECIMAL comes back with its scale");

  HeldVariant largest;
  V_DECIMAL(&largest.value) = PlatformDecimal(L"79228162514264337593543950335");
  V_VT(&largest.value) = VT_DECIMAL;
  const Variant read = FromVariant(largest.value);
  HeldVariant again;
  ToVariant(read, &again.value);
  check(read.ToString() == "79228162514264337593543950335" &&
            VarDecCmp(&V_DECIMAL(&again.value), &V_DECIMAL(&largest.value)) == VARCMP_EQ,
        "the largest DECIMAL, all 96 bits, goes both ways unchanged");

  // What a DECIMAL cannot hold is refused with error 6, never rounded to what it can.
  check(ErrorNumberOfToVariant(Variant(Decimal::Parse("79228162514264337593543950336").value)) == 6,
        "a Decimal beyond 96 bits is refused with error 6");
  check(ErrorNumberOfToVariant(Variant(Decimal::Parse("0.12345678901234567890123456789").value)) == 6,
        "a Decimal of 29 places is refused with error 6");
}
