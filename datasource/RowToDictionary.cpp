#include "datasource/RowToDictionary.h"

#include "outside/Ado.h"
#include "outside/Dictionary.h"

namespace closewright {

std::shared_ptr<Dictionary> RowToDictionary(const Recordset& recordset) {
  auto row = std::make_shared<Dictionary>();
  for (const Field& field : recordset.GetFields()) row->SetItem(field.Name(), field.Value());
  return row;
}

}  // namespace closewright
