#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "outside/Variant.h"

namespace closewright {

using DispatchId = std::int32_t;

/// Late binding: a member is found by name or DISPID and called with Variant arguments in declaration
/// order. A parameter passed by reference writes its new value back into the caller's argument; a caller
/// that wants by-value semantics passes a copy. Fewer arguments than parameters leave the rest missing.
class Dispatch {
 public:
  virtual ~Dispatch() = default;

  /// Error 438 for a name the object does not have. Names match without regard to case.
  virtual DispatchId GetIDOfName(std::string_view name) = 0;
  virtual Variant Invoke(DispatchId id, std::span<Variant> arguments) = 0;

  Variant InvokeByName(std::string_view name, std::span<Variant> arguments) {
    return Invoke(GetIDOfName(name), arguments);
  }
};

/// One member of a dispatch table: its name, DISPID and how many arguments it takes at most.
struct DispatchMember {
  std::string_view name;
  DispatchId id;
};

/// Finds a member by name, without regard to case; error 438 when absent.
DispatchId FindDispatchMember(std::span<const DispatchMember> table, std::string_view name);

/// Argument i of a call, or error 449 (argument not optional) when the caller gave fewer.
Variant& RequiredArgument(std::span<Variant> arguments, std::size_t index);

using ClassFactory = std::function<std::shared_ptr<Dispatch>()>;

/// Creates objects by ProgID (matched without regard to case). The library's own classes and the outside
/// components' stand-ins are registered when the library loads; a host may register replacements.
class ClassRegistry {
 public:
  static ClassRegistry& Instance();

  void Register(std::string progId, ClassFactory factory);
  void Unregister(std::string_view progId);
  bool IsRegistered(std::string_view progId) const;
  /// Error 429 when the ProgID is not registered.
  std::shared_ptr<Dispatch> Create(std::string_view progId) const;

 private:
  ClassRegistry() = default;
  struct Entry {
    std::string progId;
    ClassFactory factory;
  };
  std::vector<Entry> entries_;
};

/// CreateObject(progId) of the platform.
inline std::shared_ptr<Dispatch> CreateObject(std::string_view progId) {
  return ClassRegistry::Instance().Create(progId);
}

}  // namespace closewright
