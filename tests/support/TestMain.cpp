// Runs the tests inside one scratch root: every file the component writes, its log
// included, lands under a directory that is removed at the end.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "TestSupport.h"

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    std::error_code ec;  // the system's scratch directory: TMPDIR where it is set
    const std::string strScratch =
        testing_support::MakeUniqueDir(std::filesystem::temp_directory_path(ec).generic_u8string(), "calstore-test.");
    testing_support::SetEnvVar("CALSTORE_TEST_TMP", strScratch);
    testing_support::SetEnvVar("CALSTORE_ROOT", strScratch + "/root");
    testing_support::SetEnvVar("CALSTORE_LOG", "off");
    testing_support::SetEnvVar("CALSTORE_REGISTRY", strScratch + "/registry.reg");
    const int nResult = RUN_ALL_TESTS();
    testing_support::RemoveTree(strScratch);
    return nResult;
}
