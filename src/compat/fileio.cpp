#include "compat/fileio.h"

#include <cerrno>
#include <cstdio>

#include <sys/stat.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <csignal>
#include <cstdlib>
#endif

#include "compat/winbase.h"

namespace compat {

namespace {

// Whether a step of the replacement may go ahead (always, without a hook).
bool StepAllowed(const CReplaceFileOptions& options, EWriteStep eStep)
{
    return options.pfnStepHook == nullptr || options.pfnStepHook(options.pStepHookContext, eStep);
}

#ifdef _WIN32
// Windows calls a directory in the file's place "access denied"; say what it is.
void NoteDirectoryInPlace(const std::wstring& strPath)
{
    const DWORD dwAttributes = GetFileAttributesW(strPath.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        errno = EISDIR;
    }
}
#else
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

#ifdef _WIN32
typedef std::wstring TNativePath;

bool FlushToDisk(int fd)
{
    return _commit(fd) == 0;
}
bool CloseFile(int fd)
{
    return _close(fd) == 0;
}
bool RenameOver(const TNativePath& strFrom, const TNativePath& strTo)
{
    if (MoveFileExW(strFrom.c_str(), strTo.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE) {
        return true;
    }
    NoteDirectoryInPlace(strTo);
    return false;
}
void RemoveFile(const TNativePath& strPath)
{
    _wremove(strPath.c_str());
}
#else
typedef std::string TNativePath;

bool FlushToDisk(int fd)
{
    return ::fsync(fd) == 0;
}
bool CloseFile(int fd)
{
    return ::close(fd) == 0;
}
bool RenameOver(const TNativePath& strFrom, const TNativePath& strTo)
{
    return ::rename(strFrom.c_str(), strTo.c_str()) == 0;
}
void RemoveFile(const TNativePath& strPath)
{
    ::unlink(strPath.c_str());
}
#endif

// Keeps the cause of the first step that failed over the clean-up calls after it.
class CFirstFailure {
public:
    bool Check(bool bStepOk)
    {
        if (!bStepOk && !m_bFailed) {
            m_bFailed = true;
            m_nError = errno;
        }
        return bStepOk;
    }
    // Puts that cause back into errno for the caller.
    void Restore() const
    {
        if (m_bFailed) {
            errno = m_nError;
        }
    }

private:
    bool m_bFailed = false;
    int m_nError = 0;
};

}  // namespace

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

bool ReadWholeFile(const std::string& strPath, std::string& strContent, bool* pbOpened)
{
    strContent.clear();
#ifdef _WIN32
    const std::wstring strWidePath = WidePath(strPath);
    FILE* pFile = _wfopen(strWidePath.c_str(), L"rb");
    if (pFile == nullptr) {
        NoteDirectoryInPlace(strWidePath);
    }
#else
    FILE* pFile = std::fopen(strPath.c_str(), "rb");
#endif
    if (pbOpened != nullptr) {
        *pbOpened = pFile != nullptr;
    }
    if (pFile == nullptr) {
        return false;
    }
    char buffer[16 * 1024];
    size_t cbRead = 0;
    while ((cbRead = std::fread(buffer, 1, sizeof(buffer), pFile)) > 0) {
        strContent.append(buffer, cbRead);
    }
    const bool bOk = std::ferror(pFile) == 0;
    const int nError = errno;
    std::fclose(pFile);
    errno = nError;
    return bOk;
}

bool WriteAll(int fd, const void* pData, size_t cb)
{
    const char* pNext = static_cast<const char*>(pData);
    while (cb > 0) {
#ifdef _WIN32
        const int cbWritten = _write(fd, pNext, cb > 0x40000000 ? 0x40000000u : static_cast<unsigned>(cb));
#else
        const ssize_t cbWritten = ::write(fd, pNext, cb);
#endif
        if (cbWritten < 0 && errno == EINTR) {
            continue;
        }
        if (cbWritten <= 0) {
            return false;
        }
        pNext += cbWritten;
        cb -= static_cast<size_t>(cbWritten);
    }
    return true;
}

bool ReplaceWholeFile(const std::string& strPath, const std::string& strBytes, const CReplaceFileOptions& options)
{
    size_t cbToWrite = strBytes.size();
    bool bInjectedFailure = false;
    if (options.cbFailAfter >= 0 && static_cast<unsigned long long>(options.cbFailAfter) < cbToWrite) {
        cbToWrite = static_cast<size_t>(options.cbFailAfter);
        bInjectedFailure = true;
    }
    if (!StepAllowed(options, EWriteStep::Create)) {
        return false;
    }
    // Each writer gets its own temporary file (process and call in its name): two
    // writers sharing one would empty each other's before it is moved into place.
#ifdef _WIN32
    static LONG s_nTempCounter = 0;
    const TNativePath strTarget = WidePath(strPath);
    const TNativePath strTemp = strTarget + L".tmp." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                std::to_wstring(InterlockedIncrement(&s_nTempCounter));
    const int fd = _wopen(strTemp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    static std::atomic<unsigned> s_nTempCounter{0};
    const TNativePath& strTarget = strPath;
    TNativePath strTemp;
    int fd = -1;
    for (int nAttempt = 0; fd < 0 && nAttempt < 100; ++nAttempt) {
        strTemp = strPath + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++s_nTempCounter);
        fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
#endif
    if (fd < 0) {
        return false;
    }
#ifndef _WIN32
    struct stat stOld {};
    if (options.bKeepMode && ::stat(strPath.c_str(), &stOld) == 0) {
        ::fchmod(fd, stOld.st_mode & 07777);
    }
#endif
    CFirstFailure failure;
    bool bOk = failure.Check(StepAllowed(options, EWriteStep::Write)) &&
               failure.Check(WriteAll(fd, strBytes.data(), cbToWrite)) && failure.Check(!bInjectedFailure);
    bOk = bOk && failure.Check(StepAllowed(options, EWriteStep::Flush)) && failure.Check(FlushToDisk(fd));
    bOk = failure.Check(CloseFile(fd)) && bOk;
    bOk =
        bOk && failure.Check(StepAllowed(options, EWriteStep::Rename)) && failure.Check(RenameOver(strTemp, strTarget));
    if (!bOk) {
        RemoveFile(strTemp);
    }
#ifndef _WIN32
    if (options.bSweepAbandoned) {
        RemoveAbandonedTempFiles(strPath);
    }
#endif
    failure.Restore();
    return bOk;
}

void CreateDirectoryTree(const WString& strPath)
{
    for (size_t nPos = 1; nPos <= strPath.size(); ++nPos) {
        if (nPos == strPath.size() || strPath[nPos] == g_chPathSeparator || strPath[nPos] == WTEXT('/')) {
            // Existing levels fail with "already exists", which is what we want.
            CreateDirectoryW(strPath.substr(0, nPos).c_str(), nullptr);
        }
    }
}

}  // namespace compat
