#include "close/StepTexts.h"

#include <gtest/gtest.h>

#include <string>

namespace closewright::step_texts {

std::string_view Named(const NamedTexts& texts, std::string_view name) {
  for (const auto& [each, text] : texts) {
    if (each == name) return text;
  }
  ADD_FAILURE() << "no statement text named " << name;
  return {};
}

}  // namespace closewright::step_texts
