#include "config/IniFile.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include <sys/stat.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#endif

namespace {

const char s_szTrimSet[] = " \t\n\r";

long long s_cbFailWriteAfter = -1;
IniFile::PFN_WRITE_STEP_HOOK s_pfnWriteStepHook = nullptr;
void* s_pWriteStepHookContext = nullptr;

// Whether a step of the file's replacement may go ahead (always, without a hook).
bool StepAllowed(IniFile::EWriteStep eStep)
{
    return s_pfnWriteStepHook == nullptr || s_pfnWriteStepHook(s_pWriteStepHookContext, eStep);
}

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

#ifdef _WIN32
std::wstring WidePath(const std::string& strPath)
{
    const int cch = MultiByteToWideChar(CP_ACP, 0, strPath.c_str(), -1, nullptr, 0);
    std::wstring str(cch > 0 ? static_cast<size_t>(cch) : 1, L'\0');
    if (cch > 0) {
        MultiByteToWideChar(CP_ACP, 0, strPath.c_str(), -1, &str[0], cch);
    }
    str.resize(str.size() - 1);
    return str;
}
#endif

bool ReadWholeFile(const std::string& strPath, std::string& strContent)
{
#ifdef _WIN32
    FILE* pFile = _wfopen(WidePath(strPath).c_str(), L"rb");
#else
    FILE* pFile = std::fopen(strPath.c_str(), "rb");
#endif
    if (pFile == nullptr) {
        return false;
    }
    strContent.clear();
    char buffer[16 * 1024];
    size_t cbRead = 0;
    while ((cbRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0) {
        strContent.append(buffer, cbRead);
    }
    const bool bOk = std::ferror(pFile) == 0;
    std::fclose(pFile);
    return bOk;
}

#ifndef _WIN32
// Removes the temporary files that writers which died part way left behind;
// those of live processes are still being written.
void RemoveAbandonedTempFiles(const std::string& strPath)
{
    const size_t nSlash = strPath.rfind('/');
    const std::string strDir = nSlash == std::string::npos ? std::string(".") : strPath.substr(0, nSlash);
    const std::string strPrefix = strPath.substr(nSlash == std::string::npos ? 0 : nSlash + 1) + ".tmp.";
    DIR* pDir = ::opendir(strDir.c_str());
    if (pDir == nullptr) {
        return;
    }
    while (const dirent* pEntry = ::readdir(pDir)) {
        const std::string strName = pEntry->d_name;
        if (strName.compare(0, strPrefix.size(), strPrefix) != 0) {
            continue;
        }
        const long lPid = std::strtol(strName.c_str() + strPrefix.size(), nullptr, 10);
        if (lPid > 0 && lPid != ::getpid() && ::kill(static_cast<pid_t>(lPid), 0) != 0 && errno == ESRCH) {
            ::unlink((strDir + "/" + strName).c_str());
        }
    }
    ::closedir(pDir);
}
#endif

// Writes the bytes to a temporary file beside the target, flushes it to disk and
// moves it over the target. The old file stays whole until the last step.
bool ReplaceWholeFile(const std::string& strPath, const std::string& strBytes)
{
    size_t cbToWrite = strBytes.size();
    bool bInjectedFailure = false;
    if (s_cbFailWriteAfter >= 0 && static_cast<unsigned long long>(s_cbFailWriteAfter) < cbToWrite) {
        cbToWrite = static_cast<size_t>(s_cbFailWriteAfter);
        bInjectedFailure = true;
    }
    s_cbFailWriteAfter = -1;
#ifdef _WIN32
    // Each writer gets its own temporary file: two writers sharing one would
    // empty each other's before it is moved into place.
    static LONG s_nTempCounter = 0;
    const std::wstring strWideTemp = WidePath(strPath) + L".tmp." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                     std::to_wstring(InterlockedIncrement(&s_nTempCounter));
    if (!StepAllowed(IniFile::EWriteStep::Create)) {
        return false;
    }
    const int fd = _wopen(strWideTemp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    FILE* pFile = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (pFile == nullptr) {
        if (fd >= 0) {
            _close(fd);
            _wremove(strWideTemp.c_str());
        }
        return false;
    }
    bool bOk = StepAllowed(IniFile::EWriteStep::Write) &&
               std::fwrite(strBytes.data(), 1, cbToWrite, pFile) == cbToWrite && !bInjectedFailure;
    bOk = StepAllowed(IniFile::EWriteStep::Flush) && std::fflush(pFile) == 0 && _commit(_fileno(pFile)) == 0 && bOk;
    bOk = std::fclose(pFile) == 0 && bOk;
    if (bOk && StepAllowed(IniFile::EWriteStep::Rename)) {
        bOk = MoveFileExW(strWideTemp.c_str(), WidePath(strPath).c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    } else {
        bOk = false;
    }
    if (!bOk) {
        _wremove(strWideTemp.c_str());
    }
    return bOk;
#else
    // Each writer gets its own temporary file (process and call in its name): two
    // writers sharing one would empty each other's before it is moved into place.
    static std::atomic<unsigned> s_nTempCounter{0};
    std::string strTemp;
    int fd = -1;
    if (!StepAllowed(IniFile::EWriteStep::Create)) {
        return false;
    }
    for (int nAttempt = 0; fd < 0 && nAttempt < 100; ++nAttempt) {
        strTemp = strPath + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++s_nTempCounter);
        fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    // The new file keeps the old one's permissions (a private file stays private).
    struct stat stOld {};
    if (::stat(strPath.c_str(), &stOld) == 0) {
        ::fchmod(fd, stOld.st_mode & 07777);
    }
    bool bOk = StepAllowed(IniFile::EWriteStep::Write);
    const char* pData = strBytes.data();
    size_t cbLeft = cbToWrite;
    while (bOk && cbLeft > 0) {
        const ssize_t cbWritten = ::write(fd, pData, cbLeft);
        if (cbWritten < 0 && errno == EINTR) {
            continue;
        }
        bOk = cbWritten > 0;
        if (bOk) {
            pData += cbWritten;
            cbLeft -= static_cast<size_t>(cbWritten);
        }
    }
    bOk = bOk && !bInjectedFailure && StepAllowed(IniFile::EWriteStep::Flush) && ::fsync(fd) == 0;
    bOk = ::close(fd) == 0 && bOk;
    bOk = bOk && StepAllowed(IniFile::EWriteStep::Rename) && ::rename(strTemp.c_str(), strPath.c_str()) == 0;
    if (!bOk) {
        ::unlink(strTemp.c_str());
    }
    RemoveAbandonedTempFiles(strPath);
    return bOk;
#endif
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
    if (!ReadWholeFile(strPath, strText)) {
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
    return ReplaceWholeFile(strPath, Serialize(content));
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
    s_cbFailWriteAfter = cbFailAfter;
}

void SetWriteStepHook(PFN_WRITE_STEP_HOOK pfnHook, void* pContext)
{
    s_pfnWriteStepHook = pfnHook;
    s_pWriteStepHookContext = pContext;
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
    const int fd = _wopen(WidePath(strPath).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
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
