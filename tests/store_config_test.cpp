// The settings interface of the store object: values written through
// IVxCalStoreConfig land in <root>/<account>/CalendarConfig.ini and read back, the
// account comes from the start step, from the host on first use, or from
// InitializeConfig, and every host reference is given back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "FakeHost.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

// A text argument: UTF-8 in the source, any UTF-16 units, or a null BSTR.
struct CText {
    CText(const char* pszUtf8) : str(Wide(pszUtf8)) {}
    CText(const std::string& strUtf8) : str(Wide(strUtf8)) {}
    CText(WString strUnits) : str(std::move(strUnits)) {}
    CText(std::nullptr_t) : bNull(true) {}
    WString str;
    bool bNull = false;
};

const std::string s_strFailed = "failed";

class StoreConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK,
                  CVxCalStoreData::CreateInstance(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IVxCalStoreConfig, reinterpret_cast<void**>(&m_pConfig)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq)));
    }
    void TearDown() override
    {
        m_pConfig->Release();
        m_pSeq->Release();
        EXPECT_EQ(0u, m_pData->Release());
        EXPECT_TRUE(m_host.Settled());
        EXPECT_TRUE(m_other.Settled());
    }

    void Start(CFakeHost& host)
    {
        ASSERT_EQ(S_OK, m_pSeq->StartSequence(host.Kernel()));
        host.ClearLogs();
    }
    // Gives the store the host's kernel without the start step; that path makes no
    // account directory of its own, so the test makes strDir when it names one.
    void InitializeWithoutStart(CFakeHost& host, const std::string& strDir = "")
    {
        ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, host.kernel.As<IDispatch>()));
        host.ClearLogs();
        if (!strDir.empty()) {
            MakeDirs(m_dir.Join(strDir));
        }
    }

    // A BSTR that lives until the end of the test.
    BSTR Bstr(const CText& text)
    {
        BSTR bs = text.bNull ? nullptr : SysAllocStringLen(text.str.data(), UINT(text.str.size()));
        return m_bstrs.emplace_back(bs, &SysFreeString).get();
    }
    HRESULT Add(const CText& ns, const CText& item, const CText& value)
    {
        return m_pConfig->AddString(Bstr(ns), Bstr(item), Bstr(value), 0);
    }
    HRESULT AddNumber(const CText& ns, const CText& item, ULONG dwValue)
    {
        return m_pConfig->AddDWord(Bstr(ns), Bstr(item), dwValue, 1);
    }
    HRESULT Delete(const CText& ns, const CText& item) { return m_pConfig->DeleteConfigItem(Bstr(ns), Bstr(item)); }

    // The value read, or "failed" when the read failed cleanly: the out BSTR, which
    // starts as a live string, cleared, the out number untouched. m_hr keeps the result.
    std::string Read(const CText& ns, const CText& item)
    {
        const BSTR bsBefore = Bstr("before");
        BSTR bs = bsBefore;
        m_hr = m_pConfig->GetString(Bstr(ns), Bstr(item), &bs);
        if (bs != bsBefore) {
            m_bstrs.emplace_back(bs, &SysFreeString);
        }
        return FAILED(m_hr) ? (bs == nullptr ? s_strFailed : "failed, the out not cleared")
               : bs == nullptr ? "<null>"
                               : Narrow(WString(bs, SysStringLen(bs)));
    }
    std::string ReadNumber(const CText& ns, const CText& item)
    {
        ULONG dwValue = 0xDEADBEEF;
        m_hr = m_pConfig->GetDWord(Bstr(ns), Bstr(item), &dwValue);
        return FAILED(m_hr) ? (dwValue == 0xDEADBEEF ? s_strFailed : "failed, the out written") : std::to_string(dwValue);
    }

    std::string IniPath(const std::string& strAccount) { return m_dir.Join(strAccount + "/CalendarConfig.ini"); }
    std::string Bytes(const std::string& strAccount = "123")
    {
        std::string strContent;
        return ReadFile(IniPath(strAccount), strContent) ? strContent : "<no file>";
    }
    DWORD AccountNumber() { return static_cast<CVxCalStoreData*>(m_pData)->AccountNumber(); }

    CTempDir m_dir;
    CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    CFakeHost m_other{0, 789};
    std::vector<std::unique_ptr<OLECHAR, decltype(&SysFreeString)>> m_bstrs;
    IVxCalStoreData* m_pData = nullptr;
    IVxCalStoreConfig* m_pConfig = nullptr;
    IExtendKernalSequence* m_pSeq = nullptr;
    HRESULT m_hr = S_OK;
};

// Started for account 123, the way the host brings the store up.
class StoreConfigStartedTest : public StoreConfigTest {
protected:
    void SetUp() override
    {
        StoreConfigTest::SetUp();
        Start(m_host);
    }
};

TEST_F(StoreConfigStartedTest, ItemsGoUnderTheirSectionLineAndReadBackUnchanged)
{
    EXPECT_FALSE(FileExists(IniPath("123"))) << "the start step makes no settings file";
    ASSERT_EQ(S_OK, Add("NS", "first", "1"));
    EXPECT_EQ(" [NS]\r\n first=1\r\n", Bytes());
    // Written beside and renamed over: nothing else is left in the directory.
    EXPECT_THAT(ListDir(m_dir.Join("123")), UnorderedElementsAre("CalData.db", "CalendarConfig.ini"));
    ASSERT_EQ(S_OK, Add("Other", "x", "[y]"));  // still a key after the writes that follow
    ASSERT_EQ(S_OK, Add("NS", "second", "a = b = c"));
    ASSERT_EQ(S_OK, Add("NS", "first", "one"));
    ASSERT_EQ(S_OK, Add("ns", "First", "a[b]c"));
    EXPECT_EQ(" [NS]\r\n second=a = b = c\r\n first=one\r\n [Other]\r\n x=[y]\r\n [ns]\r\n First=a[b]c\r\n", Bytes());
    // Names are case-sensitive.
    const std::pair<const char*, const char*> reads[] = {{"NS", "first"}, {"Other", "x"}, {"ns", "First"},
                                                         {"NS", "second"}, {"NS", "First"}, {"ns", "first"}};
    const char* const expected[] = {"one", "[y]", "a[b]c", "a = b = c", "failed", "failed"};
    for (size_t i = 0; i < std::size(reads); ++i) {
        EXPECT_EQ(expected[i], Read(reads[i].first, reads[i].second)) << i;
    }
#ifndef _WIN32  // the ANSI code page on Windows lacks these characters
    ASSERT_EQ(S_OK, Add("\u8bbe\u7f6e", "cl\u00e9", "caf\u00e9 \U0001F4C5"));
    EXPECT_EQ("caf\u00e9 \U0001F4C5", Read("\u8bbe\u7f6e", "cl\u00e9"));
    EXPECT_NE(std::string::npos, Bytes().find(" [\u8bbe\u7f6e]\r\n cl\u00e9=caf\xc3\xa9 \xf0\x9f\x93\x85\r\n"));
#endif
}

TEST_F(StoreConfigStartedTest, NumbersAreStoredAsSignedDecimalsAndOtherTextReadsAsItsLeadingNumber)
{
    const std::pair<ULONG, std::string> cases[] = {
        {0, "0"}, {42, "42"}, {2147483647u, "2147483647"}, {2147483648u, "-2147483648"}, {4294967295u, "-1"}};
    for (const auto& [dwValue, strText] : cases) {
        ASSERT_EQ(S_OK, AddNumber("Numbers", "n", dwValue));
        EXPECT_EQ(" [Numbers]\r\n n=" + strText + "\r\n", Bytes());
        EXPECT_EQ(std::to_string(dwValue), ReadNumber("Numbers", "n"));
        EXPECT_EQ(strText, Read("Numbers", "n"));
    }
    const std::pair<const char*, ULONG> texts[] = {
        {"abc", 0}, {"-", 0}, {"  42abc", 42}, {"+7", 7}, {"99999999999", 0x7FFFFFFFu}, {"-99999999999", 0x80000000u}};
    for (const auto& [pszText, dwExpected] : texts) {
        ASSERT_EQ(S_OK, Add("NS", "n", pszText));
        EXPECT_EQ(std::to_string(dwExpected), ReadNumber("NS", "n")) << pszText;
    }
}

TEST_F(StoreConfigStartedTest, EmptyMissingAndDeletedItemsReadAsMissingAndNullTextsAsEmpty)
{
    ASSERT_EQ(S_OK, Add("NS", "empty", ""));
    ASSERT_EQ(S_OK, Add("NS", "keep", "1"));
    ASSERT_EQ(S_OK, Add("NS", "drop", "2"));
    ASSERT_EQ(S_OK, Add("NS", "null", nullptr));
    EXPECT_EQ(S_OK, Delete("NS", "drop"));
    const std::string strAfter = Bytes();
    EXPECT_EQ(" [NS]\r\n null=\r\n keep=1\r\n empty=\r\n", strAfter) << "an empty value is stored";
    for (const char* pszItem : {"empty", "null", "drop", "gone"}) {
        EXPECT_EQ(s_strFailed, Read("NS", pszItem)) << pszItem;
        EXPECT_EQ(E_FAIL, m_hr);
        EXPECT_EQ(s_strFailed, ReadNumber("NS", pszItem)) << pszItem;
    }
    EXPECT_EQ(s_strFailed, Read("Nowhere", "keep"));
    EXPECT_EQ(E_FAIL, Delete("NS", "drop"));
    EXPECT_EQ(E_FAIL, Delete("Nowhere", "keep"));
    EXPECT_EQ(strAfter, Bytes());

    // A null section is the empty one.
    ASSERT_EQ(S_OK, Add(nullptr, "item", "v"));
    EXPECT_EQ("v", Read("", "item"));
    ASSERT_EQ(S_OK, m_pConfig->AddDWord(nullptr, Bstr("n"), 5, 0));
    EXPECT_EQ("5", ReadNumber(nullptr, "n"));
    EXPECT_EQ(S_OK, Delete(nullptr, "item"));
    EXPECT_EQ(strAfter + " []\r\n n=5\r\n", Bytes());

    // An empty item would match the section line itself: a null item is refused, and
    // a delete with it must not take the section line away from the items below it.
    EXPECT_EQ(E_FAIL, Add("NS", nullptr, "lost"));
    EXPECT_EQ(E_FAIL, Delete("NS", nullptr));
    EXPECT_EQ(s_strFailed, Read("NS", ""));
    EXPECT_EQ(strAfter + " []\r\n n=5\r\n", Bytes());
    // A null out pointer is refused.
    EXPECT_EQ(E_FAIL, m_pConfig->GetString(Bstr("NS"), Bstr("keep"), nullptr));
    EXPECT_EQ(E_FAIL, m_pConfig->GetDWord(Bstr("NS"), Bstr("keep"), nullptr));
}

TEST_F(StoreConfigStartedTest, ALongValueReadsBackCutTo511UnitsNeverInsideAPair)
{
    std::string strLong;
    for (int i = 0; i < 600; ++i) {
        strLong += char('a' + i % 26);
    }
    ASSERT_EQ(S_OK, Add("NS", "long", strLong));
    EXPECT_EQ(" [NS]\r\n long=" + strLong + "\r\n", Bytes()) << "the file keeps it whole";
    EXPECT_EQ(strLong.substr(0, 511), Read("NS", "long"));
#ifndef _WIN32  // the ANSI code page on Windows lacks the pair
    ASSERT_EQ(S_OK, Add("NS", "pair", std::string(510, 'x') + "\U0001F4C5" + "tail"));
    EXPECT_EQ(std::string(510, 'x'), Read("NS", "pair"));
#endif
}

TEST_F(StoreConfigStartedTest, TextWithoutANarrowFormIsRefusedAndNothingIsWritten)
{
    ASSERT_EQ(S_OK, Add("NS", "k", "v"));
    const std::string strBefore = Bytes();
    const WString strBadNs = Wide("NS") + WCHAR(0xD800), strBadItem = Wide("k") + WCHAR(0xD800);
    EXPECT_EQ(E_FAIL, Add(strBadNs, "k", "v"));
    EXPECT_EQ(E_FAIL, Add("NS", strBadItem, "v"));
    EXPECT_EQ(E_FAIL, Add("NS", "k", WString(1, WCHAR(0xDC00))));
    EXPECT_EQ(E_FAIL, AddNumber(strBadNs, "n", 1));
    EXPECT_EQ(E_FAIL, Delete("NS", strBadItem));
    EXPECT_EQ(strBefore, Bytes());
    EXPECT_EQ(s_strFailed, Read(strBadNs, "k"));
    EXPECT_EQ(s_strFailed, ReadNumber("NS", strBadItem));
    EXPECT_EQ("v", Read("NS", "k"));
}

// A settings file that cannot be read or written gives its cause as the thread's
// error object; a refused name gives none, as nothing failed.
TEST_F(StoreConfigStartedTest, AFailingSettingsFileIsReportedWithItsCause)
{
    const auto takeDescription = []() {
        IErrorInfo* pInfo = nullptr;
        if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr) {
            return std::string("<none>");
        }
        BSTR bs = nullptr;
        pInfo->GetDescription(&bs);
        const std::string str = Narrow(bs);
        SysFreeString(bs);
        pInfo->Release();
        return str;
    };
    ISupportErrorInfo* pSupport = nullptr;
    ASSERT_EQ(S_OK, m_pConfig->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
    EXPECT_EQ(S_OK, pSupport->InterfaceSupportsErrorInfo(IID_IVxCalStoreConfig));
    EXPECT_EQ(S_OK, pSupport->InterfaceSupportsErrorInfo(IID_IVxCalStoreData));
    EXPECT_EQ(S_FALSE, pSupport->InterfaceSupportsErrorInfo(IID_IExtendKernalSequence));
    pSupport->Release();

    SetErrorInfo(0, nullptr);  // an earlier case in this process may have left its own
    EXPECT_EQ(E_FAIL, Add("NS", "", "v"));
    EXPECT_EQ("<none>", takeDescription());
    std::remove(IniPath("123").c_str());
    MakeDirs(IniPath("123"));
    EXPECT_EQ(E_FAIL, Add("NS", "item", "value"));
    std::string strDescription = takeDescription();
    std::replace(strDescription.begin(), strDescription.end(), '\\', '/');
#ifdef _WIN32  // Windows reports the directory as access denied
    EXPECT_EQ(0u, strDescription.rfind(IniPath("123") + ": cannot be written: ", 0)) << strDescription;
#else
    EXPECT_EQ(IniPath("123") + ": cannot be written: a directory stands where the file should be", strDescription);
#endif
}

// ---------------------------------------------------------------------------
// Which account's file

TEST_F(StoreConfigTest, AStartSettlesTheAccountAndAnotherStartSwitchesTheFile)
{
    Start(m_host);
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77)) << "the account is settled";
    ASSERT_EQ(S_OK, Add("NS", "k", "for 123"));
    const std::string strFirst = Bytes("123");

    MakeDirs(m_dir.Join("789"));
    ASSERT_TRUE(WriteFile(IniPath("789"), " [NS]\r\n k=for 789\r\n"));
    Start(m_other);  // 0 and 789: the second number wins
    EXPECT_EQ("for 789", Read("NS", "k"));
    ASSERT_EQ(S_OK, Add("NS", "k2", "x"));
    EXPECT_EQ(" [NS]\r\n k2=x\r\n k=for 789\r\n", Bytes("789"));
    EXPECT_EQ(strFirst, Bytes("123"));
    EXPECT_THAT(m_other.account.Slots(), IsEmpty());
    EXPECT_FALSE(FileExists(m_dir.Join("77")));
}

TEST_F(StoreConfigTest, WithoutTheStartTheFirstCallAsksTheHostForTheUinOnce)
{
    // Without a kernel every call gives E_POINTER and leaves no media.
    EXPECT_EQ(E_POINTER, Add("NS", "k", "v"));
    EXPECT_EQ(E_POINTER, AddNumber("NS", "n", 1));
    EXPECT_EQ(s_strFailed, Read("NS", "k"));
    EXPECT_EQ(E_POINTER, m_hr);
    EXPECT_EQ(s_strFailed, ReadNumber("NS", "n"));
    EXPECT_EQ(E_POINTER, Delete("NS", "k"));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());

    // A failed host call leaves no media behind (one for account 0 would sit beside the database).
    InitializeWithoutStart(m_host, "123");
    m_host.kernel.Fail(KERNEL_ACCOUNT, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, Add("NS", "k", "v"));
    m_host.kernel.Fail(KERNEL_ACCOUNT, S_OK);
    m_host.account.Fail(ACCOUNT_UIN, E_UNEXPECTED);
    EXPECT_EQ(s_strFailed, Read("NS", "k"));
    EXPECT_EQ(E_UNEXPECTED, m_hr);
    EXPECT_EQ(0u, AccountNumber());
    EXPECT_FALSE(FileExists(IniPath("0")));
    EXPECT_FALSE(FileExists(IniPath("123")));

    m_host.account.Fail(ACCOUNT_UIN, S_OK);
    m_host.ClearLogs();
    ASSERT_EQ(S_OK, Add("NS", "k", "v"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
    EXPECT_EQ("v", Read("NS", "k"));
    EXPECT_THAT(m_host.account.Slots(), ElementsAre(ACCOUNT_UIN)) << "asked once; a UIN needs no AltUIN";
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77)) << "once the host was asked, the account is settled";
}

TEST_F(StoreConfigTest, WithoutTheStartAZeroUinFallsBackToTheAltUin)
{
    InitializeWithoutStart(m_other, "789");
    EXPECT_EQ(s_strFailed, ReadNumber("NS", "n"));
    EXPECT_EQ(789u, AccountNumber());
    EXPECT_EQ("", Bytes("789")) << "the first call made the file empty";
    ASSERT_EQ(S_OK, AddNumber("NS", "n", 3));
    EXPECT_EQ("3", ReadNumber("NS", "n"));

}

// The media keeps its missing file: a directory made later does not help it.
TEST_F(StoreConfigTest, WithoutTheStartAndWithoutTheDirectoryEveryCallFails)
{
    InitializeWithoutStart(m_host);
    EXPECT_EQ(E_FAIL, Add("NS", "k", "v"));
    MakeDirs(m_dir.Join("123"));
    EXPECT_EQ(E_FAIL, Add("NS", "k", "v"));
    EXPECT_FALSE(FileExists(IniPath("123")));
}

TEST_F(StoreConfigTest, InitializeConfigMakesTheDirectoryAndAnEmptyFileUntilAStart)
{
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(77));
    EXPECT_EQ("", Bytes("77"));
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(88)) << "a second one keeps the first account";
    EXPECT_THAT(ListDir(m_dir.Path()), UnorderedElementsAre("77"));
    // No kernel is needed from here on, and the account number stays unsettled.
    EXPECT_EQ(S_OK, Add("NS", "k", "v"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("77"));
    EXPECT_EQ(0u, AccountNumber());
    // The start replaces the media.
    Start(m_host);
    EXPECT_EQ(S_OK, Add("NS", "k", "w"));
    EXPECT_EQ(" [NS]\r\n k=w\r\n", Bytes("123"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("77"));
}

}  // namespace
