#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace closewright {

/// Error numbers the component raises or passes on, as the platform numbers them.
namespace error_number {
inline constexpr std::int32_t kInvalidProcedureCall = 5;
inline constexpr std::int32_t kOverflow = 6;
inline constexpr std::int32_t kSubscriptOutOfRange = 9;
inline constexpr std::int32_t kTypeMismatch = 13;
inline constexpr std::int32_t kInvalidUseOfNull = 94;
inline constexpr std::int32_t kCannotCreateObject = 429;
inline constexpr std::int32_t kMemberNotSupported = 438;
inline constexpr std::int32_t kArgumentNotOptional = 449;
inline constexpr std::int32_t kKeyAlreadyAssociated = 457;
inline constexpr std::int32_t kInitDataEnvFailed = -2147205052;         // 0x80044044
inline constexpr std::int32_t kPeriodDatesUnavailable = -2147205051;    // 0x80044045
inline constexpr std::int32_t kNextPeriodIsClosedPeriod = -2147205050;  // 0x80044046
inline constexpr std::int32_t kRowsOutsidePeriod = -2147205049;         // 0x80044047
inline constexpr std::int32_t kCommandFailed = -2147217900;  // 0x80040E14, as ADO reports a failing command
inline constexpr std::int32_t kOpenFailed = -2147467259;     // 0x80004005, as ADO reports a failed open
inline constexpr std::int32_t kItemNotFound = -2146825023;   // 0x800A0CC1, ADO's "item cannot be found"
inline constexpr std::int32_t kOperationNotAllowed =
    -2146824584;  // 0x800A0E78, ADO: operation on a closed object
inline constexpr std::int32_t kInvalidArgument = -2147024809;  // 0x80070057, E_INVALIDARG
inline constexpr std::int32_t kTransactionAborted =
    -2147164158;  // 0x8004E002, as COM+'s CONTEXT_E_ABORTED: the transaction rolled back
inline constexpr std::int32_t kOutcomeUnknown =
    -2147164157;  // 0x8004E003: the commit's outcome could not be learnt (never inside COM+,
                  // where the number is CONTEXT_E_ABORTING and the library does not commit)
}  // namespace error_number

/// The one error type of the library: the five fields a COM error carries and, for database errors, what a
/// DBA needs to act on it.
class ComError : public std::exception {
 public:
  ComError(std::int32_t number, std::string source, std::string description, std::string helpFile = {},
           std::int32_t helpContext = 0);

  /// An error of the language runtime (5, 6, 9, 13, 94, 429, 438, 449, 457) with its standard message.
  static ComError Runtime(std::int32_t number, std::string source = {});

  /// A database error as ADO shows it: HRESULT-style number, the provider as Source, the server's message.
  static ComError Database(std::int32_t number, std::string provider, std::string message,
                           std::string sqlState, std::int32_t nativeError, std::string failingText);

  std::int32_t Number() const noexcept { return number_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }
  const std::string& HelpFile() const noexcept { return helpFile_; }
  std::int32_t HelpContext() const noexcept { return helpContext_; }

  const std::string& SqlState() const noexcept { return sqlState_; }
  std::int32_t NativeError() const noexcept { return nativeError_; }
  const std::string& FailingText() const noexcept { return failingText_; }
  /// Line within the failing text where the failing statement starts (1-based); 0 when unknown.
  std::int32_t FailingLine() const noexcept { return failingLine_; }

  void SetSource(std::string source) { source_ = std::move(source); }
  void SetFailingLine(std::int32_t line) noexcept { failingLine_ = line; }

  const char* what() const noexcept override { return description_.c_str(); }

  /// "error <Number> (0x<hex>) from <Source>: <Description>", the form the command line prints.
  std::string ToLine() const;

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
  std::string helpFile_;
  std::int32_t helpContext_;
  std::string sqlState_;
  std::int32_t nativeError_ = 0;
  std::string failingText_;
  std::int32_t failingLine_ = 0;
};

}  // namespace closewright
