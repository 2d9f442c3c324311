#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outside/Dispatch.h"

namespace closewright {

/// The keyed dictionary: text keys (compared exactly) to any value, in insertion order. Also reachable
/// late-bound (Add, Item, Exists, Count, Remove, Keys) so that outside components can fill it.
class Dictionary : public Dispatch {
 public:
  /// Inserts a new key; error 457 when the key is present.
  void Add(std::string key, Variant value);
  /// Sets the value of a key, inserting it when absent.
  void SetItem(std::string_view key, Variant value);
  /// The value stored under a key; Empty when absent (the key is not added).
  Variant Item(std::string_view key) const;
  bool Exists(std::string_view key) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
  void Remove(std::string_view key);
  const std::vector<std::pair<std::string, Variant>>& Entries() const { return entries_; }

  DispatchId GetIDOfName(std::string_view name) override;
  Variant Invoke(DispatchId id, std::span<Variant> arguments) override;

 private:
  std::vector<std::pair<std::string, Variant>>::const_iterator Find(std::string_view key) const;
  std::vector<std::pair<std::string, Variant>> entries_;
};

/// The string builder (script buffer): a growing text read back as the appended pieces in order.
class StringBuilder {
 public:
  void Append(std::string_view piece) { text_.append(piece); }
  const std::string& Text() const noexcept { return text_; }
  /// Length in characters (UTF-8 code points), as the platform counts them.
  std::int32_t Length() const noexcept;
  /// Removes `length` characters from the 1-based character position `start`; error 5 when out of range.
  void Remove(std::int32_t start, std::int32_t length);

 private:
  std::string text_;
};

}  // namespace closewright
