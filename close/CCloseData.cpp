#include "close/CCloseData.h"

#include <array>
#include <atomic>

#include "datasource/cDataSource.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "parse/CParse.h"

namespace closewright {
namespace {

// Interface order; a member is listed once it is built.
constexpr std::array kMembers{
    DispatchMember{"SetEndBal", 0x60030002},
    DispatchMember{"SetBegBal", 0x60030003},
    DispatchMember{"SetStandardData", 0x60030004},
    DispatchMember{"SetCurrentPeriod", 0x60030005},
    DispatchMember{"EndHistoryData", 0x60030008},
    DispatchMember{"EndMatDistributeData", 0x60030009},
    DispatchMember{"EndExpDistributeData", 0x6003000A},
    DispatchMember{"SetCostDeputyData", 0x6003000D},
    DispatchMember{"ExecuteSQL", 0x60030013},
    DispatchMember{"EndOpCostHistoryData", 0x60030014},
    DispatchMember{"AlterIdentitySeed", 0x6003001A},
};

std::atomic<std::int32_t> liveObjects{0};

}  // namespace

CCloseData::CCloseData() {
  ++liveObjects;
}

std::int32_t CCloseData::LiveObjectCount() noexcept {
  return liveObjects;
}

CCloseData::~CCloseData() {
  --liveObjects;
  // The data source goes first: it holds a reference to the parser.
  dataSource_.reset();
  parser_.reset();
}

std::span<const DispatchMember> CCloseData::Members() {
  return kMembers;
}

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

DispatchId CCloseData::GetIDOfName(std::string_view name) {
  return FindDispatchMember(kMembers, name);
}

Variant CCloseData::Invoke(DispatchId id, std::span<Variant> arguments) {
  auto text = [&](std::size_t i) { return RequiredArgument(arguments, i).ToString(); };
  [[maybe_unused]] auto number = [&](std::size_t i) { return RequiredArgument(arguments, i).ToLong(); };
  [[maybe_unused]] auto boolean = [&](std::size_t i) { return RequiredArgument(arguments, i).ToBoolean(); };
  switch (id) {
    case 0x60030002:
      SetEndBal(text(0), number(1), number(2));
      return Variant();
    case 0x60030003:
      SetBegBal(text(0), number(1), number(2), number(3), number(4));
      return Variant();
    case 0x60030004:
      SetStandardData(text(0), number(1), number(2), number(3), number(4));
      return Variant();
    case 0x60030005:
      // The optional flag is passed by reference: the argument itself, when given.
      return SetCurrentPeriod(text(0), number(1), number(2), arguments.size() > 3 ? &arguments[3] : nullptr);
    case 0x60030008:
      return EndHistoryData(text(0), number(1), number(2), boolean(3));
    case 0x60030009:
      return EndMatDistributeData(text(0), number(1), number(2), boolean(3));
    case 0x6003000A:
      return EndExpDistributeData(text(0), number(1), number(2), boolean(3));
    case 0x6003000D:
      SetCostDeputyData(text(0), number(1), number(2), number(3), number(4));
      return Variant();
    case 0x60030013:
      return ExecuteSQL(text(0), text(1));
    case 0x60030014:
      EndOpCostHistoryData(text(0), number(1), number(2), boolean(3));
      return Variant();
    case 0x6003001A:
      AlterIdentitySeed(text(0));
      return Variant();
    default:
      throw ComError::Runtime(error_number::kMemberNotSupported, "Closewright.CCloseData");
  }
}

}  // namespace closewright
