#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "datasource/DataSourceSupport.h"
#include "datasource/ProviderFacts.h"
#include "outside/Dictionary.h"
#include "outside/SharedProperty.h"

namespace closewright {
namespace {

using testing::TemporaryDatabase;
using testing::datasource::Description;
using testing::datasource::Execute;
using testing::datasource::MakeDataSource;
using testing::datasource::SqlTraceRecorder;
using testing::datasource::SwallowedErrorRecorder;
using testing::datasource::UniqueDbmsName;

constexpr std::string_view kSupportedProcQuery = "SELECT FProcName FROM t_SupportedProc";

void CreateSupportedProc(const TemporaryDatabase& database, const std::vector<std::string>& rows) {
  Execute(database, "CREATE TABLE t_SupportedProc (FProcName varchar(128) NULL)");
  for (const std::string& row : rows)
    Execute(database, "INSERT INTO t_SupportedProc (FProcName) VALUES (" + row + ")");
}

std::shared_ptr<SharedPropertyGroup> OpenGroup(const std::string& name) {
  SharedPropertyGroupManager manager;
  std::int32_t isolation = kLockSetGet;
  std::int32_t release = kProcess;
  bool existed = false;
  return manager.CreatePropertyGroup(name, isolation, release, existed);
}

Variant GroupValue(const std::string& group, std::string_view property) {
  bool existed = false;
  return OpenGroup(group)->CreateProperty(property, existed)->Value();
}

bool IsTrue(const Variant& value) {
  return value.Type() == VariantType::Boolean && value.ToBoolean();
}

/// What the provider itself says, read the way the fill reads it.
struct ProviderAnswers {
  explicit ProviderAnswers(const TemporaryDatabase& database) {
    Connection connection;
    connection.Open(database.ConnectString());
    Properties& properties = connection.GetProperties();
    properties.Refresh();
    name = properties.Item("DBMS Name").Value().ToString();
    version = properties.Item("DBMS Version").Value().ToString();
    multipleResults = properties.Item("Multiple Results").Value().ToBoolean();
    likeEscape = properties.Item("Like Escape Clause").Value() == Variant("Y");
    ief = properties.Item("Integrity Enhancement Facility").Value().ToBoolean();
    numeric = properties.Item("Numeric Functions").Value().ToLong();
    text = properties.Item("String Functions").Value().ToLong();
    system = properties.Item("System Functions").Value().ToLong();
    dateTime = properties.Item("Time/Date Functions").Value().ToLong();
  }
  std::string name, version;
  bool multipleResults, likeEscape, ief;
  std::int32_t numeric, text, system, dateTime;
};

TEST(DataSourceCache, FactsAndProceduresAreReadOnceAndKeptForTheProcess) {
  TemporaryDatabase database;
  CreateSupportedProc(database, {"'sp_close'", "'SP_Reopen '"});
  const ProviderAnswers provider(database);
  const std::string name = UniqueDbmsName("Facts");
  SqlTraceRecorder trace;
  const auto dataSource = MakeDataSource(Description(database, name, "7"));

  EXPECT_EQ(dataSource->DBMSVersion(), provider.version);
  EXPECT_FALSE(provider.version.empty());
  EXPECT_EQ(dataSource->MultipleResults(), provider.multipleResults);
  EXPECT_EQ(dataSource->LikeEscapeClause(), provider.likeEscape);
  EXPECT_EQ(dataSource->IEF(), provider.ief);
  EXPECT_EQ(dataSource->NumericFunctions(), provider.numeric);
  EXPECT_EQ(dataSource->StringFunctions(), provider.text);
  EXPECT_EQ(dataSource->SystemFunctions(), provider.system);
  EXPECT_EQ(dataSource->DateTimeFunctions(), provider.dateTime);

  // Names are kept exactly as stored: not trimmed, not case-folded.
  EXPECT_TRUE(dataSource->ProcSupported("sp_close"));
  EXPECT_FALSE(dataSource->ProcSupported("SP_CLOSE"));
  EXPECT_TRUE(dataSource->ProcSupported("SP_Reopen "));
  EXPECT_FALSE(dataSource->ProcSupported("SP_Reopen"));

  const std::string group = name + "7DataSource";
  EXPECT_EQ(GroupValue(group, "DBMSName"), Variant(provider.name));
  EXPECT_EQ(GroupValue(group, "ConnectString"), Variant(database.ConnectString()));
  EXPECT_TRUE(IsTrue(GroupValue(group, "Connected")));

  // Rows added later are not seen while the process lives: the table is asked once.
  Execute(database, "INSERT INTO t_SupportedProc (FProcName) VALUES ('sp_later')");
  EXPECT_FALSE(MakeDataSource(Description(database, name, "7"))->ProcSupported("sp_later"));
  EXPECT_EQ(trace.CountOf(kSupportedProcQuery), 1);
}

TEST(DataSourceCache, DescriptionsWithTheSameNameAndVersionShareOneCacheAcrossDatabases) {
  TemporaryDatabase first;
  TemporaryDatabase second;
  CreateSupportedProc(first, {"'sp_first'"});
  CreateSupportedProc(second, {"'sp_second'"});
  const std::string name = UniqueDbmsName("Shared");

  EXPECT_TRUE(MakeDataSource(Description(first, name))->ProcSupported("sp_first"));

  const auto onSecond = MakeDataSource(Description(second, name));
  EXPECT_TRUE(onSecond->ProcSupported("sp_first"));
  EXPECT_FALSE(onSecond->ProcSupported("sp_second"));
  EXPECT_EQ(GroupValue(name + "1DataSource", "ConnectString"), Variant(first.ConnectString()));

  // Another version is another cache.
  EXPECT_TRUE(MakeDataSource(Description(second, name, "2"))->ProcSupported("sp_second"));
}

TEST(DataSourceCache, MissingProcedureTableIsRaisedOnlyByProcSupportedAndEveryReadFillsAgain) {
  TemporaryDatabase database;
  Execute(database, "CREATE TABLE t_Other (FID int NULL)");
  const ProviderAnswers provider(database);
  ComError expected(0, "", "");
  try {
    Connection connection;
    connection.Open(database.ConnectString());
    Recordset recordset;
    recordset.Open(kSupportedProcQuery, connection, kOpenForwardOnly, kLockReadOnly, kCmdText);
    FAIL() << "the query was expected to fail";
  } catch (const ComError& error) {
    expected = error;
  }

  const std::string name = UniqueDbmsName("Missing");
  const std::string group = name + "1DataSource";
  const auto dataSource = MakeDataSource(Description(database, name));
  SqlTraceRecorder trace;
  SwallowedErrorRecorder swallowed;

  try {
    dataSource->ProcSupported("sp_any");
    ADD_FAILURE() << "ProcSupported was expected to raise the query's error";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), expected.Number());
    EXPECT_EQ(error.Source(), expected.Source());
    EXPECT_EQ(error.Description(), expected.Description());
    EXPECT_TRUE(error.HelpFile().empty());
    EXPECT_EQ(error.HelpContext(), 0);
  }
  EXPECT_TRUE(swallowed.Entries().empty());

  EXPECT_EQ(dataSource->DBMSVersion(), "");
  EXPECT_FALSE(dataSource->MultipleResults());
  EXPECT_EQ(dataSource->NumericFunctions(), 0);
  EXPECT_EQ(trace.CountOf(kSupportedProcQuery), 4);

  const auto reports = swallowed.Entries();
  ASSERT_EQ(reports.size(), 3U);
  for (const auto& report : reports) {
    EXPECT_EQ(report.number, expected.Number());
    EXPECT_EQ(report.description, expected.Description());
    EXPECT_EQ(report.where, "cDataSource.LoadDataSourceInfo");
  }

  // The facts a failed fill wrote stay, but the group does not count as filled.
  EXPECT_EQ(GroupValue(group, "DBMSVersion"), Variant(provider.version));
  EXPECT_FALSE(IsTrue(GroupValue(group, "Connected")));

  CreateSupportedProc(database, {"'sp_any'"});
  EXPECT_EQ(dataSource->DBMSVersion(), provider.version);
  EXPECT_TRUE(dataSource->ProcSupported("sp_any"));
  EXPECT_EQ(trace.CountOf(kSupportedProcQuery), 5);
}

TEST(DataSourceCache, EmptyProcedureTableCompletesTheFill) {
  TemporaryDatabase database;
  CreateSupportedProc(database, {});
  const std::string name = UniqueDbmsName("Empty");
  const auto dataSource = MakeDataSource(Description(database, name));

  EXPECT_FALSE(dataSource->ProcSupported("sp_close"));
  EXPECT_FALSE(dataSource->ProcSupported(""));
  EXPECT_TRUE(IsTrue(GroupValue(name + "1DataSource", "Connected")));
}

TEST(DataSourceCache, NullProcedureNameFailsTheFillAtThatRow) {
  TemporaryDatabase database;
  CreateSupportedProc(database, {"'sp_before'", "NULL", "'sp_after'"});
  const std::string name = UniqueDbmsName("NullName");
  const auto dataSource = MakeDataSource(Description(database, name));

  try {
    dataSource->ProcSupported("sp_before");
    ADD_FAILURE() << "a Null name was expected to fail the fill";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kInvalidUseOfNull);
  }
  EXPECT_EQ(dataSource->DBMSVersion(), "");
  EXPECT_FALSE(IsTrue(GroupValue(name + "1DataSource", "Connected")));
}

TEST(DataSourceCache, ProcedureListedTwiceIsSupportedAndDoesNotFailTheFill) {
  TemporaryDatabase database;
  CreateSupportedProc(database, {"'sp_twice'", "'sp_twice'"});
  const auto dataSource = MakeDataSource(Description(database, UniqueDbmsName("Twice")));

  EXPECT_TRUE(dataSource->ProcSupported("sp_twice"));
}

TEST(DataSourceCache, EmptyNameAndVersionGiveAGroupNamedDataSource) {
  TemporaryDatabase database;
  CreateSupportedProc(database, {"'sp_unnamed'"});
  const auto dataSource =
      MakeDataSource("ConnectString={" + database.ConnectString() + "};DBMS Name=;DBMS Version=");

  EXPECT_TRUE(dataSource->ProcSupported("sp_unnamed"));
  EXPECT_TRUE(IsTrue(SharedPropertyGroupManager().Group("DataSource")->Property("Connected")->Value()));
}

TEST(DataSourceCache, CachedValuesAreReadWithoutTheDatabaseOnceFilled) {
  // A group already filled answers from memory: the description's database need not even exist.
  TemporaryDatabase neverCreated;
  const std::string name = UniqueDbmsName("Prefilled");
  const auto group = OpenGroup(name + "1DataSource");
  bool existed = false;
  group->CreateProperty("NumericFunctions", existed);
  group->CreateProperty("MultipleResults", existed)->SetValue(Variant(std::int32_t{1}));
  group->CreateProperty("Connected", existed)->SetValue(Variant(true));
  const auto dataSource = MakeDataSource(Description(neverCreated, name));

  // A bitmask the provider did not offer stays Empty and reads 0; a provider's number reads as a Boolean.
  EXPECT_EQ(dataSource->NumericFunctions(), 0);
  EXPECT_TRUE(dataSource->MultipleResults());
  // A property the group does not hold is an error after the fill, and reaches the caller.
  EXPECT_THROW(dataSource->DBMSVersion(), ComError);
}

const ProviderFact& Fact(std::string_view cachedName) {
  for (const ProviderFact& fact : ProviderFacts()) {
    if (fact.cachedName == cachedName) return fact;
  }
  throw std::logic_error("no such fact");
}

Variant Cached(std::string_view cachedName, std::optional<Variant> providerValue) {
  const auto group = OpenGroup(UniqueDbmsName("Fact") + "DataSource");
  CacheProviderFact(*group, Fact(cachedName), std::move(providerValue));
  return group->Property(cachedName)->Value();
}

TEST(ProviderFacts, LikeEscapeClauseIsTrueOnlyForAnUppercaseY) {
  EXPECT_EQ(Cached("LikeEscapeClause", Variant("Y")), Variant(true));
  EXPECT_EQ(Cached("LikeEscapeClause", Variant("y")), Variant(false));
  EXPECT_EQ(Cached("LikeEscapeClause", Variant("N")), Variant(false));
  EXPECT_EQ(Cached("LikeEscapeClause", std::nullopt), Variant(false));
  EXPECT_EQ(Cached("LikeEscapeClause", Variant::Null()), Variant(false));
}

TEST(ProviderFacts, FactTheProviderCannotGiveTakesItsDefault) {
  EXPECT_EQ(Cached("DBMSName", std::nullopt), Variant(""));
  EXPECT_EQ(Cached("DBMSVersion", Variant::Null()), Variant(""));
  EXPECT_EQ(Cached("DBMSVersion", Variant()), Variant(""));
  EXPECT_EQ(Cached("MultipleResults", std::nullopt), Variant(false));
  EXPECT_EQ(Cached("IEF", Variant::Null()), Variant(false));
  // Values the provider does give are kept as given.
  EXPECT_EQ(Cached("DBMSVersion", Variant("03.40.0001")), Variant("03.40.0001"));
  EXPECT_EQ(Cached("MultipleResults", Variant(std::int32_t{1})), Variant(std::int32_t{1}));
}

TEST(ProviderFacts, BitmaskTheProviderCannotGiveKeepsWhatThePropertyHeld) {
  const auto group = OpenGroup(UniqueDbmsName("Bitmask") + "DataSource");
  const ProviderFact& numeric = Fact("NumericFunctions");
  CacheProviderFact(*group, numeric, std::nullopt);
  EXPECT_TRUE(group->Property("NumericFunctions")->Value().IsEmpty());
  CacheProviderFact(*group, numeric, Variant(std::int32_t{0x00FFFFFF}));
  CacheProviderFact(*group, numeric, std::nullopt);
  EXPECT_EQ(group->Property("NumericFunctions")->Value(), Variant(std::int32_t{0x00FFFFFF}));
}

TEST(DataSourceCache, ThreadsSeeEitherNoFillOrACompleteOne) {
  TemporaryDatabase database;
  CreateSupportedProc(database, {"'sp_shared'"});
  const ProviderAnswers provider(database);
  const std::string name = UniqueDbmsName("Threads");
  const std::string description = Description(database, name);
  const std::string groupName = name + "1DataSource";

  constexpr int kReaders = 4;
  constexpr int kObservers = 2;
  std::latch start(kReaders + kObservers);
  std::atomic<int> readersLeft{kReaders};
  std::atomic<int> wrongAnswers{0};
  std::atomic<int> tornGroups{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kReaders; ++i) {
    threads.emplace_back([&] {
      const auto dataSource = MakeDataSource(description);
      start.arrive_and_wait();
      for (int round = 0; round < 10; ++round) {
        try {
          if (!dataSource->ProcSupported("sp_shared")) ++wrongAnswers;
          if (dataSource->DBMSVersion() != provider.version) ++wrongAnswers;
        } catch (const ComError&) {
          ++wrongAnswers;
        }
      }
      --readersLeft;
    });
  }
  // Observers look at the group directly, as any other reader of the process would, for as long as the
  // readers run: whenever the group says it is filled, everything else must be there.
  for (int i = 0; i < kObservers; ++i) {
    threads.emplace_back([&] {
      const auto group = OpenGroup(groupName);
      start.arrive_and_wait();
      while (readersLeft.load() > 0) {
        bool existed = false;
        if (!IsTrue(group->CreateProperty("Connected", existed)->Value())) continue;
        const Variant procedures = group->CreateProperty("SupportedProc", existed)->Value();
        const auto list =
            procedures.IsObject() ? std::dynamic_pointer_cast<Dictionary>(procedures.ToObject()) : nullptr;
        if (!list || !list->Exists("sp_shared")) ++tornGroups;
        if (!(group->CreateProperty("ConnectString", existed)->Value() ==
              Variant(database.ConnectString()))) {
          ++tornGroups;
        }
        if (!(group->CreateProperty("DBMSVersion", existed)->Value() == Variant(provider.version)))
          ++tornGroups;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(wrongAnswers.load(), 0);
  EXPECT_EQ(tornGroups.load(), 0);
}

}  // namespace
}  // namespace closewright
