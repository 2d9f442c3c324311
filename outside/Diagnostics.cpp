#include "outside/Diagnostics.h"

#include <mutex>

#include "outside/ComError.h"

namespace closewright {
namespace {

struct Sinks {
  std::mutex mutex;
  DiagnosticsSink diagnostics;
  SqlTraceSink trace;
  VoteSink votes;
};

Sinks& GetSinks() {
  static Sinks sinks;
  return sinks;
}

}  // namespace

void SetDiagnosticsSink(DiagnosticsSink sink) {
  std::lock_guard lock(GetSinks().mutex);
  GetSinks().diagnostics = std::move(sink);
}

void SetSqlTraceSink(SqlTraceSink sink) {
  std::lock_guard lock(GetSinks().mutex);
  GetSinks().trace = std::move(sink);
}

void SetVoteSink(VoteSink sink) {
  std::lock_guard lock(GetSinks().mutex);
  GetSinks().votes = std::move(sink);
}

void TraceVote(std::string_view vote) {
  VoteSink sink;
  {
    std::lock_guard lock(GetSinks().mutex);
    sink = GetSinks().votes;
  }
  if (sink) sink(vote);
}

void ReportSwallowedError(const ComError& error, std::string_view where) noexcept {
  DiagnosticsSink sink;
  {
    std::lock_guard lock(GetSinks().mutex);
    sink = GetSinks().diagnostics;
  }
  if (!sink) return;
  try {
    sink(error, where);
  } catch (...) {
    // A host's sink must not turn a swallowed error into a raised one.
  }
}

void TraceSql(std::int32_t connection, std::string_view operation, std::string_view text) {
  SqlTraceSink sink;
  {
    std::lock_guard lock(GetSinks().mutex);
    sink = GetSinks().trace;
  }
  if (sink) sink(connection, operation, text);
}

bool SqlTraceActive() {
  std::lock_guard lock(GetSinks().mutex);
  return static_cast<bool>(GetSinks().trace);
}

}  // namespace closewright
