#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <thread>

#include "close/CCloseData.h"
#include "outside/CivilDate.h"
#include "outside/ComError.h"
#include "outside/Database.h"
#include "outside/Dictionary.h"
#include "outside/ScaledNumber.h"
#include "outside/SharedProperty.h"
#include "outside/Text.h"
#include "outside/Variant.h"
#include "registration/Identifiers.h"
#include "registration/ServerEntryPoints.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::ErrorNumberOf;

TEST(Variant, ConvertsToLongAsThePlatformDoes) {
  EXPECT_EQ(Variant(" 12 ").ToLong(), 12);
  EXPECT_EQ(Variant(2.5).ToLong(), 2);  // banker's rounding
  EXPECT_EQ(Variant(3.5).ToLong(), 4);
  EXPECT_EQ(Variant(true).ToLong(), -1);
  EXPECT_EQ(Variant().ToLong(), 0);
  EXPECT_EQ(Variant("&H10").ToLong(), 16);
  EXPECT_EQ(ErrorNumberOf([] { Variant("12abc").ToLong(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { Variant("nan").ToLong(); }), 13);
  EXPECT_EQ(ErrorNumberOf([] { Variant("2147483648").ToLong(); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { Variant(-2147483649.0).ToLong(); }), 6);
  EXPECT_EQ(ErrorNumberOf([] { Variant::Null().ToLong(); }), 94);
}

TEST(Variant, ConvertsToBooleanAndText) {
  EXPECT_TRUE(Variant("true").ToBoolean());
  EXPECT_FALSE(Variant("False").ToBoolean());
  EXPECT_TRUE(Variant("-1").ToBoolean());
  EXPECT_FALSE(Variant("0").ToBoolean());
  EXPECT_EQ(ErrorNumberOf([] { Variant("maybe").ToBoolean(); }), 13);
  EXPECT_EQ(Variant(true).ToString(), "True");
  EXPECT_EQ(Variant(2011.0003).ToString(), "2011.0003");
  EXPECT_EQ(Variant(MakeDate(2011, 4, 1)).ToString(), "2011-04-01");
  EXPECT_EQ(ErrorNumberOf([] { Variant::Null().ToString(); }), 94);
}

Decimal DecimalOf(const char* text) {
  return Decimal::Parse(text).value;
}

// The exact kinds keep every digit a double would lose, and convert to the others as a Double does: Long
// rounds half to even on the exact digits and overflows with error 6, text keeps the scale.
TEST(Variant, ExactNumbersKeepTheirDigitsAndConvertAsTheOtherNumbers) {
  const Variant big(std::int64_t{9007199254740993});
  EXPECT_EQ(big.Type(), VariantType::LongLong);
  EXPECT_EQ(big.ToString(), "9007199254740993");
  EXPECT_EQ(big.ToLongLong(), 9007199254740993);
  EXPECT_EQ(big.ToDouble(), 9007199254740992.0);
  EXPECT_EQ(ErrorNumberOf([&] { big.ToLong(); }), 6);
  EXPECT_EQ(Variant(std::int64_t{-2147483648}).ToLong(), -2147483647 - 1);
  EXPECT_EQ(Variant("9007199254740993").ToLongLong(), 9007199254740993);

  const Variant money(DecimalOf("2.5000"));
  EXPECT_EQ(money.Type(), VariantType::Decimal);
  EXPECT_EQ(money.ToString(), "2.5000");
  EXPECT_EQ(money.ToDouble(), 2.5);
  EXPECT_EQ(money.ToLong(), 2);
  EXPECT_EQ(Variant(DecimalOf("3.5")).ToLong(), 4);
  EXPECT_EQ(Variant(DecimalOf("-2.5")).ToLong(), -2);
  EXPECT_EQ(Variant(DecimalOf("2.50000000000000000001")).ToLong(), 3);  // a double would say 2.5
  EXPECT_EQ(Variant(DecimalOf("-0.5")).ToLong(), 0);
  EXPECT_EQ(ErrorNumberOf([] { Variant(DecimalOf("2147483647.5")).ToLong(); }), 6);
  EXPECT_EQ(Variant(DecimalOf("-2147483648.4")).ToLong(), -2147483647 - 1);
  EXPECT_EQ(ErrorNumberOf([] { Variant(DecimalOf("99999999999999999999")).ToLongLong(); }), 6);
  EXPECT_EQ(Variant(DecimalOf("0.1234567890123456789")).ToString(), "0.1234567890123456789");
  EXPECT_FALSE(Variant(DecimalOf("0.00")).ToBoolean());

  // Equal values are equal whatever their scales; a Decimal is no Double.
  EXPECT_EQ(money, Variant(DecimalOf("2.5")));
  EXPECT_FALSE(money == Variant(2.5));
  EXPECT_EQ(Variant(2.5).ToDecimal().ToString(), "2.5");
  EXPECT_EQ(Variant(" 12.340 ").ToDecimal().ToString(), "12.340");
  EXPECT_EQ(ErrorNumberOf([] { Variant("12x").ToDecimal(); }), 13);

  // A literal of the value, and the value at a column's scale, keep the digits.
  EXPECT_EQ(SqlLiteral(Variant(DecimalOf("-123.4500"))), "-123.4500");
  EXPECT_EQ(SqlLiteral(big), "9007199254740993");
  EXPECT_EQ(FormatAtScale(money, 4), "2.5000");
  EXPECT_EQ(FormatAtScale(big, 0), "9007199254740993");
}

TEST(Variant, FormatsDoublesInTheShortestFormUpTo15Digits) {
  EXPECT_EQ(FormatDouble(2011 + 0.0001 * 3), "2011.0003");
  EXPECT_EQ(FormatDouble(2011 + 0.0001 * 10), "2011.001");
  EXPECT_EQ(FormatDouble(2011 + 0.0001 * 12), "2011.0012");
  EXPECT_EQ(FormatDouble(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatDouble(0.0), "0");
}

// A client shows an exact number at its column's scale, from the digits that went in: a double's binary
// neighbour of 9.995 must still round up, and a carry may lengthen the whole part or cross zero.
TEST(ScaledNumber, ShowsExactNumbersAtTheirScaleRoundingHalfAwayFromZero) {
  EXPECT_EQ(FormatAtScale(Variant(2.5), 4), "2.5000");
  EXPECT_EQ(FormatAtScale(Variant(9.995), 2), "10.00");
  EXPECT_EQ(FormatAtScale(Variant(-0.125), 2), "-0.13");
  EXPECT_EQ(FormatAtScale(Variant(-0.004), 2), "0.00");
  EXPECT_EQ(FormatAtScale(Variant(123456789012.1234), 10), "123456789012.1234000000");
  EXPECT_EQ(FormatAtScale(Variant(std::int32_t{-7}), 2), "-7.00");
  EXPECT_EQ(FormatAtScale(Variant(2.5), 0), "3");
  EXPECT_EQ(FormatAtScale(Variant(std::string("x")), 2), "x");
}

TEST(Variant, DatesCountDaysFrom1899_12_30) {
  EXPECT_EQ(MakeDate(1899, 12, 30).days, 0.0);
  EXPECT_EQ(MakeDate(1900, 1, 1).days, 2.0);
  EXPECT_EQ(MakeDate(2011, 3, 31).days, 40633.0);
  EXPECT_EQ(FormatDateIso(DateValue{40634.0}), "2011-04-01");
  EXPECT_EQ(FormatDateIso(DateValue{}), "1899-12-30");
  const CalendarParts parts = SplitDate(MakeDate(2012, 2, 29, 13, 45, 7));
  EXPECT_EQ(parts.year, 2012);
  EXPECT_EQ(parts.month, 2);
  EXPECT_EQ(parts.day, 29);
  EXPECT_EQ(parts.hour, 13);
  EXPECT_EQ(parts.minute, 45);
  EXPECT_EQ(parts.second, 7);
  EXPECT_EQ(Variant("2011-03-31").ToDate(), MakeDate(2011, 3, 31));
}

// The platform's dates, the embedded provider's datetime functions and the sample ledger share one count.
TEST(CivilDate, CountsDaysFrom1970AndBackAcrossEveryEra) {
  EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017);
  EXPECT_EQ(DaysFromCivil(1600, 2, 29) + 1, DaysFromCivil(1600, 3, 1));
  EXPECT_EQ(DaysFromCivil(1900, 2, 28) + 1, DaysFromCivil(1900, 3, 1));
  EXPECT_EQ(DaysFromCivil(-1, 12, 31) + 1, DaysFromCivil(0, 1, 1));
  for (std::int64_t days = -800'000; days <= 3'000'000; days += 97) {
    const CivilDate date = CivilFromDays(days);
    ASSERT_EQ(DaysFromCivil(date), days) << date.year << '-' << date.month << '-' << date.day;
    ASSERT_GE(date.month, 1u);
    ASSERT_LE(date.month, 12u);
    ASSERT_GE(date.day, 1u);
    ASSERT_LE(date.day, 31u);
  }
}

TEST(Text, QuotesTrimsAndCountsAsTheSqlTextsNeed) {
  EXPECT_EQ(QuoteSqlText("O'Brien"), "'O''Brien'");
  EXPECT_EQ(QuoteSqlText(""), "''");
  EXPECT_EQ(DoubleQuoteCharacters("a'b''c", '\''), "a''b''''c");
  EXPECT_EQ(EncloseInQuotes("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(TrimSpaces("  a b \t "), "a b \t");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(Utf8CharacterCount("\xE6\x9C\x9F\xE6\x9C\xAB"
                               "a\xC3\xA9"),
            4u);
}

// The provider choice and the ODBC mapping read a connect string alike.
TEST(ConnectString, SplitsAsTheProvidersReadIt) {
  const auto pairs = SplitConnectString(
      " Provider = Closewright.SQLite ;stray;Data Source={a;b}}c};Name='it''s';provider=Other;Empty=;=x");
  ASSERT_EQ(pairs.size(), 4u);
  EXPECT_EQ(ConnectStringValue(pairs, "PROVIDER"), "Other");
  EXPECT_EQ(pairs[0].first, "Provider");
  EXPECT_EQ(ConnectStringValue(pairs, "Data Source"), "a;b}c");
  EXPECT_EQ(ConnectStringValue(pairs, "Name"), "it's");
  EXPECT_EQ(ConnectStringValue(pairs, "Empty"), "");
  EXPECT_FALSE(ConnectStringValue(pairs, "stray"));
  EXPECT_EQ(ConnectStringValue(SplitConnectString("Data Source=ledger.db\r\n"), "Data Source"), "ledger.db");
}

TEST(Dictionary, KeepsInsertionOrderAndRejectsRepeatedAdd) {
  Dictionary dictionary;
  dictionary.Add("b", 2);
  dictionary.Add("a", 1);
  dictionary.SetItem("b", 3);
  EXPECT_EQ(dictionary.Count(), 2);
  EXPECT_EQ(dictionary.Item("b"), Variant(3));
  EXPECT_TRUE(dictionary.Item("absent").IsEmpty());
  EXPECT_FALSE(dictionary.Exists("B"));
  EXPECT_EQ(dictionary.Entries().front().first, "b");
  EXPECT_EQ(ErrorNumberOf([&] { dictionary.Add("a", 9); }), 457);
  std::array<Variant, 2> put{Variant("1"), Variant("X-0001")};
  dictionary.InvokeByName("item", put);
  std::array<Variant, 1> key{Variant("1")};
  EXPECT_EQ(dictionary.InvokeByName("Item", key), Variant("X-0001"));
}

TEST(StringBuilder, CountsCharactersNotBytesAndEmptiesByRemove) {
  StringBuilder builder;
  builder.Append("-- 历史\r\n");
  builder.Append("SELECT 1");
  EXPECT_EQ(builder.Length(), 15);
  EXPECT_EQ(ErrorNumberOf([&] { builder.Remove(1, 16); }), 5);
  builder.Remove(1, builder.Length());
  EXPECT_EQ(builder.Text(), "");
}

TEST(SharedPropertyGroupManager, GroupsAreProcessWideAndPropertiesSharedByNameAndPosition) {
  std::int32_t isolation = kLockSetGet;
  std::int32_t release = kProcess;
  bool existed = true;
  SharedPropertyGroupManager first;
  auto group = first.CreatePropertyGroup("PlatformTestGroup", isolation, release, existed);
  EXPECT_FALSE(existed);
  group->CreateProperty("Connected", existed)->SetValue(true);
  group->CreatePropertyByPosition(4, existed)->SetValue("int");

  SharedPropertyGroupManager second;
  auto again = second.CreatePropertyGroup("PlatformTestGroup", isolation, release, existed);
  EXPECT_TRUE(existed);
  EXPECT_EQ(again->Property("Connected")->Value(), Variant(true));
  EXPECT_EQ(again->PropertyByPosition(4)->Value(), Variant("int"));
  EXPECT_NE(ErrorNumberOf([&] { again->Property("Absent"); }), 0);
  EXPECT_NE(ErrorNumberOf([&] { again->PropertyByPosition(5); }), 0);
}

TEST(SharedPropertyGroupManager, ConcurrentWritersAndReadersSeeWholeValues) {
  std::int32_t isolation = kLockSetGet;
  std::int32_t release = kProcess;
  bool existed = false;
  auto group =
      SharedPropertyGroupManager().CreatePropertyGroup("ConcurrentGroup", isolation, release, existed);
  auto property = group->CreateProperty("Text", existed);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        property->SetValue(std::string(64, static_cast<char>('a' + t)));
        const std::string seen = property->Value().ToString();
        EXPECT_EQ(seen, std::string(64, seen.front()));
      }
    });
  }
  for (auto& thread : threads) thread.join();
}

TEST(ClassRegistry, CreatesByProgIdWithoutRegardToCaseAndRefusesUnknownOnes) {
  EXPECT_NE(CreateObject("closewright.ccloseDATA"), nullptr);
  EXPECT_NE(CreateObject("FiscalTerm.clsFiscalTerm"), nullptr);
  EXPECT_EQ(ErrorNumberOf([] { CreateObject("No.Such.Class"); }), 429);
  auto object = CreateObject("Closewright.CCloseData");
  EXPECT_EQ(object->GetIDOfName("executesql"), 0x60030013);
  EXPECT_EQ(ErrorNumberOf([&] { object->GetIDOfName("DeleteEverything"); }), 438);
}

TEST(ServerIdentity, AnswersTheFiveRevisionsAndCarriesThe80ByteResource) {
  for (const Guid& iid : kInterfaceRevisions) EXPECT_TRUE(AnswersInterface(iid));
  EXPECT_FALSE(AnswersInterface(kClsidCCloseData));
  const auto resource = InterfaceIdResource();
  EXPECT_EQ(resource[0], 80);
  EXPECT_EQ(resource[1] | resource[2] | resource[3], 0);
  // The current interface comes last, Data1 little-endian.
  EXPECT_EQ(resource[4 + 64], 0xA4);
  EXPECT_EQ(resource[4 + 64 + 3], 0x76);
  EXPECT_EQ(ToString(kClsidCCloseData), "{852ABB63-AB2A-4463-B1F6-88D1D6852F1D}");
}

TEST(ServerEntryPoints, HandOutTheClassObjectAndTrackLiveObjects) {
  void* classObject = nullptr;
  EXPECT_EQ(DllGetClassObject(&kIidCCloseData, &kIidIClassFactory, &classObject), kClassNotAvailable);
  ASSERT_EQ(DllGetClassObject(&kClsidCCloseData, &kIidIClassFactory, &classObject), kSOk);
  std::shared_ptr<Dispatch> object;
  auto* factory = static_cast<CloseDataClassObject*>(classObject);
  EXPECT_EQ(factory->CreateInstance(kClsidCCloseData, object), kNoInterface);
  ASSERT_EQ(factory->CreateInstance(kIidCCloseDataV2, object), kSOk);
  EXPECT_EQ(DllCanUnloadNow(), kSFalse);
  object.reset();
  EXPECT_EQ(DllCanUnloadNow(), kSOk);
}

TEST(ComError, PrintsOneLineWithTheNumberInHex) {
  ComError error(-2147205052, "CCloseData.InitDataEnv", "");
  EXPECT_EQ(error.ToLine(), "error -2147205052 (0x80044044) from CCloseData.InitDataEnv: ");
  ComError composed(5, "Calcory.CCloseData.EndOpCostHistoryData\r\nClosewright", "bad\nthing");
  EXPECT_EQ(composed.ToLine(),
            "error 5 (0x00000005) from Calcory.CCloseData.EndOpCostHistoryData  Closewright: bad thing");
}

}  // namespace
}  // namespace closewright
