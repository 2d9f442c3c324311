#include "outside/Dispatch.h"

#include <algorithm>
#include <mutex>

#include "outside/ComError.h"
#include "outside/Text.h"

namespace closewright {
namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

DispatchId FindDispatchMember(std::span<const DispatchMember> table, std::string_view name) {
  for (const DispatchMember& member : table) {
    if (EqualsIgnoringCase(member.name, name)) return member.id;
  }
  throw ComError::Runtime(error_number::kMemberNotSupported);
}

Variant& RequiredArgument(std::span<Variant> arguments, std::size_t index) {
  if (index >= arguments.size()) throw ComError::Runtime(error_number::kArgumentNotOptional);
  return arguments[index];
}

ClassRegistry& ClassRegistry::Instance() {
  static ClassRegistry registry;
  return registry;
}

void ClassRegistry::Register(std::string progId, ClassFactory factory) {
  std::lock_guard lock(RegistryMutex());
  auto found = std::find_if(entries_.begin(), entries_.end(),
                            [&](const Entry& entry) { return EqualsIgnoringCase(entry.progId, progId); });
  if (found != entries_.end()) {
    found->factory = std::move(factory);
  } else {
    entries_.push_back(Entry{std::move(progId), std::move(factory)});
  }
}

void ClassRegistry::Unregister(std::string_view progId) {
  std::lock_guard lock(RegistryMutex());
  std::erase_if(entries_, [&](const Entry& entry) { return EqualsIgnoringCase(entry.progId, progId); });
}

bool ClassRegistry::IsRegistered(std::string_view progId) const {
  std::lock_guard lock(RegistryMutex());
  return std::any_of(entries_.begin(), entries_.end(),
                     [&](const Entry& entry) { return EqualsIgnoringCase(entry.progId, progId); });
}

std::shared_ptr<Dispatch> ClassRegistry::Create(std::string_view progId) const {
  ClassFactory factory;
  {
    std::lock_guard lock(RegistryMutex());
    auto found = std::find_if(entries_.begin(), entries_.end(),
                              [&](const Entry& entry) { return EqualsIgnoringCase(entry.progId, progId); });
    if (found != entries_.end()) factory = found->factory;
  }
  if (!factory) throw ComError::Runtime(error_number::kCannotCreateObject);
  return factory();
}

}  // namespace closewright
