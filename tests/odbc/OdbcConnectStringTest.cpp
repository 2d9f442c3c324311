// Mapping OLE DB SQL Server connect strings to ODBC, and masking passwords.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "outside/ComError.h"
#include "outside/odbc/OdbcProvider.h"
#include "outside/odbc/OdbcText.h"
#include "tests/odbc/OdbcTestSupport.h"

namespace closewright {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct MappingCase {
  const char* oleDb;
  const char* driver;
  const char* odbc;
};

TEST(OdbcConnectStringTest, OleDbSqlServerStringsMapToOdbcKeywords) {
  const MappingCase cases[] = {
      {"Provider=SQLOLEDB;Data Source=db1;Initial Catalog=Ledger;User ID=sa;Password=pw",
       "ODBC Driver 18 for SQL Server",
       "Driver=ODBC Driver 18 for SQL Server;Server=db1;Database=Ledger;UID=sa;PWD=pw"},
      // The port stays after a comma for Microsoft's driver; FreeTDS takes it as a keyword of its own.
      {"Provider=SQLOLEDB.1;Data Source=db1,1433;Initial Catalog=Ledger;User ID=sa;Password=pw", "MSSQL",
       "Driver=MSSQL;Server=db1,1433;Database=Ledger;UID=sa;PWD=pw"},
      {"Provider=SQLOLEDB;Data Source=tcp:db1,1433;Initial Catalog=Ledger;User ID=sa;Password=pw", "FreeTDS",
       "Driver=FreeTDS;Server=db1;Port=1433;Database=Ledger;UID=sa;PWD=pw;ClientCharset=UTF-8"},
      // Odd spacing and letter case, braces and quotes around values.
      {"  provider = SQLNCLI11 ; data source = { db1\\SQLEXPRESS } ;initial catalog=\"Close;Ledger\";"
       "user id=sa;PASSWORD={p}}w;d}",
       "X", "Driver=X;Server=db1\\SQLEXPRESS;Database={Close;Ledger};UID=sa;PWD={p}}w;d}"},
      {"Provider=MSOLEDBSQL19;Server=(local);Database=Ledger;Integrated Security=SSPI;User ID=ignored", "X",
       "Driver=X;Server=localhost;Database=Ledger;Trusted_Connection=yes"},
      {"Provider=MSOLEDBSQL;Data Source=.\\SQLEXPRESS;Trusted_Connection=Yes", "X",
       "Driver=X;Server=localhost\\SQLEXPRESS;Trusted_Connection=yes"},
      // Missing parts: no host means this machine; nothing else is invented.
      {"Provider=SQLOLEDB", "X", "Driver=X;Server=localhost"},
      {"Provider=SQLOLEDB;Data Source= ,1433", "FreeTDS",
       "Driver=FreeTDS;Server=localhost;Port=1433;ClientCharset=UTF-8"},
      {"Provider=SQLOLEDB;Data Source=tcp:(local) , 1433", "X", "Driver=X;Server=tcp:localhost,1433"},
      {"Provider=SQLOLEDB;;Initial Catalog=;Persist Security Info=False;Application Name=Close;Encrypt=yes;"
       "Trust Server Certificate=True",
       "X", "Driver=X;Server=localhost;APP=Close;Encrypt=yes;TrustServerCertificate=True"},
      // Later keys replace earlier ones, as ADO reads them.
      {"Provider=SQLOLEDB;Data Source=a;Data Source=b;Initial Catalog=c", "X",
       "Driver=X;Server=b;Database=c"},
      // A driver name with a separator in it is braced.
      {"Provider=SQLOLEDB;Data Source=a", "Free;TDS", "Driver={Free;TDS};Server=a"},
  };
  for (const MappingCase& mapping : cases) {
    EXPECT_TRUE(IsOleDbSqlServerConnectString(mapping.oleDb)) << mapping.oleDb;
    EXPECT_EQ(MapOleDbConnectString(mapping.oleDb, mapping.driver), mapping.odbc) << mapping.oleDb;
  }
}

TEST(OdbcConnectStringTest, StringsOfOtherProvidersAreNotMapped) {
  for (const char* other :
       {"Driver=SQLite3;Database=x.db", "DSN=Ledger", "Provider=Closewright.SQLite;Data Source=x",
        "Provider=MSDASQL;DSN=Ledger", "", "Provider", "Provider=SQLOLEDBX;Data Source=a"}) {
    EXPECT_FALSE(IsOleDbSqlServerConnectString(other)) << other;
    try {
      MapOleDbConnectString(other);
      ADD_FAILURE() << "mapped: " << other;
    } catch (const ComError& error) {
      EXPECT_EQ(error.Number(), error_number::kOpenFailed);
    }
  }
  for (const char* badPort :
       {"Provider=SQLOLEDB;Data Source=db1,;PWD=secret", "Provider=SQLOLEDB;Data Source=db1,14x3",
        "Provider=SQLOLEDB;Data Source=db1,70000"}) {
    try {
      MapOleDbConnectString(badPort);
      ADD_FAILURE() << "mapped: " << badPort;
    } catch (const ComError& error) {
      EXPECT_THAT(error.Description(), HasSubstr("port"));
      EXPECT_THAT(error.FailingText(), Not(HasSubstr("secret")));
    }
  }
  try {
    MapOleDbConnectString("Provider=MSDASQL;DSN=Ledger;PWD=secret");
  } catch (const ComError& error) {
    EXPECT_THAT(error.Description(), Not(HasSubstr("secret")));
    EXPECT_THAT(error.FailingText(), Not(HasSubstr("secret")));
  }
}

TEST(OdbcConnectStringTest, MappedStringsUseTheDriverTheEnvironmentNames) {
  ::unsetenv("CLOSEWRIGHT_ODBC_DRIVER");
  EXPECT_EQ(OdbcDriverForMappedStrings(), "FreeTDS");
  ::setenv("CLOSEWRIGHT_ODBC_DRIVER", "ODBC Driver 18 for SQL Server", 1);
  EXPECT_EQ(OdbcDriverForMappedStrings(), "ODBC Driver 18 for SQL Server");
  ::setenv("CLOSEWRIGHT_ODBC_DRIVER", "  ", 1);
  EXPECT_EQ(OdbcDriverForMappedStrings(), "FreeTDS");
  ::unsetenv("CLOSEWRIGHT_ODBC_DRIVER");
}

// Nothing listens on port 1: the open fails at once, in FreeTDS's own words.
TEST(OdbcConnectStringTest, MappedStringReachesFreeTdsAndItsFailureHidesThePassword) {
  testing::UsePrivateOdbcRegistry();
  ::unsetenv("CLOSEWRIGHT_ODBC_DRIVER");
  try {
    OpenOdbcSession(
        "Provider=SQLOLEDB;Data Source=127.0.0.1,1;Initial Catalog=Cost;User ID=sa;Password=s3cret");
    ADD_FAILURE() << "connected to nothing";
  } catch (const ComError& error) {
    EXPECT_EQ(error.Number(), error_number::kOpenFailed);
    EXPECT_THAT(error.SqlState(), ::testing::StartsWith("08"));
    EXPECT_THAT(error.Description(), HasSubstr("Unable to connect"));
    EXPECT_THAT(error.Description(), Not(HasSubstr("s3cret")));
    EXPECT_EQ(error.FailingText(),
              "Driver=FreeTDS;Server=127.0.0.1;Port=1;Database=Cost;UID=sa;PWD=***;ClientCharset=UTF-8");
  }
}

TEST(OdbcConnectStringTest, PasswordsAreMaskedWhateverTheirForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"Driver=FreeTDS;Server=a;UID=sa;PWD=secret", "Driver=FreeTDS;Server=a;UID=sa;PWD=***"},
      {"Driver=FreeTDS;PWD={se;cr}}et};UID=sa", "Driver=FreeTDS;PWD=***;UID=sa"},
      {"Provider=SQLOLEDB;Password = \"se;cret\" ;User ID=sa",
       "Provider=SQLOLEDB;Password = *** ;User ID=sa"},
      {" pwd=secret", " pwd=***"},
      {"PWD={unclosed;secret", "PWD=***"},
      // ADO would read the quote as opening a value; the driver manager would not: mask for both.
      {"X='a;PWD=secret", "X='a;PWD=***"},
      {"UID=sa;PWD=one;Password=two", "UID=sa;PWD=***;Password=***"},
      {"Driver=X;Database=pwd", "Driver=X;Database=pwd"},
  };
  for (const auto& [given, masked] : cases) {
    EXPECT_EQ(MaskConnectStringPasswords(given), masked) << given;
  }
}

// Only a text that is nothing but the isolation statement may be replaced by a connection attribute:
// anything more would be dropped unsent.
TEST(OdbcTextTest, OnlyAWholeIsolationStatementIsRecognised) {
  using odbc_text::IsolationLevelStatement;
  EXPECT_EQ(IsolationLevelStatement("SET TRANSACTION ISOLATION LEVEL READ COMMITTED"), "READ COMMITTED");
  EXPECT_EQ(IsolationLevelStatement(" set\r\ntransaction  isolation level read UnCOMMITTED ; "),
            "READ UNCOMMITTED");
  EXPECT_EQ(IsolationLevelStatement("SET TRANSACTION ISOLATION LEVEL SERIALIZABLE"), "SERIALIZABLE");
  EXPECT_FALSE(
      IsolationLevelStatement("SET TRANSACTION ISOLATION LEVEL READ COMMITTED; DELETE OPCostBalance"));
  EXPECT_FALSE(IsolationLevelStatement("SET TRANSACTION ISOLATION LEVEL SNAPSHOT"));
  EXPECT_FALSE(IsolationLevelStatement("SELECT 'SET TRANSACTION ISOLATION LEVEL READ COMMITTED'"));
}

TEST(OdbcTextTest, TextConvertsBetweenUtf8AndUtf16) {
  using odbc_text::Utf16ToUtf8;
  using odbc_text::Utf8ToUtf16;
  const std::string text = "期末 \xF0\x9F\x93\x8A x";  // a character outside the basic plane as well
  EXPECT_EQ(Utf16ToUtf8(*Utf8ToUtf16(text)), text);
  std::size_t badByte = 0;
  EXPECT_FALSE(Utf8ToUtf16("ab\xC0\xAF", &badByte));  // overlong "/"
  EXPECT_EQ(badByte, 2u);
  EXPECT_FALSE(Utf8ToUtf16("\xED\xA0\x80"));  // a surrogate written as UTF-8
  EXPECT_FALSE(Utf8ToUtf16("\xE6\x9C"));      // cut short
  const std::u16string unpaired{u'a', char16_t{0xD800}, u'b'};
  EXPECT_EQ(Utf16ToUtf8(unpaired), "a\uFFFDb");
}

}  // namespace
}  // namespace closewright
