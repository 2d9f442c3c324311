#include "datasource/ProviderFacts.h"

#include "outside/SharedProperty.h"

namespace closewright {
namespace {

Variant EmptyText() {
  return Variant(std::string());
}
Variant False() {
  return Variant(false);
}
Variant No() {
  return Variant("N");
}
Variant Nothing() {
  return Variant();
}

const ProviderFact kProviderFacts[] = {
    {"DBMSName", "DBMS Name", FactKind::kPlain, EmptyText},
    {"DBMSVersion", "DBMS Version", FactKind::kPlain, EmptyText},
    {"MultipleResults", "Multiple Results", FactKind::kPlain, False},
    {"LikeEscapeClause", "Like Escape Clause", FactKind::kLikeEscape, No},
    {"IEF", "Integrity Enhancement Facility", FactKind::kPlain, False},
    {"NumericFunctions", "Numeric Functions", FactKind::kBitmask, Nothing},
    {"StringFunctions", "String Functions", FactKind::kBitmask, Nothing},
    {"SystemFunctions", "System Functions", FactKind::kBitmask, Nothing},
    {"DateTimeFunctions", "Time/Date Functions", FactKind::kBitmask, Nothing},
};

}  // namespace

std::span<const ProviderFact> ProviderFacts() {
  return kProviderFacts;
}

void CacheProviderFact(SharedPropertyGroup& group, const ProviderFact& fact,
                       std::optional<Variant> providerValue) {
  bool existed = false;
  const auto property = group.CreateProperty(fact.cachedName, existed);
  if (fact.kind == FactKind::kBitmask) {
    if (providerValue) property->SetValue(std::move(*providerValue));
    return;
  }
  Variant value = providerValue && !providerValue->IsNull() && !providerValue->IsEmpty()
                      ? std::move(*providerValue)
                      : fact.fallback();
  if (fact.kind == FactKind::kLikeEscape) {
    // Exact comparison: a provider answering "y" is taken as not supporting the clause.
    value = Variant(value.Type() == VariantType::String && value.ToString() == "Y");
  }
  property->SetValue(std::move(value));
}

}  // namespace closewright
