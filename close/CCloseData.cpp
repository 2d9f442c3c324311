#include "close/CCloseData.h"

#include <array>

#include "datasource/cDataSource.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "parse/CParse.h"

namespace closewright {
namespace {

// Interface order; a member is listed once it is built.
constexpr std::array kMembers{
    DispatchMember{"ExecuteSQL", 0x60030013},
};

bool OptionalBoolean(std::span<Variant> arguments, std::size_t index) {
  return index < arguments.size() && arguments[index].ToBoolean();
}

}  // namespace

CCloseData::CCloseData() = default;

CCloseData::~CCloseData() {
  // The data source goes first: it holds a reference to the parser.
  dataSource_.reset();
  parser_.reset();
}

std::span<const DispatchMember> CCloseData::Members() { return kMembers; }

std::string CCloseData::FormatYearPeriod(std::int32_t year, std::int32_t period) {
  std::string text = std::to_string(year) + ".";
  if (period >= 0 && period < 10) text += '0';
  if (period < 0 && period > -10) {
    // The platform's "00" format pads the digits and keeps the sign in front: -3 becomes -03.
    return text + "-0" + std::to_string(-period);
  }
  return text + std::to_string(period);
}

void CCloseData::InitDataEnv(const std::string& description) {
  parser_ = std::make_shared<CParse>();
  if (!parser_->ParseString(description)) {
    throw ComError(error_number::kInitDataEnvFailed, "CCloseData.InitDataEnv", "");
  }
  dataSource_ = std::make_unique<cDataSource>();
  dataSource_->SetParseObject(parser_);
}

void CCloseData::RunPlainFrame(const std::string& sDsn, const Steps& steps) {
  InitDataEnv(sDsn);
  std::unique_ptr<Connection> cn = dataSource_->GetConnection();
  steps(*cn);
  cn->Close();
  cn.reset();
  GetObjectContext().SetComplete();
}

void CCloseData::RunGuardedFrame(const std::string& sDsn, const Steps& steps, std::string_view ownSource) {
  std::unique_ptr<Connection> cn;
  try {
    InitDataEnv(sDsn);
    cn = dataSource_->GetConnection();
    steps(*cn);
    cn->Close();
    cn.reset();
    GetObjectContext().SetComplete();
  } catch (ComError& error) {
    GetObjectContext().SetAbort();
    if (cn && cn->State() == kStateOpen) {
      try {
        cn->Close();
      } catch (const ComError&) {
        // The pending error is the one the caller must see.
      }
    }
    cn.reset();
    if (!ownSource.empty()) error.SetSource(std::string(ownSource) + "\r\n" + error.Source());
    throw;
  }
}

Variant CCloseData::ExecuteSQL(const std::string& sCnn, const std::string& strSQL) {
  RunInObjectContext([&] {
    RunGuardedFrame(sCnn, [&](Connection& cn) {
      if (!strSQL.empty()) cn.Execute(strSQL);
    });
  });
  return Variant();
}

DispatchId CCloseData::GetIDOfName(std::string_view name) { return FindDispatchMember(kMembers, name); }

Variant CCloseData::Invoke(DispatchId id, std::span<Variant> arguments) {
  auto text = [&](std::size_t i) { return RequiredArgument(arguments, i).ToString(); };
  auto number = [&](std::size_t i) { return RequiredArgument(arguments, i).ToLong(); };
  switch (id) {
    case 0x60030013:
      return ExecuteSQL(text(0), text(1));
    default:
      throw ComError::Runtime(error_number::kMemberNotSupported, "Closewright.CCloseData");
  }
  static_cast<void>(number);
  static_cast<void>(OptionalBoolean);
}

}  // namespace closewright
