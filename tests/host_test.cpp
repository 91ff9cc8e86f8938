// The host utility stand-in: where the root directory is and how log lines come out.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "TestSupport.h"
#include "host/CalendarUtil.h"

using namespace testing_support;

namespace {

// Sets or clears one environment variable and puts the old state back afterwards.
class CScopedEnv {
public:
    explicit CScopedEnv(const char* pszName) : m_strName(pszName)
    {
        const char* pszValue = std::getenv(pszName);
        m_bHad = pszValue != nullptr;
        m_strValue = m_bHad ? pszValue : "";
    }
    ~CScopedEnv()
    {
        if (m_bHad) {
            ::setenv(m_strName.c_str(), m_strValue.c_str(), 1);
        } else {
            ::unsetenv(m_strName.c_str());
        }
    }
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

    void Set(const std::string& strValue) { ::setenv(m_strName.c_str(), strValue.c_str(), 1); }
    void Unset() { ::unsetenv(m_strName.c_str()); }

private:
    std::string m_strName;
    std::string m_strValue;
    bool m_bHad = false;
};

bool IsDirectory(const std::string& strPath)
{
    struct stat st {};
    return ::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

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

// "YYYY-MM-DD hh:mm:ss.mmm": digits where the pattern has '9', the rest as written.
// (std::regex trips GCC warnings in the sanitizer build.)
bool IsTimeStamp(const std::string& strText)
{
    const std::string strPattern = "9999-99-99 99:99:99.999";
    if (strText.size() != strPattern.size()) {
        return false;
    }
    for (size_t i = 0; i < strText.size(); ++i) {
        const bool bOk = strPattern[i] == '9' ? (strText[i] >= '0' && strText[i] <= '9') : strText[i] == strPattern[i];
        if (!bOk) {
            return false;
        }
    }
    return true;
}

const WCHAR kSaveFormat[] = u"SaveCalEvent -进入了更新流程 ,CalID = %d, EventID ＝ %d\r\n";
const char kSaveText[] = "SaveCalEvent -进入了更新流程 ,CalID = 7, EventID ＝ -3";

struct SLogRecord {
    void* pContext;
    ENUM_LOG_SERVERITY eSeverity;
    std::string strModule;
    std::string strText;
};

void RecordLine(void* pContext, ENUM_LOG_SERVERITY eSeverity, LPCWSTR pszModule, LPCWSTR pszText)
{
    static_cast<std::vector<SLogRecord>*>(pContext)->push_back({pContext, eSeverity, Narrow(pszModule), Narrow(pszText)});
}

// The logger's settings are process-wide: every case leaves them as the test main set them.
class HostLogger : public ::testing::Test {
protected:
    void TearDown() override
    {
        CCalendarLogger::SetLogHook(nullptr, nullptr);
        ::setenv("CALSTORE_LOG", "off", 1);
    }
};

}  // namespace

TEST(HostRootDir, UsesCalstoreRootAndCreatesIt)
{
    CTempDir dir;
    {
        CScopedRoot root(dir.Join("a/b/c/"));
        EXPECT_EQ(RootDir(), dir.Join("a/b/c"));
        EXPECT_TRUE(IsDirectory(dir.Join("a/b/c")));
        // A second call finds the directory already there.
        EXPECT_EQ(RootDir(), dir.Join("a/b/c"));
    }
    {
        CScopedRoot root(dir.Join("数据 root//"));
        EXPECT_EQ(RootDir(), dir.Join("数据 root"));
        EXPECT_TRUE(IsDirectory(dir.Join("数据 root")));
    }
    EXPECT_EQ(GetCalendarRootDir(nullptr), E_POINTER);
}

TEST(HostRootDir, FallsBackToUserDataDirectories)
{
    CTempDir dir;
    CScopedEnv envRoot("CALSTORE_ROOT");
    CScopedEnv envDataHome("XDG_DATA_HOME");
    CScopedEnv envHome("HOME");
    envRoot.Unset();
    envHome.Set(dir.Join("home"));

    envDataHome.Set(dir.Join("xdg"));
    EXPECT_EQ(RootDir(), dir.Join("xdg/Brellin"));
    EXPECT_TRUE(IsDirectory(dir.Join("xdg/Brellin")));

    // A relative XDG_DATA_HOME is invalid and must be ignored, as must an empty root.
    // Work from the temporary directory so that a wrong resolution stays inside it.
    char szCwd[4096];
    ASSERT_NE(::getcwd(szCwd, sizeof(szCwd)), nullptr);
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    envRoot.Set("");
    envDataHome.Set("relative/xdg");
    EXPECT_EQ(RootDir(), dir.Join("home/.local/share/Brellin"));
    EXPECT_FALSE(FileExists(dir.Join("relative")));
    ASSERT_EQ(::chdir(szCwd), 0);
    envDataHome.Unset();
    EXPECT_EQ(RootDir(), dir.Join("home/.local/share/Brellin"));
    EXPECT_TRUE(IsDirectory(dir.Join("home/.local/share/Brellin")));

    // Nothing to go by: a failure, and nothing for the caller to free.
    envHome.Unset();
    BSTR bstrRoot = SysAllocString(u"stale");
    BSTR bstrStale = bstrRoot;
    EXPECT_TRUE(FAILED(GetCalendarRootDir(&bstrRoot)));
    EXPECT_EQ(bstrRoot, nullptr);
    SysFreeString(bstrStale);
}

TEST_F(HostLogger, HookReceivesFormattedLine)
{
    CTempDir dir;
    CScopedRoot root(dir.Path());
    CScopedEnv envLog("CALSTORE_LOG");
    envLog.Unset();

    std::vector<SLogRecord> records;
    CCalendarLogger::SetLogHook(RecordLine, &records);
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_WARNING, u"VxCalStoreMedia", kSaveFormat, 7, -3);
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_ERROR, nullptr, u"%s=%u\n", u"batch", 2u);

    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].pContext, &records);
    EXPECT_EQ(records[0].eSeverity, EN_LOG_SERVERITY_WARNING);
    EXPECT_EQ(records[0].strModule, "VxCalStoreMedia");
    EXPECT_EQ(records[0].strText, kSaveText);
    EXPECT_EQ(records[1].eSeverity, EN_LOG_SERVERITY_ERROR);
    EXPECT_EQ(records[1].strModule, "");
    EXPECT_EQ(records[1].strText, "batch=2");
    // Hooked lines go nowhere else.
    EXPECT_FALSE(FileExists(dir.Join("Calendar.log")));

    CCalendarLogger::SetLogHook(nullptr, nullptr);
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, u"M", u"after");
    EXPECT_EQ(records.size(), 2u);
}

TEST_F(HostLogger, WritesUtf8LinesToRootLogFile)
{
    CTempDir dir;
    CScopedEnv envLog("CALSTORE_LOG");
    envLog.Unset();
    std::string strLog;
    {
        CScopedRoot root(dir.Join("first/root"));
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, u"VxCalStoreMedia", kSaveFormat, 7, -3);
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_DEBUG, u"Batch", u"second");
        ASSERT_TRUE(ReadFile(dir.Join("first/root/Calendar.log"), strLog));
    }
    const std::string strFirst = std::string(" 256 VxCalStoreMedia: ") + kSaveText + "\n";
    const std::string strSecond = " 4096 Batch: second\n";
    ASSERT_EQ(strLog.size(), 23 + strFirst.size() + 23 + strSecond.size()) << strLog;
    EXPECT_TRUE(IsTimeStamp(strLog.substr(0, 23))) << strLog;
    EXPECT_EQ(strLog.substr(23, strFirst.size()), strFirst);
    const size_t nSecond = 23 + strFirst.size();
    EXPECT_TRUE(IsTimeStamp(strLog.substr(nSecond, 23))) << strLog;
    EXPECT_EQ(strLog.substr(nSecond + 23), strSecond);

    // A new root gets its own log; the old one is left alone.
    {
        CScopedRoot root(dir.Join("second"));
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, u"M", u"moved");
        std::string strMoved;
        ASSERT_TRUE(ReadFile(dir.Join("second/Calendar.log"), strMoved));
        ASSERT_GT(strMoved.size(), 23u);
        EXPECT_TRUE(IsTimeStamp(strMoved.substr(0, 23))) << strMoved;
        EXPECT_EQ(strMoved.substr(23), " 256 M: moved\n");

        envLog.Set("off");
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, u"M", u"silenced");
        EXPECT_EQ(FileSize(dir.Join("second/Calendar.log")), static_cast<long long>(strMoved.size()));
    }
    EXPECT_EQ(FileSize(dir.Join("first/root/Calendar.log")), static_cast<long long>(strLog.size()));

    CScopedRoot root(dir.Join("quiet"));
    CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_ERROR, u"M", u"dropped");
    EXPECT_FALSE(FileExists(dir.Join("quiet/Calendar.log")));
}
