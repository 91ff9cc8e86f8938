// The plain indexes of the keyed statements. They are not part of the file's
// format: older readers ignore them, and any writer keeps them up to date.
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"

namespace {

struct CIndexText {
    const WCHAR* pszName;
    const WCHAR* pszCreate;
};

// Event(EvtID, CalID) serves every statement keyed by both ids without offering
// itself to the lists by calendar; ext3 serves the external identifier lookup;
// (LoopEventID, LoopCalID) the delete of a repeating event's exceptions.
const CIndexText s_rgIndexes[] = {
    {WTEXT("EventEvtIDCalID"), WTEXT("create index if not exists EventEvtIDCalID on Event(EvtID, CalID);")},
    {WTEXT("EventExt3"), WTEXT("create index if not exists EventExt3 on Event(ext3);")},
    {WTEXT("EventLoopEventID"),
     WTEXT("create index if not exists EventLoopEventID on Event(LoopEventID, LoopCalID);")},
};

const WCHAR s_szCountIndexes[] = WTEXT(
    "select count(*) from sqlite_master where type='index' and tbl_name='Event' and name in "
    "('EventEvtIDCalID','EventExt3','EventLoopEventID');");

// Another process holding the file is not waited for: the next open tries again.
const int s_nIndexBusyTimeoutMs = 100;

}  // namespace

void CVxCalStoreMedia::EnsureIndexes()
{
    // Inside a transaction they would ride on its fate; the next open makes them.
    if (!m_db.isOpen() || m_db.inTransaction()) {
        return;
    }
    try {
        if (m_db.execScalar(s_szCountIndexes) == static_cast<int>(sizeof(s_rgIndexes) / sizeof(s_rgIndexes[0]))) {
            return;
        }
    } catch (...) {
        return;
    }
    m_db.setBusyTimeout(s_nIndexBusyTimeoutMs);
    try {
        m_db.execDML(WTEXT("begin immediate transaction;"));
        try {
            for (const CIndexText& index : s_rgIndexes) {
                m_db.execDML(index.pszCreate);
            }
            m_db.execDML(WTEXT("commit transaction;"));
        } catch (...) {
            if (m_db.inTransaction()) {
                try {
                    m_db.execDML(WTEXT("rollback transaction;"));
                } catch (...) {
                }
            }
            throw;
        }
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        StoreTrace(WTEXT("indexes not created\r\n"));
    } catch (...) {
        StoreTrace(WTEXT("indexes not created\r\n"));
    }
    m_db.restoreBusyTimeout();
}
