#pragma once

#include <string>

#include "outside/Ado.h"

namespace closewright::tool {

enum class CloseLockOutcome {
  Taken,          // this run holds the lock until its transaction ends
  HeldByAnother,  // another close or reopen holds it: refuse, change nothing
};

/// Takes the ledger's close lock for the transaction that `cn`'s session runs in. On SQL Server it is an
/// application lock owned by that transaction, so the server releases it at commit, at rollback and when the
/// session ends (a lost connection or a killed process); on the embedded provider the write lock taken when
/// the transaction began is the close lock. A failing lock call raises ComError with the server's message.
CloseLockOutcome TakeCloseLock(Connection& cn);

}  // namespace closewright::tool
