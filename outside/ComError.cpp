#include "outside/ComError.h"

#include <cstdio>

namespace closewright {
namespace {

const char* RuntimeMessage(std::int32_t number) {
  switch (number) {
    case error_number::kInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case error_number::kOverflow:
      return "Overflow";
    case error_number::kSubscriptOutOfRange:
      return "Subscript out of range";
    case error_number::kTypeMismatch:
      return "Type mismatch";
    case 91:
      return "Object variable or With block variable not set";
    case error_number::kInvalidUseOfNull:
      return "Invalid use of Null";
    case error_number::kCannotCreateObject:
      return "ActiveX component can't create object";
    case error_number::kMemberNotSupported:
      return "Object doesn't support this property or method";
    case error_number::kArgumentNotOptional:
      return "Argument not optional";
    case error_number::kKeyAlreadyAssociated:
      return "This key is already associated with an element of this collection";
    default:
      return "Application-defined or object-defined error";
  }
}

}  // namespace

ComError::ComError(std::int32_t number, std::string source, std::string description, std::string helpFile,
                   std::int32_t helpContext)
    : number_(number),
      source_(std::move(source)),
      description_(std::move(description)),
      helpFile_(std::move(helpFile)),
      helpContext_(helpContext) {}

ComError ComError::Runtime(std::int32_t number, std::string source) {
  // The language runtime names the running project as the source of its own errors.
  if (source.empty()) source = "Closewright";
  return ComError(number, std::move(source), RuntimeMessage(number));
}

ComError ComError::Database(std::int32_t number, std::string provider, std::string message,
                            std::string sqlState, std::int32_t nativeError, std::string failingText) {
  ComError error(number, std::move(provider), std::move(message));
  error.sqlState_ = std::move(sqlState);
  error.nativeError_ = nativeError;
  error.failingText_ = std::move(failingText);
  return error;
}

std::string ComError::ToLine() const {
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<std::uint32_t>(number_));
  std::string line =
      "error " + std::to_string(number_) + " (0x" + hex + ") from " + source_ + ": " + description_;
  // One line: a composed Source or a server message may hold line breaks.
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return line;
}

}  // namespace closewright
