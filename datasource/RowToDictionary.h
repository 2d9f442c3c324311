#pragma once

#include <memory>

namespace closewright {

class Dictionary;
class Recordset;

/// The current row of an open recordset as a keyed dictionary: one entry per field, in field order, keyed by
/// the field's name, holding its value (Null stays Null).
std::shared_ptr<Dictionary> RowToDictionary(const Recordset& recordset);

}  // namespace closewright
