#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "outside/Dispatch.h"
#include "registration/Identifiers.h"

namespace closewright {

inline constexpr std::int32_t kSOk = 0;
inline constexpr std::int32_t kSFalse = 1;
inline constexpr std::int32_t kClassNotAvailable = static_cast<std::int32_t>(0x80040111u);
inline constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002u);
inline constexpr std::int32_t kSelfRegClassError = static_cast<std::int32_t>(0x80040201u);

/// The class object DllGetClassObject hands out: creates CCloseData objects for an interface it answers.
class CloseDataClassObject {
 public:
  std::int32_t CreateInstance(const Guid& iid, std::shared_ptr<Dispatch>& object) const;
};

/// Where registration is recorded on this platform: $CLOSEWRIGHT_REGISTRY, else
/// $XDG_CONFIG_HOME/closewright/registry, else ~/.config/closewright/registry.
std::string RegistryFilePath();

}  // namespace closewright

extern "C" {
std::int32_t DllRegisterServer();
std::int32_t DllUnregisterServer();
std::int32_t DllGetClassObject(const closewright::Guid* clsid, const closewright::Guid* iid,
                               void** classObject);
std::int32_t DllCanUnloadNow();
}
