// Each step of replacing the settings file (create, write, flush, rename the
// temporary file) fails in turn, for every setter: E_FAIL, the old file as it was,
// and no temporary file behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "config/IniFile.h"
#include "config/VxCalConfigMedia.h"

using namespace testing_support;
using IniFile::EWriteStep;

namespace {

const char s_szOldFile[] = " [sync]\r\n interval=300\r\n name=work\r\n";

struct CSetter {
    const char* pszName;
    std::function<HRESULT(CVxCalConfigMedia&)> call;
};

const CSetter s_setters[] = {
    {"change a string", [](CVxCalConfigMedia& m) { return m.AddString(WTEXT("sync"), WTEXT("name"), WTEXT("home"), 0); }},
    {"add a string", [](CVxCalConfigMedia& m) { return m.AddString(WTEXT("sync"), WTEXT("new"), WTEXT("x"), 0); }},
    {"add a section", [](CVxCalConfigMedia& m) { return m.AddString(WTEXT("view"), WTEXT("mode"), WTEXT("week"), 0); }},
    {"change a number", [](CVxCalConfigMedia& m) { return m.AddDWord(WTEXT("sync"), WTEXT("interval"), 60, 0); }},
    {"delete an item", [](CVxCalConfigMedia& m) { return m.DeleteConfigItem(WTEXT("sync"), WTEXT("name")); }},
};

class IniFaultTest : public ::testing::Test {
protected:
    IniFaultTest() { MakeDirs(m_strAccountDir); }
    ~IniFaultTest() override { IniFile::SetWriteStepHook(nullptr, nullptr); }

    // Fails step *pContext (-1: none).
    static bool Allow(void* pContext, EWriteStep eStep) { return int(eStep) != *static_cast<int*>(pContext); }

    // One setter with one step failing; returns the setter's result.
    HRESULT Run(const CSetter& setter, int nFailStep)
    {
        EXPECT_TRUE(WriteFile(m_strIniPath, s_szOldFile));
        CVxCalConfigMedia media;
        EXPECT_EQ(S_OK, media.Initialize(42));
        IniFile::SetWriteStepHook(&IniFaultTest::Allow, &nFailStep);
        const HRESULT hr = setter.call(media);
        IniFile::SetWriteStepHook(nullptr, nullptr);
        return hr;
    }

    std::string Bytes()
    {
        std::string strContent;
        EXPECT_TRUE(ReadFile(m_strIniPath, strContent));
        return strContent;
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    const std::string m_strAccountDir = m_dir.Join("42"), m_strIniPath = m_strAccountDir + "/CalendarConfig.ini";
};

TEST_F(IniFaultTest, AFailureAtAnyStepOfTheRewriteKeepsTheOldFile)
{
    const char* const steps[] = {"create", "write", "flush", "rename"};
    int nPoints = 0;
    for (const CSetter& setter : s_setters) {
        SCOPED_TRACE(setter.pszName);
        ASSERT_EQ(S_OK, Run(setter, -1));
        EXPECT_NE(s_szOldFile, Bytes());
        for (int nStep = 0; nStep < 4; ++nStep) {
            SCOPED_TRACE(steps[nStep]);
            EXPECT_EQ(E_FAIL, Run(setter, nStep));
            EXPECT_EQ(s_szOldFile, Bytes());
            EXPECT_EQ(std::vector<std::string>{"CalendarConfig.ini"}, ListDir(m_strAccountDir))
                << "a temporary file was left behind";
            ++nPoints;
        }
    }
    std::printf("fault injection: settings file: %d points\n", nPoints);
}

}  // namespace
