#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "outside/Variant.h"

namespace closewright {

class SharedPropertyGroup;

/// How a fact that the provider reports about itself is kept in the data-source group.
enum class FactKind {
  kPlain,       ///< the provider's value, or the fallback when it is missing, Null or Empty
  kLikeEscape,  ///< True exactly when the provider's value (or the fallback) is the text "Y"
  kBitmask,     ///< the provider's value as read; the property keeps what it held when there is none
};

struct ProviderFact {
  std::string_view cachedName;    ///< property name in the data-source group
  std::string_view providerName;  ///< name in the connection's Properties collection
  FactKind kind;
  Variant (*fallback)();
};

/// The nine facts, in the order a fill writes them.
std::span<const ProviderFact> ProviderFacts();

/// Creates the fact's property in the group and writes what the fill caches for the provider's value
/// (nullopt: the provider does not offer it or it could not be read).
void CacheProviderFact(SharedPropertyGroup& group, const ProviderFact& fact,
                       std::optional<Variant> providerValue);

}  // namespace closewright
