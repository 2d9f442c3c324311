// Tells whether an object runs in a COM+ context and, when it does, passes the votes of the library's
// object context on to COM+.
//
// The detection asks COM for the object context's IObjectContext interface: only a COM+ context has it, an
// ordinary apartment's default context refuses it, and no COM+ library is loaded to find out. (Calling the
// COM+ library's GetObjectContext blindly is not safe: some implementations end the process when there is no
// COM+ context.)

#include <windows.h>

#include <objbase.h>

#include <memory>
#include <string>
#include <string_view>

#include "outside/ComError.h"
#include "outside/ObjectContext.h"

namespace closewright::windows {
namespace {

// COM+'s IObjectContext, declared here in its function-table order: the SDK header that has it also declares
// a global GetObjectContext that clashes with the library's.
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

// {51372AE0-CAE7-11CF-BE81-00AA00A2FA25}
constexpr GUID kIidObjectContext{
    0x51372AE0, 0xCAE7, 0x11CF, {0xBE, 0x81, 0x00, 0xAA, 0x00, 0xA2, 0xFA, 0x25}};

class ComPlusObjectContext final : public PlatformObjectContext {
 public:
  explicit ComPlusObjectContext(IObjectContext* context) : context_(context) {}
  ~ComPlusObjectContext() override { context_->Release(); }
  ComPlusObjectContext(const ComPlusObjectContext&) = delete;
  ComPlusObjectContext& operator=(const ComPlusObjectContext&) = delete;

  void SetComplete() override {
    const HRESULT outcome = context_->SetComplete();
    Check(outcome, "SetComplete");
  }
  void SetAbort() override {
    const HRESULT outcome = context_->SetAbort();
    Check(outcome, "SetAbort");
  }

 private:
  static void Check(HRESULT outcome, std::string_view vote) {
    if (SUCCEEDED(outcome)) return;
    std::string description = "COM+ refused the vote ";
    description.append(vote);
    throw ComError(static_cast<std::int32_t>(outcome), "Closewright.ObjectContext", description);
  }

  IObjectContext* context_;
};

std::shared_ptr<PlatformObjectContext> FindComPlusContext() {
  void* found = nullptr;
  if (FAILED(CoGetObjectContext(kIidObjectContext, &found)) || found == nullptr) return nullptr;
  auto* context = static_cast<IObjectContext*>(found);
  try {
    return std::make_shared<ComPlusObjectContext>(context);
  } catch (...) {
    context->Release();
    throw;
  }
}

const bool installed = [] {
  SetPlatformContextLookup(FindComPlusContext);
  return true;
}();

}  // namespace
}  // namespace closewright::windows
