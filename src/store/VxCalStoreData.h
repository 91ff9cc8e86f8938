// CVxCalStoreData: the COM object the host drives. It keeps the host's kernel,
// the account number and the store media, converts host items to records and
// back, and ends the start-up batch on the first tick of its timer.
#pragma once

#include <memory>

#include "brellin/VxCalStore.h"
#include "config/VxCalConfigMedia.h"
#include "media/VxCalStoreMedia.h"
#include "store/ComError.h"
#include "store/ComRef.h"
#include "store/RVxTimer.h"

// Called with TRUE when a store object is made and FALSE when it goes, so that the
// module can count its live objects.
typedef void (*PFN_OBJECT_LOCK_HOOK)(BOOL bLock);

// IDispatch for one of the object's dual interfaces.
template <typename TInterface>
class CVxDualInterface : public TInterface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
};

class CVxCalStoreData final : public CVxDualInterface<IVxCalStoreData>,
                              public CVxDualInterface<IVxCalStoreConfig>,
                              public IExtendKernalSequence,
                              public IProvideClassInfo,
                              public ISupportErrorInfo {
public:
    // Makes a new object and asks it for riid. With pUnkOuter the object is
    // aggregated: riid must then be IUnknown, and the inner IUnknown is returned.
    static HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject);

    static void SetObjectLockHook(PFN_OBJECT_LOCK_HOOK pfnHook);

    // IUnknown: answered by the outer object when aggregated.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IVxCalStoreData
    HRESULT STDMETHODCALLTYPE Initialize(BSTR bsPath, IDispatch* pDispatch) override;
    HRESULT STDMETHODCALLTYPE SetDataSource(BSTR bsCalType, BSTR bsFileName) override;
    HRESULT STDMETHODCALLTYPE GetAllCalendar(IUnknown* pUnkCal) override;
    HRESULT STDMETHODCALLTYPE GetAllCalEvent(ULONG dwCalID, IUnknown* pUnkEvent) override;
    HRESULT STDMETHODCALLTYPE AddCalendar(IUnknown* pCalItem) override;
    HRESULT STDMETHODCALLTYPE DelCalendar(ULONG dwCalID) override;
    HRESULT STDMETHODCALLTYPE UpdateCalendar(IUnknown* pCalItem) override;
    HRESULT STDMETHODCALLTYPE AddCalEvent(IUnknown* pCalEvent) override;
    HRESULT STDMETHODCALLTYPE UpdateCalEvent(IUnknown* pCalEvent) override;
    HRESULT STDMETHODCALLTYPE DelCalEvent(ULONG dwCalID, ULONG dwEventID) override;
    HRESULT STDMETHODCALLTYPE GetAllEvent(IUnknown* pUnkEvtVisit) override;
    HRESULT STDMETHODCALLTYPE QueryCalendar(ENUM_STORE_QRURY_CALENDAR_TYPE enType, IUnknown* pVxData,
                                            IUnknown* pUnkCalVisit) override;
    HRESULT STDMETHODCALLTYPE QueryEvent(ULONG dwCalID, ENUM_STORE_QRURY_EVENT_TYPE enType, IUnknown* pVxData,
                                         IUnknown* pUnkEvtVisit) override;
    HRESULT STDMETHODCALLTYPE GetAllCalendarEx(BSTR bsCalType, BSTR bsFileName, IUnknown* pUnkCal) override;
    HRESULT STDMETHODCALLTYPE GetAllCalEventEx(BSTR bsCalType, BSTR bsFileName, ULONG dwCalID,
                                               IUnknown* pUnkEvent) override;
    HRESULT STDMETHODCALLTYPE GetPeriodEvent(ULONG dwBegindTime, ULONG dwEndTime, IUnknown* pUnkVisit) override;
    HRESULT STDMETHODCALLTYPE GetOneCalendar(ULONG dwCalID, IUnknown* pUnkCalItem) override;
    HRESULT STDMETHODCALLTYPE GetOneCalEvent(ULONG dwCalID, ULONG dwEvtID, IUnknown* pUnkEvtItem) override;
    HRESULT STDMETHODCALLTYPE SetBatchMode(LONG bBatchMode) override;
    HRESULT STDMETHODCALLTYPE DelAllEventofCalendar(ULONG dwCalID) override;
    HRESULT STDMETHODCALLTYPE GetPeriodEventEx(ULONG dwBegindTime, ULONG dwEndTime, ULONG dwCalID,
                                               IUnknown* pUnkVisit) override;
    HRESULT STDMETHODCALLTYPE IsOutlookIDExist(BSTR bstrID, VARIANT_BOOL* bExist) override;

    // IVxCalStoreConfig
    HRESULT STDMETHODCALLTYPE InitializeConfig(ULONG dwUIN) override;
    HRESULT STDMETHODCALLTYPE AddString(BSTR bsNameSpace, BSTR bsItem, BSTR bsValue, BYTE cReportType) override;
    HRESULT STDMETHODCALLTYPE GetString(BSTR bsNameSpace, BSTR bsItem, BSTR* pbsValue) override;
    HRESULT STDMETHODCALLTYPE AddDWord(BSTR bsNameSpace, BSTR bsItem, ULONG dwValue, BYTE cReportType) override;
    HRESULT STDMETHODCALLTYPE GetDWord(BSTR bsNameSpace, BSTR bsItem, ULONG* pdwValue) override;
    HRESULT STDMETHODCALLTYPE DeleteConfigItem(BSTR strNameSpace, BSTR strName) override;

    // IProvideClassInfo: the type information of the class.
    HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) override;

    // ISupportErrorInfo: both data interfaces give the cause of a failure as the
    // thread's error object.
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // IExtendKernalSequence
    HRESULT STDMETHODCALLTYPE StartSequence(ICalendarKernel* pKernel) override;
    HRESULT STDMETHODCALLTYPE RunSequence() override;
    HRESULT STDMETHODCALLTYPE EndStartupBatch() override;
    HRESULT STDMETHODCALLTYPE StopSequence() override;

    // The store media, made (not opened) on first need; the account directory is
    // made with it.
    CVxCalStoreMedia* GetStoreMedia();

    // The account data directory of dwUIN; always TRUE.
    BOOL GetUserDataDir(DWORD dwUIN, WString& strPath);

    // The batch timer's handler: ends the start-up batch once.
    void OnTimer();

    // Record and item conversions that need this object's account or kernel.
    // Each returns 1 when every value was copied and 0 otherwise.
    int CalItemToRecord(tagCalendarRecord* pRec, ICalendarItem* pItem);
    int EventRecordToItem(const tagEventRecord* pRec, IEventItem* pItem);

    // For tests and diagnostics.
    CRVxTimer& Timer() { return m_timer; }
    DWORD AccountNumber() const { return m_dwUIN; }

private:
    CVxCalStoreData();
    ~CVxCalStoreData();
    CVxCalStoreData(const CVxCalStoreData&) = delete;
    CVxCalStoreData& operator=(const CVxCalStoreData&) = delete;

    // The non-delegating IUnknown that an outer object holds.
    class CInnerUnknown : public IUnknown {
    public:
        explicit CInnerUnknown(CVxCalStoreData* pOwner) : m_pOwner(pOwner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        CVxCalStoreData* m_pOwner;
    };

    HRESULT InternalQueryInterface(REFIID riid, void** ppvObject);

    // This object's controlling IUnknown; a reference to it keeps the object alive
    // while host code that might release it runs.
    IUnknown* Self() { return static_cast<IVxCalStoreData*>(this); }
    ULONG InternalAddRef();
    ULONG InternalRelease();

    // The data-source type names: the account's database, or a file-based source.
    enum class EDataSource { Database, File, Unknown };
    static EDataSource DataSourceOf(BSTR bsCalType);

    // The enumerations hand records to the caller's visitor as new host items.
    // They raise CComError for failed host calls; the public methods report it.
    HRESULT EnumerateCalendars(IUnknown* pUnkVisitor, bool bCheckAccount);
    enum class EEventQuery { Calendar, Period };
    HRESULT EnumerateEvents(IUnknown* pUnkVisitor, EEventQuery eQuery, DWORD dwCalID, DWORD dwBegin, DWORD dwEnd);

    // Takes the kernel from pDispatch and opens the database; raises CComError.
    void InitializeCore(IDispatch* pDispatch);

    // A fresh account object from the kernel for each question, as the host expects.
    CComRef<ICalendarAccount> Account();
    DWORD AccountUIN();
    DWORD AccountAltUIN();
    // The first account number, or the second when the first is 0.
    DWORD AccountUINOrAltUIN();
    void SettleAccountNumber();

    HRESULT RunStartupEnumeration();

    // A failed result of the store media, with its cause set as the thread's error
    // object for interface riid; other results pass unchanged.
    HRESULT ReportStoreFailure(HRESULT hr, REFIID riid = IID_IVxCalStoreData);
    // Ends the start-up batch; on failure the timer's tick tries again while the
    // batch is still open.
    HRESULT FinishStartupBatch();
    void DropStoreMedia();

    // Makes the account data directory of dwUIN; only its last level is made, and
    // an existing directory is fine.
    void MakeAccountDir(DWORD dwUIN);

    // The configuration media, made for the current account on first use (the
    // account is asked from the host when not yet known); raises CComError.
    CVxCalConfigMedia* GetConfigMedia();

    // Runs a settings call on the configuration media, reporting every failure.
    template <typename TCall>
    HRESULT OnConfigMedia(TCall&& call);
    void ResetConfigMedia();

    CVxCalStoreMedia* m_pStoreMedia;
    CComRef<ICalendarKernel> m_spKernel;
    BOOL m_bReady;
    CVxCalConfigMedia* m_pConfigMedia;
    DWORD m_dwUIN;
    CRVxTimer m_timer;

    ULONG m_cRef;
    CInnerUnknown m_innerUnknown;
    IUnknown* m_pOuterUnknown;  // the controlling IUnknown: the outer object, or our own inner one
};

// Conversions that need nothing but their arguments. Each returns 1 when every
// value was copied and 0 otherwise; no error leaves them.
int CalRecordToItem(const tagCalendarRecord* pRec, ICalendarItem* pItem);
int EventItemToRecord(tagEventRecord* pRec, IEventItem* pItem);
