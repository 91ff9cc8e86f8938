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
        RecordFailure(e);
        m_db.close();
        return E_FAIL;
    } catch (...) {
        SetFailure(WTEXT("unexpected failure"));
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
        RecordFailure(e);
        // A commit that failed with its transaction still open (the file locked by
        // another process, say) keeps the connection: closing it would throw away
        // writes that were reported as done.
        if (!m_db.inTransaction()) {
            m_db.close();
        }
        return E_FAIL;
    } catch (...) {
        SetFailure(WTEXT("unexpected failure"));
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
    // over the live connection. A lost batch is not in force, whatever the flag says.
    if ((bBatchMode != FALSE) == (m_bBatchMode != FALSE)) {
        if (m_bBatchLost) {
            NoteBatchLost();
            return E_FAIL;
        }
        return S_OK;
    }
    if (bBatchMode == FALSE) {
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, WTEXT("SetBatchMode ------FALSE  \r\n"));
        return EndBatch();
    }

    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, WTEXT("SetBatchMode ------TRUE  \r\n"));
    m_bBatchMode = bBatchMode;
    m_bBatchLost = FALSE;
    try {
        EnsureOpen(m_szDbPath);
    } catch (const CppSQLite3Exception& e) {
        // No connection, no batch: later writes go through one by one.
        StoreTrace(WTEXT("batch mode could not open the file\r\n"));
        RecordFailure(e);
        m_db.close();
        m_bBatchMode = FALSE;
        return E_FAIL;
    } catch (...) {
        StoreTrace(WTEXT("batch mode could not open the file\r\n"));
        SetFailure(WTEXT("unexpected failure"));
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

HRESULT CVxCalStoreMedia::EndBatch()
{
    if (!m_bBatchMode) {
        return S_OK;
    }
    if (m_bBatchLost) {
        // Reported once more where the batch ends, since its writes said S_OK.
        m_strFailure = m_strBatchLoss + WTEXT("; nothing written in the batch was saved");
        m_bBatchMode = FALSE;
        m_bBatchLost = FALSE;
        m_db.close();
        LogLine(EN_LOG_SERVERITY_ERROR, WTEXT("Batch ended, nothing written in it was saved: ") + m_strBatchLoss);
        return E_FAIL;
    }
    if (!m_db.isOpen()) {
        m_bBatchMode = FALSE;
        return S_OK;
    }
    if (FAILED(CommitTransaction())) {
        if (m_db.isOpen() && m_db.inTransaction()) {
            // The batch is still open and intact: stay in batch mode so that a later
            // switch, or closing the store, can commit it.
            LogLine(EN_LOG_SERVERITY_ERROR, WTEXT("Batch commit failed, the batch is kept for another try: ") +
                                                m_strFailure);
            return E_FAIL;
        }
        // SQLite rolled the transaction back: everything written in the batch is gone.
        const WString strCause = m_strFailure;
        m_strFailure = strCause + WTEXT("; nothing written in the batch was saved");
        m_bBatchMode = FALSE;
        m_db.close();
        LogLine(EN_LOG_SERVERITY_ERROR, WTEXT("Batch commit failed, nothing written in it was saved: ") + strCause);
        return E_FAIL;
    }
    m_bBatchMode = FALSE;
    m_db.close();
    return S_OK;
}
