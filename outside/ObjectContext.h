#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "outside/Dispatch.h"

namespace closewright {

class DatabaseSession;
class TransactionState;

/// The platform's own object context (COM+'s, on Windows) of the running object, when it has one.
class PlatformObjectContext {
 public:
  virtual ~PlatformObjectContext() = default;
  virtual void SetComplete() = 0;
  virtual void SetAbort() = 0;
};

/// Asked once per public call for the platform's context; returns nullptr when the object has none.
using PlatformContextLookup = std::function<std::shared_ptr<PlatformObjectContext>()>;
/// Installed by a platform layer that can tell safely whether a platform context exists; none by default.
void SetPlatformContextLookup(PlatformContextLookup lookup);

/// The object context of the running call (the stand-in for COM+'s): votes on the transaction and creates
/// objects that run in it. When the platform has a context of its own, the votes go to it as well; the
/// database work still runs in the library's transaction, so that a call's work commits or rolls back whole.
class ObjectContext {
 public:
  explicit ObjectContext(std::shared_ptr<TransactionState> transaction,
                         std::shared_ptr<PlatformObjectContext> platform = nullptr)
      : transaction_(std::move(transaction)), platform_(std::move(platform)) {}
  void SetComplete();
  void SetAbort();
  /// Creates an object by ProgID; its calls join this context's transaction.
  std::shared_ptr<Dispatch> CreateInstance(std::string_view progId);

 private:
  std::shared_ptr<TransactionState> transaction_;
  std::shared_ptr<PlatformObjectContext> platform_;
};

/// The context of the innermost call running on this thread; error when no call is running.
ObjectContext& GetObjectContext();

/// Runs one public call of a transactional object. The call joins the transaction of the calling context
/// (a host's Transaction or the parent call of a sub-object); without one it gets a new transaction that
/// commits when the call returns normally and nobody voted to abort, and rolls back otherwise. An error
/// leaving the call dooms the transaction it joined.
void RunInObjectContext(const std::function<void()>& call);

/// A transaction opened by a host around several calls on this thread. Calls made while it is open join it.
/// Commit fails (and rolls back) when a participant voted SetAbort or a call ended in an error; the
/// destructor rolls back an uncommitted transaction and never throws.
class Transaction {
 public:
  Transaction();
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  void Commit();
  void Rollback() noexcept;
  bool IsDoomed() const noexcept;

 private:
  std::shared_ptr<TransactionState> state_;
  bool ended_ = false;
};

/// The session enlisted in the current thread's transaction for a connect string, opened (and its database
/// transaction begun) on first use; nullptr when no transaction is running on this thread.
std::shared_ptr<DatabaseSession> EnlistedSession(const std::string& connectString);

}  // namespace closewright
