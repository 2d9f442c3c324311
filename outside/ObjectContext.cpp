#include "outside/ObjectContext.h"

#include <utility>
#include <vector>

#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Diagnostics.h"

namespace closewright {

/// What one transaction of the transaction layer knows: its enlisted sessions (one per connect string, in
/// enlistment order) and whether it may still commit.
class TransactionState {
 public:
  std::shared_ptr<DatabaseSession> Session(const std::string& connectString) {
    for (const auto& [key, session] : sessions_) {
      if (key == connectString) return session;
    }
    std::shared_ptr<DatabaseSession> session = OpenDatabaseSession(connectString);
    session->BeginTransaction();
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

 private:
  void RollbackFrom(std::shared_ptr<DatabaseSession>* failed) noexcept {
    bool after = false;
    for (auto& entry : sessions_) {
      if (&entry.second == failed) after = true;
      if (after) entry.second->Rollback();
    }
  }

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
  // Objects are created on the calling thread, so their calls find this call's frame on the stack and join
  // its transaction.
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
  std::shared_ptr<TransactionState> transaction = CurrentTransaction();
  const bool root = transaction == nullptr;
  if (root) {
    transaction = std::make_shared<TransactionState>();
  } else if (!transaction->MayCommit()) {
    throw AbortedError("The transaction has already been aborted; no further work can join it.");
  }
  std::shared_ptr<PlatformObjectContext> platform;
  if (const PlatformContextLookup& lookup = PlatformLookup()) platform = lookup();
  callStack.push_back(
      CallFrame{transaction, std::make_unique<ObjectContext>(transaction, std::move(platform))});
  try {
    call();
  } catch (...) {
    callStack.pop_back();
    transaction->Doom();
    if (root) transaction->Rollback();
    throw;
  }
  callStack.pop_back();
  if (!root) return;
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

Transaction::Transaction() : state_(std::make_shared<TransactionState>()) {
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
