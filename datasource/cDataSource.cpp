#include "datasource/cDataSource.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>

#include "datasource/ProviderFacts.h"
#include "datasource/RowToDictionary.h"
#include "outside/ComError.h"
#include "outside/Diagnostics.h"
#include "outside/Dictionary.h"
#include "outside/SharedProperty.h"
#include "parse/CParse.h"

namespace closewright {
namespace {

constexpr std::string_view kSupportedProcQuery = R"(SELECT FProcName FROM t_SupportedProc)";

constexpr std::string_view kDataTypeInfoQuery =
    R"(select FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, FActualSize, FBindType from t_DataTypeInfo)";

constexpr std::string_view kFillSite = "cDataSource.LoadDataSourceInfo";

std::shared_ptr<SharedPropertyGroup> OpenProcessGroup(const std::string& name, bool& existed) {
  SharedPropertyGroupManager manager;
  std::int32_t isolationMode = kLockSetGet;
  std::int32_t releaseMode = kProcess;
  return manager.CreatePropertyGroup(name, isolationMode, releaseMode, existed);
}

std::shared_ptr<SharedPropertyGroup> OpenProcessGroup(const std::string& name) {
  bool existed = false;
  return OpenProcessGroup(name, existed);
}

std::shared_ptr<SharedProperty> CreateProperty(SharedPropertyGroup& group, std::string_view name) {
  bool existed = false;
  return group.CreateProperty(name, existed);
}

// A provider that does not offer a fact is normal and not worth a warning; anything else is.
void ReportUnlessAbsent(const ComError& error) {
  if (error.Number() != error_number::kItemNotFound) ReportSwallowedError(error, kFillSite);
}

// Every step stands alone: a fact that cannot be stored never stops the others or the fill.
void StoreProviderFacts(Connection& connection, SharedPropertyGroup& group) {
  try {
    connection.GetProperties().Refresh();
  } catch (const ComError& error) {
    ReportSwallowedError(error, kFillSite);
  }
  for (const ProviderFact& fact : ProviderFacts()) {
    try {
      std::optional<Variant> value;
      try {
        value = connection.GetProperties().Item(fact.providerName).Value();
      } catch (const ComError& error) {
        ReportUnlessAbsent(error);
      }
      CacheProviderFact(group, fact, std::move(value));
    } catch (const ComError& error) {
      ReportSwallowedError(error, kFillSite);
    }
  }
}

// The fill's error raised again with its own number, source and description; the help reference is dropped
// but what a DBA needs (SQLSTATE, native error, failing text) stays.
ComError WithoutHelp(const ComError& error) {
  ComError raised = ComError::Database(error.Number(), error.Source(), error.Description(), error.SqlState(),
                                       error.NativeError(), error.FailingText());
  raised.SetFailingLine(error.FailingLine());
  return raised;
}

bool IsTrue(const Variant& value) {
  return value.Type() == VariantType::Boolean && value.ToBoolean();
}

// Catalogue bounds are compared with the caller's arguments as numbers, whatever type the column has.
bool IsBelow(const Variant& bound, std::int32_t value) {
  return bound.ToDouble() < value;
}
bool IsAbove(const Variant& bound, std::int32_t value) {
  return bound.ToDouble() > value;
}

void ClampScale(const Variant& minScale, const Variant& maxScale, std::int32_t& nScale) {
  // Upper bound first, so that when the bounds cross the lower one wins.
  if (!maxScale.IsNull() && IsBelow(maxScale, nScale)) nScale = maxScale.ToLong();
  if (!minScale.IsNull() && IsAbove(minScale, nScale)) nScale = minScale.ToLong();
}

// A "(" in the catalogue's name marks where precision and scale go; anything after the first ")" (such as
// " identity") follows them. A name with "(" but no ")" gets the closing parenthesis added.
std::string ComposeTypeName(const std::string& typeName, std::int32_t precision, bool withScale,
                            std::int32_t scale) {
  std::string size = std::to_string(precision);
  // Appended piece by piece: GCC 12 warns falsely (-Wrestrict, GCC bug 105329) about "," + std::string.
  if (withScale) {
    size += ',';
    size += std::to_string(scale);
  }
  size += ')';
  const auto open = typeName.find('(');
  if (open == std::string::npos) return typeName + "(" + size;
  const auto close = typeName.find(')');
  const auto resume = close == std::string::npos ? open + 1 : close + 1;
  return typeName.substr(0, open + 1) + size + typeName.substr(resume);
}

// Lookups that find a catalogue group still being loaded by another thread wait for that load to end, so
// that they never see a half-loaded catalogue. No lock is held while the load itself runs.
struct CatalogueLoads {
  std::mutex mutex;
  std::condition_variable finished;
  std::set<std::string, std::less<>> loading;
};

CatalogueLoads& Loads() {
  static CatalogueLoads loads;
  return loads;
}

class LoadingMark {
 public:
  explicit LoadingMark(std::string name) : name_(std::move(name)) {}
  LoadingMark(const LoadingMark&) = delete;
  LoadingMark& operator=(const LoadingMark&) = delete;
  ~LoadingMark() {
    CatalogueLoads& loads = Loads();
    {
      std::lock_guard lock(loads.mutex);
      loads.loading.erase(name_);
    }
    loads.finished.notify_all();
  }

 private:
  std::string name_;
};

}  // namespace

const CParse& cDataSource::Parser() const {
  // The platform reports a member call on an unset object reference as error 91.
  if (!parseObject_) throw ComError(91, "cDataSource", "Object variable or With block variable not set");
  return *parseObject_;
}

std::unique_ptr<Connection> cDataSource::OpenWithIsolation(const char* isolationStatement) const {
  auto connection = std::make_unique<Connection>();
  connection->Open(ConnectString(), "", "", kUnspecified);
  connection->SetCursorLocation(kUseClient);
  connection->SetCommandTimeout(0);
  connection->Execute(isolationStatement);
  return connection;
}

std::unique_ptr<Connection> cDataSource::GetConnection() const {
  return OpenWithIsolation("SET TRANSACTION ISOLATION LEVEL READ COMMITTED");
}

std::unique_ptr<Connection> cDataSource::UnCommittedConnection() const {
  return OpenWithIsolation("SET TRANSACTION ISOLATION LEVEL READ UnCOMMITTED");
}

std::string cDataSource::ConnectString() const {
  return Parser().ConStr();
}

std::string cDataSource::DBMSName() const {
  return Parser().ConDBMSName();
}

std::string cDataSource::GroupNamePrefix() const {
  const CParse& parser = Parser();
  return parser.ConDBMSName() + parser.ConDBMSVersion();
}

std::string cDataSource::DBMSVersion() const {
  return GetDataSourceProperty("DBMSVersion", false).ToString();
}

bool cDataSource::MultipleResults() const {
  return GetDataSourceProperty("MultipleResults", false).ToBoolean();
}

bool cDataSource::LikeEscapeClause() const {
  return GetDataSourceProperty("LikeEscapeClause", false).ToBoolean();
}

bool cDataSource::IEF() const {
  return GetDataSourceProperty("IEF", false).ToBoolean();
}

std::int32_t cDataSource::NumericFunctions() const {
  return GetDataSourceProperty("NumericFunctions", false).ToLong();
}

std::int32_t cDataSource::StringFunctions() const {
  return GetDataSourceProperty("StringFunctions", false).ToLong();
}

std::int32_t cDataSource::SystemFunctions() const {
  return GetDataSourceProperty("SystemFunctions", false).ToLong();
}

std::int32_t cDataSource::DateTimeFunctions() const {
  return GetDataSourceProperty("DateTimeFunctions", false).ToLong();
}

bool cDataSource::ProcSupported(const std::string& ProcName) const {
  const auto procedures =
      std::dynamic_pointer_cast<Dictionary>(GetDataSourceProperty("SupportedProc", true).ToObject());
  if (!procedures) throw ComError::Runtime(error_number::kTypeMismatch);
  return procedures->Exists(ProcName);
}

Variant cDataSource::GetDataSourceProperty(const std::string& sPropName, bool bRaiseError) const {
  const auto group = OpenProcessGroup(GroupNamePrefix() + "DataSource");
  if (!IsTrue(CreateProperty(*group, "Connected")->Value())) {
    if (!LoadDataSourceInfo(bRaiseError)) return Variant();
  }
  return group->Property(sPropName)->Value();
}

bool cDataSource::LoadDataSourceInfo(bool bRaiseError) const {
  // Released, and so closed, however the fill ends.
  std::unique_ptr<Connection> connection;
  try {
    const std::string connectString = Parser().ConStr();
    connection = std::make_unique<Connection>();
    connection->Open(connectString, "", "", kUnspecified);
    const auto group = OpenProcessGroup(GroupNamePrefix() + "DataSource");

    StoreProviderFacts(*connection, *group);

    Recordset procedures;
    procedures.Open(kSupportedProcQuery, *connection, kOpenForwardOnly, kLockReadOnly, kCmdText);
    auto supported = std::make_shared<Dictionary>();
    while (!procedures.Eof()) {
      // A name listed twice is simply supported; it must not make every fill of the process fail.
      supported->SetItem(procedures.GetFields().Item("FProcName").Value().ToString(), Variant(true));
      procedures.MoveNext();
    }
    procedures.Close();

    // "Connected" last: a reader that finds it True finds everything else already written.
    CreateProperty(*group, "SupportedProc")
        ->SetValue(Variant(std::shared_ptr<Dispatch>(std::move(supported))));
    CreateProperty(*group, "ConnectString")->SetValue(Variant(connectString));
    CreateProperty(*group, "Connected")->SetValue(Variant(true));
    connection->Close();
    return true;
  } catch (const ComError& error) {
    if (bRaiseError) throw WithoutHelp(error);
    ReportSwallowedError(error, kFillSite);
    return false;
  }
}

void cDataSource::LoadDataTypeInfo(SharedPropertyGroup& spmGroup) const {
  // The recordset opens a connection of its own from the connect string and closes it when released.
  Recordset catalogue;
  catalogue.SetCursorLocation(kUseClient);
  catalogue.Open(kDataTypeInfoQuery, ConnectString(), kUnspecified, kUnspecified, kUnspecified);
  while (!catalogue.Eof()) {
    bool existed = false;
    const std::int32_t position = catalogue.GetFields().Item("FDataType").Value().ToLong();
    spmGroup.CreatePropertyByPosition(position, existed)
        ->SetValue(Variant(std::shared_ptr<Dispatch>(RowToDictionary(catalogue))));
    catalogue.MoveNext();
  }
}

std::shared_ptr<Dictionary> cDataSource::GetDataTypeInfo(std::int32_t DataType) const {
  const std::string name = GroupNamePrefix() + "DataTypeInfo";
  CatalogueLoads& loads = Loads();
  bool existed = false;
  std::shared_ptr<SharedPropertyGroup> group;
  {
    std::unique_lock lock(loads.mutex);
    group = OpenProcessGroup(name, existed);
    if (existed) {
      loads.finished.wait(lock, [&] { return !loads.loading.contains(name); });
    } else {
      loads.loading.insert(name);
    }
  }
  if (!existed) {
    // A load that fails leaves the group as far as it got; it is never loaded again.
    LoadingMark mark(name);
    LoadDataTypeInfo(*group);
  }
  const auto row =
      std::dynamic_pointer_cast<Dictionary>(group->PropertyByPosition(DataType)->Value().ToObject());
  if (!row) throw ComError::Runtime(error_number::kTypeMismatch);
  return row;
}

std::string cDataSource::GetTypeName(std::int32_t DataType, std::int32_t& Precision, std::int32_t& nScale,
                                     std::int32_t& ActualType, std::int32_t& ActualSize,
                                     std::int32_t& BindType) const {
  const auto row = GetDataTypeInfo(DataType);
  const Variant maxPrecision = row->Item("FMaxPrecision");
  const Variant minScale = row->Item("FMinScale");
  const Variant maxScale = row->Item("FMaxScale");
  const std::string typeName = row->Item("FTypeName").ToString();

  if (!maxPrecision.IsNull() && IsBelow(maxPrecision, Precision)) return std::string();
  ClampScale(minScale, maxScale, nScale);

  std::string name;
  if (maxPrecision.IsNull()) {
    name = typeName;
    Precision = 0;
    nScale = 0;
  } else {
    name = ComposeTypeName(typeName, Precision, !maxScale.IsNull(), nScale);
  }

  ActualType = row->Item("FActualType").ToLong();
  BindType = row->Item("FBindType").ToLong();
  const Variant actualSize = row->Item("FActualSize");
  ActualSize = actualSize.IsNull() ? Precision : actualSize.ToLong();
  return name;
}

std::int32_t cDataSource::GetActualType(std::int32_t DataType, std::int32_t& Precision, std::int32_t& nScale,
                                        std::int32_t& ActualSize, std::int32_t& BindType) const {
  const auto row = GetDataTypeInfo(DataType);
  const Variant maxPrecision = row->Item("FMaxPrecision");
  if (!maxPrecision.IsNull() && IsBelow(maxPrecision, Precision)) return 0;
  ClampScale(row->Item("FMinScale"), row->Item("FMaxScale"), nScale);

  const std::int32_t actualType = row->Item("FActualType").ToLong();
  BindType = row->Item("FBindType").ToLong();
  const Variant actualSize = row->Item("FActualSize");
  ActualSize = actualSize.IsNull() ? Precision : actualSize.ToLong();
  return actualType;
}

std::int32_t cDataSource::GetBindType(std::int32_t DataType) const {
  return GetDataTypeInfo(DataType)->Item("FBindType").ToLong();
}

}  // namespace closewright
