#include "store/ComError.h"

void ThrowComError(HRESULT hr, REFIID riid, IUnknown* pObject)
{
    CComRef<IErrorInfo> spErrorInfo;
    CComRef<ISupportErrorInfo> spSupport;
    if (pObject != nullptr && SUCCEEDED(spSupport.QueryFrom(pObject, IID_ISupportErrorInfo)) &&
        spSupport->InterfaceSupportsErrorInfo(riid) == S_OK) {
        if (GetErrorInfo(0, spErrorInfo.Receive()) != S_OK) {
            spErrorInfo.Reset();
        }
    }
    throw CComError(hr, riid, spErrorInfo.Get());
}

HRESULT CComError::Report() const
{
    if (m_spErrorInfo) {
        SetErrorInfo(0, m_spErrorInfo.Get());
    }
    return m_hr;
}
