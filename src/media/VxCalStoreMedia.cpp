// The database file: location, tables, version, recovery, and the frame of the
// data operations.
#include "media/VxCalStoreMedia.h"
#include "media/StoreNames.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "account/UserDataDir.h"
#include "host/CalendarUtil.h"

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
const WCHAR s_szCountTables[] = WTEXT("select count(*) from sqlite_master where type = 'table';");

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

// Why a file cannot be opened, from what the file system says about its place.
WString DescribeCantOpen(LPCWSTR pszPath)
{
#ifdef _WIN32
    const DWORD dwAttributes = GetFileAttributesW(pszPath);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return WTEXT("a directory stands where the file should be");
    }
    if (_waccess(pszPath, 0) == 0 && _waccess(pszPath, 6) != 0) {
        return WTEXT("permission denied");
    }
#else
    std::string strNative;
    struct stat st {};
    if (WStrToUtf8(pszPath, strNative)) {
        if (::stat(strNative.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            return WTEXT("a directory stands where the file should be");
        }
        const size_t nSlash = strNative.rfind('/');
        const std::string strDir = nSlash == std::string::npos ? std::string(".") : strNative.substr(0, nSlash + 1);
        if (::access(strDir.c_str(), F_OK) != 0) {
            return WTEXT("its directory does not exist");
        }
        if (::access(strDir.c_str(), W_OK | X_OK) != 0 ||
            (::access(strNative.c_str(), F_OK) == 0 && ::access(strNative.c_str(), R_OK | W_OK) != 0)) {
            return WTEXT("permission denied");
        }
    }
#endif
    return WTEXT("the file cannot be opened");
}

// SQLite's names are alike whatever the case of their ASCII letters.
bool SameColumnName(const WCHAR* pszName, const WString& strExpected)
{
    const auto fold = [](WCHAR ch) { return ch >= WCHAR('A') && ch <= WCHAR('Z') ? WCHAR(ch - 'A' + 'a') : ch; };
    size_t nIndex = 0;
    for (; pszName[nIndex] != 0; ++nIndex) {
        if (nIndex >= strExpected.size() || fold(pszName[nIndex]) != fold(strExpected[nIndex])) {
            return false;
        }
    }
    return nIndex == strExpected.size();
}

// A write transaction of its own, outside any batch: "begin immediate" takes the
// write lock at once, so that what is seen next cannot change until the end. Rolls
// back unless committed.
class CWriteTransaction {
public:
    explicit CWriteTransaction(CppSQLite3DB& db) : m_db(db) { m_db.execDML(WTEXT("begin immediate transaction;")); }
    CWriteTransaction(const CWriteTransaction&) = delete;
    CWriteTransaction& operator=(const CWriteTransaction&) = delete;
    ~CWriteTransaction() { Rollback(); }

    void Commit()
    {
        m_db.execDML(WTEXT("commit transaction;"));
        m_bDone = true;
    }

    void Rollback() noexcept
    {
        if (m_bDone) {
            return;
        }
        m_bDone = true;
        try {
            if (m_db.inTransaction()) {
                m_db.execDML(WTEXT("rollback transaction;"));
            }
        } catch (...) {
            // The connection is closed by the caller's failure path, which ends it too.
        }
    }

private:
    CppSQLite3DB& m_db;
    bool m_bDone = false;
};

}  // namespace

CVxCalStoreMedia::CVxCalStoreMedia()
    : m_bKeepOpen(FALSE),
      m_szDbPath{},
      m_pszSql(new WCHAR[SQL_BUFFER_CHARS]()),
      m_bBatchMode(FALSE),
      m_bInitialized(FALSE),
      m_bBatchLost(FALSE)
{
}

CVxCalStoreMedia::~CVxCalStoreMedia()
{
    // Writes made in batch mode were reported as done: keep them (a failure is
    // logged, as nobody is left to receive a result).
    EndBatch();
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
        RecordFailure(e);
        m_db.close();
    }
}

// ---------------------------------------------------------------------------
// Why an operation failed

WString CVxCalStoreMedia::DescribeFailure(int nErrCode, LPCWSTR pszMessage) const
{
    switch (nErrCode & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return WTEXT("the file is busy: another program holds its lock");
    case SQLITE_FULL: return WTEXT("disk full");
    case SQLITE_IOERR: return WTEXT("I/O error");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return WTEXT("permission denied");
    case SQLITE_CANTOPEN: return DescribeCantOpen(m_szDbPath);
    case SQLITE_NOTADB: return WTEXT("not a database");
    case SQLITE_CORRUPT: return WTEXT("damaged");
    case SQLITE_NOMEM: return WTEXT("out of memory");
    default: break;
    }
    WString strReason = WTEXT("database error");
    if (pszMessage != nullptr && *pszMessage != 0) {
        strReason += WTEXT(" (");
        strReason += pszMessage;
        strReason += WTEXT(")");
    }
    return strReason;
}

void CVxCalStoreMedia::RecordFailure(const CppSQLite3Exception& e)
{
    SetFailure(DescribeFailure(e.errorCode(), e.errorMessage()));
}

void CVxCalStoreMedia::SetFailure(const WString& strReason)
{
    m_strFailure = m_szDbPath[0] != 0 ? WString(m_szDbPath) + WTEXT(": ") + strReason : strReason;
}

void CVxCalStoreMedia::LogLine(ENUM_LOG_SERVERITY eSeverity, const WString& strText)
{
    CCalendarLogger::Calendar_Log(eSeverity, g_szLogModule, WTEXT("%s\r\n"), strText.c_str());
}

// ---------------------------------------------------------------------------
// Examining, creating, upgrading and recovering the file

HRESULT CVxCalStoreMedia::OpenAccount(DWORD dwUIN, BOOL bKeepOpen)
{
    return Open(dwUIN, g_szDbFileName, bKeepOpen);
}

HRESULT CVxCalStoreMedia::Open(DWORD dwUIN, LPCWSTR pszFileName, BOOL bKeepOpen)
{
    if (pszFileName == nullptr) {
        return E_INVALIDARG;
    }
    // Opening again must neither lose a batch nor leak the open connection. A batch
    // that cannot be committed is reported, and the media stays on its file so that
    // a later try (or the destructor) can still commit it.
    if (FAILED(EndBatch())) {
        return E_FAIL;
    }
    m_db.close();
    m_bBatchMode = FALSE;
    // Until this Open succeeds the media has no file to work on: neither the one
    // it refuses nor the previous account's may be touched by a data operation.
    m_bInitialized = FALSE;
    m_bKeepOpen = bKeepOpen;
    m_strFailure.clear();

    WString strPath;
    GetUserDataDir(dwUIN, strPath);
    strPath += g_szDbFileName;
    // A path that does not fit the path buffer is refused, not cut.
    if (strPath.size() >= MAX_PATH) {
        StoreTrace(WTEXT("path too long!\r\n"));
        m_szDbPath[0] = 0;
        SetFailure(strPath + WTEXT(": the path is too long"));
        return E_FAIL;
    }
    WStrCopyN(m_szDbPath, MAX_PATH, strPath.c_str());

    long long cbFile = 0;
    const EFileProbe eProbe = ProbeDbFile(m_szDbPath, cbFile);
    if (eProbe == EFileProbe::StatusUnreadable) {
        StoreTrace(WTEXT("fstat ERROR!\r\n"));
        SetFailure(WTEXT("the file's status cannot be read"));
        return E_FAIL;
    }
    if (eProbe == EFileProbe::Sized && cbFile > s_cbMaxDbFile) {
        StoreTrace(WTEXT("file size too big!\r\n"));
        SetFailure(WTEXT("too big: over 100 MiB"));
        return E_FAIL;
    }

    try {
        m_db.open(m_szDbPath);
        SettleTables(false);
        CheckVersion(dwUIN);
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        if (m_strFailure.empty()) {
            RecordFailure(e);
        }
        m_db.close();
        // Only a damaged file is rebuilt. A busy file, a failing disk or a full
        // one is no damage: rebuilding would throw away a healthy database.
        if (!IsDamage(e.errorCode())) {
            return E_FAIL;
        }
        m_strFailure.clear();
        if (BackupAndRecreate(dwUIN) == 0) {
            m_db.close();
            return E_FAIL;
        }
    } catch (...) {
        StoreTrace(WTEXT("unexpected failure\r\n"));
        SetFailure(WTEXT("unexpected failure"));
        m_db.close();
        return E_FAIL;
    }

    EnsureIndexes();
    m_db.close();
    m_strFailure.clear();
    m_bInitialized = TRUE;
    return S_OK;
}

bool CVxCalStoreMedia::IsDamage(int nErrCode)
{
    return nErrCode == SQLITE_CORRUPT || nErrCode == SQLITE_NOTADB || nErrCode == s_nMissingTableCode;
}

CVxCalStoreMedia::STableLook CVxCalStoreMedia::LookAtTables()
{
    STableLook look;
    look.bVersion = m_db.tableExists(g_szVersionTable);
    look.bCalendar = m_db.tableExists(g_szCalendarTable);
    look.bEvent = m_db.tableExists(g_szEventTable);
    // Only an incomplete file needs the count; the lazy open of every operation
    // outside a batch passes here.
    if (!look.Complete()) {
        look.nTables = m_db.execScalar(s_szCountTables);
    }
    return look;
}

bool CVxCalStoreMedia::HasCurrentColumns(LPCWSTR pszTable, LPCWSTR pszCreateFormat)
{
    // The column names, in order, as the table text gives them.
    std::vector<WString> vecExpected;
    const WString strText(pszCreateFormat);
    const size_t nOpen = strText.find(WCHAR('('));
    const size_t nClose = strText.rfind(WCHAR(')'));
    if (nOpen == WString::npos || nClose == WString::npos || nClose <= nOpen) {
        return false;
    }
    for (size_t nPos = nOpen + 1; nPos < nClose;) {
        size_t nEnd = strText.find(WCHAR(','), nPos);
        if (nEnd == WString::npos || nEnd > nClose) {
            nEnd = nClose;
        }
        size_t nBegin = nPos;
        while (nBegin < nEnd && strText[nBegin] == WCHAR(' ')) {
            ++nBegin;
        }
        size_t nNameEnd = nBegin;
        while (nNameEnd < nEnd && strText[nNameEnd] != WCHAR(' ')) {
            ++nNameEnd;
        }
        vecExpected.push_back(strText.substr(nBegin, nNameEnd - nBegin));
        nPos = nEnd + 1;
    }

    CppSQLite3Query query = m_db.execQuery(FormatSql(WTEXT("pragma table_info(%s);"), pszTable));
    size_t nColumn = 0;
    for (; !query.eof(); query.nextRow(), ++nColumn) {
        const WCHAR* pszName = query.fieldValue(1);
        if (nColumn >= vecExpected.size() || pszName == nullptr ||
            !SameColumnName(pszName, vecExpected[nColumn])) {
            return false;
        }
    }
    return nColumn == vecExpected.size();
}

bool CVxCalStoreMedia::SettleTables(bool bCreateMissing)
{
    if (LookAtTables().Complete()) {
        return false;
    }
    // Another process may be creating this file right now: take the write lock
    // (waiting for it to finish) and look again before deciding anything.
    CWriteTransaction transaction(m_db);
    const STableLook look = LookAtTables();
    if (look.Complete()) {
        transaction.Commit();
        return false;
    }
    if (bCreateMissing || look.nTables == 0) {
        // A new file, or one that lost a table between two operations: the missing
        // tables and the Version row are made in one transaction.
        if (!look.bVersion) {
            CreateTable(s_szCreateVersion, g_szVersionTable);
            InsertVersionRow(s_nCurrentTableVersion, s_nCurrentTableVersion);
        }
        if (!look.bCalendar) {
            CreateTable(s_szCreateCalendar, g_szCalendarTable);
        }
        if (!look.bEvent) {
            CreateTable(s_szCreateEvent, g_szEventTable);
        }
        transaction.Commit();
        return true;
    }
    if (!look.bVersion && look.bCalendar && look.bEvent && HasCurrentColumns(g_szCalendarTable, s_szCreateCalendar) &&
        HasCurrentColumns(g_szEventTable, s_szCreateEvent)) {
        // The data is in the current format: only the Version table is missing.
        CreateTable(s_szCreateVersion, g_szVersionTable);
        InsertVersionRow(s_nCurrentTableVersion, s_nCurrentTableVersion);
        transaction.Commit();
        LogLine(EN_LOG_SERVERITY_WARNING,
                WString(m_szDbPath) + WTEXT(": the Version table was missing; it was written and the data kept"));
        return true;
    }
    transaction.Rollback();
    if (!look.bVersion) {
        StoreTrace(WTEXT("No Version Table!\r\n"));
        throw CppSQLite3Exception(s_nMissingTableCode, WTEXT("No Version Table!"));
    }
    if (!look.bCalendar) {
        StoreTrace(WTEXT("No Calendar Table!\r\n"));
        throw CppSQLite3Exception(s_nMissingTableCode, WTEXT("No Calendar Table!"));
    }
    StoreTrace(WTEXT("No Event Table!\r\n"));
    throw CppSQLite3Exception(s_nMissingTableCode, WTEXT("No Event Table!"));
}

bool CVxCalStoreMedia::ReadVersion(int& nVersion, bool& bHasRow)
{
    nVersion = 0;
    CppSQLite3Query query = m_db.execQuery(s_szSelectVersion);
    bHasRow = !query.eof();
    if (!bHasRow) {
        return false;
    }
    const WCHAR* pszValue = query.fieldValue(0);
    // NULL, or a text that does not begin with a number, is no version at all.
    if (pszValue == nullptr) {
        return false;
    }
    const WCHAR* pszDigits = pszValue[0] == WCHAR('-') ? pszValue + 1 : pszValue;
    if (pszDigits[0] < WCHAR('0') || pszDigits[0] > WCHAR('9')) {
        return false;
    }
    nVersion = WStrToInt32(pszValue);
    return true;
}

void CVxCalStoreMedia::CheckVersion(DWORD dwUIN)
{
    int nVersion = 0;
    bool bHasRow = false;
    if (ReadVersion(nVersion, bHasRow) && nVersion >= s_nCurrentTableVersion) {
        return;
    }
    // Decided under the write lock, after looking again.
    CWriteTransaction transaction(m_db);
    if (ReadVersion(nVersion, bHasRow) && nVersion >= s_nCurrentTableVersion) {
        transaction.Commit();
        return;
    }
    if (HasCurrentColumns(g_szCalendarTable, s_szCreateCalendar) && HasCurrentColumns(g_szEventTable, s_szCreateEvent)) {
        // The tables are already current: a missing or unreadable Version row is no
        // reason to empty them.
        if (bHasRow) {
            m_db.execDML(FormatSql(s_szUpdateVersion, g_szVersionTable));
        } else {
            InsertVersionRow(s_nCurrentTableVersion, s_nCurrentTableVersion);
        }
        transaction.Commit();
        LogLine(EN_LOG_SERVERITY_WARNING,
                WString(m_szDbPath) + WTEXT(": the Version row was missing or unreadable; it was written and the data kept"));
        return;
    }
    // A file of the old format: its rebuild drops every calendar and event, so a
    // copy is kept first.
    WString strBackup;
    if (!BackupDatabaseFile(dwUIN, strBackup)) {
        StoreTrace(WTEXT("backup before upgrade failed!\r\n"));
        SetFailure(WTEXT("an old-format file could not be backed up before its upgrade; it was left as it is"));
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("backup before upgrade failed"));
    }
    try {
        RebuildOldFormat(bHasRow);
        transaction.Commit();
    } catch (const CppSQLite3Exception& e) {
        // The file is unchanged; the copy would only mislead.
        DeleteFileW(strBackup.c_str());
        throw;
    }
    LogLine(EN_LOG_SERVERITY_WARNING,
            WString(m_szDbPath) + WTEXT(": an old-format file was upgraded, its calendars and events dropped; ") +
                WTEXT("backup kept at ") + strBackup);
}

void CVxCalStoreMedia::RebuildOldFormat(bool bHasVersionRow)
{
    // Runs inside the caller's transaction, so that a crash cannot leave the file
    // without its tables.
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
}

bool CVxCalStoreMedia::BackupDatabaseFile(DWORD dwUIN, WString& strBackupPath)
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
            if (!FlushToDisk(strBackup.c_str())) {
                DeleteFileW(strBackup.c_str());
                return false;
            }
            strBackupPath = strBackup;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) {
            return false;
        }
    }
    return false;
}

bool CVxCalStoreMedia::StillDamaged()
{
    // Another process may have rebuilt the file since it was found damaged.
    CppSQLite3DB db;
    try {
        db.open(m_szDbPath);
        if (db.tableExists(g_szVersionTable) && db.tableExists(g_szCalendarTable) && db.tableExists(g_szEventTable)) {
            // Read the Version row as Open did: damage found there shows again here.
            db.execScalar(s_szSelectVersion);
            return false;
        }
        // A file with no table at all is one that is being created, not a damaged one.
        return db.execScalar(s_szCountTables) != 0;
    } catch (const CppSQLite3Exception& e) {
        return IsDamage(e.errorCode());
    }
}

int CVxCalStoreMedia::BackupAndRecreate(DWORD dwUIN)
{
    WString strBackup;
    if (FileExists(m_szDbPath)) {
        // Without a safe copy the damaged file stays as it is.
        if (!BackupDatabaseFile(dwUIN, strBackup)) {
            StoreTrace(WTEXT("backup failed, file kept!\r\n"));
            SetFailure(WTEXT("damaged, and no backup of it could be written: the file was left as it is"));
            return 0;
        }
        if (!StillDamaged()) {
            // Rebuilt by another process meanwhile: the copy is of a healthy file.
            DeleteFileW(strBackup.c_str());
            strBackup.clear();
        } else if (!DeleteFileW(m_szDbPath)) {
            SetFailure(WTEXT("damaged (backup kept at ") + strBackup + WTEXT("), and the file could not be replaced"));
            return 0;
        }
    }
    try {
        m_db.open(m_szDbPath);
        SettleTables(false);
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        m_db.close();
        if (strBackup.empty()) {
            RecordFailure(e);
        } else {
            SetFailure(WTEXT("damaged (backup kept at ") + strBackup + WTEXT("), and rebuilding it failed: ") +
                       DescribeFailure(e.errorCode(), e.errorMessage()));
        }
        return 0;
    }
    if (!strBackup.empty()) {
        LogLine(EN_LOG_SERVERITY_WARNING,
                WString(m_szDbPath) + WTEXT(": damaged, rebuilt empty; backup kept at ") + strBackup);
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
    // Inside an open batch the tables are there already.
    if (!m_db.inTransaction() && SettleTables(true)) {
        EnsureIndexes();
    }
    return S_OK;
}

void CVxCalStoreMedia::OnOperationFailure(const CppSQLite3Exception* pException, unsigned uFlags)
{
    if (pException != nullptr) {
        TraceException(*pException);
        RecordFailure(*pException);
    } else {
        StoreTrace(WTEXT("unexpected failure\r\n"));
        SetFailure(WTEXT("unexpected failure"));
    }
    if (m_bBatchMode && m_db.isOpen()) {
        // Usually SQLite has undone only the failed statement: the batch goes on,
        // and closing the connection would throw away its earlier writes.
        if (!m_db.inTransaction() && !m_bBatchLost) {
            // SQLite rolled the whole batch back (disk full, I/O error): its earlier
            // writes, reported as done, are gone. Say so now and at the batch's end.
            m_bBatchLost = TRUE;
            m_strBatchLoss = m_strFailure;
            LogLine(EN_LOG_SERVERITY_ERROR, WTEXT("Batch lost, nothing written in it was saved: ") + m_strBatchLoss);
        }
        return;
    }
    if ((uFlags & FRAME_KEEP_OPEN) == 0) {
        m_db.close();
    }
}
