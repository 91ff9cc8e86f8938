// Helpers shared by the tests: scratch directories, file access, and the sqlite3
// command-line tool.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "compat/win32.h"

namespace testing_support {

// A VARIANT of the given type holding the bytes of value (a pointer, a number, a
// BSTR): it owns whatever value owns.
template <typename T>
VARIANT MakeVariant(VARTYPE vt, T value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    std::memcpy(&v.llVal, &value, sizeof(T));
    return v;
}

// A new directory under the process's scratch root, removed with everything in it
// when the object goes away.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string Join(const std::string& strName) const { return m_strPath + "/" + strName; }

private:
    std::string m_strPath;
};

// Points the host's root directory at strRoot for the lifetime of the object.
class CScopedRoot {
public:
    explicit CScopedRoot(const std::string& strRoot);
    ~CScopedRoot();
    CScopedRoot(const CScopedRoot&) = delete;
    CScopedRoot& operator=(const CScopedRoot&) = delete;

private:
    std::string m_strPrevious;
    bool m_bHadPrevious;
};

// The process environment, as the component reads it (UTF-8 names and values).
void SetEnvVar(const std::string& strName, const std::string& strValue);
void UnsetEnvVar(const std::string& strName);

// A new, empty directory strBase/strPrefix and a random number; aborts the process if none can be made.
std::string MakeUniqueDir(const std::string& strBase, const std::string& strPrefix);
// Removes a directory with everything in it; missing is fine.
void RemoveTree(const std::string& strPath);

WString Wide(const std::string& strUtf8);
std::string Narrow(const WCHAR* psz);
inline std::string Narrow(const WString& str) { return Narrow(str.c_str()); }

bool FileExists(const std::string& strPath);
bool ReadFile(const std::string& strPath, std::string& strContent);
bool WriteFile(const std::string& strPath, const std::string& strContent);
long long FileSize(const std::string& strPath);
void MakeDirs(const std::string& strPath);
std::vector<std::string> ListDir(const std::string& strPath);

// True when this process holds the file open (read through /proc/self/fd; on
// Windows, the file cannot be opened without sharing), which tells whether a
// connection was left open.
bool IsOpenInProcess(const std::string& strPath);

// Runs the sqlite3 command-line tool on a database with one script; returns what it
// printed on stdout (stderr is folded in), and its exit status through pnStatus.
std::string RunSqliteShell(const std::string& strDbPath, const std::string& strScript, int* pnStatus = nullptr);

}  // namespace testing_support
