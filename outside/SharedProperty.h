#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "outside/Variant.h"

namespace closewright {

inline constexpr std::int32_t kLockSetGet = 0;
inline constexpr std::int32_t kProcess = 1;

/// One process-wide property. Each single read or write is atomic.
class SharedProperty {
 public:
  Variant Value() const;
  void SetValue(Variant value);

 private:
  mutable std::mutex mutex_;
  Variant value_;
};

/// A named group of shared properties, addressed by name or by position.
class SharedPropertyGroup {
 public:
  std::shared_ptr<SharedProperty> CreateProperty(std::string_view name, bool& existed);
  std::shared_ptr<SharedProperty> CreatePropertyByPosition(std::int32_t position, bool& existed);
  /// Fails (E_INVALIDARG) when the property does not exist.
  std::shared_ptr<SharedProperty> Property(std::string_view name) const;
  std::shared_ptr<SharedProperty> PropertyByPosition(std::int32_t position) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::shared_ptr<SharedProperty>, std::less<>> byName_;
  std::map<std::int32_t, std::shared_ptr<SharedProperty>> byPosition_;
};

/// The shared property group manager. Every instance sees the same process-wide groups; groups live until
/// the process ends (release mode Process is the only one the component uses).
class SharedPropertyGroupManager {
 public:
  /// Creates the group when absent, else opens it; `existed` says which. Modes are accepted as given.
  std::shared_ptr<SharedPropertyGroup> CreatePropertyGroup(std::string_view name, std::int32_t& isolationMode,
                                                           std::int32_t& releaseMode, bool& existed);
  /// Fails (E_INVALIDARG) when the group does not exist.
  std::shared_ptr<SharedPropertyGroup> Group(std::string_view name) const;
};

}  // namespace closewright
