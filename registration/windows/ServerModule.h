#pragma once

// What the COM layer shares across its files: the module, the server's lock and object counts, the
// embedded type library and the object factory.

#include <windows.h>

#include <oaidl.h>

namespace closewright::windows {

/// The DLL's own module handle, set when the loader attaches it.
HMODULE ServerModule() noexcept;
/// The full path of the DLL, as registration records it and the type library is loaded from.
HRESULT ServerModulePath(wchar_t* path, DWORD capacity) noexcept;
/// The type library embedded in the DLL, loaded without touching the registry.
HRESULT LoadServerTypeLibrary(ITypeLib** library) noexcept;

void AddServerReference() noexcept;
void ReleaseServerReference() noexcept;
/// True while objects, class-factory locks or library objects keep the server in use.
bool ServerInUse() noexcept;

/// Creates a CCloseData COM object and asks it for `iid`.
HRESULT CreateCloseDataObject(REFIID iid, void** object) noexcept;

}  // namespace closewright::windows
