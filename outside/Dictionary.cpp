#include "outside/Dictionary.h"

#include <algorithm>
#include <array>

#include "outside/ComError.h"
#include "outside/Text.h"

namespace closewright {
namespace {

enum DictionaryMember : DispatchId { kAdd = 1, kItem, kExists, kCount, kRemove, kKeys };

constexpr std::array kDictionaryMembers{
    DispatchMember{"Add", kAdd},     DispatchMember{"Item", kItem},     DispatchMember{"Exists", kExists},
    DispatchMember{"Count", kCount}, DispatchMember{"Remove", kRemove}, DispatchMember{"Keys", kKeys},
};

// Byte offset of the character at a zero-based character index (text.size() past the end).
std::size_t ByteOffset(std::string_view text, std::size_t characters) {
  std::size_t offset = 0;
  while (offset < text.size() && characters > 0) {
    ++offset;
    while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
    --characters;
  }
  return offset;
}

}  // namespace

std::vector<std::pair<std::string, Variant>>::const_iterator Dictionary::Find(std::string_view key) const {
  return std::find_if(entries_.begin(), entries_.end(),
                      [&](const auto& entry) { return entry.first == key; });
}

void Dictionary::Add(std::string key, Variant value) {
  if (Find(key) != entries_.end()) throw ComError::Runtime(error_number::kKeyAlreadyAssociated);
  entries_.emplace_back(std::move(key), std::move(value));
}

void Dictionary::SetItem(std::string_view key, Variant value) {
  auto found =
      std::find_if(entries_.begin(), entries_.end(), [&](const auto& entry) { return entry.first == key; });
  if (found != entries_.end()) {
    found->second = std::move(value);
  } else {
    entries_.emplace_back(std::string(key), std::move(value));
  }
}

Variant Dictionary::Item(std::string_view key) const {
  auto found = Find(key);
  return found != entries_.end() ? found->second : Variant();
}

bool Dictionary::Exists(std::string_view key) const {
  return Find(key) != entries_.end();
}

void Dictionary::Remove(std::string_view key) {
  auto found = Find(key);
  if (found == entries_.end()) throw ComError::Runtime(error_number::kInvalidProcedureCall);
  entries_.erase(found);
}

DispatchId Dictionary::GetIDOfName(std::string_view name) {
  return FindDispatchMember(kDictionaryMembers, name);
}

Variant Dictionary::Invoke(DispatchId id, std::span<Variant> arguments) {
  switch (id) {
    case kAdd:
      Add(RequiredArgument(arguments, 0).ToString(), RequiredArgument(arguments, 1));
      return {};
    case kItem:
      // Item with a second argument is the property put.
      if (arguments.size() >= 2) {
        SetItem(arguments[0].ToString(), arguments[1]);
        return {};
      }
      return Item(RequiredArgument(arguments, 0).ToString());
    case kExists:
      return Exists(RequiredArgument(arguments, 0).ToString());
    case kCount:
      return Count();
    case kRemove:
      Remove(RequiredArgument(arguments, 0).ToString());
      return {};
    case kKeys: {
      std::string keys;
      for (const auto& entry : entries_) keys += entry.first + '\t';
      return keys;
    }
    default:
      throw ComError::Runtime(error_number::kMemberNotSupported);
  }
}

std::int32_t StringBuilder::Length() const noexcept {
  return static_cast<std::int32_t>(Utf8CharacterCount(text_));
}

void StringBuilder::Remove(std::int32_t start, std::int32_t length) {
  const auto characters = static_cast<std::int64_t>(Utf8CharacterCount(text_));
  if (start < 1 || length < 0 || start - 1 + static_cast<std::int64_t>(length) > characters) {
    throw ComError::Runtime(error_number::kInvalidProcedureCall);
  }
  const std::size_t from = ByteOffset(text_, static_cast<std::size_t>(start - 1));
  const std::size_t to = ByteOffset(text_, static_cast<std::size_t>(start - 1 + length));
  text_.erase(from, to - from);
}

}  // namespace closewright
