#include "TestSupport.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <ftw.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

int RemoveEntry(const char* pszPath, const struct stat*, int, struct FTW*) { return ::remove(pszPath); }

void RemoveTree(const std::string& strPath) { ::nftw(strPath.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS); }

}  // namespace

CTempDir::CTempDir()
{
    const char* pszBase = std::getenv("CALSTORE_TEST_TMP");
    std::string strTemplate = std::string(pszBase != nullptr ? pszBase : "/tmp") + "/case.XXXXXX";
    if (::mkdtemp(&strTemplate[0]) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    m_strPath = strTemplate;
}

CTempDir::~CTempDir() { RemoveTree(m_strPath); }

CScopedRoot::CScopedRoot(const std::string& strRoot)
{
    const char* pszPrevious = std::getenv("CALSTORE_ROOT");
    m_bHadPrevious = pszPrevious != nullptr;
    m_strPrevious = m_bHadPrevious ? pszPrevious : "";
    ::setenv("CALSTORE_ROOT", strRoot.c_str(), 1);
}

CScopedRoot::~CScopedRoot()
{
    if (m_bHadPrevious) {
        ::setenv("CALSTORE_ROOT", m_strPrevious.c_str(), 1);
    } else {
        ::unsetenv("CALSTORE_ROOT");
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
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0;
}

bool ReadFile(const std::string& strPath, std::string& strContent)
{
    std::ifstream in(strPath, std::ios::binary);
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
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out << strContent;
    return static_cast<bool>(out);
}

long long FileSize(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

void MakeDirs(const std::string& strPath)
{
    for (size_t nPos = 1; nPos <= strPath.size(); ++nPos) {
        if (nPos == strPath.size() || strPath[nPos] == '/') {
            ::mkdir(strPath.substr(0, nPos).c_str(), 0777);
        }
    }
}

std::vector<std::string> ListDir(const std::string& strPath)
{
    std::vector<std::string> names;
    if (DIR* pDir = ::opendir(strPath.c_str())) {
        while (const dirent* pEntry = ::readdir(pDir)) {
            const std::string strName = pEntry->d_name;
            if (strName != "." && strName != "..") {
                names.push_back(strName);
            }
        }
        ::closedir(pDir);
    }
    return names;
}

bool IsOpenInProcess(const std::string& strPath)
{
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
}

std::string RunSqliteShell(const std::string& strDbPath, const std::string& strScript, int* pnStatus)
{
    CTempDir dirScript;
    const std::string strScriptPath = dirScript.Join("script.sql");
    WriteFile(strScriptPath, strScript);
    const std::string strCommand =
        std::string(CALSTORE_SQLITE3_SHELL) + " -batch '" + strDbPath + "' < '" + strScriptPath + "' 2>&1";
    std::string strOutput;
    FILE* pPipe = ::popen(strCommand.c_str(), "r");
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
    const int nStatus = ::pclose(pPipe);
    if (pnStatus != nullptr) {
        *pnStatus = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
    return strOutput;
}

}  // namespace testing_support
