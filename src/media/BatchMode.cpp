// Batch mode: one open connection and one transaction for a burst of writes.
#include "host/CalendarUtil.h"
#include "media/StoreNames.h"
#include "media/VxCalStoreMedia.h"

namespace {

// The batch takes the write lock when it begins. A deferred transaction would
// start with a read lock, and SQLite fails the later write at once, without
// waiting, when another connection is writing at the time.
const WCHAR s_szBeginTransaction[] = WTEXT("begin immediate transaction;");
const WCHAR s_szCommitTransaction[] = WTEXT("commit transaction;");

}  // namespace

HRESULT CVxCalStoreMedia::BeginTransaction()
{
    if (!m_bInitialized) {
        return E_FAIL;
    }
    try {
        m_db.execDML(s_szBeginTransaction);
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        m_db.close();
        return E_FAIL;
    } catch (...) {
        m_db.close();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CVxCalStoreMedia::CommitTransaction()
{
    if (!m_bInitialized) {
        return E_FAIL;
    }
    try {
        m_db.execDML(s_szCommitTransaction);
    } catch (const CppSQLite3Exception& e) {
        TraceException(e);
        // A commit that failed with its transaction still open (the file locked by
        // another process, say) keeps the connection: closing it would throw away
        // writes that were reported as done.
        if (!m_db.inTransaction()) {
            m_db.close();
        }
        return E_FAIL;
    } catch (...) {
        return E_FAIL;  // out of memory building the error: the transaction stays as it is
    }
    return S_OK;
}

HRESULT CVxCalStoreMedia::SetBatchMode(BOOL bBatchMode)
{
    if (!m_bInitialized) {
        return E_FAIL;
    }
    // Any two non-zero flags are the same state: switching on twice must not open
    // over the live connection.
    if ((bBatchMode != FALSE) == (m_bBatchMode != FALSE)) {
        return S_OK;
    }
    m_bBatchMode = bBatchMode;
    if (bBatchMode != FALSE) {
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, WTEXT("SetBatchMode ------TRUE  \r\n"));
        try {
            EnsureOpen(m_szDbPath);
        } catch (...) {
            // No connection, no batch: later writes go through one by one.
            StoreTrace(WTEXT("batch mode could not open the file\r\n"));
            m_db.close();
            m_bBatchMode = FALSE;
            return E_FAIL;
        }
        // Without its transaction the batch would only keep the file open.
        if (FAILED(BeginTransaction())) {
            m_bBatchMode = FALSE;
            m_db.close();
            return E_FAIL;
        }
        return S_OK;
    }

    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, WTEXT("SetBatchMode ------FALSE  \r\n"));
    if (FAILED(CommitTransaction()) && m_db.inTransaction()) {
        // The batch is still open and intact: stay in batch mode so that a later
        // switch, or closing the store, can commit it.
        m_bBatchMode = TRUE;
        return E_FAIL;
    }
    m_bBatchMode = FALSE;
    m_db.close();
    return S_OK;
}
