#pragma once

#include <cstdint>
#include <string>

#include "outside/Variant.h"

namespace closewright {

/// An exact number as SQL Server's client shows it: at its column's scale, `2.5` at scale 4 is `2.5000`
/// and `123.456` at scale 2 `123.46` (half away from zero, as the server rounds). A Decimal is shown with
/// the digits it holds, which the provider gave at the column's scale. For a Double the digits are the
/// shortest decimal text that reads back as the double, so a stored amount comes out as it went in. A
/// value that is no number (a text, a date, Null), or one beyond 38 digits, is left to Variant::ToString.
std::string FormatAtScale(const Variant& value, std::int32_t scale);

}  // namespace closewright
