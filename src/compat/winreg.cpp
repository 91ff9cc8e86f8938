#include "compat/winreg.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "compat/fileio.h"
#include "compat/wstr.h"

namespace {

struct CRegValue {
    std::string strName;  // UTF-8, as written
    DWORD dwType;
    std::vector<BYTE> data;
};

struct CRegKey {
    std::string strPath;  // full path, e.g. "HKEY_CLASSES_ROOT\CLSID", as first written
    std::vector<CRegValue> values;
};

// Keys by their path in lower case; a key's subkeys are the entries below it.
typedef std::map<std::string, CRegKey> CRegKeys;

const char* const s_apszRoots[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};

std::string Lower(const std::string& str)
{
    std::string strLower = str;
    for (char& ch : strLower) {
        if (ch >= 'A' && ch <= 'Z') {
            ch = static_cast<char>(ch - 'A' + 'a');
        }
    }
    return strLower;
}

bool IsRootPath(const std::string& strLowerPath)
{
    return std::any_of(std::begin(s_apszRoots), std::end(s_apszRoots),
                       [&](const char* pszRoot) { return Lower(pszRoot) == strLowerPath; });
}

std::string RegistryPath()
{
    if (const char* pszPath = std::getenv("CALSTORE_REGISTRY"); pszPath != nullptr && *pszPath != 0) {
        return pszPath;
    }
    if (const char* pszConfig = std::getenv("XDG_CONFIG_HOME"); pszConfig != nullptr && pszConfig[0] == '/') {
        return std::string(pszConfig) + "/Brellin/registry.reg";
    }
    const char* pszHome = std::getenv("HOME");
    return std::string(pszHome != nullptr ? pszHome : "") + "/.config/Brellin/registry.reg";
}

// Makes the registry file's folder as far as it is missing.
void CreateParentDirs(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    WString strDir;
    if (nSlash != std::string::npos && nSlash > 0 && WStrFromUtf8(strPath.substr(0, nSlash).c_str(), strDir)) {
        compat::CreateDirectoryTree(strDir);
    }
}

// ---------------------------------------------------------------------------
// The file

std::string Quote(const std::string& str)
{
    std::string strQuoted = "\"";
    for (char ch : str) {
        if (ch == '\\' || ch == '"') {
            strQuoted += '\\';
        }
        strQuoted += ch;
    }
    return strQuoted + "\"";
}

// Reads a quoted string starting at nPos (on the opening quote); npos on failure.
size_t Unquote(const std::string& strLine, size_t nPos, std::string& strOut)
{
    strOut.clear();
    if (nPos >= strLine.size() || strLine[nPos] != '"') {
        return std::string::npos;
    }
    for (++nPos; nPos < strLine.size(); ++nPos) {
        if (strLine[nPos] == '\\' && nPos + 1 < strLine.size()) {
            strOut += strLine[++nPos];
        } else if (strLine[nPos] == '"') {
            return nPos + 1;
        } else {
            strOut += strLine[nPos];
        }
    }
    return std::string::npos;
}

// A REG_SZ that holds one terminated UTF-16 text is written as text.
bool AsText(const CRegValue& value, std::string& strText)
{
    if ((value.dwType != REG_SZ) || value.data.size() < 2 || value.data.size() % 2 != 0) {
        return false;
    }
    WString strWide(value.data.size() / 2, 0);
    std::memcpy(&strWide[0], value.data.data(), value.data.size());
    if (strWide.back() != 0 || strWide.find(WCHAR(0)) != strWide.size() - 1) {
        return false;
    }
    strWide.pop_back();
    // A line break would split the value's line: such texts are written as bytes.
    return strWide.find_first_of(WTEXT("\r\n")) == WString::npos &&
           WStrToUtf8(strWide.c_str(), strWide.size(), strText);
}

std::string Serialize(const CRegKeys& keys)
{
    std::string strOut = "Windows Registry Editor Version 5.00\n";
    for (const auto& entry : keys) {
        const CRegKey& key = entry.second;
        strOut += "\n[" + key.strPath + "]\n";
        for (const CRegValue& value : key.values) {
            strOut += value.strName.empty() ? std::string("@") : Quote(value.strName);
            strOut += "=";
            std::string strText;
            if (AsText(value, strText)) {
                strOut += Quote(strText);
            } else if (value.dwType == REG_DWORD && value.data.size() == 4) {
                DWORD dw = 0;
                std::memcpy(&dw, value.data.data(), 4);
                char szHex[16];
                std::snprintf(szHex, sizeof(szHex), "dword:%08x", static_cast<unsigned>(dw));
                strOut += szHex;
            } else {
                char szPrefix[24];
                std::snprintf(szPrefix, sizeof(szPrefix),
                              value.dwType == REG_BINARY ? "hex:" : "hex(%x):", static_cast<unsigned>(value.dwType));
                strOut += szPrefix;
                for (size_t i = 0; i < value.data.size(); ++i) {
                    char szByte[4];
                    std::snprintf(szByte, sizeof(szByte), "%s%02x", i > 0 ? "," : "", value.data[i]);
                    strOut += szByte;
                }
            }
            strOut += "\n";
        }
    }
    return strOut;
}

bool ParseValueData(const std::string& strData, CRegValue& value)
{
    std::string strText;
    if (!strData.empty() && strData[0] == '"') {
        if (Unquote(strData, 0, strText) != strData.size()) {
            return false;
        }
        WString strWide;
        if (!WStrFromUtf8(strText.c_str(), strText.size(), strWide)) {
            return false;
        }
        value.dwType = REG_SZ;
        value.data.resize((strWide.size() + 1) * 2);
        std::memcpy(value.data.data(), strWide.c_str(), value.data.size());
        return true;
    }
    if (strData.compare(0, 6, "dword:") == 0) {
        char* pszEnd = nullptr;
        const unsigned long ulValue = std::strtoul(strData.c_str() + 6, &pszEnd, 16);
        const DWORD dw = static_cast<DWORD>(ulValue);
        value.dwType = REG_DWORD;
        value.data.resize(4);
        std::memcpy(value.data.data(), &dw, 4);
        return *pszEnd == 0;
    }
    size_t nBytes = 0;
    if (strData.compare(0, 4, "hex:") == 0) {
        value.dwType = REG_BINARY;
        nBytes = 4;
    } else if (strData.compare(0, 4, "hex(") == 0) {
        char* pszEnd = nullptr;
        value.dwType = static_cast<DWORD>(std::strtoul(strData.c_str() + 4, &pszEnd, 16));
        if (std::strncmp(pszEnd, "):", 2) != 0) {
            return false;
        }
        nBytes = static_cast<size_t>(pszEnd - strData.c_str()) + 2;
    } else {
        return false;
    }
    value.data.clear();
    while (nBytes < strData.size()) {
        char* pszEnd = nullptr;
        value.data.push_back(static_cast<BYTE>(std::strtoul(strData.c_str() + nBytes, &pszEnd, 16)));
        nBytes = static_cast<size_t>(pszEnd - strData.c_str());
        if (nBytes < strData.size() && strData[nBytes] != ',') {
            return false;
        }
        ++nBytes;
    }
    return true;
}

bool Parse(const std::string& strText, CRegKeys& keys)
{
    keys.clear();
    CRegKey* pCurrent = nullptr;
    size_t nStart = 0;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) {
            nEnd = strText.size();
        }
        std::string strLine = strText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        while (!strLine.empty() && (strLine.back() == '\r' || strLine.back() == ' ')) {
            strLine.pop_back();
        }
        if (strLine.empty() || strLine.compare(0, 8, "Windows ") == 0 || strLine[0] == ';') {
            continue;
        }
        if (strLine[0] == '[' && strLine.back() == ']') {
            const std::string strPath = strLine.substr(1, strLine.size() - 2);
            pCurrent = &keys[Lower(strPath)];
            pCurrent->strPath = strPath;
            continue;
        }
        if (pCurrent == nullptr) {
            return false;
        }
        CRegValue value{std::string(), REG_NONE, {}};
        size_t nEquals = 1;
        if (strLine[0] != '@') {
            nEquals = Unquote(strLine, 0, value.strName);
        }
        if (nEquals == std::string::npos || nEquals >= strLine.size() || strLine[nEquals] != '=' ||
            !ParseValueData(strLine.substr(nEquals + 1), value)) {
            return false;
        }
        pCurrent->values.push_back(value);
    }
    return true;
}

// ---------------------------------------------------------------------------
// One read-modify-write at a time, across threads and processes.

class CRegistrySession {
public:
    CRegistrySession() : m_lock(s_mutex), m_strPath(RegistryPath())
    {
        CreateParentDirs(m_strPath);
        m_fdLock = ::open((m_strPath + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (m_fdLock >= 0) {
            ::flock(m_fdLock, LOCK_EX);
        }
        std::string strText;
        bool bOpened = false;
        compat::ReadWholeFile(m_strPath, strText, &bOpened);
        if (bOpened) {
            m_bReadable = Parse(strText, m_keys);
        }
    }

    ~CRegistrySession()
    {
        if (m_fdLock >= 0) {
            ::flock(m_fdLock, LOCK_UN);
            ::close(m_fdLock);
        }
    }

    CRegistrySession(const CRegistrySession&) = delete;
    CRegistrySession& operator=(const CRegistrySession&) = delete;

    CRegKeys& Keys() { return m_keys; }

    // A registry file that cannot be parsed is never overwritten.
    bool Readable() const { return m_bReadable; }

    LONG Commit()
    {
        if (!m_bReadable) {
            return ERROR_BADDB;
        }
        return compat::ReplaceWholeFile(m_strPath, Serialize(m_keys)) ? ERROR_SUCCESS : ERROR_CANTWRITE;
    }

private:
    static std::mutex s_mutex;
    std::lock_guard<std::mutex> m_lock;
    std::string m_strPath;
    int m_fdLock = -1;
    CRegKeys m_keys;
    bool m_bReadable = true;
};

std::mutex CRegistrySession::s_mutex;

// ---------------------------------------------------------------------------
// Handles

std::mutex s_handleMutex;
std::map<HKEY, std::string> s_handles;  // open handle -> full key path
uintptr_t s_nextHandle = 0x1000;

bool PathOfHandle(HKEY hKey, std::string& strPath)
{
    for (size_t i = 0; i < sizeof(s_apszRoots) / sizeof(s_apszRoots[0]); ++i) {
        if (hKey == reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(0x80000000u + i)))) {
            strPath = s_apszRoots[i];
            return true;
        }
    }
    std::lock_guard<std::mutex> lock(s_handleMutex);
    const auto it = s_handles.find(hKey);
    if (it == s_handles.end()) {
        return false;
    }
    strPath = it->second;
    return true;
}

HKEY NewHandle(const std::string& strPath)
{
    std::lock_guard<std::mutex> lock(s_handleMutex);
    const HKEY hKey = reinterpret_cast<HKEY>(s_nextHandle);
    s_nextHandle += 4;
    s_handles[hKey] = strPath;
    return hKey;
}

// The full path of hKey's subkey; false for a bad handle or name.
LONG SubkeyPath(HKEY hKey, LPCWSTR lpSubKey, std::string& strPath)
{
    if (!PathOfHandle(hKey, strPath)) {
        return ERROR_INVALID_HANDLE;
    }
    std::string strSub;
    if (lpSubKey != nullptr && (!WStrToUtf8(lpSubKey, strSub) || strSub.find_first_of("\r\n[]") != std::string::npos)) {
        return ERROR_INVALID_PARAMETER;
    }
    while (!strSub.empty() && strSub.back() == '\\') {
        strSub.pop_back();
    }
    if (!strSub.empty()) {
        if (strSub[0] == '\\' || strSub.find("\\\\") != std::string::npos) {
            return ERROR_INVALID_PARAMETER;
        }
        strPath += "\\" + strSub;
    }
    return ERROR_SUCCESS;
}

// Runs the body on the registry, in one session, with the full path of the subkey.
template <typename TBody>
LONG OnSubkey(HKEY hKey, LPCWSTR lpSubKey, TBody&& body)
{
    std::string strPath;
    const LONG lResult = SubkeyPath(hKey, lpSubKey, strPath);
    if (lResult != ERROR_SUCCESS) {
        return lResult;
    }
    CRegistrySession session;
    return body(session, strPath);
}

bool KeyExists(CRegKeys& keys, const std::string& strPath)
{
    const std::string strLower = Lower(strPath);
    return IsRootPath(strLower) || keys.count(strLower) != 0;
}

// Every key strictly below strPath.
std::vector<CRegKeys::iterator> Descendants(CRegKeys& keys, const std::string& strPath)
{
    const std::string strPrefix = Lower(strPath) + "\\";
    std::vector<CRegKeys::iterator> found;
    for (auto it = keys.lower_bound(strPrefix);
         it != keys.end() && it->first.compare(0, strPrefix.size(), strPrefix) == 0; ++it) {
        found.push_back(it);
    }
    return found;
}

std::string ValueName(LPCWSTR lpValueName)
{
    std::string strName;
    if (lpValueName != nullptr) {
        WStrToUtf8(lpValueName, strName);
    }
    return strName;
}

std::vector<CRegValue>::iterator FindValue(CRegKey& key, const std::string& strName)
{
    const std::string strLower = Lower(strName);
    return std::find_if(key.values.begin(), key.values.end(),
                        [&](const CRegValue& value) { return Lower(value.strName) == strLower; });
}

}  // namespace

extern "C" {

LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*Reserved*/, LPWSTR /*lpClass*/, DWORD /*dwOptions*/,
                            REGSAM /*samDesired*/, const LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/,
                            PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return OnSubkey(hKey, lpSubKey, [&](CRegistrySession& session, const std::string& strPath) -> LONG {
        CRegKeys& keys = session.Keys();
        const bool bExisted = KeyExists(keys, strPath);
        if (!bExisted) {
            // Every missing level on the way is made too.
            for (size_t nPos = strPath.find('\\');; nPos = strPath.find('\\', nPos + 1)) {
                const std::string strLevel = nPos == std::string::npos ? strPath : strPath.substr(0, nPos);
                if (!KeyExists(keys, strLevel)) {
                    keys[Lower(strLevel)].strPath = strLevel;
                }
                if (nPos == std::string::npos) {
                    break;
                }
            }
            const LONG lCommit = session.Commit();
            if (lCommit != ERROR_SUCCESS) {
                return lCommit;
            }
        }
        *phkResult = NewHandle(strPath);
        if (lpdwDisposition != nullptr) {
            *lpdwDisposition = bExisted ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        }
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD /*ulOptions*/, REGSAM /*samDesired*/, PHKEY phkResult)
{
    if (phkResult == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return OnSubkey(hKey, lpSubKey, [&](CRegistrySession& session, const std::string& strPath) -> LONG {
        if (!KeyExists(session.Keys(), strPath)) {
            return ERROR_FILE_NOT_FOUND;
        }
        *phkResult = NewHandle(strPath);
        return ERROR_SUCCESS;
    });
}

LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD /*Reserved*/, DWORD dwType, const BYTE* lpData,
                           DWORD cbData)
{
    std::string strPath;
    if (!PathOfHandle(hKey, strPath)) {
        return ERROR_INVALID_HANDLE;
    }
    const std::string strName = ValueName(lpValueName);
    // Names are lines of the registry file: a line break would break it.
    if ((lpData == nullptr && cbData != 0) || strName.find_first_of("\r\n") != std::string::npos) {
        return ERROR_INVALID_PARAMETER;
    }
    CRegistrySession session;
    CRegKeys& keys = session.Keys();
    if (!KeyExists(keys, strPath) || IsRootPath(Lower(strPath))) {
        return IsRootPath(Lower(strPath)) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    }
    CRegKey& key = keys[Lower(strPath)];
    CRegValue value{strName, dwType, std::vector<BYTE>(lpData, lpData + cbData)};
    const auto it = FindValue(key, strName);
    if (it != key.values.end()) {
        value.strName = it->strName;
        *it = value;
    } else {
        key.values.push_back(value);
    }
    return session.Commit();
}

LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD /*lpReserved*/, LPDWORD lpType, BYTE* lpData,
                             LPDWORD lpcbData)
{
    std::string strPath;
    if (!PathOfHandle(hKey, strPath)) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpData != nullptr && lpcbData == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CRegistrySession session;
    CRegKeys& keys = session.Keys();
    const auto itKey = keys.find(Lower(strPath));
    if (itKey == keys.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const auto it = FindValue(itKey->second, ValueName(lpValueName));
    if (it == itKey->second.values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (lpType != nullptr) {
        *lpType = it->dwType;
    }
    const DWORD cbValue = static_cast<DWORD>(it->data.size());
    if (lpcbData == nullptr) {
        return ERROR_SUCCESS;
    }
    const DWORD cbBuffer = *lpcbData;
    *lpcbData = cbValue;
    if (lpData == nullptr) {
        return ERROR_SUCCESS;
    }
    if (cbBuffer < cbValue) {
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, it->data.data(), cbValue);
    return ERROR_SUCCESS;
}

LONG WINAPI RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey)
{
    return OnSubkey(hKey, lpSubKey, [&](CRegistrySession& session, const std::string& strPath) -> LONG {
        CRegKeys& keys = session.Keys();
        if (!KeyExists(keys, strPath)) {
            return ERROR_FILE_NOT_FOUND;
        }
        for (const auto& it : Descendants(keys, strPath)) {
            keys.erase(it);
        }
        const std::string strLower = Lower(strPath);
        const bool bKeepKey = lpSubKey == nullptr || *lpSubKey == 0;
        if (bKeepKey) {
            if (keys.count(strLower) != 0) {
                keys[strLower].values.clear();
            }
        } else if (IsRootPath(strLower)) {
            return ERROR_ACCESS_DENIED;
        } else {
            keys.erase(strLower);
        }
        return session.Commit();
    });
}

LONG WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
{
    if (lpSubKey == nullptr || *lpSubKey == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    return OnSubkey(hKey, lpSubKey, [&](CRegistrySession& session, const std::string& strPath) -> LONG {
        CRegKeys& keys = session.Keys();
        const std::string strLower = Lower(strPath);
        if (keys.count(strLower) == 0) {
            return IsRootPath(strLower) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
        }
        if (!Descendants(keys, strPath).empty()) {
            return ERROR_ACCESS_DENIED;
        }
        keys.erase(strLower);
        return session.Commit();
    });
}

LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD /*lpReserved*/,
                          LPWSTR /*lpClass*/, LPDWORD /*lpcchClass*/, void* /*lpftLastWriteTime*/)
{
    std::string strPath;
    if (!PathOfHandle(hKey, strPath)) {
        return ERROR_INVALID_HANDLE;
    }
    if (lpName == nullptr || lpcchName == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    CRegistrySession session;
    std::vector<std::string> children;
    for (const auto& it : Descendants(session.Keys(), strPath)) {
        const std::string strRest = it->second.strPath.substr(strPath.size() + 1);
        if (strRest.find('\\') == std::string::npos) {
            children.push_back(strRest);
        }
    }
    if (dwIndex >= children.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    WString strName;
    WStrFromUtf8(children[dwIndex].c_str(), strName);
    if (strName.size() + 1 > *lpcchName) {
        return ERROR_MORE_DATA;
    }
    WStrCopyN(lpName, *lpcchName, strName.c_str());
    *lpcchName = static_cast<DWORD>(strName.size());
    return ERROR_SUCCESS;
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    std::string strPath;
    if (!PathOfHandle(hKey, strPath)) {
        return ERROR_INVALID_HANDLE;
    }
    std::lock_guard<std::mutex> lock(s_handleMutex);
    s_handles.erase(hKey);
    return ERROR_SUCCESS;
}

}  // extern "C"

#endif  // _WIN32
