// The configuration media: settings of one account in <root>/<account>/CalendarConfig.ini,
// strings and numbers in namespaces, and E_FAIL for every failure. Every case has
// its own scratch root.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "config/VxCalConfigMedia.h"

using namespace testing_support;

namespace {

using Names = std::vector<std::string>;

// A path as the tests spell it: Windows joins the account folder with '\\'.
std::string Slashed(std::string strPath)
{
    std::replace(strPath.begin(), strPath.end(), '\\', '/');
    return strPath;
}

class ConfigMediaTest : public ::testing::Test {
protected:
    ConfigMediaTest() { MakeDirs(m_strAccountDir); }

    void Init() { ASSERT_EQ(m_media.Initialize(42), S_OK); }

    std::string Bytes(const std::string& strPath = std::string())
    {
        std::string strContent;
        EXPECT_TRUE(ReadFile(strPath.empty() ? m_strIniPath : strPath, strContent));
        return strContent;
    }

    // The text GetString returns, as UTF-8.
    std::string GetString(const WString& strNameSpace, const WString& strItem)
    {
        BSTR bsValue = nullptr;
        EXPECT_EQ(m_media.GetString(strNameSpace, strItem, &bsValue), S_OK);
        const std::string strValue = bsValue != nullptr ? Narrow(WString(bsValue, SysStringLen(bsValue))) : "";
        SysFreeString(bsValue);
        return strValue;
    }

    DWORD GetDWord(const WString& strNameSpace, const WString& strItem)
    {
        DWORD dwValue = 0x5A5A5A5A;
        EXPECT_EQ(m_media.GetDWord(strNameSpace, strItem, &dwValue), S_OK);
        return dwValue;
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
    const std::string m_strAccountDir = m_dir.Join("42"), m_strIniPath = m_strAccountDir + "/CalendarConfig.ini";
    CVxCalConfigMedia m_media;
};

TEST_F(ConfigMediaTest, InitializeCreatesOnlyAMissingFileAndNamesTheAccountSigned)
{
    CVxCalConfigMedia fresh;
    EXPECT_TRUE(fresh.Path().empty());
    ASSERT_EQ(fresh.Initialize(42), S_OK);
    EXPECT_EQ(Slashed(Narrow(fresh.Path())), m_strIniPath);
    EXPECT_EQ(Bytes(), "");
    EXPECT_EQ(ListDir(m_strAccountDir), Names{"CalendarConfig.ini"});

    const std::string strOld = "[N]\nk=v\n# kept\n", strPath = m_dir.Join("-1/CalendarConfig.ini");
    MakeDirs(m_dir.Join("-1"));
    ASSERT_TRUE(WriteFile(strPath, strOld));
    ASSERT_EQ(m_media.Initialize(4294967295u), S_OK);
    EXPECT_EQ(Slashed(Narrow(m_media.Path())), strPath);
    EXPECT_EQ(Bytes(strPath), strOld);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("k")), "v");
}

TEST_F(ConfigMediaTest, OnlyInitializeCreatesTheFileAndWithoutItEveryCallFails)
{
    const std::string strDir = m_dir.Join("7");
    ASSERT_EQ(m_media.Initialize(7), S_OK);
    EXPECT_EQ(Slashed(Narrow(m_media.Path())), strDir + "/CalendarConfig.ini");
    EXPECT_FALSE(FileExists(strDir));

    // Without the directory, once it appears, and once the file is deleted after Initialize.
    for (int nPass = 0; nPass < 3; ++nPass) {
        SCOPED_TRACE(nPass);
        EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("s"), WTEXT("v"), 0), E_FAIL);
        EXPECT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("d"), 5, 0), E_FAIL);
        ExpectNoValue(WTEXT("N"), WTEXT("s"));
        ExpectNoValue(WTEXT("N"), WTEXT("d"));
        EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("s")), E_FAIL);
        MakeDirs(strDir);
        EXPECT_TRUE(ListDir(strDir).empty());
        if (nPass == 1) {
            ASSERT_EQ(m_media.Initialize(7), S_OK);
            ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("s"), WTEXT("1"), 0), S_OK);
            ASSERT_TRUE(std::filesystem::remove(std::filesystem::u8path(strDir + "/CalendarConfig.ini")));
        }
    }
}

// New items go directly under their namespace, new namespaces to the end; a second
// write changes the value in place; names compare case-sensitively.
TEST_F(ConfigMediaTest, StringsRoundTripInTheirPlaces)
{
#ifdef _WIN32
    GTEST_SKIP() << "the file holds the ANSI code page on Windows, which lacks these characters";
#endif
    Init();
    const WString strNameSpace = Wide("Größe"), strItem = Wide("名前");
    const std::string strValue = "日本 😀 äöü";
    ASSERT_EQ(m_media.AddString(strNameSpace, strItem, Wide(strValue), 0), S_OK);
    EXPECT_EQ(GetString(strNameSpace, strItem), strValue);
    EXPECT_EQ(Bytes(), " [Größe]\r\n 名前=" + strValue + "\r\n");
    ASSERT_EQ(m_media.AddString(strNameSpace, strItem, WTEXT("second"), 1), S_OK);

    ASSERT_EQ(m_media.AddString(WTEXT("A"), WTEXT("a"), WTEXT("x[y]z"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("B"), WTEXT("b"), WTEXT("[S]"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("A"), WTEXT("a2"), WTEXT("1"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("a"), WTEXT("a"), WTEXT("other namespace"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("A"), WTEXT("A"), WTEXT("upper"), 0), S_OK);
    EXPECT_EQ(Bytes(),
              " [Größe]\r\n 名前=second\r\n [A]\r\n A=upper\r\n a2=1\r\n a=x[y]z\r\n [B]\r\n b=[S]\r\n"
              " [a]\r\n a=other namespace\r\n");
    EXPECT_EQ(GetString(WTEXT("A"), WTEXT("a")), "x[y]z");
    EXPECT_EQ(GetString(WTEXT("B"), WTEXT("b")), "[S]");
    EXPECT_EQ(GetString(WTEXT("a"), WTEXT("a")), "other namespace");
    EXPECT_EQ(GetString(WTEXT("A"), WTEXT("A")), "upper");
    ExpectNoValue(WTEXT("a"), WTEXT("A"));
}

TEST_F(ConfigMediaTest, LongValueComesBackCutTo511Units)
{
#ifdef _WIN32
    GTEST_SKIP() << "the file holds the ANSI code page on Windows, which lacks these characters";
#endif
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("long"), Wide(std::string(600, 'x')), 0), S_OK);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("long")), std::string(511, 'x'));
    // The file keeps the whole value.
    EXPECT_EQ(Bytes(), " [N]\r\n long=" + std::string(600, 'x') + "\r\n");

    // A pair that would straddle the cut is left out whole.
    const std::string strPair = "😀";
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("pair"), Wide(std::string(510, 'y') + strPair + "z"), 0), S_OK);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("pair")), std::string(510, 'y'));
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("fits"), Wide(std::string(509, 'y') + strPair + "z"), 0), S_OK);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("fits")), std::string(509, 'y') + strPair);
}

// Numbers are written signed, and read from the front of the text, saturating.
TEST_F(ConfigMediaTest, NumbersAreStoredSignedAndParsedFromTheFront)
{
    Init();
    const std::pair<const char*, int> written[] = {
        {"-1", -1}, {"0", 0}, {"1", 1}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"-2", -2}};
    for (const auto& [pszText, nValue] : written) {
        SCOPED_TRACE(pszText);
        ASSERT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("n"), static_cast<DWORD>(nValue), 0), S_OK);
        EXPECT_EQ(Bytes(), std::string(" [N]\r\n n=") + pszText + "\r\n");
        EXPECT_EQ(GetString(WTEXT("N"), WTEXT("n")), pszText);
        EXPECT_EQ(GetDWord(WTEXT("N"), WTEXT("n")), static_cast<DWORD>(nValue));
    }
    const std::pair<const char*, int> parsed[] = {{"99999999999", INT_MAX},  {"abc", 0},    {"4294967295", INT_MAX},
                                                  {"-99999999999", INT_MIN}, {" -17", -17}, {"+42", 42},
                                                  {"2147483648", INT_MAX},   {"- 5", 0},    {"0x10", 0},
                                                  {"-2147483649", INT_MIN},  {"12abc", 12}};
    for (const auto& [pszText, nValue] : parsed) {
        SCOPED_TRACE(pszText);
        ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("n"), Wide(pszText), 0), S_OK);
        EXPECT_EQ(GetDWord(WTEXT("N"), WTEXT("n")), static_cast<DWORD>(nValue));
    }
}

// Empty, missing or undecodable values, null out pointers and missing items to
// delete fail, and write nothing.
TEST_F(ConfigMediaTest, FailedReadsAndDeletesWriteNothing)
{
    const std::string strOld = "[N]\na=1\nd=3\nempty=\nk=caf\xE9\n";  // LF line ends: any rewrite would show
    ASSERT_TRUE(WriteFile(m_strIniPath, strOld));
    Init();
    EXPECT_EQ(GetDWord(WTEXT("N"), WTEXT("d")), 3u);
    ExpectNoValue(WTEXT("N"), WTEXT("empty"));
    ExpectNoValue(WTEXT("N"), WTEXT("missing"));
    ExpectNoValue(WTEXT("Missing"), WTEXT("d"));
#ifndef _WIN32  // in the ANSI code page of Windows the byte is a letter, and the value decodes
    ExpectNoValue(WTEXT("N"), WTEXT("k"));
#endif
    EXPECT_EQ(m_media.GetString(WTEXT("N"), WTEXT("d"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.GetDWord(WTEXT("N"), WTEXT("d"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.GetString(WTEXT("N"), WTEXT("missing"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.GetDWord(WTEXT("N"), WTEXT("missing"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("missing")), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("Other"), WTEXT("a")), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("A")), E_FAIL);
    EXPECT_EQ(Bytes(), strOld);

    // A delete removes only its item; an empty value is written, and reads as missing.
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("a")), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("e"), WTEXT(""), 0), S_OK);
    EXPECT_EQ(Bytes(), " [N]\r\n e=\r\n d=3\r\n empty=\r\n k=caf\xE9\r\n");
    ExpectNoValue(WTEXT("N"), WTEXT("a"));
    ExpectNoValue(WTEXT("N"), WTEXT("e"));
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("d")), "3");
}

// Text without a narrow form, and names and values that the file could not give
// back as written, are refused before anything is written.
TEST_F(ConfigMediaTest, TextTheFileCannotGiveBackIsRefused)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    const std::string strBefore = Bytes();
    const WString strBad = WTEXT("ns") + WString(1, WCHAR(0xD800));  // no narrow form
    ExpectNoValue(strBad, WTEXT("a"));
    ExpectNoValue(WTEXT("N"), strBad);
    // The section line itself is no item: the namespace keeps its items.
    for (const WString& strItem :
         {strBad, WString(WTEXT("")), WString(WTEXT("a=b")), WString(WTEXT("a[b")), WString(WTEXT("#a")),
          WString(WTEXT(";a")), WString(WTEXT(" a")), WString(WTEXT("a\nb")), WString(WTEXT("a\0x"), 3)}) {
        SCOPED_TRACE(Narrow(strItem));
        EXPECT_EQ(m_media.AddString(WTEXT("N"), strItem, WTEXT("2"), 0), E_FAIL);
        EXPECT_EQ(m_media.AddDWord(WTEXT("N"), strItem, 2, 0), E_FAIL);
        EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), strItem), E_FAIL);
    }
    for (const WString& strNameSpace : {strBad, WString(WTEXT("N]")), WString(WTEXT("N=1")), WString(WTEXT("N\r"))}) {
        SCOPED_TRACE(Narrow(strNameSpace));
        EXPECT_EQ(m_media.AddString(strNameSpace, WTEXT("a"), WTEXT("2"), 0), E_FAIL);
        EXPECT_EQ(m_media.AddDWord(strNameSpace, WTEXT("a"), 2, 0), E_FAIL);
        EXPECT_EQ(m_media.DeleteConfigItem(strNameSpace, WTEXT("a")), E_FAIL);
    }
    for (const WString& strValue : {strBad, WString(WTEXT("2 ")), WString(WTEXT("2\t")), WString(WTEXT("2\n3"))}) {
        EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), strValue, 0), E_FAIL) << Narrow(strValue);
    }
    EXPECT_EQ(Bytes(), strBefore);
    EXPECT_EQ(ListDir(m_strAccountDir), Names{"CalendarConfig.ini"});
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("a")), "1");
}

TEST_F(ConfigMediaTest, CallsThroughTheInterfaceReachTheMedia)
{
    tagVxCalStoreConfigMedia* pMedia = &m_media;
    EXPECT_EQ(pMedia->Reserved0(1, 2), S_OK);
    EXPECT_EQ(pMedia->Reserved6(), S_OK);
    ASSERT_EQ(pMedia->Initialize(42), S_OK);
    ASSERT_EQ(pMedia->AddDWord(WTEXT("N"), WTEXT("d"), 7, 0), S_OK);
    DWORD dwValue = 0;
    EXPECT_EQ(pMedia->GetDWord(WTEXT("N"), WTEXT("d"), &dwValue), S_OK);
    EXPECT_EQ(dwValue, 7u);
    EXPECT_EQ(pMedia->DeleteConfigItem(WTEXT("N"), WTEXT("d")), S_OK);
    EXPECT_EQ(Bytes(), " [N]\r\n");
}

}  // namespace
