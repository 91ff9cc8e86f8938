#include "compat/winbase.h"

#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "Utf.h"
#include "compat/fileio.h"

namespace {

thread_local DWORD t_dwLastError = ERROR_SUCCESS;

DWORD Win32ErrorFromErrno(int nErrno)
{
    switch (nErrno) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case EBUSY: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_WRITE_FAULT;
    }
}

BOOL FailWith(DWORD dwError)
{
    t_dwLastError = dwError;
    return FALSE;
}

BOOL FailWithErrno()
{
    return FailWith(Win32ErrorFromErrno(errno));
}

// UTF-16 path to the file system's UTF-8; a null path or one with an unpaired
// surrogate has no native name.
bool NativePath(LPCWSTR pszPath, std::string& strNative)
{
    return pszPath != nullptr && *pszPath != 0 && WStrToUtf8(pszPath, strNative);
}

// Hands a converted text out as the code-page calls do: with a buffer of 0 units
// only its length, into a buffer too small nothing (ERROR_INSUFFICIENT_BUFFER).
template <typename TChar>
int HandOutConverted(const std::basic_string<TChar>& str, TChar* pBuffer, int cchBuffer)
{
    if (str.size() > 0x7FFFFFFFu) {
        t_dwLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    const int cchNeeded = static_cast<int>(str.size());
    if (cchBuffer == 0) {
        return cchNeeded;
    }
    if (cchBuffer < cchNeeded) {
        t_dwLastError = ERROR_INSUFFICIENT_BUFFER;
        return 0;
    }
    std::memcpy(pBuffer, str.data(), str.size() * sizeof(TChar));
    return cchNeeded;
}

bool IsSupportedCodePage(UINT uCodePage)
{
    return uCodePage == CP_ACP || uCodePage == CP_THREAD_ACP || uCodePage == CP_UTF8;
}

}  // namespace

extern "C" {

DWORD WINAPI GetLastError(void)
{
    return t_dwLastError;
}

UINT WINAPI GetACP(void)
{
    return CP_UTF8;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_dwLastError = dwErrCode;
}

BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName, LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/)
{
    std::string strPath;
    if (!NativePath(lpPathName, strPath)) {
        return FailWith(ERROR_PATH_NOT_FOUND);
    }
    if (::mkdir(strPath.c_str(), 0777) != 0) {
        return FailWith(errno == ENOENT ? ERROR_PATH_NOT_FOUND : Win32ErrorFromErrno(errno));
    }
    t_dwLastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI CopyFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName, BOOL bFailIfExists)
{
    std::string strFrom;
    std::string strTo;
    if (!NativePath(lpExistingFileName, strFrom) || !NativePath(lpNewFileName, strTo)) {
        return FailWith(ERROR_PATH_NOT_FOUND);
    }
    const int fdFrom = ::open(strFrom.c_str(), O_RDONLY | O_CLOEXEC);
    if (fdFrom < 0) {
        return FailWithErrno();
    }
    struct stat stFrom {};
    struct stat stTo {};
    if (::fstat(fdFrom, &stFrom) != 0 || !S_ISREG(stFrom.st_mode)) {
        const int nErrno = errno;
        ::close(fdFrom);
        return FailWith(S_ISREG(stFrom.st_mode) ? Win32ErrorFromErrno(nErrno) : ERROR_ACCESS_DENIED);
    }
    // Copying a file onto itself would truncate it before reading it.
    if (::stat(strTo.c_str(), &stTo) == 0 && stTo.st_dev == stFrom.st_dev && stTo.st_ino == stFrom.st_ino) {
        ::close(fdFrom);
        return FailWith(ERROR_ACCESS_DENIED);
    }
    const int nFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | (bFailIfExists ? O_EXCL : 0);
    const int fdTo = ::open(strTo.c_str(), nFlags, stFrom.st_mode & 0777);
    if (fdTo < 0) {
        const DWORD dwError = errno == EEXIST ? static_cast<DWORD>(ERROR_FILE_EXISTS) : Win32ErrorFromErrno(errno);
        ::close(fdFrom);
        return FailWith(dwError);
    }
    bool bOk = true;
    int nErrno = 0;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t cbRead = ::read(fdFrom, buffer, sizeof(buffer));
        if (cbRead < 0 && errno == EINTR) {
            continue;
        }
        if (cbRead <= 0) {
            bOk = cbRead == 0;
            nErrno = errno;
            break;
        }
        if (!compat::WriteAll(fdTo, buffer, static_cast<size_t>(cbRead))) {
            bOk = false;
            nErrno = errno;
            break;
        }
    }
    // The copy must be on disk before a caller deletes the original.
    if (bOk && ::fsync(fdTo) != 0) {
        bOk = false;
        nErrno = errno;
    }
    if (::close(fdTo) != 0 && bOk) {
        bOk = false;
        nErrno = errno;
    }
    ::close(fdFrom);
    if (!bOk) {
        ::unlink(strTo.c_str());
        return FailWith(Win32ErrorFromErrno(nErrno));
    }
    t_dwLastError = ERROR_SUCCESS;
    return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName)
{
    std::string strPath;
    if (!NativePath(lpFileName, strPath)) {
        return FailWith(ERROR_PATH_NOT_FOUND);
    }
    if (::unlink(strPath.c_str()) != 0) {
        return FailWithErrno();
    }
    t_dwLastError = ERROR_SUCCESS;
    return TRUE;
}

void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime)
{
    if (lpSystemTime == nullptr) {
        return;
    }
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tmLocal {};
    const time_t tNow = ts.tv_sec;
    ::localtime_r(&tNow, &tmLocal);
    lpSystemTime->wYear = static_cast<WORD>(tmLocal.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(tmLocal.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(tmLocal.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(tmLocal.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(tmLocal.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(tmLocal.tm_min);
    // A leap second reads as the 59th, as Windows never reports 60.
    lpSystemTime->wSecond = static_cast<WORD>(tmLocal.tm_sec > 59 ? 59 : tmLocal.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

DWORD WINAPI GetTickCount(void)
{
    struct timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ullMs = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ullMs);
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (!IsSupportedCodePage(CodePage) || lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 ||
        cchWideChar < 0 || (cchWideChar > 0 && lpWideCharStr == nullptr)) {
        t_dwLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    // With -1 the terminator is converted too and counts in the result.
    const size_t cb = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    WString strWide;
    if (!compat::Utf8ToUtf16(lpMultiByteStr, cb, strWide, (dwFlags & MB_ERR_INVALID_CHARS) != 0)) {
        t_dwLastError = ERROR_NO_UNICODE_TRANSLATION;
        return 0;
    }
    return HandOutConverted(strWide, lpWideCharStr, cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar, LPBOOL lpUsedDefaultChar)
{
    // As on Windows, UTF-8 takes no default character.
    const bool bDefaultArgs = lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr;
    if (!IsSupportedCodePage(CodePage) || (CodePage == CP_UTF8 && bDefaultArgs) || lpWideCharStr == nullptr ||
        cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 || (cbMultiByte > 0 && lpMultiByteStr == nullptr)) {
        t_dwLastError = ERROR_INVALID_PARAMETER;
        return 0;
    }
    const size_t cch = cchWideChar == -1 ? WStrLen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    std::string strNarrow;
    bool bUsedDefault = false;
    if (!compat::Utf16ToUtf8(lpWideCharStr, cch, strNarrow, true)) {
        if ((dwFlags & WC_ERR_INVALID_CHARS) != 0) {
            t_dwLastError = ERROR_NO_UNICODE_TRANSLATION;
            return 0;
        }
        compat::Utf16ToUtf8(lpWideCharStr, cch, strNarrow, false);
        bUsedDefault = true;
    }
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = bUsedDefault ? TRUE : FALSE;
    }
    return HandOutConverted(strNarrow, lpMultiByteStr, cbMultiByte);
}

}  // extern "C"

#endif  // _WIN32
