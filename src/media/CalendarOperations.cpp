// Calendar rows: save, read, update and delete, with bound values (the formatted
// forms they replace are in LegacyStatements.h).
#include <memory>

#include "media/RecordStatements.h"
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"

namespace {

const WCHAR s_szCalendarExists[] = WTEXT("select 1 from Calendar where CalID = ?2 limit 1;");
const WCHAR s_szSelectCalendar[] = WTEXT("select * from Calendar where CalID = ?2 order by rowid;");
// Lists come in the order of the rows in the table, whatever plan an index brings.
const WCHAR s_szSelectAllCalendars[] = WTEXT("select * from Calendar order by rowid;");
const WCHAR s_szDeleteCalendar[] = WTEXT("delete from Calendar where CalID = ?2;");
const WCHAR s_szDeleteAllCalendars[] = WTEXT("delete from Calendar ;");

template <typename TCursor>
void ReadCalendarRow(TCursor& cursor, tagCalendarRecord& rec)
{
    // A calendar row is fetched whole, though the record takes only its first twelve columns.
    ReadRecordRow(cursor, rec, g_rgCalendarFields, CALENDAR_COLUMNS);
}

// CalID is parameter 2, as its column is the second.
void BindCalendarID(CppSQLite3Statement& stmt, DWORD dwCalID)
{
    stmt.bind(2, int(dwCalID));
}

}  // namespace

void CVxCalStoreMedia::RunCalendarUpdate(const tagCalendarRecord& rec)
{
    RunRecordUpdate(m_db, SQL_CALENDAR_UPDATE, g_szCalendarTable, g_rgCalendarFields, rec);
}

HRESULT CVxCalStoreMedia::SaveCalendar(const tagCalendarRecord* pRec, DWORD /*dwReserved*/)
{
    if (pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        const tagCalendarRecord& rec = *pRec;
        bool bExists = false;
        {
            CppSQLite3Statement select = m_db.cachedStatement(SQL_CALENDAR_EXISTS, s_szCalendarExists);
            BindCalendarID(select, rec.dwCalID);
            select.execQuery();
            bExists = !select.eof();
        }
        if (bExists) {
            RunCalendarUpdate(rec);
        } else {
            CBoundTexts copies;
            CppSQLite3Statement insert = m_db.cachedStatement(
                SQL_CALENDAR_INSERT, InsertStatementOf(g_szCalendarTable, g_rgCalendarFields).c_str());
            BindRecord(insert, rec, g_rgCalendarFields, BIND_INSERT, copies);
            insert.execDML();
        }
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetCalendar(DWORD dwCalID, tagCalendarRecord* pRec)
{
    if (!m_bInitialized || pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        CppSQLite3Statement select = m_db.cachedStatement(SQL_CALENDAR_SELECT, s_szSelectCalendar);
        BindCalendarID(select, dwCalID);
        select.execQuery();
        if (!select.eof()) {
            // Once the row has its columns, reading it cannot fail part way.
            ReadCalendarRow(select, *pRec);
        }
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetAllCalendar(tagCalendarRecord** ppArray, int* pnCount)
{
    return ListRecords(
        ppArray, pnCount,
        [&]() {
            CppSQLite3Statement select = m_db.cachedStatement(SQL_CALENDAR_LIST, s_szSelectAllCalendars);
            select.execQuery();
            return select;
        },
        ReadCalendarRow<CppSQLite3Statement>);
}

HRESULT CVxCalStoreMedia::UpdateCalendar(const tagCalendarRecord* pRec)
{
    if (pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        RunCalendarUpdate(*pRec);
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelCalendar(DWORD dwCalID, DWORD /*dwReserved*/)
{
    return RunDataOperation([&]() {
        CppSQLite3Statement deleteCalendar = m_db.cachedStatement(SQL_CALENDAR_DELETE, s_szDeleteCalendar);
        BindCalendarID(deleteCalendar, dwCalID);
        deleteCalendar.execDML();
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelAllCalendar()
{
    // Runs without the initialised check: before Open the lazy open refuses, so the
    // statement meets a closed connection and fails.
    return RunDataOperation(
        [&]() {
            m_db.cachedStatement(SQL_CALENDAR_DELETE_ALL, s_szDeleteAllCalendars).execDML();
            return S_OK;
        },
        FRAME_NO_INIT_CHECK);
}
