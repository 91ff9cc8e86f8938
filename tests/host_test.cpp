// The host utility stand-in: where the root directory is and where log lines go.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "host/CalendarUtil.h"

using namespace testing_support;

// CALSTORE_ROOT, made if missing, without trailing slashes.
TEST(HostRootDir, UsesCalstoreRoot)
{
    CTempDir dir;
    CScopedRoot root(dir.Join("数据 root/b//"));
    BSTR bstrRoot = nullptr;
    EXPECT_EQ(GetCalendarRootDir(&bstrRoot), S_OK);
    EXPECT_EQ(Narrow(bstrRoot), dir.Join("数据 root/b"));
    SysFreeString(bstrRoot);
    EXPECT_TRUE(FileExists(dir.Join("数据 root/b")));
    EXPECT_EQ(GetCalendarRootDir(nullptr), E_POINTER);
}

// Without a hook (the media tests read lines through one), lines go as UTF-8 to
// Calendar.log in the root of the moment, unless CALSTORE_LOG is "off".
TEST(HostLogger, LinesGoToTheRootsLogFile)
{
    CTempDir dir;
    UnsetEnvVar("CALSTORE_LOG");
    std::string strLog;
    for (const char* pszRoot : {"first", "second"}) {
        CScopedRoot root(dir.Join(pszRoot));
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, u"M", u"数 %s", Wide(pszRoot).c_str());
    }
    EXPECT_TRUE(ReadFile(dir.Join("first/Calendar.log"), strLog));
    // "YYYY-MM-DD hh:mm:ss.mmm", then the severity, the module and the text.
    EXPECT_GT(strLog.size(), 23u) << strLog;
    EXPECT_EQ(strLog.substr(4, 1) + strLog.substr(10, 1) + strLog.substr(19, 1), "- .") << strLog;
    EXPECT_EQ(strLog.substr(23), " 256 M: 数 first\n");
    EXPECT_TRUE(ReadFile(dir.Join("second/Calendar.log"), strLog));
    EXPECT_EQ(strLog.substr(23), " 256 M: 数 second\n");

    SetEnvVar("CALSTORE_LOG", "off");  // as the test run has it
    CScopedRoot root(dir.Join("quiet"));
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_ERROR, u"M", u"dropped");
    EXPECT_FALSE(FileExists(dir.Join("quiet/Calendar.log")));
}
