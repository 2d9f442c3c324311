#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace closewright {

class ComError;

/// Receives errors that the component swallows by design, with where they were swallowed.
using DiagnosticsSink = std::function<void(const ComError& error, std::string_view where)>;
/// Receives every text sent to a database, in order: the connection's trace number, "Execute" or
/// "Recordset.Open", and the text exactly as sent; or "InsertRows" and the INSERT text that stands for rows
/// handed over as values (Connection::InsertRows).
using SqlTraceSink =
    std::function<void(std::int32_t connection, std::string_view operation, std::string_view text)>;

/// Receives each vote cast on the object context: "SetComplete" or "SetAbort".
using VoteSink = std::function<void(std::string_view vote)>;

void SetDiagnosticsSink(DiagnosticsSink sink);
void SetSqlTraceSink(SqlTraceSink sink);
void SetVoteSink(VoteSink sink);

/// Reports a swallowed error to the host's sink, if one is set. Never throws.
void ReportSwallowedError(const ComError& error, std::string_view where) noexcept;
void TraceSql(std::int32_t connection, std::string_view operation, std::string_view text);
/// Whether a trace sink is set: a caller may skip building a text that only the trace would read.
bool SqlTraceActive();
void TraceVote(std::string_view vote);

}  // namespace closewright
