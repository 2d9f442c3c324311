#include "outside/ObjectContext.h"

#include <utility>
#include <vector>

#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Diagnostics.h"

namespace closewright {

/// What one transaction of the transaction layer knows: who ends it, its enlisted sessions (one per connect
/// string, in enlistment order) and whether it may still commit.
class TransactionState {
 public:
  enum class Owner {
    kLibrary,   // the library begins a database transaction on each session and commits or rolls it back
    kPlatform,  // the platform's distributed transaction holds the sessions' work; the votes decide it
  };

  explicit TransactionState(Owner owner) : owner_(owner) {}

  bool PlatformOwned() const noexcept { return owner_ == Owner::kPlatform; }

  std::shared_ptr<DatabaseSession> Session(const std::string& connectString) {
    for (const auto& [key, session] : sessions_) {
      if (key == connectString) return session;
    }
    std::shared_ptr<DatabaseSession> session = OpenDatabaseSession(connectString);
    // In the platform's transaction the session stays as it was opened: the ODBC Driver Manager enlisted its
    // connection in the distributed transaction when it was made (registration/windows/ComPlusContext.cpp
    // says why the library leaves enlistment to it), and an enlisted connection must not start a local
    // transaction: switching autocommit off on it fails with SQLSTATE 25000 ("SQLSetConnectAttr Function",
    // learn.microsoft.com).
    if (!PlatformOwned()) session->BeginTransaction();
    sessions_.emplace_back(connectString, session);
    return session;
  }

  void Doom() noexcept { doomed_ = true; }
  void VoteAbort() noexcept { abortVoted_ = true; }
  bool MayCommit() const noexcept { return !doomed_ && !abortVoted_; }

  void Commit() {
    // Each session commits on its own; once one has committed, a later failure can no longer undo it, so
    // that failure is reported as such rather than as a clean rollback.
    bool anyCommitted = false;
    for (auto& [key, session] : sessions_) {
      try {
        session->Commit();
        anyCommitted = true;
      } catch (ComError& error) {
        RollbackFrom(&session);
        if (anyCommitted) {
          error = ComError(error_number::kOutcomeUnknown, "Closewright.Transaction",
                           "The transaction was committed on some connections but failed on another: " +
                               error.Description());
        }
        sessions_.clear();
        throw;
      }
    }
    sessions_.clear();
  }

  void Rollback() noexcept {
    for (auto& entry : sessions_) entry.second->Rollback();
    sessions_.clear();
  }

  // Lets go of the sessions of a platform-owned transaction, neither committing nor rolling back: their
  // work is the distributed transaction's. A released connection goes back to the Driver Manager's pool,
  // which keeps an enlisted one for its transaction until that ends (IDispenserDriver::ResetResource,
  // "general or enlisted inventory", learn.microsoft.com).
  void Release() noexcept { sessions_.clear(); }

 private:
  void RollbackFrom(std::shared_ptr<DatabaseSession>* failed) noexcept {
    bool after = false;
    for (auto& entry : sessions_) {
      if (&entry.second == failed) after = true;
      if (after) entry.second->Rollback();
    }
  }

  Owner owner_;
  std::vector<std::pair<std::string, std::shared_ptr<DatabaseSession>>> sessions_;
  bool doomed_ = false;
  bool abortVoted_ = false;
};

namespace {

struct CallFrame {
  std::shared_ptr<TransactionState> transaction;
  std::unique_ptr<ObjectContext> context;
};

// The component is apartment-threaded: each thread has its own stack of running calls and of
// host-opened transactions.
thread_local std::vector<CallFrame> callStack;
thread_local std::vector<std::shared_ptr<TransactionState>> hostTransactions;

PlatformContextLookup& PlatformLookup() {
  static PlatformContextLookup lookup;
  return lookup;
}

std::shared_ptr<TransactionState> CurrentTransaction() {
  if (!callStack.empty()) return callStack.back().transaction;
  if (!hostTransactions.empty()) return hostTransactions.back();
  return nullptr;
}

ComError AbortedError(std::string description) {
  return ComError(error_number::kTransactionAborted, "Closewright.Transaction", std::move(description));
}

// The error COM+ gives a call into a transaction that has aborted or is aborting.
ComError PlatformAbortingError() {
  return ComError(error_number::kContextAborting, "Closewright.ObjectContext",
                  "The COM+ transaction of the call has aborted or is aborting; the call did nothing.");
}

// A library transaction and the platform's cannot both hold one call: their sessions would have to be in a
// local transaction and enlisted in the distributed one at once.
ComError TwoTransactionsError() {
  return ComError(error_number::kTransactionExists, "Closewright.ObjectContext",
                  "The host opened a transaction inside a COM+ transaction; the call did nothing. The COM+ "
                  "transaction alone decides: leave the host transaction out.");
}

TransactionState::Owner OwnerFor(PlatformTransaction platform) {
  return platform == PlatformTransaction::kActive ? TransactionState::Owner::kPlatform
                                                  : TransactionState::Owner::kLibrary;
}

}  // namespace

void SetPlatformContextLookup(PlatformContextLookup lookup) {
  PlatformLookup() = std::move(lookup);
}

void ObjectContext::SetComplete() {
  TraceVote("SetComplete");
  if (platform_) platform_->SetComplete();
}

void ObjectContext::SetAbort() {
  TraceVote("SetAbort");
  transaction_->VoteAbort();
  if (platform_) platform_->SetAbort();
}

std::shared_ptr<Dispatch> ObjectContext::CreateInstance(std::string_view progId) {
  // Made by the platform's context, the object gets a context of its own in this activity and transaction,
  // so that its votes are its own. Either way it runs on this thread, so its calls find this call's frame
  // on the stack and join its transaction: one session per connect string for the whole call.
  if (platform_) {
    if (std::shared_ptr<Dispatch> created = platform_->CreateInstance(progId)) return created;
  }
  return CreateObject(progId);
}

ObjectContext& GetObjectContext() {
  if (callStack.empty()) {
    throw ComError(-2147164156, "Closewright.ObjectContext",
                   "The object is not running in an object context: call it through its public methods.");
  }
  return *callStack.back().context;
}

void RunInObjectContext(const std::function<void()>& call) {
  std::shared_ptr<PlatformObjectContext> platform;
  if (const PlatformContextLookup& lookup = PlatformLookup()) platform = lookup();
  const PlatformTransaction platformTransaction =
      platform ? platform->TransactionStatus() : PlatformTransaction::kNone;
  if (platformTransaction == PlatformTransaction::kDoomed) throw PlatformAbortingError();

  std::shared_ptr<TransactionState> transaction = CurrentTransaction();
  const bool root = transaction == nullptr;
  if (root) {
    transaction = std::make_shared<TransactionState>(OwnerFor(platformTransaction));
  } else if (platformTransaction == PlatformTransaction::kActive && !transaction->PlatformOwned()) {
    throw TwoTransactionsError();
  } else if (!transaction->MayCommit()) {
    // A participant's SetAbort has doomed a platform transaction as surely as a library one.
    if (transaction->PlatformOwned()) throw PlatformAbortingError();
    throw AbortedError("The transaction has already been aborted; no further work can join it.");
  }
  callStack.push_back(
      CallFrame{transaction, std::make_unique<ObjectContext>(transaction, std::move(platform))});
  try {
    call();
  } catch (...) {
    callStack.pop_back();
    // An error casts no vote of its own: in the platform's transaction the votes cast so far decide.
    if (transaction->PlatformOwned()) {
      if (root) transaction->Release();
      throw;
    }
    transaction->Doom();
    if (root) transaction->Rollback();
    throw;
  }
  callStack.pop_back();
  if (!root) return;
  if (transaction->PlatformOwned()) {
    transaction->Release();
    return;
  }
  if (!transaction->MayCommit()) {
    transaction->Rollback();
    throw AbortedError("The call voted to abort; its work was rolled back.");
  }
  transaction->Commit();
}

std::shared_ptr<DatabaseSession> EnlistedSession(const std::string& connectString) {
  std::shared_ptr<TransactionState> transaction = CurrentTransaction();
  return transaction ? transaction->Session(connectString) : nullptr;
}

Transaction::Transaction() : state_(std::make_shared<TransactionState>(TransactionState::Owner::kLibrary)) {
  hostTransactions.push_back(state_);
}

Transaction::~Transaction() {
  Rollback();
}

void Transaction::Commit() {
  if (ended_) throw AbortedError("The transaction has already ended; it cannot be committed again.");
  const bool mayCommit = state_->MayCommit();
  ended_ = true;
  std::erase(hostTransactions, state_);
  if (!mayCommit) {
    state_->Rollback();
    throw AbortedError("The transaction was rolled back: a call in it failed or voted to abort.");
  }
  state_->Commit();
}

void Transaction::Rollback() noexcept {
  if (ended_) return;
  ended_ = true;
  std::erase(hostTransactions, state_);
  state_->Rollback();
}

bool Transaction::IsDoomed() const noexcept {
  return !state_->MayCommit();
}

}  // namespace closewright
