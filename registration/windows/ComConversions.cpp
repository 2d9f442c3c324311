#include "registration/windows/ComConversions.h"

#include <limits>
#include <memory>
#include <optional>

namespace closewright::windows {
namespace {

constexpr std::int32_t kOutOfMemory = 7;

struct BstrDeleter {
  void operator()(OLECHAR* text) const noexcept { SysFreeString(text); }
};
using OwnedBstr = std::unique_ptr<OLECHAR, BstrDeleter>;

// A DECIMAL holds a 96-bit unsigned integer, a sign (DECIMAL_NEG) and a scale of 0 to 28
// (learn.microsoft.com, "DECIMAL structure (wtypes.h)" and "2.2.26 DECIMAL" of the OLE Automation protocol).
// A value outside that has no DECIMAL of the same digits; it is refused with the platform's overflow rather
// than rounded, as the VarDecFrom conversions return DISP_E_OVERFLOW when the data does not fit the
// destination type.
constexpr int kLargestDecimalScale = 28;
const DecimalCoefficient kDecimalLimit = static_cast<DecimalCoefficient>(1) << 96;

DECIMAL ToDecimalStruct(const Decimal& value) {
  if (value.Scale() > kLargestDecimalScale || value.Coefficient() >= kDecimalLimit) {
    throw ComError(
        error_number::kOverflow, "Closewright",
        "The decimal " + value.ToString() +
            " does not fit a VARIANT's DECIMAL, which holds at most 28 places and 96 bits of digits.");
  }
  DECIMAL out{};
  out.scale = static_cast<BYTE>(value.Scale());
  out.sign = static_cast<BYTE>(value.IsNegative() ? DECIMAL_NEG : 0);
  out.Hi32 = static_cast<ULONG>(value.Coefficient() >> 64);
  out.Lo64 = static_cast<ULONGLONG>(value.Coefficient());
  return out;
}

Decimal FromDecimalStruct(const DECIMAL& value) {
  const DecimalCoefficient coefficient =
      (static_cast<DecimalCoefficient>(value.Hi32) << 64) | static_cast<DecimalCoefficient>(value.Lo64);
  if (value.scale > kLargestDecimalScale) throw ComError::Runtime(error_number::kOverflow);
  const std::optional<Decimal> out =
      Decimal::FromParts((value.sign & DECIMAL_NEG) != 0, coefficient, value.scale);
  if (!out) throw ComError::Runtime(error_number::kOverflow);
  return *out;
}

int ToInt(std::size_t length) {
  if (length > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    throw ComError::Runtime(error_number::kOverflow);
  }
  return static_cast<int>(length);
}

}  // namespace

GUID ToGuid(const Guid& guid) noexcept {
  GUID out{};
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  for (std::size_t i = 0; i < guid.data4.size(); ++i) out.Data4[i] = guid.data4[i];
  return out;
}

std::wstring Utf8ToWide(std::string_view text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), ToInt(text.size()), nullptr, 0);
  if (length <= 0) throw ComError::Runtime(error_number::kInvalidProcedureCall);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), ToInt(text.size()), wide.data(), length);
  return wide;
}

std::string WideToUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), ToInt(text.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) throw ComError::Runtime(error_number::kInvalidProcedureCall);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), ToInt(text.size()), narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::string BstrToUtf8(BSTR text) {
  if (text == nullptr) return {};
  return WideToUtf8(std::wstring_view(text, SysStringLen(text)));
}

BSTR Utf8ToBstr(std::string_view text) {
  const std::wstring wide = Utf8ToWide(text);
  BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  if (out == nullptr) throw ComError::Runtime(kOutOfMemory);
  return out;
}

void ToVariant(const Variant& value, VARIANT* out) {
  VariantInit(out);
  switch (value.Type()) {
    case VariantType::Empty:
      return;
    case VariantType::Null:
      V_VT(out) = VT_NULL;
      return;
    case VariantType::Boolean:
      V_VT(out) = VT_BOOL;
      V_BOOL(out) = value.ToBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
      return;
    case VariantType::Long:
      V_VT(out) = VT_I4;
      V_I4(out) = value.ToLong();
      return;
    case VariantType::Double:
      V_VT(out) = VT_R8;
      V_R8(out) = value.ToDouble();
      return;
    case VariantType::Date:
      V_VT(out) = VT_DATE;
      V_DATE(out) = value.ToDate().days;
      return;
    case VariantType::String:
      V_BSTR(out) = Utf8ToBstr(value.ToString());
      V_VT(out) = VT_BSTR;
      return;
    case VariantType::LongLong:
      V_VT(out) = VT_I8;
      V_I8(out) = value.ToLongLong();
      return;
    case VariantType::Decimal:
      // The DECIMAL fills the whole VARIANT, its reserved word being the type's: the type is set after.
      V_DECIMAL(out) = ToDecimalStruct(value.ToDecimal());
      V_VT(out) = VT_DECIMAL;
      return;
    case VariantType::Object:
      break;
  }
  throw ComError::Runtime(error_number::kTypeMismatch);
}

Variant FromVariant(const VARIANT& value) {
  VARIANT plain;
  VariantInit(&plain);
  // mingw-w64 declares the source of VariantCopyInd without const; the function only reads it.
  if (FAILED(VariantCopyInd(&plain, const_cast<VARIANT*>(&value)))) {
    throw ComError::Runtime(error_number::kTypeMismatch);
  }
  struct Clear {
    VARIANT& held;
    ~Clear() { VariantClear(&held); }
  } clear{plain};
  switch (V_VT(&plain)) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::Null();
    case VT_BOOL:
      return Variant(V_BOOL(&plain) != VARIANT_FALSE);
    case VT_UI1:
      return Variant(static_cast<std::int32_t>(V_UI1(&plain)));
    case VT_I2:
      return Variant(static_cast<std::int32_t>(V_I2(&plain)));
    case VT_I4:
      return Variant(static_cast<std::int32_t>(V_I4(&plain)));
    case VT_I8:
      return Variant(static_cast<std::int64_t>(V_I8(&plain)));
    case VT_DECIMAL:
      return Variant(FromDecimalStruct(V_DECIMAL(&plain)));
    case VT_R4:
      return Variant(static_cast<double>(V_R4(&plain)));
    case VT_R8:
      return Variant(V_R8(&plain));
    case VT_DATE:
      return Variant(DateValue{V_DATE(&plain)});
    case VT_BSTR:
      return Variant(BstrToUtf8(V_BSTR(&plain)));
    default:
      throw ComError::Runtime(error_number::kTypeMismatch);
  }
}

HRESULT ErrorNumberToHResult(std::int32_t number) noexcept {
  if (number > 0 && number < 65536)
    return static_cast<HRESULT>(0x800A0000u | static_cast<std::uint32_t>(number));
  return number == 0 ? E_FAIL : static_cast<HRESULT>(number);
}

std::int32_t HResultToErrorNumber(HRESULT result) noexcept {
  const auto bits = static_cast<std::uint32_t>(result);
  if ((bits & 0xFFFF0000u) == 0x800A0000u) return static_cast<std::int32_t>(bits & 0xFFFFu);
  return static_cast<std::int32_t>(result);
}

HRESULT SetComErrorInfo(const ComError& error, const GUID& interfaceId) noexcept {
  const HRESULT result = ErrorNumberToHResult(error.Number());
  try {
    ICreateErrorInfo* created = nullptr;
    if (FAILED(CreateErrorInfo(&created))) return result;
    const std::wstring source = Utf8ToWide(error.Source());
    const std::wstring description = Utf8ToWide(error.Description());
    const std::wstring helpFile = Utf8ToWide(error.HelpFile());
    created->SetGUID(interfaceId);
    created->SetSource(const_cast<LPOLESTR>(source.c_str()));
    created->SetDescription(const_cast<LPOLESTR>(description.c_str()));
    created->SetHelpFile(const_cast<LPOLESTR>(helpFile.c_str()));
    created->SetHelpContext(static_cast<DWORD>(error.HelpContext()));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(created->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    created->Release();
  } catch (...) {
    // Text that cannot be converted leaves the caller with the HRESULT alone.
  }
  return result;
}

HRESULT FillExceptionInfo(const ComError& error, EXCEPINFO* info) noexcept {
  if (info == nullptr) return DISP_E_EXCEPTION;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  *info = EXCEPINFO{};
  try {
    OwnedBstr source(Utf8ToBstr(error.Source()));
    OwnedBstr description(Utf8ToBstr(error.Description()));
    OwnedBstr helpFile(Utf8ToBstr(error.HelpFile()));
    info->bstrSource = source.release();
    info->bstrDescription = description.release();
    info->bstrHelpFile = helpFile.release();
  } catch (...) {
    // The code still tells the caller what failed.
  }
  info->dwHelpContext = static_cast<DWORD>(error.HelpContext());
  info->scode = ErrorNumberToHResult(error.Number());
  return DISP_E_EXCEPTION;
}

ComError ErrorFromExceptionInfo(const EXCEPINFO& info) {
  // Automation fills either the scode or the wCode, never both.
  const std::int32_t number = info.scode != 0 ? HResultToErrorNumber(info.scode) : info.wCode;
  return ComError(number, BstrToUtf8(info.bstrSource), BstrToUtf8(info.bstrDescription),
                  BstrToUtf8(info.bstrHelpFile), static_cast<std::int32_t>(info.dwHelpContext));
}

}  // namespace closewright::windows
