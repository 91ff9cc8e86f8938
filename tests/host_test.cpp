// The host utility stand-in: where the root directory is and where log lines go.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "TestSupport.h"
#include "host/CalendarUtil.h"

using namespace testing_support;

namespace {

// Sets one environment variable (nullptr: clears it) and puts the old state back afterwards.
class CScopedEnv {
public:
    CScopedEnv(const char* pszName, const char* pszValue) : m_strName(pszName), m_bHad(std::getenv(pszName) != nullptr)
    {
        m_strOld = m_bHad ? std::getenv(pszName) : "";
        Set(pszValue);
    }
    ~CScopedEnv() { Set(m_bHad ? m_strOld.c_str() : nullptr); }
    void Set(const char* pszValue) { pszValue != nullptr ? SetEnvVar(m_strName, pszValue) : UnsetEnvVar(m_strName); }

private:
    std::string m_strName, m_strOld;
    bool m_bHad;
};

// The root directory as the host reports it, or "<failed>".
std::string RootDir()
{
    BSTR bstrRoot = nullptr;
    if (FAILED(GetCalendarRootDir(&bstrRoot)) || bstrRoot == nullptr) {
        return "<failed>";
    }
    EXPECT_EQ(SysStringLen(bstrRoot), WStrLen(bstrRoot));
    const std::string strRoot = Narrow(bstrRoot);
    SysFreeString(bstrRoot);
    return strRoot;
}

}  // namespace

// CALSTORE_ROOT (made if missing, without trailing slashes), else an absolute
// XDG_DATA_HOME, else HOME; with none of them, a failure and nothing to free.
TEST(HostRootDir, UsesCalstoreRootElseUserDataDirectories)
{
    CTempDir dir;
    CScopedEnv envRoot("CALSTORE_ROOT", (dir.Join("数据 root/b//")).c_str());
    EXPECT_EQ(RootDir(), dir.Join("数据 root/b"));
    EXPECT_TRUE(FileExists(dir.Join("数据 root/b")));
    EXPECT_EQ(RootDir(), dir.Join("数据 root/b"));
    EXPECT_EQ(GetCalendarRootDir(nullptr), E_POINTER);

    CScopedEnv envHome("HOME", dir.Join("home").c_str());
    CScopedEnv envDataHome("XDG_DATA_HOME", dir.Join("xdg").c_str());
    envRoot.Set(nullptr);
    EXPECT_EQ(RootDir(), dir.Join("xdg/Brellin"));
    EXPECT_TRUE(FileExists(dir.Join("xdg/Brellin")));
    // A relative XDG_DATA_HOME is ignored, as is an empty root; from the scratch
    // directory, a wrong resolution stays inside it.
    char szCwd[4096];
    ASSERT_NE(::getcwd(szCwd, sizeof(szCwd)), nullptr);
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    envRoot.Set("");
    envDataHome.Set("relative/xdg");
    EXPECT_EQ(RootDir(), dir.Join("home/.local/share/Brellin"));
    EXPECT_FALSE(FileExists(dir.Join("relative")));
    ASSERT_EQ(::chdir(szCwd), 0);
    EXPECT_TRUE(FileExists(dir.Join("home/.local/share/Brellin")));

    envHome.Set(nullptr);
    envDataHome.Set(nullptr);
    BSTR bstrRoot = SysAllocString(u"stale");
    BSTR bstrStale = bstrRoot;
    EXPECT_TRUE(FAILED(GetCalendarRootDir(&bstrRoot)));
    EXPECT_EQ(bstrRoot, nullptr);
    SysFreeString(bstrStale);
}

// Without a hook (the media tests read lines through one), lines go as UTF-8 to
// Calendar.log in the root of the moment, unless CALSTORE_LOG is "off".
TEST(HostLogger, LinesGoToTheRootsLogFile)
{
    CTempDir dir;
    CScopedEnv envLog("CALSTORE_LOG", nullptr);
    std::string strLog;
    for (const char* pszRoot : {"first", "second"}) {
        CScopedRoot root(dir.Join(pszRoot));
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, u"M", u"数 %s", Wide(pszRoot).c_str());
    }
    ASSERT_TRUE(ReadFile(dir.Join("first/Calendar.log"), strLog));
    // "YYYY-MM-DD hh:mm:ss.mmm", then the severity, the module and the text.
    ASSERT_GT(strLog.size(), 23u) << strLog;
    EXPECT_EQ(strLog.substr(4, 1) + strLog.substr(10, 1) + strLog.substr(19, 1), "- .") << strLog;
    EXPECT_EQ(strLog.substr(23), " 256 M: 数 first\n");
    ASSERT_TRUE(ReadFile(dir.Join("second/Calendar.log"), strLog));
    EXPECT_EQ(strLog.substr(23), " 256 M: 数 second\n");

    envLog.Set("off");
    CScopedRoot root(dir.Join("quiet"));
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_ERROR, u"M", u"dropped");
    EXPECT_FALSE(FileExists(dir.Join("quiet/Calendar.log")));
}
