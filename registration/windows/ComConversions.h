#pragma once

// Conversions between the library's types and the ones COM callers hand over: GUIDs, UTF-16 text and
// BSTRs, VARIANTs, and errors as HRESULT plus IErrorInfo.

#include <windows.h>

#include <oaidl.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "outside/ComError.h"
#include "outside/Variant.h"
#include "registration/Identifiers.h"

namespace closewright::windows {

GUID ToGuid(const Guid& guid) noexcept;

std::wstring Utf8ToWide(std::string_view text);
std::string WideToUtf8(std::wstring_view text);
/// A null BSTR is the empty string, as Automation treats it.
std::string BstrToUtf8(BSTR text);
/// A new BSTR the caller owns; error 7 (out of memory) when it cannot be allocated.
BSTR Utf8ToBstr(std::string_view text);

/// Writes a Variant into an uninitialized VARIANT. Objects give error 13: no public method returns one.
void ToVariant(const Variant& value, VARIANT* out);
/// The Variant a VARIANT holds, by reference or not; error 13 for a type the library has no Variant for.
Variant FromVariant(const VARIANT& value);

/// The HRESULT that carries an error number: numbers 1 to 65535 travel as 0x800A0000 + n (the Automation
/// convention clients undo when they show Err.Number); numbers that already are HRESULTs travel as they are.
HRESULT ErrorNumberToHResult(std::int32_t number) noexcept;

/// The error number an HRESULT carries: the reverse of ErrorNumberToHResult.
std::int32_t HResultToErrorNumber(HRESULT result) noexcept;

/// Hands the error to COM as the thread's IErrorInfo, its five fields unchanged, and returns its HRESULT.
HRESULT SetComErrorInfo(const ComError& error, const GUID& interfaceId) noexcept;

/// Fills an EXCEPINFO from the error (releasing what it held) and returns DISP_E_EXCEPTION.
HRESULT FillExceptionInfo(const ComError& error, EXCEPINFO* info) noexcept;
/// The error an EXCEPINFO describes, its five fields unchanged; the EXCEPINFO keeps what it holds.
ComError ErrorFromExceptionInfo(const EXCEPINFO& info);

}  // namespace closewright::windows
