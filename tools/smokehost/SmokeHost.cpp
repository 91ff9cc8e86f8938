// brellin-smoke: creates the registered component by its ProgID, starts it with a
// host kernel, writes a calendar and an event in the start-up batch, pumps the
// thread's messages until the store's timer commits the batch, and checks every
// step through a second SQLite connection of its own.
//
//   brellin-smoke [DATA-ROOT]     (default: a new folder under %TEMP%)
//
// Prints one line per step and "brellin-smoke: OK" at the end; exit status 0 only
// when every step held.
#include <cstdio>
#include <cwchar>
#include <string>

#include <sqlite3.h>

#include "HostObjects.h"
#include "brellin/VxCalStore.h"
#include "store/ComRef.h"

namespace {

const ULONG s_dwAccount = 4242;
const LONG s_lCalID = 7;
const LONG s_lEvtID = 70;
const DWORD s_dwTickWaitMs = 10000;

int s_nFailures = 0;

bool Check(bool bHeld, const char* pszStep, HRESULT hr = S_OK)
{
    std::printf("%s %s", bHeld ? "ok  " : "FAIL", pszStep);
    if (FAILED(hr)) {
        std::printf(" (0x%08lX)", static_cast<unsigned long>(hr));
    }
    std::printf("\n");
    std::fflush(stdout);
    if (!bHeld) {
        ++s_nFailures;
    }
    return bHeld;
}

// Rows a second connection sees: what has been committed, and nothing else.
int CommittedRows(const std::wstring& strDbPath, const char* pszTable)
{
    sqlite3* pDb = nullptr;
    int nRows = -1;
    if (sqlite3_open16(strDbPath.c_str(), &pDb) == SQLITE_OK) {
        sqlite3_busy_timeout(pDb, 5000);
        const std::string strSql = std::string("select count(*) from ") + pszTable + ";";
        sqlite3_stmt* pStmt = nullptr;
        if (sqlite3_prepare_v2(pDb, strSql.c_str(), -1, &pStmt, nullptr) == SQLITE_OK &&
            sqlite3_step(pStmt) == SQLITE_ROW) {
            nRows = sqlite3_column_int(pStmt, 0);
        }
        sqlite3_finalize(pStmt);
    }
    sqlite3_close(pDb);
    return nRows;
}

std::wstring NewScratchRoot()
{
    wchar_t szTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, szTemp);
    wchar_t szName[64] = {};
    std::swprintf(szName, 64, L"brellin-smoke-%lu-%lu", GetCurrentProcessId(), GetTickCount());
    std::wstring strRoot = std::wstring(szTemp) + szName;
    CreateDirectoryW(strRoot.c_str(), nullptr);
    return strRoot;
}

// Pumps this thread's messages until the batch shows up committed or time runs
// out; returns the number of WM_TIMER messages dispatched on the way.
int PumpUntilCommitted(const std::wstring& strDbPath)
{
    int nTimerMessages = 0;
    const DWORD dwStart = GetTickCount();
    while (GetTickCount() - dwStart < s_dwTickWaitMs) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_TIMER) {
                ++nTimerMessages;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
            if (msg.message == WM_TIMER && CommittedRows(strDbPath, "Event") == 1) {
                return nTimerMessages;
            }
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    }
    return -nTimerMessages - 1;
}

// IsOutlookIDExist late-bound, by the component's own dispatch and by the
// system's dispatch driven by the type library (ITypeInfo::Invoke), with the
// out argument as a script passes it (a VARIANT by reference), as a typed client
// passes it (VARIANT_BOOL by reference) and by value. The two must agree.
void CompareOutlookIDDispatch(IVxCalStoreData* pStore)
{
    const DISPID dispid = 22;
    CComRef<ITypeInfo> spInfo;
    HRESULT hr = pStore->GetTypeInfo(0, 0, spInfo.Receive());
    if (!Check(SUCCEEDED(hr) && spInfo, "GetTypeInfo", hr)) {
        return;
    }
    struct SCase {
        const char* pszName;
        VARTYPE vtOut;
    };
    const SCase cases[] = {{"VARIANT by reference (a script)", VT_BYREF | VT_VARIANT},
                           {"VARIANT_BOOL by reference", VT_BYREF | VT_BOOL},
                           {"VARIANT_BOOL by value", VT_BOOL},
                           {"short by reference", VT_BYREF | VT_I2},
                           {"long by value", VT_I4}};
    for (const SCase& c : cases) {
        HRESULT hrResult[2] = {};
        VARIANT_BOOL bWritten[2] = {};
        for (int nWhich = 0; nWhich < 2; ++nWhich) {
            VARIANT vInner;
            VariantInit(&vInner);
            V_VT(&vInner) = VT_BOOL;
            V_BOOL(&vInner) = VARIANT_TRUE;
            VARIANT_BOOL bOut = VARIANT_TRUE;
            SHORT iOut = 7;
            VARIANT args[2];
            VariantInit(&args[0]);
            VariantInit(&args[1]);
            V_VT(&args[1]) = VT_BSTR;
            V_BSTR(&args[1]) = SysAllocString(L"no-such-id@example.org");
            V_VT(&args[0]) = c.vtOut;
            if (c.vtOut == (VT_BYREF | VT_VARIANT)) {
                V_VARIANTREF(&args[0]) = &vInner;
            } else if (c.vtOut == (VT_BYREF | VT_BOOL)) {
                V_BOOLREF(&args[0]) = &bOut;
            } else if (c.vtOut == (VT_BYREF | VT_I2)) {
                V_I2REF(&args[0]) = &iOut;
            } else if (c.vtOut == VT_I4) {
                V_I4(&args[0]) = 1;
            } else {
                V_BOOL(&args[0]) = VARIANT_TRUE;
            }
            DISPPARAMS params = {args, nullptr, 2, 0};
            VARIANT vResult;
            VariantInit(&vResult);
            UINT uArgErr = 0;
            if (nWhich == 0) {
                hrResult[0] = pStore->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, &vResult, nullptr, &uArgErr);
            } else {
                hrResult[1] = spInfo->Invoke(pStore, dispid, DISPATCH_METHOD, &params, &vResult, nullptr, &uArgErr);
            }
            bWritten[nWhich] = c.vtOut == (VT_BYREF | VT_VARIANT) ? V_BOOL(&vInner)
                               : c.vtOut == (VT_BYREF | VT_I2) ? static_cast<VARIANT_BOOL>(iOut)
                                                               : bOut;
            VariantClear(&vResult);
            VariantClear(&args[1]);
        }
        std::printf("     IsOutlookIDExist, %s: component 0x%08lX, system 0x%08lX; out %d / %d\n", c.pszName,
                    static_cast<unsigned long>(hrResult[0]), static_cast<unsigned long>(hrResult[1]), bWritten[0],
                    bWritten[1]);
        const std::string strStep = std::string("IsOutlookIDExist dispatch agrees with the system's: ") + c.pszName;
        Check(hrResult[0] == hrResult[1] && bWritten[0] == bWritten[1], strStep.c_str());
    }
}

int Run(const std::wstring& strRoot)
{
    _wputenv_s(L"CALSTORE_ROOT", strRoot.c_str());
    const std::wstring strDbPath = strRoot + L"\\" + std::to_wstring(static_cast<LONG>(s_dwAccount)) + L"\\CalData.db";
    std::printf("data root: %ls\n", strRoot.c_str());

    CLSID clsid{};
    HRESULT hr = CLSIDFromProgID(L"Brellin.VxCalStoreData", &clsid);
    if (!Check(SUCCEEDED(hr) && clsid == CLSID_VxCalStoreData, "ProgID Brellin.VxCalStoreData names the class", hr)) {
        return 1;
    }
    CComRef<IVxCalStoreData> spStore;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IVxCalStoreData,
                          reinterpret_cast<void**>(spStore.Receive()));
    if (!Check(SUCCEEDED(hr), "CoCreateInstance", hr)) {
        return 1;
    }
    CComRef<IExtendKernalSequence> spSequence;
    hr = spSequence.QueryFrom(spStore.Get(), IID_IExtendKernalSequence);
    if (!Check(SUCCEEDED(hr), "IExtendKernalSequence", hr)) {
        return 1;
    }

    CComRef<CCalendarKernel> spKernel(new CCalendarKernel(s_dwAccount, 0));
    hr = spSequence->StartSequence(spKernel.Get());
    if (!Check(SUCCEEDED(hr), "StartSequence", hr)) {
        return 1;
    }

    CComRef<CCalendarItem> spCalendar(new CCalendarItem());
    spCalendar->data.lCalID = s_lCalID;
    spCalendar->data.strSubject = L"Smoke calendar";
    hr = spStore->AddCalendar(spCalendar.Get());
    Check(hr == S_OK, "AddCalendar", hr);

    CComRef<CEventItem> spEvent(new CEventItem());
    spEvent->data.lCalID = s_lCalID;
    spEvent->data.lEvtID = s_lEvtID;
    spEvent->data.lBgnTm = 1796000000;
    spEvent->data.lEndTm = 1796003600;
    spEvent->data.strSubject = L"Smoke event";
    hr = spStore->AddCalEvent(spEvent.Get());
    Check(hr == S_OK, "AddCalEvent", hr);

    Check(CommittedRows(strDbPath, "Event") == 0, "before the first tick a second connection sees no event");
    const int nTimerMessages = PumpUntilCommitted(strDbPath);
    Check(nTimerMessages > 0, "the timer's tick committed the start-up batch");
    std::printf("     WM_TIMER messages dispatched: %d\n", nTimerMessages > 0 ? nTimerMessages : -nTimerMessages - 1);
    Check(CommittedRows(strDbPath, "Calendar") == 1 && CommittedRows(strDbPath, "Event") == 1,
          "a second connection sees the calendar and the event");

    CComRef<CEventCollector> spEvents(new CEventCollector());
    hr = spStore->GetAllCalEvent(static_cast<ULONG>(s_lCalID), spEvents.Get());
    Check(hr == S_OK && spEvents->items.size() == 1 && spEvents->items[0].strSubject == L"Smoke event",
          "GetAllCalEvent hands the event back", hr);

    CompareOutlookIDDispatch(spStore.Get());

    hr = spSequence->StopSequence();
    Check(SUCCEEDED(hr), "StopSequence", hr);

    spSequence.Reset();
    IVxCalStoreData* pStore = spStore.Get();
    pStore->AddRef();
    spStore.Reset();
    Check(pStore->Release() == 0, "the last release destroys the store");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 2 || (argc == 2 && argv[1][0] == L'-')) {
        std::fprintf(stderr, "usage: brellin-smoke [DATA-ROOT]\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "brellin-smoke: COM could not be initialised\n");
        return 1;
    }
    const int nResult = Run(argc == 2 ? std::wstring(argv[1]) : NewScratchRoot());
    CoUninitialize();
    if (nResult != 0 || s_nFailures != 0) {
        std::printf("brellin-smoke: FAILED\n");
        return 1;
    }
    std::printf("brellin-smoke: OK\n");
    return 0;
}
