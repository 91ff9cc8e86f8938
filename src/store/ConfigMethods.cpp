// The settings methods of IVxCalStoreConfig: each goes to the configuration media
// of the current account.
#include "store/VxCalStoreData.h"

namespace {

WString TextOf(BSTR bs)
{
    return bs != nullptr ? WString(bs, SysStringLen(bs)) : WString();
}

}  // namespace

void CVxCalStoreData::ResetConfigMedia()
{
    delete m_pConfigMedia;
    m_pConfigMedia = nullptr;
}

CVxCalConfigMedia* CVxCalStoreData::GetConfigMedia()
{
    if (m_pConfigMedia != nullptr) {
        return m_pConfigMedia;
    }
    // Unlike the start step, the first account number wins here; the second is
    // asked only when the first is 0.
    if (m_dwUIN == 0) {
        m_dwUIN = AccountUINOrAltUIN();
    }
    // Made only once the account is known, so that a failed host call leaves no
    // media without a file behind.
    m_pConfigMedia = new CVxCalConfigMedia();
    m_pConfigMedia->Initialize(m_dwUIN);
    return m_pConfigMedia;
}

template <typename TCall>
HRESULT CVxCalStoreData::OnConfigMedia(TCall&& call)
{
    return ReportComErrors([&]() {
        // Settling the account calls the host, which may release this object.
        const CComRef<IUnknown> spSelf(Self());
        CVxCalConfigMedia* pMedia = GetConfigMedia();
        const HRESULT hr = call(pMedia);
        if (FAILED(hr) && !pMedia->GetLastFailure().empty()) {
            SetStoreErrorInfo(IID_IVxCalStoreConfig, pMedia->GetLastFailure());
        }
        return hr;
    });
}

HRESULT CVxCalStoreData::InitializeConfig(ULONG dwUIN)
{
    if (m_dwUIN != 0) {
        return E_FAIL;  // the account is already settled
    }
    if (m_pConfigMedia != nullptr) {
        return S_OK;
    }
    return ReportComErrors([&]() {
        m_pConfigMedia = new CVxCalConfigMedia();
        MakeAccountDir(dwUIN);
        m_pConfigMedia->Initialize(dwUIN);
        return S_OK;
    });
}

HRESULT CVxCalStoreData::AddString(BSTR bsNameSpace, BSTR bsItem, BSTR bsValue, BYTE cReportType)
{
    return OnConfigMedia([&](CVxCalConfigMedia* pMedia) {
        return pMedia->AddString(TextOf(bsNameSpace), TextOf(bsItem), TextOf(bsValue), cReportType);
    });
}

HRESULT CVxCalStoreData::GetString(BSTR bsNameSpace, BSTR bsItem, BSTR* pbsValue)
{
    // The out value is written on every path, even when the account cannot be settled.
    if (pbsValue != nullptr) {
        *pbsValue = nullptr;
    }
    return OnConfigMedia(
        [&](CVxCalConfigMedia* pMedia) { return pMedia->GetString(TextOf(bsNameSpace), TextOf(bsItem), pbsValue); });
}

HRESULT CVxCalStoreData::AddDWord(BSTR bsNameSpace, BSTR bsItem, ULONG dwValue, BYTE cReportType)
{
    return OnConfigMedia([&](CVxCalConfigMedia* pMedia) {
        return pMedia->AddDWord(TextOf(bsNameSpace), TextOf(bsItem), dwValue, cReportType);
    });
}

HRESULT CVxCalStoreData::GetDWord(BSTR bsNameSpace, BSTR bsItem, ULONG* pdwValue)
{
    return OnConfigMedia(
        [&](CVxCalConfigMedia* pMedia) { return pMedia->GetDWord(TextOf(bsNameSpace), TextOf(bsItem), pdwValue); });
}

HRESULT CVxCalStoreData::DeleteConfigItem(BSTR strNameSpace, BSTR strName)
{
    return OnConfigMedia(
        [&](CVxCalConfigMedia* pMedia) { return pMedia->DeleteConfigItem(TextOf(strNameSpace), TextOf(strName)); });
}
