#include "config/VxCalConfigMedia.h"

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <climits>

#include "account/UserDataDir.h"
#include "config/IniFile.h"

namespace {

const WCHAR s_szConfigFileName[] = WTEXT("CalendarConfig.ini");

// A signed decimal: leading blanks, an optional sign and digits; no digits give 0
// and numbers beyond 32 bits the nearest limit.
LONG ParseSaturated(const WCHAR* psz)
{
    while (*psz == WTEXT(' ') || (*psz >= WTEXT('\t') && *psz <= WTEXT('\r'))) {
        ++psz;
    }
    const bool bNegative = *psz == WTEXT('-');
    if (*psz == WTEXT('-') || *psz == WTEXT('+')) {
        ++psz;
    }
    long long llValue = 0;
    for (; *psz >= WTEXT('0') && *psz <= WTEXT('9'); ++psz) {
        if (llValue <= static_cast<long long>(INT_MAX) + 1) {
            llValue = llValue * 10 + (*psz - WTEXT('0'));
        }
    }
    if (bNegative) {
        llValue = -llValue;
    }
    return static_cast<LONG>(std::max<long long>(INT_MIN, std::min<long long>(INT_MAX, llValue)));
}

// A line break starts a new line of the file; an embedded zero ends the text early.
bool HasUnstorableCharacter(const WString& str)
{
    return str.find_first_of(WTEXT("\r\n")) != WString::npos || str.find(WCHAR(0)) != WString::npos;
}

bool IsBlank(WCHAR ch)
{
    return ch == WTEXT(' ') || ch == WTEXT('\t');
}

// Names and values that the settings file could not give back as written, or that
// would change other settings (an empty item matches the section header itself, a
// line break starts a new line), are refused.
bool IsStorableName(const WString& strNameSpace, const WString& strItem)
{
    if (HasUnstorableCharacter(strNameSpace) || strNameSpace.find_first_of(WTEXT("]=")) != WString::npos) {
        return false;
    }
    return !strItem.empty() && !HasUnstorableCharacter(strItem) &&
           strItem.find_first_of(WTEXT("=[")) == WString::npos && strItem[0] != WTEXT('#') &&
           strItem[0] != WTEXT(';') && !IsBlank(strItem[0]);
}

bool IsStorableValue(const WString& strValue)
{
    return !HasUnstorableCharacter(strValue) && (strValue.empty() || !IsBlank(strValue.back()));
}

// Runs an INI operation; a text without a narrow form fails it.
template <typename TBody>
bool RunIni(TBody&& body)
{
    try {
        return body();
    } catch (const CIniTextError&) {
        return false;
    }
}

}  // namespace

HRESULT CVxCalConfigMedia::Reserved0(DWORD, DWORD)
{
    return S_OK;
}

HRESULT CVxCalConfigMedia::Reserved6()
{
    return S_OK;
}

HRESULT CVxCalConfigMedia::Initialize(DWORD dwUIN)
{
    WString strDir;
    GetUserDataDir(dwUIN, strDir);
    m_strPath = strDir + s_szConfigFileName;
    RunIni([&]() { return EnsureIniFile(m_strPath.c_str()); });
    return S_OK;
}

bool CVxCalConfigMedia::NoteFileFailure(bool bOk, bool bWrite)
{
    if (bOk) {
        return true;
    }
    const int nError = errno;
    WString strCause;
    switch (nError) {
    case 0: return false;
    case ENOSPC: strCause = WTEXT("disk full"); break;
    case EACCES:
    case EPERM:
    case EROFS: strCause = WTEXT("permission denied"); break;
    case EIO: strCause = WTEXT("I/O error"); break;
    case EISDIR: strCause = WTEXT("a directory stands where the file should be"); break;
    case ENOENT:
        if (!bWrite) {
            return false;  // no file yet: no setting either
        }
        strCause = WTEXT("its directory does not exist");
        break;
    default: WStrFromUtf8(std::strerror(nError), strCause); break;
    }
    m_strFailure = m_strPath + (bWrite ? WTEXT(": cannot be written: ") : WTEXT(": cannot be read: ")) + strCause;
    return false;
}

HRESULT CVxCalConfigMedia::AddString(WString strNameSpace, WString strItem, WString strValue, BYTE /*cReportType*/)
{
    m_strFailure.clear();
    if (!IsStorableName(strNameSpace, strItem) || !IsStorableValue(strValue)) {
        return E_FAIL;
    }
    errno = 0;
    const bool bOk = RunIni(
        [&]() { return WriteIniString(strNameSpace.c_str(), strItem.c_str(), strValue.c_str(), m_strPath.c_str()); });
    if (!NoteFileFailure(bOk, true) && m_strFailure.empty()) {
        m_strFailure = m_strPath + WTEXT(": cannot be written");
    }
    return bOk ? S_OK : E_FAIL;
}

bool CVxCalConfigMedia::ReadValue(const WString& strNameSpace, const WString& strItem, WCHAR* pszBuffer)
{
    m_strFailure.clear();
    if (!IsStorableName(strNameSpace, strItem)) {
        return false;
    }
    errno = 0;
    const bool bOk = RunIni([&]() {
        return ReadIniString(strNameSpace.c_str(), strItem.c_str(), pszBuffer, VALUE_CHARS_MAX + 1, m_strPath.c_str());
    });
    NoteFileFailure(bOk, false);
    return bOk;
}

HRESULT CVxCalConfigMedia::GetString(WString strNameSpace, WString strItem, BSTR* pbsValue)
{
    if (pbsValue == nullptr) {
        return E_FAIL;
    }
    WCHAR szValue[VALUE_CHARS_MAX + 1] = {};
    if (!ReadValue(strNameSpace, strItem, szValue)) {
        *pbsValue = nullptr;
        return E_FAIL;
    }
    *pbsValue = SysAllocString(szValue);
    return *pbsValue != nullptr ? S_OK : E_FAIL;
}

HRESULT CVxCalConfigMedia::AddDWord(WString strNameSpace, WString strItem, DWORD dwValue, BYTE cReportType)
{
    return AddString(std::move(strNameSpace), std::move(strItem), WStrFormatString(WTEXT("%d"), int(dwValue)),
                     cReportType);
}

HRESULT CVxCalConfigMedia::GetDWord(WString strNameSpace, WString strItem, DWORD* pdwValue)
{
    // Nowhere to put the value: refuse rather than write through a null pointer.
    if (pdwValue == nullptr) {
        return E_FAIL;
    }
    WCHAR szValue[VALUE_CHARS_MAX + 1] = {};
    if (!ReadValue(strNameSpace, strItem, szValue)) {
        return E_FAIL;
    }
    *pdwValue = static_cast<DWORD>(ParseSaturated(szValue));
    return S_OK;
}

HRESULT CVxCalConfigMedia::DeleteConfigItem(WString strNameSpace, WString strItem)
{
    m_strFailure.clear();
    if (!IsStorableName(strNameSpace, strItem)) {
        return E_FAIL;
    }
    errno = 0;
    const bool bOk = RunIni([&]() { return DeleteIniKey(strNameSpace.c_str(), strItem.c_str(), m_strPath.c_str()); });
    // Without a cause from the system the item was simply not there.
    NoteFileFailure(bOk, true);
    return bOk ? S_OK : E_FAIL;
}
