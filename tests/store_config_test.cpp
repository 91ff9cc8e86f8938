// The settings interface of the store object: values written through
// IVxCalStoreConfig land in <root>/<account>/CalendarConfig.ini and read back, the
// account comes from the start step, from the host on first use, or from
// InitializeConfig, and every host reference is given back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "FakeHost.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

const ULONG s_dwUntouched = 0xDEADBEEF;

// A BSTR for the length of one call; the text may hold any UTF-16 units.
class CTestBstr {
public:
    explicit CTestBstr(const WString& str) : m_bs(SysAllocStringLen(str.data(), UINT(str.size()))) {}
    ~CTestBstr() { SysFreeString(m_bs); }
    CTestBstr(const CTestBstr&) = delete;
    CTestBstr& operator=(const CTestBstr&) = delete;
    operator BSTR() const { return m_bs; }

private:
    BSTR m_bs;
};

struct CRead {
    HRESULT hr;
    bool bNull;  // the out BSTR came back null
    WString value;
};

WString WithLoneSurrogate(const WString& str)
{
    return str + WCHAR(0xD800);
}

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

    HRESULT Add(const WString& strNs, const WString& strItem, const WString& strValue)
    {
        return m_pConfig->AddString(CTestBstr(strNs), CTestBstr(strItem), CTestBstr(strValue), 0);
    }

    HRESULT AddNumber(const WString& strNs, const WString& strItem, ULONG dwValue)
    {
        return m_pConfig->AddDWord(CTestBstr(strNs), CTestBstr(strItem), dwValue, 1);
    }

    HRESULT Delete(const WString& strNs, const WString& strItem)
    {
        return m_pConfig->DeleteConfigItem(CTestBstr(strNs), CTestBstr(strItem));
    }

    // The out BSTR starts as a live string, so that a failure has to clear it.
    CRead Get(const WString& strNs, const WString& strItem)
    {
        const BSTR bsBefore = SysAllocString(WTEXT("before"));
        BSTR bs = bsBefore;
        CRead read{m_pConfig->GetString(CTestBstr(strNs), CTestBstr(strItem), &bs), bs == nullptr, WString()};
        if (bs != nullptr) {
            read.value.assign(bs, SysStringLen(bs));
        }
        if (bs != bsBefore) {
            SysFreeString(bs);
        }
        SysFreeString(bsBefore);
        return read;
    }

    HRESULT GetNumber(const WString& strNs, const WString& strItem, ULONG& dwValue)
    {
        dwValue = s_dwUntouched;
        return m_pConfig->GetDWord(CTestBstr(strNs), CTestBstr(strItem), &dwValue);
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
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("item"), WTEXT("value")));
    EXPECT_EQ(" [NS]\r\n item=value\r\n", Bytes());
    // Written beside and renamed over: nothing else is left in the directory.
    EXPECT_THAT(ListDir(m_dir.Join("123")), UnorderedElementsAre("CalData.db", "CalendarConfig.ini"));
    EXPECT_THAT(m_host.account.Slots(), IsEmpty()) << "the account was settled by the start step";
}

TEST_F(StoreConfigStartedTest, ANewItemGoesDirectlyUnderItsSectionLine)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("first"), WTEXT("1")));
    ASSERT_EQ(S_OK, Add(WTEXT("Other"), WTEXT("x"), WTEXT("y")));
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("second"), WTEXT("2")));
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("first"), WTEXT("one")));
    EXPECT_EQ(" [NS]\r\n second=2\r\n first=one\r\n [Other]\r\n x=y\r\n", Bytes());
    EXPECT_EQ(WTEXT("one"), Get(WTEXT("NS"), WTEXT("first")).value);
}

TEST_F(StoreConfigStartedTest, StringsReadBackUnchanged)
{
    const WString texts[] = {
        WTEXT("plain"),
        WTEXT("caf\u00e9 \u65e5\u5386 \U0001F4C5"),
        WTEXT("it's O'Brien's"),
        WTEXT("a = b = c"),
        WTEXT("[x]"),
        WTEXT("a[b]c"),
    };
    for (size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
        SCOPED_TRACE(i);
        const WString strItem = WTEXT("item") + WString(1, WCHAR('0' + i));
        ASSERT_EQ(S_OK, Add(WTEXT("NS"), strItem, texts[i]));
        const CRead read = Get(WTEXT("NS"), strItem);
        EXPECT_EQ(S_OK, read.hr);
        EXPECT_EQ(texts[i], read.value);
    }
    // Each later write loaded and rewrote the earlier values; they all survived it.
    for (size_t i = 0; i < sizeof(texts) / sizeof(texts[0]); ++i) {
        EXPECT_EQ(texts[i], Get(WTEXT("NS"), WTEXT("item") + WString(1, WCHAR('0' + i))).value) << i;
    }
    // Non-ASCII names too; the file holds UTF-8.
    const WString strNs = WTEXT("\u8bbe\u7f6e"), strItem = WTEXT("cl\u00e9");
    ASSERT_EQ(S_OK, Add(strNs, strItem, WTEXT("\u00fc")));
    EXPECT_EQ(WTEXT("\u00fc"), Get(strNs, strItem).value);
    EXPECT_NE(std::string::npos, Bytes().find(" [" + Narrow(strNs) + "]\r\n " + Narrow(strItem) + "=\xc3\xbc\r\n"));
}

TEST_F(StoreConfigStartedTest, AValueWithABracketIsStillAKeyAfterTheNextWrite)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("[x]")));
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k2"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k2=v\r\n k=[x]\r\n", Bytes());
    EXPECT_EQ(WTEXT("[x]"), Get(WTEXT("NS"), WTEXT("k")).value);
    EXPECT_EQ(WTEXT("v"), Get(WTEXT("NS"), WTEXT("k2")).value);
}

TEST_F(StoreConfigStartedTest, NamesAreCaseSensitive)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("Item"), WTEXT("upper")));
    ASSERT_EQ(S_OK, Add(WTEXT("ns"), WTEXT("Item"), WTEXT("lower")));
    EXPECT_EQ(WTEXT("upper"), Get(WTEXT("NS"), WTEXT("Item")).value);
    EXPECT_EQ(WTEXT("lower"), Get(WTEXT("ns"), WTEXT("Item")).value);
    EXPECT_EQ(E_FAIL, Get(WTEXT("NS"), WTEXT("item")).hr);
}

TEST_F(StoreConfigStartedTest, NumbersAreStoredAsSignedDecimals)
{
    const struct {
        ULONG dwValue;
        const char* pszText;
    } cases[] = {{0, "0"}, {42, "42"}, {2147483647u, "2147483647"}, {2147483648u, "-2147483648"}, {4294967295u, "-1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszText);
        ASSERT_EQ(S_OK, AddNumber(WTEXT("Numbers"), WTEXT("n"), c.dwValue));
        EXPECT_EQ(std::string(" [Numbers]\r\n n=") + c.pszText + "\r\n", Bytes());
        ULONG dwValue = 0;
        EXPECT_EQ(S_OK, GetNumber(WTEXT("Numbers"), WTEXT("n"), dwValue));
        EXPECT_EQ(c.dwValue, dwValue);
        EXPECT_EQ(Wide(c.pszText), Get(WTEXT("Numbers"), WTEXT("n")).value);
    }
}

TEST_F(StoreConfigStartedTest, TextThatIsNoNumberReadsAsZeroOrItsLeadingNumber)
{
    const struct {
        const WCHAR* pszText;
        ULONG dwExpected;
    } cases[] = {{WTEXT("abc"), 0},
                 {WTEXT("-"), 0},
                 {WTEXT("  42abc"), 42},
                 {WTEXT("+7"), 7},
                 {WTEXT("99999999999"), 0x7FFFFFFFu},
                 {WTEXT("-99999999999"), 0x80000000u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Narrow(c.pszText));
        ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("n"), c.pszText));
        ULONG dwValue = 0;
        EXPECT_EQ(S_OK, GetNumber(WTEXT("NS"), WTEXT("n"), dwValue));
        EXPECT_EQ(c.dwExpected, dwValue);
    }
}

TEST_F(StoreConfigStartedTest, AnEmptyValueIsStoredButReadsAsMissing)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("empty"), WString()));
    EXPECT_EQ(" [NS]\r\n empty=\r\n", Bytes());
    const CRead read = Get(WTEXT("NS"), WTEXT("empty"));
    EXPECT_EQ(E_FAIL, read.hr);
    EXPECT_TRUE(read.bNull);
    ULONG dwValue = 0;
    EXPECT_EQ(E_FAIL, GetNumber(WTEXT("NS"), WTEXT("empty"), dwValue));
    EXPECT_EQ(s_dwUntouched, dwValue);
}

TEST_F(StoreConfigStartedTest, MissingItemsAndNamespacesFail)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("here"), WTEXT("1")));
    for (const WCHAR* pszNs : {WTEXT("NS"), WTEXT("Nowhere")}) {
        SCOPED_TRACE(Narrow(pszNs));
        const CRead read = Get(pszNs, WTEXT("gone"));
        EXPECT_EQ(E_FAIL, read.hr);
        EXPECT_TRUE(read.bNull);
        ULONG dwValue = 0;
        EXPECT_EQ(E_FAIL, GetNumber(pszNs, WTEXT("gone"), dwValue));
        EXPECT_EQ(s_dwUntouched, dwValue);
    }
}

TEST_F(StoreConfigStartedTest, ADeletedItemIsGoneAndASecondDeleteChangesNothing)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("keep"), WTEXT("1")));
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("drop"), WTEXT("2")));
    EXPECT_EQ(S_OK, Delete(WTEXT("NS"), WTEXT("drop")));
    const std::string strAfter = Bytes();
    EXPECT_EQ(" [NS]\r\n keep=1\r\n", strAfter);
    const CRead read = Get(WTEXT("NS"), WTEXT("drop"));
    EXPECT_EQ(E_FAIL, read.hr);
    EXPECT_TRUE(read.bNull);
    EXPECT_EQ(WTEXT("1"), Get(WTEXT("NS"), WTEXT("keep")).value);

    EXPECT_EQ(E_FAIL, Delete(WTEXT("NS"), WTEXT("drop")));
    EXPECT_EQ(E_FAIL, Delete(WTEXT("Nowhere"), WTEXT("keep")));
    EXPECT_EQ(strAfter, Bytes());
}

TEST_F(StoreConfigStartedTest, NullTextsCountAsEmpty)
{
    ASSERT_EQ(S_OK, m_pConfig->AddString(nullptr, CTestBstr(WTEXT("item")), CTestBstr(WTEXT("v")), 0));
    EXPECT_EQ(" []\r\n item=v\r\n", Bytes());
    EXPECT_EQ(WTEXT("v"), Get(WString(), WTEXT("item")).value);
    BSTR bs = nullptr;
    ASSERT_EQ(S_OK, m_pConfig->GetString(nullptr, CTestBstr(WTEXT("item")), &bs));
    EXPECT_EQ(WTEXT("v"), WString(bs, SysStringLen(bs)));
    SysFreeString(bs);
    ASSERT_EQ(S_OK, m_pConfig->AddDWord(nullptr, CTestBstr(WTEXT("n")), 5, 0));
    ULONG dwValue = 0;
    EXPECT_EQ(S_OK, m_pConfig->GetDWord(nullptr, CTestBstr(WTEXT("n")), &dwValue));
    EXPECT_EQ(5u, dwValue);

    // A null value stores the key empty, which then reads as missing.
    ASSERT_EQ(S_OK, m_pConfig->AddString(CTestBstr(WTEXT("NS")), CTestBstr(WTEXT("k")), nullptr, 0));
    EXPECT_EQ(" []\r\n n=5\r\n item=v\r\n [NS]\r\n k=\r\n", Bytes());
    EXPECT_EQ(E_FAIL, Get(WTEXT("NS"), WTEXT("k")).hr);

    EXPECT_EQ(S_OK, m_pConfig->DeleteConfigItem(nullptr, CTestBstr(WTEXT("item"))));
    EXPECT_EQ(" []\r\n n=5\r\n [NS]\r\n k=\r\n", Bytes());
}

// An empty item would match the section line itself: a null item is refused, and
// a delete with it must not take the section line away from the items below it.
TEST_F(StoreConfigStartedTest, ANullItemIsRefusedAndLeavesTheNamespaceWhole)
{
    ASSERT_EQ(S_OK, Add(WTEXT("A"), WTEXT("a"), WTEXT("1")));
    ASSERT_EQ(S_OK, Add(WTEXT("B"), WTEXT("b"), WTEXT("2")));
    const std::string strBefore = Bytes();
    EXPECT_EQ(E_FAIL, m_pConfig->AddString(CTestBstr(WTEXT("B")), nullptr, CTestBstr(WTEXT("lost")), 0));
    EXPECT_EQ(E_FAIL, m_pConfig->DeleteConfigItem(CTestBstr(WTEXT("B")), nullptr));
    EXPECT_EQ(E_FAIL, Get(WTEXT("B"), WString()).hr);
    EXPECT_EQ(strBefore, Bytes());
    EXPECT_EQ(WTEXT("2"), Get(WTEXT("B"), WTEXT("b")).value);
    EXPECT_EQ(E_FAIL, Get(WTEXT("A"), WTEXT("b")).hr);
}

TEST_F(StoreConfigStartedTest, ANullOutPointerFailsWithoutATouch)
{
    ASSERT_EQ(S_OK, AddNumber(WTEXT("NS"), WTEXT("n"), 9));
    EXPECT_EQ(E_FAIL, m_pConfig->GetString(CTestBstr(WTEXT("NS")), CTestBstr(WTEXT("n")), nullptr));
    EXPECT_EQ(E_FAIL, m_pConfig->GetDWord(CTestBstr(WTEXT("NS")), CTestBstr(WTEXT("n")), nullptr));
}

TEST_F(StoreConfigStartedTest, ALongValueReadsBackCutTo511Units)
{
    WString strLong;
    for (int i = 0; i < 600; ++i) {
        strLong += WCHAR('a' + i % 26);
    }
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("long"), strLong));
    EXPECT_EQ(" [NS]\r\n long=" + Narrow(strLong) + "\r\n", Bytes()) << "the file keeps it whole";
    const CRead read = Get(WTEXT("NS"), WTEXT("long"));
    EXPECT_EQ(S_OK, read.hr);
    EXPECT_EQ(strLong.substr(0, 511), read.value);

    // A pair that would straddle the cut is left out whole.
    const WString strStraddling = WString(510, WCHAR('x')) + WTEXT("\U0001F4C5") + WTEXT("tail");
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("pair"), strStraddling));
    EXPECT_EQ(WString(510, WCHAR('x')), Get(WTEXT("NS"), WTEXT("pair")).value);
}

TEST_F(StoreConfigStartedTest, TextWithoutANarrowFormIsRefusedAndNothingIsWritten)
{
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    const std::string strBefore = Bytes();
    const WString strBadNs = WithLoneSurrogate(WTEXT("NS")), strBadItem = WithLoneSurrogate(WTEXT("k"));
    EXPECT_EQ(E_FAIL, Add(strBadNs, WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(E_FAIL, Add(WTEXT("NS"), strBadItem, WTEXT("v")));
    EXPECT_EQ(E_FAIL, Add(WTEXT("NS"), WTEXT("k"), WithLoneSurrogate(WTEXT("v"))));
    EXPECT_EQ(E_FAIL, Add(WTEXT("NS"), WTEXT("k"), WString(1, WCHAR(0xDC00))));
    EXPECT_EQ(E_FAIL, AddNumber(strBadNs, WTEXT("n"), 1));
    EXPECT_EQ(E_FAIL, Delete(strBadNs, WTEXT("k")));
    EXPECT_EQ(E_FAIL, Delete(WTEXT("NS"), strBadItem));
    EXPECT_EQ(strBefore, Bytes());

    const CRead read = Get(strBadNs, WTEXT("k"));
    EXPECT_EQ(E_FAIL, read.hr);
    EXPECT_TRUE(read.bNull);
    ULONG dwValue = 0;
    EXPECT_EQ(E_FAIL, GetNumber(WTEXT("NS"), strBadItem, dwValue));
    EXPECT_EQ(s_dwUntouched, dwValue);
    EXPECT_EQ(WTEXT("v"), Get(WTEXT("NS"), WTEXT("k")).value);
}

// ---------------------------------------------------------------------------
// Which account's file

TEST_F(StoreConfigTest, AStartForAnotherAccountSwitchesTheFile)
{
    Start(m_host);
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("for 123")));
    const std::string strFirst = Bytes("123");

    MakeDirs(m_dir.Join("789"));
    ASSERT_TRUE(WriteFile(IniPath("789"), " [NS]\r\n k=for 789\r\n"));
    Start(m_other);  // 0 and 789: the second number wins
    ASSERT_EQ(789u, AccountNumber());

    EXPECT_EQ(WTEXT("for 789"), Get(WTEXT("NS"), WTEXT("k")).value);
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k2"), WTEXT("x")));
    EXPECT_EQ(" [NS]\r\n k2=x\r\n k=for 789\r\n", Bytes("789"));
    EXPECT_EQ(strFirst, Bytes("123"));
    EXPECT_THAT(m_other.account.Slots(), IsEmpty());
}

TEST_F(StoreConfigTest, WithoutTheStartTheFirstCallAsksTheHostForTheUin)
{
    ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    m_host.ClearLogs();
    MakeDirs(m_dir.Join("123"));  // this path makes no directory of its own

    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(std::vector<int>{13}, m_host.kernel.Slots());
    EXPECT_EQ(std::vector<int>{10}, m_host.account.Slots()) << "get_UIN is not 0, so get_AltUIN is not asked";
    EXPECT_EQ(123u, AccountNumber());
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));

    m_host.ClearLogs();
    EXPECT_EQ(WTEXT("v"), Get(WTEXT("NS"), WTEXT("k")).value);
    EXPECT_THAT(m_host.kernel.Slots(), IsEmpty()) << "the account is asked once";
}

TEST_F(StoreConfigTest, WithoutTheStartAZeroUinFallsBackToTheAltUin)
{
    ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, m_other.kernel.As<IDispatch>()));
    m_other.ClearLogs();
    MakeDirs(m_dir.Join("789"));

    ULONG dwValue = 0;
    EXPECT_EQ(E_FAIL, GetNumber(WTEXT("NS"), WTEXT("n"), dwValue));
    EXPECT_EQ((std::vector<int>{13, 13}), m_other.kernel.Slots());
    EXPECT_EQ((std::vector<int>{10, 12}), m_other.account.Slots());
    EXPECT_EQ(789u, AccountNumber());
    EXPECT_EQ("", Bytes("789")) << "the first call made the file empty";
    ASSERT_EQ(S_OK, AddNumber(WTEXT("NS"), WTEXT("n"), 3));
    EXPECT_EQ(S_OK, GetNumber(WTEXT("NS"), WTEXT("n"), dwValue));
    EXPECT_EQ(3u, dwValue);
}

TEST_F(StoreConfigTest, WithoutTheStartAndWithoutTheDirectoryEveryCallFails)
{
    ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    EXPECT_EQ(E_FAIL, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(E_FAIL, Get(WTEXT("NS"), WTEXT("k")).hr);
    EXPECT_EQ(E_FAIL, Delete(WTEXT("NS"), WTEXT("k")));
    EXPECT_FALSE(FileExists(m_dir.Join("123")));
    // The media keeps its missing file: a directory made later does not help it.
    MakeDirs(m_dir.Join("123"));
    EXPECT_EQ(E_FAIL, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_FALSE(FileExists(IniPath("123")));
}

TEST_F(StoreConfigTest, WithoutAKernelEveryCallGivesEPointerAndLeavesNoMedia)
{
    ULONG dwValue = 0;
    EXPECT_EQ(E_POINTER, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(E_POINTER, AddNumber(WTEXT("NS"), WTEXT("n"), 1));
    EXPECT_EQ(E_POINTER, Get(WTEXT("NS"), WTEXT("k")).hr);
    EXPECT_EQ(E_POINTER, GetNumber(WTEXT("NS"), WTEXT("n"), dwValue));
    EXPECT_EQ(E_POINTER, Delete(WTEXT("NS"), WTEXT("k")));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());
    EXPECT_EQ(0u, AccountNumber());

    // Once a kernel is there, the next call settles the account as usual.
    ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    MakeDirs(m_dir.Join("123"));
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
}

TEST_F(StoreConfigTest, AFailedHostCallLeavesNoMediaBehind)
{
    ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    MakeDirs(m_dir.Join("123"));
    m_host.kernel.Fail(13, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    m_host.kernel.Fail(13, S_OK);
    m_host.account.Fail(10, E_UNEXPECTED);
    EXPECT_EQ(E_UNEXPECTED, Get(WTEXT("NS"), WTEXT("k")).hr);
    EXPECT_EQ(0u, AccountNumber());
    // A media made for account 0 would have put its file beside the database.
    EXPECT_FALSE(FileExists(IniPath("0")));
    EXPECT_FALSE(FileExists(IniPath("123")));

    m_host.account.Fail(10, S_OK);
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
    EXPECT_FALSE(FileExists(IniPath("0")));
}

// ---------------------------------------------------------------------------
// InitializeConfig

TEST_F(StoreConfigTest, InitializeConfigMakesTheDirectoryAndAnEmptyFile)
{
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(77));
    EXPECT_THAT(ListDir(m_dir.Path()), UnorderedElementsAre("77"));
    EXPECT_EQ("", Bytes("77"));
    // No kernel is needed from here on, and the account number stays unsettled.
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("77"));
    EXPECT_EQ(0u, AccountNumber());
}

TEST_F(StoreConfigTest, ASecondInitializeConfigKeepsTheFirstAccount)
{
    ASSERT_EQ(S_OK, m_pConfig->InitializeConfig(77));
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(88));
    EXPECT_THAT(ListDir(m_dir.Path()), UnorderedElementsAre("77"));
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("77"));
}

TEST_F(StoreConfigTest, InitializeConfigFailsOnceTheAccountIsSettled)
{
    Start(m_host);
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77));
    EXPECT_FALSE(FileExists(m_dir.Join("77")));
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
}

TEST_F(StoreConfigTest, InitializeConfigFailsAfterTheHostWasAskedOnFirstUse)
{
    ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, m_host.kernel.As<IDispatch>()));
    MakeDirs(m_dir.Join("123"));
    ASSERT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77));
    EXPECT_FALSE(FileExists(m_dir.Join("77")));
}

TEST_F(StoreConfigTest, TheStartReplacesTheMediaOfInitializeConfig)
{
    ASSERT_EQ(S_OK, m_pConfig->InitializeConfig(77));
    Start(m_host);
    EXPECT_EQ(S_OK, Add(WTEXT("NS"), WTEXT("k"), WTEXT("v")));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
    EXPECT_EQ("", Bytes("77"));
}

}  // namespace
