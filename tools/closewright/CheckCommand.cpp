#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/closewright/Commands.h"
#include "tools/closewright/Preflight.h"
#include "tools/closewright/TraceWriter.h"

namespace closewright::tool {
namespace {

struct CheckOptions : LedgerTarget {
  std::int32_t year = 0;
  std::int32_t period = 0;
  bool json = false;
};

const char* StatusOf(const CheckResult& result) {
  if (!result.ran) return "not run";
  return result.passed ? "pass" : "FAIL";
}

std::string AsText(const std::vector<CheckResult>& results) {
  std::ostringstream text;
  int failed = 0, notRun = 0;
  for (const CheckResult& result : results) {
    char head[64];
    std::snprintf(head, sizeof head, "%-7s  %-16s ", StatusOf(result), result.name.c_str());
    text << head << result.detail;
    if (!result.advice.empty()) text << " -- to do: " << result.advice;
    text << '\n';
    failed += result.ran && !result.passed ? 1 : 0;
    notRun += result.ran ? 0 : 1;
  }
  text << results.size() << (results.size() == 1 ? " check: " : " checks: ");
  if (failed == 0 && notRun == 0) {
    text << "all passed";
  } else {
    text << failed << " failed" << (notRun > 0 ? ", " + std::to_string(notRun) + " not run" : std::string());
  }
  text << "; nothing was changed (the check's transaction was rolled back)\n";
  return text.str();
}

std::string AsJson(const std::vector<CheckResult>& results, bool passed) {
  std::ostringstream json;
  json << "{\"passed\":" << (passed ? "true" : "false") << ",\"checks\":[";
  for (std::size_t i = 0; i < results.size(); ++i) {
    const CheckResult& result = results[i];
    json << (i ? "," : "") << "{\"check\":\"" << JsonEscape(result.name) << "\",\"status\":\""
         << (!result.ran     ? "not run"
             : result.passed ? "pass"
                             : "fail")
         << "\",\"detail\":\"" << JsonEscape(result.detail) << "\",\"advice\":\"" << JsonEscape(result.advice)
         << "\"}";
  }
  json << "]}";
  return json.str();
}

}  // namespace

void AddCheckCommand(CLI::App& app, GlobalOptions& global) {
  auto options = std::make_shared<CheckOptions>();
  CLI::App* command = app.add_subcommand(
      "check",
      "Check, before the first close, that a ledger can be closed: connection and driver, server version, "
      "collation, the reference schema's tables, columns and identities, permissions, the close lock, the "
      "current period and, with --year and --period, whether that period can be closed or reopened. Runs in "
      "one transaction that is rolled back: nothing is changed. One line per check; exit codes: 0 all "
      "passed, "
      "1 a check failed, 2 usage.");
  AddLedgerTarget(command, *options);
  command->add_option("--year", options->year, "Year of a period to check for a close or reopen")
      ->check(kYears);
  command->add_option("--period", options->period, "The period to check")->check(kPeriods);
  command->add_flag("--json", options->json, "Print the checks as one JSON document");
  command->callback([options, &global] {
    if ((options->year != 0) != (options->period != 0)) {
      throw CLI::ValidationError("check", "--year and --period go together");
    }
    PreflightOptions preflight;
    preflight.description = options->Description("check");
    if (options->year != 0) preflight.period = Period{options->year, options->period};
    const std::vector<CheckResult> results = RunPreflight(preflight);
    bool passed = true;
    for (const CheckResult& result : results) passed = passed && result.ran && result.passed;
    std::cout << (options->json ? AsJson(results, passed) + "\n" : AsText(results)) << std::flush;
    global.exitCode = passed ? 0 : 1;
  });
}

}  // namespace closewright::tool
