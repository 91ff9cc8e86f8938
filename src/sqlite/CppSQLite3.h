// A thin UTF-16 wrapper over SQLite: one connection, a forward-only cursor, and one
// exception type for every failure. Nothing here returns an error code; callers
// catch CppSQLite3Exception at the boundary of their own operations.
#pragma once

#include <vector>

#include "compat/win32.h"

struct sqlite3;
struct sqlite3_stmt;

// The layer's own failure code; the store media also raise this type with 101.
#define CPPSQLITE_ERROR 1000

class CppSQLite3Exception {
public:
    // The message is "<name of code>[<code>]: <detail>". With bDeleteMsg set, the
    // exception takes over szErrMess (allocated with new[]) and releases it.
    CppSQLite3Exception(int nErrCode, const WCHAR* szErrMess = nullptr, bool bDeleteMsg = false);
    CppSQLite3Exception(const CppSQLite3Exception& e) = default;
    CppSQLite3Exception& operator=(const CppSQLite3Exception& e) = default;
    virtual ~CppSQLite3Exception() = default;

    int errorCode() const { return m_nErrCode; }
    const WCHAR* errorMessage() const { return m_strErrMess.c_str(); }

    // Symbolic name of an SQLite result code or of the layer's own code.
    static const WCHAR* errorCodeAsString(int nErrCode);

private:
    int m_nErrCode;
    WString m_strErrMess;
};

class CppSQLite3Query {
public:
    CppSQLite3Query();
    CppSQLite3Query(sqlite3* pDB, sqlite3_stmt* pVM, bool bEof, bool bOwnVM = true);
    CppSQLite3Query(CppSQLite3Query&& rQuery) noexcept;
    CppSQLite3Query& operator=(CppSQLite3Query&& rQuery) noexcept;
    CppSQLite3Query(const CppSQLite3Query&) = delete;
    CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
    virtual ~CppSQLite3Query();

    int numFields() const { return m_nCols; }

    // The column of the current row as UTF-16 text, or null for an SQL NULL. The
    // text stays valid until the next step or finalize.
    const WCHAR* fieldValue(int nField);
    // The decimal-prefix value of the column, as fieldValue would give it.
    int fieldInt(int nField) { return WStrToInt32(fieldValue(nField)); }

    bool eof();
    void nextRow();
    void finalize();

private:
    void checkVM() const;

    sqlite3* m_pDB;
    sqlite3_stmt* m_pVM;
    bool m_bEof;
    int m_nCols;
    bool m_bOwnVM;
};

// A statement that its connection prepared once and keeps until it closes, run
// with bound values. The handle does not own the statement: going out of scope
// resets it and clears its values, so that it holds no lock between uses.
class CppSQLite3Statement {
public:
    CppSQLite3Statement(sqlite3* pDB, sqlite3_stmt* pVM);
    CppSQLite3Statement(CppSQLite3Statement&& rStatement) noexcept;
    CppSQLite3Statement& operator=(CppSQLite3Statement&&) = delete;
    CppSQLite3Statement(const CppSQLite3Statement&) = delete;
    CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
    virtual ~CppSQLite3Statement();

    // Highest parameter number of the statement; binding above it is a misuse.
    int bindParameterCount() const;
    void bind(int nParam, int nValue);
    void bind(int nParam, long long llValue);
    // A text of cch units (-1: up to its terminator); null binds the empty text. The
    // text must stay valid until the statement is reset.
    void bind(int nParam, const WCHAR* szValue, int cch = -1);

    // Steps once and resets, as execDML does: 1 for a statement that ran.
    int execDML();

    // Steps to the first row, as execQuery does; then eof, nextRow and the fields.
    void execQuery();
    bool eof() const { return m_bEof; }
    void nextRow();
    int numFields() const { return m_nCols; }
    const WCHAR* fieldValue(int nField);
    // The column as a 32-bit number: the low 32 bits of a stored integer, else the
    // decimal prefix of its text (0 for an SQL NULL), as fieldValue would give it.
    int fieldInt(int nField);
    long long fieldInt64(int nField);

    void reset();

private:
    void step();
    void checkField(int nField);

    sqlite3* m_pDB;
    sqlite3_stmt* m_pVM;
    bool m_bEof;
    int m_nCols;
};

class CppSQLite3DB {
public:
    CppSQLite3DB();
    CppSQLite3DB(const CppSQLite3DB&) = delete;
    CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
    virtual ~CppSQLite3DB();

    void open(const WCHAR* szFile);
    void close();
    bool isOpen() const { return m_pDB != nullptr; }

    // True while an explicit transaction is open on the connection.
    bool inTransaction() const;

    bool tableExists(const WCHAR* szTable);

    // Runs one statement. Returns the change count for the two transaction commands
    // and 1 for every other statement that steps without error.
    int execDML(const WCHAR* szSQL);

    // Runs a query and returns a cursor positioned on its first row.
    CppSQLite3Query execQuery(const WCHAR* szSQL);

    // The first column of the first row as a decimal-prefix number.
    int execScalar(const WCHAR* szSQL);

    // The statement kept in slot nSlot of this connection, prepared from szSQL on
    // first use. The statements go when the connection closes. A slot always
    // holds the same text.
    CppSQLite3Statement cachedStatement(int nSlot, const WCHAR* szSQL);

    // Sets the busy timeout of the open connection only; the next open applies
    // the usual one again.
    void setBusyTimeout(int nMillisecs);
    void restoreBusyTimeout() { setBusyTimeout(m_nBusyTimeoutMs); }

private:
    void finalizeCachedStatements();

    sqlite3_stmt* compile(const WCHAR* szSQL);
    void checkDB() const;

    sqlite3* m_pDB;
    int m_nBusyTimeoutMs;
    std::vector<sqlite3_stmt*> m_rgCachedStatements;
};
