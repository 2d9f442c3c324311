#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "outside/ComError.h"
#include "parse/CParse.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::ErrorNumberOf;

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs Parse(const std::string& text) {
  CParse parser;
  EXPECT_TRUE(parser.ParseString(text));
  return parser.Pairs();
}

TEST(CParse, WorkedExamplesGiveTheDocumentedPairs) {
  EXPECT_EQ(Parse("a=1;b=2"), (Pairs{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(Parse("a = 1 ; b=2;"), (Pairs{{"a", "1"}, {"b", "2"}}));
  EXPECT_EQ(Parse("k={x=1;y=2} ;m=3"), (Pairs{{"k", "x=1;y=2"}, {"m", "3"}}));
  EXPECT_EQ(Parse("k={abc}def;m=3"), (Pairs{{"k", "abc"}, {"m", "3"}}));
  EXPECT_EQ(Parse("k={abc"), (Pairs{{"k", "abc"}}));
  EXPECT_EQ(Parse("k=1;m"), (Pairs{{"k", "1"}, {"m", ""}}));
  EXPECT_EQ(Parse("k=1;;m=2"), (Pairs{{"k", "1"}, {";m", "2"}}));
  EXPECT_EQ(Parse("k=1;=2;m=3"), (Pairs{{"k", "1"}}));
  EXPECT_EQ(Parse(""), Pairs{});
  EXPECT_EQ(Parse("=x;a=1"), Pairs{});
  EXPECT_EQ(Parse("k={ spaced value };"), (Pairs{{"k", "spaced value"}}));
}

TEST(CParse, RepeatedKeyRaises457AfterStoringEarlierPairs) {
  CParse parser;
  EXPECT_EQ(ErrorNumberOf([&] { parser.ParseString("a=1;A=2"); }), 457);
  EXPECT_EQ(parser.Pairs(), (Pairs{{"a", "1"}}));
  EXPECT_EQ(parser.PropsString(), "a=1;A=2");
}

TEST(CParse, SecondParseStartsFromAnEmptyCollection) {
  CParse parser;
  parser.ParseString("ConnectString={x};DBMS Name=SQL Server");
  parser.ParseString("a=1");
  EXPECT_EQ(ErrorNumberOf([&] { parser.ConStr(); }), 5);
  EXPECT_EQ(parser.GetProperty("A"), "1");
}

TEST(CParse, PropertiesAreFoundWithoutRegardToCase) {
  CParse parser;
  parser.ParseString(
      "connectstring={Provider=Closewright.SQLite;Data Source=x.db} ; dbms name=SQL Server;DBMS VERSION=8.0;"
      "UserName=ann;LANGUAGE=chs");
  EXPECT_EQ(parser.ConStr(), "Provider=Closewright.SQLite;Data Source=x.db");
  EXPECT_EQ(parser.ConDBMSName(), "SQL Server");
  EXPECT_EQ(parser.ConDBMSVersion(), "8.0");
  EXPECT_EQ(parser.UserName(), "ann");
  EXPECT_EQ(parser.LanguageID(), "chs");
}

TEST(CParse, AbsentKeyRaises5) {
  CParse parser;
  parser.ParseString("a=1");
  EXPECT_EQ(ErrorNumberOf([&] { parser.ConStr(); }), 5);
  EXPECT_EQ(ErrorNumberOf([&] { parser.IsIndustry(); }), 5);
}

TEST(CParse, UserIdConvertsLikeThePlatform) {
  auto userId = [](const std::string& value) {
    CParse parser;
    parser.ParseString("UserID=" + value);
    return parser.UserID();
  };
  EXPECT_EQ(userId(" 42 "), 42);
  EXPECT_EQ(userId("-7"), -7);
  EXPECT_EQ(ErrorNumberOf([&] { userId("abc"); }), 13);
  EXPECT_EQ(ErrorNumberOf([&] { userId(""); }), 13);
  EXPECT_EQ(ErrorNumberOf([&] { userId("99999999999"); }), 6);
}

TEST(CParse, IsIndustryOnlyForGyInAnyCase) {
  for (const auto& [value, expected] : std::vector<std::pair<std::string, bool>>{
           {"gy", true}, {"Gy", true}, {"GY", true}, {"GYX", false}, {"", false}, {"sy", false}}) {
    CParse parser;
    parser.ParseString("AcctType=" + value);
    EXPECT_EQ(parser.IsIndustry(), expected) << value;
  }
}

}  // namespace
}  // namespace closewright
