#include "registration/Identifiers.h"

#include <algorithm>
#include <cstdio>

namespace closewright {
namespace {

void PutLittleEndian(std::uint8_t* out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::string ToString(const Guid& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.data1,
                guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2], guid.data4[3],
                guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
  return text;
}

bool AnswersInterface(const Guid& iid) noexcept {
  return iid == kIidIUnknown || iid == kIidIDispatch ||
         std::find(kInterfaceRevisions.begin(), kInterfaceRevisions.end(), iid) != kInterfaceRevisions.end();
}

std::array<std::uint8_t, 84> InterfaceIdResource() noexcept {
  std::array<std::uint8_t, 84> resource{};
  PutLittleEndian(resource.data(), 80, 4);
  std::uint8_t* out = resource.data() + 4;
  for (const Guid& iid : kInterfaceRevisions) {
    PutLittleEndian(out, iid.data1, 4);
    PutLittleEndian(out + 4, iid.data2, 2);
    PutLittleEndian(out + 6, iid.data3, 2);
    std::copy(iid.data4.begin(), iid.data4.end(), out + 8);
    out += 16;
  }
  return resource;
}

}  // namespace closewright
