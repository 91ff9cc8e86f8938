// A thin UTF-16 wrapper over SQLite: one connection, a forward-only cursor, and one
// exception type for every failure. Nothing here returns an error code; callers
// catch CppSQLite3Exception at the boundary of their own operations.
#pragma once

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

private:
    sqlite3_stmt* compile(const WCHAR* szSQL);
    void checkDB() const;

    sqlite3* m_pDB;
    int m_nBusyTimeoutMs;
};
