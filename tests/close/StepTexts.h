#pragma once

#include <string_view>
#include <utility>
#include <vector>

namespace closewright::step_texts {

/// A close step's statement templates by name, {Placeholders} unfilled, byte for byte as the step keeps them
/// in close/<Step>.cpp, in the order the file declares them. Tests fill them with sample values through
/// FillPlaceholders (close/SqlText.h) to run the step's own text; each is defined beside the step.
using NamedTexts = std::vector<std::pair<std::string_view, std::string_view>>;

NamedTexts SetEndBal();
NamedTexts SetBegBal();
/// "DeleteNextPeriod" (with a {Table} placeholder), then each setting table's copy under the table's name.
NamedTexts SetStandardData();
NamedTexts CopyStandardDataBills();
NamedTexts SetCostDeputyData();
NamedTexts SetCurrentPeriod();
NamedTexts EndHistoryData();
/// "OpeningLines", then "<Table>Archive" and "<Table>Restore" of each batch in the order they are sent.
NamedTexts EndOpCostHistoryData();
NamedTexts AlterIdentitySeed();

/// The text of `name` in `texts`; a test failure and an empty text when there is none.
std::string_view Named(const NamedTexts& texts, std::string_view name);

}  // namespace closewright::step_texts
