#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "outside/Dispatch.h"

namespace closewright {

class DatabaseSession;
class TransactionState;

namespace error_number {
/// CONTEXT_E_ABORTING (0x8004E003): the platform's transaction has aborted or is aborting.
inline constexpr std::int32_t kContextAborting = -2147164157;
/// XACT_E_XTIONEXISTS (0x8004D013): a transaction already runs where another was to begin.
inline constexpr std::int32_t kTransactionExists = -2147168237;
}  // namespace error_number

/// What the platform's context says of its own transaction.
enum class PlatformTransaction {
  kNone,    ///< no transaction: the library's transaction layer runs the call, as it does off the platform
  kActive,  ///< the platform's distributed transaction holds the call's work and the votes decide its outcome
  kDoomed,  ///< the transaction has aborted or will: a call must fail before it does anything
};

/// The platform's own object context (COM+'s, on Windows) of the running object, when it has one. It is
/// valid only inside the call that looked it up.
class PlatformObjectContext {
 public:
  virtual ~PlatformObjectContext() = default;
  virtual void SetComplete() = 0;
  virtual void SetAbort() = 0;
  virtual PlatformTransaction TransactionStatus() = 0;
  /// Creates an object in this context's activity and transaction; nullptr when the platform does not know
  /// the ProgID, which leaves the creation to the library's class registry.
  virtual std::shared_ptr<Dispatch> CreateInstance(std::string_view progId) = 0;
};

/// Asked once per public call for the platform's context; returns nullptr when the object has none.
using PlatformContextLookup = std::function<std::shared_ptr<PlatformObjectContext>()>;
/// Installed by a platform layer that can tell safely whether a platform context exists; none by default.
void SetPlatformContextLookup(PlatformContextLookup lookup);

/// The object context of the running call (the stand-in for COM+'s): votes on the transaction and creates
/// objects that run in it. The votes also go to the platform's context when there is one. When that context
/// has a transaction, the platform's distributed transaction holds the database work and decides its outcome;
/// otherwise the library's own transaction does, so that a call's work commits or rolls back whole.
class ObjectContext {
 public:
  explicit ObjectContext(std::shared_ptr<TransactionState> transaction,
                         std::shared_ptr<PlatformObjectContext> platform = nullptr)
      : transaction_(std::move(transaction)), platform_(std::move(platform)) {}
  void SetComplete();
  void SetAbort();
  /// Creates an object by ProgID, through the platform's context when there is one; its calls join this
  /// context's transaction.
  std::shared_ptr<Dispatch> CreateInstance(std::string_view progId);

 private:
  std::shared_ptr<TransactionState> transaction_;
  std::shared_ptr<PlatformObjectContext> platform_;
};

/// The context of the innermost call running on this thread; error when no call is running.
ObjectContext& GetObjectContext();

/// Runs one public call of a transactional object. The call joins the transaction of the calling context
/// (a host's Transaction or the parent call of a sub-object). Without one, a call whose platform context has
/// a transaction runs in it: its sessions begin and end no database transaction, the platform commits or
/// aborts. Otherwise the call gets a new transaction of the library's that commits when the call returns
/// normally and nobody voted to abort, and rolls back otherwise; an error leaving the call dooms the library
/// transaction it joined. Before anything is sent, a doomed platform transaction fails the call with
/// kContextAborting, and a host's Transaction open inside a platform transaction with kTransactionExists.
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

/// The session enlisted in the current thread's transaction for a connect string, opened on first use (and,
/// in a library transaction, its database transaction begun); nullptr when no transaction is running on this
/// thread.
std::shared_ptr<DatabaseSession> EnlistedSession(const std::string& connectString);

}  // namespace closewright
