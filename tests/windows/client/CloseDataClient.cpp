// A COM client of closewright.dll, run under Wine by tests/windows/run-wine-tests. It checks what a caller
// on Windows relies on: registration, the class and its interfaces, the type library, the interface-ID
// resource, late-bound calls through IDispatch and the errors they report, and the server's conversions of
// values to and from VARIANTs against the platform's own.
//
//   closewright_com_client registered <dll> <sqlite database>   after regsvr32
//   closewright_com_client unregistered                         before regsvr32 and after regsvr32 /u
//
// Each failed check prints a line; the exit code is the number of failed checks.

#include <windows.h>

#include <oaidl.h>
#include <ocidl.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Closewright_h.h"
#include "registration/Identifiers.h"
#include "tests/windows/client/ValueConversions.h"

namespace {

int failures = 0;

void Check(bool passed, const char* what) {
  std::printf("%s: %s\n", passed ? "ok  " : "FAIL", what);
  if (!passed) ++failures;
}

GUID ToGuid(const closewright::Guid& guid) {
  GUID out{};
  out.Data1 = guid.data1;
  out.Data2 = guid.data2;
  out.Data3 = guid.data3;
  for (std::size_t i = 0; i < guid.data4.size(); ++i) out.Data4[i] = guid.data4[i];
  return out;
}

std::string Narrow(BSTR text) {
  std::string narrow;
  if (text == nullptr) return narrow;
  for (UINT i = 0; i < SysStringLen(text); ++i) {
    narrow.push_back(text[i] < 0x80 ? static_cast<char>(text[i]) : '?');
  }
  return narrow;
}

// Owns a COM interface pointer.
template <typename Interface>
class Ref {
 public:
  Ref() = default;
  ~Ref() { Reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Interface* operator->() const { return pointer_; }
  Interface* Get() const { return pointer_; }
  Interface** Out() {
    Reset();
    return &pointer_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  void Reset() {
    if (pointer_ != nullptr) pointer_->Release();
    pointer_ = nullptr;
  }

 private:
  Interface* pointer_ = nullptr;
};

struct Member {
  const wchar_t* name;
  DISPID id;
};

// The public methods in interface order with the DISPIDs that callers have compiled against.
constexpr std::array<Member, 11> kMembers{{
    {L"SetEndBal", 0x60030002},
    {L"SetBegBal", 0x60030003},
    {L"SetStandardData", 0x60030004},
    {L"SetCurrentPeriod", 0x60030005},
    {L"EndHistoryData", 0x60030008},
    {L"EndMatDistributeData", 0x60030009},
    {L"EndExpDistributeData", 0x6003000A},
    {L"SetCostDeputyData", 0x6003000D},
    {L"ExecuteSQL", 0x60030013},
    {L"EndOpCostHistoryData", 0x60030014},
    {L"AlterIdentitySeed", 0x6003001A},
}};

constexpr DISPID kSetCurrentPeriod = 0x60030005;
constexpr DISPID kExecuteSql = 0x60030013;
constexpr DISPID kAlterIdentitySeed = 0x6003001A;

// The outcome of one late-bound call: its HRESULT, what the EXCEPINFO carried and the result.
struct Outcome {
  HRESULT result = S_OK;
  HRESULT scode = S_OK;
  WORD code = 0;
  std::string source;
  std::string description;
  VARTYPE resultType = VT_ILLEGAL;
};

class Arguments {
 public:
  Arguments& Text(const std::wstring& text) {
    VARIANT& value = Add();
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *this;
  }
  Arguments& Long(LONG number) {
    VARIANT& value = Add();
    V_VT(&value) = VT_I4;
    V_I4(&value) = number;
    return *this;
  }
  Arguments& BooleanByReference(VARIANT_BOOL* flag) {
    VARIANT& value = Add();
    V_VT(&value) = VT_BOOL | VT_BYREF;
    V_BOOLREF(&value) = flag;
    return *this;
  }
  ~Arguments() {
    for (VARIANT& value : values_) VariantClear(&value);
  }

  // Automation passes arguments last first.
  DISPPARAMS Parameters() {
    std::vector<VARIANT> reversed(values_.rbegin(), values_.rend());
    reversed_ = reversed;
    return DISPPARAMS{reversed_.data(), nullptr, static_cast<UINT>(reversed_.size()), 0};
  }

 private:
  VARIANT& Add() {
    values_.emplace_back();
    VariantInit(&values_.back());
    return values_.back();
  }
  std::vector<VARIANT> values_;
  std::vector<VARIANT> reversed_;
};

Outcome Call(IDispatch* object, DISPID id, Arguments& arguments) {
  DISPPARAMS parameters = arguments.Parameters();
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO exception{};
  UINT argumentError = 0;
  Outcome outcome;
  outcome.result = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                                  &exception, &argumentError);
  outcome.resultType = V_VT(&result);
  outcome.scode = exception.scode;
  outcome.code = exception.wCode;
  outcome.source = Narrow(exception.bstrSource);
  outcome.description = Narrow(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  VariantClear(&result);
  return outcome;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

void CheckClassAndInterfaces(IDispatch* object) {
  for (const closewright::Guid& revision : closewright::kInterfaceRevisions) {
    Ref<IUnknown> answered;
    const std::string what = "QueryInterface answers revision " + closewright::ToString(revision);
    Check(object->QueryInterface(ToGuid(revision), answered.OutVoid()) == S_OK, what.c_str());
  }
  Ref<IUnknown> other;
  Check(object->QueryInterface(IID_IPersist, other.OutVoid()) == E_NOINTERFACE,
        "QueryInterface refuses an interface the class does not have");

  for (const Member& member : kMembers) {
    LPOLESTR name = const_cast<LPOLESTR>(member.name);
    DISPID id = DISPID_UNKNOWN;
    const HRESULT found = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    char what[96];
    std::snprintf(what, sizeof what, "GetIDsOfNames gives %ls the DISPID 0x%08lX", member.name,
                  static_cast<unsigned long>(member.id));
    Check(found == S_OK && id == member.id, what);
  }
  LPOLESTR lowerCase = const_cast<LPOLESTR>(L"executesql");
  DISPID id = DISPID_UNKNOWN;
  Check(object->GetIDsOfNames(IID_NULL, &lowerCase, 1, LOCALE_USER_DEFAULT, &id) == S_OK && id == kExecuteSql,
        "GetIDsOfNames matches names without regard to case");
  LPOLESTR unknown = const_cast<LPOLESTR>(L"CloseEverything");
  Check(object->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &id) == DISP_E_UNKNOWNNAME,
        "GetIDsOfNames refuses a name the class does not have");
}

void CheckTypeLibrary() {
  Ref<ITypeLib> library;
  const HRESULT loaded = LoadRegTypeLib(ToGuid(closewright::kLibidClosewright), 1, 4, 1033, library.Out());
  Check(loaded == S_OK, "the registered type library Closewright 1.4 loads");
  if (loaded != S_OK) return;
  TLIBATTR* libraryAttributes = nullptr;
  if (library->GetLibAttr(&libraryAttributes) == S_OK) {
    Check(libraryAttributes->wMajorVerNum == 1 && libraryAttributes->wMinorVerNum == 4 &&
              libraryAttributes->lcid == 1033,
          "the type library is version 1.4 with locale 1033");
    library->ReleaseTLibAttr(libraryAttributes);
  }
  BSTR name = nullptr;
  library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
  Check(Narrow(name) == "Closewright", "the type library is named Closewright");
  SysFreeString(name);

  Ref<ITypeInfo> interfaceInfo;
  Check(library->GetTypeInfoOfGuid(ToGuid(closewright::kIidCCloseData), interfaceInfo.Out()) == S_OK,
        "the type library describes _CCloseData");
  if (interfaceInfo.Get() != nullptr) {
    TYPEATTR* attributes = nullptr;
    interfaceInfo->GetTypeAttr(&attributes);
    const WORD wanted = TYPEFLAG_FHIDDEN | TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FDISPATCHABLE;
    Check((attributes->wTypeFlags & wanted) == wanted, "_CCloseData is dual, hidden and not extensible");
    interfaceInfo->ReleaseTypeAttr(attributes);

    // The dual interface's function table: IDispatch's seven entries, then the eleven methods in order.
    Ref<ITypeInfo> table;
    HREFTYPE reference = 0;
    if (interfaceInfo->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference) == S_OK) {
      interfaceInfo->GetRefTypeInfo(reference, table.Out());
    }
    bool inOrder = table.Get() != nullptr;
    for (UINT index = 0; inOrder && index < kMembers.size(); ++index) {
      FUNCDESC* function = nullptr;
      inOrder = table->GetFuncDesc(index, &function) == S_OK && function->memid == kMembers[index].id &&
                function->oVft == static_cast<SHORT>((7 + index) * sizeof(void*));
      if (function != nullptr) table->ReleaseFuncDesc(function);
    }
    Check(inOrder, "the function table lists the eleven methods in interface order");

    bool optionalFlag = false;
    for (UINT i = 0; table.Get() != nullptr && i < kMembers.size(); ++i) {
      FUNCDESC* function = nullptr;
      if (table->GetFuncDesc(i, &function) != S_OK) continue;
      if (function->memid == kSetCurrentPeriod && function->cParams == 5) {
        const ELEMDESC& flag = function->lprgelemdescParam[3];
        const USHORT wantedFlags = PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT;
        optionalFlag = (flag.paramdesc.wParamFlags & wantedFlags) == wantedFlags && flag.tdesc.vt == VT_PTR &&
                       flag.tdesc.lptdesc->vt == VT_BOOL;
      }
      table->ReleaseFuncDesc(function);
    }
    Check(optionalFlag, "SetCurrentPeriod's bUnClosed is an optional Boolean passed by reference");
  }

  for (std::size_t i = 0; i + 1 < closewright::kInterfaceRevisions.size(); ++i) {
    Ref<ITypeInfo> revision;
    const std::string what = "the type library describes CCloseData___v" + std::to_string(i);
    bool described =
        library->GetTypeInfoOfGuid(ToGuid(closewright::kInterfaceRevisions[i]), revision.Out()) == S_OK;
    if (described) {
      BSTR revisionName = nullptr;
      revision->GetDocumentation(MEMBERID_NIL, &revisionName, nullptr, nullptr, nullptr);
      described = Narrow(revisionName) == "CCloseData___v" + std::to_string(i);
      SysFreeString(revisionName);
    }
    Check(described, what.c_str());
  }

  Ref<ITypeInfo> classInfo;
  Ref<ITypeInfo2> classInfo2;
  bool transactionRequired = false;
  if (library->GetTypeInfoOfGuid(ToGuid(closewright::kClsidCCloseData), classInfo.Out()) == S_OK &&
      classInfo->QueryInterface(IID_ITypeInfo2, classInfo2.OutVoid()) == S_OK) {
    // {17093CC5-9BD2-11CF-AA4F-304BF89C0001}: COM+ runs the class in a transaction.
    const GUID transactionRequiredId{
        0x17093CC5, 0x9BD2, 0x11CF, {0xAA, 0x4F, 0x30, 0x4B, 0xF8, 0x9C, 0x00, 0x01}};
    VARIANT value;
    VariantInit(&value);
    transactionRequired =
        classInfo2->GetCustData(transactionRequiredId, &value) == S_OK && V_VT(&value) != VT_EMPTY;
    VariantClear(&value);
  }
  Check(transactionRequired, "the class carries the transaction-required attribute");
}

void CheckInterfaceIdResource(const wchar_t* dllPath) {
  HMODULE module = LoadLibraryExW(dllPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
  Check(module != nullptr, "the DLL loads as data");
  if (module == nullptr) return;
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), L"INTERFACEIDS");
  Check(found != nullptr, "the DLL has the interface-ID resource");
  if (found != nullptr) {
    const DWORD size = SizeofResource(module, found);
    const auto* bytes = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    const std::array<std::uint8_t, 84> expected = closewright::InterfaceIdResource();
    DWORD count = 0;
    if (bytes != nullptr && size >= 4) std::memcpy(&count, bytes, 4);
    Check(size == 84 && count == 80, "the resource is the byte count 80 followed by 80 bytes");
    bool inOrder = bytes != nullptr && size == 84;
    for (std::size_t i = 0; inOrder && i < closewright::kInterfaceRevisions.size(); ++i) {
      GUID listed{};
      std::memcpy(&listed, bytes + 4 + 16 * i, 16);
      inOrder = listed == ToGuid(closewright::kInterfaceRevisions[i]);
    }
    Check(inOrder && std::memcmp(bytes, expected.data(), expected.size()) == 0,
          "the resource lists revisions 0 to 3 and then the current interface");
  }
  FreeLibrary(module);
}

void CheckCalls(IDispatch* object, const std::wstring& database) {
  const std::wstring description =
      L"ConnectString={Driver=SQLite3;Database=" + database + L"};DBMS Name=SQLite;DBMS Version=3";

  // Text beyond ASCII must reach the database as the same characters.
  Arguments create;
  create.Text(description)
      .Text(
          L"CREATE TABLE Ledger (FID INTEGER PRIMARY KEY, FName TEXT);\r\n"
          L"INSERT INTO Ledger VALUES (1, 'Gr\u00fc\u00dfe');\r\n"
          L"INSERT INTO Ledger VALUES (2, '\u6708\u672b');");
  const Outcome created = Call(object, kExecuteSql, create);
  Check(created.result == S_OK && created.resultType == VT_EMPTY,
        "ExecuteSQL through IDispatch::Invoke runs a batch and returns Empty");
  if (created.result != S_OK)
    std::printf("      %s | %s\n", created.source.c_str(), created.description.c_str());

  Arguments failing;
  failing.Text(description).Text(L"INSERT INTO NoSuchTable VALUES (1)");
  const Outcome failed = Call(object, kExecuteSql, failing);
  Check(failed.result == DISP_E_EXCEPTION, "a failing ExecuteSQL returns DISP_E_EXCEPTION");
  Check(failed.scode == static_cast<HRESULT>(0x80040E14) && failed.code == 0,
        "the exception carries the provider's error number");
  Check(StartsWith(failed.source, "Closewright.ODBC"), "the exception carries the provider's Source");
  Check(Contains(failed.description, "no such table"), "the exception carries the provider's Description");
  if (!Contains(failed.description, "no such table")) {
    std::printf("      %s | %s\n", failed.source.c_str(), failed.description.c_str());
  }

  // Without COM+ the library's own transaction layer runs the call: the work of a batch whose later
  // statement fails is rolled back (run-wine-tests looks for the row from outside).
  Arguments halfDone;
  halfDone.Text(description)
      .Text(
          L"INSERT INTO Ledger VALUES (3, 'rolled back');\r\nINSERT INTO Ledger VALUES (1, 'repeated key');");
  const Outcome rolledBack = Call(object, kExecuteSql, halfDone);
  Check(rolledBack.result == DISP_E_EXCEPTION && StartsWith(rolledBack.source, "Closewright.ODBC"),
        "a batch whose second statement fails reports the provider's error");
  if (rolledBack.result != DISP_E_EXCEPTION) std::printf("      %s\n", rolledBack.description.c_str());

  Arguments repeated;
  repeated.Text(L"ConnectString={Driver=SQLite3;Database=" + database + L"};DBMS Name=SQLite;dbms name=Other")
      .Text(L"");
  const Outcome duplicate = Call(object, kExecuteSql, repeated);
  Check(duplicate.result == DISP_E_EXCEPTION && duplicate.scode == static_cast<HRESULT>(0x800A0000 | 457),
        "a repeated key in the description gives Number 457 through EXCEPINFO");

  // Left out, the optional flag is False: the call goes through to the database (which here has no
  // profile table) instead of failing on its arguments.
  Arguments withoutFlag;
  withoutFlag.Text(description).Long(2011).Long(4);
  const Outcome omitted = Call(object, kSetCurrentPeriod, withoutFlag);
  Check(omitted.result == DISP_E_EXCEPTION && StartsWith(omitted.source, "Closewright.ODBC"),
        "SetCurrentPeriod accepts the optional flag left out");
  VARIANT_BOOL flag = VARIANT_FALSE;
  Arguments withFlag;
  withFlag.Text(description).Long(2011).Long(4).BooleanByReference(&flag);
  const Outcome given = Call(object, kSetCurrentPeriod, withFlag);
  Check(given.result == DISP_E_EXCEPTION && StartsWith(given.source, "Closewright.ODBC"),
        "SetCurrentPeriod accepts the optional flag by reference");

  Arguments reseed;
  reseed.Text(description);
  const Outcome reseeded = Call(object, kAlterIdentitySeed, reseed);
  Check(reseeded.result == S_OK && reseeded.resultType == VT_EMPTY,
        "AlterIdentitySeed passes over its errors: the call succeeds on a database without the tables");

  Arguments tooFew;
  tooFew.Text(description);
  Check(Call(object, kExecuteSql, tooFew).result != S_OK, "a missing required argument is refused");
  Arguments wrongType;
  wrongType.Text(description).Text(L"not a year").Long(4);
  Check(Call(object, kSetCurrentPeriod, wrongType).result == DISP_E_TYPEMISMATCH,
        "an argument of the wrong type is refused as a type mismatch");

  // A vtable caller gets the same error through IErrorInfo.
  Ref<_CCloseData> direct;
  if (object->QueryInterface(ToGuid(closewright::kIidCCloseData), direct.OutVoid()) == S_OK) {
    Ref<ISupportErrorInfo> supports;
    Check(direct->QueryInterface(IID_ISupportErrorInfo, supports.OutVoid()) == S_OK &&
              supports->InterfaceSupportsErrorInfo(ToGuid(closewright::kIidCCloseData)) == S_OK,
          "the object says it reports errors through IErrorInfo");
    BSTR connect = SysAllocString(description.c_str());
    BSTR text = SysAllocString(L"SELECT * FROM NoSuchTable");
    VARIANT result;
    VariantInit(&result);
    const HRESULT outcome = direct->ExecuteSQL(connect, text, &result);
    Ref<IErrorInfo> info;
    BSTR source = nullptr;
    BSTR errorDescription = nullptr;
    if (GetErrorInfo(0, info.Out()) == S_OK && info.Get() != nullptr) {
      info->GetSource(&source);
      info->GetDescription(&errorDescription);
    }
    Check(outcome == static_cast<HRESULT>(0x80040E14) && StartsWith(Narrow(source), "Closewright.ODBC") &&
              Contains(Narrow(errorDescription), "no such table"),
          "a call through the function table reports the error through IErrorInfo");
    SysFreeString(source);
    SysFreeString(errorDescription);
    SysFreeString(connect);
    SysFreeString(text);
  }
}

std::wstring ToWide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

// The text value `name` (the default value when null) of a key under HKEY_CLASSES_ROOT; nothing when absent.
std::wstring RegistryText(const std::wstring& key, const wchar_t* name) {
  std::array<wchar_t, 1024> value{};
  DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, value.data(), &bytes) !=
      ERROR_SUCCESS) {
    return {};
  }
  return value.data();
}

bool RegistryKeyExists(const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

const std::wstring kClassKey = L"CLSID\\" + ToWide(closewright::ToString(closewright::kClsidCCloseData));

int Registered(const wchar_t* dllPath, const wchar_t* database) {
  CheckValueConversions(Check);
  Check(_wcsicmp(RegistryText(kClassKey + L"\\InprocServer32", nullptr).c_str(), dllPath) == 0 &&
            RegistryText(kClassKey + L"\\InprocServer32", L"ThreadingModel") == L"Apartment",
        "the class is registered in process with the apartment threading model");
  Check(RegistryText(kClassKey + L"\\TypeLib", nullptr) ==
            ToWide(closewright::ToString(closewright::kLibidClosewright)),
        "the class names its type library");
  bool interfacesRegistered = true;
  for (const closewright::Guid& revision : closewright::kInterfaceRevisions) {
    interfacesRegistered =
        interfacesRegistered && RegistryKeyExists(L"Interface\\" + ToWide(closewright::ToString(revision)));
  }
  Check(interfacesRegistered, "the five interface revisions are registered for marshaling");
  CLSID classId{};
  Check(CLSIDFromProgID(L"Closewright.CCloseData", &classId) == S_OK &&
            classId == ToGuid(closewright::kClsidCCloseData),
        "the ProgID resolves to the class");
  Ref<IDispatch> object;
  const HRESULT created =
      CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid());
  Check(created == S_OK, "CoCreateInstance creates the class");
  if (created == S_OK) {
    CheckClassAndInterfaces(object.Get());
    CheckCalls(object.Get(), database);
  }
  CheckTypeLibrary();
  CheckInterfaceIdResource(dllPath);
  return failures;
}

int Unregistered() {
  CLSID classId{};
  Check(CLSIDFromProgID(L"Closewright.CCloseData", &classId) != S_OK, "the ProgID does not resolve");
  Ref<IDispatch> object;
  Check(CoCreateInstance(ToGuid(closewright::kClsidCCloseData), nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                         object.OutVoid()) != S_OK,
        "the class cannot be created");
  Ref<ITypeLib> library;
  Check(LoadRegTypeLib(ToGuid(closewright::kLibidClosewright), 1, 4, 1033, library.Out()) != S_OK,
        "the type library is not registered");
  bool anyLeft =
      RegistryKeyExists(kClassKey) || RegistryKeyExists(L"Closewright.CCloseData") ||
      RegistryKeyExists(L"TypeLib\\" + ToWide(closewright::ToString(closewright::kLibidClosewright)));
  for (const closewright::Guid& revision : closewright::kInterfaceRevisions) {
    anyLeft = anyLeft || RegistryKeyExists(L"Interface\\" + ToWide(closewright::ToString(revision)));
  }
  Check(!anyLeft, "no key of the class, its ProgID, type library or interfaces is left");
  return failures;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 100;
  int result = 101;
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"registered" && argc == 4) {
    result = Registered(argv[2], argv[3]);
  } else if (mode == L"unregistered") {
    result = Unregistered();
  } else {
    std::fprintf(stderr, "usage: closewright_com_client registered <dll> <database> | unregistered\n");
  }
  CoUninitialize();
  std::printf("%d failed\n", failures);
  return result;
}
