#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "outside/Ado.h"
#include "outside/Variant.h"

namespace closewright {

class CParse;
class Dictionary;
class SharedPropertyGroup;

/// Opens the connections of a call from the parsed description, prepared one fixed way (client cursors,
/// no command time-out, a fixed isolation level), and answers questions about the database system.
///
/// Facts about the database system come from two process-wide shared property groups keyed by the DBMS name
/// and version the description states (not by server or database): "<name><version>DataSource" and
/// "<name><version>DataTypeInfo". Each is filled on first use and kept until the process ends.
class cDataSource {
 public:
  void SetParseObject(std::shared_ptr<CParse> parser) { parseObject_ = std::move(parser); }
  const std::shared_ptr<CParse>& ParseObject() const noexcept { return parseObject_; }

  /// A new open connection, isolation read committed. Each call opens another; the caller owns it.
  std::unique_ptr<Connection> GetConnection() const;
  /// A new open connection, isolation read uncommitted.
  std::unique_ptr<Connection> UnCommittedConnection() const;

  std::string ConnectString() const;
  /// The description's DBMS name (not the cache's).
  std::string DBMSName() const;
  /// True exactly when DBMSName is "Oracle" (case-sensitive).
  bool IsOracle() const { return DBMSName() == "Oracle"; }

  /// The cached provider facts. A fill that fails is not reported: these then give "", False or 0.
  std::string DBMSVersion() const;
  bool MultipleResults() const;
  bool LikeEscapeClause() const;
  bool IEF() const;
  std::int32_t NumericFunctions() const;
  std::int32_t StringFunctions() const;
  std::int32_t SystemFunctions() const;
  std::int32_t DateTimeFunctions() const;
  /// Whether t_SupportedProc lists the name (exact text). Unlike the facts, a failed fill raises its error.
  bool ProcSupported(const std::string& ProcName) const;

  /// Stores every row of t_DataTypeInfo in the group at the position of its FDataType; a later row with
  /// the same code replaces an earlier one. Reads through a connection of its own.
  void LoadDataTypeInfo(SharedPropertyGroup& spmGroup) const;
  /// The type's name with precision and scale filled in, the scale clamped into the type's bounds; "" (and
  /// nothing changed) when Precision exceeds the type's maximum. A type without precision gets its bare name
  /// and Precision and nScale set to 0.
  std::string GetTypeName(std::int32_t DataType, std::int32_t& Precision, std::int32_t& nScale,
                          std::int32_t& ActualType, std::int32_t& ActualSize, std::int32_t& BindType) const;
  /// The actual type code, with the same precision check and scale clamping as GetTypeName, but leaving
  /// Precision as given; 0 (and nothing changed) when Precision exceeds the type's maximum.
  std::int32_t GetActualType(std::int32_t DataType, std::int32_t& Precision, std::int32_t& nScale,
                             std::int32_t& ActualSize, std::int32_t& BindType) const;
  std::int32_t GetBindType(std::int32_t DataType) const;

 private:
  std::unique_ptr<Connection> OpenWithIsolation(const char* isolationStatement) const;
  const CParse& Parser() const;

  std::string GroupNamePrefix() const;
  /// Fills the data-source group; True when the fill completed. Errors of opening the connection and of
  /// reading t_SupportedProc end the fill: raised again when bRaiseError, otherwise reported as swallowed.
  bool LoadDataSourceInfo(bool bRaiseError = false) const;
  /// A cached value, filling the group first unless a fill has completed; Empty when that fill failed
  /// unraised.
  Variant GetDataSourceProperty(const std::string& sPropName, bool bRaiseError) const;
  std::shared_ptr<Dictionary> GetDataTypeInfo(std::int32_t DataType) const;

  std::shared_ptr<CParse> parseObject_;
};

}  // namespace closewright
