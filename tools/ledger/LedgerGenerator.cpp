#include "tools/ledger/LedgerGenerator.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <utility>

#include "outside/Ado.h"
#include "outside/CivilDate.h"
#include "outside/ComError.h"
#include "outside/ObjectContext.h"
#include "outside/Text.h"

namespace closewright::ledger {
namespace {

constexpr std::string_view kSource = "Closewright.Ledger";

// Rows go to the connection as values, about 32,000 values (some 1.3 MB) at a time: enough that a load's
// fixed costs (a prepared INSERT, a savepoint) vanish beside its rows, little enough to hold.
constexpr std::size_t kValuesPerLoad = 32 * 1024;

constexpr std::int32_t kFirstTaskId = 1001;
constexpr int kPeriods = 3;  // two archived periods and the current one
constexpr int kCurrent = kPeriods - 1;
constexpr int kCostItems = 3;  // 1 material, 2 labour, 3 overhead
constexpr std::int32_t kStandardDataBillType = 1011111;

ComError BadOption(const std::string& text) {
  return ComError(error_number::kInvalidArgument, std::string(kSource), text);
}

// ---------------------------------------------------------------------------------------------------------
// Deterministic randomness: every value is drawn from a stream keyed by the seed and by what it is for, so
// that each table can be written on its own and still agree with the others.

std::uint64_t SplitMix(std::uint64_t& state) {
  state += 0x9E3779B97F4A7C15ULL;
  std::uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

class Random {
 public:
  Random(std::uint64_t seed, std::uint64_t purpose, std::uint64_t a = 0, std::uint64_t b = 0) : state_(seed) {
    for (std::uint64_t key : {purpose, a, b}) {
      state_ ^= key + 0x632BE59BD9B4E019ULL;
      SplitMix(state_);
    }
  }
  std::uint64_t Next() { return SplitMix(state_); }
  // Uniform in [low, high].
  std::int32_t Between(std::int32_t low, std::int32_t high) {
    const auto span = static_cast<std::uint64_t>(static_cast<std::int64_t>(high) - low + 1);
    return static_cast<std::int32_t>(low + static_cast<std::int64_t>(Next() % span));
  }
  bool Chance(int percent) { return Between(0, 99) < percent; }

 private:
  std::uint64_t state_;
};

enum Purpose : std::uint64_t {
  kTaskPurpose = 1,
  kCalcPurpose,
  kStandardPurpose,
  kBillPurpose,
  kDeputyPurpose
};

// ---------------------------------------------------------------------------------------------------------
// Fixed-point values: quantities, amounts and prices are kept in ten-thousandths so that the text sent is
// exact and the same on every machine.

using Fixed = std::int64_t;
constexpr Fixed kUnit = 10000;

std::string FormatFixed(Fixed value) {
  std::string text;
  if (value < 0) {
    text += '-';
    value = -value;
  }
  text += std::to_string(value / kUnit);
  Fixed fraction = value % kUnit;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction);
    digits.insert(0, 4 - digits.size(), '0');
    while (digits.back() == '0') digits.pop_back();
    text += '.';
    text += digits;
  }
  return text;
}

// ---------------------------------------------------------------------------------------------------------
// Calendar: the periods are calendar months, as the calendar stand-in has them.

struct Day {
  int year, month, day;
};

std::int64_t DaysFromCivil(Day d) {
  return closewright::DaysFromCivil(d.year, static_cast<unsigned>(d.month), static_cast<unsigned>(d.day));
}

Day CivilFromDays(std::int64_t days) {
  const CivilDate date = closewright::CivilFromDays(days);
  return {static_cast<int>(date.year), static_cast<int>(date.month), static_cast<int>(date.day)};
}

Day AddDays(Day d, std::int64_t days) {
  return CivilFromDays(DaysFromCivil(d) + days);
}

std::string TwoDigits(int value) {
  std::string text = value < 10 ? "0" : "";
  text += std::to_string(value);
  return text;
}

// A prefix followed by a number, padded with zeros to `width` digits. Built by appending: GCC 12 warns
// falsely (-Wrestrict) about chains of "literal" + std::string at -O2.
std::string Tagged(std::string_view prefix, std::int64_t number, std::size_t width = 0) {
  const std::string digits = std::to_string(number);
  std::string text(prefix);
  if (digits.size() < width) text.append(width - digits.size(), '0');
  text += digits;
  return text;
}

// Dates go to the database as 'yyyymmdd', the one form SQL Server reads alike under every language and
// DATEFORMAT setting.
std::string DateLiteral(Day d) {
  std::string text = Tagged("'", d.year);
  text += TwoDigits(d.month);
  text += TwoDigits(d.day);
  text += '\'';
  return text;
}

struct Period {
  int year = 0;
  int period = 0;
  std::string key;  // '2011.03'
  Day first{}, last{};
  std::int32_t Length() const {
    return static_cast<std::int32_t>(DaysFromCivil(last) - DaysFromCivil(first)) + 1;
  }
};

Period MakePeriod(int year, int period) {
  Period p;
  p.year = year;
  p.period = period;
  p.key = Tagged("", year);
  p.key += '.';
  p.key += TwoDigits(period);
  p.first = {year, period, 1};
  p.last = AddDays(period == 12 ? Day{year + 1, 1, 1} : Day{year, period + 1, 1}, -1);
  return p;
}

// ---------------------------------------------------------------------------------------------------------
// The plan of one production task, and what the cost calculation left for it in one period.

struct TaskPlan {
  std::int32_t id = 0;
  TaskState state = TaskState::Open;
  int born = kCurrent;        // first period with cost rows
  int lastActive = kCurrent;  // last period with cost rows
  std::int32_t dept = 0;
  std::array<std::int32_t, 2> centres{};
  int centreCount = 1;
  std::int32_t product = 0;
  Fixed qty = 0;
  bool inProcessLeft = true;     // closed with remainder: still in process (else only not yet stocked)
  bool zeroAtPeriodEnd = false;  // closed after the period end with nothing left
  std::int32_t status = 1;
  std::int32_t closedFlag = 0;
  std::int32_t cancellation = 0;
  Day checkDate{};
  bool hasCloseDate = false;
  Day closeDate{};
  std::string billNo;
};

struct MaterialCalc {
  std::int32_t materiel = 0;
  std::string batch;
  Fixed onlineQty = 0, notStockQty = 0, onlineAmount = 0, overQty = 0, overAmount = 0;
};

struct CentreCalc {
  std::int32_t centre = 0;
  Fixed input = 0, output = 0, wip = 0, notStock = 0, scrap = 0;
  std::array<Fixed, kCostItems> online{}, over{}, unitCost{};
  std::vector<MaterialCalc> materials;
};

enum class Mode { Running, NotStockOnly, Finished, AmountsCancel };

struct Sizes {
  std::int32_t depts, products, materials, deputies, bills;
};

std::int32_t Clamp(std::int64_t value, std::int32_t low, std::int32_t high) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, low, high));
}

class Ledger {
 public:
  explicit Ledger(const LedgerOptions& options) : options_(options) {
    if (options.tasks < 0 || options.tasks > 10'000'000) {
      throw BadOption("the number of production tasks must lie between 0 and 10000000, not " +
                      std::to_string(options.tasks));
    }
    if (options.period < 1 || options.period > 12) {
      throw BadOption("the period must lie between 1 and 12 (calendar months), not " +
                      std::to_string(options.period));
    }
    if (options.year < 1901 || options.year > 9998) {
      throw BadOption("the year must lie between 1901 and 9998, not " + std::to_string(options.year));
    }
    int year = options.year;
    int period = options.period;
    for (int q = kCurrent; q >= 0; --q) {
      periods_[static_cast<std::size_t>(q)] = MakePeriod(year, period);
      if (--period == 0) {
        period = 12;
        --year;
      }
    }
    const std::int64_t n = options.tasks;
    sizes_ = {Clamp(n / 100, 2, 40), Clamp(n / 20, 3, 500), Clamp(n / 5, 6, 5000), Clamp(n / 50, 2, 200),
              Clamp(n / 25, 2, 4000)};
  }

  const LedgerOptions& Options() const { return options_; }
  const Sizes& Size() const { return sizes_; }
  const Period& PeriodAt(int q) const { return periods_[static_cast<std::size_t>(q)]; }

  static std::int32_t DeptId(std::int32_t d) { return 100 + d; }
  // Three cost centres per department.
  static std::int32_t CentreId(std::int32_t dept, int k) { return 1000 + (dept - 1) * 3 + k + 1; }
  static std::int32_t ProductId(std::int32_t p) { return 5000 + p; }
  static std::int32_t MaterialId(std::int32_t m) { return 20000 + m; }
  static std::int32_t StandardId(int item) { return 300 + item; }

  TaskPlan Plan(std::int32_t index) const {
    TaskPlan t;
    t.id = kFirstTaskId + index;
    Random r(options_.seed, kTaskPurpose, static_cast<std::uint64_t>(index));
    if (index < kTaskStateCount) {
      t.state = static_cast<TaskState>(index);
    } else {
      static constexpr std::array<int, kTaskStateCount> kWeights{46, 12, 12, 3, 3, 8, 8, 8};
      int pick = r.Between(0, 99);
      int s = 0;
      while (pick >= kWeights[static_cast<std::size_t>(s)]) pick -= kWeights[static_cast<std::size_t>(s++)];
      t.state = static_cast<TaskState>(s);
    }
    t.dept = r.Between(1, sizes_.depts);
    t.centres[0] = CentreId(t.dept, r.Between(0, 2));
    if (r.Chance(40)) {
      t.centreCount = 2;
      const std::int32_t other = r.Between(1, sizes_.depts);
      t.centres[1] = CentreId(other, r.Between(0, 2));
      if (t.centres[1] == t.centres[0]) t.centreCount = 1;
    }
    t.product = ProductId(r.Between(1, sizes_.products));
    t.qty = r.Between(10, 500) * 10 * kUnit;
    t.inProcessLeft = r.Between(0, 2) != 0;
    t.zeroAtPeriodEnd = r.Chance(50);
    if (t.state == TaskState::ClosedEarlier) {
      t.born = r.Between(0, kCurrent - 1);
      t.lastActive = r.Between(t.born, kCurrent - 1);
    } else {
      const int draw = r.Between(0, 99);
      t.born = draw < 20 ? 0 : draw < 55 ? 1 : 2;
      t.lastActive = kCurrent;
    }
    const Period& bornIn = PeriodAt(t.born);
    t.checkDate = AddDays(bornIn.first, r.Between(0, bornIn.Length() - 1));
    const Period& current = PeriodAt(kCurrent);
    const Day dayAfterEnd = AddDays(current.last, 1);
    switch (t.state) {
      case TaskState::Open:
        t.status = r.Between(1, 2);
        break;
      case TaskState::ClosedWithRemainder:
      case TaskState::ClosedWithoutRemainder:
      case TaskState::ClosedAmountsCancel:
      case TaskState::ClosedByHand:
        t.status = 3;
        t.hasCloseDate = true;
        // The first task closed without remainder closes on the period's last day, just inside the period.
        t.closeDate = index < kTaskStateCount && t.state == TaskState::ClosedWithoutRemainder
                          ? current.last
                          : AddDays(current.first, r.Between(0, current.Length() - 1));
        t.closedFlag = t.state == TaskState::ClosedByHand ? 1 : 0;
        break;
      case TaskState::ClosedAfterPeriodEnd:
        t.status = 3;
        t.hasCloseDate = true;
        // The first one closes exactly on the day after the period end, the earliest date that counts.
        t.closeDate = AddDays(dayAfterEnd, index < kTaskStateCount ? 0 : r.Between(0, 9));
        break;
      case TaskState::Cancelled:
        t.cancellation = 1;
        if (r.Chance(40)) {
          t.status = 3;
          t.hasCloseDate = true;
          t.closeDate = AddDays(current.first, r.Between(0, current.Length() - 1));
        } else {
          t.status = 1;
        }
        break;
      case TaskState::ClosedEarlier: {
        const Period& closedIn = PeriodAt(t.lastActive);
        t.status = 3;
        t.hasCloseDate = true;
        t.closeDate = AddDays(closedIn.first, r.Between(0, closedIn.Length() - 1));
        if (DaysFromCivil(t.closeDate) < DaysFromCivil(t.checkDate)) t.closeDate = t.checkDate;
        break;
      }
    }
    t.billNo = Tagged("WORK", index + 1, 6);
    return t;
  }

  static bool Alive(const TaskPlan& t, int q) { return t.born <= q && q <= t.lastActive; }

  static Mode ModeIn(const TaskPlan& t, int q) {
    if (q < t.lastActive) return Mode::Running;
    if (q < kCurrent) return Mode::Finished;  // closed in an earlier period with nothing left
    switch (t.state) {
      case TaskState::Open:
      case TaskState::Cancelled:
        return Mode::Running;
      case TaskState::ClosedWithRemainder:
        return t.inProcessLeft ? Mode::Running : Mode::NotStockOnly;
      case TaskState::ClosedWithoutRemainder:
      case TaskState::ClosedEarlier:
        return Mode::Finished;
      case TaskState::ClosedAmountsCancel:
      case TaskState::ClosedByHand:
        return Mode::AmountsCancel;
      case TaskState::ClosedAfterPeriodEnd:
        return t.zeroAtPeriodEnd ? Mode::Finished : Mode::Running;
    }
    return Mode::Running;
  }

  // What the cost calculation of period q left for the task, per cost centre.
  std::vector<CentreCalc> Calc(const TaskPlan& t, int q) const {
    Random r(options_.seed, kCalcPurpose, static_cast<std::uint64_t>(t.id), static_cast<std::uint64_t>(q));
    const Mode mode = ModeIn(t, q);
    std::vector<CentreCalc> result(static_cast<std::size_t>(t.centreCount));
    for (int k = 0; k < t.centreCount; ++k) {
      CentreCalc& c = result[static_cast<std::size_t>(k)];
      c.centre = t.centres[static_cast<std::size_t>(k)];
      c.output = r.Between(0, 300) * kUnit;
      c.scrap = r.Chance(15) ? r.Between(1, 5) * kUnit : 0;
      const Fixed wip = r.Between(2, 200) * (kUnit / 2);
      const Fixed notStock = r.Chance(50) ? r.Between(1, 50) * kUnit : 0;
      c.unitCost = {r.Between(100, 2000) * 100, r.Between(50, 800) * 100, r.Between(20, 500) * 100};
      switch (mode) {
        case Mode::Running:
          c.wip = wip;
          c.notStock = notStock;
          break;
        case Mode::NotStockOnly:
          c.notStock = notStock == 0 ? r.Between(1, 50) * kUnit : notStock;
          break;
        case Mode::Finished:
        case Mode::AmountsCancel:
          break;
      }
      c.input = c.output + c.wip + c.scrap;
      for (std::size_t i = 0; i < kCostItems; ++i) {
        c.online[i] = c.wip * c.unitCost[i] / kUnit;
        c.over[i] = c.output * c.unitCost[i] / kUnit;
      }
      // Amounts left in process that add up to exactly zero: 0.10 + 0.20 - 0.30.
      if (mode == Mode::AmountsCancel && k == 0) c.online = {kUnit / 10, kUnit / 5, -3 * kUnit / 10};
      const int materialCount = r.Between(1, 2);
      for (int m = 0; m < materialCount; ++m) {
        MaterialCalc material;
        material.materiel = MaterialId(r.Between(1, sizes_.materials));
        if (r.Chance(30)) {
          material.batch = Tagged("B", PeriodAt(q).year);
          material.batch += TwoDigits(PeriodAt(q).period);
          material.batch += Tagged("-", r.Between(1, 99));
        }
        const Fixed ratio = r.Between(1, 4);
        const Fixed price = r.Between(50, 500) * 100;
        material.onlineQty = c.wip * ratio;
        material.notStockQty = c.notStock * ratio;
        material.onlineAmount = material.onlineQty * price / kUnit;
        material.overQty = c.output * ratio;
        material.overAmount = material.overQty * price / kUnit;
        c.materials.push_back(std::move(material));
      }
    }
    return result;
  }

 private:
  LedgerOptions options_;
  std::array<Period, kPeriods> periods_;
  Sizes sizes_{};
};

// ---------------------------------------------------------------------------------------------------------
// Writing rows: values bound into the provider's INSERT, a checksum over their literals.

class Checksum {
 public:
  void Add(std::string_view text) {
    for (char c : text) {
      value_ ^= static_cast<unsigned char>(c);
      value_ *= 0x100000001B3ULL;
    }
    value_ ^= 0xFF;
    value_ *= 0x100000001B3ULL;
  }
  std::uint64_t Value() const { return value_; }

 private:
  std::uint64_t value_ = 0xCBF29CE484222325ULL;
};

// One row's values, to be bound as they are, and their SQL literals comma-separated: the checksum is taken
// over that text, which is what the generator sent before it had a path without text.
class Values {
 public:
  // Room for the widest row at once: a row is built value by value, millions of times.
  Values() {
    text_.reserve(256);
    values_.reserve(20);
  }
  Values& Int(std::int64_t value) {
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
      throw BadOption("a generated whole number lies beyond the int range: " + std::to_string(value));
    values_.emplace_back(static_cast<std::int32_t>(value));
    return Append(std::to_string(value));
  }
  // Ten-thousandths: the double nearest the decimal, as SQLite reads the literal and stores the decimal.
  Values& Dec(Fixed value) {
    values_.emplace_back(static_cast<double>(value) / static_cast<double>(kUnit));
    return Append(FormatFixed(value));
  }
  Values& Text(std::string_view value) {
    values_.emplace_back(std::string(value));
    return Append(QuoteSqlText(value));
  }
  Values& Date(Day value) {
    values_.emplace_back(MakeDate(value.year, value.month, value.day));
    return Append(DateLiteral(value));
  }
  Values& Null() {
    values_.push_back(Variant::Null());
    return Append("NULL");
  }
  // Appends the values of another Values.
  Values& Raw(const Values& other) {
    values_.insert(values_.end(), other.values_.begin(), other.values_.end());
    return Append(other.text_);
  }
  const std::string& Str() const { return text_; }
  const std::vector<Variant>& Items() const { return values_; }

 private:
  Values& Append(std::string_view literal) {
    if (!text_.empty()) text_ += ',';
    text_ += literal;
    return *this;
  }
  std::string text_;
  std::vector<Variant> values_;
};

// Rows of one table, handed to the connection some thousands at a time (Connection::InsertRows: the
// embedded provider binds them into one prepared INSERT; other providers get INSERT statements).
class TableWriter {
 public:
  TableWriter(Connection& connection, Checksum& checksum, std::string table, const std::string& columns,
              bool explicitIdentity)
      : connection_(connection),
        checksum_(checksum),
        table_(std::move(table)),
        explicitIdentity_(explicitIdentity) {
    for (std::size_t at = 0; at <= columns.size();) {
      const std::size_t comma = std::min(columns.find(',', at), columns.size());
      columns_.push_back(columns.substr(at, comma - at));
      at = comma + 1;
    }
    checksum_.Add(table_);
  }

  void Row(const Values& values) {
    checksum_.Add(values.Str());
    if (values.Items().size() != columns_.size()) {
      throw BadOption("a row of " + table_ + " has " + std::to_string(values.Items().size()) +
                      " values for " + std::to_string(columns_.size()) + " columns");
    }
    // One table at a time may have IDENTITY_INSERT on.
    if (explicitIdentity_ && !identityInsertOn_) {
      connection_.Execute("SET IDENTITY_INSERT " + table_ + " ON");
      identityInsertOn_ = true;
    }
    pending_.insert(pending_.end(), values.Items().begin(), values.Items().end());
    ++rows_;
    if (pending_.size() >= kValuesPerLoad) Flush();
  }

  std::int64_t Finish() {
    Flush();
    if (identityInsertOn_) connection_.Execute("SET IDENTITY_INSERT " + table_ + " OFF");
    identityInsertOn_ = false;
    return rows_;
  }

  const std::string& Table() const { return table_; }

 private:
  void Flush() {
    if (pending_.empty()) return;
    connection_.InsertRows(table_, columns_, pending_);
    pending_.clear();
  }

  Connection& connection_;
  Checksum& checksum_;
  std::string table_;
  std::vector<std::string> columns_;
  bool explicitIdentity_;
  bool identityInsertOn_ = false;
  std::vector<Variant> pending_;
  std::int64_t rows_ = 0;
};

// How the archive steps number history rows, so that the archived periods look as the close left them.
enum class Numbering {
  KeptFid,          // history keeps the live FID; the live table is never truncated
  Renumbered,       // history FID = live FID + (MAX(FID)+1, or 0 when empty); the live table is truncated
  DistributionRule  // history FID = live FID + (MAX(FID)+1, or 1 when empty); the live table is never
                    // truncated
};

// Row emitter for one period: calls `row(values)` for every row of the period in the order the close
// inserted them, without the FID.
using PeriodRows = std::function<void(int q, const std::function<void(const Values&)>& row)>;

struct Sample {
  std::int64_t fid;
  int q;
};

// The production tasks' plans, drawn afresh each time they are walked rather than held: a million plans
// would take over 100 MB, and drawing one costs far less than writing its rows.
class TaskPlans {
 public:
  class Iterator {
   public:
    Iterator(const Ledger& ledger, std::int32_t index) : ledger_(&ledger), index_(index) {}
    TaskPlan operator*() const { return ledger_->Plan(index_); }
    Iterator& operator++() {
      ++index_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return index_ != other.index_; }

   private:
    const Ledger* ledger_;
    std::int32_t index_;
  };

  explicit TaskPlans(const Ledger& ledger) : ledger_(ledger) {}
  Iterator begin() const { return Iterator(ledger_, 0); }
  Iterator end() const { return Iterator(ledger_, Count()); }
  std::int32_t Count() const { return ledger_.Options().tasks; }
  TaskPlan At(std::int32_t index) const { return ledger_.Plan(index); }

 private:
  const Ledger& ledger_;
};

class Generator {
 public:
  Generator(const LedgerOptions& options, Connection& connection)
      : ledger_(options), connection_(connection), tasks_(ledger_) {}

  LedgerSummary Run() {
    WriteSystemTables();
    WriteTasks();
    WriteBalances();
    WriteObjectDetails();
    WriteCalculations();
    WriteDistributions();
    WriteDeputies();
    WriteSettings();
    WriteStandardDataBills();
    WriteCounters();
    WriteAdjustments();
    LedgerSummary summary;
    for (const std::string& table : SchemaTableNames()) {
      const auto found = counts_.find(table);
      summary.tables.push_back({table, found == counts_.end() ? 0 : found->second});
    }
    summary.checksum = checksum_.Value();
    return summary;
  }

 private:
  TableWriter Writer(std::string table, const std::string& columns, bool explicitIdentity) {
    return TableWriter(connection_, checksum_, std::move(table), columns, explicitIdentity);
  }
  void Done(TableWriter& writer) { counts_[writer.Table()] += writer.Finish(); }

  Values PeriodValues(int q) const {
    const Period& p = ledger_.PeriodAt(q);
    Values v;
    v.Int(p.year).Int(p.period).Text(p.key);
    return v;
  }

  // Writes a live table (the current period) and its history twin (the earlier periods), numbering the
  // rows as the live table and the archive steps would have. Returns the FIDs given to every
  // `sampleEvery`-th row, for adjustments that refer to rows by FID.
  std::vector<Sample> WriteArchived(const std::string& table, const std::string& columns, Numbering numbering,
                                    const PeriodRows& rows, int sampleEvery = 0) {
    std::vector<Sample> samples;
    TableWriter history = Writer(table + "_History", "FID," + columns, false);
    std::int64_t liveFid = 0;
    std::int64_t historyMax = -1;  // none yet
    std::int64_t counter = 0;
    for (int q = 0; q < kCurrent; ++q) {
      if (numbering == Numbering::Renumbered) liveFid = 0;
      const std::int64_t offset = numbering == Numbering::KeptFid      ? 0
                                  : historyMax >= 0                    ? historyMax + 1
                                  : numbering == Numbering::Renumbered ? 0
                                                                       : 1;
      rows(q, [&](const Values& values) {
        const std::int64_t fid = ++liveFid + offset;
        historyMax = std::max(historyMax, fid);
        if (sampleEvery > 0 && ++counter % sampleEvery == 0) samples.push_back({fid, q});
        history.Row(Prefixed(fid, values));
      });
    }
    Done(history);
    if (numbering == Numbering::Renumbered) liveFid = 0;
    TableWriter live = Writer(table, "FID," + columns, true);
    rows(kCurrent, [&](const Values& values) {
      const std::int64_t fid = ++liveFid;
      if (sampleEvery > 0 && ++counter % sampleEvery == 0) samples.push_back({fid, kCurrent});
      live.Row(Prefixed(fid, values));
    });
    Done(live);
    return samples;
  }

  static Values Prefixed(std::int64_t fid, const Values& values) {
    Values v;
    v.Int(fid).Raw(values);
    return v;
  }

  void WriteSystemTables() {
    const LedgerOptions& o = ledger_.Options();
    const Period& first = ledger_.PeriodAt(0);
    const Period& next = MakePeriod(o.period == 12 ? o.year + 1 : o.year, o.period == 12 ? 1 : o.period + 1);
    TableWriter profile = Writer("t_SystemProfile", "FCategory,FKey,FValue,FDescription", false);
    const auto setting = [&](std::string_view category, std::string_view key, std::int64_t value,
                             std::string_view description) {
      profile.Row(Values().Text(category).Text(key).Text(std::to_string(value)).Text(description));
    };
    setting("OPCost", "CurrentYear", o.year, "Current year of operation costing");
    setting("OPCost", "CurrentPeriod", o.period, "Current period of operation costing");
    setting("OPCost", "StartYear", first.year, "Year operation costing started");
    setting("OPCost", "StartPeriod", first.period, "Period operation costing started");
    setting("GL", "CurrentYear", o.year, "Current year of the general ledger");
    setting("GL", "CurrentPeriod", o.period, "Current period of the general ledger");
    setting("IC", "CurrentYear", next.year, "Current year of inventory");
    setting("IC", "CurrentPeriod", next.period, "Current period of inventory");
    Done(profile);

    TableWriter types = Writer(
        "t_DataTypeInfo",
        "FDataType,FTypeName,FMaxPrecision,FMinScale,FMaxScale,FActualType,FActualSize,FBindType", false);
    struct TypeRow {
      std::int32_t code;
      std::string_view name;
      std::int32_t maxPrecision, minScale, maxScale;  // -1: NULL
      std::int32_t actualType, actualSize, bindType;
    };
    static constexpr std::array<TypeRow, 10> kTypes{{
        {2, "smallint", -1, -1, -1, 2, 2, 2},
        {3, "int", -1, -1, -1, 3, 4, 3},
        {5, "float(", 53, -1, -1, 5, 8, 5},
        {6, "money", -1, -1, -1, 6, 8, 6},
        {11, "bit", -1, -1, -1, 11, 1, 11},
        {131, "decimal", 38, 0, 38, 131, -1, 131},
        {135, "datetime", -1, -1, -1, 135, 8, 135},
        {139, "numeric() identity", 38, 0, 0, 131, -1, 131},
        {200, "varchar", 8000, -1, -1, 200, -1, 200},
        {202, "nvarchar", 4000, -1, -1, 202, -1, 202},
    }};
    const auto orNull = [](Values& v, std::int32_t value) -> Values& {
      return value < 0 ? v.Null() : v.Int(value);
    };
    for (const TypeRow& t : kTypes) {
      Values v;
      v.Int(t.code).Text(t.name);
      orNull(v, t.maxPrecision);
      orNull(v, t.minScale);
      orNull(v, t.maxScale);
      v.Int(t.actualType);
      orNull(v, t.actualSize);
      v.Int(t.bindType);
      types.Row(v);
    }
    Done(types);

    TableWriter procs = Writer("t_SupportedProc", "FProcName", false);
    for (std::string_view name : {"sp_OPCostCalculate", "sp_OPCostWIPCheck", "sp_OPCostDistribute",
                                  "sp_OPCostCheckOut", "sp_GetICMaxNum"}) {
      procs.Row(Values().Text(name));
    }
    Done(procs);
  }

  void WriteTasks() {
    TableWriter icmo =
        Writer("ICMO",
               "FInterID,FBillNo,FTranType,FStatus,FClosed,FCancellation,FItemID,FWorkShop,FQty,FQtyFinish,"
               "FStockQty,FCheckDate,FCloseDate",
               false);
    for (const TaskPlan& t : tasks_) {
      Fixed wip = 0, notStock = 0;
      if (Ledger::Alive(t, kCurrent)) {
        for (const CentreCalc& c : ledger_.Calc(t, kCurrent)) {
          wip = std::max(wip, c.wip);
          notStock = std::max(notStock, c.notStock);
        }
      }
      const Fixed finished = std::max<Fixed>(t.qty - wip, 0);
      Values v;
      v.Int(t.id).Text(t.billNo).Int(85).Int(t.status).Int(t.closedFlag).Int(t.cancellation).Int(t.product);
      v.Int(Ledger::DeptId(t.dept)).Dec(t.qty).Dec(finished).Dec(std::max<Fixed>(finished - notStock, 0));
      v.Date(t.checkDate);
      if (t.hasCloseDate) {
        v.Date(t.closeDate);
      } else {
        v.Null();
      }
      icmo.Row(v);
    }
    Done(icmo);
  }

  void WriteBalances() {
    const PeriodRows rows = [this](int q, const std::function<void(const Values&)>& row) {
      // Beginning rows of q were written when q-1 was closed: kind 1, then kind 2.
      for (int kind = 1; kind <= 2; ++kind) {
        for (const TaskPlan& t : tasks_) {
          if (!Ledger::Alive(t, q) || t.born >= q) continue;
          for (const CentreCalc& c : ledger_.Calc(t, q - 1)) {
            if (kind == 1) {
              row(BalanceRow(q, t, c.centre, 0, 1).Dec(c.wip).Dec(c.notStock).Dec(0).Dec(0).Dec(0).Dec(0));
            } else {
              for (std::size_t i = 0; i < kCostItems; ++i) {
                row(BalanceRow(q, t, c.centre, static_cast<std::int32_t>(i + 1), 2)
                        .Dec(0)
                        .Dec(0)
                        .Dec(c.online[i])
                        .Dec(0)
                        .Dec(0)
                        .Dec(0));
              }
            }
          }
        }
      }
      if (q == kCurrent) return;  // the current period's ending rows are the close's to write
      // Ending rows of tasks still running at the end of q: kind 3, then kind 4.
      for (int kind = 3; kind <= 4; ++kind) {
        for (const TaskPlan& t : tasks_) {
          if (!Ledger::Alive(t, q) || Ledger::ModeIn(t, q) != Mode::Running) continue;
          for (const CentreCalc& c : ledger_.Calc(t, q)) {
            if (kind == 3) {
              row(BalanceRow(q, t, c.centre, 0, 3).Dec(0).Dec(0).Dec(0).Dec(c.wip).Dec(c.notStock).Dec(0));
            } else {
              for (std::size_t i = 0; i < kCostItems; ++i) {
                row(BalanceRow(q, t, c.centre, static_cast<std::int32_t>(i + 1), 4)
                        .Dec(0)
                        .Dec(0)
                        .Dec(0)
                        .Dec(0)
                        .Dec(0)
                        .Dec(c.online[i]));
              }
            }
          }
        }
      }
    };
    balanceSamples_ =
        WriteArchived("OPCostBalance",
                      "FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FCostItemID,FTypeID,"
                      "FQty,FBegNotStockQty,FBegBal,FOnlnQty,FNotStockQty,FEndBal",
                      Numbering::KeptFid, rows, 25);
  }

  Values BalanceRow(int q, const TaskPlan& t, std::int32_t centre, std::int32_t item,
                    std::int32_t kind) const {
    const Period& p = ledger_.PeriodAt(q);
    Values v;
    v.Text(p.key).Int(p.year).Int(p.period).Int(t.id).Int(centre).Int(item).Int(kind);
    return v;
  }

  void WriteObjectDetails() {
    const PeriodRows rows = [this](int q, const std::function<void(const Values&)>& row) {
      for (const TaskPlan& t : tasks_) {
        if (!Ledger::Alive(t, q) || t.born >= q) continue;
        for (const CentreCalc& c : ledger_.Calc(t, q - 1)) {
          for (const MaterialCalc& m : c.materials) {
            if (m.onlineQty == 0 && m.notStockQty == 0 && m.onlineAmount == 0) continue;
            const Fixed qty = m.onlineQty + m.notStockQty;
            const Fixed price = qty == 0 ? 0 : m.onlineAmount * kUnit / qty;
            Values v = PeriodValues(q);
            v.Int(t.id).Int(c.centre).Int(1).Int(m.materiel).Text(m.batch).Dec(price).Dec(m.notStockQty);
            v.Dec(m.onlineQty).Dec(m.onlineAmount).Dec(0).Dec(0).Int(t.product);
            row(v);
          }
        }
      }
    };
    detailSamples_ =
        WriteArchived("OPCostObjDetail",
                      "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FMaterielID,"
                      "FBatchNo,FPrice,FBegUnInQty,FBegUnOutQty,FUsedAmount,FSumInQty,FSumInAmount,"
                      "FCostObjID",
                      Numbering::KeptFid, rows, 10);
  }

  // Calls `each(t, centres)` for every task with cost rows in period q.
  void ForEachActive(int q,
                     const std::function<void(const TaskPlan&, const std::vector<CentreCalc>&)>& each) {
    for (const TaskPlan& t : tasks_) {
      if (Ledger::Alive(t, q)) each(t, ledger_.Calc(t, q));
    }
  }

  void WriteCalculations() {
    WriteArchived(
        "OPCostCalInfo",
        "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FStandardID,FStdSubID,"
        "FStandarddata,FOverAmount,FOnlineAmount,FRevertAmount,FRevQuo,FLevel",
        Numbering::Renumbered, [this](int q, const std::function<void(const Values&)>& row) {
          ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
            for (std::size_t k = 0; k < centres.size(); ++k) {
              const CentreCalc& c = centres[k];
              for (std::size_t i = 0; i < kCostItems; ++i) {
                const auto item = static_cast<std::int32_t>(i + 1);
                Values v = PeriodValues(q);
                v.Int(t.id).Int(c.centre).Int(t.product).Int(item).Int(Ledger::StandardId(item)).Int(0);
                v.Dec(c.unitCost[i])
                    .Dec(c.over[i])
                    .Dec(c.online[i])
                    .Dec(0)
                    .Dec(0)
                    .Int(static_cast<std::int64_t>(k + 1));
                row(v);
              }
            }
          });
        });
    WriteArchived(
        "OPCostCalInfoDetail",
        "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FMaterielID,FBatchNo,"
        "FSpendCostObjID,FOverAmount,FOnlineAmount,FOverQty,FOnlineQty,FNotStockQty,FLevel",
        Numbering::Renumbered, [this](int q, const std::function<void(const Values&)>& row) {
          ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
            for (std::size_t k = 0; k < centres.size(); ++k) {
              for (const MaterialCalc& m : centres[k].materials) {
                Values v = PeriodValues(q);
                v.Int(t.id).Int(centres[k].centre).Int(t.product).Int(1).Int(m.materiel).Text(m.batch).Int(0);
                v.Dec(m.overAmount).Dec(m.onlineAmount).Dec(m.overQty).Dec(m.onlineQty).Dec(m.notStockQty);
                v.Int(static_cast<std::int64_t>(k + 1));
                row(v);
              }
            }
          });
        });
    WriteArchived(
        "OPCostProductCalInfo",
        "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostObjID,FCostItemID,FProductID,FBatchNo,"
        "FStandardQty,FAmount,FQty,FPrice,FRevertAmount,FRevQuo,FLevel,FStandardID",
        Numbering::Renumbered, [this](int q, const std::function<void(const Values&)>& row) {
          ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
            const CentreCalc& c = centres.back();
            for (std::size_t i = 0; i < kCostItems; ++i) {
              const auto item = static_cast<std::int32_t>(i + 1);
              Values v = PeriodValues(q);
              v.Int(t.id).Int(c.centre).Int(t.product).Int(item).Int(t.product).Text("");
              v.Dec(c.output).Dec(c.over[i]).Dec(c.output).Dec(c.output == 0 ? 0
                                                                             : c.over[i] * kUnit / c.output);
              v.Dec(0).Dec(0).Int(static_cast<std::int64_t>(centres.size())).Int(Ledger::StandardId(item));
              row(v);
            }
          });
        });
    WriteArchived(
        "OPCostWIPCheck",
        "FYearPeriod,FYear,FPeriod,FICMOInterID,FCostCenterID,FInputQty,FOutputQty,FWIPQty,FNotStockQty,"
        "FISImport,FScrapQty,FOutAfterScrQty",
        Numbering::Renumbered, [this](int q, const std::function<void(const Values&)>& row) {
          const Period& p = ledger_.PeriodAt(q);
          ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
            for (const CentreCalc& c : centres) {
              Values v;
              v.Text(p.key).Int(p.year).Int(p.period).Int(t.id).Int(c.centre).Dec(c.input);
              v.Dec(c.output).Dec(c.wip).Dec(c.notStock).Int(0).Dec(c.scrap).Dec(c.output);
              row(v);
            }
          });
        });
    WriteArchived("OPCostWNCalInfo",
                  "FYear,FPeriod,FYearPeriod,FICMOInterID,FCostCenterID,FCostItemID,FAmount,FCurScrapAmount,"
                  "FScrapPrice",
                  Numbering::Renumbered, [this](int q, const std::function<void(const Values&)>& row) {
                    ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
                      for (const CentreCalc& c : centres) {
                        if (c.scrap == 0) continue;
                        const Fixed amount = c.scrap * c.unitCost[0] / kUnit;
                        Values v = PeriodValues(q);
                        v.Int(t.id).Int(c.centre).Int(1).Dec(amount).Dec(amount).Dec(c.unitCost[0]);
                        row(v);
                      }
                    });
                  });
  }

  void WriteDistributions() {
    WriteArchived("OPCostMaterielInfo",
                  "FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FDisType,FWorkCenterID,"
                  "FOperID,FCostObjID,"
                  "FInterID,FEntryID,FStdID,FCostItemID,FStandarddata,FPrice,FQty,FAmount",
                  Numbering::DistributionRule, [this](int q, const std::function<void(const Values&)>& row) {
                    std::int64_t bill = 70000 + q * 100000;
                    ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
                      ++bill;
                      for (std::size_t k = 0; k < centres.size(); ++k) {
                        const CentreCalc& c = centres[k];
                        const Fixed qty = c.output + c.wip;
                        Values v = PeriodValues(q);
                        v.Int(Ledger::DeptId(t.dept)).Int(t.id).Int(c.centre).Int(1).Int(c.centre);
                        v.Int(static_cast<std::int64_t>(10 * (k + 1)))
                            .Int(t.product)
                            .Int(bill)
                            .Int(static_cast<std::int64_t>(k + 1));
                        v.Int(Ledger::StandardId(1)).Int(1).Dec(c.unitCost[0]).Dec(c.unitCost[0]).Dec(qty);
                        v.Dec(qty * c.unitCost[0] / kUnit);
                        row(v);
                      }
                    });
                  });
    WriteArchived(
        "OPCostExpenseDistributeInfo",
        "FYear,FPeriod,FYearPeriod,FDeptID,FICMOInterID,FCostCenterID,FWorkCenterID,FCostObjID,FOperID,"
        "FExpID,"
        "FBillID,FBillIndex,FStdID,FCostItemID,FStandarddata,FAmount",
        Numbering::DistributionRule, [this](int q, const std::function<void(const Values&)>& row) {
          std::int64_t bill = 90000 + q * 100000;
          ForEachActive(q, [&](const TaskPlan& t, const std::vector<CentreCalc>& centres) {
            ++bill;
            for (std::size_t k = 0; k < centres.size(); ++k) {
              const CentreCalc& c = centres[k];
              for (std::size_t i = 1; i < kCostItems; ++i) {
                const auto item = static_cast<std::int32_t>(i + 1);
                Values v = PeriodValues(q);
                v.Int(Ledger::DeptId(t.dept)).Int(t.id).Int(c.centre).Int(c.centre).Int(t.product);
                v.Int(static_cast<std::int64_t>(10 * (k + 1)))
                    .Int(400 + item)
                    .Int(bill)
                    .Int(static_cast<std::int64_t>(k * 2 + i));
                v.Int(Ledger::StandardId(item)).Int(item).Dec(c.unitCost[i]).Dec(c.over[i] + c.online[i]);
                row(v);
              }
            }
          });
        });
  }

  void WriteDeputies() {
    TableWriter deputy = Writer("OPCostDeputyInfo",
                                "FID,FYear,FPeriod,FYearPeriod,FCostItemID,FProductID,FAmount,FNote", true);
    std::int64_t fid = 0;
    for (int q = 0; q < kPeriods; ++q) {
      Random r(ledger_.Options().seed, kDeputyPurpose, static_cast<std::uint64_t>(q));
      for (std::int32_t d = 1; d <= ledger_.Size().deputies; ++d) {
        for (std::int32_t item = 1; item <= kCostItems; ++item) {
          Values v;
          v.Int(++fid).Raw(PeriodValues(q)).Int(item).Int(8000 + d).Dec(r.Between(1, 500000) * 100);
          v.Text(d % 7 == 0 ? "scrap metal" : "");
          deputy.Row(v);
        }
      }
    }
    Done(deputy);
  }

  void WriteSettings() {
    const Sizes& s = ledger_.Size();
    std::array<std::int64_t, 5> fids{};
    TableWriter ration =
        Writer("OPCostRationStandardInfo",
               "FID,FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FCostItemID,FQty,"
               "FTraceTypeID,FICMOInterID",
               true);
    TableWriter taxon = Writer(
        "OPCostTaxonStandardInfo",
        "FID,FYearPeriod,FYear,FPeriod,FDeptID,FCostObjID,FStandardID,FCostItemID,FProductID,FQty", true);
    TableWriter set = Writer(
        "OPCostStandardSet",
        "FID,FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,FTraceType", true);
    TableWriter taxonSet =
        Writer("OPCostTaxonSet", "FID,FYearPeriod,FYear,FPeriod,FCostObjID,FStandardID,FDeptAll", true);
    TableWriter onPro =
        Writer("OPCostStandardSetOnPro",
               "FID,FYearPeriod,FYear,FPeriod,FDeptID,FCostCenterID,FStandardID,FExpID,FDeptAll,"
               "FTraceType,FMaterialAssignID",
               true);
    // One table at a time may have IDENTITY_INSERT on, so each table is written whole before the next.
    for (int q = 0; q < kPeriods; ++q) {
      const Period& p = ledger_.PeriodAt(q);
      Random r(ledger_.Options().seed, kStandardPurpose, static_cast<std::uint64_t>(q), 1);
      for (const TaskPlan& t : tasks_) {
        if (!Ledger::Alive(t, q) || t.id % 3 != 0) continue;
        Values v;
        v.Int(++fids[0]).Text(p.key).Int(p.year).Int(p.period).Int(Ledger::DeptId(t.dept)).Int(t.centres[0]);
        v.Int(Ledger::StandardId(1)).Int(1).Dec(r.Between(1, 4000) * 500).Int(r.Between(1, 2)).Int(t.id);
        ration.Row(v);
      }
    }
    Done(ration);
    for (int q = 0; q < kPeriods; ++q) {
      const Period& p = ledger_.PeriodAt(q);
      Random r(ledger_.Options().seed, kStandardPurpose, static_cast<std::uint64_t>(q), 2);
      for (std::int32_t product = 1; product <= s.products; ++product) {
        for (std::int32_t item = 1; item <= kCostItems; ++item) {
          Values v;
          v.Int(++fids[1]).Text(p.key).Int(p.year).Int(p.period).Int(Ledger::DeptId(1 + product % s.depts));
          v.Int(Ledger::ProductId(product))
              .Int(Ledger::StandardId(item))
              .Int(item)
              .Int(Ledger::ProductId(product));
          v.Dec(r.Between(1, 1000) * 100);
          taxon.Row(v);
        }
      }
    }
    Done(taxon);
    for (int q = 0; q < kPeriods; ++q) {
      const Period& p = ledger_.PeriodAt(q);
      Random r(ledger_.Options().seed, kStandardPurpose, static_cast<std::uint64_t>(q), 3);
      for (std::int32_t dept = 1; dept <= s.depts; ++dept) {
        for (int k = 0; k < 2; ++k) {
          Values v;
          v.Int(++fids[2]).Text(p.key).Int(p.year).Int(p.period).Int(Ledger::DeptId(dept));
          v.Int(Ledger::CentreId(dept, k))
              .Int(Ledger::StandardId(2 + k))
              .Int(402 + k)
              .Int(r.Chance(20) ? 1 : 0);
          v.Int(r.Between(1, 2));
          set.Row(v);
        }
      }
    }
    Done(set);
    for (int q = 0; q < kPeriods; ++q) {
      const Period& p = ledger_.PeriodAt(q);
      for (std::int32_t product = 1; product <= s.products; ++product) {
        Values v;
        v.Int(++fids[3]).Text(p.key).Int(p.year).Int(p.period).Int(Ledger::ProductId(product));
        v.Int(Ledger::StandardId(1 + product % kCostItems)).Int(product % 4 == 0 ? 1 : 0);
        taxonSet.Row(v);
      }
    }
    Done(taxonSet);
    for (int q = 0; q < kPeriods; ++q) {
      const Period& p = ledger_.PeriodAt(q);
      Random r(ledger_.Options().seed, kStandardPurpose, static_cast<std::uint64_t>(q), 5);
      for (std::int32_t dept = 1; dept <= s.depts; ++dept) {
        Values v;
        v.Int(++fids[4])
            .Text(p.key)
            .Int(p.year)
            .Int(p.period)
            .Int(Ledger::DeptId(dept))
            .Int(Ledger::CentreId(dept, 2));
        v.Int(Ledger::StandardId(1))
            .Int(401)
            .Int(r.Chance(20) ? 1 : 0)
            .Int(r.Between(1, 2))
            .Int(r.Between(1, 3));
        onPro.Row(v);
      }
    }
    Done(onPro);
  }

  void WriteStandardDataBills() {
    const Sizes& s = ledger_.Size();
    TableWriter headers = Writer(
        "OPCostStandardData",
        "FID,FClassTypeID,FBillNo,FStandardID,FStandardNum,FStandardName,FWorkProcStep,FYearPeriod,FISImport",
        false);
    std::int64_t fid = 0;
    for (int q = 0; q < kPeriods; ++q) {
      Random r(ledger_.Options().seed, kBillPurpose, static_cast<std::uint64_t>(q), 1);
      for (std::int32_t b = 0; b < s.bills; ++b) {
        ++fid;
        const std::int32_t standard = r.Between(1, kCostItems);
        Values v;
        v.Int(fid).Int(kStandardDataBillType).Text(Tagged("SD", fid, 6));
        v.Int(Ledger::StandardId(standard)).Text(Tagged("STD", Ledger::StandardId(standard)));
        std::string name = Tagged("Standard ", Ledger::StandardId(standard));
        name += " of ";
        name += ledger_.PeriodAt(q).key;
        v.Text(name);
        v.Int(r.Between(1, 5)).Text(ledger_.PeriodAt(q).key).Int(r.Chance(10) ? 1 : 0);
        headers.Row(v);
      }
    }
    Done(headers);
    maxBillId_ = fid;

    TableWriter lines =
        Writer("OPCostStandardDataEntry",
               "FDetailID,FID,FIndex,FCostObjNum,FDeptNum,FCostCenter,FCostCenterName,FWorkProcNum,"
               "FQty,FICMOInterID,FICMONo,FOperSN",
               true);
    std::int64_t detail = 0;
    fid = 0;
    for (int q = 0; q < kPeriods; ++q) {
      Random r(ledger_.Options().seed, kBillPurpose, static_cast<std::uint64_t>(q), 2);
      for (std::int32_t b = 0; b < s.bills; ++b) {
        ++fid;
        const std::int32_t count = r.Between(1, 6);
        for (std::int32_t line = 1; line <= count; ++line) {
          // Most lines name a production task; some name none.
          std::optional<TaskPlan> task;
          if (tasks_.Count() > 0 && !r.Chance(15)) task = tasks_.At(r.Between(0, tasks_.Count() - 1));
          const std::int32_t dept = task.has_value() ? task->dept : r.Between(1, s.depts);
          const std::int32_t centre = task.has_value() ? task->centres[0] : Ledger::CentreId(dept, 0);
          Values v;
          v.Int(++detail).Int(fid).Int(line).Text(Tagged("P", task.has_value() ? task->product : 0));
          v.Text(Tagged("D", Ledger::DeptId(dept))).Text(Tagged("C", centre));
          v.Text(Tagged("Cost centre ", centre)).Text(Tagged("OP", line * 10));
          v.Dec(r.Between(1, 1000) * 250)
              .Int(task.has_value() ? task->id : 0)
              .Text(task.has_value() ? task->billNo : "");
          v.Int(line * 10);
          lines.Row(v);
        }
      }
    }
    Done(lines);
  }

  void WriteCounters() {
    TableWriter counters = Writer("ICMaxNum", "FTableName,FMaxNum", false);
    counters.Row(Values().Text("ICMO").Int(tasks_.Count() == 0 ? 0 : tasks_.At(tasks_.Count() - 1).id));
    counters.Row(Values().Text("OPCostStandardData").Int(maxBillId_));
    Done(counters);
  }

  void WriteAdjustments() {
    const auto write = [this](const std::string& table, const std::string& refColumn,
                              const std::vector<Sample>& samples) {
      TableWriter adjust =
          Writer(table, "FID,FYearPeriod,FYear,FPeriod," + refColumn + ",FAdjQty,FAdjAmount,FNote", true);
      std::int64_t fid = 0;
      for (const Sample& sample : samples) {
        const Period& p = ledger_.PeriodAt(sample.q);
        Values v;
        v.Int(++fid).Text(p.key).Int(p.year).Int(p.period).Int(sample.fid).Dec((sample.fid % 7 - 3) * kUnit);
        v.Dec((sample.fid % 11 - 5) * 1250).Text("Count correction");
        adjust.Row(v);
      }
      Done(adjust);
    };
    write("OPCostBalanceAdjust", "FBalanceID", balanceSamples_);
    write("OPCostObjDetailAdjust", "FDetailID", detailSamples_);
  }

  Ledger ledger_;
  Connection& connection_;
  TaskPlans tasks_;
  Checksum checksum_;
  std::map<std::string, std::int64_t> counts_;
  std::vector<Sample> balanceSamples_, detailSamples_;
  std::int64_t maxBillId_ = 0;
};

// Runs `work` in the thread's open transaction, or in one of its own that commits when `work` succeeds.
template <class Work>
auto InTransaction(const std::string& connectString, Work work) {
  if (EnlistedSession(connectString)) return work();
  Transaction transaction;
  auto result = work();
  transaction.Commit();
  return result;
}

}  // namespace

std::int64_t LedgerSummary::TotalRows() const {
  std::int64_t total = 0;
  for (const TableCount& t : tables) total += t.rows;
  return total;
}

std::string EmbeddedConnectString(const std::string& file) {
  return "Provider=Closewright.SQLite;Data Source=" + file;
}

// schema/closewright.sql, byte for byte, embedded at build time (cmake/EmbedText.cmake): an installed tool
// needs no path to the source tree to create a ledger.
extern const unsigned char kReferenceSchemaText[];
extern const std::size_t kReferenceSchemaTextSize;

std::string ReferenceSchema() {
  return std::string(reinterpret_cast<const char*>(kReferenceSchemaText), kReferenceSchemaTextSize);
}

std::vector<std::string> SchemaTableNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> result;
    // The names follow "CREATE TABLE " at the start of a line; comments may mention the words too.
    std::string schema(1, '\n');
    schema += ReferenceSchema();
    constexpr std::string_view kCreate = "\nCREATE TABLE ";
    for (std::size_t at = schema.find(kCreate); at != std::string::npos; at = schema.find(kCreate, at)) {
      at += kCreate.size();
      std::size_t end = at;
      while (end < schema.size() && schema[end] != ' ' && schema[end] != '(') ++end;
      result.push_back(schema.substr(at, end - at));
    }
    return result;
  }();
  return names;
}

void CreateSchema(const std::string& connectString) {
  const std::string schema = ReferenceSchema();
  InTransaction(connectString, [&] {
    Connection connection;
    connection.Open(connectString);
    connection.Execute(schema);
    connection.Close();
    return 0;
  });
}

LedgerSummary GenerateLedger(const std::string& connectString, const LedgerOptions& options) {
  Ledger validated(options);  // refuses bad options before anything is opened
  return InTransaction(connectString, [&] {
    Connection connection;
    connection.Open(connectString);
    LedgerSummary summary = Generator(options, connection).Run();
    connection.Close();
    return summary;
  });
}

TaskState StateOfTask(const LedgerOptions& options, std::int32_t interId) {
  return Ledger(options).Plan(interId - kFirstTaskId).state;
}

std::int32_t FirstTaskId() {
  return kFirstTaskId;
}

std::int32_t FirstTaskInState(const LedgerOptions& options, TaskState state) {
  const Ledger ledger(options);
  for (std::int32_t i = 0; i < options.tasks; ++i) {
    if (ledger.Plan(i).state == state) return kFirstTaskId + i;
  }
  return 0;
}

std::vector<TableCount> CountLedgerRows(const std::string& connectString) {
  std::vector<TableCount> counts;
  Connection connection;
  connection.Open(connectString);
  for (const std::string& table : SchemaTableNames()) {
    Recordset rows;
    rows.SetCursorLocation(kUseClient);
    rows.Open("SELECT COUNT(*) AS FCount FROM " + table, connection);
    counts.push_back({table, static_cast<std::int64_t>(rows.GetFields().Item(0).Value().ToDouble())});
    rows.Close();
  }
  connection.Close();
  return counts;
}

}  // namespace closewright::ledger
