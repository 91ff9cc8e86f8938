// The store object's identity, life cycle and start/stop sequence.
#include "store/VxCalStoreData.h"

#include "account/UserDataDir.h"
#include "host/CalendarUtil.h"
#include "store/TypeInfo.h"

namespace {

PFN_OBJECT_LOCK_HOOK s_pfnObjectLockHook = nullptr;

}  // namespace

// ---------------------------------------------------------------------------
// Creation, identity and reference counting

void CVxCalStoreData::SetObjectLockHook(PFN_OBJECT_LOCK_HOOK pfnHook)
{
    s_pfnObjectLockHook = pfnHook;
}

CVxCalStoreData::CVxCalStoreData()
    : m_pStoreMedia(nullptr),
      m_bReady(FALSE),
      m_pConfigMedia(nullptr),
      m_dwUIN(0),
      m_cRef(0),
      m_innerUnknown(this),
      m_pOuterUnknown(&m_innerUnknown)
{
    if (s_pfnObjectLockHook != nullptr) {
        s_pfnObjectLockHook(TRUE);
    }
}

CVxCalStoreData::~CVxCalStoreData()
{
    if (s_pfnObjectLockHook != nullptr) {
        s_pfnObjectLockHook(FALSE);
    }
    // The media commits a batch still open before it closes the file.
    DropStoreMedia();
    ResetConfigMedia();
    // The timer goes next (its handlers are deleted uncalled), then the kernel.
}

HRESULT CVxCalStoreData::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    if (pUnkOuter != nullptr && riid != IID_IUnknown) {
        return CLASS_E_NOAGGREGATION;
    }
    CVxCalStoreData* pObject = nullptr;
    try {
        pObject = new CVxCalStoreData();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (pUnkOuter != nullptr) {
        pObject->m_pOuterUnknown = pUnkOuter;
    }
    // Hold a reference across the query, so that a failed one frees the object.
    pObject->InternalAddRef();
    const HRESULT hr = pObject->InternalQueryInterface(riid, ppvObject);
    pObject->InternalRelease();
    return hr;
}

HRESULT CVxCalStoreData::InternalQueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr) {
        return E_POINTER;
    }
    *ppvObject = nullptr;
    if (riid == IID_IUnknown) {
        *ppvObject = static_cast<IUnknown*>(&m_innerUnknown);
    } else if (riid == IID_IVxCalStoreData || riid == IID_IDispatch) {
        *ppvObject = static_cast<IVxCalStoreData*>(this);
    } else if (riid == IID_IVxCalStoreConfig) {
        *ppvObject = static_cast<IVxCalStoreConfig*>(this);
    } else if (riid == IID_IExtendKernalSequence) {
        *ppvObject = static_cast<IExtendKernalSequence*>(this);
    } else if (riid == IID_IProvideClassInfo) {
        *ppvObject = static_cast<IProvideClassInfo*>(this);
    } else if (riid == IID_ISupportErrorInfo) {
        *ppvObject = static_cast<ISupportErrorInfo*>(this);
    } else {
        return E_NOINTERFACE;
    }
    static_cast<IUnknown*>(*ppvObject)->AddRef();
    return S_OK;
}

ULONG CVxCalStoreData::InternalAddRef()
{
    return ++m_cRef;
}

ULONG CVxCalStoreData::InternalRelease()
{
    const ULONG cRef = --m_cRef;
    if (cRef == 0) {
        delete this;
    }
    return cRef;
}

HRESULT CVxCalStoreData::CInnerUnknown::QueryInterface(REFIID riid, void** ppvObject)
{
    return m_pOwner->InternalQueryInterface(riid, ppvObject);
}

ULONG CVxCalStoreData::CInnerUnknown::AddRef()
{
    return m_pOwner->InternalAddRef();
}

ULONG CVxCalStoreData::CInnerUnknown::Release()
{
    return m_pOwner->InternalRelease();
}

HRESULT CVxCalStoreData::QueryInterface(REFIID riid, void** ppvObject)
{
    return m_pOuterUnknown->QueryInterface(riid, ppvObject);
}

ULONG CVxCalStoreData::AddRef()
{
    return m_pOuterUnknown->AddRef();
}

ULONG CVxCalStoreData::Release()
{
    return m_pOuterUnknown->Release();
}

HRESULT CVxCalStoreData::GetClassInfo(ITypeInfo** ppTI)
{
    return LoadStoreTypeInfo(CLSID_VxCalStoreData, ppTI);
}

// ---------------------------------------------------------------------------
// Account directory and store media

BOOL CVxCalStoreData::GetUserDataDir(DWORD dwUIN, WString& strPath)
{
    return ::GetUserDataDir(dwUIN, strPath);
}

void CVxCalStoreData::MakeAccountDir(DWORD dwUIN)
{
    WString strDir;
    GetUserDataDir(dwUIN, strDir);
    CreateDirectoryW(strDir.c_str(), nullptr);
}

CVxCalStoreMedia* CVxCalStoreData::GetStoreMedia()
{
    if (m_pStoreMedia == nullptr) {
        m_pStoreMedia = new CVxCalStoreMedia();
        MakeAccountDir(m_dwUIN);
    }
    return m_pStoreMedia;
}

void CVxCalStoreData::DropStoreMedia()
{
    delete m_pStoreMedia;
    m_pStoreMedia = nullptr;
}

// ---------------------------------------------------------------------------
// Bringing the store up without the sequence

HRESULT CVxCalStoreData::Initialize(BSTR /*bsPath*/, IDispatch* pDispatch)
{
    return ReportComErrors([&]() {
        InitializeCore(pDispatch);
        return S_OK;
    });
}

void CVxCalStoreData::InitializeCore(IDispatch* pDispatch)
{
    CComRef<ICalendarKernel> spKernel;
    const HRESULT hr = spKernel.QueryFrom(pDispatch, IID_ICalendarKernel);
    m_spKernel = spKernel;
    if (pDispatch != nullptr && FAILED(hr) && hr != E_NOINTERFACE) {
        ThrowComError(hr, IID_ICalendarKernel, pDispatch);
    }
    if (SUCCEEDED(GetStoreMedia()->OpenAccount(m_dwUIN, FALSE))) {
        m_bReady = TRUE;
    }
}

CVxCalStoreData::EDataSource CVxCalStoreData::DataSourceOf(BSTR bsCalType)
{
    const WCHAR* pszType = bsCalType != nullptr ? bsCalType : WTEXT("");
    if (WStrCmp(pszType, WTEXT("LumoCalendar")) == 0) {
        return EDataSource::Database;
    }
    if (WStrCmp(pszType, WTEXT("ICalendar")) == 0 || WStrCmp(pszType, WTEXT("CSVCalendar")) == 0) {
        return EDataSource::File;
    }
    return EDataSource::Unknown;
}

HRESULT CVxCalStoreData::SetDataSource(BSTR bsCalType, BSTR bsFileName)
{
    switch (DataSourceOf(bsCalType)) {
    case EDataSource::Database: return S_OK;
    case EDataSource::File:
        return ReportComErrors([&]() {
            // The file-based sources open the account's own database, kept open.
            const HRESULT hr = GetStoreMedia()->Open(m_dwUIN, bsFileName, TRUE);
            m_bReady = SUCCEEDED(hr) ? TRUE : FALSE;
            return SUCCEEDED(hr) ? hr : E_FAIL;
        });
    case EDataSource::Unknown:
    default: return E_FAIL;
    }
}

// ---------------------------------------------------------------------------
// The host's start and stop sequence

CComRef<ICalendarAccount> CVxCalStoreData::Account()
{
    ICalendarKernel* pKernel = RequireHost(m_spKernel.Get(), IID_ICalendarKernel);
    CComRef<ICalendarAccount> spAccount;
    CheckHost(pKernel->get_Account(spAccount.Receive()), IID_ICalendarKernel, pKernel);
    RequireHost(spAccount.Get(), IID_ICalendarAccount);
    return spAccount;
}

DWORD CVxCalStoreData::AccountUIN()
{
    CComRef<ICalendarAccount> spAccount = Account();
    ULONG dwUIN = 0;
    CheckHost(spAccount->get_UIN(&dwUIN), IID_ICalendarAccount, spAccount.Get());
    return dwUIN;
}

DWORD CVxCalStoreData::AccountAltUIN()
{
    CComRef<ICalendarAccount> spAccount = Account();
    ULONG dwAltUIN = 0;
    CheckHost(spAccount->get_AltUIN(&dwAltUIN), IID_ICalendarAccount, spAccount.Get());
    return dwAltUIN;
}

DWORD CVxCalStoreData::AccountUINOrAltUIN()
{
    const DWORD dwUIN = AccountUIN();
    return dwUIN != 0 ? dwUIN : AccountAltUIN();
}

void CVxCalStoreData::SettleAccountNumber()
{
    // The second account number wins whenever there is one.
    m_dwUIN = AccountUIN();
    const DWORD dwAltUIN = AccountAltUIN();
    m_dwUIN = dwAltUIN != 0 ? dwAltUIN : AccountUIN();
}

HRESULT CVxCalStoreData::StartSequence(ICalendarKernel* pKernel)
{
    if (pKernel == nullptr) {
        return E_FAIL;
    }
    // The host may release this object while it is being called back.
    const CComRef<IUnknown> spSelf(Self());
    const HRESULT hr = ReportComErrors([&]() {
        m_spKernel = pKernel;
        m_bReady = TRUE;
        SettleAccountNumber();
        MakeAccountDir(m_dwUIN);

        CComRef<IDispatch> spDispatch;
        const HRESULT hrQuery = spDispatch.QueryFrom(m_spKernel.Get(), IID_IDispatch);
        if (FAILED(hrQuery) && hrQuery != E_NOINTERFACE) {
            ThrowComError(hrQuery, IID_IDispatch, m_spKernel.Get());
        }
        InitializeCore(spDispatch.Get());
        ResetConfigMedia();
        return S_OK;
    });
    return FAILED(hr) ? hr : RunStartupEnumeration();
}

HRESULT CVxCalStoreData::RunStartupEnumeration()
{
    try {
        // The host's start-up writes go into one transaction until the next tick.
        CVxCalStoreMedia* pMedia = GetStoreMedia();
        if (m_bReady && FAILED(pMedia->SetBatchMode(TRUE))) {
            // The store goes on without it; a host that needs all-or-nothing asks
            // for batch mode itself and sees the failure.
            CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_ERROR, g_szLogModule,
                                          WTEXT("The start-up batch could not begin: %s\r\n"),
                                          pMedia->GetLastFailure().c_str());
        }
        m_timer.Tick().Connect(this, &CVxCalStoreData::OnTimer);

        CComRef<ICalendarVisitor> spVisitor;
        {
            CComRef<ICalendarAccount> spAccount = Account();
            const HRESULT hr = spVisitor.QueryFrom(spAccount.Get(), IID_ICalendarVisitor);
            if (FAILED(hr) && hr != E_NOINTERFACE) {
                ThrowComError(hr, IID_ICalendarVisitor, spAccount.Get());
            }
        }
        if (FAILED(EnumerateCalendars(spVisitor.Get(), true))) {
            return E_FAIL;
        }
    } catch (...) {
        // A failure from here on is reported as E_FAIL; what was done stays done.
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CVxCalStoreData::RunSequence()
{
    return S_OK;
}

HRESULT CVxCalStoreData::FinishStartupBatch()
{
    m_timer.Tick().Disconnect(this, &CVxCalStoreData::OnTimer);
    if (m_pStoreMedia == nullptr) {
        return S_OK;
    }
    const HRESULT hr = m_pStoreMedia->SetBatchMode(FALSE);
    // A batch that could not commit (the file held by another process) is tried
    // again on the next tick rather than left open.
    if (FAILED(hr) && m_pStoreMedia->IsBatchMode()) {
        m_timer.Tick().Connect(this, &CVxCalStoreData::OnTimer);
    }
    return hr;
}

HRESULT CVxCalStoreData::EndStartupBatch()
{
    return ReportComErrors([&]() { return ReportStoreFailure(FinishStartupBatch()); });
}

HRESULT CVxCalStoreData::StopSequence()
{
    // A stop without a start (or a second stop) has no kernel to ask.
    if (!m_spKernel) {
        return E_POINTER;
    }
    // The host may release this object while it is being called back.
    const CComRef<IUnknown> spSelf(Self());
    const HRESULT hr = ReportComErrors([&]() {
        CComRef<IAccountSettings> spSettings;
        {
            CComRef<ICalendarAccount> spAccount = Account();
            CComRef<IUnknown> spSettingsObject;
            CheckHost(spAccount->get_Settings(spSettingsObject.Receive()), IID_ICalendarAccount, spAccount.Get());
            spSettings.QueryFrom(spSettingsObject.Get(), IID_IAccountSettings);
        }
        BYTE cStoreMode = 0;
        if (spSettings) {
            const CBstr bsName(WTEXT("cStoreMode"));
            spSettings->GetByteValue(bsName.Get(), &cStoreMode);
        }
        if (cStoreMode == 1) {
            if (FAILED(GetStoreMedia()->DelAllCalendar()) || FAILED(GetStoreMedia()->DelAllEvent())) {
                return ReportStoreFailure(E_FAIL);
            }
        }
        // The batch is committed here, where its failure can still be reported;
        // the store stays on its file so that a retry (or its release) can commit it.
        return ReportStoreFailure(FinishStartupBatch());
    });
    if (FAILED(hr)) {
        return hr;
    }
    m_spKernel.Reset();
    m_bReady = FALSE;
    DropStoreMedia();
    return S_OK;
}

void CVxCalStoreData::OnTimer()
{
    // Runs from the window procedure: nothing may be thrown through the host's
    // message loop, and nobody receives a result, so a failure is logged.
    ReportComErrors([&]() {
        if (FAILED(FinishStartupBatch()) && m_pStoreMedia != nullptr) {
            CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_ERROR, g_szLogModule,
                                          WTEXT("The start-up batch could not be committed: %s\r\n"),
                                          m_pStoreMedia->GetLastFailure().c_str());
        }
        CCalendarLogger::Calendar_Log(EN_LOG_SERVERITY_INFO, g_szLogModule, WTEXT("OnTimer ------"));
        return S_OK;
    });
}
