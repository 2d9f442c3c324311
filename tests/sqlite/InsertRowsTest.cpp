// DatabaseSession::InsertRows on the embedded provider binds values into a prepared INSERT without any SQL
// text, and must leave the ledger exactly as the T-SQL INSERT of the same values (InsertText) does: the
// stored values and their storage classes, the errors, and the identity bookkeeping.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "outside/ComError.h"
#include "outside/sqlite/SqliteHandles.h"
#include "outside/sqlite/SqliteProvider.h"
#include "support/TestDatabase.h"

namespace closewright {
namespace {

using testing::CaughtError;
using testing::FailureOf;

std::unique_ptr<DatabaseSession> Open(const std::string& file) {
  return OpenSqliteSession({{"Provider", "Closewright.SQLite"}, {"Data Source", file}});
}

Variant Scalar(DatabaseSession& session, const std::string& text) {
  const ResultTable result = session.Query(text);
  return result.rows.at(0).at(0);
}

// A text of what SQLite itself holds, read past the provider: one line per row, each value with its storage
// class, doubles to the last bit.
std::string Stored(const std::string& file, const std::string& sql) {
  sqlite3* raw = nullptr;
  sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr);
  sqlite::DatabaseHandle db(raw);
  sqlite3_stmt* statement = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db.get(), sql.c_str(), -1, &statement, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db.get());
  sqlite::StatementHandle owned(statement);
  std::string text;
  while (sqlite3_step(statement) == SQLITE_ROW) {
    for (int c = 0; c < sqlite3_column_count(statement); ++c) {
      char* value = nullptr;
      switch (sqlite3_column_type(statement, c)) {
        case SQLITE_INTEGER:
          value = sqlite3_mprintf("integer:%lld|", sqlite3_column_int64(statement, c));
          break;
        case SQLITE_FLOAT:
          value = sqlite3_mprintf("real:%!.17g|", sqlite3_column_double(statement, c));
          break;
        case SQLITE_NULL:
          value = sqlite3_mprintf("null|");
          break;
        default:
          value = sqlite3_mprintf("text:%s|", sqlite3_column_text(statement, c));
      }
      text += value;
      sqlite3_free(value);
    }
    text += '\n';
  }
  return text;
}

TEST(InsertRows, StoresWhatTheInsertStatementOfTheSameValuesStores) {
  testing::TemporaryDatabase file;
  auto session = Open(file.File());
  const std::string columns =
      "(FInt INT NULL, FSmall SMALLINT NULL, FBit BIT NULL, FBig BIGINT NULL, FQty DECIMAL(18,4) NULL, "
      "FRate DECIMAL(28,10) NULL, FPrice MONEY NULL, FFloat FLOAT NULL, FName VARCHAR(40) NULL, "
      "FDate DATETIME NULL)";
  session->Execute("CREATE TABLE ByText " + columns + "\r\nCREATE TABLE ByValue " + columns);
  const std::vector<std::string> names = {"FInt",  "FSmall", "FBit",   "FBig",  "FQty",
                                          "FRate", "FPrice", "FFloat", "FName", "FDate"};
  const std::vector<Variant> values = {
      // values already in stored form
      85, 7, 1, 123456789, 2740.5, 0.125, 12.5, 0.1, "it's", MakeDate(2011, 2, 5),
      // values the columns convert: truncated, rounded, read from text, 1 for bit, the text of a number
      12.7, -3, 5, 3.7, 1.23456, "12.5", 1.0 / 3, 3, 42, "20110301",
      // NULLs, Boolean, a whole number into a decimal, a date with a time of day
      Variant::Null(), Variant(), true, false, 2740, -0.00005, Variant::Null(), Variant::Null(), "",
      MakeDate(2011, 3, 31, 23, 59, 59),
      // text where numbers go, a double beyond a float's shortest digits
      "  7 ", 2.5, "false", "9", "-1.5", "0.0000000001", "7", 1e20, "Kosten \xC3\xBC", "2011-03-31 08:00"};
  session->Execute(InsertText("ByText", names, values, 0, values.size() / names.size()));
  session->InsertRows("ByValue", names, values);

  const std::string select =
      "SELECT FInt, FSmall, FBit, FBig, FQty, FRate, FPrice, FFloat, FName, FDate FROM ";
  const std::string byText = Stored(file.File(), select + "ByText ORDER BY rowid");
  EXPECT_EQ(Stored(file.File(), select + "ByValue ORDER BY rowid"), byText);
  // The values were converted, not merely passed through alike.
  char* rounded = sqlite3_mprintf("%!.17g", 1.2346);
  EXPECT_EQ(Stored(file.File(), "SELECT FInt, FQty, FBit, FDate FROM ByValue WHERE rowid = 2"),
            "integer:12|real:" + std::string(rounded) + "|integer:1|text:2011-03-01 00:00:00.000|\n");
  sqlite3_free(rounded);
  EXPECT_EQ(Scalar(*session, "SELECT COUNT(*) FROM ByValue"), Variant(std::int32_t{4}));
}

TEST(InsertRows, KeepsNothingOfALoadWhoseValueIsRefusedAndFailsAsTheStatementDoes) {
  testing::TemporaryDatabase file;
  auto session = Open(file.File());
  session->Execute("CREATE TABLE Amounts (FID INT NOT NULL PRIMARY KEY, FAmount DECIMAL(18,4) NULL)");
  const std::vector<std::string> names = {"FID", "FAmount"};
  session->BeginTransaction();
  // Too large for DECIMAL(18,4): the statement fails, the transaction goes on.
  const std::vector<Variant> overflow = {1, 1.5, 2, 2.5, 3, 1e20};
  const ComError byText = FailureOf(*session, InsertText("Amounts", names, overflow, 0, 3));
  const ComError byValue = CaughtError([&] { session->InsertRows("Amounts", names, overflow); });
  EXPECT_EQ(byValue.NativeError(), 8115);
  EXPECT_EQ(byValue.NativeError(), byText.NativeError());
  EXPECT_EQ(byValue.Description(), byText.Description());
  EXPECT_EQ(byValue.SqlState(), byText.SqlState());
  EXPECT_EQ(byValue.FailingText(), InsertText("Amounts", names, overflow, 2, 1));
  EXPECT_EQ(Scalar(*session, "SELECT COUNT(*) FROM Amounts"), Variant(std::int32_t{0}));
  // A key met twice fails the whole load too, the rows before it with it.
  const std::vector<Variant> duplicate = {4, 1, 5, 2, 4, 3};
  EXPECT_EQ(CaughtError([&] { session->InsertRows("Amounts", names, duplicate); }).NativeError(), 2627);
  EXPECT_EQ(Scalar(*session, "SELECT COUNT(*) FROM Amounts"), Variant(std::int32_t{0}));
  session->InsertRows("Amounts", names, {6, 6.25});
  EXPECT_EQ(Scalar(*session, "SELECT COUNT(*) FROM Amounts"), Variant(std::int32_t{1}));
  // A text that is no number ends the transaction, as SQL Server ends it after error 8114.
  const ComError conversion = CaughtError([&] { session->InsertRows("Amounts", names, {7, "seven"}); });
  EXPECT_EQ(conversion.NativeError(), 8114);
  EXPECT_EQ(FailureOf(*session, "SELECT COUNT(*) FROM Amounts").NativeError(), 3998);
  EXPECT_EQ(CaughtError([&] { session->InsertRows("Amounts", names, {8, 8}); }).NativeError(), 3998);
  session->Rollback();
  EXPECT_EQ(Scalar(*session, "SELECT COUNT(*) FROM Amounts"), Variant(std::int32_t{0}));
}

// Explicit values under IDENTITY_INSERT, then generated ones, loaded into one table as values and into its
// twin as INSERT statements: @@IDENTITY, the next value given and the recorded identity agree at each step.
TEST(InsertRows, LeavesTheIdentityAsTheInsertStatementLeavesIt) {
  for (const std::string definition : {"(FID INT IDENTITY(1,1) NOT NULL PRIMARY KEY, FName VARCHAR(20) NULL)",
                                       "(FID INT IDENTITY(10,5) NOT NULL, FName VARCHAR(20) NULL)"}) {
    SCOPED_TRACE(definition);
    testing::TemporaryDatabase file;
    auto session = Open(file.File());
    session->Execute("CREATE TABLE ByText " + definition + "\r\nCREATE TABLE ByValue " + definition);
    const std::vector<std::string> explicitNames = {"FID", "FName"};
    const std::vector<Variant> explicitRows = {5, "a", 9, "b", 7, "c"};
    EXPECT_EQ(CaughtError([&] { session->InsertRows("ByValue", explicitNames, explicitRows); }).NativeError(),
              FailureOf(*session, InsertText("ByText", explicitNames, explicitRows, 0, 3)).NativeError());
    session->BeginTransaction();
    session->Execute("SET IDENTITY_INSERT ByText ON");
    session->Execute(InsertText("ByText", explicitNames, explicitRows, 0, 3));
    session->Execute("SET IDENTITY_INSERT ByText OFF");
    const Variant lastByText = Scalar(*session, "SELECT @@IDENTITY");
    session->Execute("SET IDENTITY_INSERT ByValue ON");
    session->InsertRows("ByValue", explicitNames, explicitRows);
    EXPECT_EQ(CaughtError([&] { session->InsertRows("ByValue", {"FName"}, {"d"}); }).NativeError(), 545);
    session->Execute("SET IDENTITY_INSERT ByValue OFF");
    EXPECT_EQ(Scalar(*session, "SELECT @@IDENTITY"), lastByText);
    EXPECT_EQ(lastByText.ToLong(), 7);

    const std::vector<Variant> generated = {"d", "e"};
    session->Execute(InsertText("ByText", {"FName"}, generated, 0, 2));
    const Variant nextByText = Scalar(*session, "SELECT @@IDENTITY");
    session->InsertRows("ByValue", {"FName"}, generated);
    EXPECT_EQ(Scalar(*session, "SELECT @@IDENTITY"), nextByText);
    EXPECT_EQ(nextByText.ToLong(), definition.find("(1,1)") != std::string::npos ? 11 : 19);
    session->Commit();

    EXPECT_EQ(Stored(file.File(), "SELECT FID, FName FROM ByValue ORDER BY rowid"),
              Stored(file.File(), "SELECT FID, FName FROM ByText ORDER BY rowid"));
    EXPECT_EQ(
        Stored(file.File(), "SELECT current, is_null FROM closewright_identity WHERE table_name = 'ByValue'"),
        Stored(file.File(), "SELECT current, is_null FROM closewright_identity WHERE table_name = 'ByText'"));
  }
}

// A provider without a path of its own: the embedded session behind everything but InsertRows, which is
// left to DatabaseSession's default of INSERT statements sent through Execute.
class TextOnlySession final : public DatabaseSession {
 public:
  explicit TextOnlySession(DatabaseSession& inner) : inner_(inner) {}
  void Execute(std::string_view batch) override {
    ++batches_;
    inner_.Execute(batch);
  }
  ResultTable Query(std::string_view text) override { return inner_.Query(text); }
  void BeginTransaction() override { inner_.BeginTransaction(); }
  void Commit() override { inner_.Commit(); }
  void Rollback() noexcept override { inner_.Rollback(); }
  std::optional<Variant> ProviderProperty(std::string_view name) override {
    return inner_.ProviderProperty(name);
  }
  std::vector<std::string> ProviderPropertyNames() override { return inner_.ProviderPropertyNames(); }
  const std::string& ProviderName() const override { return inner_.ProviderName(); }
  int batches_ = 0;

 private:
  DatabaseSession& inner_;
};

TEST(InsertRows, OtherProvidersGetInsertStatementsThatStoreTheSame) {
  testing::TemporaryDatabase file;
  auto session = Open(file.File());
  const std::string columns =
      "(FID INT NOT NULL, FQty DECIMAL(18,4) NULL, FName VARCHAR(200) NULL, FDate DATETIME NULL)";
  session->Execute("CREATE TABLE ByText " + columns + "\r\nCREATE TABLE ByValue " + columns);
  const std::vector<std::string> names = {"FID", "FQty", "FName", "FDate"};
  std::vector<Variant> values;
  for (std::int32_t row = 0; row < 1200; ++row) {
    for (const Variant& value :
         {Variant(row), Variant(row / 7.0),
          Variant(std::string(static_cast<std::size_t>(row % 3), '\'') + std::string(160, 'k')),
          row % 5 == 0 ? Variant::Null() : Variant(MakeDate(2011, 3, 1 + row % 28, 0, 0, row % 60))})
      values.push_back(value);
  }
  TextOnlySession textOnly(*session);
  textOnly.BeginTransaction();
  textOnly.InsertRows("ByText", names, values);
  textOnly.Commit();
  // 24 statements of 50 rows, in batches of about 200 KB.
  EXPECT_EQ(textOnly.batches_, 2);
  session->InsertRows("ByValue", names, values);
  const std::string select = "SELECT FID, FQty, FName, FDate FROM ";
  EXPECT_EQ(Stored(file.File(), select + "ByValue ORDER BY rowid"),
            Stored(file.File(), select + "ByText ORDER BY rowid"));
  EXPECT_EQ(Scalar(*session, "SELECT COUNT(*) FROM ByText"), Variant(std::int32_t{1200}));
}

}  // namespace
}  // namespace closewright
