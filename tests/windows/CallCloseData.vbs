' Calls the Closewright component the way an Automation client does: created by ProgID, called late-bound,
' the optional argument left out, errors read from Err. Run with: cscript //nologo CallCloseData.vbs <db>
Option Explicit

Dim database, description, closer, failures
failures = 0
database = WScript.Arguments(0)
description = "ConnectString={Driver=SQLite3;Database=" & database & "};DBMS Name=SQLite;DBMS Version=3"

Set closer = CreateObject("Closewright.CCloseData")
closer.ExecuteSQL description, "CREATE TABLE Period (FYearPeriod TEXT)"
closer.ExecuteSQL description, "INSERT INTO Period VALUES ('2011.03')"

On Error Resume Next
' bUnClosed is optional: left out, it counts as False. This database has no profile table, so the
' provider's error comes back.
closer.SetCurrentPeriod description, 2011, 4
If Err.Number <> -2147217900 Or InStr(Err.Source, "Closewright.ODBC") <> 1 Then failures = failures + 1
WScript.Echo "SetCurrentPeriod: " & Err.Number & " from " & Err.Source & ": " & Err.Description
Err.Clear

' A key given twice in the description: error 457 from the description parser.
closer.ExecuteSQL description & ";dbms name=Other", ""
If Err.Number <> 457 Then failures = failures + 1
WScript.Echo "Repeated key: " & Err.Number & " from " & Err.Source & ": " & Err.Description
Err.Clear
On Error GoTo 0

WScript.Quit failures
