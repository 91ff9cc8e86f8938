// Late-bound calls on the store object's two dual interfaces: names to DISPIDs,
// and Invoke with its argument checks and coercions. The method tables below
// describe each interface in DISPID order; the calls go through the interface's
// own vtable.
#include <cstring>

#include "store/TypeInfo.h"
#include "store/VxCalStoreData.h"

namespace {

struct CDispMethod {
    const WCHAR* pszName;
    UINT cParams;
    VARTYPE avtParams[4];
    VARTYPE vtResult;  // VT_EMPTY, or the type of an out-value returned through the result
};

// The largest number of arguments any method of either interface takes.
const UINT s_cMaxArgs = 4;

const CDispMethod s_aDataMethods[] = {
    {WTEXT("Initialize"), 2, {VT_BSTR, VT_DISPATCH}, VT_EMPTY},
    {WTEXT("SetDataSource"), 2, {VT_BSTR, VT_BSTR}, VT_EMPTY},
    {WTEXT("GetAllCalendar"), 1, {VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("GetAllCalEvent"), 2, {VT_UI4, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("AddCalendar"), 1, {VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("DelCalendar"), 1, {VT_UI4}, VT_EMPTY},
    {WTEXT("UpdateCalendar"), 1, {VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("AddCalEvent"), 1, {VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("UpdateCalEvent"), 1, {VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("DelCalEvent"), 2, {VT_UI4, VT_UI4}, VT_EMPTY},
    {WTEXT("GetAllEvent"), 1, {VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("QueryCalendar"), 3, {VT_I4, VT_UNKNOWN, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("QueryEvent"), 4, {VT_UI4, VT_I4, VT_UNKNOWN, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("GetAllCalendarEx"), 3, {VT_BSTR, VT_BSTR, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("GetAllCalEventEx"), 4, {VT_BSTR, VT_BSTR, VT_UI4, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("GetPeriodEvent"), 3, {VT_UI4, VT_UI4, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("GetOneCalendar"), 2, {VT_UI4, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("GetOneCalEvent"), 3, {VT_UI4, VT_UI4, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("SetBatchMode"), 1, {VT_I4}, VT_EMPTY},
    {WTEXT("DelAllEventofCalendar"), 1, {VT_UI4}, VT_EMPTY},
    {WTEXT("GetPeriodEventEx"), 4, {VT_UI4, VT_UI4, VT_UI4, VT_UNKNOWN}, VT_EMPTY},
    {WTEXT("IsOutlookIDExist"), 2, {VT_BSTR, VT_BOOL | VT_BYREF}, VT_EMPTY},
};

const CDispMethod s_aConfigMethods[] = {
    {WTEXT("InitializeConfig"), 1, {VT_UI4}, VT_EMPTY},
    {WTEXT("AddString"), 4, {VT_BSTR, VT_BSTR, VT_BSTR, VT_UI1}, VT_EMPTY},
    {WTEXT("GetString"), 2, {VT_BSTR, VT_BSTR}, VT_BSTR},
    {WTEXT("AddDWord"), 4, {VT_BSTR, VT_BSTR, VT_UI4, VT_UI1}, VT_EMPTY},
    {WTEXT("GetDWord"), 2, {VT_BSTR, VT_BSTR}, VT_UI4},
    {WTEXT("DeleteConfigItem"), 2, {VT_BSTR, VT_BSTR}, VT_EMPTY},
};

template <typename TInterface>
struct CDispTable;

template <>
struct CDispTable<IVxCalStoreData> {
    static const CDispMethod* Methods() { return s_aDataMethods; }
    static DISPID Count() { return DISPID(sizeof(s_aDataMethods) / sizeof(s_aDataMethods[0])); }
    static const IID& Iid() { return IID_IVxCalStoreData; }

    // a holds the converted arguments in parameter order.
    static HRESULT Call(IVxCalStoreData* p, DISPID id, VARIANT* a, VARIANT* /*pResult*/)
    {
        switch (id) {
        case 1: return p->Initialize(a[0].bstrVal, a[1].pdispVal);
        case 2: return p->SetDataSource(a[0].bstrVal, a[1].bstrVal);
        case 3: return p->GetAllCalendar(a[0].punkVal);
        case 4: return p->GetAllCalEvent(a[0].ulVal, a[1].punkVal);
        case 5: return p->AddCalendar(a[0].punkVal);
        case 6: return p->DelCalendar(a[0].ulVal);
        case 7: return p->UpdateCalendar(a[0].punkVal);
        case 8: return p->AddCalEvent(a[0].punkVal);
        case 9: return p->UpdateCalEvent(a[0].punkVal);
        case 10: return p->DelCalEvent(a[0].ulVal, a[1].ulVal);
        case 11: return p->GetAllEvent(a[0].punkVal);
        case 12: return p->QueryCalendar(ENUM_STORE_QRURY_CALENDAR_TYPE(a[0].lVal), a[1].punkVal, a[2].punkVal);
        case 13: return p->QueryEvent(a[0].ulVal, ENUM_STORE_QRURY_EVENT_TYPE(a[1].lVal), a[2].punkVal, a[3].punkVal);
        case 14: return p->GetAllCalendarEx(a[0].bstrVal, a[1].bstrVal, a[2].punkVal);
        case 15: return p->GetAllCalEventEx(a[0].bstrVal, a[1].bstrVal, a[2].ulVal, a[3].punkVal);
        case 16: return p->GetPeriodEvent(a[0].ulVal, a[1].ulVal, a[2].punkVal);
        case 17: return p->GetOneCalendar(a[0].ulVal, a[1].punkVal);
        case 18: return p->GetOneCalEvent(a[0].ulVal, a[1].ulVal, a[2].punkVal);
        case 19: return p->SetBatchMode(a[0].lVal);
        case 20: return p->DelAllEventofCalendar(a[0].ulVal);
        case 21: return p->GetPeriodEventEx(a[0].ulVal, a[1].ulVal, a[2].ulVal, a[3].punkVal);
        case 22: return p->IsOutlookIDExist(a[0].bstrVal, a[1].pboolVal);
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

template <>
struct CDispTable<IVxCalStoreConfig> {
    static const CDispMethod* Methods() { return s_aConfigMethods; }
    static DISPID Count() { return DISPID(sizeof(s_aConfigMethods) / sizeof(s_aConfigMethods[0])); }
    static const IID& Iid() { return IID_IVxCalStoreConfig; }

    static HRESULT Call(IVxCalStoreConfig* p, DISPID id, VARIANT* a, VARIANT* pResult)
    {
        switch (id) {
        case 1: return p->InitializeConfig(a[0].ulVal);
        case 2: return p->AddString(a[0].bstrVal, a[1].bstrVal, a[2].bstrVal, a[3].bVal);
        case 3: pResult->vt = VT_BSTR; return p->GetString(a[0].bstrVal, a[1].bstrVal, &pResult->bstrVal);
        case 4: return p->AddDWord(a[0].bstrVal, a[1].bstrVal, a[2].ulVal, a[3].bVal);
        case 5: pResult->vt = VT_UI4; return p->GetDWord(a[0].bstrVal, a[1].bstrVal, &pResult->ulVal);
        case 6: return p->DeleteConfigItem(a[0].bstrVal, a[1].bstrVal);
        default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

// Method names compare without regard to (ASCII) letter case.
bool SameName(const WCHAR* pszA, const WCHAR* pszB)
{
    auto fold = [](WCHAR ch) {
        return ch >= WTEXT('A') && ch <= WTEXT('Z') ? WCHAR(ch - WTEXT('A') + WTEXT('a')) : ch;
    };
    for (; *pszA != 0 && *pszB != 0; ++pszA, ++pszB) {
        if (fold(*pszA) != fold(*pszB)) {
            return false;
        }
    }
    return *pszA == *pszB;
}

// The converted arguments of one call, and the values that by-reference
// parameters given by value point at, released when the call is over.
class CArguments {
public:
    CArguments()
    {
        for (VARIANT& v : m_aArgs) {
            VariantInit(&v);
        }
        for (VARIANT& v : m_aValues) {
            VariantInit(&v);
        }
    }
    ~CArguments()
    {
        for (VARIANT& v : m_aArgs) {
            VariantClear(&v);
        }
        for (VARIANT& v : m_aValues) {
            VariantClear(&v);
        }
    }
    CArguments(const CArguments&) = delete;
    CArguments& operator=(const CArguments&) = delete;

    VARIANT* Get() { return m_aArgs; }
    VARIANT* Values() { return m_aValues; }

private:
    VARIANT m_aArgs[s_cMaxArgs];
    VARIANT m_aValues[s_cMaxArgs];
};

// One argument as its parameter's type. A by-reference parameter takes the
// caller's reference when it has exactly that type; a value is converted into
// value and passed by reference, as the system's type-library dispatch does (what
// the method writes there is not handed back). Anything else is converted.
HRESULT CoerceArgument(VARIANT& given, VARTYPE vtParam, VARIANT& converted, VARIANT& value)
{
    if ((vtParam & VT_BYREF) != 0) {
        if (given.vt == vtParam && given.byref != nullptr) {
            converted = given;  // a by-reference variant owns nothing, so clearing it frees nothing
            return S_OK;
        }
        const VARTYPE vtBase = static_cast<VARTYPE>(vtParam & ~VT_BYREF);
        if ((given.vt & VT_BYREF) != 0 || FAILED(VariantChangeType(&value, &given, 0, vtBase))) {
            return DISP_E_TYPEMISMATCH;
        }
        converted.vt = vtParam;
        converted.byref = &value.lVal;  // the start of the value, whatever its type
        return S_OK;
    }
    // A missing interface argument (VT_EMPTY, or a null pointer) stays null.
    if ((vtParam == VT_UNKNOWN || vtParam == VT_DISPATCH) && given.vt == VT_EMPTY) {
        converted.vt = vtParam;
        converted.punkVal = nullptr;
        return S_OK;
    }
    return SUCCEEDED(VariantChangeType(&converted, &given, 0, vtParam)) ? S_OK : DISP_E_TYPEMISMATCH;
}

}  // namespace

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    CComRef<ITypeInfo> spInfo;
    *pctinfo = SUCCEEDED(LoadStoreTypeInfo(CDispTable<TInterface>::Iid(), spInfo.Receive())) ? 1 : 0;
    return S_OK;
}

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::GetTypeInfo(UINT iTInfo, LCID /*lcid*/, ITypeInfo** ppTInfo)
{
    if (ppTInfo == nullptr) {
        return E_POINTER;
    }
    *ppTInfo = nullptr;
    if (iTInfo != 0) {
        return DISP_E_BADINDEX;
    }
    return LoadStoreTypeInfo(CDispTable<TInterface>::Iid(), ppTInfo);
}

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::GetIDsOfNames(REFIID /*riid*/, LPOLESTR* rgszNames, UINT cNames, LCID /*lcid*/,
                                                    DISPID* rgDispId)
{
    if (cNames > 0 && (rgszNames == nullptr || rgDispId == nullptr)) {
        return E_POINTER;
    }
    const CDispMethod* pMethods = CDispTable<TInterface>::Methods();
    for (UINT i = 0; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        for (DISPID id = 1; id <= CDispTable<TInterface>::Count(); ++id) {
            if (rgszNames[i] != nullptr && SameName(rgszNames[i], pMethods[id - 1].pszName)) {
                rgDispId[i] = id;
                break;
            }
        }
        if (rgDispId[i] == DISPID_UNKNOWN) {
            return DISP_E_UNKNOWNNAME;
        }
    }
    return S_OK;
}

template <typename TInterface>
HRESULT CVxDualInterface<TInterface>::Invoke(DISPID dispIdMember, REFIID /*riid*/, LCID /*lcid*/, WORD /*wFlags*/,
                                             DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* /*pExcepInfo*/,
                                             UINT* puArgErr)
{
    if (pDispParams == nullptr) {
        return DISP_E_BADVARTYPE;
    }
    if (pDispParams->cArgs > s_cMaxArgs) {
        return DISP_E_BADPARAMCOUNT;
    }
    if (pDispParams->cNamedArgs > 0 && (pDispParams->cNamedArgs != 1 || pDispParams->rgdispidNamedArgs == nullptr ||
                                        pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)) {
        return DISP_E_NONAMEDARGS;
    }
    if (pVarResult != nullptr) {
        VariantInit(pVarResult);
    }
    if (dispIdMember < 1 || dispIdMember > CDispTable<TInterface>::Count()) {
        return DISP_E_MEMBERNOTFOUND;
    }
    const CDispMethod& method = CDispTable<TInterface>::Methods()[dispIdMember - 1];
    if (pDispParams->cArgs != method.cParams || (method.cParams > 0 && pDispParams->rgvarg == nullptr)) {
        return DISP_E_BADPARAMCOUNT;
    }
    // The argument array holds the last parameter first.
    CArguments args;
    for (UINT nArg = 0; nArg < pDispParams->cArgs; ++nArg) {
        const UINT nParam = method.cParams - 1 - nArg;
        VARIANT& converted = args.Get()[nParam];
        if (FAILED(CoerceArgument(pDispParams->rgvarg[nArg], method.avtParams[nParam], converted,
                                  args.Values()[nParam]))) {
            VariantInit(&converted);
            if (puArgErr != nullptr) {
                *puArgErr = nArg;
            }
            return DISP_E_TYPEMISMATCH;
        }
    }
    // Zeroed whole: VariantInit sets only the type, and a method that fails may
    // leave its out-value unwritten before the result is cleared.
    VARIANT result;
    std::memset(&result, 0, sizeof(result));
    VariantInit(&result);
    const HRESULT hr = CDispTable<TInterface>::Call(static_cast<TInterface*>(this), dispIdMember, args.Get(), &result);
    if (SUCCEEDED(hr) && pVarResult != nullptr && method.vtResult != VT_EMPTY) {
        *pVarResult = result;
    } else {
        VariantClear(&result);
    }
    return hr;
}

template class CVxDualInterface<IVxCalStoreData>;
template class CVxDualInterface<IVxCalStoreConfig>;
