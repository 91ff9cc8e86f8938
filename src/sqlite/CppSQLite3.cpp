#include "sqlite/CppSQLite3.h"

#include <sqlite3.h>

namespace {

// The two transaction commands run through sqlite3_exec in 8-bit text; every other
// statement is prepared from UTF-16.
const char s_szBeginTransaction[] = "begin transaction;";
const char s_szCommitTransaction[] = "commit transaction;";
const WCHAR s_szBeginTransactionW[] = WTEXT("begin transaction;");
const WCHAR s_szCommitTransactionW[] = WTEXT("commit transaction;");

// Longest table name whose existence query fits the 256-character buffer.
const size_t s_cchTableExistsQuery = 256;

const WCHAR* ErrorTextOf(sqlite3* pDB)
{
    return static_cast<const WCHAR*>(sqlite3_errmsg16(pDB));
}

}  // namespace

// ---------------------------------------------------------------------------
// CppSQLite3Exception

CppSQLite3Exception::CppSQLite3Exception(int nErrCode, const WCHAR* szErrMess, bool bDeleteMsg) : m_nErrCode(nErrCode)
{
    m_strErrMess = WStrFormatString(WTEXT("%s[%d]: %s"), errorCodeAsString(nErrCode), nErrCode,
                                    szErrMess != nullptr ? szErrMess : WTEXT(""));
    if (bDeleteMsg && szErrMess != nullptr) {
        delete[] szErrMess;
    }
}

const WCHAR* CppSQLite3Exception::errorCodeAsString(int nErrCode)
{
    switch (nErrCode) {
    case SQLITE_OK: return WTEXT("SQLITE_OK");
    case SQLITE_ERROR: return WTEXT("SQLITE_ERROR");
    case SQLITE_INTERNAL: return WTEXT("SQLITE_INTERNAL");
    case SQLITE_PERM: return WTEXT("SQLITE_PERM");
    case SQLITE_ABORT: return WTEXT("SQLITE_ABORT");
    case SQLITE_BUSY: return WTEXT("SQLITE_BUSY");
    case SQLITE_LOCKED: return WTEXT("SQLITE_LOCKED");
    case SQLITE_NOMEM: return WTEXT("SQLITE_NOMEM");
    case SQLITE_READONLY: return WTEXT("SQLITE_READONLY");
    case SQLITE_INTERRUPT: return WTEXT("SQLITE_INTERRUPT");
    case SQLITE_IOERR: return WTEXT("SQLITE_IOERR");
    case SQLITE_CORRUPT: return WTEXT("SQLITE_CORRUPT");
    case SQLITE_NOTFOUND: return WTEXT("SQLITE_NOTFOUND");
    case SQLITE_FULL: return WTEXT("SQLITE_FULL");
    case SQLITE_CANTOPEN: return WTEXT("SQLITE_CANTOPEN");
    case SQLITE_PROTOCOL: return WTEXT("SQLITE_PROTOCOL");
    case SQLITE_EMPTY: return WTEXT("SQLITE_EMPTY");
    case SQLITE_SCHEMA: return WTEXT("SQLITE_SCHEMA");
    case SQLITE_TOOBIG: return WTEXT("SQLITE_TOOBIG");
    case SQLITE_CONSTRAINT: return WTEXT("SQLITE_CONSTRAINT");
    case SQLITE_MISMATCH: return WTEXT("SQLITE_MISMATCH");
    case SQLITE_MISUSE: return WTEXT("SQLITE_MISUSE");
    case SQLITE_NOLFS: return WTEXT("SQLITE_NOLFS");
    case SQLITE_AUTH: return WTEXT("SQLITE_AUTH");
    case SQLITE_FORMAT: return WTEXT("SQLITE_FORMAT");
    case SQLITE_RANGE: return WTEXT("SQLITE_RANGE");
    case SQLITE_ROW: return WTEXT("SQLITE_ROW");
    case SQLITE_DONE: return WTEXT("SQLITE_DONE");
    case CPPSQLITE_ERROR: return WTEXT("CPPSQLITE_ERROR");
    default: return WTEXT("UNKNOWN_ERROR");
    }
}

// ---------------------------------------------------------------------------
// CppSQLite3Query

CppSQLite3Query::CppSQLite3Query() : m_pDB(nullptr), m_pVM(nullptr), m_bEof(true), m_nCols(0), m_bOwnVM(false) {}

CppSQLite3Query::CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof, bool bOwnVM)
    : m_pDB(pDB), m_pVM(pVM), m_bEof(bEof), m_nCols(pVM != nullptr ? sqlite3_column_count(pVM) : 0), m_bOwnVM(bOwnVM)
{
}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& rQuery) noexcept
    : m_pDB(rQuery.m_pDB),
      m_pVM(rQuery.m_pVM),
      m_bEof(rQuery.m_bEof),
      m_nCols(rQuery.m_nCols),
      m_bOwnVM(rQuery.m_bOwnVM)
{
    rQuery.m_pVM = nullptr;
    rQuery.m_bOwnVM = false;
}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& rQuery) noexcept
{
    if (this != &rQuery) {
        try {
            finalize();
        } catch (...) {
        }
        m_pDB = rQuery.m_pDB;
        m_pVM = rQuery.m_pVM;
        m_bEof = rQuery.m_bEof;
        m_nCols = rQuery.m_nCols;
        m_bOwnVM = rQuery.m_bOwnVM;
        rQuery.m_pVM = nullptr;
        rQuery.m_bOwnVM = false;
    }
    return *this;
}

CppSQLite3Query::~CppSQLite3Query()
{
    try {
        finalize();
    } catch (...) {
    }
}

const WCHAR* CppSQLite3Query::fieldValue(int nField)
{
    checkVM();
    if (nField < 0 || nField > m_nCols - 1) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid field index requested"));
    }
    // Past the last row there is no current row to read.
    if (m_bEof) {
        return nullptr;
    }
    return static_cast<const WCHAR*>(sqlite3_column_text16(m_pVM, nField));
}

bool CppSQLite3Query::eof()
{
    checkVM();
    return m_bEof;
}

void CppSQLite3Query::nextRow()
{
    checkVM();
    const int nRet = sqlite3_step(m_pVM);
    if (nRet == SQLITE_DONE) {
        m_bEof = true;
    } else if (nRet != SQLITE_ROW) {
        const int nFinal = sqlite3_finalize(m_pVM);
        m_pVM = nullptr;
        throw CppSQLite3Exception(nFinal, ErrorTextOf(m_pDB));
    }
}

void CppSQLite3Query::finalize()
{
    if (m_pVM != nullptr && m_bOwnVM) {
        const int nRet = sqlite3_finalize(m_pVM);
        m_pVM = nullptr;
        if (nRet != SQLITE_OK) {
            throw CppSQLite3Exception(nRet, ErrorTextOf(m_pDB));
        }
    }
}

void CppSQLite3Query::checkVM() const
{
    if (m_pVM == nullptr) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Null Virtual Machine pointer"));
    }
}

// ---------------------------------------------------------------------------
// CppSQLite3Statement

CppSQLite3Statement::CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM)
    : m_pDB(pDB), m_pVM(pVM), m_bEof(true), m_nCols(sqlite3_column_count(pVM))
{
}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& rStatement) noexcept
    : m_pDB(rStatement.m_pDB), m_pVM(rStatement.m_pVM), m_bEof(rStatement.m_bEof), m_nCols(rStatement.m_nCols)
{
    rStatement.m_pVM = nullptr;
}

CppSQLite3Statement::~CppSQLite3Statement()
{
    if (m_pVM != nullptr) {
        sqlite3_reset(m_pVM);
        sqlite3_clear_bindings(m_pVM);
    }
}

int CppSQLite3Statement::bindParameterCount() const
{
    return sqlite3_bind_parameter_count(m_pVM);
}

void CppSQLite3Statement::bind(int nParam, int nValue)
{
    const int nRet = sqlite3_bind_int(m_pVM, nParam, nValue);
    if (nRet != SQLITE_OK) {
        throw CppSQLite3Exception(nRet, ErrorTextOf(m_pDB));
    }
}

void CppSQLite3Statement::bind(int nParam, long long llValue)
{
    const int nRet = sqlite3_bind_int64(m_pVM, nParam, llValue);
    if (nRet != SQLITE_OK) {
        throw CppSQLite3Exception(nRet, ErrorTextOf(m_pDB));
    }
}

void CppSQLite3Statement::bind(int nParam, const WCHAR* szValue, int cch)
{
    static const WCHAR s_szEmpty[1] = {0};
    const WCHAR* psz = szValue != nullptr ? szValue : s_szEmpty;
    const int cb = cch < 0 ? -1 : cch * static_cast<int>(sizeof(WCHAR));
    const int nRet = sqlite3_bind_text16(m_pVM, nParam, psz, cb, SQLITE_STATIC);
    if (nRet != SQLITE_OK) {
        throw CppSQLite3Exception(nRet, ErrorTextOf(m_pDB));
    }
}

void CppSQLite3Statement::step()
{
    const int nRet = sqlite3_step(m_pVM);
    if (nRet == SQLITE_ROW) {
        m_bEof = false;
        return;
    }
    m_bEof = true;
    if (nRet != SQLITE_DONE) {
        // The reset reports the failure the way finalize does for a one-off statement.
        const int nReset = sqlite3_reset(m_pVM);
        throw CppSQLite3Exception(nReset != SQLITE_OK ? nReset : nRet, ErrorTextOf(m_pDB));
    }
}

int CppSQLite3Statement::execDML()
{
    step();
    sqlite3_reset(m_pVM);
    return 1;
}

void CppSQLite3Statement::execQuery()
{
    step();
}

void CppSQLite3Statement::nextRow()
{
    if (!m_bEof) {
        step();
    }
}

void CppSQLite3Statement::checkField(int nField)
{
    if (nField < 0 || nField > numFields() - 1) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid field index requested"));
    }
}

const WCHAR* CppSQLite3Statement::fieldValue(int nField)
{
    checkField(nField);
    if (m_bEof) {
        return nullptr;
    }
    return static_cast<const WCHAR*>(sqlite3_column_text16(m_pVM, nField));
}

int CppSQLite3Statement::fieldInt(int nField)
{
    checkField(nField);
    if (m_bEof) {
        return 0;
    }
    if (sqlite3_column_type(m_pVM, nField) == SQLITE_INTEGER) {
        // The same low 32 bits that the decimal text would give.
        return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(sqlite3_column_int64(m_pVM, nField))));
    }
    return WStrToInt32(static_cast<const WCHAR*>(sqlite3_column_text16(m_pVM, nField)));
}

long long CppSQLite3Statement::fieldInt64(int nField)
{
    checkField(nField);
    return m_bEof ? 0 : sqlite3_column_int64(m_pVM, nField);
}

void CppSQLite3Statement::reset()
{
    sqlite3_reset(m_pVM);
    m_bEof = true;
}

// ---------------------------------------------------------------------------
// CppSQLite3DB

CppSQLite3DB::CppSQLite3DB() : m_pDB(nullptr), m_nBusyTimeoutMs(60000) {}

CppSQLite3DB::~CppSQLite3DB()
{
    close();
}

void CppSQLite3DB::open(const WCHAR* szFile)
{
    const int nRet = sqlite3_open16(szFile != nullptr ? szFile : WTEXT(""), &m_pDB);
    if (nRet != SQLITE_OK) {
        // The handle stays until close: SQLite hands one back even on failure.
        throw CppSQLite3Exception(nRet, ErrorTextOf(m_pDB));
    }
    sqlite3_busy_timeout(m_pDB, m_nBusyTimeoutMs);
}

void CppSQLite3DB::close()
{
    finalizeCachedStatements();
    if (m_pDB != nullptr) {
        // The _v2 form cannot leak the handle (and its file lock) while a cursor
        // is still alive; it finishes the close when the last statement ends.
        sqlite3_close_v2(m_pDB);
        m_pDB = nullptr;
    }
}

bool CppSQLite3DB::inTransaction() const
{
    return m_pDB != nullptr && sqlite3_get_autocommit(m_pDB) == 0;
}

bool CppSQLite3DB::tableExists(const WCHAR* szTable)
{
    // Off Windows, readable memory cannot be probed: a null name is the unreadable
    // one. A name too long for the query buffer is refused the same way.
    if (szTable == nullptr) {
        throw CppSQLite3Exception(102, WTEXT("tableName too big!"));
    }
    WCHAR szSQL[s_cchTableExistsQuery];
    const int cchSQL =
        WStrFormat(szSQL, s_cchTableExistsQuery,
                   WTEXT("select count(*) from sqlite_master where type='table' and name='%s'"), szTable);
    if (cchSQL < 0 || static_cast<size_t>(cchSQL) >= s_cchTableExistsQuery) {
        throw CppSQLite3Exception(102, WTEXT("tableName too big!"));
    }
    return execScalar(szSQL) > 0;
}

int CppSQLite3DB::execDML(const WCHAR* szSQL)
{
    checkDB();
    const char* pszCommand = nullptr;
    if (WStrCmp(szSQL, s_szBeginTransactionW) == 0) {
        pszCommand = s_szBeginTransaction;
    } else if (WStrCmp(szSQL, s_szCommitTransactionW) == 0) {
        pszCommand = s_szCommitTransaction;
    }
    if (pszCommand != nullptr) {
        char* pszError = nullptr;
        const int nRet = sqlite3_exec(m_pDB, pszCommand, nullptr, nullptr, &pszError);
        if (nRet == SQLITE_OK) {
            return sqlite3_changes(m_pDB);
        }
        WString strError;
        const bool bHasError = pszError != nullptr;
        if (bHasError) {
            const int cch = MultiByteToWideChar(CP_ACP, 0, pszError, -1, nullptr, 0);
            if (cch > 0) {
                strError.resize(static_cast<size_t>(cch));
                MultiByteToWideChar(CP_ACP, 0, pszError, -1, &strError[0], cch);
                strError.resize(static_cast<size_t>(cch) - 1);
            }
            sqlite3_free(pszError);
        }
        throw CppSQLite3Exception(nRet, bHasError ? strError.c_str() : nullptr);
    }

    sqlite3_stmt* pVM = compile(szSQL);
    if (pVM == nullptr) {
        return 1;  // a text without a statement (blank or only a comment) has nothing to run
    }
    const int nRet = sqlite3_step(pVM);
    if (nRet == SQLITE_DONE || nRet == SQLITE_ROW) {
        sqlite3_finalize(pVM);
        return 1;
    }
    const int nFinal = sqlite3_finalize(pVM);
    throw CppSQLite3Exception(nFinal, ErrorTextOf(m_pDB));
}

CppSQLite3Query CppSQLite3DB::execQuery(const WCHAR* szSQL)
{
    checkDB();
    sqlite3_stmt* pVM = compile(szSQL);
    if (pVM == nullptr) {
        return CppSQLite3Query(m_pDB, nullptr, true);
    }
    const int nRet = sqlite3_step(pVM);
    if (nRet == SQLITE_DONE) {
        return CppSQLite3Query(m_pDB, pVM, true);
    }
    if (nRet == SQLITE_ROW) {
        return CppSQLite3Query(m_pDB, pVM, false);
    }
    const int nFinal = sqlite3_finalize(pVM);
    throw CppSQLite3Exception(nFinal, ErrorTextOf(m_pDB));
}

int CppSQLite3DB::execScalar(const WCHAR* szSQL)
{
    CppSQLite3Query query = execQuery(szSQL);
    // eof() raises "Null Virtual Machine pointer" for a cursor without a statement.
    if (query.eof() || query.numFields() < 1) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid scalar query"));
    }
    return WStrToInt32(query.fieldValue(0));
}

sqlite3_stmt* CppSQLite3DB::compile(const WCHAR* szSQL)
{
    checkDB();
    const void* pTail = nullptr;
    sqlite3_stmt* pVM = nullptr;
    // The _v2 form re-prepares by itself when another connection changed the schema.
    const int nRet = sqlite3_prepare16_v2(m_pDB, szSQL != nullptr ? szSQL : WTEXT(""), -1, &pVM, &pTail);
    if (nRet != SQLITE_OK) {
        throw CppSQLite3Exception(nRet);
    }
    return pVM;
}

CppSQLite3Statement CppSQLite3DB::cachedStatement(int nSlot, const WCHAR* szSQL)
{
    checkDB();
    if (nSlot < 0) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Invalid statement slot"));
    }
    if (static_cast<size_t>(nSlot) >= m_rgCachedStatements.size()) {
        m_rgCachedStatements.resize(static_cast<size_t>(nSlot) + 1, nullptr);
    }
    sqlite3_stmt*& pVM = m_rgCachedStatements[static_cast<size_t>(nSlot)];
    if (pVM == nullptr) {
        pVM = compile(szSQL);
        if (pVM == nullptr) {
            throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Null Virtual Machine pointer"));
        }
    }
    return CppSQLite3Statement(m_pDB, pVM);
}

void CppSQLite3DB::finalizeCachedStatements()
{
    for (sqlite3_stmt* pVM : m_rgCachedStatements) {
        if (pVM != nullptr) {
            sqlite3_finalize(pVM);
        }
    }
    m_rgCachedStatements.clear();
}

void CppSQLite3DB::setBusyTimeout(int nMillisecs)
{
    if (m_pDB != nullptr) {
        sqlite3_busy_timeout(m_pDB, nMillisecs);
    }
}

void CppSQLite3DB::checkDB() const
{
    if (m_pDB == nullptr) {
        throw CppSQLite3Exception(CPPSQLITE_ERROR, WTEXT("Database not open"));
    }
}
