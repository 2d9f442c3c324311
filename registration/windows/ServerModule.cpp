// The four entry points of the in-process server, its class factory and its registration.

#include "registration/windows/ServerModule.h"

#include <windows.h>

#include <oaidl.h>
#include <olectl.h>

#include <array>
#include <atomic>
#include <string>

#include "close/CCloseData.h"
#include "registration/Identifiers.h"
#include "registration/windows/ComConversions.h"

namespace closewright::windows {
namespace {

HMODULE serverModule = nullptr;
std::atomic<LONG> serverReferences{0};

constexpr wchar_t kClassDescription[] = L"Closewright.CCloseData";

std::wstring GuidText(const Guid& guid) {
  return Utf8ToWide(ToString(guid));
}

std::wstring ClassKey() {
  return L"CLSID\\" + GuidText(kClsidCCloseData);
}

std::wstring ProgIdKey() {
  return Utf8ToWide(kCloseDataProgId);
}

// Writes one string value (the key's default value when `name` is null), creating the key as needed.
bool SetRegistryText(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY opened = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &opened, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const LSTATUS status =
      RegSetValueExW(opened, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  RegCloseKey(opened);
  return status == ERROR_SUCCESS;
}

bool DeleteRegistryTree(const std::wstring& key) {
  const LSTATUS status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return false;
  const LSTATUS removed = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return removed == ERROR_SUCCESS || removed == ERROR_FILE_NOT_FOUND;
}

HRESULT Unregister() {
  bool clean = true;
  const HRESULT typeLibrary = UnRegisterTypeLib(ToGuid(kLibidClosewright), kTypeLibraryMajor,
                                                kTypeLibraryMinor, kTypeLibraryLocale, SYS_WIN64);
  // A type library that was never registered is already gone.
  if (FAILED(typeLibrary) && typeLibrary != TYPE_E_REGISTRYACCESS && typeLibrary != TYPE_E_CANTLOADLIBRARY &&
      typeLibrary != TYPE_E_LIBNOTREGISTERED) {
    clean = false;
  }
  clean = DeleteRegistryTree(ClassKey()) && clean;
  clean = DeleteRegistryTree(ProgIdKey()) && clean;
  return clean ? S_OK : SELFREG_E_CLASS;
}

HRESULT Register() {
  std::array<wchar_t, MAX_PATH + 1> path{};
  if (FAILED(ServerModulePath(path.data(), static_cast<DWORD>(path.size())))) return SELFREG_E_CLASS;
  const std::wstring classKey = ClassKey();
  const std::wstring progIdKey = ProgIdKey();
  const std::wstring version = std::to_wstring(kTypeLibraryMajor) + L"." + std::to_wstring(kTypeLibraryMinor);
  const bool classWritten =
      SetRegistryText(classKey, nullptr, kClassDescription) &&
      SetRegistryText(classKey + L"\\InprocServer32", nullptr, path.data()) &&
      SetRegistryText(classKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
      SetRegistryText(classKey + L"\\ProgID", nullptr, progIdKey) &&
      SetRegistryText(classKey + L"\\VERSION", nullptr, version) &&
      SetRegistryText(classKey + L"\\TypeLib", nullptr, GuidText(kLibidClosewright)) &&
      SetRegistryText(classKey + L"\\Programmable", nullptr, L"") &&
      SetRegistryText(progIdKey, nullptr, kClassDescription) &&
      SetRegistryText(progIdKey + L"\\CLSID", nullptr, GuidText(kClsidCCloseData));
  if (!classWritten) return SELFREG_E_CLASS;
  ITypeLib* library = nullptr;
  if (FAILED(LoadServerTypeLibrary(&library))) return SELFREG_E_TYPELIB;
  const HRESULT registered = RegisterTypeLib(library, path.data(), nullptr);
  library->Release();
  return SUCCEEDED(registered) ? S_OK : SELFREG_E_TYPELIB;
}

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  // The factory lives as long as the module; its references keep the server loaded.
  ULONG STDMETHODCALLTYPE AddRef() override {
    AddServerReference();
    return 2;
  }
  ULONG STDMETHODCALLTYPE Release() override {
    ReleaseServerReference();
    return 1;
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object != nullptr) *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return CreateCloseDataObject(iid, object);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      AddServerReference();
    } else {
      ReleaseServerReference();
    }
    return S_OK;
  }
};

ClassFactory factory;

}  // namespace

HMODULE ServerModule() noexcept {
  return serverModule;
}

HRESULT ServerModulePath(wchar_t* path, DWORD capacity) noexcept {
  const DWORD length = GetModuleFileNameW(serverModule, path, capacity);
  if (length == 0 || length >= capacity) return E_FAIL;
  return S_OK;
}

HRESULT LoadServerTypeLibrary(ITypeLib** library) noexcept {
  std::array<wchar_t, MAX_PATH + 1> path{};
  const HRESULT found = ServerModulePath(path.data(), static_cast<DWORD>(path.size()));
  if (FAILED(found)) return found;
  return LoadTypeLibEx(path.data(), REGKIND_NONE, library);
}

void AddServerReference() noexcept {
  ++serverReferences;
}

void ReleaseServerReference() noexcept {
  --serverReferences;
}

bool ServerInUse() noexcept {
  return serverReferences > 0 || CCloseData::LiveObjectCount() > 0;
}

}  // namespace closewright::windows

using namespace closewright;
using namespace closewright::windows;

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    serverModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != ToGuid(kClsidCCloseData)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

STDAPI DllCanUnloadNow() {
  return ServerInUse() ? S_FALSE : S_OK;
}

STDAPI DllRegisterServer() {
  const HRESULT outcome = Register();
  // A half-written registration would point callers at a class they cannot use.
  if (FAILED(outcome)) Unregister();
  return outcome;
}

STDAPI DllUnregisterServer() {
  return Unregister();
}
}
