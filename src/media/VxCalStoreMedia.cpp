// The database file: location, tables, version, recovery, and the frame of the
// data operations.
#include "media/VxCalStoreMedia.h"
#include "media/StoreNames.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>

#include "account/UserDataDir.h"

namespace {

// The table texts are part of the file format: older readers depend on them.
const WCHAR s_szCreateVersion[] = WTEXT("create table %s (CalTblVer int, EventTblVer int,Ext1 int,Ext2 int);");
const WCHAR s_szCreateCalendar[] =
    WTEXT("create table %s (UIN int, CalID int, CalType int, ShrLevel int, TmStamp int, subject text, detail text,")
        WTEXT("ContactID text,ContactInfo text, SponsorID int,FromCalID int,ext1 text,ext2 text,ext3 text,ext4 int,")
            WTEXT("ext5 int, nums int);");
const WCHAR s_szCreateEvent[] =
    WTEXT("create table %s(CalID int,EvtID int,EvtType int,BgnTm int,EndTm int,TmStamp int,TipType int,Minute int,")
        WTEXT("Hour int,Day int,Week int,Month int,LoopType int,subject text,detail text,Synchronized int,")
            WTEXT("RevisedState int ,RemindMinute int,ContactID text,ContactInfo text,Location text,SponsorID int,")
                WTEXT("WeekNum int,MonthNum int,Year int,CalType int,EndType int,SwitchTimes int,LoopCalID int,")
                    WTEXT("LoopEventID int,CalOwnerUin int,EventRight int,ContactIDDisplay text,ContactIDInvalid text,")
                        WTEXT("EventStatus int, Valid int,ext1 text,ext2 text,ext3 text,ext4 int, ext5 int,nums int);");
const WCHAR s_szInsertVersion[] =
    WTEXT("insert into %s(CalTblVer, EventTblVer, ext1,ext2) values('%d','%d', '%d', '%d');");
const WCHAR s_szSelectVersion[] = WTEXT("select * from Version");
const WCHAR s_szDropTable[] = WTEXT("drop table %s");
const WCHAR s_szUpdateVersion[] = WTEXT("update %s set CalTblVer = 2, EventTblVer = 2, Ext1 = 0, Ext2 = 0");

const int s_nCurrentTableVersion = 2;

// The code raised for a missing table (the number of SQLITE_DONE, as before).
const int s_nMissingTableCode = 101;

PFN_STORE_TRACE_HOOK s_pfnTraceHook = nullptr;
void* s_pTraceHookContext = nullptr;

enum class EFileProbe { Absent, Sized, StatusUnreadable };

// Opens the file for reading and takes its size from the open handle.
EFileProbe ProbeDbFile(LPCWSTR pszPath, long long& cbSize)
{
#ifdef _WIN32
    FILE* pFile = _wfopen(pszPath, L"r");
    if (pFile == nullptr) {
        return EFileProbe::Absent;
    }
    struct _stat64 st {};
    const int nStat = _fstat64(_fileno(pFile), &st);
#else
    std::string strNative;
    FILE* pFile = WStrToUtf8(pszPath, strNative) ? std::fopen(strNative.c_str(), "r") : nullptr;
    if (pFile == nullptr) {
        return EFileProbe::Absent;
    }
    struct stat st {};
    const int nStat = ::fstat(fileno(pFile), &st);
#endif
    std::fclose(pFile);
    if (nStat != 0) {
        return EFileProbe::StatusUnreadable;
    }
    cbSize = static_cast<long long>(st.st_size);
    return EFileProbe::Sized;
}

// The 14-digit local-time stamp of a backup's name, nSecondsLater than st.
WString LocalStamp(const SYSTEMTIME& st, int nSecondsLater)
{
    struct tm tmLocal {};
    tmLocal.tm_year = st.wYear - 1900;
    tmLocal.tm_mon = st.wMonth - 1;
    tmLocal.tm_mday = st.wDay;
    tmLocal.tm_hour = st.wHour;
    tmLocal.tm_min = st.wMinute;
    tmLocal.tm_sec = st.wSecond + nSecondsLater;
    tmLocal.tm_isdst = -1;
    std::mktime(&tmLocal);  // carries the added seconds into minutes, hours, ...
    return WStrFormatString(WTEXT("%04d%02d%02d%02d%02d%02d"), tmLocal.tm_year + 1900, tmLocal.tm_mon + 1,
                            tmLocal.tm_mday, tmLocal.tm_hour, tmLocal.tm_min, tmLocal.tm_sec);
}

// The copy must be on disk before the original goes. (The POSIX copy flushes by
// itself; the Windows one does not.)
bool FlushToDisk(LPCWSTR pszPath)
{
#ifdef _WIN32
    const HANDLE hFile = CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile == INVALID_HANDLE_VALUE) {
        return false;
    }
    const BOOL bFlushed = FlushFileBuffers(hFile);
    CloseHandle(hFile);
    return bFlushed != FALSE;
#else
    (void)pszPath;
    return true;
#endif
}

bool FileExists(LPCWSTR pszPath)
{
#ifdef _WIN32
    struct _stat64 st {};
    return _wstat64(pszPath, &st) == 0;
#else
    std::string strNative;
    struct stat st {};
    return WStrToUtf8(pszPath, strNative) && ::stat(strNative.c_str(), &st) == 0;
#endif
}

}  // namespace

CVxCalStoreMedia::CVxCalStoreMedia()
    : m_bKeepOpen(FALSE),
      m_szDbPath{},
      m_pszSql(new WCHAR[SQL_BUFFER_CHARS]()),
      m_bBatchMode(FALSE),
      m_bInitialized(FALSE)
{
}

CVxCalStoreMedia::~CVxCalStoreMedia()
{
    // Writes made in batch mode were reported as done: keep them.
    CommitOpenBatch();
    m_db.close();
}

void CVxCalStoreMedia::SetTraceHook(PFN_STORE_TRACE_HOOK pfnHook, void* pContext)
{
    s_pfnTraceHook = pfnHook;
    s_pTraceHookContext = pContext;
}

void CVxCalStoreMedia::StoreTrace(LPCWSTR pszFormat, ...)
{
    if (s_pfnTraceHook == nullptr) {
        return;
    }
    va_list args;
    va_start(args, pszFormat);
    const WString strText = WStrFormatStringV(pszFormat, args);
    va_end(args);
    s_pfnTraceHook(s_pTraceHookContext, strText.c_str());
}

void CVxCalStoreMedia::TraceException(const CppSQLite3Exception& e)
{
    StoreTrace(WTEXT("%d: %s\r\n"), e.errorCode(), e.errorMessage());
}

LPCWSTR CVxCalStoreMedia::FormatSql(LPCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    va_list argsRetry;
    va_copy(argsRetry, args);
    const int cchNeeded = WStrFormatV(m_pszSql.get(), SQL_BUFFER_CHARS, pszFormat, args);
    va_end(args);
    LPCWSTR pszResult = m_pszSql.get();
    // A statement near the text limits, with apostrophes doubled, can outgrow the
    // buffer: format it whole rather than cut it.
    if (cchNeeded >= SQL_BUFFER_CHARS) {
        m_strLongSql = WStrFormatStringV(pszFormat, argsRetry);
        pszResult = m_strLongSql.c_str();
    }
    va_end(argsRetry);
    return pszResult;
}

void CVxCalStoreMedia::CreateTable(LPCWSTR pszCreateFormat, LPCWSTR pszTable)
{
    m_db.execDML(FormatSql(pszCreateFormat, pszTable));
}

void CVxCalStoreMedia::InsertVersionRow(int nCalTblVer, int nEventTblVer)
{
    try {
        m_db.execDML(FormatSql(s_szInsertVersion, g_szVersionTable, nCalTblVer, nEventTblVer, 0, 0));
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        m_db.close();
    }
}

void CVxCalStoreMedia::CommitOpenBatch()
{
    if (!m_bBatchMode || !m_db.isOpen()) {
        return;
    }
    try {
        m_db.execDML(WTEXT("commit transaction;"));
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
    } catch (...) {
        // Also called from the destructor: nothing may leave it.
    }
}

HRESULT CVxCalStoreMedia::Open(DWORD dwUIN, LPCWSTR pszFileName, BOOL bKeepOpen)
{
    if (pszFileName == nullptr) {
        return E_INVALIDARG;
    }
    // Opening again must neither lose a batch nor leak the open connection.
    CommitOpenBatch();
    m_db.close();
    m_bBatchMode = FALSE;
    // Until this Open succeeds the media has no file to work on: neither the one
    // it refuses nor the previous account's may be touched by a data operation.
    m_bInitialized = FALSE;
    m_bKeepOpen = bKeepOpen;

    WString strPath;
    GetUserDataDir(dwUIN, strPath);
    strPath += g_szDbFileName;
    // A path that does not fit the path buffer is refused, not cut.
    if (strPath.size() >= MAX_PATH) {
        StoreTrace(WTEXT("path too long!\r\n"));
        return E_FAIL;
    }
    WStrCopyN(m_szDbPath, MAX_PATH, strPath.c_str());

    long long cbFile = 0;
    const EFileProbe eProbe = ProbeDbFile(m_szDbPath, cbFile);
    if (eProbe == EFileProbe::StatusUnreadable) {
        StoreTrace(WTEXT("fstat ERROR!\r\n"));
        return E_FAIL;
    }
    if (eProbe == EFileProbe::Sized && cbFile > s_cbMaxDbFile) {
        StoreTrace(WTEXT("file size too big!\r\n"));
        return E_FAIL;
    }

    try {
        if (eProbe == EFileProbe::Sized) {
            m_db.open(m_szDbPath);
            CheckTablesAndVersion(dwUIN);
        } else {
            m_db.open(m_szDbPath);
            CreateFreshTables();
        }
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        m_db.close();
        // Only a damaged file is rebuilt. A busy file, a failing disk or a full
        // one is no damage: rebuilding would throw away a healthy database.
        if (!IsDamage(e.errorCode())) {
            return E_FAIL;
        }
        if (BackupAndRecreate(dwUIN) == 0) {
            m_db.close();
            return E_FAIL;
        }
    } catch (...) {
        StoreTrace(WTEXT("unexpected failure\r\n"));
        m_db.close();
        return E_FAIL;
    }

    EnsureIndexes();
    m_db.close();
    m_bInitialized = TRUE;
    return S_OK;
}

bool CVxCalStoreMedia::IsDamage(int nErrCode)
{
    return nErrCode == SQLITE_CORRUPT || nErrCode == SQLITE_NOTADB || nErrCode == s_nMissingTableCode;
}

void CVxCalStoreMedia::CheckTablesAndVersion(DWORD dwUIN)
{
    if (!m_db.tableExists(g_szVersionTable)) {
        StoreTrace(WTEXT("No Version Table!\r\n"));
        throw CppSQLite3Exception(s_nMissingTableCode, WTEXT("No Version Table!"));
    }
    if (!m_db.tableExists(g_szCalendarTable)) {
        StoreTrace(WTEXT("No Calendar Table!\r\n"));
        throw CppSQLite3Exception(s_nMissingTableCode, WTEXT("No Calendar Table!"));
    }
    if (!m_db.tableExists(g_szEventTable)) {
        StoreTrace(WTEXT("No Event Table!\r\n"));
        throw CppSQLite3Exception(s_nMissingTableCode, WTEXT("No Event Table!"));
    }
    int nVersion = 0;
    bool bHasVersionRow = false;
    {
        CppSQLite3Query query = m_db.execQuery(s_szSelectVersion);
        if (!query.eof()) {
            bHasVersionRow = true;
            nVersion = WStrToInt32(query.fieldValue(0));
        }
    }
    if (nVersion < s_nCurrentTableVersion) {
        // The rebuild drops every calendar and event: keep a copy first.
        if (!BackupDatabaseFile(dwUIN)) {
            StoreTrace(WTEXT("backup before upgrade failed!\r\n"));
            throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("backup before upgrade failed"));
        }
        RebuildOldFormat(bHasVersionRow);
    }
}

void CVxCalStoreMedia::CreateFreshTables()
{
    CreateTable(s_szCreateVersion, g_szVersionTable);
    InsertVersionRow(s_nCurrentTableVersion, s_nCurrentTableVersion);
    CreateTable(s_szCreateCalendar, g_szCalendarTable);
    CreateTable(s_szCreateEvent, g_szEventTable);
}

void CVxCalStoreMedia::RebuildOldFormat(bool bHasVersionRow)
{
    // One transaction, so that a crash cannot leave the file without its tables.
    m_db.execDML(WTEXT("begin immediate transaction;"));
    m_db.execDML(FormatSql(s_szDropTable, g_szCalendarTable));
    m_db.execDML(FormatSql(s_szDropTable, g_szEventTable));
    CreateTable(s_szCreateCalendar, g_szCalendarTable);
    CreateTable(s_szCreateEvent, g_szEventTable);
    m_db.execDML(FormatSql(s_szUpdateVersion, g_szVersionTable));
    // A Version table without its row would make every later Open rebuild again.
    if (!bHasVersionRow) {
        m_db.execDML(
            FormatSql(s_szInsertVersion, g_szVersionTable, s_nCurrentTableVersion, s_nCurrentTableVersion, 0, 0));
    }
    m_db.execDML(WTEXT("commit transaction;"));
}

bool CVxCalStoreMedia::BackupDatabaseFile(DWORD dwUIN)
{
    SYSTEMTIME st{};
    GetLocalTime(&st);
    WString strDir;
    GetUserDataDir(dwUIN, strDir);
    // A backup never replaces an earlier one: when the second's name is taken,
    // the next second's is used.
    for (int nSecondsLater = 0; nSecondsLater < 60; ++nSecondsLater) {
        const WString strBackup = strDir + LocalStamp(st, nSecondsLater) + g_szDbFileName;
        if (strBackup.size() >= MAX_PATH) {
            StoreTrace(WTEXT("backup path too long!\r\n"));
            return false;
        }
        if (CopyFileW(m_szDbPath, strBackup.c_str(), TRUE)) {
            return FlushToDisk(strBackup.c_str());
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
}

int CVxCalStoreMedia::BackupAndRecreate(DWORD dwUIN)
{
    if (FileExists(m_szDbPath)) {
        // Without a safe copy the damaged file stays as it is.
        if (!BackupDatabaseFile(dwUIN)) {
            StoreTrace(WTEXT("backup failed, file kept!\r\n"));
            return 0;
        }
        DeleteFileW(m_szDbPath);
    }
    try {
        m_db.open(m_szDbPath);
        CreateFreshTables();
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        m_db.close();
        return 0;
    }
    return 1;
}

HRESULT CVxCalStoreMedia::Close()
{
    if (m_bKeepOpen) {
        m_db.close();
    }
    return S_OK;
}

HRESULT CVxCalStoreMedia::EnsureOpen(LPCWSTR pszPath)
{
    if (!m_bInitialized) {
        return E_FAIL;
    }
    // Never open over a live connection: its transaction would be lost.
    if (!m_db.isOpen()) {
        m_db.open(pszPath);
    }
    if (!m_db.tableExists(g_szVersionTable)) {
        CreateTable(s_szCreateVersion, g_szVersionTable);
        InsertVersionRow(s_nCurrentTableVersion, s_nCurrentTableVersion);
    }
    if (!m_db.tableExists(g_szCalendarTable)) {
        CreateTable(s_szCreateCalendar, g_szCalendarTable);
    }
    if (!m_db.tableExists(g_szEventTable)) {
        CreateTable(s_szCreateEvent, g_szEventTable);
        EnsureIndexes();
    }
    return S_OK;
}

void CVxCalStoreMedia::OnOperationFailure(const CppSQLite3Exception* pException, unsigned uFlags)
{
    if (pException != nullptr) {
        TraceException(*pException);
    } else {
        StoreTrace(WTEXT("unexpected failure\r\n"));
    }
    if (m_bBatchMode && m_db.isOpen()) {
        // SQLite has undone only the failed statement; closing the connection would
        // throw away every earlier write of the batch, all reported as done.
        if (!m_db.inTransaction()) {
            try {
                m_db.execDML(WTEXT("begin immediate transaction;"));
                StoreTrace(WTEXT("batch transaction ended by SQLite, begun again\r\n"));
            } catch (...) {
                StoreTrace(WTEXT("batch transaction could not be begun again\r\n"));
                m_db.close();
            }
        }
        return;
    }
    if ((uFlags & FRAME_KEEP_OPEN) == 0) {
        m_db.close();
    }
}
