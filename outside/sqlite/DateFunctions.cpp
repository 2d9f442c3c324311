#include "outside/sqlite/DateFunctions.h"

#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <string_view>

#include "outside/CivilDate.h"
#include "outside/sqlite/SqlServerFunctions.h"

namespace closewright::sqlite {

namespace {

constexpr DateType kDateTime = DateType::Of(DateKind::DateTime);

// Every date type a column can have, with the name of its collation.
struct DateCollationEntry {
  const char* name;
  DateType type;
};
constexpr DateCollationEntry kDateCollations[] = {
    {"DT", kDateTime},
    {"DT_SMALLDATETIME", DateType::Of(DateKind::SmallDateTime)},
    {"DT_DATE", DateType::Of(DateKind::Date)},
    {"DT_DATETIME2_0", {DateKind::DateTime2, 0}},
    {"DT_DATETIME2_1", {DateKind::DateTime2, 1}},
    {"DT_DATETIME2_2", {DateKind::DateTime2, 2}},
    {"DT_DATETIME2_3", {DateKind::DateTime2, 3}},
    {"DT_DATETIME2_4", {DateKind::DateTime2, 4}},
    {"DT_DATETIME2_5", {DateKind::DateTime2, 5}},
    {"DT_DATETIME2_6", {DateKind::DateTime2, 6}},
    {"DT_DATETIME2_7", {DateKind::DateTime2, 7}},
};

// A stored value and a text compared with it are both taken as the column's type takes them, as the server
// converts the text to the column's type: '2011-04-01 10:00' equals a DATE of 2011-04-01. What reads as no
// date sorts after every date.
int CollateDates(void* type, int leftLength, const void* left, int rightLength, const void* right) {
  const std::string_view a(static_cast<const char*>(left), static_cast<std::size_t>(leftLength));
  const std::string_view b(static_cast<const char*>(right), static_cast<std::size_t>(rightLength));
  if (a == b) return 0;
  const DateType& target = *static_cast<const DateType*>(type);
  const DateConversion da = ConvertDateText(a, target);
  const DateConversion db = ConvertDateText(b, target);
  if (!da.error && !db.error) return da.ticks < db.ticks ? -1 : (da.ticks > db.ticks ? 1 : 0);
  if (!da.error) return -1;
  if (!db.error) return 1;
  return a.compare(b) < 0 ? -1 : 1;
}

}  // namespace

std::string DateCollation(DateType type) {
  for (const DateCollationEntry& entry : kDateCollations) {
    if (entry.type.kind == type.kind &&
        (type.kind != DateKind::DateTime2 || entry.type.digits == type.digits))
      return entry.name;
  }
  return "DT";
}

int RegisterDateCollations(sqlite3* db) {
  for (const DateCollationEntry& entry : kDateCollations) {
    // SQLite keeps the pointer; the table lives as long as the process.
    void* type = const_cast<DateType*>(&entry.type);
    const int rc = sqlite3_create_collation_v2(db, entry.name, SQLITE_UTF8, type, CollateDates, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

}  // namespace closewright::sqlite

namespace closewright::sqlite::functions {

namespace {

void ResultText(sqlite3_context* ctx, const std::string& text) {
  sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

// The type named by the second argument, read once per statement (SQLite keeps it with the argument);
// DATETIME when there is none. nullopt, with the error set, for a text that names no date type.
std::optional<DateType> TargetOf(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 2) return kDateTime;
  if (const auto* cached = static_cast<const DateType*>(sqlite3_get_auxdata(ctx, 1))) return *cached;
  const auto type = DateTypeOf(ReadTypeDeclaration(TextOf(argv[1])));
  if (!type) {
    sqlite3_result_error(ctx, "cw_datetime: no date type", -1);
    return std::nullopt;
  }
  sqlite3_set_auxdata(ctx, 1, new DateType(*type), [](void* p) { delete static_cast<DateType*>(p); });
  return type;
}

// The value converted to `target`; raises the server's error and answers nullopt when it converts to none.
std::optional<DateTicks> DateOf(sqlite3_context* ctx, sqlite3_value* value, DateType target,
                                bool explicitConversion) {
  const int storage = sqlite3_value_type(value);
  const DateConversion converted =
      storage == SQLITE_INTEGER || storage == SQLITE_FLOAT
          ? ConvertDaysToDate(sqlite3_value_double(value), storage == SQLITE_INTEGER, target,
                              explicitConversion)
          : ConvertDateText(TextOf(value), target);
  if (converted.error) {
    Raise(ctx, *converted.error);
    return std::nullopt;
  }
  return converted.ticks;
}

void DatePart(sqlite3_context* ctx, sqlite3_value** argv, char which) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  // A DATETIME's day as it rounds (23:59:59.999 is the next day); a DATE or DATETIME2 before 1753, which
  // DATETIME cannot hold, as written.
  std::optional<DateTicks> ticks;
  if (sqlite3_value_type(argv[0]) == SQLITE_TEXT) {
    const DateConversion converted = ConvertDateText(TextOf(argv[0]), kDateTime);
    ticks = converted.error ? ReadDateInstant(TextOf(argv[0])) : converted.ticks;
  }
  if (!ticks) ticks = DateOf(ctx, argv[0], kDateTime, false);
  if (!ticks) return;
  std::int64_t days = *ticks / kTicksPerDay;
  if (*ticks % kTicksPerDay < 0) --days;
  const CivilDate date = CivilFromDays(days + DaysFromCivil(1899, 12, 30));
  sqlite3_result_int64(ctx, which == 'y' ? date.year : (which == 'm' ? date.month : date.day));
}

}  // namespace

void DateTime(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(ctx);
  const auto target = TargetOf(ctx, argc, argv);
  if (!target) return;
  if (const auto ticks = DateOf(ctx, argv[0], *target, argc > 2))
    ResultText(ctx, FormatDate(*ticks, *target));
}

void DateTimeNeedsCanonical(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  const int storage = sqlite3_value_type(argv[0]);
  if (storage == SQLITE_NULL) return sqlite3_result_int(ctx, 0);
  const auto target = TargetOf(ctx, argc, argv);
  if (!target) return;
  const auto ticks = DateOf(ctx, argv[0], *target, false);
  if (!ticks) return;
  sqlite3_result_int(ctx, storage != SQLITE_TEXT || FormatDate(*ticks, *target) != TextOf(argv[0]) ? 1 : 0);
}

void Year(sqlite3_context* ctx, int, sqlite3_value** argv) {
  DatePart(ctx, argv, 'y');
}
void Month(sqlite3_context* ctx, int, sqlite3_value** argv) {
  DatePart(ctx, argv, 'm');
}
void Day(sqlite3_context* ctx, int, sqlite3_value** argv) {
  DatePart(ctx, argv, 'd');
}

// GETDATE() is a datetime: the clock's time at DATETIME's ticks.
void GetDate(sqlite3_context* ctx, int, sqlite3_value**) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  const std::int64_t day = DaysFromCivil(local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                         static_cast<unsigned>(local.tm_mday)) -
                           DaysFromCivil(1899, 12, 30);
  const std::int64_t time = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000LL + milliseconds;
  const DateTicks ticks = day * kTicksPerDay + time * 10'000;
  ResultText(ctx, FormatDate(RoundToType(ticks, kDateTime).value_or(ticks), kDateTime));
}

}  // namespace closewright::sqlite::functions
