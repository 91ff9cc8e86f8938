' Drives the registered Brellin.VxCalStoreData late-bound, as a script client
' does: every method of IVxCalStoreData, the object's default (and only
' scriptable) interface, with the result each must give.
'
'   cscript //nologo check.vbs
'
' cscript's own exit status cannot be trusted (some versions exit 0 when a script
' fails), so every call is checked here, the last line is the verdict
' ("check.vbs: all N calls as expected" or "check.vbs: FAILED"), and a failure
' also ends the script with status 1.
Option Explicit
On Error Resume Next

Const S_OK = 0
Const E_FAIL = &H80004005
Const E_POINTER = &H80004003
Const VB_TYPE_MISMATCH = 13
Const VB_NO_SUCH_METHOD = 438
Const VB_CANNOT_CREATE = 429

Dim nCalls, nFailures
nCalls = 0
nFailures = 0

Sub Check(strStep, nGot, nExpected)
    nCalls = nCalls + 1
    If nGot = nExpected Then
        WScript.Echo "ok   " & strStep
    Else
        WScript.Echo "FAIL " & strStep & ": error &H" & Hex(nGot) & ", expected &H" & Hex(nExpected)
        nFailures = nFailures + 1
    End If
End Sub

Sub CheckValue(strStep, vGot, vExpected)
    nCalls = nCalls + 1
    If vGot = vExpected Then
        WScript.Echo "ok   " & strStep
    Else
        WScript.Echo "FAIL " & strStep & ": got " & vGot & ", expected " & vExpected
        nFailures = nFailures + 1
    End If
End Sub

Dim oMissing
Set oMissing = CreateObject("Brellin.NoSuchClass")
Check "an unknown ProgID is refused", Err.Number, VB_CANNOT_CREATE : Err.Clear

Dim oStore
Set oStore = CreateObject("Brellin.VxCalStoreData")
Check "CreateObject(""Brellin.VxCalStoreData"")", Err.Number, S_OK : Err.Clear
If Not IsObject(oStore) Or oStore Is Nothing Then
    WScript.Echo "check.vbs: FAILED (no object)"
    WScript.Quit 1
End If

' Without a host kernel the store opens the database of account 0.
oStore.Initialize "", Nothing
Check "Initialize", Err.Number, S_OK : Err.Clear
oStore.SetDataSource "LumoCalendar", ""
Check "SetDataSource LumoCalendar", Err.Number, S_OK : Err.Clear
oStore.SetDataSource "NoSuchSource", ""
Check "SetDataSource of an unknown type fails", Err.Number, E_FAIL : Err.Clear

' Writes that need no host item.
oStore.SetBatchMode 1
Check "SetBatchMode 1", Err.Number, S_OK : Err.Clear
oStore.DelCalendar 5
Check "DelCalendar", Err.Number, S_OK : Err.Clear
oStore.DelCalEvent 5, 1
Check "DelCalEvent", Err.Number, S_OK : Err.Clear
oStore.DelAllEventofCalendar 5
Check "DelAllEventofCalendar", Err.Number, S_OK : Err.Clear
oStore.SetBatchMode 0
Check "SetBatchMode 0", Err.Number, S_OK : Err.Clear

' Items and visitors are host objects a script cannot make: a missing one is
' refused without touching the store (E_POINTER). GetAllEvent, QueryCalendar,
' QueryEvent, GetOneCalendar and GetOneCalEvent do nothing and answer S_OK.
oStore.AddCalendar Nothing
Check "AddCalendar Nothing", Err.Number, E_POINTER : Err.Clear
oStore.UpdateCalendar Nothing
Check "UpdateCalendar Nothing", Err.Number, E_POINTER : Err.Clear
oStore.AddCalEvent Nothing
Check "AddCalEvent Nothing", Err.Number, E_POINTER : Err.Clear
oStore.UpdateCalEvent Nothing
Check "UpdateCalEvent Nothing", Err.Number, E_POINTER : Err.Clear
oStore.GetAllCalendar Nothing
Check "GetAllCalendar Nothing", Err.Number, E_POINTER : Err.Clear
oStore.GetAllCalEvent 5, Nothing
Check "GetAllCalEvent Nothing", Err.Number, E_POINTER : Err.Clear
oStore.GetAllEvent Nothing
Check "GetAllEvent Nothing", Err.Number, S_OK : Err.Clear
oStore.QueryCalendar 0, Nothing, Nothing
Check "QueryCalendar", Err.Number, S_OK : Err.Clear
oStore.QueryEvent 5, 0, Nothing, Nothing
Check "QueryEvent", Err.Number, S_OK : Err.Clear
oStore.GetAllCalendarEx "LumoCalendar", "", Nothing
Check "GetAllCalendarEx Nothing", Err.Number, E_POINTER : Err.Clear
oStore.GetAllCalEventEx "LumoCalendar", "", 5, Nothing
Check "GetAllCalEventEx Nothing", Err.Number, E_POINTER : Err.Clear
oStore.GetPeriodEvent 0, 86400, Nothing
Check "GetPeriodEvent Nothing", Err.Number, E_POINTER : Err.Clear
oStore.GetOneCalendar 5, Nothing
Check "GetOneCalendar Nothing", Err.Number, S_OK : Err.Clear
oStore.GetOneCalEvent 5, 1, Nothing
Check "GetOneCalEvent Nothing", Err.Number, S_OK : Err.Clear
oStore.GetPeriodEventEx 0, 86400, 5, Nothing
Check "GetPeriodEventEx Nothing", Err.Number, E_POINTER : Err.Clear

' The out argument is a VARIANT_BOOL*. A script's variable goes by reference
' as a VARIANT and is refused as a type mismatch; a value (in parentheses) is
' taken, but the answer cannot come back. The system's own type-library
' dispatch does the same with both.
Dim bExist
bExist = True
oStore.IsOutlookIDExist "no-such-id@example.org", bExist
Check "IsOutlookIDExist refuses a script's by-reference variant", Err.Number, VB_TYPE_MISMATCH : Err.Clear
CheckValue "IsOutlookIDExist left the variable alone", bExist, True
oStore.IsOutlookIDExist "no-such-id@example.org", (bExist)
Check "IsOutlookIDExist takes the flag by value", Err.Number, S_OK : Err.Clear

' Names are found without regard to case; unknown names are refused.
oStore.setbatchmode 0
Check "a name in another case", Err.Number, S_OK : Err.Clear
oStore.NoSuchMethod 1
Check "an unknown method fails with 438", Err.Number, VB_NO_SUCH_METHOD : Err.Clear
oStore.AddString "ns", "item", "value", 0
Check "IVxCalStoreConfig is not the script's interface (438)", Err.Number, VB_NO_SUCH_METHOD : Err.Clear

Set oStore = Nothing
Check "release", Err.Number, S_OK : Err.Clear

If nFailures > 0 Then
    WScript.Echo "check.vbs: FAILED (" & nFailures & " of " & nCalls & " calls)"
    WScript.Quit 1
End If
WScript.Echo "check.vbs: all " & nCalls & " calls as expected"
