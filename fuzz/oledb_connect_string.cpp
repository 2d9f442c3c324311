// OLE DB connect strings are mapped to ODBC keywords and masked for errors and logs. The first input byte
// picks the driver the mapping is for; the rest is the connect string.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "outside/ComError.h"
#include "outside/odbc/OdbcProvider.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view driver = (data[0] & 1) != 0 ? "FreeTDS" : "ODBC Driver 18 for SQL Server";
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const bool named = closewright::IsOleDbSqlServerConnectString(text);
  try {
    const std::string mapped = closewright::MapOleDbConnectString(text, driver);
    if (!named || mapped.rfind("Driver=", 0) != 0) std::abort();
    closewright::MaskConnectStringPasswords(mapped);
  } catch (const closewright::ComError&) {
    // Refused: no OLE DB provider for SQL Server, or a value the mapping cannot carry over (a bad port).
  }
  // Masking only ever replaces values, so masking twice changes nothing more.
  const std::string masked = closewright::MaskConnectStringPasswords(text);
  if (closewright::MaskConnectStringPasswords(masked) != masked) std::abort();
  return 0;
}
