// The COM object callers hold: the dual _CCloseData interface over the library's CCloseData. IDispatch is
// served from the embedded type library, which turns late-bound calls into calls through the function table
// below; each method converts its arguments to the library's Variant, runs the member and turns an error
// into an HRESULT with IErrorInfo (and, on the IDispatch path, EXCEPINFO) carrying its five fields.

#include <windows.h>

#include <oaidl.h>

#include <atomic>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "Closewright_h.h"
#include "close/CCloseData.h"
#include "outside/ComError.h"
#include "registration/Identifiers.h"
#include "registration/windows/ComConversions.h"
#include "registration/windows/ServerModule.h"

namespace closewright::windows {
namespace {

constexpr std::int32_t kOutOfMemory = 7;

VARIANT_BOOL ToVariantBool(bool value) {
  return value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant Long(LONG value) {
  return Variant(static_cast<std::int32_t>(value));
}

Variant Boolean(VARIANT_BOOL value) {
  return Variant(value != VARIANT_FALSE);
}

class CloseDataObject final : public _CCloseData, public ISupportErrorInfo {
 public:
  explicit CloseDataObject(ITypeInfo* typeInfo) : typeInfo_(typeInfo) {
    typeInfo_->AddRef();
    AddServerReference();
  }
  CloseDataObject(const CloseDataObject&) = delete;
  CloseDataObject& operator=(const CloseDataObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_ISupportErrorInfo) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else if (iid == IID_IUnknown || iid == IID_IDispatch || AnswersRevision(iid)) {
      // Every revision only appended to the function table, so the current table serves them all.
      *object = static_cast<_CCloseData*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return AnswersRevision(iid) ? S_OK : S_FALSE;
  }

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) override {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    typeInfo_->AddRef();
    *typeInfo = typeInfo_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return DispGetIDsOfNames(typeInfo_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* parameters,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    pendingError_.reset();
    HRESULT outcome = typeInfo_->Invoke(static_cast<_CCloseData*>(this), id, flags, parameters, result,
                                        exception, argumentError);
    // The method's own error decides what the caller sees, whatever the type library made of it.
    if (pendingError_) outcome = FillExceptionInfo(*pendingError_, exception);
    pendingError_.reset();
    return outcome;
  }

  // _CCloseData, in interface order.
  HRESULT STDMETHODCALLTYPE SetEndBal(BSTR sDsn, LONG lYear, LONG lPeriod) override {
    return Run(0x60030002, [&] {
      return std::vector<Variant>{BstrToUtf8(sDsn), Long(lYear), Long(lPeriod)};
    });
  }
  HRESULT STDMETHODCALLTYPE SetBegBal(BSTR sDsn, LONG lYear, LONG lPeriod, LONG lNextYear,
                                      LONG lNextPeriod) override {
    return Run(0x60030003, [&] { return FivePartArguments(sDsn, lYear, lPeriod, lNextYear, lNextPeriod); });
  }
  HRESULT STDMETHODCALLTYPE SetStandardData(BSTR sDsn, LONG lYear, LONG lPeriod, LONG lNextYear,
                                            LONG lNextPeriod) override {
    return Run(0x60030004, [&] { return FivePartArguments(sDsn, lYear, lPeriod, lNextYear, lNextPeriod); });
  }
  HRESULT STDMETHODCALLTYPE SetCurrentPeriod(BSTR sDsn, LONG lNextYear, LONG lNextPeriod,
                                             VARIANT_BOOL* bUnClosed, VARIANT* result) override {
    if (result == nullptr) return E_POINTER;
    VariantInit(result);
    Variant returned;
    return Run(
        0x60030005,
        [&] {
          std::vector<Variant> arguments{BstrToUtf8(sDsn), Long(lNextYear), Long(lNextPeriod)};
          // Left out, the flag behaves as False; given, it is passed by reference and written back.
          if (bUnClosed != nullptr) arguments.push_back(Boolean(*bUnClosed));
          return arguments;
        },
        &returned,
        [&](std::vector<Variant>& after) {
          if (bUnClosed != nullptr) *bUnClosed = ToVariantBool(after[3].ToBoolean());
          ToVariant(returned, result);
        });
  }
  HRESULT STDMETHODCALLTYPE EndHistoryData(BSTR sDsn, LONG lYear, LONG lPeriod, VARIANT_BOOL bEnd,
                                           VARIANT_BOOL* result) override {
    return RunBooleanResult(0x60030008, sDsn, lYear, lPeriod, bEnd, result);
  }
  HRESULT STDMETHODCALLTYPE EndMatDistributeData(BSTR sDsn, LONG lYear, LONG lPeriod, VARIANT_BOOL bEnd,
                                                 VARIANT_BOOL* result) override {
    return RunBooleanResult(0x60030009, sDsn, lYear, lPeriod, bEnd, result);
  }
  HRESULT STDMETHODCALLTYPE EndExpDistributeData(BSTR sDsn, LONG lYear, LONG lPeriod, VARIANT_BOOL bEnd,
                                                 VARIANT_BOOL* result) override {
    return RunBooleanResult(0x6003000A, sDsn, lYear, lPeriod, bEnd, result);
  }
  HRESULT STDMETHODCALLTYPE SetCostDeputyData(BSTR sDsn, LONG lYear, LONG lPeriod, LONG lNextYear,
                                              LONG lNextPeriod) override {
    return Run(0x6003000D, [&] { return FivePartArguments(sDsn, lYear, lPeriod, lNextYear, lNextPeriod); });
  }
  HRESULT STDMETHODCALLTYPE ExecuteSQL(BSTR sCnn, BSTR strSQL, VARIANT* result) override {
    if (result == nullptr) return E_POINTER;
    VariantInit(result);
    Variant returned;
    return Run(
        0x60030013,
        [&] {
          return std::vector<Variant>{BstrToUtf8(sCnn), BstrToUtf8(strSQL)};
        },
        &returned, [&](std::vector<Variant>&) { ToVariant(returned, result); });
  }
  HRESULT STDMETHODCALLTYPE EndOpCostHistoryData(BSTR sDsn, LONG lYear, LONG lPeriod,
                                                 VARIANT_BOOL bEnd) override {
    return Run(0x60030014, [&] {
      return std::vector<Variant>{BstrToUtf8(sDsn), Long(lYear), Long(lPeriod), Boolean(bEnd)};
    });
  }
  HRESULT STDMETHODCALLTYPE AlterIdentitySeed(BSTR sDsn) override {
    return Run(0x6003001A, [&] { return std::vector<Variant>{BstrToUtf8(sDsn)}; });
  }

 private:
  ~CloseDataObject() {
    typeInfo_->Release();
    ReleaseServerReference();
  }

  static bool AnswersRevision(REFIID iid) {
    for (const Guid& revision : kInterfaceRevisions) {
      if (iid == ToGuid(revision)) return true;
    }
    return false;
  }

  static std::vector<Variant> FivePartArguments(BSTR sDsn, LONG lYear, LONG lPeriod, LONG lNextYear,
                                                LONG lNextPeriod) {
    return {BstrToUtf8(sDsn), Long(lYear), Long(lPeriod), Long(lNextYear), Long(lNextPeriod)};
  }

  HRESULT RunBooleanResult(DispatchId id, BSTR sDsn, LONG lYear, LONG lPeriod, VARIANT_BOOL bEnd,
                           VARIANT_BOOL* result) {
    if (result == nullptr) return E_POINTER;
    *result = VARIANT_FALSE;
    Variant returned;
    return Run(
        id,
        [&] {
          return std::vector<Variant>{BstrToUtf8(sDsn), Long(lYear), Long(lPeriod), Boolean(bEnd)};
        },
        &returned, [&](std::vector<Variant>&) { *result = ToVariantBool(returned.ToBoolean()); });
  }

  // Builds the arguments, calls the member by its DISPID and hands results back; every error on the way
  // becomes the HRESULT and error information the caller sees.
  template <typename MakeArguments, typename HandBack = void (*)(std::vector<Variant>&)>
  HRESULT Run(
      DispatchId id, MakeArguments makeArguments, Variant* returned = nullptr,
      HandBack handBack = [](std::vector<Variant>&) {}) noexcept {
    SetErrorInfo(0, nullptr);
    try {
      std::vector<Variant> arguments = makeArguments();
      Variant value = core_->Invoke(id, arguments);
      if (returned != nullptr) *returned = std::move(value);
      handBack(arguments);
      return S_OK;
    } catch (const ComError& error) {
      return Report(error);
    } catch (const std::bad_alloc&) {
      return Report(ComError::Runtime(kOutOfMemory, "Closewright.CCloseData"));
    } catch (const std::exception& error) {
      return Report(
          ComError(static_cast<std::int32_t>(E_UNEXPECTED), "Closewright.CCloseData", error.what()));
    }
  }

  HRESULT Report(const ComError& error) noexcept {
    try {
      pendingError_ = error;
    } catch (...) {
      pendingError_.reset();
    }
    return SetComErrorInfo(error, ToGuid(kIidCCloseData));
  }

  std::atomic<ULONG> references_{1};
  ITypeInfo* typeInfo_;
  std::unique_ptr<CCloseData> core_ = std::make_unique<CCloseData>();
  std::optional<ComError> pendingError_;
};

}  // namespace

HRESULT CreateCloseDataObject(REFIID iid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  ITypeLib* library = nullptr;
  HRESULT outcome = LoadServerTypeLibrary(&library);
  if (FAILED(outcome)) return outcome;
  ITypeInfo* typeInfo = nullptr;
  outcome = library->GetTypeInfoOfGuid(ToGuid(kIidCCloseData), &typeInfo);
  library->Release();
  if (FAILED(outcome)) return outcome;
  CloseDataObject* created = nullptr;
  try {
    created = new CloseDataObject(typeInfo);
  } catch (...) {
    typeInfo->Release();
    return E_OUTOFMEMORY;
  }
  typeInfo->Release();
  outcome = created->QueryInterface(iid, object);
  created->Release();
  return outcome;
}

}  // namespace closewright::windows
