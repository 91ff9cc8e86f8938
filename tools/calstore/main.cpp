// calstore: opens (creating or repairing) an account's calendar database and shows
// what it holds. Until the full host exists, this is the project's main job.
//
//   calstore [--root DIR] [--account UIN]
//
// Without --root it works in a new scratch directory under $TMPDIR.
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "account/UserDataDir.h"
#include "media/VxCalStoreMedia.h"

namespace {

std::string Narrow(const WCHAR* psz)
{
    std::string str;
    WStrToUtf8(psz != nullptr ? psz : WTEXT(""), str);
    return str;
}

int Usage()
{
    std::fprintf(stderr, "usage: calstore [--root DIR] [--account UIN]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string strRoot;
    DWORD dwUIN = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--root") == 0 && i + 1 < argc) {
            strRoot = argv[++i];
        } else if (std::strcmp(argv[i], "--account") == 0 && i + 1 < argc) {
            char* pszEnd = nullptr;
            const unsigned long ulValue = std::strtoul(argv[++i], &pszEnd, 10);
            if (*pszEnd != 0 || ulValue > 0xFFFFFFFFul) {
                std::fprintf(stderr, "calstore: bad account number '%s'\n", argv[i]);
                return 2;
            }
            dwUIN = static_cast<DWORD>(ulValue);
        } else {
            return Usage();
        }
    }
    if (strRoot.empty()) {
        const char* pszTmp = std::getenv("TMPDIR");
        std::string strTemplate = std::string(pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp") + "/calstore.XXXXXX";
        if (::mkdtemp(&strTemplate[0]) == nullptr) {
            std::perror("calstore: cannot make a scratch directory");
            return 1;
        }
        strRoot = strTemplate;
    }
    ::setenv("CALSTORE_ROOT", strRoot.c_str(), 1);

    // The account directory is made by whoever makes the media, as the store object does.
    WString strDir;
    GetUserDataDir(dwUIN, strDir);
    CreateDirectoryW(strDir.c_str(), nullptr);
    CVxCalStoreMedia media;
    const HRESULT hr = media.Open(dwUIN, WTEXT("CalData.db"), FALSE);
    const WString strDbPath = strDir + WTEXT("CalData.db");
    if (FAILED(hr)) {
        std::fprintf(stderr, "calstore: cannot open %s (0x%08X)\n", Narrow(strDbPath.c_str()).c_str(),
                     static_cast<unsigned>(hr));
        return 1;
    }

    std::printf("Account %u database: %s\n\n", static_cast<unsigned>(dwUIN), Narrow(strDbPath.c_str()).c_str());
    try {
        CppSQLite3DB db;
        db.open(strDbPath.c_str());
        CppSQLite3Query tables =
            db.execQuery(WTEXT("select name, sql from sqlite_master where type='table' order by rowid"));
        while (!tables.eof()) {
            const WString strName = tables.fieldValue(0) != nullptr ? tables.fieldValue(0) : WTEXT("");
            const WString strCount =
                WStrFormatString(WTEXT("%d"), db.execScalar((WTEXT("select count(*) from ") + strName).c_str()));
            std::printf("%s (%s rows)\n  %s\n", Narrow(strName.c_str()).c_str(), Narrow(strCount.c_str()).c_str(),
                        Narrow(tables.fieldValue(1)).c_str());
            tables.nextRow();
        }
        CppSQLite3Query version = db.execQuery(WTEXT("select CalTblVer, EventTblVer, Ext1, Ext2 from Version"));
        if (!version.eof()) {
            std::printf("\nFormat version: %s|%s|%s|%s\n", Narrow(version.fieldValue(0)).c_str(),
                        Narrow(version.fieldValue(1)).c_str(), Narrow(version.fieldValue(2)).c_str(),
                        Narrow(version.fieldValue(3)).c_str());
        }
    } catch (const CppSQLite3Exception& e) {
        std::fprintf(stderr, "calstore: %s\n", Narrow(e.errorMessage()).c_str());
        return 1;
    }
    return 0;
}
