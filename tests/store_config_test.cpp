// The settings interface of the store object: values written through
// IVxCalStoreConfig land in <root>/<account>/CalendarConfig.ini and read back, the
// account comes from the start step, from the host on first use, or from
// InitializeConfig, and every host reference is given back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <memory>
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

const ULONG s_dwUntouched = 0xDEADBEEF;

// A text argument: UTF-8 in the source, any UTF-16 units, or a null BSTR.
struct CText {
    CText(const char* pszUtf8) : str(Wide(pszUtf8)) {}
    CText(const std::string& strUtf8) : str(Wide(strUtf8)) {}
    CText(WString strUnits) : str(std::move(strUnits)) {}
    CText(std::nullptr_t) : bNull(true) {}
    WString str;
    bool bNull = false;
};

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
        for (IUnknown* p : {static_cast<IUnknown*>(m_pConfig), static_cast<IUnknown*>(m_pSeq)}) {
            if (p != nullptr) {
                p->Release();
            }
        }
        if (m_pData != nullptr) {
            EXPECT_EQ(0u, m_pData->Release());
        }
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

    // What a read that failed cleanly gives: the out BSTR cleared, the out number untouched.
    static std::string Failed(HRESULT hr) { return "failed " + std::to_string(hr); }
    static WString WithLoneSurrogate(const char* pszUtf8) { return Wide(pszUtf8) + WCHAR(0xD800); }

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

    // The value read, or how the read failed. The out BSTR starts as a live string,
    // so that a failure has to clear it.
    std::string Read(const CText& ns, const CText& item)
    {
        const BSTR bsBefore = Bstr("before");
        BSTR bs = bsBefore;
        const HRESULT hr = m_pConfig->GetString(Bstr(ns), Bstr(item), &bs);
        if (bs != bsBefore) {
            m_bstrs.emplace_back(bs, &SysFreeString);
        }
        return FAILED(hr)      ? Failed(hr) + (bs == nullptr ? "" : ", the out not cleared")
               : bs == nullptr ? "<null>"
                               : Narrow(WString(bs, SysStringLen(bs)));
    }
    std::string ReadNumber(const CText& ns, const CText& item)
    {
        ULONG dwValue = s_dwUntouched;
        const HRESULT hr = m_pConfig->GetDWord(Bstr(ns), Bstr(item), &dwValue);
        return FAILED(hr) ? Failed(hr) + (dwValue == s_dwUntouched ? "" : ", the out written")
                          : std::to_string(dwValue);
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

// ---------------------------------------------------------------------------
// Round trip after the start step

TEST_F(StoreConfigStartedTest, TheFirstWriteAppendsTheSectionAndTheKey)
{
    EXPECT_FALSE(FileExists(IniPath("123"))) << "the start step makes no settings file";
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77)) << "the account is settled";
    EXPECT_EQ(S_OK, Add("NS", "item", "value"));
    EXPECT_EQ(" [NS]\r\n item=value\r\n", Bytes());
    // Written beside and renamed over: nothing else is left in the directory.
    EXPECT_THAT(ListDir(m_dir.Join("123")), UnorderedElementsAre("CalData.db", "CalendarConfig.ini"));
    EXPECT_FALSE(FileExists(m_dir.Join("77")));
    EXPECT_THAT(m_host.account.Slots(), IsEmpty()) << "the account was settled by the start step";
}

TEST_F(StoreConfigStartedTest, ANewItemGoesDirectlyUnderItsSectionLineAndNamesAreCaseSensitive)
{
    ASSERT_EQ(S_OK, Add("NS", "first", "1"));
    ASSERT_EQ(S_OK, Add("Other", "x", "[y]"));  // still a key after the writes that follow
    ASSERT_EQ(S_OK, Add("NS", "second", "2"));
    ASSERT_EQ(S_OK, Add("NS", "first", "one"));
    ASSERT_EQ(S_OK, Add("ns", "First", "lower"));
    EXPECT_EQ(" [NS]\r\n second=2\r\n first=one\r\n [Other]\r\n x=[y]\r\n [ns]\r\n First=lower\r\n", Bytes());
    EXPECT_EQ("one", Read("NS", "first"));
    EXPECT_EQ("[y]", Read("Other", "x"));
    EXPECT_EQ("lower", Read("ns", "First"));
    EXPECT_EQ(Failed(E_FAIL), Read("NS", "First"));
    EXPECT_EQ(Failed(E_FAIL), Read("ns", "first"));
}

TEST_F(StoreConfigStartedTest, StringsReadBackUnchanged)
{
#ifdef _WIN32
    GTEST_SKIP() << "the settings file holds the ANSI code page on Windows, which lacks these characters";
#endif
    const std::string texts[] = {"plain", "caf\u00e9 \u65e5\u5386 \U0001F4C5", "it's O'Brien's", "a = b = c", "[x]",
                                 "a[b]c"};
    for (size_t i = 0; i < std::size(texts); ++i) {
        ASSERT_EQ(S_OK, Add("NS", "item" + std::to_string(i), texts[i]));
    }
    // Each later write loaded and rewrote the earlier values; they all survived it.
    for (size_t i = 0; i < std::size(texts); ++i) {
        EXPECT_EQ(texts[i], Read("NS", "item" + std::to_string(i))) << i;
    }
    // Non-ASCII names too; the file holds UTF-8.
    ASSERT_EQ(S_OK, Add("\u8bbe\u7f6e", "cl\u00e9", "\u00fc"));
    EXPECT_EQ("\u00fc", Read("\u8bbe\u7f6e", "cl\u00e9"));
    EXPECT_NE(std::string::npos, Bytes().find(" [\u8bbe\u7f6e]\r\n cl\u00e9=\xc3\xbc\r\n"));
}

TEST_F(StoreConfigStartedTest, NumbersAreStoredAsSignedDecimalsAndOtherTextReadsAsItsLeadingNumber)
{
    const std::pair<ULONG, std::string> cases[] = {
        {0, "0"}, {42, "42"}, {2147483647u, "2147483647"}, {2147483648u, "-2147483648"}, {4294967295u, "-1"}};
    for (const auto& [dwValue, strText] : cases) {
        SCOPED_TRACE(strText);
        ASSERT_EQ(S_OK, AddNumber("Numbers", "n", dwValue));
        EXPECT_EQ(" [Numbers]\r\n n=" + strText + "\r\n", Bytes());
        EXPECT_EQ(std::to_string(dwValue), ReadNumber("Numbers", "n"));
        EXPECT_EQ(strText, Read("Numbers", "n"));
    }
    // Text that is no number reads as 0 or its leading number, clamped.
    const std::pair<const char*, ULONG> texts[] = {
        {"abc", 0}, {"-", 0}, {"  42abc", 42}, {"+7", 7}, {"99999999999", 0x7FFFFFFFu}, {"-99999999999", 0x80000000u}};
    for (const auto& [pszText, dwExpected] : texts) {
        SCOPED_TRACE(pszText);
        ASSERT_EQ(S_OK, Add("NS", "n", pszText));
        EXPECT_EQ(std::to_string(dwExpected), ReadNumber("NS", "n"));
    }
}

TEST_F(StoreConfigStartedTest, EmptyMissingAndDeletedItemsReadAsMissing)
{
    ASSERT_EQ(S_OK, Add("NS", "empty", ""));
    ASSERT_EQ(S_OK, Add("NS", "keep", "1"));
    ASSERT_EQ(S_OK, Add("NS", "drop", "2"));
    EXPECT_EQ(S_OK, Delete("NS", "drop"));
    const std::string strAfter = Bytes();
    EXPECT_EQ(" [NS]\r\n keep=1\r\n empty=\r\n", strAfter) << "an empty value is stored";
    const std::pair<const char*, const char*> missing[] = {
        {"NS", "empty"}, {"NS", "drop"}, {"NS", "gone"}, {"Nowhere", "gone"}};
    for (const auto& [pszNs, pszItem] : missing) {
        SCOPED_TRACE(std::string(pszNs) + "/" + pszItem);
        EXPECT_EQ(Failed(E_FAIL), Read(pszNs, pszItem));
        EXPECT_EQ(Failed(E_FAIL), ReadNumber(pszNs, pszItem));
    }
    EXPECT_EQ("1", Read("NS", "keep"));
    // A second delete changes nothing.
    EXPECT_EQ(E_FAIL, Delete("NS", "drop"));
    EXPECT_EQ(E_FAIL, Delete("Nowhere", "keep"));
    EXPECT_EQ(strAfter, Bytes());
}

TEST_F(StoreConfigStartedTest, NullTextsCountAsEmptyButANullItemOrOutIsRefused)
{
    ASSERT_EQ(S_OK, Add(nullptr, "item", "v"));
    EXPECT_EQ(" []\r\n item=v\r\n", Bytes());
    EXPECT_EQ("v", Read("", "item"));
    EXPECT_EQ("v", Read(nullptr, "item"));
    ASSERT_EQ(S_OK, m_pConfig->AddDWord(nullptr, Bstr("n"), 5, 0));
    EXPECT_EQ("5", ReadNumber(nullptr, "n"));

    // A null value stores the key empty, which then reads as missing.
    ASSERT_EQ(S_OK, Add("NS", "k", nullptr));
    EXPECT_EQ(" []\r\n n=5\r\n item=v\r\n [NS]\r\n k=\r\n", Bytes());
    EXPECT_EQ(Failed(E_FAIL), Read("NS", "k"));

    EXPECT_EQ(S_OK, Delete(nullptr, "item"));
    EXPECT_EQ(" []\r\n n=5\r\n [NS]\r\n k=\r\n", Bytes());

    // An empty item would match the section line itself: a null item is refused, and
    // a delete with it must not take the section line away from the items below it.
    ASSERT_EQ(S_OK, Add("A", "a", "1"));
    ASSERT_EQ(S_OK, Add("B", "b", "2"));
    const std::string strBefore = Bytes();
    EXPECT_EQ(E_FAIL, Add("B", nullptr, "lost"));
    EXPECT_EQ(E_FAIL, Delete("B", nullptr));
    EXPECT_EQ(Failed(E_FAIL), Read("B", ""));
    EXPECT_EQ(strBefore, Bytes());
    EXPECT_EQ("2", Read("B", "b"));
    EXPECT_EQ(Failed(E_FAIL), Read("A", "b"));

    // A null out pointer is refused.
    ASSERT_EQ(S_OK, AddNumber("NS", "n", 9));
    EXPECT_EQ(E_FAIL, m_pConfig->GetString(Bstr("NS"), Bstr("n"), nullptr));
    EXPECT_EQ(E_FAIL, m_pConfig->GetDWord(Bstr("NS"), Bstr("n"), nullptr));
}

TEST_F(StoreConfigStartedTest, ALongValueReadsBackCutTo511Units)
{
#ifdef _WIN32
    GTEST_SKIP() << "the settings file holds the ANSI code page on Windows, which lacks these characters";
#endif
    std::string strLong;
    for (int i = 0; i < 600; ++i) {
        strLong += char('a' + i % 26);
    }
    ASSERT_EQ(S_OK, Add("NS", "long", strLong));
    EXPECT_EQ(" [NS]\r\n long=" + strLong + "\r\n", Bytes()) << "the file keeps it whole";
    EXPECT_EQ(strLong.substr(0, 511), Read("NS", "long"));

    // A pair that would straddle the cut is left out whole.
    ASSERT_EQ(S_OK, Add("NS", "pair", std::string(510, 'x') + "\U0001F4C5" + "tail"));
    EXPECT_EQ(std::string(510, 'x'), Read("NS", "pair"));
}

TEST_F(StoreConfigStartedTest, TextWithoutANarrowFormIsRefusedAndNothingIsWritten)
{
    ASSERT_EQ(S_OK, Add("NS", "k", "v"));
    const std::string strBefore = Bytes();
    const WString strBadNs = WithLoneSurrogate("NS"), strBadItem = WithLoneSurrogate("k");
    EXPECT_EQ(E_FAIL, Add(strBadNs, "k", "v"));
    EXPECT_EQ(E_FAIL, Add("NS", strBadItem, "v"));
    EXPECT_EQ(E_FAIL, Add("NS", "k", WithLoneSurrogate("v")));
    EXPECT_EQ(E_FAIL, Add("NS", "k", WString(1, WCHAR(0xDC00))));
    EXPECT_EQ(E_FAIL, AddNumber(strBadNs, "n", 1));
    EXPECT_EQ(E_FAIL, Delete(strBadNs, "k"));
    EXPECT_EQ(E_FAIL, Delete("NS", strBadItem));
    EXPECT_EQ(strBefore, Bytes());
    EXPECT_EQ(Failed(E_FAIL), Read(strBadNs, "k"));
    EXPECT_EQ(Failed(E_FAIL), ReadNumber("NS", strBadItem));
    EXPECT_EQ("v", Read("NS", "k"));
}

// ---------------------------------------------------------------------------
// Which account's file

TEST_F(StoreConfigTest, AStartForAnotherAccountSwitchesTheFile)
{
    Start(m_host);
    ASSERT_EQ(S_OK, Add("NS", "k", "for 123"));
    const std::string strFirst = Bytes("123");

    MakeDirs(m_dir.Join("789"));
    ASSERT_TRUE(WriteFile(IniPath("789"), " [NS]\r\n k=for 789\r\n"));
    Start(m_other);  // 0 and 789: the second number wins
    ASSERT_EQ(789u, AccountNumber());

    EXPECT_EQ("for 789", Read("NS", "k"));
    ASSERT_EQ(S_OK, Add("NS", "k2", "x"));
    EXPECT_EQ(" [NS]\r\n k2=x\r\n k=for 789\r\n", Bytes("789"));
    EXPECT_EQ(strFirst, Bytes("123"));
    EXPECT_THAT(m_other.account.Slots(), IsEmpty());
}

TEST_F(StoreConfigTest, WithoutTheStartTheFirstCallAsksTheHostForTheUinOnce)
{
    InitializeWithoutStart(m_host, "123");
    ASSERT_EQ(S_OK, Add("NS", "k", "v"));
    EXPECT_THAT(m_host.kernel.Slots(), ElementsAre(13));
    EXPECT_THAT(m_host.account.Slots(), ElementsAre(10)) << "get_UIN is not 0, so get_AltUIN is not asked";
    EXPECT_EQ(123u, AccountNumber());
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));

    m_host.ClearLogs();
    EXPECT_EQ("v", Read("NS", "k"));
    EXPECT_THAT(m_host.kernel.Slots(), IsEmpty()) << "the account is asked once";
    // Once the host was asked, the account is settled.
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77));
    EXPECT_FALSE(FileExists(m_dir.Join("77")));
}

TEST_F(StoreConfigTest, WithoutTheStartAZeroUinFallsBackToTheAltUin)
{
    InitializeWithoutStart(m_other, "789");
    EXPECT_EQ(Failed(E_FAIL), ReadNumber("NS", "n"));
    EXPECT_THAT(m_other.kernel.Slots(), ElementsAre(13, 13));
    EXPECT_THAT(m_other.account.Slots(), ElementsAre(10, 12));
    EXPECT_EQ(789u, AccountNumber());
    EXPECT_EQ("", Bytes("789")) << "the first call made the file empty";
    ASSERT_EQ(S_OK, AddNumber("NS", "n", 3));
    EXPECT_EQ("3", ReadNumber("NS", "n"));
}

TEST_F(StoreConfigTest, WithoutTheStartAndWithoutTheDirectoryEveryCallFails)
{
    InitializeWithoutStart(m_host);
    EXPECT_EQ(E_FAIL, Add("NS", "k", "v"));
    EXPECT_EQ(Failed(E_FAIL), Read("NS", "k"));
    EXPECT_EQ(E_FAIL, Delete("NS", "k"));
    EXPECT_FALSE(FileExists(m_dir.Join("123")));
    // The media keeps its missing file: a directory made later does not help it.
    MakeDirs(m_dir.Join("123"));
    EXPECT_EQ(E_FAIL, Add("NS", "k", "v"));
    EXPECT_FALSE(FileExists(IniPath("123")));
}

TEST_F(StoreConfigTest, WithoutAKernelEveryCallGivesEPointerAndLeavesNoMedia)
{
    EXPECT_EQ(E_POINTER, Add("NS", "k", "v"));
    EXPECT_EQ(E_POINTER, AddNumber("NS", "n", 1));
    EXPECT_EQ(Failed(E_POINTER), Read("NS", "k"));
    EXPECT_EQ(Failed(E_POINTER), ReadNumber("NS", "n"));
    EXPECT_EQ(E_POINTER, Delete("NS", "k"));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());
    EXPECT_EQ(0u, AccountNumber());

    // Once a kernel is there, the next call settles the account as usual.
    InitializeWithoutStart(m_host, "123");
    EXPECT_EQ(S_OK, Add("NS", "k", "v"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
}

TEST_F(StoreConfigTest, AFailedHostCallLeavesNoMediaBehind)
{
    InitializeWithoutStart(m_host, "123");
    m_host.kernel.Fail(13, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, Add("NS", "k", "v"));
    m_host.kernel.Fail(13, S_OK);
    m_host.account.Fail(10, E_UNEXPECTED);
    EXPECT_EQ(Failed(E_UNEXPECTED), Read("NS", "k"));
    EXPECT_EQ(0u, AccountNumber());
    // A media made for account 0 would have put its file beside the database.
    EXPECT_FALSE(FileExists(IniPath("0")));
    EXPECT_FALSE(FileExists(IniPath("123")));

    m_host.account.Fail(10, S_OK);
    EXPECT_EQ(S_OK, Add("NS", "k", "v"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
    EXPECT_FALSE(FileExists(IniPath("0")));
}

// ---------------------------------------------------------------------------
// InitializeConfig

TEST_F(StoreConfigTest, InitializeConfigMakesTheDirectoryAndAnEmptyFileUntilAStart)
{
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(77));
    EXPECT_THAT(ListDir(m_dir.Path()), UnorderedElementsAre("77"));
    EXPECT_EQ("", Bytes("77"));
    // A second one keeps the first account.
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(88));
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

// A settings file that cannot be read or written gives its cause as the thread's
// error object; a refused name or a missing setting gives none, as nothing failed.
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

    // Where all cases share one process, an earlier case may have left its own.
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_FAIL, Add("NS", "", "v"));
    EXPECT_EQ("<none>", takeDescription());
    std::remove(IniPath("123").c_str());
    MakeDirs(IniPath("123"));
    EXPECT_EQ(E_FAIL, Add("NS", "item", "value"));
#ifdef _WIN32
    // Windows joins the account folder with '\\' and reports the directory as access denied.
    std::string strDescription = takeDescription();
    std::replace(strDescription.begin(), strDescription.end(), '\\', '/');
    EXPECT_EQ(0u, strDescription.rfind(IniPath("123") + ": cannot be written: ", 0)) << strDescription;
#else
    EXPECT_EQ(IniPath("123") + ": cannot be written: a directory stands where the file should be", takeDescription());
#endif
}
