// Event rows: save, read, update, delete, the list queries and the lookup by
// external identifier. Statements are prepared once per connection and take their
// values bound; what they write is what the formatted statements of
// LegacyStatements.h wrote.
#include <cstring>
#include <memory>

#include "host/CalendarUtil.h"
#include "media/RecordStatements.h"
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"

namespace {

// Lists come in the order of the rows in the table, whatever plan an index brings.
const WCHAR s_szEventExists[] = WTEXT("select 1 from Event where CalID = ?1 and EvtID = ?2 limit 1;");
const WCHAR s_szSelectEvent[] = WTEXT("select * from Event where CalID = ?1 and EvtID = ?2 order by rowid;");
const WCHAR s_szSelectCalendarEvents[] = WTEXT("select * from Event where CalID = ?1 order by rowid;");
const WCHAR s_szSelectPeriod[] =
    WTEXT("select * from Event where CalID = ?1 and (not ( BgnTm > ?2 or EndTm < ?3 )) order by rowid;");
// The same a few rows at a time, after a row and up to the last row at the start.
const WCHAR s_szChunkCalendarEvents[] =
    WTEXT("select *, rowid from Event where CalID = ?1 and rowid > ?4 and rowid <= ?5 order by rowid limit ?6;");
const WCHAR s_szChunkPeriod[] = WTEXT(
    "select *, rowid from Event where CalID = ?1 and (not ( BgnTm > ?2 or EndTm < ?3 )) and rowid > ?4 and rowid <= ?5 "
    "order by rowid limit ?6;");
const WCHAR s_szLastEventRow[] = WTEXT("select max(rowid) from Event;");
// The field queries take column names and values as given, so they stay formatted.
const WCHAR s_szSelectByField[] = WTEXT("select * from %s where CalID = %d and %s = %s order by rowid;");
const WCHAR s_szSelectByTwoFields[] = WTEXT("select * from %s where CalID = %d and %s = %s and %s = %s order by rowid;");
const WCHAR s_szDeleteEvent[] = WTEXT("delete from Event where CalID = ?1 and EvtID = ?2;");
const WCHAR s_szDeleteExceptions[] = WTEXT("delete from Event where EvtType=1 and LoopCalID=?1 and LoopEventID=?2;");
const WCHAR s_szDeleteAllEvents[] = WTEXT("delete from Event ;");
const WCHAR s_szDeleteCalendarEvents[] = WTEXT("delete from Event where CalID = ?1;");
const WCHAR s_szSelectByExternalID[] = WTEXT("select 1 from Event where ext3 = ?1 limit 1;");

const WCHAR s_szLogUpdatePath[] =
    WTEXT("SaveCalEvent -进入了更新流程 ,CalID = %d, EventID ＝ %d ,TimeStamp=%d ,m_bBatchMode=%d \r\n");
const WCHAR s_szLogSaveTime[] = WTEXT("SaveCalEvent ------存储插入事件时间 =  -----  %d -----\r\n");
const WCHAR s_szLogSaveError[] = WTEXT("SaveCalEvent DB Error  %d *\r\n");
const WCHAR s_szLogUpdate[] =
    WTEXT("STORE_UpdateCalEvent, CalID = %d,dwEvtID = %d ,dwTimeStamp = %d ,m_bBatchMode = %d \n");

template <typename TCursor>
void ReadEventRow(TCursor& cursor, tagEventRecord& rec)
{
    static const int s_nColumns = ReadColumnsOf(g_rgEventFields);
    ReadRecordRow(cursor, rec, g_rgEventFields, s_nColumns);
}

void BindKey(CppSQLite3Statement& stmt, DWORD dwCalID, DWORD dwEvtID)
{
    stmt.bind(1, int(dwCalID));
    stmt.bind(2, int(dwEvtID));
}

}  // namespace

void CVxCalStoreMedia::RunEventUpdate(const tagEventRecord& rec)
{
    RunRecordUpdate(m_db, SQL_EVENT_UPDATE, g_szEventTable, g_rgEventFields, rec);
}

HRESULT CVxCalStoreMedia::SaveCalEvent(const tagEventRecord* pRec, DWORD /*dwReserved*/)
{
    if (!m_bInitialized || pRec == nullptr) {
        return E_FAIL;
    }
    const DWORD dwStart = GetTickCount();
    return RunDataOperation(
        [&]() {
            const tagEventRecord& rec = *pRec;
            try {
                // Opened here, so that a failure to open is logged like any other.
                OpenIfClosed();
                bool bExists = false;
                {
                    CppSQLite3Statement select = m_db.cachedStatement(SQL_EVENT_EXISTS, s_szEventExists);
                    BindKey(select, rec.dwCalID, rec.dwEvtID);
                    select.execQuery();
                    bExists = !select.eof();
                }
                if (bExists) {
                    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, s_szLogUpdatePath,
                                                  int(rec.dwCalID), int(rec.dwEvtID), int(rec.dwTimeStamp),
                                                  int(m_bBatchMode));
                }
                // A statement that cannot be prepared or bound fails where the write
                // would have, after the timing line.
                CBoundTexts copies;
                std::unique_ptr<CppSQLite3Statement> pWrite;
                std::unique_ptr<CppSQLite3Exception> pPrepareFailure;
                try {
                    pWrite.reset(new CppSQLite3Statement(
                        bExists ? m_db.cachedStatement(SQL_EVENT_UPDATE,
                                                       UpdateStatementOf(g_szEventTable, g_rgEventFields).c_str())
                                : m_db.cachedStatement(SQL_EVENT_INSERT,
                                                       InsertStatementOf(g_szEventTable, g_rgEventFields).c_str())));
                    BindRecord(*pWrite, rec, g_rgEventFields, bExists ? BIND_UPDATE : BIND_INSERT, copies);
                } catch (const CppSQLite3Exception& e) {
                    pPrepareFailure.reset(new CppSQLite3Exception(e));
                }
                CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, s_szLogSaveTime,
                                              int(GetTickCount() - dwStart));
                if (pPrepareFailure) {
                    throw CppSQLite3Exception(*pPrepareFailure);
                }
                pWrite->execDML();
            } catch (const CppSQLite3Exception& e) {
                CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, WTEXT("%d: %s\r\n"), e.errorCode(),
                                              e.errorMessage());
                CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, s_szLogSaveError, 0);
                throw;
            }
            return S_OK;
        },
        FRAME_OPEN_IN_BODY);
}

HRESULT CVxCalStoreMedia::UpdateCalEvent(const tagEventRecord* pRec)
{
    if (!m_bInitialized || pRec == nullptr) {
        return E_FAIL;
    }
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, s_szLogUpdate, int(pRec->dwCalID),
                                  int(pRec->dwEvtID), int(pRec->dwTimeStamp), int(m_bBatchMode));
    return RunDataOperation([&]() {
        RunEventUpdate(*pRec);
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetCalEvent(DWORD dwCalID, DWORD dwEvtID, tagEventRecord* pRec)
{
    if (!m_bInitialized || pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        CppSQLite3Statement select = m_db.cachedStatement(SQL_EVENT_SELECT, s_szSelectEvent);
        BindKey(select, dwCalID, dwEvtID);
        select.execQuery();
        if (!select.eof()) {
            // Once the row has its columns, reading it cannot fail part way.
            ReadEventRow(select, *pRec);
        }
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelCalEvent(DWORD dwCalID, DWORD dwEvtID, DWORD /*dwReserved*/)
{
    return RunDataOperation([&]() {
        // The event and its exceptions go together or not at all, in batch mode too.
        m_db.cachedStatement(SQL_SAVEPOINT_DELETE, WTEXT("savepoint DelCalEvent;")).execDML();
        try {
            CppSQLite3Statement deleteEvent = m_db.cachedStatement(SQL_EVENT_DELETE, s_szDeleteEvent);
            BindKey(deleteEvent, dwCalID, dwEvtID);
            deleteEvent.execDML();
            CppSQLite3Statement deleteExceptions =
                m_db.cachedStatement(SQL_EVENT_DELETE_EXCEPTIONS, s_szDeleteExceptions);
            BindKey(deleteExceptions, dwCalID, dwEvtID);
            deleteExceptions.execDML();
            m_db.cachedStatement(SQL_RELEASE_DELETE, WTEXT("release DelCalEvent;")).execDML();
        } catch (const CppSQLite3Exception&) {
            try {
                m_db.cachedStatement(SQL_ROLLBACK_DELETE, WTEXT("rollback to DelCalEvent;")).execDML();
                m_db.cachedStatement(SQL_RELEASE_DELETE, WTEXT("release DelCalEvent;")).execDML();
            } catch (const CppSQLite3Exception&) {
                // The frame closes or keeps the connection as for any failure.
            }
            throw;
        }
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelLoopException(DWORD dwLoopCalID, DWORD dwLoopEventID)
{
    return RunDataOperation([&]() {
        CppSQLite3Statement deleteExceptions = m_db.cachedStatement(SQL_EVENT_DELETE_EXCEPTIONS, s_szDeleteExceptions);
        BindKey(deleteExceptions, dwLoopCalID, dwLoopEventID);
        deleteExceptions.execDML();
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetAllCalEvent(DWORD dwCalID, tagEventRecord** ppArray, int* pnCount)
{
    return ListRecords(
        ppArray, pnCount,
        [&]() {
            CppSQLite3Statement select = m_db.cachedStatement(SQL_EVENT_LIST, s_szSelectCalendarEvents);
            select.bind(1, int(dwCalID));
            select.execQuery();
            return select;
        },
        ReadEventRow<CppSQLite3Statement>);
}

HRESULT CVxCalStoreMedia::QueryCalEvent(DWORD dwCalID, LPCWSTR pszName, LPCWSTR pszValue, tagEventRecord** ppArray,
                                        int* pnCount)
{
    // The name and the value go into the statement as given: a text value brings
    // its own quotes.
    return ListRecords(
        ppArray, pnCount,
        [&]() { return m_db.execQuery(FormatSql(s_szSelectByField, g_szEventTable, int(dwCalID), pszName, pszValue)); },
        ReadEventRow<CppSQLite3Query>);
}

HRESULT CVxCalStoreMedia::QueryCalEventEx(DWORD dwCalID, LPCWSTR pszName1, LPCWSTR pszValue1, LPCWSTR pszName2,
                                          LPCWSTR pszValue2, tagEventRecord** ppArray, int* pnCount)
{
    return ListRecords(
        ppArray, pnCount,
        [&]() {
            return m_db.execQuery(FormatSql(s_szSelectByTwoFields, g_szEventTable, int(dwCalID), pszName1, pszValue1,
                                            pszName2, pszValue2));
        },
        ReadEventRow<CppSQLite3Query>);
}

HRESULT CVxCalStoreMedia::GetPeriodEvent(DWORD dwCalID, DWORD dwBeginTime, DWORD dwEndTime, tagEventRecord** ppArray,
                                         int* pnCount)
{
    // Bounds and times compare as signed 32-bit numbers, as they are stored.
    return ListRecords(
        ppArray, pnCount,
        [&]() {
            CppSQLite3Statement select = m_db.cachedStatement(SQL_EVENT_LIST_PERIOD, s_szSelectPeriod);
            select.bind(1, int(dwCalID));
            select.bind(2, int(dwEndTime));
            select.bind(3, int(dwBeginTime));
            select.execQuery();
            return select;
        },
        ReadEventRow<CppSQLite3Statement>);
}

HRESULT CVxCalStoreMedia::ReadEventChunk(CEventChunkCursor& cursor, tagEventRecord* rgRecords, int nMax, int* pnCount)
{
    if (!m_bInitialized || rgRecords == nullptr || pnCount == nullptr || nMax <= 0) {
        return E_FAIL;
    }
    *pnCount = 0;
    return RunDataOperation([&]() {
        if (cursor.llLastRow < 0) {
            // Rows added while the caller works through the result are not reached.
            CppSQLite3Statement last = m_db.cachedStatement(SQL_EVENT_LAST_ROW, s_szLastEventRow);
            last.execQuery();
            cursor.llLastRow = last.eof() ? 0 : last.fieldInt64(0);
        }
        CppSQLite3Statement select = cursor.bPeriod
                                         ? m_db.cachedStatement(SQL_EVENT_CHUNK_PERIOD, s_szChunkPeriod)
                                         : m_db.cachedStatement(SQL_EVENT_CHUNK, s_szChunkCalendarEvents);
        select.bind(1, int(cursor.dwCalID));
        if (cursor.bPeriod) {
            select.bind(2, int(cursor.dwEndTime));
            select.bind(3, int(cursor.dwBeginTime));
        }
        select.bind(4, cursor.llAfterRow);
        select.bind(5, cursor.llLastRow);
        select.bind(6, nMax);
        select.execQuery();
        const int nRowidColumn = select.numFields() - 1;  // "select *, rowid"
        int nCount = 0;
        while (!select.eof() && nCount < nMax) {
            tagEventRecord& rec = rgRecords[nCount];
            std::memset(static_cast<void*>(&rec), 0, sizeof(rec));
            ReadEventRow(select, rec);
            cursor.llAfterRow = select.fieldInt64(nRowidColumn);
            ++nCount;
            select.nextRow();
        }
        *pnCount = nCount;
        cursor.bDone = nCount < nMax;
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelAllEvent()
{
    return RunDataOperation([&]() {
        m_db.cachedStatement(SQL_EVENT_DELETE_ALL, s_szDeleteAllEvents).execDML();
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelAllEventofCalendar(DWORD dwCalID)
{
    return RunDataOperation([&]() {
        CppSQLite3Statement deleteEvents = m_db.cachedStatement(SQL_EVENT_DELETE_CALENDAR, s_szDeleteCalendarEvents);
        deleteEvents.bind(1, int(dwCalID));
        deleteEvents.execDML();
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::IsOutlookIDExist(LPCWSTR pszOutlookID)
{
    if (!m_bInitialized || pszOutlookID == nullptr || *pszOutlookID == 0) {
        return E_FAIL;
    }
    // The connection stays open afterwards, batch mode or not, and a failure
    // does not close it either.
    return RunDataOperation(
        [&]() {
            CBoundTexts copies;
            CppSQLite3Statement select = m_db.cachedStatement(SQL_EVENT_BY_EXTERNAL_ID, s_szSelectByExternalID);
            BindText(select, 1, pszOutlookID, static_cast<size_t>(-1), copies);
            select.execQuery();
            return select.eof() ? S_FALSE : S_OK;
        },
        FRAME_KEEP_OPEN);
}
