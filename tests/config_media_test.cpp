// The configuration media: settings of one account in <root>/<account>/CalendarConfig.ini,
// strings and numbers in namespaces, and E_FAIL for every failure. Every case has
// its own scratch root.
#include <gtest/gtest.h>

#include <unistd.h>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "config/VxCalConfigMedia.h"

using namespace testing_support;

namespace {

const DWORD s_dwAccount = 42;

WString LoneSurrogate()
{
    WString str = WTEXT("ns");
    str += WCHAR(0xD800);
    return str;
}

class ConfigMediaTest : public ::testing::Test {
protected:
    ConfigMediaTest()
        : m_root(m_dir.Path()), m_strAccountDir(m_dir.Join("42")), m_strIniPath(m_strAccountDir + "/CalendarConfig.ini")
    {
        MakeDirs(m_strAccountDir);
    }

    void Init() { ASSERT_EQ(m_media.Initialize(s_dwAccount), S_OK); }

    std::string Bytes()
    {
        std::string strContent;
        EXPECT_TRUE(ReadFile(m_strIniPath, strContent));
        return strContent;
    }

    // The text GetString returns, as UTF-8; hr receives its result.
    std::string GetString(const WString& strNameSpace, const WString& strItem, HRESULT& hr)
    {
        BSTR bsValue = nullptr;
        hr = m_media.GetString(strNameSpace, strItem, &bsValue);
        if (bsValue == nullptr) {
            return std::string();
        }
        const std::string strValue = Narrow(WString(bsValue, SysStringLen(bsValue)));
        SysFreeString(bsValue);
        return strValue;
    }

    std::string GetString(const WString& strNameSpace, const WString& strItem)
    {
        HRESULT hr = E_UNEXPECTED;
        const std::string strValue = GetString(strNameSpace, strItem, hr);
        EXPECT_EQ(hr, S_OK);
        return strValue;
    }

    // GetString that must fail: E_FAIL and the BSTR set to null.
    void ExpectNoString(const WString& strNameSpace, const WString& strItem)
    {
        BSTR bsMark = SysAllocString(WTEXT("mark"));
        BSTR bsValue = bsMark;
        EXPECT_EQ(m_media.GetString(strNameSpace, strItem, &bsValue), E_FAIL);
        EXPECT_EQ(bsValue, nullptr);
        SysFreeString(bsMark);
    }

    // GetDWord that must fail: E_FAIL and the output left as it was.
    void ExpectNoDWord(const WString& strNameSpace, const WString& strItem)
    {
        DWORD dwValue = 0x5A5A5A5A;
        EXPECT_EQ(m_media.GetDWord(strNameSpace, strItem, &dwValue), E_FAIL);
        EXPECT_EQ(dwValue, 0x5A5A5A5Au);
    }

    DWORD GetDWord(const WString& strNameSpace, const WString& strItem)
    {
        DWORD dwValue = 0x5A5A5A5A;
        EXPECT_EQ(m_media.GetDWord(strNameSpace, strItem, &dwValue), S_OK);
        return dwValue;
    }

    CTempDir m_dir;
    CScopedRoot m_root;
    const std::string m_strAccountDir;
    const std::string m_strIniPath;
    CVxCalConfigMedia m_media;
};

TEST_F(ConfigMediaTest, InitializeCreatesTheAccountFileEmpty)
{
    EXPECT_TRUE(m_media.Path().empty());
    Init();
    EXPECT_EQ(Narrow(m_media.Path()), m_strIniPath);
    EXPECT_TRUE(FileExists(m_strIniPath));
    EXPECT_EQ(Bytes(), "");
    EXPECT_EQ(ListDir(m_strAccountDir), std::vector<std::string>{"CalendarConfig.ini"});
}

TEST_F(ConfigMediaTest, InitializeLeavesAnExistingFileAlone)
{
    const std::string strOld = "[N]\nk=v\n# kept\n";
    ASSERT_TRUE(WriteFile(m_strIniPath, strOld));
    Init();
    EXPECT_EQ(Bytes(), strOld);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("k")), "v");
}

TEST_F(ConfigMediaTest, AccountNumberIsWrittenSigned)
{
    MakeDirs(m_dir.Join("-1"));
    ASSERT_EQ(m_media.Initialize(4294967295u), S_OK);
    EXPECT_EQ(Narrow(m_media.Path()), m_dir.Join("-1/CalendarConfig.ini"));
    EXPECT_TRUE(FileExists(m_dir.Join("-1/CalendarConfig.ini")));
}

TEST_F(ConfigMediaTest, WithoutTheAccountDirectoryNothingIsCreatedAndEveryCallFails)
{
    const std::string strDir = m_dir.Join("7");
    ASSERT_EQ(m_media.Initialize(7), S_OK);
    EXPECT_EQ(Narrow(m_media.Path()), strDir + "/CalendarConfig.ini");
    EXPECT_FALSE(FileExists(strDir));

    // Still so once the directory appears: only Initialize creates the file.
    for (int nPass = 0; nPass < 2; ++nPass) {
        SCOPED_TRACE(nPass);
        EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("s"), WTEXT("v"), 0), E_FAIL);
        EXPECT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("d"), 5, 0), E_FAIL);
        ExpectNoString(WTEXT("N"), WTEXT("s"));
        ExpectNoDWord(WTEXT("N"), WTEXT("d"));
        EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("s")), E_FAIL);
        EXPECT_FALSE(FileExists(strDir + "/CalendarConfig.ini"));
        MakeDirs(strDir);
    }
    EXPECT_TRUE(ListDir(strDir).empty());
}

TEST_F(ConfigMediaTest, StringsRoundTrip)
{
    Init();
    const WString strNameSpace = Wide("Größe");
    const WString strItem = Wide("名前");
    const std::string strValue = "日本 😀 äöü";
    ASSERT_EQ(m_media.AddString(strNameSpace, strItem, Wide(strValue), 0), S_OK);
    EXPECT_EQ(GetString(strNameSpace, strItem), strValue);
    EXPECT_EQ(Bytes(), " [" + Narrow(strNameSpace) + "]\r\n " + Narrow(strItem) + "=" + strValue + "\r\n");

    // Overwrite in place.
    ASSERT_EQ(m_media.AddString(strNameSpace, strItem, WTEXT("second"), 1), S_OK);
    EXPECT_EQ(GetString(strNameSpace, strItem), "second");
}

TEST_F(ConfigMediaTest, ValueWithBracketsReadsBackAfterLaterWrites)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("x[y]z"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("b"), WTEXT("[S]"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("c"), WTEXT("1"), 0), S_OK);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("a")), "x[y]z");
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("b")), "[S]");
    EXPECT_EQ(Bytes(), " [N]\r\n c=1\r\n b=[S]\r\n a=x[y]z\r\n");
}

TEST_F(ConfigMediaTest, SecondItemGoesDirectlyUnderItsNamespace)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("A"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("B"), WTEXT("b"), WTEXT("2"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("A"), WTEXT("a2"), WTEXT("3"), 0), S_OK);
    EXPECT_EQ(Bytes(), " [A]\r\n a2=3\r\n a=1\r\n [B]\r\n b=2\r\n");
}

TEST_F(ConfigMediaTest, NamesAreCaseSensitive)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("k"), WTEXT("lower"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("n"), WTEXT("k"), WTEXT("other namespace"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("K"), WTEXT("upper"), 0), S_OK);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("k")), "lower");
    EXPECT_EQ(GetString(WTEXT("n"), WTEXT("k")), "other namespace");
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("K")), "upper");
    ExpectNoString(WTEXT("n"), WTEXT("K"));
}

TEST_F(ConfigMediaTest, LongValueComesBackCutTo511Units)
{
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

TEST_F(ConfigMediaTest, NumbersAreStoredSigned)
{
    Init();
    ASSERT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("max"), 4294967295u, 0), S_OK);
    EXPECT_EQ(Bytes(), " [N]\r\n max=-1\r\n");
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("max")), "-1");
    EXPECT_EQ(GetDWord(WTEXT("N"), WTEXT("max")), 4294967295u);

    const struct {
        DWORD dwValue;
        const char* pszText;
    } cases[] = {{0u, "0"}, {1u, "1"}, {2147483647u, "2147483647"}, {2147483648u, "-2147483648"}, {4294967294u, "-2"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dwValue);
        ASSERT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("n"), c.dwValue, 0), S_OK);
        EXPECT_EQ(GetString(WTEXT("N"), WTEXT("n")), c.pszText);
        EXPECT_EQ(GetDWord(WTEXT("N"), WTEXT("n")), c.dwValue);
    }
}

TEST_F(ConfigMediaTest, NumbersAreParsedFromTheFront)
{
    Init();
    const struct {
        const char* pszText;
        DWORD dwExpected;
    } cases[] = {{"abc", 0u},
                 {"12abc", 12u},
                 {" -17", static_cast<DWORD>(-17)},
                 {"+42", 42u},
                 {"- 5", 0u},
                 {"0x10", 0u},
                 {"99999999999", 2147483647u},
                 {"-99999999999", 0x80000000u},
                 {"2147483648", 2147483647u},
                 {"-2147483649", 0x80000000u},
                 {"4294967295", 2147483647u},
                 {"-2147483648", 0x80000000u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszText);
        ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("n"), Wide(c.pszText), 0), S_OK);
        EXPECT_EQ(GetDWord(WTEXT("N"), WTEXT("n")), c.dwExpected);
    }
}

TEST_F(ConfigMediaTest, EmptyValueReadsAsMissing)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("empty"), WTEXT(""), 0), S_OK);
    EXPECT_EQ(Bytes(), " [N]\r\n empty=\r\n");
    ExpectNoString(WTEXT("N"), WTEXT("empty"));
    ExpectNoDWord(WTEXT("N"), WTEXT("empty"));
}

TEST_F(ConfigMediaTest, MissingItemsAndNamespacesFail)
{
    Init();
    ASSERT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("d"), 3, 0), S_OK);
    ExpectNoString(WTEXT("N"), WTEXT("missing"));
    ExpectNoDWord(WTEXT("N"), WTEXT("missing"));
    ExpectNoString(WTEXT("Missing"), WTEXT("d"));
    ExpectNoDWord(WTEXT("Missing"), WTEXT("d"));
}

TEST_F(ConfigMediaTest, NullOutPointersFail)
{
    Init();
    ASSERT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("d"), 3, 0), S_OK);
    const std::string strBefore = Bytes();
    EXPECT_EQ(m_media.GetString(WTEXT("N"), WTEXT("d"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.GetDWord(WTEXT("N"), WTEXT("d"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.GetString(WTEXT("N"), WTEXT("missing"), nullptr), E_FAIL);
    EXPECT_EQ(m_media.GetDWord(WTEXT("N"), WTEXT("missing"), nullptr), E_FAIL);
    EXPECT_EQ(Bytes(), strBefore);
}

TEST_F(ConfigMediaTest, DeleteConfigItemRemovesOnlyThatItem)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("b"), WTEXT("2"), 0), S_OK);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("a")), S_OK);
    EXPECT_EQ(Bytes(), " [N]\r\n b=2\r\n");
    ExpectNoString(WTEXT("N"), WTEXT("a"));
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("b")), "2");
}

TEST_F(ConfigMediaTest, DeletingAMissingItemFailsAndLeavesTheFile)
{
    // Hand-written, LF line ends: any rewrite would show.
    const std::string strOld = "[N]\na=1\n# trailing\n";
    ASSERT_TRUE(WriteFile(m_strIniPath, strOld));
    Init();
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("missing")), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("Other"), WTEXT("a")), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("A")), E_FAIL);
    EXPECT_EQ(Bytes(), strOld);
}

TEST_F(ConfigMediaTest, FileDeletedAfterInitializeIsNotCreatedAgain)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    ASSERT_EQ(::unlink(m_strIniPath.c_str()), 0);
    EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("2"), 0), E_FAIL);
    EXPECT_EQ(m_media.AddDWord(WTEXT("N"), WTEXT("d"), 2, 0), E_FAIL);
    ExpectNoString(WTEXT("N"), WTEXT("a"));
    ExpectNoDWord(WTEXT("N"), WTEXT("a"));
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), WTEXT("a")), E_FAIL);
    EXPECT_TRUE(ListDir(m_strAccountDir).empty());
}

TEST_F(ConfigMediaTest, TextWithoutANarrowFormFailsAndWritesNothing)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    const std::string strBefore = Bytes();
    const WString strBad = LoneSurrogate();

    EXPECT_EQ(m_media.AddString(strBad, WTEXT("a"), WTEXT("2"), 0), E_FAIL);
    EXPECT_EQ(m_media.AddString(WTEXT("N"), strBad, WTEXT("2"), 0), E_FAIL);
    EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), strBad, 0), E_FAIL);
    EXPECT_EQ(m_media.AddDWord(strBad, WTEXT("a"), 2, 0), E_FAIL);
    EXPECT_EQ(m_media.AddDWord(WTEXT("N"), strBad, 2, 0), E_FAIL);
    ExpectNoString(strBad, WTEXT("a"));
    ExpectNoString(WTEXT("N"), strBad);
    ExpectNoDWord(strBad, WTEXT("a"));
    ExpectNoDWord(WTEXT("N"), strBad);
    EXPECT_EQ(m_media.DeleteConfigItem(strBad, WTEXT("a")), E_FAIL);
    EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), strBad), E_FAIL);

    EXPECT_EQ(Bytes(), strBefore);
    EXPECT_EQ(ListDir(m_strAccountDir), std::vector<std::string>{"CalendarConfig.ini"});
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("a")), "1");
}

TEST_F(ConfigMediaTest, StoredTextThatIsNotUtf8Fails)
{
    ASSERT_TRUE(WriteFile(m_strIniPath, "[N]\nk=caf\xE9\n"));
    Init();
    ExpectNoString(WTEXT("N"), WTEXT("k"));
    ExpectNoDWord(WTEXT("N"), WTEXT("k"));
}

TEST_F(ConfigMediaTest, CallsThroughTheInterfaceReachTheMedia)
{
    tagVxCalStoreConfigMedia* pMedia = &m_media;
    EXPECT_EQ(pMedia->Reserved0(1, 2), S_OK);
    EXPECT_EQ(pMedia->Reserved6(), S_OK);
    ASSERT_EQ(pMedia->Initialize(s_dwAccount), S_OK);
    ASSERT_EQ(pMedia->AddDWord(WTEXT("N"), WTEXT("d"), 7, 0), S_OK);
    DWORD dwValue = 0;
    EXPECT_EQ(pMedia->GetDWord(WTEXT("N"), WTEXT("d"), &dwValue), S_OK);
    EXPECT_EQ(dwValue, 7u);
    EXPECT_EQ(pMedia->DeleteConfigItem(WTEXT("N"), WTEXT("d")), S_OK);
    EXPECT_EQ(Bytes(), " [N]\r\n");
}

}  // namespace

namespace {

TEST_F(ConfigMediaTest, NamesAndValuesTheFileCannotGiveBackAreRefused)
{
    Init();
    ASSERT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), WTEXT("1"), 0), S_OK);
    const std::string strBefore = Bytes();
    const WString strWithZero(WTEXT("a\0x"), 3);
    const WString astrBadItems[] = {WTEXT(""), WTEXT("a=b"), WTEXT("a[b"), WTEXT("#a"), WTEXT(";a"),
                                    WTEXT(" a"), WTEXT("a\nb"), strWithZero};
    for (const WString& strItem : astrBadItems) {
        EXPECT_EQ(m_media.AddString(WTEXT("N"), strItem, WTEXT("2"), 0), E_FAIL) << Narrow(strItem);
        EXPECT_EQ(m_media.DeleteConfigItem(WTEXT("N"), strItem), E_FAIL) << Narrow(strItem);
    }
    for (const WString& strNameSpace : {WString(WTEXT("N]")), WString(WTEXT("N=1")), WString(WTEXT("N\r"))}) {
        EXPECT_EQ(m_media.AddString(strNameSpace, WTEXT("a"), WTEXT("2"), 0), E_FAIL) << Narrow(strNameSpace);
    }
    for (const WString& strValue : {WString(WTEXT("2 ")), WString(WTEXT("2\t")), WString(WTEXT("2\n3"))}) {
        EXPECT_EQ(m_media.AddString(WTEXT("N"), WTEXT("a"), strValue, 0), E_FAIL) << Narrow(strValue);
    }
    // The section line itself is no item: the namespace keeps its items.
    EXPECT_EQ(Bytes(), strBefore);
    EXPECT_EQ(GetString(WTEXT("N"), WTEXT("a")), "1");
}

}  // namespace
