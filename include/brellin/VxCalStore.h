// The store component's own interfaces and identity: what a host compiles against
// to drive CVxCalStoreData. Both interfaces are dual: their methods follow
// IDispatch in the vtable, in DISPID order (the first method is DISPID 1).
#pragma once

#include "compat/win32.h"
#include "host/CalendarKernel.h"

// 32-bit, as in the type library: any value a late-bound caller passes fits.
enum ENUM_STORE_QRURY_CALENDAR_TYPE : int {
    EN_QRY_BY_CAL_CREATOR = 0,
    EN_QRY_BY_CAL_SUBJECT = 1,
};

enum ENUM_STORE_QRURY_EVENT_TYPE : int {
    EN_QRY_BY_EVT_TIME = 0,
    EN_QRY_BY_EVT_SUBJECT = 1,
    EN_QRY_BY_EVT_SPONSOR = 2,
};

inline constexpr GUID LIBID_Brellin = {0xFB112E41, 0x1FD9, 0x4F87, {0xB3, 0x20, 0xDC, 0x9C, 0xF9, 0x28, 0x21, 0x94}};
inline constexpr CLSID CLSID_VxCalStoreData = {
    0x32BFB315, 0xE3F6, 0x4440, {0xBA, 0xF1, 0x43, 0x89, 0x48, 0x7C, 0xB5, 0xE8}};
inline constexpr IID IID_IVxCalStoreData = {
    0xA4DAFD63, 0x4696, 0x4E2E, {0xA7, 0x8E, 0xD9, 0xBB, 0xDC, 0x69, 0xBD, 0x40}};
inline constexpr IID IID_IVxCalStoreConfig = {
    0x80BF8A3C, 0x562B, 0x4904, {0x9E, 0xE7, 0x75, 0xA7, 0x07, 0xF7, 0xD4, 0xA6}};

// Calendars and events: writes from host items, deletes, enumerations to host
// visitors, the period query and the external-identifier lookup.
struct IVxCalStoreData : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Initialize(BSTR bsPath, IDispatch* pDispatch) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDataSource(BSTR bsCalType, BSTR bsFileName) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllCalendar(IUnknown* pUnkCal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllCalEvent(ULONG dwCalID, IUnknown* pUnkEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddCalendar(IUnknown* pCalItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE DelCalendar(ULONG dwCalID) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateCalendar(IUnknown* pCalItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddCalEvent(IUnknown* pCalEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE UpdateCalEvent(IUnknown* pCalEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE DelCalEvent(ULONG dwCalID, ULONG dwEventID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllEvent(IUnknown* pUnkEvtVisit) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryCalendar(ENUM_STORE_QRURY_CALENDAR_TYPE enType, IUnknown* pVxData,
                                                    IUnknown* pUnkCalVisit) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryEvent(ULONG dwCalID, ENUM_STORE_QRURY_EVENT_TYPE enType, IUnknown* pVxData,
                                                 IUnknown* pUnkEvtVisit) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllCalendarEx(BSTR bsCalType, BSTR bsFileName, IUnknown* pUnkCal) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllCalEventEx(BSTR bsCalType, BSTR bsFileName, ULONG dwCalID,
                                                       IUnknown* pUnkEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPeriodEvent(ULONG dwBegindTime, ULONG dwEndTime, IUnknown* pUnkVisit) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOneCalendar(ULONG dwCalID, IUnknown* pUnkCalItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOneCalEvent(ULONG dwCalID, ULONG dwEvtID, IUnknown* pUnkEvtItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBatchMode(LONG bBatchMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE DelAllEventofCalendar(ULONG dwCalID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPeriodEventEx(ULONG dwBegindTime, ULONG dwEndTime, ULONG dwCalID,
                                                       IUnknown* pUnkVisit) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsOutlookIDExist(BSTR bstrID, VARIANT_BOOL* bExist) = 0;
};

// Named string and number settings of the current account, grouped in namespaces.
struct IVxCalStoreConfig : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE InitializeConfig(ULONG dwUIN) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddString(BSTR bsNameSpace, BSTR bsItem, BSTR bsValue, BYTE cReportType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetString(BSTR bsNameSpace, BSTR bsItem, BSTR* pbsValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddDWord(BSTR bsNameSpace, BSTR bsItem, ULONG dwValue, BYTE cReportType) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDWord(BSTR bsNameSpace, BSTR bsItem, ULONG* pdwValue) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteConfigItem(BSTR strNameSpace, BSTR strName) = 0;
};
