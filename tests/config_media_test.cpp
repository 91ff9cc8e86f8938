// The configuration media on its own: where its file is, and what it refuses before
// anything is written (round trips: store_config_test).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "config/VxCalConfigMedia.h"

using namespace testing_support;

namespace {

class ConfigMediaTest : public ::testing::Test {
protected:
    ConfigMediaTest() { MakeDirs(m_strAccountDir); }

    std::string Bytes()
    {
        std::string strContent;
        EXPECT_TRUE(ReadFile(m_strIniPath, strContent));
        return strContent;
    }
    // Both reads fail with E_FAIL: GetString sets the BSTR to null, GetDWord leaves
    // the number as it was.
    void ExpectNoValue(const WString& strNameSpace, const WString& strItem)
    {
        SCOPED_TRACE(Narrow(strNameSpace) + "/" + Narrow(strItem));
        BSTR bsMark = SysAllocString(WTEXT("mark"));
        BSTR bsValue = bsMark;
        EXPECT_EQ(m_media.GetString(strNameSpace, strItem, &bsValue), E_FAIL);
        EXPECT_EQ(bsValue, nullptr);
        SysFreeString(bsMark);
        DWORD dwValue = 0x5A5A5A5A;
        EXPECT_EQ(m_media.GetDWord(strNameSpace, strItem, &dwValue), E_FAIL);
        EXPECT_EQ(dwValue, 0x5A5A5A5Au);
    }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    const std::string m_strAccountDir = m_dir.Join("-1"), m_strIniPath = m_strAccountDir + "/CalendarConfig.ini";
    CVxCalConfigMedia m_media;
};

TEST_F(ConfigMediaTest, InitializeNamesTheAccountSignedAndCreatesOnlyAMissingFile)
{
    ASSERT_EQ(m_media.Initialize(4294967295u), S_OK);
    EXPECT_EQ(Bytes(), "");

    const std::string strOld = "[N]\nk=v\n# kept\n";
    ASSERT_TRUE(WriteFile(m_strIniPath, strOld));
    ASSERT_EQ(m_media.Initialize(4294967295u), S_OK);
    EXPECT_EQ(Bytes(), strOld);
    EXPECT_EQ(ListDir(m_strAccountDir), std::vector<std::string>{"CalendarConfig.ini"});

    // Once the file is gone, every call fails and none makes it again.
    ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(m_strIniPath)));
    EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("s"), WTEXT("v"), 0), E_FAIL);
    EXPECT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("d"), 5, 0), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("k")), E_FAIL);
    ExpectNoValue(WTEXT("N"), WTEXT("k"));
    EXPECT_TRUE(ListDir(m_strAccountDir).empty());
}

// Empty, missing or undecodable values fail, and write nothing (null out pointers
// and missing items to delete: store_config_test).
TEST_F(ConfigMediaTest, FailedReadsAndDeletesWriteNothing)
{
    const std::string strOld = "[N]\na=1\nempty=\nk=caf\xE9\ncut=\xE6\x97\n";  // LF line ends: any rewrite would show
    ASSERT_TRUE(WriteFile(m_strIniPath, strOld));
    ASSERT_EQ(m_media.Initialize(4294967295u), S_OK);
    ExpectNoValue(WTEXT("N"), WTEXT("empty"));
    ExpectNoValue(WTEXT("N"), WTEXT("A"));
#ifndef _WIN32  // in the ANSI code page of Windows the byte is a letter, and the value decodes
    ExpectNoValue(WTEXT("N"), WTEXT("k"));
    ExpectNoValue(WTEXT("N"), WTEXT("cut"));
#endif
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("Other"), WTEXT("a")), E_FAIL);
    EXPECT_EQ(Bytes(), strOld);
}

// Text without a narrow form, and names and values that the file could not give
// back as written, are refused before anything is written.
TEST_F(ConfigMediaTest, TextTheFileCannotGiveBackIsRefused)
{
    ASSERT_EQ(m_media.Initialize(4294967295u), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    const std::string strBefore = Bytes();
    // A lone surrogate at either end of either half's range has no narrow form.
    for (const WCHAR chUnit : {WCHAR(0xD800), WCHAR(0xDBFF), WCHAR(0xDC00), WCHAR(0xDFFF)}) {
        const WString strBad = WTEXT("a") + WString(1, chUnit) + WTEXT("b");
        ExpectNoValue(WTEXT("N"), strBad);
        EXPECT_EQ(m_media.AddString(strBad, WTEXT("a"), WTEXT("2"), 0), E_FAIL);
        EXPECT_EQ(m_media.AddString(WTEXT("N"), strBad, WTEXT("2"), 0), E_FAIL);
        EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), strBad, 0), E_FAIL);
    }
    // The section line itself is no item: the namespace keeps its items.
    for (const WString& strItem :
         {WString(WTEXT("")), WString(WTEXT("a=b")), WString(WTEXT("a[b")), WString(WTEXT("#a")),
          WString(WTEXT(";a")), WString(WTEXT(" a")), WString(WTEXT("a\nb")), WString(WTEXT("a\0x"), 3)}) {
        EXPECT_EQ(m_media.AddString(WTEXT("N"), strItem, WTEXT("2"), 0), E_FAIL) << Narrow(strItem);
        EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), strItem), E_FAIL) << Narrow(strItem);
    }
    for (const WString& strNameSpace : {WString(WTEXT("N]")), WString(WTEXT("N=1")), WString(WTEXT("N\r"))}) {
        EXPECT_EQ(m_media.AddString(strNameSpace, WTEXT("a"), WTEXT("2"), 0), E_FAIL) << Narrow(strNameSpace);
    }
    for (const WString& strValue : {WString(WTEXT("2 ")), WString(WTEXT("2\t")), WString(WTEXT("2\n3"))}) {
        EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), strValue, 0), E_FAIL) << Narrow(strValue);
    }
    EXPECT_EQ(Bytes(), strBefore);
    EXPECT_EQ(ListDir(m_strAccountDir), std::vector<std::string>{"CalendarConfig.ini"});
}

}  // namespace
