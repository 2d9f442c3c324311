#include "outside/SharedProperty.h"

#include "outside/ComError.h"

namespace closewright {
namespace {

struct GroupTable {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<SharedPropertyGroup>, std::less<>> groups;
};

GroupTable& Groups() {
  // Never destroyed: cached objects may be read by threads still running while the process ends.
  static auto* table = new GroupTable;
  return *table;
}

[[noreturn]] void NoSuchProperty(std::string_view what) {
  throw ComError(error_number::kInvalidArgument, "SharedPropertyGroupManager",
                 "The shared property or group '" + std::string(what) + "' does not exist.");
}

}  // namespace

Variant SharedProperty::Value() const {
  std::lock_guard lock(mutex_);
  return value_;
}

void SharedProperty::SetValue(Variant value) {
  std::lock_guard lock(mutex_);
  value_ = std::move(value);
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::CreateProperty(std::string_view name, bool& existed) {
  std::lock_guard lock(mutex_);
  auto found = byName_.find(name);
  existed = found != byName_.end();
  if (existed) return found->second;
  auto property = std::make_shared<SharedProperty>();
  byName_.emplace(std::string(name), property);
  return property;
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::CreatePropertyByPosition(std::int32_t position,
                                                                              bool& existed) {
  std::lock_guard lock(mutex_);
  auto found = byPosition_.find(position);
  existed = found != byPosition_.end();
  if (existed) return found->second;
  auto property = std::make_shared<SharedProperty>();
  byPosition_.emplace(position, property);
  return property;
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::Property(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto found = byName_.find(name);
  if (found == byName_.end()) NoSuchProperty(name);
  return found->second;
}

std::shared_ptr<SharedProperty> SharedPropertyGroup::PropertyByPosition(std::int32_t position) const {
  std::lock_guard lock(mutex_);
  auto found = byPosition_.find(position);
  if (found == byPosition_.end()) NoSuchProperty(std::to_string(position));
  return found->second;
}

std::shared_ptr<SharedPropertyGroup> SharedPropertyGroupManager::CreatePropertyGroup(
    std::string_view name, std::int32_t& isolationMode, std::int32_t& releaseMode, bool& existed) {
  static_cast<void>(isolationMode);
  static_cast<void>(releaseMode);
  GroupTable& table = Groups();
  std::lock_guard lock(table.mutex);
  auto found = table.groups.find(name);
  existed = found != table.groups.end();
  if (existed) return found->second;
  auto group = std::make_shared<SharedPropertyGroup>();
  table.groups.emplace(std::string(name), group);
  return group;
}

std::shared_ptr<SharedPropertyGroup> SharedPropertyGroupManager::Group(std::string_view name) const {
  GroupTable& table = Groups();
  std::lock_guard lock(table.mutex);
  auto found = table.groups.find(name);
  if (found == table.groups.end()) NoSuchProperty(name);
  return found->second;
}

}  // namespace closewright
