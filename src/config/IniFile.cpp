#include "config/IniFile.h"

#include <algorithm>
#include <string>

#include <sys/stat.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "compat/fileio.h"

namespace {

const char s_szTrimSet[] = " \t\n\r";

// How Save replaces the file; the tests' failures and step hook go in here too.
compat::CReplaceFileOptions s_replaceOptions = [] {
    compat::CReplaceFileOptions options;
    options.bKeepMode = true;  // a private file stays private
    options.bSweepAbandoned = true;
    return options;
}();

std::string Trim(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(s_szTrimSet);
    if (nFirst == std::string::npos) {
        return std::string();
    }
    const size_t nLast = str.find_last_not_of(s_szTrimSet);
    return str.substr(nFirst, nLast - nFirst + 1);
}

bool IsCommentChar(char ch)
{
    return ch == '#' || ch == ';';
}

// Parses one line (trimmed, its comment character removed) into rec. Returns
// false for a line that is neither a section nor a key.
bool ParseLine(const std::string& strLine, IniRecord& rec, std::string& strPendingComments,
               std::string& strCurrentSection)
{
    std::string strRest = strLine;
    const size_t nBracket = strRest.find('[');
    const size_t nEquals = strRest.find('=');
    bool bRecord = false;
    // A line whose first "=" comes before its first "[" is a key whose value
    // happens to hold a bracket, not a section.
    if (nBracket != std::string::npos && (nEquals == std::string::npos || nBracket < nEquals)) {
        strRest.erase(0, 1);
        // Without a "]" the name runs to the end of the line.
        const size_t nClose = strRest.find(']');
        if (nClose != std::string::npos) {
            strRest.erase(nClose);
        }
        rec.comments = strPendingComments;
        strPendingComments.clear();
        rec.section = strRest;
        rec.key.clear();
        rec.value.clear();
        strCurrentSection = strRest;
        bRecord = true;
    }
    const size_t nKeyEquals = strRest.find('=');
    if (nKeyEquals != std::string::npos) {
        if (!bRecord) {
            rec.comments = strPendingComments;
            strPendingComments.clear();
        }
        rec.section = strCurrentSection;
        rec.key = strRest.substr(0, nKeyEquals);
        rec.value = strRest.substr(nKeyEquals + 1);
        bRecord = true;
    }
    return bRecord;
}

std::string Serialize(const std::vector<IniRecord>& content)
{
    std::string strBytes;
    for (const IniRecord& rec : content) {
        for (char ch : rec.comments) {
            if (ch == '\n') {
                strBytes += "\r\n";
            } else {
                strBytes += ch;
            }
        }
        strBytes += rec.commentChar;
        if (rec.key.empty()) {
            strBytes += "[" + rec.section + "]";
        } else {
            strBytes += rec.key + "=" + rec.value;
        }
        strBytes += "\r\n";
    }
    return strBytes;
}

std::vector<IniRecord>::iterator FindRecord(std::vector<IniRecord>& content, const std::string& strKey,
                                            const std::string& strSection)
{
    return std::find_if(content.begin(), content.end(),
                        [&](const IniRecord& rec) { return rec.section == strSection && rec.key == strKey; });
}

IniRecord NewRecord(const std::string& strSection, const std::string& strKey, const std::string& strValue)
{
    return IniRecord{std::string(), ' ', strSection, strKey, strValue};
}

}  // namespace

namespace IniFile {

bool Load(const std::string& strPath, std::vector<IniRecord>& content)
{
    std::string strText;
    if (!compat::ReadWholeFile(strPath, strText)) {
        return false;
    }
    content.clear();
    std::string strPendingComments;
    std::string strCurrentSection;
    size_t nStart = 0;
    // Every line counts, the last one too when no line feed ends it.
    while (nStart < strText.size()) {
        size_t nEnd = strText.find('\n', nStart);
        if (nEnd == std::string::npos) {
            nEnd = strText.size();
        }
        std::string strLine = Trim(strText.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        if (strLine.empty()) {
            continue;
        }
        IniRecord rec{std::string(), ' ', std::string(), std::string(), std::string()};
        if (IsCommentChar(strLine[0])) {
            if (strLine.find('[') == std::string::npos && strLine.find('=') == std::string::npos) {
                strPendingComments += strLine + "\n";
                continue;
            }
            rec.commentChar = strLine[0];
            strLine = Trim(strLine.substr(1));
        }
        // A line that is neither a section nor a key is left out: kept as an empty
        // section it would move the keys below it into another section next time.
        if (ParseLine(strLine, rec, strPendingComments, strCurrentSection) && strPendingComments.empty()) {
            content.push_back(rec);
        }
    }
    return true;
}

bool Save(const std::string& strPath, const std::vector<IniRecord>& content)
{
    compat::CReplaceFileOptions options = s_replaceOptions;
    s_replaceOptions.cbFailAfter = -1;  // one Save only
    return compat::ReplaceWholeFile(strPath, Serialize(content), options);
}

bool Create(const std::string& strPath)
{
    return Save(strPath, std::vector<IniRecord>());
}

bool SectionExists(const std::string& strSection, const std::string& strPath)
{
    std::vector<IniRecord> content;
    if (!Load(strPath, content)) {
        return true;
    }
    return std::any_of(content.begin(), content.end(), [&](const IniRecord& rec) { return rec.section == strSection; });
}

bool RecordExists(const std::string& strKey, const std::string& strSection, const std::string& strPath)
{
    std::vector<IniRecord> content;
    if (!Load(strPath, content)) {
        return true;
    }
    return FindRecord(content, strKey, strSection) != content.end();
}

std::vector<IniRecord> GetRecord(const std::string& strKey, const std::string& strSection, const std::string& strPath)
{
    std::vector<IniRecord> content;
    std::vector<IniRecord> found;
    if (Load(strPath, content)) {
        const auto it = FindRecord(content, strKey, strSection);
        if (it != content.end()) {
            found.push_back(*it);
        }
    }
    return found;
}

std::string GetValue(const std::string& strKey, const std::string& strSection, const std::string& strPath)
{
    const std::vector<IniRecord> found = GetRecord(strKey, strSection, strPath);
    return found.empty() ? std::string() : found.front().value;
}

bool SetValue(const std::string& strKey, const std::string& strValue, const std::string& strSection,
              const std::string& strPath)
{
    std::vector<IniRecord> content;
    if (!Load(strPath, content)) {
        return false;
    }
    // Decided on the content just read, so that one change rests on one reading.
    const auto itSection =
        std::find_if(content.begin(), content.end(), [&](const IniRecord& rec) { return rec.section == strSection; });
    if (itSection == content.end()) {
        content.push_back(NewRecord(strSection, std::string(), std::string()));
        content.push_back(NewRecord(strSection, strKey, strValue));
    } else {
        const auto itRecord = FindRecord(content, strKey, strSection);
        if (itRecord == content.end()) {
            content.insert(itSection + 1, NewRecord(strSection, strKey, strValue));
        } else {
            // Its comments and comment character stay: a commented-out key stays so.
            itRecord->value = strValue;
        }
    }
    return Save(strPath, content);
}

bool DeleteRecord(const std::string& strKey, const std::string& strSection, const std::string& strPath)
{
    std::vector<IniRecord> content;
    if (!Load(strPath, content)) {
        return false;
    }
    const auto it = FindRecord(content, strKey, strSection);
    if (it == content.end()) {
        return false;
    }
    content.erase(it);
    return Save(strPath, content);
}

void SetWriteFailureForTesting(long long cbFailAfter)
{
    s_replaceOptions.cbFailAfter = cbFailAfter;
}

void SetWriteStepHook(PFN_WRITE_STEP_HOOK pfnHook, void* pContext)
{
    s_replaceOptions.pfnStepHook = pfnHook;
    s_replaceOptions.pStepHookContext = pContext;
}

}  // namespace IniFile

// ---------------------------------------------------------------------------
// UTF-16 adapters

namespace {

// The narrow form of a text, or CIniTextError when some character has none.
std::string Narrow(const WCHAR* psz)
{
    if (psz == nullptr || *psz == 0) {
        return std::string();
    }
    // With a UTF-8 code page every character has a narrow form, and the call
    // takes no default-character arguments; elsewhere an unmapped one is refused.
    const bool bUtf8 = GetACP() == CP_UTF8;
    const UINT uCodePage = bUtf8 ? CP_UTF8 : CP_ACP;
    const DWORD dwFlags = bUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL bUsedDefault = FALSE;
    LPBOOL pbUsedDefault = bUtf8 ? nullptr : &bUsedDefault;
    const int cb = WideCharToMultiByte(uCodePage, dwFlags, psz, -1, nullptr, 0, nullptr, pbUsedDefault);
    if (cb <= 0 || bUsedDefault) {
        throw CIniTextError();
    }
    std::string str(static_cast<size_t>(cb), '\0');
    WideCharToMultiByte(uCodePage, dwFlags, psz, -1, &str[0], cb, nullptr, pbUsedDefault);
    if (bUsedDefault) {
        throw CIniTextError();
    }
    str.resize(static_cast<size_t>(cb) - 1);
    return str;
}

WString Wide(const std::string& str)
{
    if (str.empty()) {
        return WString();
    }
    const int cch =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, str.data(), static_cast<int>(str.size()), nullptr, 0);
    if (cch <= 0) {
        throw CIniTextError();
    }
    WString strWide(static_cast<size_t>(cch), WTEXT('\0'));
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, str.data(), static_cast<int>(str.size()), &strWide[0], cch);
    return strWide;
}

}  // namespace

bool EnsureIniFile(const WCHAR* pszPath)
{
    const std::string strPath = Narrow(pszPath);
    // Only a missing file is made, and made in one step, so that a file another
    // process creates meanwhile, or one that merely cannot be read, is left alone.
#ifdef _WIN32
    const int fd = _wopen(compat::WidePath(strPath).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd >= 0) {
        _close(fd);
    }
#else
    const int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::close(fd);
    }
#endif
    return true;
}

bool ReadIniString(const WCHAR* pszSection, const WCHAR* pszKey, WCHAR* pszBuffer, size_t cchBuffer,
                   const WCHAR* pszPath)
{
    const std::string strValue = IniFile::GetValue(Narrow(pszKey), Narrow(pszSection), Narrow(pszPath));
    if (strValue.empty()) {
        return false;
    }
    const WString strWide = Wide(strValue);
    WStrCopyN(pszBuffer, cchBuffer, strWide.c_str());
    return true;
}

bool WriteIniString(const WCHAR* pszSection, const WCHAR* pszKey, const WCHAR* pszValue, const WCHAR* pszPath)
{
    return IniFile::SetValue(Narrow(pszKey), Narrow(pszValue), Narrow(pszSection), Narrow(pszPath));
}

bool DeleteIniKey(const WCHAR* pszSection, const WCHAR* pszKey, const WCHAR* pszPath)
{
    return IniFile::DeleteRecord(Narrow(pszKey), Narrow(pszSection), Narrow(pszPath));
}
