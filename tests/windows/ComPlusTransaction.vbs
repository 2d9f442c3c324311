' Checks on Windows that a caller's COM+ transaction spans every call it makes on the component: an abort
' undoes all of them, EndHistoryData's sub-objects included, a commit keeps them, and a call into a doomed
' transaction fails at once. It needs COM+, MSDTC and SQL Server, none of which this project's machines have;
' the README's "Windows" section says how to set the component up for it. Run it in a 64-bit shell:
'
'   C:\Windows\System32\cscript.exe //nologo ComPlusTransaction.vbs "<ODBC connect string>"
'
' The connect string, written without braces, names a scratch database that holds the reference schema
' (schema/closewright.sql), for instance
'   Driver=ODBC Driver 18 for SQL Server;Server=db01;Database=CloseProbe;Trusted_Connection=yes;TrustServerCertificate=yes
' The script adds a table ClosewrightProbe and one material row of period 2011.03. The exit code is the number
' of failed checks. Given "/parse", the script only says "parsed": a script that does not parse runs nothing
' at all (run-wine-tests checks that much).
Option Explicit

Const kContextAborted = -2147164158    ' CONTEXT_E_ABORTED, 0x8004E002
Const kContextAborting = -2147164157   ' CONTEXT_E_ABORTING, 0x8004E003

Dim odbc, description, failures
odbc = WScript.Arguments(0)
If odbc = "/parse" Then
  WScript.Echo "parsed"
  WScript.Quit 0
End If
description = "ConnectString={" & odbc & "};DBMS Name=Microsoft SQL Server;DBMS Version=16"
failures = 0

Sub Check(passed, what)
  If passed Then
    WScript.Echo "ok   " & what
  Else
    WScript.Echo "FAIL " & what
    failures = failures + 1
  End If
End Sub

' Counts on a connection of the script's own, outside COM+, as any other program sees the database.
Function Count(sql)
  Dim connection, rows
  Set connection = CreateObject("ADODB.Connection")
  connection.Open "Provider=MSDASQL;" & odbc
  Set rows = connection.Execute(sql)
  Count = rows.Fields(0).Value
  rows.Close
  connection.Close
End Function

Function Probes()
  Probes = Count("SELECT COUNT(*) FROM dbo.ClosewrightProbe")
End Function

Function LiveRows()
  LiveRows = Count("SELECT COUNT(*) FROM OPCostMaterielInfo WHERE FYearPeriod = '2011.03'")
End Function

Function ArchivedRows()
  ArchivedRows = Count("SELECT COUNT(*) FROM OPCostMaterielInfo_History WHERE FYearPeriod = '2011.03'")
End Function

' Two inserts and an archive, in the transaction of a caller that then commits or aborts.
Sub CloseInCallersTransaction(keep)
  Dim caller, closer
  ' TransactionContext is COM+'s transactional caller for clients that have no transaction of their own.
  Set caller = CreateObject("TxCtx.TransactionContext")
  Set closer = caller.CreateInstance("Closewright.CCloseData")
  closer.ExecuteSQL description, "INSERT INTO dbo.ClosewrightProbe VALUES (1)"
  closer.ExecuteSQL description, "INSERT INTO dbo.ClosewrightProbe VALUES (2)"
  closer.EndHistoryData description, 2011, 3, True
  Set closer = Nothing
  If keep Then caller.Commit Else caller.Abort
End Sub

' Outside a caller's transaction COM+ gives each call one of its own, committed as the call votes SetComplete.
Dim setup
Set setup = CreateObject("Closewright.CCloseData")
setup.ExecuteSQL description, "IF OBJECT_ID('dbo.ClosewrightProbe') IS NOT NULL DROP TABLE dbo.ClosewrightProbe"
setup.ExecuteSQL description, "CREATE TABLE dbo.ClosewrightProbe (FID INT NOT NULL)"
setup.ExecuteSQL description, "DELETE FROM OPCostMaterielInfo_History WHERE FYearPeriod = '2011.03'"
setup.ExecuteSQL description, "DELETE FROM OPCostMaterielInfo WHERE FYearPeriod = '2011.03'"
setup.ExecuteSQL description, "INSERT INTO OPCostMaterielInfo (FYear, FPeriod, FYearPeriod) VALUES (2011, 3, '2011.03')"
Check Probes() = 0 And LiveRows() = 1, "a call outside a caller's transaction commits when it returns"

CloseInCallersTransaction False
Check Probes() = 0, "the caller's abort undoes both ExecuteSQL calls, though each voted SetComplete"
Check LiveRows() = 1 And ArchivedRows() = 0, "the caller's abort undoes what EndHistoryData's sub-objects moved"

CloseInCallersTransaction True
Check Probes() = 2, "the caller's commit keeps both ExecuteSQL calls"
Check LiveRows() = 0 And ArchivedRows() = 1, "the caller's commit keeps what EndHistoryData's sub-objects moved"
setup.EndHistoryData description, 2011, 3, False

' A failing ExecuteSQL votes SetAbort, which dooms the caller's transaction: the next call must fail before
' it sends anything, and nothing of the transaction may be kept.
Dim caller, closer, refused, committed
Set caller = CreateObject("TxCtx.TransactionContext")
Set closer = caller.CreateInstance("Closewright.CCloseData")
closer.ExecuteSQL description, "INSERT INTO dbo.ClosewrightProbe VALUES (3)"
On Error Resume Next
closer.ExecuteSQL description, "INSERT INTO NoSuchTable VALUES (1)"
Err.Clear
closer.ExecuteSQL description, "INSERT INTO dbo.ClosewrightProbe VALUES (4)"
refused = Err.Number
Err.Clear
Set closer = Nothing
caller.Commit
committed = (Err.Number = 0)
On Error GoTo 0
' COM+ may refuse the call itself before the component sees it; either way the error is the platform's.
Check refused = kContextAborting Or refused = kContextAborted, _
      "a call into the doomed transaction fails with COM+'s CONTEXT_E_ABORTING or CONTEXT_E_ABORTED (" & refused & ")"
Check Not committed, "the doomed transaction does not commit"
Check Probes() = 2, "nothing of the doomed transaction is kept"

setup.ExecuteSQL description, "DROP TABLE dbo.ClosewrightProbe"
WScript.Echo failures & " failed"
WScript.Quit failures
