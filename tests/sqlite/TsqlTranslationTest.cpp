// How the embedded provider reads T-SQL batches: where statements start, what becomes of comments, which
// rewrites SQLite needs, and which constructs are refused before anything runs.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "outside/sqlite/TsqlPlan.h"

namespace closewright::sqlite {
namespace {

TsqlError RefusalOf(const std::string& batch) {
  try {
    TranslateBatch(batch);
  } catch (const TsqlError& error) {
    return error;
  }
  ADD_FAILURE() << "accepted: " << batch;
  return {};
}

TEST(TsqlTranslation, StatementsStartAtKeywordsWithoutSeparators) {
  // A period switch that reopens: the UPDATE runs straight into DELETE, the next line starts another.
  const Plan plan = TranslateBatch(
      "UPDATE t_SystemProfile SET FValue = '3' WHERE FCategory = 'OPCost' AND FKey = 'CurrentPeriod'DELETE "
      "FROM "
      "opcostBalance WHERE FYear+0.0001*FPeriod > 2011.0003\r\n DELETE FROM opcostBalance WHERE FYear= 2011 "
      "and "
      "FPeriod= 3 and FTypeID in (3,4) ");
  ASSERT_EQ(plan.statements.size(), 3u);
  EXPECT_EQ(plan.statements[0].line, 1);
  EXPECT_EQ(plan.statements[1].line, 1);
  EXPECT_EQ(plan.statements[2].line, 2);
  EXPECT_TRUE(plan.statements[0].isUpdate);
  EXPECT_EQ(plan.statements[1].sql.rfind("DELETE FROM \"opcostBalance\"", 0), 0u);
}

TEST(TsqlTranslation, InsertSelectWithUnionIsOneStatementAndIfControlsOnlyTheNext) {
  const Plan plan = TranslateBatch(
      "    IF ISNULL(OBJECT_ID('TEMPDB..#T'),0)<>0 \r\n DROP TABLE #T \r\n CREATE TABLE #T(FID INT NOT NULL "
      "DEFAULT(0)) "
      "\r\n INSERT INTO #T(FID) \r\n select DISTINCT a.FID From A a group by a.FID having sum(a.x)=0 \r\n "
      "Union \r\n "
      "select b.FID from B b\r\n");
  ASSERT_EQ(plan.statements.size(), 3u);
  const Statement& condition = plan.statements[0];
  EXPECT_EQ(condition.kind, StatementKind::If);
  ASSERT_EQ(condition.children.size(), 1u);
  EXPECT_EQ(condition.children[0].kind, StatementKind::DropTable);
  EXPECT_EQ(condition.children[0].line, 2);
  EXPECT_NE(condition.sql.find("ifnull(cw_object_id('TEMPDB..#T'),0)"), std::string::npos) << condition.sql;
  EXPECT_EQ(plan.statements[1].kind, StatementKind::CreateTable);
  EXPECT_EQ(plan.statements[2].kind, StatementKind::Insert);
  EXPECT_EQ(plan.statements[2].line, 4);
  EXPECT_NE(plan.statements[2].sql.find("Union"), std::string::npos);
  EXPECT_EQ(plan.statements[2].insert->table, "#T");
}

TEST(TsqlTranslation, CommentsBecomeBlanksEvenWhenTheyNameKeywords) {
  const Plan plan = TranslateBatch(
      " \r\n--期末结账:期初余额表 \r\nDELETE FROM A WHERE FYearPeriod='2011.03' \r\n"
      "--由于…只能delete不能truncate \r\nSELECT 1 --x + 1\r\n+ 2 /* DROP TABLE A */\r\n");
  ASSERT_EQ(plan.statements.size(), 2u);
  EXPECT_EQ(plan.statements[0].line, 3);
  EXPECT_EQ(plan.statements[1].line, 5);
  EXPECT_EQ(plan.statements[1].sql, "SELECT cw_add(1, 2, 'INT')");
}

TEST(TsqlTranslation, CaseElseStaysInsideTheAssignment) {
  const Plan plan = TranslateBatch(
      "DECLARE @MAXFID INT \r\nSELECT @MAXFID=(CASE WHEN @MAXFID<ISNULL(MAX(FID)+1,1) THEN "
      "ISNULL(MAX(FID)+1,1)ELSE "
      "@MAXFID END)  FROM OPCostBalance \r\nDBCC CHECKIDENT('OPCostBalance',RESEED,@MAXFID) \r\n ");
  ASSERT_EQ(plan.statements.size(), 3u);
  const Statement& assign = plan.statements[1];
  EXPECT_EQ(assign.kind, StatementKind::Assign);
  ASSERT_EQ(assign.targets.size(), 1u);
  EXPECT_EQ(assign.targets[0], "@MAXFID");
  EXPECT_EQ(assign.sql.rfind("SELECT (CASE WHEN @MAXFID<ifnull(", 0), 0u) << assign.sql;
  const Statement& reseed = plan.statements[2];
  EXPECT_EQ(reseed.kind, StatementKind::CheckIdent);
  EXPECT_EQ(reseed.checkIdentMode, CheckIdentMode::Reseed);
  EXPECT_EQ(reseed.table, "OPCostBalance");
  EXPECT_EQ(reseed.argument, "SELECT @MAXFID");
}

TEST(TsqlTranslation, DivisionAndModuloBecomeCallsThatRaiseOnZero) {
  auto sqlOf = [](const std::string& text) { return TranslateBatch(text).statements.at(0).sql; };
  EXPECT_EQ(
      sqlOf("Update T SET FPrice=FUsedAmount/(FBegUnOutQty+FBegUnInQty) WHERE FBegUnOutQty<>0"),
      "UPDATE \"T\" SET FPrice=cw_divide(FUsedAmount,(FBegUnOutQty+FBegUnInQty)) WHERE FBegUnOutQty<>0");
  EXPECT_EQ(sqlOf("SELECT a*b/c % d"), "SELECT cw_modulo(cw_divide(a*b,c), d)");
  EXPECT_EQ(sqlOf("SELECT -t.a/-2, sum(x)/count(*)"),
            "SELECT -cw_divide(t.a,-2), cw_divide(sum(x),count(*))");
  EXPECT_EQ(sqlOf("SELECT CASE WHEN a=0 THEN 0 ELSE 1 END/2"),
            "SELECT cw_divide(CASE WHEN a=0 THEN 0 ELSE 1 END,2, 'INT')");
}

TEST(TsqlTranslation, TSqlFormsBecomeSqliteForms) {
  auto sqlOf = [](const std::string& text) { return TranslateBatch(text).statements.at(0).sql; };
  EXPECT_EQ(sqlOf("Delete OPCostBalance WHERE FTypeID=3"), "DELETE FROM \"OPCostBalance\" WHERE FTypeID=3");
  EXPECT_EQ(sqlOf("SELECT [FID], N'x', t.FA FROM dbo.[My Table] t WITH (NOLOCK) WHERE a !< 1"),
            "SELECT \"FID\", 'x', t.FA FROM \"My Table\" t WHERE a >= 1");
  EXPECT_EQ(sqlOf("SELECT TOP 1 FID FROM T ORDER BY FID"), "SELECT FID FROM T ORDER BY FID LIMIT 1");
  EXPECT_EQ(sqlOf("SELECT LEFT(a,2), CAST(b AS DECIMAL(28,10)) FROM T"),
            "SELECT cw_left(a,2), cw_convert_number(b, 'DECIMAL(28,10)') FROM T");
  const Plan declared = TranslateBatch("DECLARE @Max INT\nSELECT @max + 1");
  EXPECT_EQ(declared.statements.at(1).sql, "SELECT cw_add(@MAX, 1, 'INT')");
}

TEST(TsqlTranslation, CreateTableKeepsDeclaredTypesAndAddsWhatSqliteLacks) {
  const Plan plan = TranslateBatch(
      "CREATE TABLE OPCostBalance (FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FYearPeriod VARCHAR(20) NOT "
      "NULL "
      "DEFAULT(''), FEndBal DECIMAL(28,10) NOT NULL DEFAULT(0), FCloseDate DATETIME NULL)");
  const Statement& create = plan.statements.at(0);
  ASSERT_EQ(create.kind, StatementKind::CreateTable);
  const CreateTableDefinition& def = *create.create;
  EXPECT_EQ(def.identityColumn, "FID");
  const std::string& sql = def.sql.at(0);
  EXPECT_NE(sql.find("\"FID\" INTEGER CONSTRAINT \"PK_OPCostBalance\" PRIMARY KEY NOT NULL"),
            std::string::npos)
      << sql;
  EXPECT_NE(sql.find("\"FYearPeriod\" VARCHAR(20) NOT NULL DEFAULT (('')) COLLATE CI"), std::string::npos)
      << sql;
  EXPECT_NE(sql.find("\"FEndBal\" DECIMAL REAL(28,10) NOT NULL"), std::string::npos) << sql;
  EXPECT_NE(sql.find("\"FCloseDate\" DATETIME TEXT COLLATE DT"), std::string::npos) << sql;
  EXPECT_NE(sql.find("CHECK (length(\"FYearPeriod\") <= 20)"), std::string::npos) << sql;
  EXPECT_EQ(TypeFromDeclaration("DATETIME TEXT").kind, ValueKind::DateTime);
  EXPECT_EQ(TypeFromDeclaration("DECIMAL(28,10)").scale, 10);
  EXPECT_EQ(TypeFromDeclaration("VARCHAR(20)").length, 20);
}

TEST(TsqlTranslation, UnsupportedConstructsAreNamedWithTheirLine) {
  struct Case {
    std::string batch;
    std::string construct;
    std::int32_t line;
  };
  const Case cases[] = {
      {"SELECT 1\r\nSELECT 2\r\nWHILE 1=1 SELECT 3", "WHILE", 3},
      {"DELETE FROM A\nMERGE A USING B ON A.x=B.x WHEN MATCHED THEN DELETE;", "MERGE", 2},
      {"SELECT 1\nGO\nSELECT 2", "GO", 2},
      {"BEGIN TRAN\nDELETE FROM A\nCOMMIT", "BEGIN TRANSACTION", 1},
      {"DELETE FROM A\nCOMMIT TRANSACTION", "COMMIT TRANSACTION", 2},
      {"EXEC sp_who", "EXECUTE", 1},
      {"\n\nSELECT a INTO B FROM A", "SELECT ... INTO", 3},
      {"DECLARE @t TABLE (a INT)", "table variables", 1},
      {"SET XACT_ABORT ON", "SET XACT_ABORT ON", 1},
      {"SELECT * FROM ##Global", "global temporary table", 1},
  };
  for (const Case& c : cases) {
    const TsqlError error = RefusalOf(c.batch);
    EXPECT_EQ(error.line, c.line) << c.batch;
    EXPECT_EQ(error.sqlState, "HYC00") << c.batch;
    EXPECT_NE(error.message.find(c.construct), std::string::npos) << error.message;
    EXPECT_NE(error.message.find("line " + std::to_string(c.line)), std::string::npos) << error.message;
  }
}

TEST(TsqlTranslation, UndeclaredVariablesAndBadSyntaxAreRefusedBeforeRunning) {
  const TsqlError undeclared = RefusalOf("SELECT 1\r\nSELECT @Missing = 2");
  EXPECT_EQ(undeclared.nativeError, 137);
  EXPECT_EQ(undeclared.line, 2);
  EXPECT_EQ(undeclared.message, "Must declare the scalar variable \"@Missing\".");
  const TsqlError twice = RefusalOf("DECLARE @a INT\nDECLARE @A INT");
  EXPECT_EQ(twice.nativeError, 134);
  const TsqlError unclosed = RefusalOf("SELECT 'abc");
  EXPECT_EQ(unclosed.nativeError, 105);
  const TsqlError stray = RefusalOf("ELSE SELECT 1");
  EXPECT_EQ(stray.nativeError, 156);
}

// Everything of a plan the session acts on, written out for comparing two translations.
void Describe(const Statement& s, std::ostringstream& out) {
  out << static_cast<int>(s.kind) << '@' << s.line << '[' << s.sql << "] rows=" << s.returnsRows
      << " update=" << s.isUpdate << " table=" << s.table << " on=" << s.on
      << " mode=" << static_cast<int>(s.checkIdentMode) << " argument=" << s.argument;
  for (const std::string& target : s.targets) out << " target=" << target;
  for (const VariableDeclaration& d : s.declarations) out << " declare=" << d.name << ':' << d.initializer;
  if (s.insert) {
    out << " insert=" << s.insert->table << '|' << s.insert->head << '|' << InsertSource(s);
    for (const std::string& c : s.insert->columns) out << ',' << c;
  }
  if (s.create) {
    for (const std::string& sql : s.create->sql) out << " create=" << sql;
  }
  out << " {";
  for (const Statement& child : s.children) Describe(child, out);
  out << "}\n";
}

std::string Translation(const std::string& batch, std::size_t tokensAtOnce) {
  std::ostringstream out;
  try {
    const Plan plan = TranslateBatch(batch, tokensAtOnce);
    for (const Statement& s : plan.statements) Describe(s, out);
    ForEachSyntaxCheck(plan, [&](const std::string& sql, std::int32_t line) {
      out << "check@" << line << ' ' << sql << '\n';
    });
  } catch (const TsqlError& error) {
    out << "error " << error.nativeError << ' ' << error.sqlState << " line " << error.line << ": "
        << error.message;
  }
  return out.str();
}

// A long batch is read a stretch of tokens at a time; where the stretches end must change nothing, not
// even which error a faulty batch reports.
TEST(TsqlTranslation, ReadingAFewTokensAtATimeTranslatesAsTheWholeBatch) {
  std::vector<std::string> batches = {
      "DECLARE @a INT, @b VARCHAR(10) = 'x'\r\nSET @a = 1\r\nIF @a = 1\r\n  UPDATE t SET c = @a\r\nELSE\r\n"
      "BEGIN\r\n  IF EXISTS (SELECT 1 FROM u) DELETE FROM u\r\n  SELECT @b = c FROM t\r\nEND\r\nSELECT @a, "
      "@b",
      "SELECT 1\r\nSELECT 'unclosed",
      "SELECT * FROM nowhere WHERE MERGE\r\nSELECT 'a' /* open comment",
      "SELECT 1\r\nGO\r\nSELECT 2",
      "DECLARE @x INT\r\nDECLARE @x INT",
      "IF 1 = 1 SELECT 1",
      "BEGIN SELECT 1 END ELSE",
      "INSERT INTO t (a, b) SELECT a, b FROM u UNION ALL SELECT a, b FROM v\r\nUPDATE t SET a = (SELECT "
      "MAX(a) "
      "FROM u) WHERE b IN (1, 2, 3)",
  };
  std::string copy = " Delete from OPCostStandardData Where FYearPeriod ='2011.0004'\r\n";
  for (int i = 0; i < 40; ++i) {
    const std::string id = std::to_string(1000 + i);
    copy += " Insert into OPCostStandardData (FID,FBillNo) Select " + id + ",'B-" + id +
            "' From OPCostStandardData\r\n Where FID = " + std::to_string(i) + "\r\n";
  }
  batches.push_back(copy);
  const std::filesystem::path corpus = CLOSEWRIGHT_SOURCE_DIR "/fuzz/corpus/tsql_batch";
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::ifstream in(entry.path(), std::ios::binary);
    batches.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (const std::string& batch : batches) {
    const std::string whole = Translation(batch, std::size_t{1} << 30);
    for (const std::size_t tokensAtOnce : {1u, 2u, 3u, 7u, 64u}) {
      EXPECT_EQ(Translation(batch, tokensAtOnce), whole)
          << tokensAtOnce << " tokens at a time, batch: " << batch.substr(0, 200);
    }
  }
}

}  // namespace
}  // namespace closewright::sqlite
