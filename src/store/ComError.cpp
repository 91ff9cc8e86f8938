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

namespace {

// The error object this component hands out: a description of the cause, the
// interface that failed and the class's ProgID.
class CStoreErrorInfo final : public IErrorInfo {
public:
    CStoreErrorInfo(REFIID riid, const WString& strDescription) : m_cRef(1), m_iid(riid), m_strDescription(strDescription)
    {
    }
    CStoreErrorInfo(const CStoreErrorInfo&) = delete;
    CStoreErrorInfo& operator=(const CStoreErrorInfo&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override
    {
        if (ppvObject == nullptr) {
            return E_POINTER;
        }
        if (riid == IID_IUnknown || riid == IID_IErrorInfo) {
            *ppvObject = static_cast<IErrorInfo*>(this);
            AddRef();
            return S_OK;
        }
        *ppvObject = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG cRef = --m_cRef;
        if (cRef == 0) {
            delete this;
        }
        return cRef;
    }

    HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) override
    {
        return CopyOut<GUID>(m_iid, pGUID);
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) override
    {
        return CopyText(WTEXT("Brellin.VxCalStoreData"), pBstrSource);
    }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) override
    {
        return CopyText(m_strDescription.c_str(), pBstrDescription);
    }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) override
    {
        return CopyOut<BSTR>(nullptr, pBstrHelpFile);
    }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) override
    {
        return CopyOut<DWORD>(0, pdwHelpContext);
    }

private:
    ~CStoreErrorInfo() = default;

    // An out value; a null out pointer is refused.
    template <typename T>
    static HRESULT CopyOut(const T& value, T* pOut)
    {
        if (pOut == nullptr) {
            return E_INVALIDARG;
        }
        *pOut = value;
        return S_OK;
    }

    static HRESULT CopyText(LPCWSTR pszText, BSTR* pbstr)
    {
        if (pbstr == nullptr) {
            return E_INVALIDARG;
        }
        *pbstr = SysAllocString(pszText);
        return *pbstr != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    ULONG m_cRef;
    IID m_iid;
    WString m_strDescription;
};

}  // namespace

void SetStoreErrorInfo(REFIID riid, const WString& strDescription)
{
    try {
        IErrorInfo* pErrorInfo = new CStoreErrorInfo(riid, strDescription);
        SetErrorInfo(0, pErrorInfo);
        pErrorInfo->Release();
    } catch (...) {
        // Without memory for the description the result alone has to do.
    }
}
