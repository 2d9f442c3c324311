// SQL Server's answers the embedded provider must give, for exact numbers and text comparisons: each case
// gives the server's documented answer and where it is documented. Pages cited, all on learn.microsoft.com:
//   [PSL]  "Precision, scale, and length (Transact-SQL)"
//   [DEC]  "decimal and numeric (Transact-SQL)"
//   [CAST] "CAST and CONVERT (Transact-SQL)", section "Truncating and rounding results"
//   [INT]  "int, bigint, smallint, and tinyint (Transact-SQL)"
//   [SUM]  "SUM (Transact-SQL)", [AVG] "AVG (Transact-SQL)", [ISNULL] "ISNULL (Transact-SQL)"
//   [ID]   "@@IDENTITY (Transact-SQL)", "IDENTITY (Property) (Transact-SQL)"
//   [DT]   "datetime (Transact-SQL)", section "Rounding of datetime fractional second precision"
//   [SDT]  "smalldatetime (Transact-SQL)", [DATE] "date (Transact-SQL)", [DT2] "datetime2 (Transact-SQL)"
//   [ERR]  "Database engine events and errors": 296, 529
//   [CASE] "CASE (Transact-SQL)", "Return types"; [ROUND] "ROUND (Transact-SQL)"
//   [PREC] "Data type precedence (Transact-SQL)"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "outside/ComError.h"
#include "outside/Decimal.h"
#include "outside/sqlite/NumberConversion.h"
#include "outside/sqlite/SqlServerTypes.h"
#include "outside/sqlite/SqliteProvider.h"
#include "support/TestDatabase.h"

namespace closewright::sqlite {
namespace {

Decimal Exact(const char* text) {
  const Decimal::ParseResult parsed = Decimal::Parse(text);
  EXPECT_EQ(parsed.status, Decimal::ParseStatus::Ok) << text;
  return parsed.value;
}

std::string TypeText(NumericType t) {
  return t.Name() + "(" + std::to_string(t.precision) + "," + std::to_string(t.scale) + ")";
}

const NumericType kDecimal2810 = NumericType::DecimalOf(28, 10);
const NumericType kMoney = NumericType::Of(NumericKind::Money);
const NumericType kInt = NumericType::Of(NumericKind::Int);

TEST(SqlServerNumberTypes, LiteralsAndResultsAreTypedByTheServersRules) {
  // [PSL] "the number 123.45 has a precision of 5 and a scale of 2"; a whole number beyond int is numeric.
  EXPECT_EQ(TypeText(*LiteralType("123.45")), "numeric(5,2)");
  EXPECT_EQ(TypeText(*LiteralType("0.05")), "numeric(2,2)");
  EXPECT_EQ(TypeText(*LiteralType("5")), "int(10,0)");
  EXPECT_EQ(TypeText(*LiteralType("3000000000")), "numeric(10,0)");
  EXPECT_EQ(LiteralType("1.5E3")->kind, NumericKind::Float);
  EXPECT_FALSE(LiteralType("1.2.3"));

  // [PSL] the table of result precision and scale.
  const NumericType d52 = NumericType::DecimalOf(5, 2);
  const NumericType d31 = NumericType::DecimalOf(3, 1);
  EXPECT_EQ(TypeText(ResultType(d52, ArithmeticOperator::Add, d31)), "numeric(6,2)");
  EXPECT_EQ(TypeText(ResultType(d52, ArithmeticOperator::Multiply, d31)), "numeric(9,3)");
  EXPECT_EQ(TypeText(ResultType(d52, ArithmeticOperator::Divide, d31)), "numeric(10,6)");
  EXPECT_EQ(TypeText(ResultType(d52, ArithmeticOperator::Modulo, d31)), "numeric(4,2)");
  // An int operand counts as decimal(10,0) beside a decimal.
  EXPECT_EQ(TypeText(ResultType(kInt, ArithmeticOperator::Divide, d31)), "numeric(17,6)");
  // [PSL] above 38 digits the integral part is kept: decimal(28,10) / decimal(28,10) is decimal(38,10), the
  // type of the price the close divides; with more than 32 integral digits the scale falls to 6.
  EXPECT_EQ(TypeText(ResultType(kDecimal2810, ArithmeticOperator::Divide, kDecimal2810)), "numeric(38,10)");
  EXPECT_EQ(TypeText(ResultType(NumericType::DecimalOf(38, 2), ArithmeticOperator::Multiply,
                                NumericType::DecimalOf(38, 10))),
            "numeric(38,6)");
  // Data type precedence: money over int, decimal over money; integers are computed in int at least.
  EXPECT_EQ(ResultType(kInt, ArithmeticOperator::Divide, kMoney).kind, NumericKind::Money);
  EXPECT_EQ(ResultType(kMoney, ArithmeticOperator::Add, d52).kind, NumericKind::Decimal);
  EXPECT_EQ(ResultType(NumericType::Of(NumericKind::TinyInt), ArithmeticOperator::Add,
                       NumericType::Of(NumericKind::TinyInt))
                .kind,
            NumericKind::Int);
  // [SUM], [AVG]
  EXPECT_EQ(TypeText(SumType(kDecimal2810)), "numeric(38,10)");
  EXPECT_EQ(TypeText(AverageType(NumericType::DecimalOf(10, 2))), "numeric(38,6)");
  EXPECT_EQ(SumType(NumericType::Of(NumericKind::SmallInt)).kind, NumericKind::Int);
}

TEST(SqlServerNumberArithmetic, IsExactAndRoundsHalfAwayFromZeroAtTheResultScale) {
  // SELECT 0.1 + 0.2 - 0.3 is 0.0 on the server: decimal(2,1) operands, exact.
  const NumericType d21 = NumericType::DecimalOf(2, 1);
  const NumericType sum = ResultType(d21, ArithmeticOperator::Add, d21);
  const NumericType difference = ResultType(sum, ArithmeticOperator::Subtract, d21);
  const auto partial = Decimal::Add(Exact("0.1"), Exact("0.2"), sum.scale);
  EXPECT_EQ(Decimal::Subtract(*partial, Exact("0.3"), difference.scale)->ToString(), "0.0");
  // DECLARE @m MONEY = 2 SELECT 5/@m is 2.5000: the result is money.
  EXPECT_EQ(Decimal::Divide(Exact("5"), Exact("2.0000"), kMoney.scale)->ToString(), "2.5000");
  // [PSL] division keeps s = max(6, s1 + p2 + 1) places, and the server cuts the quotient off there: 1.67574
  // / 10000 is 0.000167 at decimal(38,6), not 0.000168.
  EXPECT_EQ(Decimal::Divide(Exact("2"), Exact("3"), 6, Decimal::Cut::Truncate)->ToString(), "0.666666");
  EXPECT_EQ(Decimal::Divide(Exact("-2"), Exact("3"), 6, Decimal::Cut::Truncate)->ToString(), "-0.666666");
  EXPECT_EQ(Decimal::Divide(Exact("2"), Exact("3"), 6)->ToString(), "0.666667");
  EXPECT_EQ(Decimal::Modulo(Exact("-7.5"), Exact("2"))->ToString(), "-1.5");
  // 38 digits are the limit [DEC]; the 39-digit product overflows instead of losing digits.
  EXPECT_FALSE(Decimal::Multiply(Exact("12345678901234567890.123"), Exact("98765432109876543210.5"), 4));
  EXPECT_EQ(Decimal::Parse("123456789012345678901234567890123456789").status,
            Decimal::ParseStatus::TooManyDigits);
  EXPECT_EQ(Exact("123456789012345678.1234567891").ToString(), "123456789012345678.1234567891");
  EXPECT_EQ(Compare(Exact("1.50"), Exact("1.5")), 0);
  EXPECT_LT(Compare(Exact("-2"), Exact("-1.99")), 0);
}

TEST(SqlServerNumberConversion, StoresAtTheTargetScaleOrRaisesTheServersOverflow) {
  auto stored = [](const char* value, NumericType target) {
    const ConversionResult r = ConvertExact(Exact(value), target, false);
    if (r.error) return std::to_string(r.error->number);
    if (r.value.isInteger) return std::to_string(r.value.integer);
    return Decimal::FromDouble(r.value.real)->Rescaled(target.scale)->ToString();
  };
  // [DEC] values are rounded to the column's scale; [CAST] CAST(2.5 AS DECIMAL(5,0)) rounds to 3, and a
  // conversion to int truncates.
  EXPECT_EQ(stored("123.456", NumericType::DecimalOf(5, 2)), "123.46");
  EXPECT_EQ(stored("-123.455", NumericType::DecimalOf(5, 2)), "-123.46");
  EXPECT_EQ(stored("2.5", NumericType::DecimalOf(5, 0)), "3");
  EXPECT_EQ(stored("2.7", kInt), "2");
  EXPECT_EQ(stored("-2.7", kInt), "-2");
  EXPECT_EQ(stored("7", NumericType::Of(NumericKind::Bit)), "1");
  // 99.995 rounds to 100.00, which decimal(4,2) cannot hold: 8115.
  EXPECT_EQ(stored("99.995", NumericType::DecimalOf(4, 2)), "8115");
  // [INT] ranges; 220 names the small types and the value, 8115 the others.
  const ConversionResult tiny = ConvertExact(Exact("300"), NumericType::Of(NumericKind::TinyInt), true);
  ASSERT_TRUE(tiny.error);
  EXPECT_EQ(tiny.error->message, "Arithmetic overflow error for data type tinyint, value = 300.");
  const ConversionResult wide = ConvertExact(Exact("3000000000"), kInt, true);
  ASSERT_TRUE(wide.error);
  EXPECT_EQ(wide.error->message, "Arithmetic overflow error converting expression to data type int.");
  EXPECT_EQ(stored("-1", NumericType::Of(NumericKind::TinyInt)), "8115");
  // What a double cannot give back exactly is refused, never stored as a neighbour.
  const ConversionResult refused = ConvertExact(Exact("123456789012345678.1234567891"), kDecimal2810, false);
  ASSERT_TRUE(refused.error);
  EXPECT_EQ(refused.error->sqlState, "HYC00");
  EXPECT_NE(refused.error->message.find("123456789012345678.1234567891"), std::string::npos);
  // Prices up to hundreds of thousands keep all ten places.
  EXPECT_EQ(stored("176366.98428571428", kDecimal2810), "176366.9842857143");
}

// The same rules where they reach a ledger: stored columns, variables, CAST, and the refusal of what the
// engine cannot hold.
class SqlServerAnswersInTheEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", ":memory:"}});
    session_->Execute(
        "CREATE TABLE N (FID INT IDENTITY(1,1) PRIMARY KEY, FPrice DECIMAL(5,2) NULL, FAmount DECIMAL(28,10) "
        "NULL, FSmall TINYINT NULL, FCount INT NULL, FFlag BIT NULL, FCash MONEY NULL)");
  }
  // The first column of the first row, as the exact decimal the double stands for.
  std::string Value(const std::string& query) {
    const ResultTable result = session_->Query(query);
    const Variant& v = result.rows.at(0).at(0);
    if (v.IsNull()) return "NULL";
    return Decimal::FromDouble(v.ToDouble())->ToString();
  }
  std::unique_ptr<DatabaseSession> session_;
};

TEST_F(SqlServerAnswersInTheEngine, StoresVariablesAndCastsAtTheTypesScale) {
  // [DEC] "values are rounded to the column's scale" in INSERT and UPDATE alike.
  session_->Execute("INSERT INTO N (FPrice, FSmall, FCount, FFlag) VALUES (123.456, 200, 7, 7)");
  EXPECT_EQ(Value("SELECT FPrice FROM N"), "123.46");
  EXPECT_EQ(Value("SELECT CAST(FFlag AS INT) FROM N"), "1");
  session_->Execute("UPDATE N SET FPrice = FPrice / 3, FCount = 2.7, FAmount = 1234.5678 / 7");
  EXPECT_EQ(Value("SELECT FPrice FROM N"), "41.15");
  EXPECT_EQ(Value("SELECT FCount FROM N"), "2");
  EXPECT_EQ(Value("SELECT FAmount FROM N"), "176.3668285714");
  // [CAST] rounding to a decimal, truncation to an integer.
  EXPECT_EQ(Value("SELECT CAST(2.5 AS DECIMAL(5,0))"), "3");
  EXPECT_EQ(Value("SELECT CAST(-2.5 AS NUMERIC(5,0))"), "-3");
  EXPECT_EQ(Value("SELECT CONVERT(INT, 2.99)"), "2");
  // A variable holds what its type holds: 5/@m divides by money, not by the integer 2.
  EXPECT_EQ(Value("DECLARE @m MONEY = 2 SELECT 5/@m"), "2.5");
  EXPECT_EQ(Value("DECLARE @d DECIMAL(5,2) SET @d = 123.456 SELECT @d"), "123.46");
}

// Every expression has a type before it runs [PSL]: literals, variables and the columns of the statement's
// tables type the arithmetic on them, and the result is computed at that type.
TEST_F(SqlServerAnswersInTheEngine, ExpressionsAreComputedAtTheTypesTheServerGivesThem) {
  // decimal(2,1) + decimal(2,1) - decimal(2,1) is exact: 0.0, where doubles leave 5.55E-17.
  EXPECT_EQ(Value("SELECT 0.1 + 0.2 - 0.3"), "0");
  // int / decimal(2,1) is decimal(17,6), cut off at six places.
  EXPECT_EQ(Value("SELECT 2 / 3.0"), "0.666666");
  EXPECT_EQ(Value("DECLARE @d DECIMAL(5,2) = 1 SELECT @d / 3 + 1"), "1.3333333333333");
  // The close's price: decimal(28,10) / decimal(29,10) is decimal(38,10), so 2/3 is stored as 0.6666666666.
  session_->Execute("INSERT INTO N (FAmount, FCount, FPrice) VALUES (2, 2000000000, NULL)");
  session_->Execute("UPDATE N SET FAmount = FAmount / (FAmount + 1)");
  EXPECT_EQ(Value("SELECT FAmount FROM N"), "0.6666666666");
  // [INT] int arithmetic stays int and overflows beyond it, on columns and variables alike; bigint goes on.
  for (const char* batch :
       {"SELECT 2147483647 + 1", "SELECT FCount + FCount FROM N", "DECLARE @i INT = 65536 SELECT @i * @i",
        "SELECT SUM(n.FCount) FROM N n, (SELECT 1 AS k UNION ALL SELECT 2) m"}) {
    const ComError error = testing::FailureOf(*session_, batch);
    EXPECT_EQ(error.NativeError(), 8115) << batch << ": " << error.Description();
  }
  EXPECT_EQ(Value("SELECT CAST(FCount AS BIGINT) * 2 FROM N"), "4000000000");
  // [ISNULL] the replacement takes the checked value's type: int, so 2.5 becomes 2.
  EXPECT_EQ(Value("SELECT ISNULL(FPrice, 2.999) FROM N"), "3");
  EXPECT_EQ(Value("SELECT ISNULL(FSmall, 2.5) FROM N"), "2");
  // `+` between two text columns joins them [PSL: the length of a concatenation]; a text beside a number
  // is converted to the number.
  session_->Execute(
      "CREATE TABLE T (a VARCHAR(10) NULL, b VARCHAR(10) NULL) INSERT INTO T VALUES ('1', '2')");
  EXPECT_EQ(session_->Query("SELECT a + b FROM T").rows.at(0).at(0).ToString(), "12");
  EXPECT_EQ(Value("SELECT a + 1 FROM T"), "2");
}

// The operands that hide their types from a first look: a CASE, a derived table's column, ROUND. SQLite would
// divide the integer 5 a decimal column holds as integers.
TEST_F(SqlServerAnswersInTheEngine, TypesReachThroughCaseDerivedTablesAndRound) {
  session_->Execute("INSERT INTO N (FAmount, FCount, FSmall) VALUES (5, 5, 200)");
  // [CASE] the highest type of the results: int and decimal(2,1) make decimal(11,1), so 5 / 2 is 2.5.
  EXPECT_EQ(Value("SELECT CASE WHEN FCount > 0 THEN FCount ELSE 2.5 END / 2 FROM N"), "2.5");
  EXPECT_EQ(Value("SELECT CASE WHEN 1 = 1 THEN 0.1 END + 0.2 - 0.3"), "0");
  EXPECT_EQ(Value("SELECT IIF(FCount > 9, NULL, FAmount) / 2 FROM N"), "2.5");
  EXPECT_EQ(
      Value("SELECT CASE WHEN FCount > 0 THEN CASE FSmall WHEN 1 THEN 1 ELSE FAmount END END / 2 FROM N"),
      "2.5");
  // A derived table's columns keep their select list's types.
  EXPECT_EQ(Value("SELECT d.x / 2 FROM (SELECT FAmount AS x, FCount FROM N) d"), "2.5");
  EXPECT_EQ(Value("SELECT x / 2 FROM (SELECT FAmount x FROM N) AS d"), "2.5");
  EXPECT_EQ(Value("SELECT x / 2 FROM (SELECT FCount AS x FROM N) d"), "2");
  // [ROUND] the argument's type, rounded half away from zero or cut off, left of the point when negative.
  EXPECT_EQ(Value("SELECT ROUND(748.58, -1)"), "750");
  EXPECT_EQ(Value("SELECT ROUND(123.9995, 3)"), "124");
  EXPECT_EQ(Value("SELECT ROUND(150.75, 0, 1)"), "150");
  EXPECT_EQ(Value("SELECT ROUND(-2.5, 0)"), "-3");
  EXPECT_EQ(Value("SELECT ROUND(FSmall, -2) FROM N"), "200");
  EXPECT_EQ(testing::FailureOf(*session_, "SELECT ROUND(748.58, -3)").NativeError(), 8115);
  EXPECT_EQ(Value("SELECT ROUND(CAST(748.58 AS DECIMAL(6,2)), -3)"), "1000");
  // "POWER (Transact-SQL)": the float result at the base's type, decimal(38, s) for decimal(p, s): 2 to
  // the -100th is 0 for an int base and 0.00 for 2.00, and 2.5 squared is 6.3 at one place.
  EXPECT_EQ(Value("SELECT POWER(2, -100.0)"), "0");
  EXPECT_EQ(Value("SELECT POWER(2.00, -100.0)"), "0");
  EXPECT_EQ(Value("SELECT POWER(2.5, 2)"), "6.3");
  EXPECT_DOUBLE_EQ(session_->Query("SELECT POWER(CAST(2.0 AS FLOAT), -100.0)").rows.at(0).at(0).ToDouble(),
                   7.88860905221012E-31);
  // "CEILING (Transact-SQL)": decimal(p, s) gives decimal(p, 0).
  const ResultTable described =
      session_->Query("SELECT ROUND(FPrice, 1), ROUND(FSmall, 0), CEILING(FAmount), FLOOR(FSmall) FROM N");
  EXPECT_EQ(described.TypeOf(0).scale, 2);
  EXPECT_EQ(described.TypeOf(1).precision, 10);
  EXPECT_EQ(described.TypeOf(2).precision, 28);
  EXPECT_EQ(described.TypeOf(2).scale, 0);
  EXPECT_EQ(described.TypeOf(3).precision, 10);
}

TEST_F(SqlServerAnswersInTheEngine, OverflowsAreTheServersErrorsAndUndoTheStatement) {
  session_->Execute("INSERT INTO N (FPrice) VALUES (1) CREATE TABLE K (FKey INTEGER PRIMARY KEY)");
  struct Case {
    const char* batch;
    std::int32_t native;
  } cases[] = {
      {"INSERT INTO N (FSmall) VALUES (300)", 220},   // [INT] tinyint is 0 to 255
      {"UPDATE N SET FCount = 3000000000", 8115},     // beyond int
      {"UPDATE N SET FPrice = 999.995", 8115},        // rounds to 1000.00, beyond DECIMAL(5,2)
      {"SELECT CAST(100000 AS DECIMAL(5,0))", 8115},  //
      {"DECLARE @t TINYINT SET @t = -1", 220},        //
      {"INSERT INTO K VALUES (3000000000)", 8115},    // [INT] INTEGER is int, a primary key too
  };
  for (const Case& c : cases) {
    const ComError error = testing::FailureOf(*session_, c.batch);
    EXPECT_EQ(error.NativeError(), c.native) << c.batch << ": " << error.Description();
  }
  EXPECT_EQ(Value("SELECT COUNT(*) FROM N"), "1");
  EXPECT_EQ(Value("SELECT FPrice FROM N"), "1");
}

TEST_F(SqlServerAnswersInTheEngine, RefusesADecimalADoubleCannotHoldInsteadOfStoringANeighbour) {
  const ComError error =
      testing::FailureOf(*session_, "INSERT INTO N (FAmount) VALUES (123456789012345678.1234567891)");
  EXPECT_EQ(error.SqlState(), "HYC00");
  EXPECT_NE(error.Description().find("123456789012345678.1234567891"), std::string::npos)
      << error.Description();
  EXPECT_EQ(Value("SELECT COUNT(*) FROM N"), "0");
  // Fifteen digits and a price of hundreds of thousands at ten places are held exactly.
  session_->Execute("INSERT INTO N (FAmount) VALUES (12345678901.1234)");
  session_->Execute("INSERT INTO N (FAmount) SELECT 1234567.89 / 7");
  EXPECT_EQ(Value("SELECT MIN(FAmount) FROM N"), "176366.8414285714");
  EXPECT_EQ(Value("SELECT MAX(FAmount) FROM N"), "12345678901.1234");
  EXPECT_EQ(testing::FailureOf(*session_, "SELECT 1234567890123456789012345678901234567890.5").NativeError(),
            1007);
}

// Text under the database's default collation, case insensitive ("Collation and Unicode support"), trailing
// blanks ignored in comparisons ("How SQL Server compares strings with trailing spaces", KB 316626).
TEST_F(SqlServerAnswersInTheEngine, TextComparesWithoutCaseWhereNoColumnTakesPart) {
  EXPECT_EQ(Value("SELECT CASE WHEN 'a' = 'A' THEN 1 ELSE 0 END"), "1");
  EXPECT_EQ(Value("SELECT CASE WHEN 'WO-1' = 'wo-1  ' THEN 1 ELSE 0 END"), "1");
  EXPECT_EQ(Value("SELECT CASE WHEN 'b' IN ('A', 'B') THEN 1 ELSE 0 END"), "1");
  EXPECT_EQ(Value("DECLARE @v VARCHAR(10) = 'X' IF @v = 'x' SELECT 1 ELSE SELECT 0"), "1");
  EXPECT_EQ(Value("DECLARE @v VARCHAR(10) = 'm' SELECT CASE WHEN @v BETWEEN 'A' AND 'Z' THEN 1 ELSE 0 END"),
            "1");
  // "LIKE (Transact-SQL)": sets, ranges, negated sets and an escape character, without case.
  EXPECT_EQ(
      Value("SELECT CASE WHEN 'b' LIKE '[ab]' AND 'c' LIKE '[^ab]' AND 'A_1' LIKE 'a[_]1' AND "
            "'x' NOT LIKE '[a-c]' AND '5%' LIKE '5!%' ESCAPE '!' AND 'WO-17' LIKE 'wo-1%' THEN 1 ELSE 0 END"),
      "1");
  // `+` joins texts; a text beside a number is converted to it ("+ (String Concatenation)", "Data type
  // precedence").
  const ResultTable joined = session_->Query(
      "DECLARE @y VARCHAR(10) = '2011' SELECT @y + '.' + '03', 'a' + 'b' + 'c', '5' + 1, LEFT('abc', 2) + "
      "'x'");
  EXPECT_EQ(joined.rows.at(0).at(0).ToString(), "2011.03");
  EXPECT_EQ(joined.rows.at(0).at(1).ToString(), "abc");
  EXPECT_EQ(joined.rows.at(0).at(2).ToString(), "6");
  EXPECT_EQ(joined.rows.at(0).at(3).ToString(), "abx");
  EXPECT_EQ(testing::FailureOf(*session_, "SELECT 'x' + 1").NativeError(), 245);
  // A variable cut to its length keeps whole characters: three characters of 'äöüß', not three bytes.
  const ResultTable cut = session_->Query("DECLARE @s VARCHAR(3) = 'äöüß' SELECT @s");
  EXPECT_EQ(cut.rows.at(0).at(0).ToString(), "äöü");
}

TEST_F(SqlServerAnswersInTheEngine, DatetimesKeepTheirTicksAndComeBackAtThatPrecision) {
  session_->Execute(
      "CREATE TABLE D (FID INT PRIMARY KEY, FAt DATETIME NULL)\r\n"
      "INSERT INTO D VALUES (1, '2011-03-31 23:59:59.989'), (2, '2011-03-31 23:59:59.999'), "
      "(3, '20110331 10:00:00.994'), (4, '20110331 10:00:00.995'), (5, '')");
  const ResultTable rows = session_->Query("SELECT FAt FROM D ORDER BY FID");
  ASSERT_EQ(rows.rows.size(), 5u);
  // [DT] .990 and .991 give .990, .992 to .994 give .993, .995 to .998 give .997, .999 the next second.
  EXPECT_EQ(rows.rows[0][0].ToString(), "2011-03-31 23:59:59.990");
  EXPECT_EQ(rows.rows[1][0].ToString(), "2011-04-01");
  EXPECT_EQ(rows.rows[2][0].ToString(), "2011-03-31 10:00:00.993");
  EXPECT_EQ(rows.rows[3][0].ToString(), "2011-03-31 10:00:00.997");
  // An empty text converts to 1900-01-01.
  EXPECT_EQ(rows.rows[4][0].ToString(), "1900-01-01");
  // A literal compared with the column is rounded the same way.
  EXPECT_EQ(Value("SELECT FID FROM D WHERE FAt = '2011-03-31 23:59:59.991'"), "1");
}

TEST_F(SqlServerAnswersInTheEngine, SmalldatetimeDateAndDatetime2AreStoredAtTheirTypesPrecision) {
  session_->Execute(
      "CREATE TABLE E (FID INT PRIMARY KEY, FMinute SMALLDATETIME NULL, FDay DATE NULL, FExact DATETIME2 "
      "NULL, "
      "FTenth DATETIME2(1) NULL)\r\n"
      "INSERT INTO E VALUES (1, '2007-05-08 12:35:29.998', '2011-04-01 23:59:59.999', "
      "'2011-04-01 10:00:00.1234567', '2011-04-01 10:00:00.15'), "
      "(2, '2007-05-08 12:35:29.999', '0001-01-01 10:00', '9999-12-31 23:59:59.9999999', "
      "'2011-04-01 23:59:59.96')\r\n"
      "UPDATE E SET FMinute = '2007-05-09 23:59:59' WHERE FID = 2");
  const ResultTable rows = session_->Query("SELECT FMinute, FDay, FExact, FTenth FROM E ORDER BY FID");
  ASSERT_EQ(rows.rows.size(), 2u);
  // [SDT] 29.998 seconds or less round down to the minute, 29.999 and more up; 2007-05-09 23:59:59 is
  // 2007-05-10 00:00:00. [DATE] the day alone, from 0001-01-01. [DT2] seven digits by default, n as
  // declared, rounded: .15 in DATETIME2(1) is .2 and 23:59:59.96 the next day.
  EXPECT_EQ(rows.rows[0][0].ToString(), "2007-05-08 12:35:00");
  EXPECT_EQ(rows.rows[1][0].ToString(), "2007-05-10");
  EXPECT_EQ(rows.rows[0][1].ToString(), "2011-04-01");
  EXPECT_EQ(rows.rows[1][1].ToString(), "0001-01-01");
  // DATETIME2 comes back as its text: the platform's date could not hold 100 ns.
  EXPECT_EQ(rows.rows[0][2].ToString(), "2011-04-01 10:00:00.1234567");
  EXPECT_EQ(rows.rows[1][2].ToString(), "9999-12-31 23:59:59.9999999");
  EXPECT_EQ(FormatDateIso(rows.rows[0][2].ToDate()), "2011-04-01");
  EXPECT_EQ(rows.rows[0][3].ToString(), "2011-04-01 10:00:00.2");
  EXPECT_EQ(rows.rows[1][3].ToString(), "2011-04-02 00:00:00.0");
  // A text compared with a column is taken at the column's type: a time means nothing to a DATE, and 100
  // ns tell two DATETIME2 values apart.
  EXPECT_EQ(Value("SELECT COUNT(*) FROM E WHERE FDay = '2011-04-01 18:00'"), "1");
  EXPECT_EQ(Value("SELECT COUNT(*) FROM E WHERE FExact = '2011-04-01 10:00:00.1234568'"), "0");
}

// [PREC] two operands of different types compare at the type of higher precedence, datetime2 > datetime >
// smalldatetime > date, whichever side it stands on: a DATE is midnight beside a DATETIME, a DATETIME keeps
// its seconds beside a SMALLDATETIME and its milliseconds beside a DATETIME2.
TEST_F(SqlServerAnswersInTheEngine, DateColumnsOfDifferentTypesCompareAtTheHigherType) {
  session_->Execute(
      "CREATE TABLE P (FID INT PRIMARY KEY, FDay DATE NULL, FAt DATETIME NULL, FMinute SMALLDATETIME NULL, "
      "FExact DATETIME2 NULL)\r\n"
      "INSERT INTO P VALUES (1, '2011-04-01', '2011-04-01 10:00:20', '2011-04-01 10:00', "
      "'2011-04-01 10:00:20.0000001'), (2, '2011-04-01', '2011-04-01', '2011-04-01', '2011-04-01')");
  struct Case {
    const char* where;
    const char* count;
  } cases[] = {
      {"FDay = FAt", "1"},       {"FAt = FDay", "1"},   {"FMinute < FAt", "1"},
      {"P.FAt = P.FExact", "1"}, {"FExact > FAt", "1"}, {"FMinute = FDay", "1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Value(std::string("SELECT COUNT(*) FROM P WHERE ") + c.where), c.count) << c.where;
  EXPECT_EQ(Value("SELECT COUNT(*) FROM P a, P b WHERE a.FDay < b.FAt"), "2");
  // A join of the two meets them through an automatic index, whose filter must not tell the texts apart.
  EXPECT_EQ(Value("SELECT COUNT(*) FROM P a JOIN P b ON b.FAt = a.FDay"), "2");
  EXPECT_EQ(Value("SELECT COUNT(*) FROM P a JOIN P b ON a.FDay = b.FAt"), "2");
}

TEST_F(SqlServerAnswersInTheEngine, DateVariablesAndConversionsRoundOrFailAsTheServers) {
  struct Case {
    const char* batch;
    const char* text;  // the result's text, or empty when the batch fails with `native`
    std::int32_t native;
  } cases[] = {
      // [SDT] the page's examples.
      {"SELECT CAST('2007-05-08 12:35:30' AS SMALLDATETIME)", "2007-05-08 12:36:00", 0},
      {"SELECT CAST('2007-05-08 12:59:59.998' AS SMALLDATETIME)", "2007-05-08 13:00:00", 0},
      {"DECLARE @d DATE = '2011-04-01 10:00' SELECT @d", "2011-04-01", 0},
      {"DECLARE @t DATETIME2(3) SET @t = '2011-04-01 10:00:00.1235' SELECT @t", "2011-04-01 10:00:00.124", 0},
      {"SELECT CONVERT(DATETIME2, '20110401 10:00')", "2011-04-01 10:00:00.0000000", 0},
      // [SDT] 1900-01-01 through 2079-06-06; the text past it is 296 [ERR], also when rounding carries it.
      {"INSERT INTO E (FMinute) VALUES ('2079-06-07')", "", 296},
      {"DECLARE @s SMALLDATETIME = '2079-06-06 23:59:30'", "", 296},
      // [DATE] a day the calendar lacks is no date to the newer types (241), where DATETIME says 242.
      {"INSERT INTO E (FDay) VALUES ('2011-02-30')", "", 241},
      {"SELECT CAST('2011-02-30' AS DATETIME)", "", 242},
      // [ERR] 529: a number converts to DATETIME (days since 1900) but not to DATE.
      {"SELECT CAST(1 AS DATE)", "", 529},
      // [DT] "n* is zero to three digits ... that represent the fractional seconds": a fourth digit makes
      // the text no datetime (241), in CAST, variables and columns alike; SMALLDATETIME reads the same
      // forms [SDT]. DATETIME2 takes seven [DT2].
      {"SELECT CAST('2020-01-01 12:00:00.123' AS DATETIME)", "2020-01-01 12:00:00.123", 0},
      {"SELECT CAST('2020-01-01 12:00:00.1234' AS DATETIME)", "", 241},
      {"DECLARE @d DATETIME SET @d = '2020-01-01T12:00:00.1230'", "", 241},
      {"INSERT INTO E (FAt) VALUES ('20200101 12:00:00.1234')", "", 241},
      {"INSERT INTO E (FMinute) VALUES ('2020-01-01 12:00:29.9991')", "", 241},
      {"SELECT CONVERT(DATETIME2(4), '2020-01-01 12:00:00.1234')", "2020-01-01 12:00:00.1234", 0},
  };
  session_->Execute("CREATE TABLE E (FMinute SMALLDATETIME NULL, FDay DATE NULL, FAt DATETIME NULL)");
  for (const Case& c : cases) {
    if (c.native != 0) {
      EXPECT_EQ(testing::FailureOf(*session_, c.batch).NativeError(), c.native) << c.batch;
      continue;
    }
    const ResultTable result = session_->Query(c.batch);
    EXPECT_EQ(result.rows.at(0).at(0).ToString(), c.text) << c.batch;
  }
  EXPECT_EQ(Value("SELECT COUNT(*) FROM E"), "0");
}

TEST_F(SqlServerAnswersInTheEngine, NamesTypesAndRefusalsAsTheServerReadsThem) {
  session_->Execute(
      "CREATE TABLE F (a [int] NOT NULL, b VARCHAR(MAX) NULL, c NVARCHAR(MAX) NULL, d DATETIME2(3) NULL, "
      "f [varchar](20) NULL)\r\nINSERT INTO F (a, f) VALUES (1, 'x')");
  // `name = expr` and `'name' = expr` in a select list are aliases ("SELECT clause (Transact-SQL)").
  const ResultTable aliased = session_->Query("SELECT x = a + 1, 'y' = f FROM F");
  ASSERT_EQ(aliased.columns.size(), 2u);
  EXPECT_EQ(aliased.columns[0], "x");
  EXPECT_EQ(aliased.columns[1], "y");
  EXPECT_EQ(aliased.rows.at(0).at(0).ToString(), "2");
  // An unknown column is 207, delimited or not: SQLite would read "nope" as a string.
  EXPECT_EQ(testing::FailureOf(*session_, "SELECT [nope] FROM F").NativeError(), 207);
  EXPECT_EQ(testing::FailureOf(*session_, "SELECT \"nope\" FROM F").NativeError(), 207);
  // An unknown function (SQLite's FORMAT is not SQL Server's) fails the batch before anything of it runs.
  EXPECT_EQ(testing::FailureOf(*session_, "INSERT INTO F (a) VALUES (2)\r\nSELECT FORMAT(a, 'N') FROM F")
                .NativeError(),
            195);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM F"), "1");
}

// A client learns each result column's type and name from the server: a column of a table its declared
// type, an expression the type the server gives it [PSL]; a MONEY has scale 4 ("money and smallmoney
// (Transact-SQL)": accurate to a ten-thousandth). A derived column has no name unless an alias gives it one
// ("Assigning Result Set Column Names"). What the provider cannot type it calls unknown.
TEST_F(SqlServerAnswersInTheEngine, ResultsCarryTheServersTypesAndNames) {
  session_->Execute("INSERT INTO N (FPrice, FAmount, FCash) VALUES (123.456, 123456.7890123456, 2.5)");
  // An exact number's value is a Decimal at its column's scale, as the server sends it.
  auto exact = [](const Variant& value) {
    return std::string(value.Type() == VariantType::Decimal ? "decimal " : "not a decimal ") +
           value.ToString();
  };
  auto described = [](const ResultTable& result, std::size_t column) {
    const ColumnType type = result.TypeOf(column);
    static constexpr const char* kKinds[] = {"unknown", "int",   "bit",  "numeric",
                                             "money",   "float", "text", "date"};
    return std::string(kKinds[static_cast<int>(type.kind)]) + "(" + std::to_string(type.precision) + "," +
           std::to_string(type.scale) + ")";
  };
  const ResultTable columns = session_->Query("SELECT FPrice, n.FAmount, FCash, FCount FROM N n");
  EXPECT_EQ(columns.columns, (std::vector<std::string>{"FPrice", "FAmount", "FCash", "FCount"}));
  EXPECT_EQ(described(columns, 0), "numeric(5,2)");
  EXPECT_EQ(described(columns, 1), "numeric(28,10)");
  EXPECT_EQ(described(columns, 2), "money(19,4)");
  EXPECT_EQ(described(columns, 3), "int(10,0)");
  const std::vector<Variant>& stored = columns.rows.at(0);
  EXPECT_EQ(exact(stored.at(0)), "decimal 123.46");
  EXPECT_EQ(exact(stored.at(1)), "decimal 123456.7890123456");
  EXPECT_EQ(exact(stored.at(2)), "decimal 2.5000");

  const ResultTable expressions = session_->Query(
      "DECLARE @m MONEY = 2 SELECT 2.5, CAST(1 AS MONEY), 5/@m, FPrice * 2, SUM(FAmount), LEN('ab'), "
      "CASE WHEN FCount IS NULL THEN 1 ELSE 2.5 END, CAST(FPrice AS FLOAT) FROM N GROUP BY FPrice, FCount");
  EXPECT_EQ(expressions.columns, std::vector<std::string>(8, ""));
  EXPECT_EQ(described(expressions, 0), "numeric(2,1)");
  EXPECT_EQ(described(expressions, 1), "money(19,4)");
  EXPECT_EQ(described(expressions, 2), "money(19,4)");
  EXPECT_EQ(described(expressions, 3), "numeric(16,2)");
  EXPECT_EQ(described(expressions, 4), "numeric(38,10)");
  EXPECT_EQ(described(expressions, 5), "int(10,0)");
  EXPECT_EQ(described(expressions, 6), "numeric(11,1)");
  EXPECT_EQ(described(expressions, 7), "float(0,0)");
  const std::vector<Variant>& computed = expressions.rows.at(0);
  EXPECT_EQ(exact(computed.at(0)), "decimal 2.5");
  EXPECT_EQ(exact(computed.at(1)), "decimal 1.0000");
  EXPECT_EQ(exact(computed.at(2)), "decimal 2.5000");
  EXPECT_EQ(exact(computed.at(3)), "decimal 246.92");
  EXPECT_EQ(exact(computed.at(4)), "decimal 123456.7890123456");
  // The CASE's int result arrives at the CASE's type, numeric(11,1); a float stays a Double.
  EXPECT_EQ(exact(computed.at(6)), "decimal 1.0");
  EXPECT_EQ(computed.at(7), Variant(123.46));
  // A BIGINT keeps the digits beyond a double's 2^53; one that fits 32 bits stays a Long.
  const ResultTable integers =
      session_->Query("SELECT CAST(9007199254740993 AS BIGINT), -9007199254740993, CAST(2 AS BIGINT)");
  EXPECT_EQ(integers.rows.at(0).at(0), Variant(std::int64_t{9007199254740993}));
  EXPECT_EQ(exact(integers.rows.at(0).at(1)), "decimal -9007199254740993");
  EXPECT_EQ(integers.rows.at(0).at(2), Variant(std::int32_t{2}));

  // Every way of naming an item keeps its name; a UNION's types combine the lists', so none is told.
  const ResultTable named =
      session_->Query("SELECT a = FPrice + 1, 'b' = 2, FCash * 2 AS c, 3 d, FPrice e FROM N");
  EXPECT_EQ(named.columns, (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  EXPECT_EQ(described(named, 2), "money(19,4)");
  const ResultTable combined = session_->Query("SELECT 1 UNION SELECT 2.5");
  EXPECT_EQ(combined.columns, std::vector<std::string>{""});
  EXPECT_EQ(described(combined, 0), "unknown(0,0)");
  // A `*` keeps the table's names and types; the items beside it are described as any.
  const ResultTable star = session_->Query("SELECT FCash + 1, N.* FROM N");
  ASSERT_EQ(star.columns.size(), 8u);
  EXPECT_EQ(star.columns[0], "");
  EXPECT_EQ(described(star, 0), "money(19,4)");
  EXPECT_EQ(star.columns[2], "FPrice");
  EXPECT_EQ(described(star, 2), "numeric(5,2)");
}

TEST_F(SqlServerAnswersInTheEngine, IdentityGivesTheValueInsertedWithinItsColumnsType) {
  session_->Execute(
      "CREATE TABLE G (K INT PRIMARY KEY, FID TINYINT IDENTITY(254,1) NOT NULL)\r\n"
      "INSERT INTO G (K) VALUES (1)\r\nINSERT INTO G (K) VALUES (2)");
  // [ID] the last value inserted, an explicit one included.
  EXPECT_EQ(Value("SET IDENTITY_INSERT G ON INSERT INTO G (K, FID) VALUES (3, 7) SET IDENTITY_INSERT G OFF "
                  "SELECT @@IDENTITY"),
            "7");
  // The next generated value, 256, is beyond tinyint: the insert fails and nothing of it is kept.
  const ComError overflow = testing::FailureOf(*session_, "INSERT INTO G (K) VALUES (4)");
  EXPECT_EQ(overflow.NativeError(), 8115);
  EXPECT_EQ(overflow.Description(), "Arithmetic overflow error converting IDENTITY to data type tinyint.");
  EXPECT_EQ(Value("SELECT COUNT(*) FROM G"), "3");
}

// An identity that is the whole primary key is SQLite's rowid, declared INTEGER; it keeps its T-SQL type.
TEST_F(SqlServerAnswersInTheEngine, ARowidIdentityOverflowsAtItsDeclaredType) {
  session_->Execute(
      "CREATE TABLE R (FID INT IDENTITY(2147483646,1) NOT NULL PRIMARY KEY, K INT NULL)\r\n"
      "CREATE TABLE S (FID TINYINT IDENTITY(1,1) NOT NULL PRIMARY KEY, K INT NULL)\r\n"
      "INSERT INTO R (K) VALUES (1)\r\nINSERT INTO R (K) VALUES (2)");
  EXPECT_EQ(Value("SELECT MAX(FID) FROM R"), "2147483647");
  // [ID], [INT]: the next value, 2147483648, is beyond int.
  const ComError generated = testing::FailureOf(*session_, "INSERT INTO R (K) VALUES (3)");
  EXPECT_EQ(generated.Description(), "Arithmetic overflow error converting IDENTITY to data type int.");
  // [INT] an explicit value converts as into any int column: 8115 beyond int, 220 beyond tinyint.
  const ComError explicitValue =
      testing::FailureOf(*session_, "SET IDENTITY_INSERT R ON INSERT INTO R (FID, K) VALUES (3000000000, 4)");
  EXPECT_EQ(explicitValue.Description(), "Arithmetic overflow error converting expression to data type int.");
  EXPECT_EQ(testing::FailureOf(*session_,
                               "SET IDENTITY_INSERT R OFF SET IDENTITY_INSERT S ON "
                               "INSERT INTO S (FID, K) VALUES (300, 5)")
                .NativeError(),
            220);
  EXPECT_EQ(Value("SELECT COUNT(*) FROM R"), "2");
  EXPECT_EQ(Value("SELECT COUNT(*) FROM S"), "0");
}

}  // namespace
}  // namespace closewright::sqlite
