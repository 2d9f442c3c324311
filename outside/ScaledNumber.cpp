#include "outside/ScaledNumber.h"

#include <optional>

#include "outside/Decimal.h"

namespace closewright {

std::string FormatAtScale(const Variant& value, std::int32_t scale) {
  std::optional<Decimal> exact;
  if (value.Type() == VariantType::Long) exact = Decimal::FromInteger(value.ToLong());
  if (value.Type() == VariantType::Double) exact = Decimal::FromDouble(value.ToDouble());
  if (value.Type() == VariantType::LongLong) exact = Decimal::FromInteger(value.ToLongLong());
  // A provider's decimal already has the digits the server sent, at the column's scale.
  if (value.Type() == VariantType::Decimal) return value.ToString();
  if (exact) exact = exact->Rescaled(scale > 0 ? scale : 0);
  return exact ? exact->ToString() : value.ToString();
}

}  // namespace closewright
