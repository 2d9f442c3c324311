#include "outside/numbering/Numerist.h"

#include <array>
#include <cstdio>
#include <limits>
#include <memory>

#include "outside/Ado.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "parse/CParse.h"

namespace closewright {
namespace {

constexpr DispatchId kGetNewBillIdMember = 1;
constexpr std::array kNumeristMembers{DispatchMember{"GetNewBillID", kGetNewBillIdMember}};

constexpr const char* kSource = "Numerist.clsNumerist";

// SQL Server's "Invalid object name": the counter table does not exist yet.
constexpr std::int32_t kInvalidObjectName = 208;

// The texts the component sends; plain SQL that SQL Server and the embedded provider both run.
constexpr std::string_view kCreateCounterTable =
    R"(CREATE TABLE t_BillNoCounter (FBillType INT NOT NULL PRIMARY KEY, FCurrentNo INT NOT NULL))";

std::string AdvanceCounterText(std::int32_t billType, std::int32_t count) {
  return "UPDATE t_BillNoCounter SET FCurrentNo=FCurrentNo+" + std::to_string(count) +
         " WHERE FBillType=" + std::to_string(billType);
}

std::string ReadCounterText(std::int32_t billType) {
  return "SELECT FCurrentNo FROM t_BillNoCounter WHERE FBillType=" + std::to_string(billType);
}

std::string InsertCounterText(std::int32_t billType, std::int32_t count) {
  return "INSERT INTO t_BillNoCounter (FBillType,FCurrentNo) VALUES (" + std::to_string(billType) + "," +
         std::to_string(count) + ")";
}

Variant CallMember(Dispatch& object, std::string_view name, Variant argument) {
  std::array arguments{std::move(argument)};
  return object.InvokeByName(name, arguments);
}

// A request value, or Empty when the request lacks the key.
Variant RequestValue(Dispatch& request, std::string_view key) {
  if (!CallMember(request, "Exists", std::string(key)).ToBoolean()) return {};
  return CallMember(request, "Item", std::string(key));
}

std::shared_ptr<Dispatch> RequiredObject(const Variant& value, std::string_view what) {
  std::shared_ptr<Dispatch> object = value.IsObject() ? value.ToObject() : nullptr;
  if (!object) {
    throw ComError(error_number::kTypeMismatch, kSource,
                   "The " + std::string(what) + " must be a dictionary.");
  }
  return object;
}

ComError CounterExhausted(std::int32_t billType) {
  return ComError(error_number::kOverflow, kSource,
                  "The number counter of bill type " + std::to_string(billType) + " has run out of numbers.");
}

// The counter's value; the column is an INT, but a provider that does not enforce that could hand back more.
std::int64_t CounterValue(const Recordset& counter, std::int32_t billType) {
  const double value = counter.GetFields().Item("FCurrentNo").Value().ToDouble();
  if (value < 0.0 || value > std::numeric_limits<std::int32_t>::max()) throw CounterExhausted(billType);
  return static_cast<std::int64_t>(value);
}

// Returns the first of `count` consecutive numbers. With `useUp` the counter is advanced first (the update
// takes the row's write lock, so the value read back afterwards is ours alone); without it the next numbers
// are only shown.
std::int64_t DrawNumbers(Connection& cn, std::int32_t billType, std::int32_t count, bool useUp) {
  if (useUp) {
    try {
      cn.Execute(AdvanceCounterText(billType, count));
    } catch (const ComError& error) {
      if (error.NativeError() != kInvalidObjectName) throw;
      cn.Execute(kCreateCounterTable);
    }
  }
  Recordset counter;
  counter.SetCursorLocation(kUseClient);
  try {
    counter.Open(ReadCounterText(billType), cn);
  } catch (const ComError& error) {
    if (useUp || error.NativeError() != kInvalidObjectName) throw;
    return 1;
  }
  std::int64_t first = 1;
  if (counter.Eof()) {
    if (useUp) cn.Execute(InsertCounterText(billType, count));
  } else if (useUp) {
    first = CounterValue(counter, billType) - count + 1;
  } else {
    first = CounterValue(counter, billType) + 1;
    if (first - 1 + count > std::numeric_limits<std::int32_t>::max()) throw CounterExhausted(billType);
  }
  counter.Close();
  return first;
}

}  // namespace

std::string FormatBillNumber(std::int32_t billType, std::int64_t counter) {
  char text[48];
  std::snprintf(text, sizeof text, "%d-%06lld", billType, static_cast<long long>(counter));
  return text;
}

std::string Numerist::GetNewBillID(const std::string& propsString, Variant& request, Variant& bFlag,
                                   Variant& result) {
  std::string firstNumber;
  // The component takes part in its caller's transaction, or runs in one of its own.
  RunInObjectContext([&] {
    std::shared_ptr<Dispatch> requestObject = RequiredObject(request, "request");
    const Variant billTypeValue = RequestValue(*requestObject, "FBillType");
    if (billTypeValue.IsEmpty() || billTypeValue.IsNull()) {
      throw ComError(error_number::kInvalidProcedureCall, kSource,
                     "The request names no bill type (FBillType).");
    }
    const std::int32_t billType = billTypeValue.ToLong();
    const bool moreBillId = RequestValue(*requestObject, "MoreBillID").ToBoolean();
    const Variant autoUpdate = RequestValue(*requestObject, "AutoUpdateCurNo");
    const bool useUp = autoUpdate.IsEmpty() || autoUpdate.ToBoolean();
    std::int32_t count = 1;
    std::shared_ptr<Dispatch> resultObject;
    if (moreBillId) {
      const Variant countValue = RequestValue(*requestObject, "BillNumber");
      if (!countValue.IsEmpty()) count = countValue.ToLong();
      if (count < 1) {
        throw ComError(
            error_number::kInvalidProcedureCall, kSource,
            "The request asks for " + std::to_string(count) + " bill numbers; at least one is needed.");
      }
      resultObject = RequiredObject(result, "result");
    }

    CParse parser;
    parser.ParseString(propsString);
    Connection cn;
    cn.SetCursorLocation(kUseClient);
    cn.SetCommandTimeout(0);
    cn.Open(parser.ConStr());
    const std::int64_t first = DrawNumbers(cn, billType, count, useUp);
    cn.Close();

    if (resultObject) {
      for (std::int32_t i = 0; i < count; ++i) {
        const std::string key = std::to_string(i + 1);
        if (CallMember(*resultObject, "Exists", key).ToBoolean()) CallMember(*resultObject, "Remove", key);
        std::array<Variant, 2> entry{Variant(key), Variant(FormatBillNumber(billType, first + i))};
        resultObject->InvokeByName("Add", entry);
      }
    }
    firstNumber = FormatBillNumber(billType, first);
    bFlag = Variant(true);
  });
  return firstNumber;
}

DispatchId Numerist::GetIDOfName(std::string_view name) {
  return FindDispatchMember(kNumeristMembers, name);
}

Variant Numerist::Invoke(DispatchId id, std::span<Variant> arguments) {
  if (id != kGetNewBillIdMember) throw ComError::Runtime(error_number::kMemberNotSupported, kSource);
  const std::string propsString = RequiredArgument(arguments, 0).ToString();
  return GetNewBillID(propsString, RequiredArgument(arguments, 1), RequiredArgument(arguments, 2),
                      RequiredArgument(arguments, 3));
}

void RegisterNumberingComponent(ClassRegistry& registry) {
  registry.Register(std::string(kNumberingProgId), [] { return std::make_shared<Numerist>(); });
}

}  // namespace closewright
