#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "outside/Ado.h"
#include "outside/Dispatch.h"

namespace closewright {

class CParse;
class cDataSource;

inline constexpr std::string_view kCloseDataProgId = "Closewright.CCloseData";

/// The close component. Each public method performs one step of the period-end close on the database the
/// connection description names, inside the caller's transaction (or one of its own).
class CCloseData : public Dispatch {
 public:
  CCloseData();
  ~CCloseData() override;

  void SetEndBal(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod);
  void SetBegBal(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod, std::int32_t lNextYear,
                 std::int32_t lNextPeriod);
  void SetStandardData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                       std::int32_t lNextYear, std::int32_t lNextPeriod);
  /// `bUnClosed` is optional and passed by reference: nullptr behaves as False.
  Variant SetCurrentPeriod(const std::string& sDsn, std::int32_t lNextYear, std::int32_t lNextPeriod,
                           Variant* bUnClosed = nullptr);
  bool EndHistoryData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod, bool bEnd);
  bool EndMatDistributeData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod, bool bEnd);
  bool EndExpDistributeData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod, bool bEnd);
  void SetCostDeputyData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod,
                         std::int32_t lNextYear, std::int32_t lNextPeriod);
  Variant ExecuteSQL(const std::string& sCnn, const std::string& strSQL);
  void EndOpCostHistoryData(const std::string& sDsn, std::int32_t lYear, std::int32_t lPeriod, bool bEnd);
  void AlterIdentitySeed(const std::string& sDsn);

  DispatchId GetIDOfName(std::string_view name) override;
  Variant Invoke(DispatchId id, std::span<Variant> arguments) override;

  /// The public members in interface order, with their DISPIDs.
  static std::span<const DispatchMember> Members();

  /// How many objects of the class are alive in the process (the server may unload at zero).
  static std::int32_t LiveObjectCount() noexcept;

  /// The year-period key: the year, ".", and the period with at least two digits (2011.03).
  static std::string FormatYearPeriod(std::int32_t year, std::int32_t period);

 private:
  // Lets the tests call the private steps directly.
  friend class CCloseDataTestPeer;

  using Steps = std::function<void(Connection& cn)>;

  void InitDataEnv(const std::string& description);
  /// Parse, connect, run the steps, close, vote SetComplete. An error leaves at once: no vote, the
  /// connection merely dropped.
  void RunPlainFrame(const std::string& sDsn, const Steps& steps);
  /// As the plain frame, but an error votes SetAbort, closes the connection if open and is raised again
  /// with its five fields; with `ownSource` set, its Source becomes ownSource + CR LF + the previous one.
  void RunGuardedFrame(const std::string& sDsn, const Steps& steps, std::string_view ownSource = {});

  void CopyStandardDataBills(const std::string& sDsn, Connection& cn, std::int32_t lYear,
                             std::int32_t lPeriod, std::int32_t lNextYear, std::int32_t lNextPeriod);
  std::string GetNewBillNumbers(std::int32_t lBillType, bool bMoreBillID, std::int32_t lBillNumber,
                                bool bFlag);

  std::shared_ptr<CParse> parser_;
  std::unique_ptr<cDataSource> dataSource_;
};

}  // namespace closewright
