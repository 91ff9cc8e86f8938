// Event rows: save, read, update, delete, the list queries and the lookup by
// external identifier.
#include "host/CalendarUtil.h"
#include "media/SqlText.h"
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"

namespace {

const WCHAR s_szSelectEvent[] = WTEXT("select * from %s where CalID = %d and EvtID =%d; ");
const WCHAR s_szInsertEvent[] = WTEXT(
    "insert into %s(CalID, EvtID,EvtType,BgnTm, EndTm,TmStamp,TipType,Minute,Hour,Day,Week,Month,LoopType , ")
    WTEXT("subject,detail,Synchronized,RevisedState, RemindMinute,ContactID,ContactInfo,Location,SponsorID,WeekNum,")
        WTEXT(
            "MonthNum,Year,CalType,EndType,SwitchTimes,LoopCalID, LoopEventID,CalOwnerUin,EventRight,ContactIDDisplay,")
            WTEXT(
                "ContactIDInvalid,EventStatus,Valid,ext1,ext2,ext3,ext4,ext5,nums) values('%d', '%d', '%d', '%d', "
                "'%d',")
                WTEXT(
                    "'%d', '%d', '%d', '%d', '%d','%d','%d', '%d', '%s', '%s',  '%d', '%d', '%d','%s', '%s', "
                    "'%s','%d','%d', ")
                    WTEXT(
                        "'%d', '%d', '%d', '%d', '%d', '%d', '%d','%d','%d','%s', '%s', '%d', '%d', '%s', '%s', "
                        "'%s','%d', '%d', ") WTEXT("'%d');");
const WCHAR s_szUpdateEvent[] = WTEXT(
    "update %s set EvtType = %d ,BgnTm = %d,EndTm = %d,TmStamp= %d,TipType= %d,Minute = %d,Hour= %d,Day = %d,")
    WTEXT("Week= %d,Month= %d,LoopType= %d,subject= '%s',detail= '%s',Synchronized= %d,RevisedState = %d,")
        WTEXT("RemindMinute= %d,ContactID= '%s',ContactInfo= '%s',Location= '%s',SponsorID= %d,WeekNum= %d,") WTEXT(
            "MonthNum= %d,Year= %d,CalType= %d, EndType= %d, SwitchTimes= %d ,LoopCalID= %d,LoopEventID= %d,")
            WTEXT("CalOwnerUin = %d,EventRight = %d,ContactIDDisplay = '%s',ContactIDInvalid = '%s',EventStatus = %d ,")
                WTEXT("Valid = %d  where CalID = %d and EvtID = %d ");
const WCHAR s_szSelectCalendarEvents[] = WTEXT("select * from %s where CalID = %d ; ");
const WCHAR s_szSelectByField[] = WTEXT("select * from %s where CalID = %d and %s = %s;");
const WCHAR s_szSelectByTwoFields[] = WTEXT("select * from %s where CalID = %d and %s = %s and %s = %s;");
const WCHAR s_szSelectPeriod[] = WTEXT("select * from %s where CalID = %d and (not ( BgnTm > %d or EndTm < %d ));");
const WCHAR s_szDeleteEvent[] = WTEXT("delete from %s where CalID = %d and EvtID = %d;");
const WCHAR s_szDeleteExceptions[] = WTEXT("delete from %s where EvtType=1 and LoopCalID=%d and LoopEventID=%d");
const WCHAR s_szDeleteAllEvents[] = WTEXT("delete from %s ;");
const WCHAR s_szDeleteCalendarEvents[] = WTEXT("delete from %s where CalID = %d;");
const WCHAR s_szSelectByExternalID[] = WTEXT("select * from %s where ext3='%s'");

const WCHAR s_szLogUpdatePath[] =
    WTEXT("SaveCalEvent -进入了更新流程 ,CalID = %d, EventID ＝ %d ,TimeStamp=%d ,m_bBatchMode=%d \r\n");
const WCHAR s_szLogSaveTime[] = WTEXT("SaveCalEvent ------存储插入事件时间 =  -----  %d -----\r\n");
const WCHAR s_szLogSaveError[] = WTEXT("SaveCalEvent DB Error  %d *\r\n");
const WCHAR s_szLogUpdate[] =
    WTEXT("STORE_UpdateCalEvent, CalID = %d,dwEvtID = %d ,dwTimeStamp = %d ,m_bBatchMode = %d \n");

// A record takes positions 0 to 35 of the 42 columns of table Event.
const int s_nEventRecordColumns = 36;

// The seven escaped texts of an event record.
struct CEscapedEventTexts {
    explicit CEscapedEventTexts(const tagEventRecord& rec)
        : strSubject(EscapeQuotes(rec.szSubject)),
          strDetail(EscapeQuotes(rec.szDetail)),
          strLocation(EscapeQuotes(rec.szLocation)),
          strContactID(EscapeQuotes(rec.szContactID)),
          strContactInfo(EscapeQuotes(rec.szContactInfo)),
          strContactIDDisplay(EscapeQuotes(rec.szContactIDDisplay)),
          strContactIDInvalid(EscapeQuotes(rec.szContactIDInvalid))
    {
    }
    WString strSubject;
    WString strDetail;
    WString strLocation;
    WString strContactID;
    WString strContactInfo;
    WString strContactIDDisplay;
    WString strContactIDInvalid;
};

// Each integer keeps the low bits that fit its field. Day is the one exception:
// only its low byte is kept, read as a signed 8-bit number and widened.
void ReadEventRow(CppSQLite3Query& query, tagEventRecord& rec)
{
    if (query.numFields() < s_nEventRecordColumns) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid field index requested"));
    }
    rec.dwCalID = static_cast<DWORD>(ColumnInt(query, 0));
    rec.dwEvtID = static_cast<DWORD>(ColumnInt(query, 1));
    rec.cEvtType = static_cast<signed char>(ColumnInt(query, 2));
    rec.dwBgnTm = static_cast<DWORD>(ColumnInt(query, 3));
    rec.dwEndTm = static_cast<DWORD>(ColumnInt(query, 4));
    rec.dwTimeStamp = static_cast<DWORD>(ColumnInt(query, 5));
    rec.cTipType = static_cast<signed char>(ColumnInt(query, 6));
    rec.cMinute = static_cast<signed char>(ColumnInt(query, 7));
    rec.cHour = static_cast<signed char>(ColumnInt(query, 8));
    rec.wDay = static_cast<WORD>(static_cast<signed char>(ColumnInt(query, 9) & 0xFF));
    rec.cWeek = static_cast<signed char>(ColumnInt(query, 10));
    rec.cMonth = static_cast<signed char>(ColumnInt(query, 11));
    rec.cLoopType = static_cast<signed char>(ColumnInt(query, 12));
    CopyColumnText(rec.szSubject, query.fieldValue(13));
    CopyColumnText(rec.szDetail, query.fieldValue(14));
    rec.cSynchronized = static_cast<signed char>(ColumnInt(query, 15));
    rec.cRevisedState = static_cast<signed char>(ColumnInt(query, 16));
    rec.wRemindMinute = static_cast<WORD>(ColumnInt(query, 17));
    CopyColumnText(rec.szContactID, query.fieldValue(18));
    CopyColumnText(rec.szContactInfo, query.fieldValue(19));
    CopyColumnText(rec.szLocation, query.fieldValue(20));
    rec.dwSponsorID = static_cast<DWORD>(ColumnInt(query, 21));
    rec.wWeekNum = static_cast<WORD>(ColumnInt(query, 22));
    rec.wMonthNum = static_cast<WORD>(ColumnInt(query, 23));
    rec.dwYear = static_cast<DWORD>(ColumnInt(query, 24));
    rec.wCalType = static_cast<WORD>(ColumnInt(query, 25));
    rec.cEndType = static_cast<signed char>(ColumnInt(query, 26));
    rec.wSwitchTimes = static_cast<WORD>(ColumnInt(query, 27));
    rec.dwLoopCalID = static_cast<DWORD>(ColumnInt(query, 28));
    rec.dwLoopEventID = static_cast<DWORD>(ColumnInt(query, 29));
    rec.dwCalOwnerUin = static_cast<DWORD>(ColumnInt(query, 30));
    rec.cEventRight = static_cast<signed char>(ColumnInt(query, 31));
    CopyColumnText(rec.szContactIDDisplay, query.fieldValue(32));
    CopyColumnText(rec.szContactIDInvalid, query.fieldValue(33));
    rec.cEventStatus = static_cast<signed char>(ColumnInt(query, 34));
    rec.cValid = static_cast<signed char>(ColumnInt(query, 35));
}

}  // namespace

LPCWSTR CVxCalStoreMedia::FormatEventUpdate(const tagEventRecord& rec)
{
    const CEscapedEventTexts texts(rec);
    return FormatSql(
        s_szUpdateEvent, g_szEventTable, int(rec.cEvtType), int(rec.dwBgnTm), int(rec.dwEndTm), int(rec.dwTimeStamp),
        int(rec.cTipType), int(rec.cMinute), int(rec.cHour), int(rec.wDay), int(rec.cWeek), int(rec.cMonth),
        int(rec.cLoopType), texts.strSubject.c_str(), texts.strDetail.c_str(), int(rec.cSynchronized),
        int(rec.cRevisedState), int(rec.wRemindMinute), texts.strContactID.c_str(), texts.strContactInfo.c_str(),
        texts.strLocation.c_str(), int(rec.dwSponsorID), int(rec.wWeekNum), int(rec.wMonthNum), int(rec.dwYear),
        int(rec.wCalType), int(rec.cEndType), int(rec.wSwitchTimes), int(rec.dwLoopCalID), int(rec.dwLoopEventID),
        int(rec.dwCalOwnerUin), int(rec.cEventRight), texts.strContactIDDisplay.c_str(),
        texts.strContactIDInvalid.c_str(), int(rec.cEventStatus), int(rec.cValid), int(rec.dwCalID), int(rec.dwEvtID));
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
                CppSQLite3Query query =
                    m_db.execQuery(FormatSql(s_szSelectEvent, g_szEventTable, int(rec.dwCalID), int(rec.dwEvtID)));
                LPCWSTR pszWrite = nullptr;
                if (query.eof()) {
                    const CEscapedEventTexts texts(rec);
                    // The external identifier is escaped too, so that lookups of it match.
                    const WString strExt3 = EscapeQuotes(rec.szExt3);
                    pszWrite = FormatSql(
                        s_szInsertEvent, g_szEventTable, int(rec.dwCalID), int(rec.dwEvtID), int(rec.cEvtType),
                        int(rec.dwBgnTm), int(rec.dwEndTm), int(rec.dwTimeStamp), int(rec.cTipType), int(rec.cMinute),
                        int(rec.cHour), int(rec.wDay), int(rec.cWeek), int(rec.cMonth), int(rec.cLoopType),
                        texts.strSubject.c_str(), texts.strDetail.c_str(), int(rec.cSynchronized),
                        int(rec.cRevisedState), int(rec.wRemindMinute), texts.strContactID.c_str(),
                        texts.strContactInfo.c_str(), texts.strLocation.c_str(), int(rec.dwSponsorID),
                        int(rec.wWeekNum), int(rec.wMonthNum), int(rec.dwYear), int(rec.wCalType), int(rec.cEndType),
                        int(rec.wSwitchTimes), int(rec.dwLoopCalID), int(rec.dwLoopEventID), int(rec.dwCalOwnerUin),
                        int(rec.cEventRight), texts.strContactIDDisplay.c_str(), texts.strContactIDInvalid.c_str(),
                        int(rec.cEventStatus), int(rec.cValid), WTEXT(""), WTEXT(""), strExt3.c_str(), 0, 0, 0);
                } else {
                    query.finalize();
                    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, s_szLogUpdatePath,
                                                  int(rec.dwCalID), int(rec.dwEvtID), int(rec.dwTimeStamp),
                                                  int(m_bBatchMode));
                    pszWrite = FormatEventUpdate(rec);
                }
                CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, s_szLogSaveTime,
                                              int(GetTickCount() - dwStart));
                m_db.execDML(pszWrite);
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
        m_db.execDML(FormatEventUpdate(*pRec));
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetCalEvent(DWORD dwCalID, DWORD dwEvtID, tagEventRecord* pRec)
{
    if (!m_bInitialized || pRec == nullptr) {
        return E_FAIL;
    }
    return RunDataOperation([&]() {
        CppSQLite3Query query = m_db.execQuery(FormatSql(s_szSelectEvent, g_szEventTable, int(dwCalID), int(dwEvtID)));
        if (!query.eof()) {
            // Read into a copy, so that a failure part way leaves the caller's record alone.
            tagEventRecord rec = *pRec;
            ReadEventRow(query, rec);
            *pRec = rec;
        }
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelCalEvent(DWORD dwCalID, DWORD dwEvtID, DWORD /*dwReserved*/)
{
    return RunDataOperation([&]() {
        // The event and its exceptions go together or not at all, in batch mode too.
        m_db.execDML(WTEXT("savepoint DelCalEvent;"));
        try {
            m_db.execDML(FormatSql(s_szDeleteEvent, g_szEventTable, int(dwCalID), int(dwEvtID)));
            m_db.execDML(FormatSql(s_szDeleteExceptions, g_szEventTable, int(dwCalID), int(dwEvtID)));
            m_db.execDML(WTEXT("release DelCalEvent;"));
        } catch (const CppSQLite3Exception&) {
            try {
                m_db.execDML(WTEXT("rollback to DelCalEvent;"));
                m_db.execDML(WTEXT("release DelCalEvent;"));
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
        m_db.execDML(FormatSql(s_szDeleteExceptions, g_szEventTable, int(dwLoopCalID), int(dwLoopEventID)));
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::GetAllCalEvent(DWORD dwCalID, tagEventRecord** ppArray, int* pnCount)
{
    return ListRecords(
        ppArray, pnCount, [&]() { return FormatSql(s_szSelectCalendarEvents, g_szEventTable, int(dwCalID)); },
        ReadEventRow);
}

HRESULT CVxCalStoreMedia::QueryCalEvent(DWORD dwCalID, LPCWSTR pszName, LPCWSTR pszValue, tagEventRecord** ppArray,
                                        int* pnCount)
{
    // The name and the value go into the statement as given: a text value brings
    // its own quotes.
    return ListRecords(
        ppArray, pnCount,
        [&]() { return FormatSql(s_szSelectByField, g_szEventTable, int(dwCalID), pszName, pszValue); }, ReadEventRow);
}

HRESULT CVxCalStoreMedia::QueryCalEventEx(DWORD dwCalID, LPCWSTR pszName1, LPCWSTR pszValue1, LPCWSTR pszName2,
                                          LPCWSTR pszValue2, tagEventRecord** ppArray, int* pnCount)
{
    return ListRecords(
        ppArray, pnCount,
        [&]() {
            return FormatSql(s_szSelectByTwoFields, g_szEventTable, int(dwCalID), pszName1, pszValue1, pszName2,
                             pszValue2);
        },
        ReadEventRow);
}

HRESULT CVxCalStoreMedia::GetPeriodEvent(DWORD dwCalID, DWORD dwBeginTime, DWORD dwEndTime, tagEventRecord** ppArray,
                                         int* pnCount)
{
    // Bounds and times compare as signed 32-bit numbers, as they are stored.
    return ListRecords(
        ppArray, pnCount,
        [&]() { return FormatSql(s_szSelectPeriod, g_szEventTable, int(dwCalID), int(dwEndTime), int(dwBeginTime)); },
        ReadEventRow);
}

HRESULT CVxCalStoreMedia::DelAllEvent()
{
    return RunDataOperation([&]() {
        m_db.execDML(FormatSql(s_szDeleteAllEvents, g_szEventTable));
        return S_OK;
    });
}

HRESULT CVxCalStoreMedia::DelAllEventofCalendar(DWORD dwCalID)
{
    return RunDataOperation([&]() {
        m_db.execDML(FormatSql(s_szDeleteCalendarEvents, g_szEventTable, int(dwCalID)));
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
            const WString strID = EscapeQuotes(pszOutlookID);
            CppSQLite3Query query = m_db.execQuery(FormatSql(s_szSelectByExternalID, g_szEventTable, strID.c_str()));
            return query.eof() ? S_FALSE : S_OK;
        },
        FRAME_KEEP_OPEN);
}
