#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <climits>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace testing_support {

namespace {

fs::path PathOf(const std::string& strUtf8) { return fs::u8path(strUtf8); }

}  // namespace

void SetEnvVar(const std::string& strName, const std::string& strValue)
{
#ifdef _WIN32
    _putenv_s(strName.c_str(), strValue.c_str());
#else
    ::setenv(strName.c_str(), strValue.c_str(), 1);
#endif
}

void UnsetEnvVar(const std::string& strName)
{
#ifdef _WIN32
    _putenv_s(strName.c_str(), "");  // an empty value removes the variable
#else
    ::unsetenv(strName.c_str());
#endif
}

std::string MakeUniqueDir(const std::string& strBase, const std::string& strPrefix)
{
    static const char s_szChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::mt19937 random(device());
    std::uniform_int_distribution<size_t> pick(0, sizeof(s_szChars) - 2);
    for (int nTry = 0; nTry < 100; ++nTry) {
        std::string strPath = strBase + "/" + strPrefix;
        for (int i = 0; i < 6; ++i) {
            strPath += s_szChars[pick(random)];
        }
        std::error_code ec;
        if (fs::create_directory(PathOf(strPath), ec)) {
            return strPath;
        }
    }
    std::fprintf(stderr, "no scratch directory under %s\n", strBase.c_str());
    std::abort();
}

void RemoveTree(const std::string& strPath)
{
    std::error_code ec;
    fs::remove_all(PathOf(strPath), ec);
}

CTempDir::CTempDir()
{
    const char* pszBase = std::getenv("CALSTORE_TEST_TMP");
    std::string strBase;
    if (pszBase != nullptr && *pszBase != 0) {
        strBase = pszBase;
    } else {
        std::error_code ec;
        strBase = fs::temp_directory_path(ec).generic_u8string();
    }
    m_strPath = MakeUniqueDir(strBase, "case.");
}

CTempDir::~CTempDir() { RemoveTree(m_strPath); }

CScopedRoot::CScopedRoot(const std::string& strRoot)
{
    const char* pszPrevious = std::getenv("CALSTORE_ROOT");
    m_bHadPrevious = pszPrevious != nullptr;
    m_strPrevious = m_bHadPrevious ? pszPrevious : "";
    SetEnvVar("CALSTORE_ROOT", strRoot);
}

CScopedRoot::~CScopedRoot()
{
    if (m_bHadPrevious) {
        SetEnvVar("CALSTORE_ROOT", m_strPrevious);
    } else {
        UnsetEnvVar("CALSTORE_ROOT");
    }
}

WString Wide(const std::string& strUtf8)
{
    WString str;
    WStrFromUtf8(strUtf8.c_str(), str);
    return str;
}

std::string Narrow(const WCHAR* psz)
{
    std::string str;
    WStrToUtf8(psz != nullptr ? psz : WTEXT(""), str);
    return str;
}

bool FileExists(const std::string& strPath)
{
    std::error_code ec;
    return fs::exists(PathOf(strPath), ec);
}

bool ReadFile(const std::string& strPath, std::string& strContent)
{
    std::ifstream in(PathOf(strPath), std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream out;
    out << in.rdbuf();
    strContent = out.str();
    return true;
}

bool WriteFile(const std::string& strPath, const std::string& strContent)
{
    std::ofstream out(PathOf(strPath), std::ios::binary | std::ios::trunc);
    out << strContent;
    return static_cast<bool>(out);
}

long long FileSize(const std::string& strPath)
{
    std::error_code ec;
    const auto cb = fs::file_size(PathOf(strPath), ec);
    return ec ? -1 : static_cast<long long>(cb);
}

void MakeDirs(const std::string& strPath)
{
    std::error_code ec;
    fs::create_directories(PathOf(strPath), ec);
}

std::vector<std::string> ListDir(const std::string& strPath)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(PathOf(strPath), ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().u8string());
    }
    return names;
}

bool IsOpenInProcess(const std::string& strPath)
{
#ifdef _WIN32
    // Whoever holds the file (SQLite shares reading and writing, not deleting)
    // makes an open without any sharing fail.
    const HANDLE hFile = CreateFileW(PathOf(strPath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(hFile);
        return false;
    }
    return GetLastError() == ERROR_SHARING_VIOLATION;
#else
    char szResolved[PATH_MAX];
    if (::realpath(strPath.c_str(), szResolved) == nullptr) {
        return false;
    }
    for (const std::string& strFd : ListDir("/proc/self/fd")) {
        char szTarget[PATH_MAX];
        const std::string strLink = "/proc/self/fd/" + strFd;
        const ssize_t cch = ::readlink(strLink.c_str(), szTarget, sizeof(szTarget) - 1);
        if (cch > 0) {
            szTarget[cch] = 0;
            if (std::string(szTarget) == szResolved) {
                return true;
            }
        }
    }
    return false;
#endif
}

std::string RunSqliteShell(const std::string& strDbPath, const std::string& strScript, int* pnStatus)
{
    CTempDir dirScript;
    const std::string strScriptPath = dirScript.Join("script.sql");
    WriteFile(strScriptPath, strScript);
    std::string strOutput;
#ifdef _WIN32
    // cmd.exe runs the pipe's command: the whole line goes in one more pair of quotes.
    const std::string strCommand = "\"\"" + std::string(CALSTORE_SQLITE3_SHELL) + "\" -batch \"" + strDbPath +
                                   "\" < \"" + strScriptPath + "\" 2>&1\"";
    FILE* pPipe = ::_popen(strCommand.c_str(), "rb");
#else
    const std::string strCommand =
        std::string(CALSTORE_SQLITE3_SHELL) + " -batch '" + strDbPath + "' < '" + strScriptPath + "' 2>&1";
    FILE* pPipe = ::popen(strCommand.c_str(), "r");
#endif
    if (pPipe == nullptr) {
        if (pnStatus != nullptr) {
            *pnStatus = -1;
        }
        return strOutput;
    }
    char buffer[4096];
    size_t cbRead = 0;
    while ((cbRead = std::fread(buffer, 1, sizeof(buffer), pPipe)) > 0) {
        strOutput.append(buffer, cbRead);
    }
#ifdef _WIN32
    const int nStatus = ::_pclose(pPipe);
    if (pnStatus != nullptr) {
        *pnStatus = nStatus;
    }
    // The shell writes text mode line ends on Windows.
    std::string strUnix;
    for (size_t i = 0; i < strOutput.size(); ++i) {
        if (!(strOutput[i] == '\r' && i + 1 < strOutput.size() && strOutput[i + 1] == '\n')) {
            strUnix += strOutput[i];
        }
    }
    strOutput.swap(strUnix);
#else
    const int nStatus = ::pclose(pPipe);
    if (pnStatus != nullptr) {
        *pnStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
#endif
    return strOutput;
}

}  // namespace testing_support
