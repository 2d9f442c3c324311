#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "datasource/DataSourceSupport.h"
#include "outside/Dictionary.h"
#include "outside/SharedProperty.h"

namespace closewright {
namespace {

using testing::TemporaryDatabase;
using testing::datasource::Description;
using testing::datasource::Execute;
using testing::datasource::MakeDataSource;
using testing::datasource::SqlTraceRecorder;
using testing::datasource::UniqueDbmsName;

constexpr std::string_view kCatalogueQuery =
    "select FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType, FActualSize, FBindType "
    "from t_DataTypeInfo";

void CreateCatalogue(const TemporaryDatabase& database) {
  Execute(
      database,
      "CREATE TABLE t_DataTypeInfo (FDataType int NULL, FTypeName varchar(128) NULL, FMaxPrecision int NULL, "
      "FMinScale int NULL, FMaxScale int NULL, FActualType int NULL, FActualSize int NULL, FBindType int "
      "NULL)");
}

// Values in column order: FDataType, FTypeName, FMaxPrecision, FMinScale, FMaxScale, FActualType,
// FActualSize, FBindType.
void AddType(const TemporaryDatabase& database, std::string_view values) {
  Execute(database, "INSERT INTO t_DataTypeInfo VALUES (" + std::string(values) + ")");
}

void AddSampleTypes(const TemporaryDatabase& database) {
  AddType(database, "1, 'decimal', 38, 0, 38, 131, NULL, 14");
  AddType(database, "2, 'varchar', 40, NULL, NULL, 200, NULL, 129");
  AddType(database, "3, 'int', NULL, NULL, NULL, 3, NULL, 3");
  AddType(database, "4, 'numeric() identity', 38, NULL, 38, 131, NULL, 14");
  AddType(database, "5, 'float(', 53, NULL, NULL, 5, 8, 6");
  AddType(database, "6, 'crossed', 20, 5, 2, 7, NULL, 7");
  AddType(database, "7, 'earlier', NULL, NULL, NULL, 1, NULL, 1");
  AddType(database, "7, 'later', NULL, NULL, NULL, 2, NULL, 2");
  AddType(database, "8, 'untyped', NULL, NULL, NULL, NULL, NULL, NULL");
  AddType(database, "9, NULL, NULL, NULL, NULL, 9, NULL, 4");
}

/// The by-reference arguments of GetTypeName / GetActualType, preset so that a change shows.
struct Arguments {
  std::int32_t precision;
  std::int32_t scale;
  std::int32_t actualType = -7;
  std::int32_t actualSize = -7;
  std::int32_t bindType = -7;
};

class DataTypeCatalogue : public ::testing::Test {
 protected:
  DataTypeCatalogue() {
    CreateCatalogue(database_);
    AddSampleTypes(database_);
  }

  std::string TypeName(std::int32_t code, Arguments& arguments) {
    return dataSource_->GetTypeName(code, arguments.precision, arguments.scale, arguments.actualType,
                                    arguments.actualSize, arguments.bindType);
  }
  std::int32_t ActualType(std::int32_t code, Arguments& arguments) {
    return dataSource_->GetActualType(code, arguments.precision, arguments.scale, arguments.actualSize,
                                      arguments.bindType);
  }

  TemporaryDatabase database_;
  std::string name_ = UniqueDbmsName("Types");
  std::unique_ptr<cDataSource> dataSource_ = MakeDataSource(Description(database_, name_));
};

TEST_F(DataTypeCatalogue, PrecisionAndScaleWithinBoundsAreWrittenIntoTheName) {
  Arguments arguments{18, 4};
  EXPECT_EQ(TypeName(1, arguments), "decimal(18,4)");
  EXPECT_EQ(arguments.precision, 18);
  EXPECT_EQ(arguments.scale, 4);
  EXPECT_EQ(arguments.actualType, 131);
  EXPECT_EQ(arguments.actualSize, 18);  // no size of its own: the precision
  EXPECT_EQ(arguments.bindType, 14);
  EXPECT_EQ(dataSource_->GetBindType(1), 14);

  // Arguments are not validated: a negative precision is written as it is.
  Arguments negative{-3, 4};
  EXPECT_EQ(TypeName(1, negative), "decimal(-3,4)");
}

TEST_F(DataTypeCatalogue, ScaleIsClampedUpperBoundFirst) {
  Arguments tooLarge{18, 40};
  EXPECT_EQ(TypeName(1, tooLarge), "decimal(18,38)");
  EXPECT_EQ(tooLarge.scale, 38);

  Arguments tooSmall{18, -1};
  EXPECT_EQ(TypeName(1, tooSmall), "decimal(18,0)");
  EXPECT_EQ(tooSmall.scale, 0);

  // Bounds that cross (minimum 5, maximum 2): the lower bound is applied last and wins.
  Arguments crossed{10, 3};
  EXPECT_EQ(TypeName(6, crossed), "crossed(10,5)");
  EXPECT_EQ(crossed.scale, 5);

  Arguments actual{18, 40};
  EXPECT_EQ(ActualType(1, actual), 131);
  EXPECT_EQ(actual.scale, 38);
}

TEST_F(DataTypeCatalogue, PrecisionOverTheMaximumGivesNothingAndChangesNothing) {
  Arguments tooLong{50, 3};
  EXPECT_EQ(TypeName(2, tooLong), "");
  EXPECT_EQ(ActualType(2, tooLong), 0);
  EXPECT_EQ(tooLong.precision, 50);
  EXPECT_EQ(tooLong.scale, 3);
  EXPECT_EQ(tooLong.actualType, -7);
  EXPECT_EQ(tooLong.actualSize, -7);
  EXPECT_EQ(tooLong.bindType, -7);

  // At the maximum: no scale part, since the type has no maximum scale, and the scale is left alone.
  Arguments atMaximum{40, 3};
  EXPECT_EQ(TypeName(2, atMaximum), "varchar(40)");
  EXPECT_EQ(atMaximum.scale, 3);
  EXPECT_EQ(atMaximum.actualSize, 40);
}

TEST_F(DataTypeCatalogue, TypeWithoutPrecisionKeepsItsBareName) {
  Arguments named{10, 2};
  EXPECT_EQ(TypeName(3, named), "int");
  EXPECT_EQ(named.precision, 0);
  EXPECT_EQ(named.scale, 0);
  EXPECT_EQ(named.actualSize, 0);
  EXPECT_EQ(named.actualType, 3);

  // The actual type leaves precision and scale alone, so the size falls back to the caller's precision.
  Arguments actual{10, 2};
  EXPECT_EQ(ActualType(3, actual), 3);
  EXPECT_EQ(actual.precision, 10);
  EXPECT_EQ(actual.scale, 2);
  EXPECT_EQ(actual.actualSize, 10);
  EXPECT_EQ(actual.bindType, 3);
}

TEST_F(DataTypeCatalogue, ParenthesesInTheNameMarkWherePrecisionAndScaleGo) {
  Arguments identity{10, 2};
  EXPECT_EQ(TypeName(4, identity), "numeric(10,2) identity");

  Arguments unclosed{8, 2};
  EXPECT_EQ(TypeName(5, unclosed), "float(8)");
  EXPECT_EQ(unclosed.actualSize, 8);  // the catalogue's own size
  EXPECT_EQ(unclosed.bindType, 6);
}

TEST_F(DataTypeCatalogue, RepeatedCodeTakesTheRowReadLater) {
  Arguments arguments{0, 0};
  EXPECT_EQ(TypeName(7, arguments), "later");
  EXPECT_EQ(dataSource_->GetBindType(7), 2);
}

TEST_F(DataTypeCatalogue, NullCatalogueValueFailsOnlyTheMemberThatConvertsIt) {
  Arguments untyped{0, 0};
  try {
    TypeName(8, untyped);
    ADD_FAILURE() << "a Null actual type was expected to fail";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kInvalidUseOfNull);
  }
  EXPECT_THROW(dataSource_->GetBindType(8), ComError);

  Arguments unnamed{0, 0};
  EXPECT_THROW(TypeName(9, unnamed), ComError);
  EXPECT_EQ(dataSource_->GetBindType(9), 4);
}

TEST_F(DataTypeCatalogue, AbsentCodeFails) {
  EXPECT_EQ(dataSource_->GetBindType(1), 14);
  try {
    dataSource_->GetBindType(999);
    ADD_FAILURE() << "an absent code was expected to fail";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kInvalidArgument);
  }
}

TEST_F(DataTypeCatalogue, CatalogueIsReadOnceWithItsEightColumnsAsEachRowsDictionary) {
  SqlTraceRecorder trace;
  EXPECT_EQ(dataSource_->GetBindType(1), 14);
  Execute(database_, "DELETE FROM t_DataTypeInfo WHERE FDataType = 1");
  EXPECT_EQ(MakeDataSource(Description(database_, name_))->GetBindType(1), 14);
  EXPECT_EQ(trace.CountOf(kCatalogueQuery), 1);

  const auto row = std::dynamic_pointer_cast<Dictionary>(
      SharedPropertyGroupManager().Group(name_ + "1DataTypeInfo")->PropertyByPosition(1)->Value().ToObject());
  ASSERT_TRUE(row);
  std::vector<std::string> keys;
  for (const auto& [key, value] : row->Entries()) keys.push_back(key);
  EXPECT_EQ(keys, (std::vector<std::string>{"FDataType", "FTypeName", "FMaxPrecision", "FMinScale",
                                            "FMaxScale", "FActualType", "FActualSize", "FBindType"}));
  EXPECT_EQ(row->Item("FTypeName"), Variant("decimal"));
  EXPECT_TRUE(row->Item("FActualSize").IsNull());
}

TEST_F(DataTypeCatalogue, CatalogueIsSharedByDatabasesWithTheSameNameAndVersion) {
  EXPECT_EQ(dataSource_->GetBindType(2), 129);
  TemporaryDatabase withoutCatalogue;
  EXPECT_EQ(MakeDataSource(Description(withoutCatalogue, name_))->GetBindType(2), 129);
}

TEST(DataTypeCatalogueLoad, FailedLoadLeavesTheGroupEmptyForTheProcess) {
  TemporaryDatabase database;
  Execute(database, "CREATE TABLE t_Other (FID int NULL)");
  const std::string description = Description(database, UniqueDbmsName("NoCatalogue"));

  try {
    MakeDataSource(description)->GetBindType(1);
    ADD_FAILURE() << "the missing table was expected to fail the load";
  } catch (const ComError& error) {
    EXPECT_NE(error.Number(), error_number::kInvalidArgument);
    EXPECT_NE(error.Description().find("t_DataTypeInfo"), std::string::npos) << error.Description();
  }

  // The table arriving later changes nothing: a group is loaded only by the call that creates it.
  CreateCatalogue(database);
  AddSampleTypes(database);
  try {
    MakeDataSource(description)->GetBindType(1);
    ADD_FAILURE() << "the code was expected to stay absent";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kInvalidArgument);
  }
}

TEST(DataTypeCatalogueLoad, LoadStoppedByANullCodeKeepsTheRowsBeforeIt) {
  TemporaryDatabase database;
  CreateCatalogue(database);
  AddType(database, "1, 'decimal', 38, 0, 38, 131, NULL, 14");
  AddType(database, "NULL, 'broken', NULL, NULL, NULL, 0, NULL, 0");
  AddType(database, "3, 'int', NULL, NULL, NULL, 3, NULL, 3");
  const auto dataSource = MakeDataSource(Description(database, UniqueDbmsName("NullCode")));

  try {
    dataSource->GetBindType(1);
    ADD_FAILURE() << "a Null code was expected to fail the load";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kInvalidUseOfNull);
  }
  EXPECT_EQ(dataSource->GetBindType(1), 14);
  EXPECT_THROW(dataSource->GetBindType(3), ComError);
}

TEST(DataTypeCatalogueLoad, ConcurrentFirstLookupsAllSeeTheWholeCatalogue) {
  TemporaryDatabase database;
  CreateCatalogue(database);
  AddSampleTypes(database);
  const std::string description = Description(database, UniqueDbmsName("Concurrent"));

  constexpr int kThreads = 6;
  std::latch start(kThreads);
  std::atomic<int> wrongAnswers{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      const auto dataSource = MakeDataSource(description);
      start.arrive_and_wait();
      try {
        std::int32_t precision = 10, scale = 2, actualType = 0, actualSize = 0, bindType = 0;
        if (dataSource->GetTypeName(4, precision, scale, actualType, actualSize, bindType) !=
            "numeric(10,2) identity") {
          ++wrongAnswers;
        }
        if (dataSource->GetBindType(9) != 4) ++wrongAnswers;
      } catch (const ComError&) {
        ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(wrongAnswers.load(), 0);
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace closewright
