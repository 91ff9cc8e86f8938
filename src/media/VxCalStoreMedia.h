// The store media: calendars and events of one account in the SQLite file
// "CalData.db", behind the abstract operation table that the store object uses.
#pragma once

#include <memory>

#include "compat/win32.h"
#include "host/CalendarUtil.h"
#include "media/CalendarRecords.h"
#include "media/RecordArray.h"
#include "sqlite/CppSQLite3.h"

// The module name of the store's lines in the host's log, the media's and the
// store object's alike.
inline constexpr WCHAR g_szLogModule[] = WTEXT("CalStore");

// The store media's operations, in their fixed slot order. Every one returns
// S_OK, E_FAIL or E_INVALIDARG; IsOutlookIDExist also S_FALSE.
//
// List operations hand the caller one array (release it with FreeRecordArray) and
// its count; with no rows the array pointer is not written.
class tagVxCalStoreMedia {
public:
    virtual HRESULT SaveCalendar(const tagCalendarRecord* pRec, DWORD dwReserved) = 0;          // 0
    virtual HRESULT SaveCalEvent(const tagEventRecord* pRec, DWORD dwReserved) = 0;             // 1
    virtual HRESULT GetCalendar(DWORD dwCalID, tagCalendarRecord* pRec) = 0;                    // 2
    virtual HRESULT GetCalEvent(DWORD dwCalID, DWORD dwEvtID, tagEventRecord* pRec) = 0;        // 3
    virtual HRESULT DelCalendar(DWORD dwCalID, DWORD dwReserved) = 0;                           // 4
    virtual HRESULT DelCalEvent(DWORD dwCalID, DWORD dwEvtID, DWORD dwReserved) = 0;            // 5
    virtual HRESULT GetAllCalendar(tagCalendarRecord** ppArray, int* pnCount) = 0;              // 6
    virtual HRESULT GetAllCalEvent(DWORD dwCalID, tagEventRecord** ppArray, int* pnCount) = 0;  // 7
    virtual HRESULT Open(DWORD dwUIN, LPCWSTR pszFileName, BOOL bKeepOpen) = 0;                 // 8
    virtual HRESULT Close() = 0;                                                                // 9
    virtual HRESULT DelLoopException(DWORD dwLoopCalID, DWORD dwLoopEventID) = 0;               // 10
    virtual HRESULT BeginTransaction() = 0;                                                     // 11
    virtual HRESULT CommitTransaction() = 0;                                                    // 12
    virtual HRESULT UpdateCalendar(const tagCalendarRecord* pRec) = 0;                          // 13
    virtual HRESULT UpdateCalEvent(const tagEventRecord* pRec) = 0;                             // 14
    virtual HRESULT QueryCalEvent(DWORD dwCalID, LPCWSTR pszName, LPCWSTR pszValue, tagEventRecord** ppArray,
                                  int* pnCount) = 0;  // 15
    virtual HRESULT QueryCalEventEx(DWORD dwCalID, LPCWSTR pszName1, LPCWSTR pszValue1, LPCWSTR pszName2,
                                    LPCWSTR pszValue2, tagEventRecord** ppArray, int* pnCount) = 0;  // 16
    virtual HRESULT GetPeriodEvent(DWORD dwCalID, DWORD dwBeginTime, DWORD dwEndTime, tagEventRecord** ppArray,
                                   int* pnCount) = 0;            // 17
    virtual HRESULT SetBatchMode(BOOL bBatchMode) = 0;           // 18
    virtual HRESULT DelAllCalendar() = 0;                        // 19
    virtual HRESULT DelAllEvent() = 0;                           // 20
    virtual HRESULT IsOutlookIDExist(LPCWSTR pszOutlookID) = 0;  // 21
    virtual HRESULT DelAllEventofCalendar(DWORD dwCalID) = 0;    // 22

protected:
    // Owners destroy the media through its concrete type.
    ~tagVxCalStoreMedia() = default;
};

// Where a chunked read of events stands: which events, the last row handed out,
// and the last row of the table when the read began.
struct CEventChunkCursor {
    bool bPeriod = false;  // the events of dwCalID that meet the period, else all of dwCalID
    DWORD dwCalID = 0;
    DWORD dwBeginTime = 0;
    DWORD dwEndTime = 0;
    long long llAfterRow = 0;
    long long llLastRow = -1;  // not yet known
    bool bDone = false;        // the last chunk has been read
};

// Receives the store media's debug trace lines (tests and diagnostics only).
typedef void (*PFN_STORE_TRACE_HOOK)(void* pContext, LPCWSTR pszText);

class CVxCalStoreMedia final : public tagVxCalStoreMedia {
public:
    CVxCalStoreMedia();
    CVxCalStoreMedia(const CVxCalStoreMedia&) = delete;
    CVxCalStoreMedia& operator=(const CVxCalStoreMedia&) = delete;
    ~CVxCalStoreMedia();

    HRESULT SaveCalendar(const tagCalendarRecord* pRec, DWORD dwReserved) override;
    HRESULT SaveCalEvent(const tagEventRecord* pRec, DWORD dwReserved) override;
    HRESULT GetCalendar(DWORD dwCalID, tagCalendarRecord* pRec) override;
    HRESULT GetCalEvent(DWORD dwCalID, DWORD dwEvtID, tagEventRecord* pRec) override;
    HRESULT DelCalendar(DWORD dwCalID, DWORD dwReserved) override;
    HRESULT DelCalEvent(DWORD dwCalID, DWORD dwEvtID, DWORD dwReserved) override;
    HRESULT GetAllCalendar(tagCalendarRecord** ppArray, int* pnCount) override;
    HRESULT GetAllCalEvent(DWORD dwCalID, tagEventRecord** ppArray, int* pnCount) override;

    // Examines the account's "CalData.db": creates it when absent, upgrades a file
    // of format version below 2 (after backing it up), and backs up and rebuilds a
    // damaged one (unreadable as a database, or missing a table). A file that is
    // only busy, or an error of the disk, fails the call and is left alone. Commits
    // a batch still open first, and fails (still on the old file) when that commit
    // fails; ends with the connection closed and batch mode off.
    // After a failure no data operation works until an Open succeeds. pszFileName
    // must be given but the file is always "CalData.db".
    HRESULT Open(DWORD dwUIN, LPCWSTR pszFileName, BOOL bKeepOpen) override;
    // Open for callers that have no file name to give: the media names its own.
    HRESULT OpenAccount(DWORD dwUIN, BOOL bKeepOpen);

    // Closes the connection when the last Open asked to keep it open.
    HRESULT Close() override;

    HRESULT DelLoopException(DWORD dwLoopCalID, DWORD dwLoopEventID) override;
    HRESULT BeginTransaction() override;
    HRESULT CommitTransaction() override;
    HRESULT UpdateCalendar(const tagCalendarRecord* pRec) override;
    HRESULT UpdateCalEvent(const tagEventRecord* pRec) override;
    HRESULT QueryCalEvent(DWORD dwCalID, LPCWSTR pszName, LPCWSTR pszValue, tagEventRecord** ppArray,
                          int* pnCount) override;
    HRESULT QueryCalEventEx(DWORD dwCalID, LPCWSTR pszName1, LPCWSTR pszValue1, LPCWSTR pszName2, LPCWSTR pszValue2,
                            tagEventRecord** ppArray, int* pnCount) override;
    HRESULT GetPeriodEvent(DWORD dwCalID, DWORD dwBeginTime, DWORD dwEndTime, tagEventRecord** ppArray,
                           int* pnCount) override;
    HRESULT SetBatchMode(BOOL bBatchMode) override;
    HRESULT DelAllCalendar() override;
    HRESULT DelAllEvent() override;
    HRESULT IsOutlookIDExist(LPCWSTR pszOutlookID) override;
    HRESULT DelAllEventofCalendar(DWORD dwCalID) override;

    // Largest file that Open accepts: 100 MiB.
    static constexpr long long s_cbMaxDbFile = 104857600;

    static void SetTraceHook(PFN_STORE_TRACE_HOOK pfnHook, void* pContext);

    BOOL IsBatchMode() const { return m_bBatchMode; }

    // Why the last failed operation failed, for the caller's error information:
    // the file's path and the cause ("disk full", "the file is busy: ...",
    // "damaged (backup kept at PATH) ..."). Empty when nothing is known.
    const WString& GetLastFailure() const { return m_strFailure; }

    // The events of a list operation a few at a time, for callers that visit a
    // large result without holding it whole: up to nMax records (zero-filled, then
    // read) after the cursor's row, in the order of the rows in the table. Rows
    // added after the first chunk are not reached; a row deleted before its chunk is
    // read is not handed out. Each chunk runs in the frame of a data operation, so
    // the caller may use the media between chunks.
    HRESULT ReadEventChunk(CEventChunkCursor& cursor, tagEventRecord* rgRecords, int nMax, int* pnCount);

private:
    // Opens the connection on pszPath and creates whichever of the three tables is
    // missing (a new Version table gets its row). E_FAIL before a successful Open;
    // SQLite failures are raised to the caller.
    HRESULT EnsureOpen(LPCWSTR pszPath);

    // Copies the damaged file to its time-stamped backup, deletes it, and builds a
    // fresh database in its place. Returns 1 on success, 0 on failure; the original
    // is deleted only after its backup is safely written.
    int BackupAndRecreate(DWORD dwUIN);

    void InsertVersionRow(int nCalTblVer, int nEventTblVer);

    // The debug trace points; they write nothing unless a hook is set.
    void StoreTrace(LPCWSTR pszFormat, ...);

    // Formats a statement into m_pszSql, or into a buffer sized to the statement
    // when it does not fit there. The text stays valid until the next call.
    LPCWSTR FormatSql(LPCWSTR pszFormat, ...);

    // How a data operation may depart from the common frame.
    enum EFrameFlags : unsigned {
        FRAME_DEFAULT = 0,
        FRAME_NO_INIT_CHECK = 1,  // run even before Open (the lazy open then refuses)
        FRAME_KEEP_OPEN = 2,      // never close the connection afterwards
        FRAME_OPEN_IN_BODY = 4,   // the body opens the connection itself (OpenIfClosed)
    };

    // The lazy open of the data operations.
    void OpenIfClosed()
    {
        if (!m_db.isOpen()) {
            EnsureOpen(m_szDbPath);
        }
    }

    // The frame of every data operation: refuse before Open, open the connection
    // when it is closed, run the body (which returns the operation's result), close
    // the connection outside batch mode, and turn every failure into E_FAIL.
    template <typename TBody>
    HRESULT RunDataOperation(TBody&& body, unsigned uFlags = FRAME_DEFAULT);

    // The frame of a list operation: runs the query that runQuery returns (a
    // cursor on its first row) and reads each row into a new zero-filled record
    // with readRow. On success the caller gets the array (when there are rows) and
    // the count; on failure the count says how many rows were read and the array
    // pointer is not written.
    template <typename TRecord, typename TQuery, typename TReadRow>
    HRESULT ListRecords(TRecord** ppArray, int* pnCount, TQuery runQuery, TReadRow readRow);

    static void EndQuery(CppSQLite3Query& query) { query.finalize(); }
    static void EndQuery(CppSQLite3Statement& statement) { statement.reset(); }

    BOOL m_bKeepOpen;
    CppSQLite3DB m_db;
    WCHAR m_szDbPath[MAX_PATH];
    std::unique_ptr<WCHAR[]> m_pszSql;
    BOOL m_bBatchMode;
    BOOL m_bInitialized;
    // SQLite rolled the batch's transaction back by itself: its writes are gone, and
    // the batch refuses everything until it is ended, which reports the loss.
    BOOL m_bBatchLost;
    WString m_strBatchLoss;
    // Why the last failed operation failed: the file's path and the cause.
    WString m_strFailure;

    enum { SQL_BUFFER_CHARS = 4096 };

    // Which of the three tables the file has, and how many tables in all.
    struct STableLook {
        bool bVersion = false;
        bool bCalendar = false;
        bool bEvent = false;
        int nTables = 0;
        bool Complete() const { return bVersion && bCalendar && bEvent; }
    };

    void CreateTable(LPCWSTR pszCreateFormat, LPCWSTR pszTable);
    STableLook LookAtTables();
    // True when the table's columns are, in order, those of its table text.
    bool HasCurrentColumns(LPCWSTR pszTable, LPCWSTR pszCreateFormat);
    // Makes sure the three tables are there. A file with none (a new one) gets all
    // three and the Version row in one transaction; with bCreateMissing (the lazy
    // open) any missing table is made the same way. Otherwise a missing table is
    // damage (raised with code 101), unless only the Version table is missing from
    // current data. Every decision is taken under the write lock after looking again.
    // True when a table was made.
    bool SettleTables(bool bCreateMissing);
    // The first column of the Version row: false when there is no row or the value
    // is not a number.
    bool ReadVersion(int& nVersion, bool& bHasRow);
    // Upgrades an old-format file (after backing it up), or writes the Version row
    // of current data that lacks a readable one.
    void CheckVersion(DWORD dwUIN);
    static bool IsDamage(int nErrCode);
    bool StillDamaged();
    void RunCalendarUpdate(const tagCalendarRecord& rec);
    void RunEventUpdate(const tagEventRecord& rec);
    // Creates the plain indexes of the keyed statements when they are missing; a
    // file that cannot take them now (read-only, busy) is used without them.
    void EnsureIndexes();
    void RebuildOldFormat(bool bHasVersionRow);
    bool BackupDatabaseFile(DWORD dwUIN, WString& strBackupPath);
    // Ends batch mode: commits, or reports (result and log line) a batch that could
    // not be committed or was lost. A commit that failed with its transaction still
    // open keeps batch mode on, so that a later try can commit it.
    HRESULT EndBatch();
    void TraceException(const CppSQLite3Exception& e);
    void OnOperationFailure(const CppSQLite3Exception* pException, unsigned uFlags);
    WString DescribeFailure(int nErrCode, LPCWSTR pszMessage) const;
    void RecordFailure(const CppSQLite3Exception& e);
    void SetFailure(const WString& strReason);
    static void LogLine(ENUM_LOG_SERVERITY eSeverity, const WString& strText);
    // The cause given for every call refused while a lost batch is not yet ended.
    void NoteBatchLost()
    {
        m_strFailure = m_strBatchLoss + WTEXT("; the batch was lost, and nothing more is written until it ends");
    }

    WString m_strLongSql;
};

template <typename TBody>
HRESULT CVxCalStoreMedia::RunDataOperation(TBody&& body, unsigned uFlags)
{
    if ((uFlags & FRAME_NO_INIT_CHECK) == 0 && !m_bInitialized) {
        return E_FAIL;
    }
    if (m_bBatchLost) {
        NoteBatchLost();
        return E_FAIL;
    }
    try {
        if ((uFlags & FRAME_OPEN_IN_BODY) == 0) {
            OpenIfClosed();
        }
        const HRESULT hr = body();
        if (!m_bBatchMode && (uFlags & FRAME_KEEP_OPEN) == 0) {
            m_db.close();
        }
        return hr;
    } catch (const CppSQLite3Exception& e) {
        OnOperationFailure(&e, uFlags);
    } catch (...) {
        // Out of memory while collecting rows, say: fail the operation, never the host.
        OnOperationFailure(nullptr, uFlags);
    }
    return E_FAIL;
}

template <typename TRecord, typename TQuery, typename TReadRow>
HRESULT CVxCalStoreMedia::ListRecords(TRecord** ppArray, int* pnCount, TQuery runQuery, TReadRow readRow)
{
    if (!m_bInitialized || ppArray == nullptr || pnCount == nullptr) {
        return E_FAIL;
    }
    *pnCount = 0;
    CRecordArray<TRecord> records;
    return RunDataOperation([&]() {
        auto query = runQuery();
        while (!query.eof()) {
            readRow(query, records.AppendZeroed());
            ++*pnCount;
            query.nextRow();
        }
        EndQuery(query);
        if (records.Count() > 0) {
            *ppArray = records.Release();
        }
        return S_OK;
    });
}
