#include "compat/oleauto.h"

#ifndef _WIN32

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

__extension__ typedef __int128 Int128;

// A source value reduced to what the conversions need.
struct CSourceValue {
    enum class EKind { Empty, Null, Integer, Real, Bool, Text, Unknown, Dispatch, Unsupported } eKind;
    Int128 nInteger = 0;
    double dReal = 0;
    bool bSingle = false;  // the real was a VT_R4: its text has 7 significant digits
    bool bBool = false;
    BSTR bstrText = nullptr;
    IUnknown* pUnknown = nullptr;
    IDispatch* pDispatch = nullptr;
};

// The value behind a variant, looking through one level of VT_BYREF.
CSourceValue Inspect(const VARIANT& v)
{
    CSourceValue src{CSourceValue::EKind::Unsupported};
    const bool bByRef = (v.vt & VT_BYREF) != 0;
    if (bByRef && v.byref == nullptr) {
        return src;
    }
    switch (v.vt & ~VT_BYREF) {
    case VT_EMPTY: src.eKind = bByRef ? CSourceValue::EKind::Unsupported : CSourceValue::EKind::Empty; break;
    case VT_NULL: src.eKind = bByRef ? CSourceValue::EKind::Unsupported : CSourceValue::EKind::Null; break;
    case VT_I1:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.pcVal : v.cVal;
        break;
    case VT_UI1:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.pbVal : v.bVal;
        break;
    case VT_I2:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.piVal : v.iVal;
        break;
    case VT_UI2:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.puiVal : v.uiVal;
        break;
    case VT_I4:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.plVal : v.lVal;
        break;
    case VT_UI4:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.pulVal : v.ulVal;
        break;
    case VT_INT:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.pintVal : v.intVal;
        break;
    case VT_UINT:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.puintVal : v.uintVal;
        break;
    case VT_I8:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.pllVal : v.llVal;
        break;
    case VT_UI8:
        src.eKind = CSourceValue::EKind::Integer;
        src.nInteger = bByRef ? *v.pullVal : v.ullVal;
        break;
    case VT_R4:
        src.eKind = CSourceValue::EKind::Real;
        src.dReal = bByRef ? *v.pfltVal : v.fltVal;
        src.bSingle = true;
        break;
    case VT_R8:
        src.eKind = CSourceValue::EKind::Real;
        src.dReal = bByRef ? *v.pdblVal : v.dblVal;
        break;
    case VT_BOOL:
        src.eKind = CSourceValue::EKind::Bool;
        src.bBool = (bByRef ? *v.pboolVal : v.boolVal) != VARIANT_FALSE;
        break;
    case VT_BSTR:
        src.eKind = CSourceValue::EKind::Text;
        src.bstrText = bByRef ? *v.pbstrVal : v.bstrVal;
        break;
    case VT_UNKNOWN:
        src.eKind = CSourceValue::EKind::Unknown;
        src.pUnknown = bByRef ? *v.ppunkVal : v.punkVal;
        break;
    case VT_DISPATCH:
        src.eKind = CSourceValue::EKind::Dispatch;
        src.pDispatch = bByRef ? *v.ppdispVal : v.pdispVal;
        break;
    default: break;
    }
    return src;
}

std::string NarrowText(BSTR bstr)
{
    std::string str;
    WStrToUtf8(bstr != nullptr ? bstr : WTEXT(""), SysStringLen(bstr), str);
    return str;
}

std::string Trimmed(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(" \t\r\n");
    if (nFirst == std::string::npos) {
        return std::string();
    }
    return str.substr(nFirst, str.find_last_not_of(" \t\r\n") - nFirst + 1);
}

// A number written as text: decimal integers exactly, otherwise as a real.
// False when the text is not a number.
bool ParseNumber(BSTR bstr, bool& bInteger, Int128& nInteger, double& dReal)
{
    const std::string strText = Trimmed(NarrowText(bstr));
    if (strText.empty()) {
        return false;
    }
    size_t nPos = 0;
    bool bNegative = false;
    if (strText[0] == '+' || strText[0] == '-') {
        bNegative = strText[0] == '-';
        nPos = 1;
    }
    const size_t nDigitsStart = nPos;
    Int128 nValue = 0;
    bool bTooLong = false;
    while (nPos < strText.size() && strText[nPos] >= '0' && strText[nPos] <= '9') {
        if (nValue < (Int128(1) << 100)) {
            nValue = nValue * 10 + (strText[nPos] - '0');
        } else {
            bTooLong = true;
        }
        ++nPos;
    }
    if (nPos == strText.size() && nPos > nDigitsStart && !bTooLong) {
        bInteger = true;
        nInteger = bNegative ? -nValue : nValue;
        return true;
    }
    char* pszEnd = nullptr;
    errno = 0;
    const double d = std::strtod(strText.c_str(), &pszEnd);
    // Plain decimal notation only: no hex floats, infinities or NaNs.
    if (pszEnd != strText.c_str() + strText.size() || strText.find_first_of("xXnNiI") != std::string::npos) {
        return false;
    }
    bInteger = false;
    dReal = d;
    return errno != ERANGE || std::isfinite(d);
}

// Round half to even, as automation does.
bool RealToInteger(double d, Int128& nOut)
{
    if (!std::isfinite(d) || std::fabs(d) > 1.8e19) {
        return false;
    }
    const double dRounded = std::nearbyint(d);
    nOut = static_cast<Int128>(dRounded);
    return true;
}

bool IntegerTarget(VARTYPE vt, Int128& nMin, Int128& nMax)
{
    switch (vt) {
    case VT_I1:
        nMin = -128;
        nMax = 127;
        return true;
    case VT_UI1:
        nMin = 0;
        nMax = 255;
        return true;
    case VT_I2:
        nMin = -32768;
        nMax = 32767;
        return true;
    case VT_UI2:
        nMin = 0;
        nMax = 65535;
        return true;
    case VT_I4:
    case VT_INT:
        nMin = INT32_MIN;
        nMax = INT32_MAX;
        return true;
    case VT_UI4:
    case VT_UINT:
        nMin = 0;
        nMax = UINT32_MAX;
        return true;
    case VT_I8:
        nMin = INT64_MIN;
        nMax = INT64_MAX;
        return true;
    case VT_UI8:
        nMin = 0;
        nMax = UINT64_MAX;
        return true;
    default: return false;
    }
}

void StoreInteger(VARIANT& v, VARTYPE vt, Int128 n)
{
    v.vt = vt;
    switch (vt) {
    case VT_I1: v.cVal = static_cast<CHAR>(n); break;
    case VT_UI1: v.bVal = static_cast<BYTE>(n); break;
    case VT_I2: v.iVal = static_cast<SHORT>(n); break;
    case VT_UI2: v.uiVal = static_cast<USHORT>(n); break;
    case VT_I4: v.lVal = static_cast<LONG>(n); break;
    case VT_INT: v.intVal = static_cast<INT>(n); break;
    case VT_UI4: v.ulVal = static_cast<ULONG>(n); break;
    case VT_UINT: v.uintVal = static_cast<UINT>(n); break;
    case VT_I8: v.llVal = static_cast<LONGLONG>(n); break;
    case VT_UI8: v.ullVal = static_cast<ULONGLONG>(n); break;
    default: break;
    }
}

BSTR TextOfInteger(Int128 n)
{
    char szDigits[48];
    char* p = szDigits + sizeof(szDigits);
    *--p = 0;
    const bool bNegative = n < 0;
    // Every source value fits in 64 bits, signed or not.
    uint64_t u = bNegative ? uint64_t(0) - static_cast<uint64_t>(static_cast<int64_t>(n)) : static_cast<uint64_t>(n);
    do {
        *--p = static_cast<char>('0' + static_cast<int>(u % 10));
        u /= 10;
    } while (u != 0);
    if (bNegative) {
        *--p = '-';
    }
    WString str;
    WStrFromUtf8(p, str);
    return SysAllocStringLen(str.data(), static_cast<UINT>(str.size()));
}

BSTR TextOfReal(double d, bool bSingle)
{
    char szText[64];
    std::snprintf(szText, sizeof(szText), bSingle ? "%.7G" : "%.15G", d);
    WString str;
    WStrFromUtf8(szText, str);
    return SysAllocStringLen(str.data(), static_cast<UINT>(str.size()));
}

bool EqualsIgnoringCase(const std::string& strA, const char* pszB)
{
    size_t i = 0;
    for (; i < strA.size() && pszB[i] != 0; ++i) {
        const char a = static_cast<char>(strA[i] >= 'A' && strA[i] <= 'Z' ? strA[i] + 32 : strA[i]);
        const char b = static_cast<char>(pszB[i] >= 'A' && pszB[i] <= 'Z' ? pszB[i] + 32 : pszB[i]);
        if (a != b) {
            return false;
        }
    }
    return i == strA.size() && pszB[i] == 0;
}

HRESULT Convert(const CSourceValue& src, VARTYPE vt, USHORT wFlags, VARIANT& out)
{
    using EKind = CSourceValue::EKind;
    if (src.eKind == EKind::Unsupported || (src.eKind == EKind::Null && vt != VT_NULL)) {
        return DISP_E_TYPEMISMATCH;
    }
    Int128 nMin = 0;
    Int128 nMax = 0;
    if (IntegerTarget(vt, nMin, nMax)) {
        Int128 n = 0;
        bool bInteger = true;
        double dReal = 0;
        switch (src.eKind) {
        case EKind::Empty: n = 0; break;
        case EKind::Integer: n = src.nInteger; break;
        case EKind::Bool:
            // True is all bits set in every width.
            n = src.bBool ? (nMin < 0 ? Int128(-1) : nMax) : 0;
            break;
        case EKind::Real:
            bInteger = false;
            dReal = src.dReal;
            break;
        case EKind::Text:
            if (!ParseNumber(src.bstrText, bInteger, n, dReal)) {
                return DISP_E_TYPEMISMATCH;
            }
            break;
        default: return DISP_E_TYPEMISMATCH;
        }
        if (!bInteger && !RealToInteger(dReal, n)) {
            return DISP_E_OVERFLOW;
        }
        if (n < nMin || n > nMax) {
            return DISP_E_OVERFLOW;
        }
        StoreInteger(out, vt, n);
        return S_OK;
    }
    switch (vt) {
    case VT_EMPTY: out.vt = VT_EMPTY; return S_OK;
    case VT_NULL: out.vt = VT_NULL; return S_OK;
    case VT_R4:
    case VT_R8: {
        double d = 0;
        switch (src.eKind) {
        case EKind::Empty: d = 0; break;
        case EKind::Integer: d = static_cast<double>(src.nInteger); break;
        case EKind::Real: d = src.dReal; break;
        case EKind::Bool: d = src.bBool ? -1.0 : 0.0; break;
        case EKind::Text: {
            bool bInteger = false;
            Int128 n = 0;
            if (!ParseNumber(src.bstrText, bInteger, n, d)) {
                return DISP_E_TYPEMISMATCH;
            }
            if (bInteger) {
                d = static_cast<double>(n);
            }
            break;
        }
        default: return DISP_E_TYPEMISMATCH;
        }
        if (vt == VT_R4) {
            if (std::isfinite(d) && std::fabs(d) > FLT_MAX) {
                return DISP_E_OVERFLOW;
            }
            out.vt = VT_R4;
            out.fltVal = static_cast<FLOAT>(d);
        } else {
            out.vt = VT_R8;
            out.dblVal = d;
        }
        return S_OK;
    }
    case VT_BOOL: {
        bool b = false;
        switch (src.eKind) {
        case EKind::Empty: b = false; break;
        case EKind::Integer: b = src.nInteger != 0; break;
        case EKind::Real: b = src.dReal != 0; break;
        case EKind::Bool: b = src.bBool; break;
        case EKind::Text: {
            const std::string strText = Trimmed(NarrowText(src.bstrText));
            bool bInteger = false;
            Int128 n = 0;
            double d = 0;
            if (EqualsIgnoringCase(strText, "true")) {
                b = true;
            } else if (EqualsIgnoringCase(strText, "false")) {
                b = false;
            } else if (ParseNumber(src.bstrText, bInteger, n, d)) {
                b = bInteger ? n != 0 : d != 0;
            } else {
                return DISP_E_TYPEMISMATCH;
            }
            break;
        }
        default: return DISP_E_TYPEMISMATCH;
        }
        out.vt = VT_BOOL;
        out.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    }
    case VT_BSTR: {
        BSTR bstr = nullptr;
        switch (src.eKind) {
        case EKind::Empty: bstr = SysAllocString(WTEXT("")); break;
        case EKind::Integer: bstr = TextOfInteger(src.nInteger); break;
        case EKind::Real: bstr = TextOfReal(src.dReal, src.bSingle); break;
        case EKind::Bool:
            bstr = SysAllocString((wFlags & VARIANT_ALPHABOOL) != 0 ? (src.bBool ? WTEXT("True") : WTEXT("False"))
                                                                    : (src.bBool ? WTEXT("-1") : WTEXT("0")));
            break;
        case EKind::Text: bstr = SysAllocStringLen(src.bstrText, SysStringLen(src.bstrText)); break;
        default: return DISP_E_TYPEMISMATCH;
        }
        if (bstr == nullptr) {
            return E_OUTOFMEMORY;
        }
        out.vt = VT_BSTR;
        out.bstrVal = bstr;
        return S_OK;
    }
    case VT_UNKNOWN: {
        if (src.eKind != EKind::Unknown && src.eKind != EKind::Dispatch) {
            return DISP_E_TYPEMISMATCH;
        }
        IUnknown* p = src.eKind == EKind::Unknown ? src.pUnknown : static_cast<IUnknown*>(src.pDispatch);
        if (p != nullptr) {
            p->AddRef();
        }
        out.vt = VT_UNKNOWN;
        out.punkVal = p;
        return S_OK;
    }
    case VT_DISPATCH: {
        IDispatch* p = nullptr;
        if (src.eKind == EKind::Dispatch) {
            p = src.pDispatch;
            if (p != nullptr) {
                p->AddRef();
            }
        } else if (src.eKind == EKind::Unknown) {
            if (src.pUnknown != nullptr) {
                const HRESULT hr = src.pUnknown->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&p));
                if (FAILED(hr)) {
                    return DISP_E_TYPEMISMATCH;
                }
            }
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        out.vt = VT_DISPATCH;
        out.pdispVal = p;
        return S_OK;
    }
    default: return DISP_E_BADVARTYPE;
    }
}

}  // namespace

extern "C" {

void WINAPI VariantInit(VARIANTARG* pvarg)
{
    if (pvarg != nullptr) {
        pvarg->vt = VT_EMPTY;
        pvarg->wReserved1 = pvarg->wReserved2 = pvarg->wReserved3 = 0;
        pvarg->llVal = 0;
    }
}

HRESULT WINAPI VariantClear(VARIANTARG* pvarg)
{
    if (pvarg == nullptr) {
        return E_INVALIDARG;
    }
    if ((pvarg->vt & VT_BYREF) == 0) {
        switch (pvarg->vt) {
        case VT_BSTR: SysFreeString(pvarg->bstrVal); break;
        case VT_UNKNOWN:
            if (pvarg->punkVal != nullptr) {
                pvarg->punkVal->Release();
            }
            break;
        case VT_DISPATCH:
            if (pvarg->pdispVal != nullptr) {
                pvarg->pdispVal->Release();
            }
            break;
        default: break;
        }
    }
    VariantInit(pvarg);
    return S_OK;
}

HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc)
{
    if (pvargDest == nullptr || pvargSrc == nullptr) {
        return E_INVALIDARG;
    }
    if (pvargDest == pvargSrc) {
        return S_OK;
    }
    VARIANT copy = *pvargSrc;
    if ((copy.vt & VT_BYREF) == 0) {
        if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
            copy.bstrVal = SysAllocStringLen(copy.bstrVal, SysStringLen(copy.bstrVal));
            if (copy.bstrVal == nullptr) {
                return E_OUTOFMEMORY;
            }
        } else if (copy.vt == VT_UNKNOWN && copy.punkVal != nullptr) {
            copy.punkVal->AddRef();
        } else if (copy.vt == VT_DISPATCH && copy.pdispVal != nullptr) {
            copy.pdispVal->AddRef();
        }
    }
    VariantClear(pvargDest);
    *pvargDest = copy;
    return S_OK;
}

HRESULT WINAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags, VARTYPE vt)
{
    if (pvargDest == nullptr || pvarSrc == nullptr) {
        return E_INVALIDARG;
    }
    if ((vt & VT_BYREF) != 0 || (vt & VT_ARRAY) != 0) {
        return DISP_E_BADVARTYPE;
    }
    // Converted into a new variant first: the source may be the destination.
    VARIANT converted;
    VariantInit(&converted);
    const HRESULT hr =
        pvarSrc->vt == vt ? VariantCopy(&converted, pvarSrc) : Convert(Inspect(*pvarSrc), vt, wFlags, converted);
    if (FAILED(hr)) {
        return hr;
    }
    VariantClear(pvargDest);
    *pvargDest = converted;
    return S_OK;
}

}  // extern "C"

#endif  // _WIN32
