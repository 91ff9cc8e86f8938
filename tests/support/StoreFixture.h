// A store object in a scratch root with the fake host of account 123 behind it. At
// the end it must go with its last reference and give back every host reference.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeHost.h"
#include "TestSupport.h"
#include "brellin/VxCalStore.h"

namespace fakehost {

typedef HRESULT (*PFN_CREATE_STORE)(IUnknown* pUnkOuter, REFIID riid, void** ppv);

class CStoreTest : public ::testing::Test {
protected:
    explicit CStoreTest(PFN_CREATE_STORE pfnCreate) : m_pfnCreate(pfnCreate) {}
    void SetUp() override { Create(); }
    void TearDown() override
    {
        Destroy();
        EXPECT_TRUE(m_host.Settled());
        EXPECT_TRUE(m_fakes.Settled());
    }

    void Create()
    {
        ASSERT_EQ(S_OK, m_pfnCreate(nullptr, IID_IVxCalStoreData, reinterpret_cast<void**>(&m_pData)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IVxCalStoreConfig, reinterpret_cast<void**>(&m_pConfig)));
        ASSERT_EQ(S_OK, m_pData->QueryInterface(IID_IExtendKernalSequence, reinterpret_cast<void**>(&m_pSeq)));
    }
    void Destroy()
    {
        if (m_pData != nullptr) {
            m_pSeq->Release();
            m_pConfig->Release();
            EXPECT_EQ(0u, m_pData->Release());
            m_pData = nullptr;
        }
    }
    // Started the way the host brings the store up.
    void Start()
    {
        ASSERT_EQ(S_OK, m_pSeq->StartSequence(m_host.Kernel()));
        ASSERT_EQ(S_OK, m_pSeq->EndStartupBatch());
        m_host.ClearLogs();
    }

    BSTR B(const char* pszUtf8)  // lives to the end of the test; null for null
    {
        return m_bstrs.emplace_back(pszUtf8 != nullptr ? Bstr(pszUtf8) : CBstrPtr(nullptr, &SysFreeString)).get();
    }
    // The account's database, as another process sees it.
    std::string Sql(const std::string& strScript, const std::string& strAccount = "123")
    {
        return testing_support::RunSqliteShell(m_dir.Join(strAccount + "/CalData.db"), strScript);
    }
    std::string Counts(const std::string& strAccount = "123")
    {
        return Sql("select count(*) from Calendar; select count(*) from Event;", strAccount);
    }

    const PFN_CREATE_STORE m_pfnCreate;
    testing_support::CTempDir m_dir;
    testing_support::CScopedRoot m_root{m_dir.Path()};
    CFakeHost m_host{123};
    CFakeSet m_fakes;
    std::vector<CBstrPtr> m_bstrs;
    IVxCalStoreData* m_pData = nullptr;
    IVxCalStoreConfig* m_pConfig = nullptr;
    IExtendKernalSequence* m_pSeq = nullptr;
};

}  // namespace fakehost
