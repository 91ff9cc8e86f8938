// The settings interface of the store object: values written through
// IVxCalStoreConfig land in <root>/<account>/CalendarConfig.ini and read back, the
// account comes from the start step, from the host on first use, or from
// InitializeConfig, and every host reference is given back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "StoreFixture.h"
#include "TestSupport.h"
#include "store/VxCalStoreData.h"

using namespace fakehost;
using namespace testing_support;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

namespace {

const std::string s_strFailed = "failed";

class StoreConfigTest : public CStoreTest {
protected:
    StoreConfigTest() : CStoreTest(&CVxCalStoreData::CreateInstance) {}
    void TearDown() override
    {
        CStoreTest::TearDown();
        EXPECT_TRUE(m_other.Settled());
    }

    void Start(CFakeHost& host)
    {
        ASSERT_EQ(S_OK, m_pSeq->StartSequence(host.Kernel()));
        host.ClearLogs();
    }
    // The host's kernel without the start step, which would make the account directory.
    void InitializeWithoutStart(CFakeHost& host, const char* pszDir)
    {
        ASSERT_EQ(S_OK, m_pData->Initialize(nullptr, host.kernel.As<IDispatch>()));
        MakeDirs(m_dir.Join(pszDir));
    }

    HRESULT Add(const char* pszNs, const char* pszItem, const char* pszValue)
    {
        return m_pConfig->AddString(B(pszNs), B(pszItem), B(pszValue), 0);
    }
    HRESULT Delete(const char* pszNs, const char* pszItem) { return m_pConfig->DeleteConfigItem(B(pszNs), B(pszItem)); }
    // The value read, or "failed" when the read failed cleanly: the out BSTR, which
    // starts as a live string, cleared, the out number untouched.
    std::string Read(const char* pszNs, const char* pszItem)
    {
        const BSTR bsBefore = B("before");
        BSTR bs = bsBefore;
        const HRESULT hr = m_pConfig->GetString(B(pszNs), B(pszItem), &bs);
        m_bstrs.emplace_back(bs != bsBefore ? bs : nullptr, &SysFreeString);
        return FAILED(hr) ? (bs == nullptr ? s_strFailed : "failed, the out not cleared") : Narrow(bs);
    }
    std::string ReadNumber(const char* pszNs, const char* pszItem)
    {
        ULONG dwValue = 0xDEADBEEF;
        const HRESULT hr = m_pConfig->GetDWord(B(pszNs), B(pszItem), &dwValue);
        return FAILED(hr) ? (dwValue == 0xDEADBEEF ? s_strFailed : "failed, the out written") : std::to_string(dwValue);
    }
    std::string IniPath(const std::string& strAccount) { return m_dir.Join(strAccount + "/CalendarConfig.ini"); }
    std::string Bytes(const std::string& strAccount = "123")
    {
        std::string strContent;
        return ReadFile(IniPath(strAccount), strContent) ? strContent : "<no file>";
    }
    DWORD AccountNumber() { return static_cast<CVxCalStoreData*>(m_pData)->AccountNumber(); }

    CFakeHost m_other{0, 789};
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

// The file's layout, its values and numbers, are the settings media's to test;
// here, what the store adds: null texts, refusals and which account's file.
TEST_F(StoreConfigStartedTest, MissingItemsFailCleanlyAndNullTextsCountAsEmpty)
{
    ASSERT_EQ(S_OK, m_pConfig->AddDWord(B("NS"), B("n"), 4294967295u, 1));
    ASSERT_EQ(S_OK, Add("NS", "v", "[2]"));
    ASSERT_EQ(S_OK, Add("NS", "null", nullptr));
    ASSERT_EQ(S_OK, Add(nullptr, "item", "v"));  // a null section is the empty one
    EXPECT_EQ(S_OK, Delete("NS", "v"));
    EXPECT_EQ(" [NS]\r\n null=\r\n n=-1\r\n []\r\n item=v\r\n", Bytes());
    // Written beside and renamed over: nothing else is left in the directory.
    EXPECT_THAT(ListDir(m_dir.Join("123")), UnorderedElementsAre("CalData.db", "CalendarConfig.ini"));
    for (const char* pszItem : {"null", "gone"}) {
        EXPECT_EQ(s_strFailed, Read("NS", pszItem)) << pszItem;
        EXPECT_EQ(s_strFailed, ReadNumber("NS", pszItem)) << pszItem;
    }
    // An empty item would match the section line itself: a null item is refused, and
    // a delete with it must not take the section line away from the items below it.
    const std::string strBefore = Bytes();
    EXPECT_EQ(E_FAIL, Add("NS", nullptr, "lost"));
    EXPECT_EQ(E_FAIL, Delete("NS", nullptr));
    EXPECT_EQ(strBefore, Bytes());
    EXPECT_EQ(E_FAIL, m_pConfig->GetString(B("NS"), B("n"), nullptr));
    EXPECT_EQ(E_FAIL, m_pConfig->GetDWord(B("NS"), B("n"), nullptr));
}

// A failed call gives its cause, with the file's path, as the thread's error object:
// the settings file and the database alike, on both data interfaces.
TEST_F(StoreConfigStartedTest, FailuresAreReportedWithTheirCause)
{
    ISupportErrorInfo* pSupport = nullptr;
    ASSERT_EQ(S_OK, m_pConfig->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&pSupport)));
    EXPECT_EQ(S_OK, pSupport->InterfaceSupportsErrorInfo(IID_IVxCalStoreConfig));
    EXPECT_EQ(S_OK, pSupport->InterfaceSupportsErrorInfo(IID_IVxCalStoreData));
    EXPECT_EQ(S_FALSE, pSupport->InterfaceSupportsErrorInfo(IID_IExtendKernalSequence));
    pSupport->Release();
    const auto description = []() {
        IErrorInfo* pInfo = nullptr;
        BSTR bs = nullptr;
        if (GetErrorInfo(0, &pInfo) != S_OK || pInfo == nullptr) {
            return std::string("<no error object>");
        }
        pInfo->GetDescription(&bs);
        pInfo->Release();
        const std::string strText = Narrow(bs);
        SysFreeString(bs);
        return strText;
    };

    std::remove(IniPath("123").c_str());
    MakeDirs(IniPath("123"));
    EXPECT_EQ(E_FAIL, Add("NS", "item", "value"));
    // Windows writes the path with its own separators.
    const std::string strCause = description();
    EXPECT_THAT(strCause, ::testing::StartsWith(m_dir.Path()));
    EXPECT_THAT(strCause,
                ::testing::EndsWith("CalendarConfig.ini: cannot be written: a directory stands where the file should be"));

    // SQLite cannot make its journal where a directory of that name stands.
    ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
    Sql("insert into Calendar(UIN, CalID) values(123, 5);");
    MakeDirs(m_dir.Join("123/CalData.db-journal"));
    EXPECT_EQ(E_FAIL, m_pData->DelCalendar(5));
    EXPECT_THAT(description(), ::testing::HasSubstr("CalData.db: "));
    std::filesystem::remove(m_dir.Join("123/CalData.db-journal"));
    EXPECT_EQ("1\n", Sql("select count(*) from Calendar;"));
}

// ---------------------------------------------------------------------------
// Which account's file

TEST_F(StoreConfigTest, InitializeConfigHoldsUntilAStartAndAnotherStartSwitchesTheFile)
{
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(77));
    EXPECT_EQ("", Bytes("77")) << "the directory and an empty file";
    EXPECT_EQ(S_OK, m_pConfig->InitializeConfig(88)) << "a second one keeps the first account";
    EXPECT_EQ(S_OK, Add("NS", "k", "v"));  // no kernel needed
    EXPECT_EQ(0u, AccountNumber()) << "the account number stays unsettled";
    Start(m_host);  // the start replaces the media and settles the account
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(99));
    EXPECT_EQ(S_OK, Add("NS", "k", "w"));
    EXPECT_EQ(" [NS]\r\n k=w\r\n", Bytes("123"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("77"));

    MakeDirs(m_dir.Join("789"));
    ASSERT_TRUE(WriteFile(IniPath("789"), " [NS]\r\n k=for 789\r\n"));
    Start(m_other);  // 0 and 789: the second number wins
    EXPECT_EQ("for 789", Read("NS", "k"));
}

TEST_F(StoreConfigTest, WithoutTheStartTheFirstCallAsksTheHostForTheAccountOnce)
{
    // Without a kernel every call gives E_POINTER and leaves no media.
    EXPECT_EQ(E_POINTER, Add("NS", "k", "v"));
    EXPECT_THAT(ListDir(m_dir.Path()), IsEmpty());

    // A failed host call leaves no media behind (one for account 0 would sit beside the database).
    InitializeWithoutStart(m_host, "123");
    m_host.kernel.Fail(KERNEL_ACCOUNT, E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, Add("NS", "k", "v"));
    m_host.kernel.Fail(KERNEL_ACCOUNT, S_OK);
    EXPECT_FALSE(FileExists(IniPath("0")));
    m_host.ClearLogs();
    ASSERT_EQ(S_OK, Add("NS", "k", "v"));
    EXPECT_EQ("v", Read("NS", "k"));
    EXPECT_EQ(" [NS]\r\n k=v\r\n", Bytes("123"));
    EXPECT_EQ(1u, m_host.account.Calls().size()) << "asked once; a UIN needs no AltUIN";
    EXPECT_EQ(E_FAIL, m_pConfig->InitializeConfig(77)) << "once the host was asked, the account is settled";
}

TEST_F(StoreConfigTest, WithoutTheStartAZeroUinFallsBackToTheAltUin)
{
    InitializeWithoutStart(m_other, "789");
    EXPECT_EQ(s_strFailed, ReadNumber("NS", "n"));
    EXPECT_EQ(789u, AccountNumber());
    EXPECT_EQ("", Bytes("789")) << "the first call made the file empty";
}

}  // namespace
