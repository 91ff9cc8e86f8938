// Runs the tests inside one scratch root: every file the component writes, its log
// included, lands under a directory that is removed at the end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ftw.h>
#include <string>
#include <unistd.h>

namespace {

int RemoveEntry(const char* pszPath, const struct stat*, int, struct FTW*) { return ::remove(pszPath); }

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const char* pszTmp = std::getenv("TMPDIR");
    std::string strScratch = std::string(pszTmp != nullptr && *pszTmp != 0 ? pszTmp : "/tmp") + "/calstore-test.XXXXXX";
    if (::mkdtemp(&strScratch[0]) == nullptr) {
        return 1;
    }
    ::setenv("CALSTORE_TEST_TMP", strScratch.c_str(), 1);
    ::setenv("CALSTORE_ROOT", (strScratch + "/root").c_str(), 1);
    ::setenv("CALSTORE_LOG", "off", 1);
    ::setenv("CALSTORE_REGISTRY", (strScratch + "/registry.reg").c_str(), 1);
    const int nResult = RUN_ALL_TESTS();
    ::nftw(strScratch.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    return nResult;
}
