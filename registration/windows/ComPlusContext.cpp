// Tells whether an object runs in a COM+ context, whether that context has a transaction and whether the
// transaction can still commit; passes the library's votes on to COM+ and creates sub-objects through it.
//
// The detection asks COM for the object context's IObjectContext interface: only a COM+ context has it, an
// ordinary apartment's default context refuses it, and no COM+ library is loaded to find out. (Calling the
// COM+ library's GetObjectContext blindly is not safe: some implementations end the process when there is no
// COM+ context.)
//
// Enlistment. Inside a COM+ transaction the library's ODBC connections are enlisted by the ODBC Driver
// Manager, never by the library: it does not set SQL_ATTR_ENLIST_IN_DTC, and the transaction that
// IObjectContextInfo::GetTransaction gives is asked here only whether it has ended, never handed on:
// - The Driver Manager is a COM+ resource dispenser, so data reached through ODBC is protected by the
//   object's transaction without the object doing anything; the Driver Manager has the driver enlist the
//   connection through SQL_ATTR_ENLIST_IN_DTC ("Data Access and Transactions", Windows 2000 Resource Kit),
//   and the dispenser manager "ensures that a resource supplied by a resource dispenser is correctly
//   enlisted in the application object's transaction" ("COM+ Dispenser Manager"). COM+ turns ODBC
//   connection pooling on for its applications without being asked (Microsoft KB Q313331).
// - Enlisting the same connection again would fail: "A connection is already enlisted in a DTC" is SQLSTATE
//   25000 of SQLSetConnectAttr ("SQLSetConnectAttr Function"). So the two cannot both be done, and of the
//   two only the Driver Manager's happens without the library.
// - The reference IObjectContextInfo::GetTransaction gives is for "a resource manager that does not support
//   automatic transactions" ("IObjectContextInfo::GetTransaction"); ODBC's connections do support them.
// - So the ODBC session needs nothing from COM+: in a transactional context it only must not start a local
//   transaction of its own, which the transaction layer sees to (outside/ObjectContext.cpp).
// The README's "Windows" section gives the address of each page named.

#include <windows.h>

#include <oaidl.h>
#include <objbase.h>
#include <transact.h>

#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outside/ComError.h"
#include "outside/Dispatch.h"
#include "outside/ObjectContext.h"
#include "registration/windows/ComConversions.h"

namespace closewright::windows {

// COM+'s IObjectContext and IObjectContextInfo, declared here in their function-table order: the SDK header
// that has them also declares a global GetObjectContext that clashes with the library's. They stay out of
// the unnamed namespace: in it, g++ sees that nothing in the program implements them (COM+ does) and
// reports the results of their calls as used uninitialized.
struct IObjectContext : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(REFCLSID classId, REFIID iid, void** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetComplete() = 0;
  virtual HRESULT STDMETHODCALLTYPE SetAbort() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnableCommit() = 0;
  virtual HRESULT STDMETHODCALLTYPE DisableCommit() = 0;
  virtual BOOL STDMETHODCALLTYPE IsInTransaction() = 0;
  virtual BOOL STDMETHODCALLTYPE IsSecurityEnabled() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsCallerInRole(BSTR role, BOOL* isInRole) = 0;
};

struct IObjectContextInfo : public IUnknown {
  virtual BOOL STDMETHODCALLTYPE IsInTransaction() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTransaction(IUnknown** transaction) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTransactionId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetActivityId(GUID* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetContextId(GUID* id) = 0;
};

namespace {

constexpr char kSource[] = "Closewright.ObjectContext";

// {51372AE0-CAE7-11CF-BE81-00AA00A2FA25}
constexpr GUID kIidObjectContext{
    0x51372AE0, 0xCAE7, 0x11CF, {0xBE, 0x81, 0x00, 0xAA, 0x00, 0xA2, 0xFA, 0x25}};
// {75B52DDB-E8ED-11D1-93AD-00AA00BA3258}
constexpr GUID kIidObjectContextInfo{
    0x75B52DDB, 0xE8ED, 0x11D1, {0x93, 0xAD, 0x00, 0xAA, 0x00, 0xBA, 0x32, 0x58}};

// Owns one reference on a COM interface.
template <typename Interface>
class Held {
 public:
  Held() = default;
  explicit Held(Interface* pointer) : pointer_(pointer) {}
  ~Held() {
    if (pointer_ != nullptr) pointer_->Release();
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;

  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }
  Interface** Put() { return &pointer_; }
  void** Out() { return reinterpret_cast<void**>(&pointer_); }
  // Gives the reference up to a new owner.
  void Detach() { pointer_ = nullptr; }

 private:
  Interface* pointer_ = nullptr;
};

// VARIANTs handed to a call, cleared when it returns.
class VariantList {
 public:
  explicit VariantList(std::size_t count) : values_(count) {
    for (VARIANT& value : values_) VariantInit(&value);
  }
  ~VariantList() {
    for (VARIANT& value : values_) VariantClear(&value);
  }
  VariantList(const VariantList&) = delete;
  VariantList& operator=(const VariantList&) = delete;

  VARIANT* Data() { return values_.data(); }
  VARIANT& operator[](std::size_t index) { return values_[index]; }
  std::size_t Size() const { return values_.size(); }

 private:
  std::vector<VARIANT> values_;
};

// A COM object called late-bound through its IDispatch, as the library calls the objects of its registry.
// Arguments go by value: the members the library calls on such objects take none by reference.
class ComDispatch final : public Dispatch {
 public:
  explicit ComDispatch(IDispatch* object) : object_(object) {}

  DispatchId GetIDOfName(std::string_view name) override {
    std::wstring wide = Utf8ToWide(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = DISPID_UNKNOWN;
    const HRESULT found = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (found == DISP_E_UNKNOWNNAME) throw ComError::Runtime(error_number::kMemberNotSupported, kSource);
    if (FAILED(found)) {
      throw ComError(static_cast<std::int32_t>(found), kSource,
                     "The object could not look up its member " + std::string(name));
    }
    return id;
  }

  Variant Invoke(DispatchId id, std::span<Variant> arguments) override {
    // Automation passes arguments last first.
    VariantList values(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i)
      ToVariant(arguments[arguments.size() - 1 - i], &values[i]);
    DISPPARAMS parameters{values.Data(), nullptr, static_cast<UINT>(values.Size()), 0};
    VariantList result(1);
    EXCEPINFO exception{};
    UINT argumentError = 0;
    const HRESULT outcome = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters,
                                            &result[0], &exception, &argumentError);
    if (outcome == DISP_E_EXCEPTION) {
      if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
      struct FreeStrings {
        EXCEPINFO& info;
        ~FreeStrings() {
          SysFreeString(info.bstrSource);
          SysFreeString(info.bstrDescription);
          SysFreeString(info.bstrHelpFile);
        }
      } freeStrings{exception};
      // The sub-object's error reaches the caller as the sub-object raised it.
      throw ErrorFromExceptionInfo(exception);
    }
    if (FAILED(outcome)) {
      throw ComError(static_cast<std::int32_t>(outcome), kSource,
                     "The call of member " + std::to_string(id) + " through COM failed");
    }
    return FromVariant(result[0]);
  }

 private:
  Held<IDispatch> object_;
};

class ComPlusObjectContext final : public PlatformObjectContext {
 public:
  // Takes over the caller's reference.
  explicit ComPlusObjectContext(IObjectContext* context) : context_(context) {}
  ~ComPlusObjectContext() override { context_->Release(); }
  ComPlusObjectContext(const ComPlusObjectContext&) = delete;
  ComPlusObjectContext& operator=(const ComPlusObjectContext&) = delete;

  void SetComplete() override { Check(context_->SetComplete(), "SetComplete"); }
  void SetAbort() override { Check(context_->SetAbort(), "SetAbort"); }

  PlatformTransaction TransactionStatus() override {
    if (!context_->IsInTransaction()) return PlatformTransaction::kNone;
    // COM+ has no call that says whether a transaction is doomed. The DTC transaction says whether it has
    // ended: GetTransactionInfo gives XACT_E_NOTRANSACTION for a transaction "already completed"
    // ("ITransaction::GetTransactionInfo"), and one that still has this object running in it can only have
    // completed by aborting. When the transaction cannot be asked, the call goes ahead: COM+ and the
    // database still refuse work in an aborted transaction.
    Held<IObjectContextInfo> info;
    if (FAILED(context_->QueryInterface(kIidObjectContextInfo, info.Out())))
      return PlatformTransaction::kActive;
    Held<IUnknown> unknown;
    if (info->GetTransaction(unknown.Put()) != S_OK || unknown.Get() == nullptr) {
      return PlatformTransaction::kActive;
    }
    Held<ITransaction> transaction;
    if (FAILED(unknown->QueryInterface(IID_ITransaction, transaction.Out())))
      return PlatformTransaction::kActive;
    XACTTRANSINFO details{};
    return transaction->GetTransactionInfo(&details) == XACT_E_NOTRANSACTION ? PlatformTransaction::kDoomed
                                                                             : PlatformTransaction::kActive;
  }

  // "The new object always executes within the same activity as the object that created it", and a class
  // that requires a transaction "inherits its creator's transaction" ("IObjectContext::CreateInstance").
  std::shared_ptr<Dispatch> CreateInstance(std::string_view progId) override {
    CLSID classId{};
    if (FAILED(CLSIDFromProgID(Utf8ToWide(progId).c_str(), &classId))) return nullptr;
    // The method hands back the new object's IUnknown whatever interface is asked for.
    Held<IUnknown> created;
    const HRESULT outcome = context_->CreateInstance(classId, IID_IUnknown, created.Out());
    Held<IDispatch> object;
    if (FAILED(outcome) || created.Get() == nullptr ||
        FAILED(created->QueryInterface(IID_IDispatch, object.Out()))) {
      throw ComError(FAILED(outcome) ? static_cast<std::int32_t>(outcome) : error_number::kCannotCreateObject,
                     kSource, "COM+ could not create " + std::string(progId) + " in the caller's context");
    }
    auto dispatch = std::make_shared<ComDispatch>(object.Get());
    object.Detach();
    return dispatch;
  }

 private:
  static void Check(HRESULT outcome, std::string_view vote) {
    if (SUCCEEDED(outcome)) return;
    std::string description = "COM+ refused the vote ";
    description.append(vote);
    throw ComError(static_cast<std::int32_t>(outcome), kSource, description);
  }

  IObjectContext* context_;
};

std::shared_ptr<PlatformObjectContext> FindComPlusContext() {
  Held<IObjectContext> context;
  if (FAILED(CoGetObjectContext(kIidObjectContext, context.Out())) || context.Get() == nullptr)
    return nullptr;
  auto found = std::make_shared<ComPlusObjectContext>(context.Get());
  context.Detach();
  return found;
}

const bool installed = [] {
  SetPlatformContextLookup(FindComPlusContext);
  return true;
}();

}  // namespace
}  // namespace closewright::windows
