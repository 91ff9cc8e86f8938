// Calendar rows: save, read, update and delete.
#include "media/SqlText.h"
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"

namespace {

const WCHAR s_szSelectCalendar[] = WTEXT("select * from %s where CalID = %d ;");
const WCHAR s_szInsertCalendar[] =
    WTEXT("insert into %s(UIN, CalID, CalType, ShrLevel, TmStamp,  subject, detail,ContactID,ContactInfo,SponsorID,")
        WTEXT("FromCalID,ext1,ext2,ext3, ext4,ext5,nums) values('%d','%d', '%d', '%d', '%d', '%s', '%s', '%s', '%s', ")
            WTEXT("'%d', '%d','%s','%s','%s','%d','%d','%d');");
const WCHAR s_szUpdateCalendar[] =
    WTEXT("update %s set CalType = %d, ShrLevel = %d, TmStamp = %d,subject = '%s', detail = '%s',ContactID = '%s',")
        WTEXT("ContactInfo = '%s' ,SponsorID = '%d', FromCalID = '%d', ext1='%s' where CalID = %d");
const WCHAR s_szSelectAllCalendars[] = WTEXT("select * from %s ;");
const WCHAR s_szDeleteCalendar[] = WTEXT("delete from %s where CalID = %d;");
const WCHAR s_szDeleteAllCalendars[] = WTEXT("delete from %s ;");

// Table Calendar has 17 columns; a record takes the first twelve.
const int s_nCalendarColumns = 17;

// The five texts of a calendar record, escaped for a statement.
struct CEscapedCalendarTexts {
    explicit CEscapedCalendarTexts(const tagCalendarRecord& rec)
        : strSubject(EscapeQuotes(rec.szSubject)),
          strDetail(EscapeQuotes(rec.szDetail)),
          strContactID(EscapeQuotes(rec.szContactID)),
          strContactInfo(EscapeQuotes(rec.szContactInfo)),
          strExt1(EscapeQuotes(rec.szExt1))
    {
    }
    WString strSubject;
    WString strDetail;
    WString strContactID;
    WString strContactInfo;
    WString strExt1;
};

void ReadCalendarRow(CppSQLite3Query& query, tagCalendarRecord& rec)
{
    if (query.numFields() < s_nCalendarColumns) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid field index requested"));
    }
    rec.dwUIN = static_cast<DWORD>(ColumnInt(query, 0));
    rec.dwCalID = static_cast<DWORD>(ColumnInt(query, 1));
    rec.cCalType = static_cast<signed char>(ColumnInt(query, 2));
    rec.dwShrLevel = static_cast<DWORD>(ColumnInt(query, 3));
    rec.dwTimeStamp = static_cast<DWORD>(ColumnInt(query, 4));
    CopyColumnText(rec.szSubject, query.fieldValue(5));
    CopyColumnText(rec.szDetail, query.fieldValue(6));
    CopyColumnText(rec.szContactID, query.fieldValue(7));
    CopyColumnText(rec.szContactInfo, query.fieldValue(8));
    rec.dwSponsorID = static_cast<DWORD>(ColumnInt(query, 9));
    rec.dwFromCalID = static_cast<DWORD>(ColumnInt(query, 10));
    CopyColumnText(rec.szExt1, query.fieldValue(11));
}

}  // namespace

LPCWSTR CVxCalStoreMedia::FormatCalendarUpdate(const tagCalendarRecord& rec)
{
    const CEscapedCalendarTexts texts(rec);
    return FormatSql(s_szUpdateCalendar, g_szCalendarTable, int(rec.cCalType), int(rec.dwShrLevel),
                     int(rec.dwTimeStamp), texts.strSubject.c_str(), texts.strDetail.c_str(),
                     texts.strContactID.c_str(), texts.strContactInfo.c_str(), int(rec.dwSponsorID),
                     int(rec.dwFromCalID), texts.strExt1.c_str(), int(rec.dwCalID));
}

HRESULT CVxCalStoreMedia::SaveCalendar(const tagCalendarRecord* pRec, DWORD /*dwReserved*/)
{
    if (pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        const tagCalendarRecord& rec = *pRec;
        CppSQLite3Query query = m_db.execQuery(FormatSql(s_szSelectCalendar, g_szCalendarTable, int(rec.dwCalID)));
        LPCWSTR pszWrite = nullptr;
        if (query.eof()) {
            const CEscapedCalendarTexts texts(rec);
            pszWrite =
                FormatSql(s_szInsertCalendar, g_szCalendarTable, int(rec.dwUIN), int(rec.dwCalID), int(rec.cCalType),
                          int(rec.dwShrLevel), int(rec.dwTimeStamp), texts.strSubject.c_str(), texts.strDetail.c_str(),
                          texts.strContactID.c_str(), texts.strContactInfo.c_str(), int(rec.dwSponsorID),
                          int(rec.dwFromCalID), texts.strExt1.c_str(), WTEXT(""), WTEXT(""), 0, 0, 0);
        } else {
            // Release the select's statement before writing.
            query.finalize();
            pszWrite = FormatCalendarUpdate(rec);
        }
        m_db.execDML(pszWrite);
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetCalendar(DWORD dwCalID, tagCalendarRecord* pRec)
{
    if (!m_bInitialized || pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        CppSQLite3Query query = m_db.execQuery(FormatSql(s_szSelectCalendar, g_szCalendarTable, int(dwCalID)));
        if (!query.eof()) {
            // Read into a copy, so that a failure part way leaves the caller's record alone.
            tagCalendarRecord rec = *pRec;
            ReadCalendarRow(query, rec);
            *pRec = rec;
        }
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetAllCalendar(tagCalendarRecord** ppArray, int* pnCount)
{
    return ListRecords(
        ppArray, pnCount, [&]() { return FormatSql(s_szSelectAllCalendars, g_szCalendarTable); }, ReadCalendarRow);
}

HRESULT CVxCalStoreMedia::UpdateCalendar(const tagCalendarRecord* pRec)
{
    if (pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        m_db.execDML(FormatCalendarUpdate(*pRec));
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelCalendar(DWORD dwCalID, DWORD /*dwReserved*/)
{
    return RunDataOperation([&]() {
        m_db.execDML(FormatSql(s_szDeleteCalendar, g_szCalendarTable, int(dwCalID)));
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelAllCalendar()
{
    // Runs without the initialised check: before Open the lazy open refuses, so the
    // statement meets a closed connection and fails.
    return RunDataOperation(
        [&]() {
            m_db.execDML(FormatSql(s_szDeleteAllCalendars, g_szCalendarTable));
            return S_OK;
        },
        FRAME_NO_INIT_CHECK);
}
