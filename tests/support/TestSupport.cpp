#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace testing_support {

static fs::path PathOf(const std::string& strUtf8) { return fs::u8path(strUtf8); }

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
    std::mt19937 gen(std::random_device{}());
    for (int nTry = 0; nTry < 100; ++nTry) {
        const std::string strPath = strBase + "/" + strPrefix + std::to_string(gen() % 1000000000);
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
    std::error_code ec;
    m_strPath = MakeUniqueDir(pszBase != nullptr && *pszBase != 0 ? std::string(pszBase)
                                                                  : fs::temp_directory_path(ec).generic_u8string(),
                              "case.");
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
    m_bHadPrevious ? SetEnvVar("CALSTORE_ROOT", m_strPrevious) : UnsetEnvVar("CALSTORE_ROOT");
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
    strContent.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return static_cast<bool>(in);
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
    std::error_code ec;
    const fs::path resolved = fs::canonical(PathOf(strPath), ec);
    if (ec) {
        return false;
    }
    for (const std::string& strFd : ListDir("/proc/self/fd")) {
        if (fs::read_symlink("/proc/self/fd/" + strFd, ec) == resolved) {
            return true;
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
    int nIgnored = 0;
    int& nStatus = pnStatus != nullptr ? *pnStatus : nIgnored;
#ifdef _WIN32
    // cmd.exe runs the pipe's command: the whole line goes in one more pair of quotes.
    FILE* pPipe = ::_popen(("\"\"" + std::string(CALSTORE_SQLITE3_SHELL) + "\" -batch \"" + strDbPath + "\" < \"" +
                            strScriptPath + "\" 2>&1\"")
                               .c_str(),
                           "rb");
#else
    FILE* pPipe = ::popen(
        (std::string(CALSTORE_SQLITE3_SHELL) + " -batch '" + strDbPath + "' < '" + strScriptPath + "' 2>&1").c_str(),
        "r");
#endif
    std::string strOutput;
    if (pPipe == nullptr) {
        nStatus = -1;
        return strOutput;
    }
    char buffer[4096];
    for (size_t cbRead = 0; (cbRead = std::fread(buffer, 1, sizeof(buffer), pPipe)) > 0;) {
        strOutput.append(buffer, cbRead);
    }
#ifdef _WIN32
    nStatus = ::_pclose(pPipe);
    // The shell writes text mode line ends on Windows.
    for (size_t nPos = 0; (nPos = strOutput.find("\r\n", nPos)) != std::string::npos;) {
        strOutput.erase(nPos, 1);
    }
#else
    nStatus = ::pclose(pPipe);
    nStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
#endif
    return strOutput;
}

}  // namespace testing_support
